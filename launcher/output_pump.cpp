// Only the pump's thread touches the file: it opens, writes, rotates and
// finishes it. The stop and System.exit's hook ask it to finish and wait for
// that within their deadline, never for a lock: a file open may block for
// as long as another program likes (an oplock, a share whose server hangs),
// and the stop's bound must hold whatever the file does. The pump reads only
// what the pipe holds (PeekNamedPipe first); an idle pipe is polled with
// growing pauses of at most a few milliseconds, and the pipe's buffer takes
// what comes meanwhile. Writing never waits for the disk to have room: what
// can't be written is counted and dropped, so the application never blocks
// on it.
#include "launcher/output_pump.h"

#include <string.h>

#include "launcher/output_open.h"
#include "launcher/output_rotation.h"
#include "launcher/records.h"
#include "log/log.h"

#define PUMP_MAX_PAUSE_MS 4

static void reportNotWritten(OutputPump *pump)
{
    if (pump->notWritten == 0)
        return;
    logWrite(RECORD_OUTPUT_NOT_WRITTEN, (unsigned long long)pump->notWritten, pump->pathAnsi,
             (unsigned long)pump->notWrittenError);
    pump->notWritten = 0;
}

static void dropBytes(OutputPump *pump, size_t length, DWORD error)
{
    pump->notWritten += length;
    pump->notWrittenError = error;
    pump->droppedSinceReopen += length;
}

static void writeOut(OutputPump *pump, const char *data, size_t length)
{
    // A finish that gave up waiting has let the process end go on: whatever
    // the thread still holds when its file work returns is not written.
    if (pump->ended)
        return;
    // A new file that could not be opened is tried again after as many
    // bytes as a file holds.
    if (pump->file == INVALID_HANDLE_VALUE && pump->droppedSinceReopen >= pump->rotation.size) {
        DWORD error;
        pump->droppedSinceReopen = 0;
        pump->file = openOutputFile(pump->path, pump->pathAnsi, &error);
    }
    DWORD written = 0;
    if (pump->file == INVALID_HANDLE_VALUE) {
        dropBytes(pump, length, ERROR_INVALID_HANDLE);
        return;
    }
    BOOL wrote = WriteFile(pump->file, data, (DWORD)length, &written, NULL);
    DWORD error = wrote ? ERROR_SUCCESS : GetLastError();
    if (written > 0 && pump->notWritten > 0)
        reportNotWritten(pump);
    pump->currentSize += written;
    if (written < length)
        dropBytes(pump, length - written, wrote ? ERROR_HANDLE_DISK_FULL : error);
}

static void rotateNow(OutputPump *pump)
{
    // The first rotation of the process also removes what a larger count
    // left; after it there is nothing past the count to look for.
    if (!rotateOutputFiles(pump->path, pump->rotation.keep, pump->rotationFailed, !pump->swept)) {
        pump->rotationFailed = true;
        pump->nextRotation = pump->currentSize + pump->rotation.size;
        return;
    }
    pump->rotationFailed = false;
    pump->swept = true;
    DWORD error;
    HANDLE fresh = openOutputFile(pump->path, pump->pathAnsi, &error);
    if (fresh == INVALID_HANDLE_VALUE && error != ERROR_SUCCESS)
        logWrite(RECORD_OUTPUT_UNOPENED, pump->pathAnsi, (unsigned long)error);
    CloseHandle(pump->file);
    pump->file = fresh;
    pump->droppedSinceReopen = 0;
    pump->currentSize = pump->lineLength = 0;
    pump->nextRotation = pump->rotation.size;
}

