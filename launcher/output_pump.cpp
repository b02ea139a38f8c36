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

#define PIPE_BUFFER_BYTES (1024 * 1024)
// One read takes all the pipe holds: each read costs a call (under Wine a
// request to its server), whatever its size.
#define PUMP_CHUNK_BYTES PIPE_BUFFER_BYTES
#define PUMP_MAX_PAUSE_MS 4

HANDLE outputPumpFile = INVALID_HANDLE_VALUE;
static const wchar_t *pumpPath;
static const char *pumpPathAnsi;
static HANDLE pumpRead = INVALID_HANDLE_VALUE;
static HANDLE pumpWrite = INVALID_HANDLE_VALUE;
static HANDLE pumpThread = NULL;
static volatile LONG pumpStopping;  // the thread ends
static volatile LONG finishAsked;   // the stop or System.exit has begun
static ULONGLONG finishDeadline;    // written before finishAsked is set
static HANDLE pumpFinished;         // set once the output is finished
static volatile LONG outputEnded;   // nothing more goes into the file
static char pumpChunk[PUMP_CHUNK_BYTES];
// At the finish, the start of a line whose end has not come yet.
static char heldLine[OUTPUT_LONGEST_LINE];
static size_t heldLength;

static ULONGLONG currentSize;   // bytes in the current file
static ULONGLONG lineLength;    // bytes since the last line end
static ULONGLONG nextRotation;  // the size at which the next rotation is due
static bool rotationFailed;     // its record is written; the next one is quiet
static ULONGLONG notWritten;    // bytes dropped since the last write that worked
static DWORD notWrittenError;
static ULONGLONG droppedSinceReopen;

static void reportNotWritten(void)
{
    if (notWritten == 0)
        return;
    logWrite(RECORD_OUTPUT_NOT_WRITTEN, (unsigned long long)notWritten, pumpPathAnsi,
             (unsigned long)notWrittenError);
    notWritten = 0;
}

static void dropBytes(size_t length, DWORD error)
{
    notWritten += length;
    notWrittenError = error;
    droppedSinceReopen += length;
}

static void writeOut(const char *data, size_t length)
{
    // A finish that gave up waiting has let the process end go on: whatever
    // the thread still holds when its file work returns is not written.
    if (outputEnded)
        return;
    // A new file that could not be opened is tried again after as many
    // bytes as a file holds.
    if (outputPumpFile == INVALID_HANDLE_VALUE && droppedSinceReopen >= outputRotationSize) {
        DWORD error;
        droppedSinceReopen = 0;
        outputPumpFile = openOutputFile(pumpPath, pumpPathAnsi, &error);
    }
    DWORD written = 0;
    if (outputPumpFile == INVALID_HANDLE_VALUE) {
        dropBytes(length, ERROR_INVALID_HANDLE);
        return;
    }
    BOOL wrote = WriteFile(outputPumpFile, data, (DWORD)length, &written, NULL);
    DWORD error = wrote ? ERROR_SUCCESS : GetLastError();
    if (written > 0 && notWritten > 0)
        reportNotWritten();
    currentSize += written;
    if (written < length)
        dropBytes(length - written, wrote ? ERROR_HANDLE_DISK_FULL : error);
}

static void rotateNow(void)
{
    if (!rotateOutputFiles(pumpPath, outputRotationKeep, rotationFailed)) {
        rotationFailed = true;
        nextRotation = currentSize + outputRotationSize;
        return;
    }
    rotationFailed = false;
    DWORD error;
    HANDLE fresh = openOutputFile(pumpPath, pumpPathAnsi, &error);
    if (fresh == INVALID_HANDLE_VALUE && error != ERROR_SUCCESS)
        logWrite(RECORD_OUTPUT_UNOPENED, pumpPathAnsi, (unsigned long)error);
    CloseHandle(outputPumpFile);
    outputPumpFile = fresh;
    droppedSinceReopen = 0;
    currentSize = lineLength = 0;
    nextRotation = outputRotationSize;
}

