// With rotation the virtual machine writes its standard output and error
// into a pipe, and a thread of the service writes what comes out of it into
// the current output file: the one point that sees every byte, so a file is
// cut at a line's end and nothing written before a stop or System.exit is
// left in the pipe.
#ifndef VELMORANE_OUTPUT_PUMP_H
#define VELMORANE_OUTPUT_PUMP_H

#include <windows.h>

#include "launcher/output_rotation.h"

// A line is kept whole in one file up to this length.
#define OUTPUT_LONGEST_LINE (64 * 1024)
// How long the stop and System.exit wait for the pipe to be written out: the
// pipe holds at most a megabyte, and a write that fails drops, never waits.
#define OUTPUT_DRAIN_MS 2000
// After the drain, how long they wait for the last piece, written up to its
// line's end; then they go on whatever the file is doing.
#define OUTPUT_FINISH_GRACE_MS 500
// At the finish, a line that nothing more has come to for this long is the
// application's own last word, not a line still under way.
#define OUTPUT_LINE_WAIT_MS 500

#define PUMP_PIPE_BYTES (1024 * 1024)

// One pump: its file, its pipe and its thread, and what the thread knows of
// the file. Only the thread touches the file once it runs; the finish asks it
// through finishDeadline and waits for `finished`.
struct OutputPump {
    const wchar_t *path;  // the output file's, as long as the pump
    const char *pathAnsi;
    OutputRotation rotation;
    HANDLE file;          // the current file; INVALID_HANDLE_VALUE when it could not be opened
    HANDLE pipeRead;
    HANDLE pipeWrite;
    HANDLE thread;
    HANDLE finished;      // set once the output is finished
    volatile LONG stopping;    // the thread ends
    volatile LONG ended;       // nothing more goes into the file
    // The finish's deadline (GetTickCount64), once the stop or System.exit
    // has begun; 0 before.
    volatile LONGLONG finishDeadline;
    ULONGLONG currentSize;     // bytes in the current file
    ULONGLONG lineLength;      // bytes since the last line end
    ULONGLONG nextRotation;    // the size at which the next rotation is due
    bool rotationFailed;       // its record is written; the next one is quiet
    bool swept;                // a rotation removed what a larger count left
    ULONGLONG notWritten;      // bytes dropped since the last write that worked
    DWORD notWrittenError;
    ULONGLONG droppedSinceReopen;
    // One read takes all the pipe holds: each read costs a call (under Wine
    // a request to its server), whatever its size.
    char chunk[PUMP_PIPE_BYTES];
    // At the finish, the start of a line whose end has not come yet.
    char heldLine[OUTPUT_LONGEST_LINE];
    size_t heldLength;
};

// Takes over the opened output file `*file` at `path` (both names live as
// long as the pump), rotated first when it is over pump->rotation's size
// (*file is then the new one), and starts the thread. The pipe's write end,
// for the standard handles, or INVALID_HANDLE_VALUE (the output then goes
// straight into *file, not rotated).
HANDLE startOutputPump(OutputPump *pump, const wchar_t *path, const char *pathAnsi, HANDLE *file);
// Ends the thread and closes the pipe (the standard handles could not be set).
void stopOutputPump(OutputPump *pump);
// The process is about to end (a stop, System.exit): the pump's thread
// writes out what the pipe holds, within timeoutMs and then up to a line's
// end, with a record of what could not be written. After it nothing more
// goes into the file (the thread reads on and drops it), so the file does not
// end inside a line cut off by the process's end. Returns once that is done,
// or at the latest OUTPUT_FINISH_GRACE_MS after timeoutMs, whatever the
// thread's file work waits for. Nothing to do without the thread.
void finishOutputPump(OutputPump *pump, DWORD timeoutMs);

#endif