static void pumpBytes(OutputPump *pump, const char *data, size_t length)
{
    while (length > 0) {
        size_t take = length;
        if (pump->currentSize >= pump->nextRotation) {
            if (pump->lineLength == 0 || pump->lineLength >= OUTPUT_LONGEST_LINE) {
                rotateNow(pump);
                continue;
            }
            // Up to the line's end, or the longest line's.
            const char *end = (const char *)memchr(data, '\n', length);
            take = end != NULL ? (size_t)(end - data) + 1 : length;
            if (take > OUTPUT_LONGEST_LINE - pump->lineLength)
                take = (size_t)(OUTPUT_LONGEST_LINE - pump->lineLength);
        } else if (pump->nextRotation - pump->currentSize < length) {
            take = (size_t)(pump->nextRotation - pump->currentSize);
        }
        writeOut(pump, data, take);
        size_t last = take;
        while (last > 0 && data[last - 1] != '\n')
            last--;
        pump->lineLength = last > 0 ? take - last : pump->lineLength + take;
        data += take;
        length -= take;
    }
}

// A piece read at the finish: the line the file ends inside up to its end,
// then whole lines; the start of a line under way is held back until its
// end comes. A writer's pieces may all end inside lines (the next line's
// start follows each line's end at once): the file still ends at a line's
// end when the finish's time is up and what is held back is dropped.
static void finishPiece(OutputPump *pump, const char *data, size_t length)
{
    if (pump->lineLength > 0) {
        const char *end = (const char *)memchr(data, '\n', length);
        size_t take = end != NULL ? (size_t)(end - data) + 1 : length;
        pumpBytes(pump, data, take);
        data += take;
        length -= take;
    }
    size_t whole = length;
    while (whole > 0 && data[whole - 1] != '\n')
        whole--;
    if (whole > 0) {
        pumpBytes(pump, pump->heldLine, pump->heldLength);
        pumpBytes(pump, data, whole);
        pump->heldLength = 0;
    }
    length -= whole;
    if (pump->heldLength + length > sizeof pump->heldLine) {
        // Longer than a line is kept whole: it is cut as the pump cuts it.
        pumpBytes(pump, pump->heldLine, pump->heldLength);
        pumpBytes(pump, data + whole, length);
        pump->heldLength = 0;
        return;
    }
    memcpy(pump->heldLine + pump->heldLength, data + whole, length);
    pump->heldLength += length;
}

// What becomes of one piece read from the pipe.
enum PieceUse {
    PIECE_WRITTEN,       // into the file, all of it
    PIECE_FINISHING,     // at the finish: whole lines only (finishPiece)
    PIECE_DROPPED,       // not written: the output is finished
};

// One piece of what the pipe holds: 1 when something was read, 0 when it
// was empty (or nothing of it was to be written), -1 when it is closed.
static int pumpOnce(OutputPump *pump, PieceUse use)
{
    DWORD available = 0, got = 0;
    if (!PeekNamedPipe(pump->pipeRead, NULL, 0, NULL, &available, NULL))
        return -1;
    if (available == 0)
        return 0;
    if (!ReadFile(pump->pipeRead, pump->chunk, available < sizeof pump->chunk ? available : sizeof pump->chunk, &got,
                  NULL))
        return -1;
    if (use == PIECE_WRITTEN)
        pumpBytes(pump, pump->chunk, got);
    else if (use == PIECE_FINISHING)
        finishPiece(pump, pump->chunk, got);
    return got > 0 ? 1 : 0;
}

// The finish, on the pump's thread: what the pipe holds is written, in
// whole lines, until the pipe is empty at a line's end or the deadline. A
// line the pipe has given only the start of is waited for; one that nothing
// more has come to for OUTPUT_LINE_WAIT_MS is the application's own last
// word, written as it is. At the deadline the start of a line still under
// way is dropped, so the file ends at a line's end.
static void finishOutput(OutputPump *pump)
{
    ULONGLONG lastPiece = GetTickCount64();
    pump->heldLength = 0;
    for (;;) {
        ULONGLONG now = GetTickCount64();
        bool late = now >= (ULONGLONG)pump->finishDeadline;
        int pumped = pumpOnce(pump, PIECE_FINISHING);
        if (pumped < 0 || late)
            break;
        if (pumped > 0) {
            lastPiece = now;
            continue;
        }
        if (pump->heldLength == 0 && pump->lineLength == 0)
            break;
        if (now - lastPiece >= OUTPUT_LINE_WAIT_MS) {
            pumpBytes(pump, pump->heldLine, pump->heldLength);
            break;
        }
        Sleep(1);
    }
    pump->heldLength = 0;
    reportNotWritten(pump);
    InterlockedExchange(&pump->ended, 1);
    SetEvent(pump->finished);
}