static void pumpBytes(const char *data, size_t length)
{
    while (length > 0) {
        size_t take = length;
        if (currentSize >= nextRotation) {
            if (lineLength == 0 || lineLength >= OUTPUT_LONGEST_LINE) {
                rotateNow();
                continue;
            }
            // Up to the line's end, or the longest line's.
            const char *end = (const char *)memchr(data, '\n', length);
            take = end != NULL ? (size_t)(end - data) + 1 : length;
            if (take > OUTPUT_LONGEST_LINE - lineLength)
                take = (size_t)(OUTPUT_LONGEST_LINE - lineLength);
        } else if (nextRotation - currentSize < length) {
            take = (size_t)(nextRotation - currentSize);
        }
        writeOut(data, take);
        size_t last = take;
        while (last > 0 && data[last - 1] != '\n')
            last--;
        lineLength = last > 0 ? take - last : lineLength + take;
        data += take;
        length -= take;
    }
}

// A piece read at the finish: the line the file ends inside up to its end,
// then whole lines; the start of a line under way is held back until its
// end comes. A writer's pieces may all end inside lines (the next line's
// start follows each line's end at once): the file still ends at a line's
// end when the finish's time is up and what is held back is dropped.
static void finishPiece(const char *data, size_t length)
{
    if (lineLength > 0) {
        const char *end = (const char *)memchr(data, '\n', length);
        size_t take = end != NULL ? (size_t)(end - data) + 1 : length;
        pumpBytes(data, take);
        data += take;
        length -= take;
    }
    size_t whole = length;
    while (whole > 0 && data[whole - 1] != '\n')
        whole--;
    if (whole > 0) {
        pumpBytes(heldLine, heldLength);
        pumpBytes(data, whole);
        heldLength = 0;
    }
    length -= whole;
    if (heldLength + length > sizeof heldLine) {
        // Longer than a line is kept whole: it is cut as the pump cuts it.
        pumpBytes(heldLine, heldLength);
        pumpBytes(data + whole, length);
        heldLength = 0;
        return;
    }
    memcpy(heldLine + heldLength, data + whole, length);
    heldLength += length;
}

// What becomes of one piece read from the pipe.
enum PieceUse {
    PIECE_WRITTEN,       // into the file, all of it
    PIECE_FINISHING,     // at the finish: whole lines only (finishPiece)
    PIECE_DROPPED,       // not written: the output is finished
};

// One piece of what the pipe holds: 1 when something was read, 0 when it
// was empty (or nothing of it was to be written), -1 when it is closed.
static int pumpOnce(PieceUse use)
{
    DWORD available = 0, got = 0;
    if (!PeekNamedPipe(pumpRead, NULL, 0, NULL, &available, NULL))
        return -1;
    if (available == 0)
        return 0;
    if (!ReadFile(pumpRead, pumpChunk, available < sizeof pumpChunk ? available : sizeof pumpChunk, &got, NULL))
        return -1;
    if (use == PIECE_WRITTEN)
        pumpBytes(pumpChunk, got);
    else if (use == PIECE_FINISHING)
        finishPiece(pumpChunk, got);
    return got > 0 ? 1 : 0;
}

// The finish, on the pump's thread: what the pipe holds is written, in
// whole lines, until the pipe is empty at a line's end or the deadline. A
// line the pipe has given only the start of is waited for; one that nothing
// more has come to for OUTPUT_LINE_WAIT_MS is the application's own last
// word, written as it is. At the deadline the start of a line still under
// way is dropped, so the file ends at a line's end.
static void finishOutput(void)
{
    ULONGLONG lastPiece = GetTickCount64();
    heldLength = 0;
    for (;;) {
        ULONGLONG now = GetTickCount64();
        bool late = now >= finishDeadline;
        int pumped = pumpOnce(PIECE_FINISHING);
        if (pumped < 0 || late)
            break;
        if (pumped > 0) {
            lastPiece = now;
            continue;
        }
        if (heldLength == 0 && lineLength == 0)
            break;
        if (now - lastPiece >= OUTPUT_LINE_WAIT_MS) {
            pumpBytes(heldLine, heldLength);
            break;
        }
        Sleep(1);
    }
    heldLength = 0;
    reportNotWritten();
    InterlockedExchange(&outputEnded, 1);
    SetEvent(pumpFinished);
}

