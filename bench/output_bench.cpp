// The Java output's throughput: numbered lines written through the standard
// output handle one by one (PIECE 0), as HotSpot's println writes them, or
// gathered into pieces of PIECE bytes, as the bridge's relay passes on what
// HotSpot wrote under Wine (jvmbridge/README.md), into the plain file of
// VLJAVAOUTPUT and into the rotated one (VLJAVAOUTPUTSIZE=1M, 5 kept: the
// pump's pipe and thread, the cut at line ends, the renames), timed until the
// files hold them all. Blocks of both kinds alternate, the order turning
// every block; the files are removed before each. Prints "<kind> <block>
// <MB/s>" for every block, or "error ..." and exit code 1.
//
// usage: output_bench.exe BLOCKS MEGABYTES PIECE
#include <windows.h>
#include <stdio.h>
#include <stdlib.h>

#include "launcher/javaoutput.h"
#include "launcher/output_pump.h"
#include "launcher/output_rotation.h"
#include "log/log.h"

#define OUTPUT_PATH L"c:\\windows\\temp\\velmorane-bench-output.txt"
#define KEPT 5

enum { KIND_PLAIN, KIND_ROTATED, KINDS };
static const char *const kindNames[KINDS] = {"plain", "rotated"};

static void dropRecord(const char *, const char *)
{
}

static void removeFiles(void)
{
    wchar_t name[MAX_PATH];
    for (int number = 0; number <= KEPT + 1; number++) {
        swprintf(name, MAX_PATH, number == 0 ? L"%ls" : L"%ls.%d", OUTPUT_PATH, number);
        DeleteFileW(name);
    }
}

#define PIECE_CAP (1024 * 1024)
static char piece[PIECE_CAP];

// One block's output, as a launch has it.
static JavaOutput javaOutput;

static bool runBlock(int kind, int block, long long bytes, int pieceBytes, LARGE_INTEGER frequency)
{
    HANDLE savedOutput = GetStdHandle(STD_OUTPUT_HANDLE), savedError = GetStdHandle(STD_ERROR_HANDLE);
    removeFiles();
    clearJavaOutput(&javaOutput);
    setOutputRotation(kind == KIND_ROTATED ? L"1M" : NULL, L"5", &javaOutput.pump.rotation);
    redirectJavaOutputTo(OUTPUT_PATH, &javaOutput);
    HANDLE output = GetStdHandle(STD_OUTPUT_HANDLE);
    bool ok = javaOutput.javaOutputFile != INVALID_HANDLE_VALUE;
    LARGE_INTEGER t0, t1;
    QueryPerformanceCounter(&t0);
    int held = 0;
    for (long long written = 0, n = 1; ok && written < bytes; n++) {
        int length = snprintf(piece + held, PIECE_CAP - held, "line %lld %s\n", n,
                              "xxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxx");
        written += length;
        held += length;
        DWORD done = 0;
        if (held > pieceBytes - 128 || written >= bytes) {
            ok = WriteFile(output, piece, (DWORD)held, &done, NULL) && done == (DWORD)held;
            held = 0;
        }
    }
    finishJavaOutput(&javaOutput, OUTPUT_DRAIN_MS);
    QueryPerformanceCounter(&t1);
    stopOutputPump(&javaOutput.pump);
    CloseHandle(kind == KIND_ROTATED ? javaOutput.pump.file : javaOutput.javaOutputFile);
    SetStdHandle(STD_OUTPUT_HANDLE, savedOutput);
    SetStdHandle(STD_ERROR_HANDLE, savedError);
    if (!ok) {
        printf("error %s %lu\n", kindNames[kind], GetLastError());
        return false;
    }
    double seconds = (double)(t1.QuadPart - t0.QuadPart) / (double)frequency.QuadPart;
    printf("%s %d %.3f\n", kindNames[kind], block, (double)bytes / (1024.0 * 1024.0) / seconds);
    fflush(stdout);
    return true;
}

int main(int argc, char **argv)
{
    if (argc != 4 || atoi(argv[1]) <= 0 || atoi(argv[2]) <= 0 || atoi(argv[3]) < 0 || atoi(argv[3]) > PIECE_CAP) {
        fprintf(stderr, "usage: output_bench BLOCKS MEGABYTES PIECE\n");
        return 1;
    }
    int blocks = atoi(argv[1]);
    long long bytes = atoll(argv[2]) * 1024 * 1024;
    int pieceBytes = atoi(argv[3]);
    LARGE_INTEGER frequency;
    QueryPerformanceFrequency(&frequency);
    logLockCreate();
    logSink = dropRecord;
    for (int block = 0; block < blocks; block++)
        for (int k = 0; k < KINDS; k++)
            if (!runBlock((block + k) % KINDS, block, bytes, pieceBytes, frequency))
                return 1;
    removeFiles();
    return 0;
}