static DWORD WINAPI pumpThreadMain(LPVOID parameter)
{
    OutputPump *pump = (OutputPump *)parameter;
    DWORD pause = 0;
    while (!pump->stopping) {
        if (pump->finishDeadline != 0 && !pump->ended) {
            finishOutput(pump);
            continue;
        }
        // Once the output is finished not one more piece goes into the file,
        // yet the pipe is still read: a writer must never wait on it, the
        // service's own threads included (under Wine their trace goes there).
        int pumped = pumpOnce(pump, pump->ended ? PIECE_DROPPED : PIECE_WRITTEN);
        if (pumped < 0)
            break;
        pause = pumped > 0 ? 0 : (pause < PUMP_MAX_PAUSE_MS ? pause + 1 : PUMP_MAX_PAUSE_MS);
        if (pause > 0)
            Sleep(pause);
    }
    return 0;
}

HANDLE startOutputPump(OutputPump *pump, const wchar_t *path, const char *pathAnsi, HANDLE *file)
{
    LARGE_INTEGER size = {};
    GetFileSizeEx(*file, &size);
    pump->path = path;
    pump->pathAnsi = pathAnsi;
    pump->file = *file;
    pump->currentSize = (ULONGLONG)size.QuadPart;
    pump->lineLength = 0;
    pump->nextRotation = pump->rotation.size;
    pump->rotationFailed = pump->swept = false;
    pump->notWritten = pump->droppedSinceReopen = 0;
    pump->finishDeadline = 0;
    pump->ended = pump->stopping = 0;
    pump->pipeRead = pump->pipeWrite = INVALID_HANDLE_VALUE;
    pump->thread = pump->finished = NULL;
    // A file over the size from an earlier run is rotated first.
    if (pump->currentSize >= pump->nextRotation)
        rotateNow(pump);
    *file = pump->file;
    if (*file == INVALID_HANDLE_VALUE)
        return INVALID_HANDLE_VALUE;
    pump->finished = CreateEventW(NULL, TRUE, FALSE, NULL);
    if (pump->finished != NULL && CreatePipe(&pump->pipeRead, &pump->pipeWrite, NULL, PUMP_PIPE_BYTES)) {
        pump->thread = CreateThread(NULL, 0, pumpThreadMain, pump, 0, NULL);
        if (pump->thread != NULL)
            return pump->pipeWrite;
    }
    DWORD error = GetLastError();
    if (pump->pipeRead != INVALID_HANDLE_VALUE) {
        CloseHandle(pump->pipeRead);
        CloseHandle(pump->pipeWrite);
    }
    if (pump->finished != NULL)
        CloseHandle(pump->finished);
    pump->pipeRead = pump->pipeWrite = INVALID_HANDLE_VALUE;
    pump->finished = NULL;
    SetLastError(error);
    return INVALID_HANDLE_VALUE;
}

void stopOutputPump(OutputPump *pump)
{
    if (pump->thread == NULL)
        return;
    InterlockedExchange(&pump->stopping, 1);
    WaitForSingleObject(pump->thread, INFINITE);
    CloseHandle(pump->thread);
    CloseHandle(pump->pipeRead);
    CloseHandle(pump->pipeWrite);
    CloseHandle(pump->finished);
    pump->thread = pump->finished = NULL;
    pump->pipeRead = pump->pipeWrite = INVALID_HANDLE_VALUE;
}

void finishOutputPump(OutputPump *pump, DWORD timeoutMs)
{
    if (pump->thread == NULL)
        return;
    // The first caller sets the deadline; a second (the stop after
    // System.exit's hook, say) waits for the same finish.
    InterlockedCompareExchange64(&pump->finishDeadline, (LONGLONG)(GetTickCount64() + timeoutMs), 0);
    if (WaitForSingleObject(pump->finished, timeoutMs + OUTPUT_FINISH_GRACE_MS) != WAIT_OBJECT_0)
        InterlockedExchange(&pump->ended, 1);
}