static DWORD WINAPI pumpThreadMain(LPVOID)
{
    DWORD pause = 0;
    while (!pumpStopping) {
        if (finishAsked == 1 && !outputEnded) {
            finishOutput();
            continue;
        }
        // Once the output is finished not one more piece goes into the file,
        // yet the pipe is still read: a writer must never wait on it, the
        // service's own threads included (under Wine their trace goes there).
        int pumped = pumpOnce(outputEnded ? PIECE_DROPPED : PIECE_WRITTEN);
        if (pumped < 0)
            break;
        pause = pumped > 0 ? 0 : (pause < PUMP_MAX_PAUSE_MS ? pause + 1 : PUMP_MAX_PAUSE_MS);
        if (pause > 0)
            Sleep(pause);
    }
    return 0;
}

HANDLE startOutputPump(const wchar_t *path, const char *pathAnsi, HANDLE *file)
{
    LARGE_INTEGER size = {};
    GetFileSizeEx(*file, &size);
    pumpPath = path;
    pumpPathAnsi = pathAnsi;
    outputPumpFile = *file;
    currentSize = (ULONGLONG)size.QuadPart;
    lineLength = 0;
    nextRotation = outputRotationSize;
    rotationFailed = false;
    notWritten = droppedSinceReopen = 0;
    finishAsked = outputEnded = pumpStopping = 0;
    // A file over the size from an earlier run is rotated first.
    if (currentSize >= nextRotation)
        rotateNow();
    *file = outputPumpFile;
    if (*file == INVALID_HANDLE_VALUE)
        return INVALID_HANDLE_VALUE;
    pumpFinished = CreateEventW(NULL, TRUE, FALSE, NULL);
    if (pumpFinished != NULL && CreatePipe(&pumpRead, &pumpWrite, NULL, PIPE_BUFFER_BYTES)) {
        pumpThread = CreateThread(NULL, 0, pumpThreadMain, NULL, 0, NULL);
        if (pumpThread != NULL)
            return pumpWrite;
    }
    DWORD error = GetLastError();
    if (pumpRead != INVALID_HANDLE_VALUE) {
        CloseHandle(pumpRead);
        CloseHandle(pumpWrite);
    }
    if (pumpFinished != NULL)
        CloseHandle(pumpFinished);
    pumpRead = pumpWrite = INVALID_HANDLE_VALUE;
    pumpFinished = NULL;
    SetLastError(error);
    return INVALID_HANDLE_VALUE;
}

void stopOutputPump(void)
{
    if (pumpThread == NULL)
        return;
    InterlockedExchange(&pumpStopping, 1);
    WaitForSingleObject(pumpThread, INFINITE);
    CloseHandle(pumpThread);
    CloseHandle(pumpRead);
    CloseHandle(pumpWrite);
    CloseHandle(pumpFinished);
    pumpThread = pumpFinished = NULL;
    pumpRead = pumpWrite = INVALID_HANDLE_VALUE;
}

void finishJavaOutput(DWORD timeoutMs)
{
    if (pumpThread == NULL)
        return;
    // The first caller sets the deadline; a second (the stop after
    // System.exit's hook, say) waits for the same finish.
    if (InterlockedCompareExchange(&finishAsked, 2, 0) == 0) {
        finishDeadline = GetTickCount64() + timeoutMs;
        InterlockedExchange(&finishAsked, 1);
    }
    if (WaitForSingleObject(pumpFinished, timeoutMs + OUTPUT_FINISH_GRACE_MS) != WAIT_OBJECT_0)
        InterlockedExchange(&outputEnded, 1);
}
