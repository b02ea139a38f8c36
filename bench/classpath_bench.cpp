// Times the class path stage on lib\ directories of 100, 1,000 and 5,000 jar
// files whose full paths add up to more than the class path text can hold, and
// checks that the text stops at its capacity and the option stays bounded.
// Prints a table; the figures are for reading, nothing here fails on speed.
//
//   classpath_bench.exe [work directory]      (default: the temp directory)
//
// Exit code 0 when every check held, 1 otherwise.
#include <windows.h>
#include <stdio.h>
#include <string.h>
#include <wchar.h>

#include "launcher/launcher.h"
#include "log/log.h"
#include "log/logfile.h"

#define BENCH_PATH_CAPACITY 1024
#define NAME_LENGTH 220
#define RUNS 3
#define LOG_LINE_CAPACITY 65536
#define OPTION_PREFIX_LENGTH ((int)(sizeof CLASS_PATH_OPTION_PREFIX - 1))

static const int entryCounts[] = {100, 1000, 5000};

// With \\?\ in front: the file paths are longer than MAX_PATH.
static wchar_t benchRoot[BENCH_PATH_CAPACITY];
static wchar_t benchBase[BENCH_PATH_CAPACITY];
static wchar_t benchPath[BENCH_PATH_CAPACITY];
static char benchLogPath[BENCH_PATH_CAPACITY];
static const char droppedLogPath[] = "c:\\velmorane-bench-no-such-directory\\classpath-bench.log";
static char logLine[LOG_LINE_CAPACITY];
static LARGE_INTEGER counterFrequency;
static int failures;

static void check(bool condition, const char *what, int count)
{
    if (!condition) {
        printf("CHECK FAILED (%d entries): %s\n", count, what);
        failures++;
    }
}

// dest = a followed by b and c, or false when that does not fit.
static bool joinThree(wchar_t *dest, size_t capacity, const wchar_t *a, const wchar_t *b, const wchar_t *c)
{
    int written = _snwprintf(dest, capacity, L"%ls%ls%ls", a, b, c);
    return written >= 0 && (size_t)written < capacity;
}

// A jar name of exactly NAME_LENGTH characters, different for every index.
static void jarName(wchar_t *name, size_t capacity, int index)
{
    int used = _snwprintf(name, capacity, L"j%05d-", index);
    while (used < NAME_LENGTH - 4 && (size_t)used < capacity - 5)
        name[used++] = L'a' + (wchar_t)(index % 26);
    wcscpy(name + used, L".jar");
}

static bool makeDirectory(const wchar_t *path)
{
    return CreateDirectoryW(path, NULL) || GetLastError() == ERROR_ALREADY_EXISTS;
}

// <root>\velmorane-bench-<count>\<padding>\Velmorane\lib\ with `count` empty jar files.
// The padding makes the base path long enough that even 100 entries overflow.
static bool layOut(int count)
{
    wchar_t directory[BENCH_PATH_CAPACITY];
    wchar_t padding[80];
    for (int i = 0; i < 79; i++)
        padding[i] = L'p';
    padding[79] = L'\0';

    if (_snwprintf(directory, BENCH_PATH_CAPACITY, L"%lsvelmorane-bench-%d\\", benchRoot, count) < 0)
        return false;
    if (!makeDirectory(directory))
        return false;
    if (!joinThree(benchBase, BENCH_PATH_CAPACITY, directory, padding, L"\\") || !makeDirectory(benchBase))
        return false;
    if (!joinThree(benchBase, BENCH_PATH_CAPACITY, directory, padding, L"\\Velmorane\\") || !makeDirectory(benchBase))
        return false;
    if (!joinThree(benchPath, BENCH_PATH_CAPACITY, benchBase, L"lib", L"") || !makeDirectory(benchPath))
        return false;
    for (int i = 0; i < count; i++) {
        wchar_t name[NAME_LENGTH + 1];
        jarName(name, NAME_LENGTH + 1, i);
        if (!joinThree(benchPath, BENCH_PATH_CAPACITY, benchBase, L"lib\\", name))
            return false;
        HANDLE file = CreateFileW(benchPath, GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, NULL);
        if (file == INVALID_HANDLE_VALUE)
            return false;
        CloseHandle(file);
    }
    return true;
}

static void removeTree(int count)
{
    wchar_t name[NAME_LENGTH + 1];
    for (int i = 0; i < count; i++) {
        jarName(name, NAME_LENGTH + 1, i);
        if (joinThree(benchPath, BENCH_PATH_CAPACITY, benchBase, L"lib\\", name))
            DeleteFileW(benchPath);
    }
    // Up the directories: lib, Velmorane, the padding, the bench directory.
    if (joinThree(benchPath, BENCH_PATH_CAPACITY, benchBase, L"lib", L""))
        RemoveDirectoryW(benchPath);
    for (int level = 0; level < 3; level++) {
        size_t length = wcslen(benchBase);
        if (length > 0)
            benchBase[--length] = L'\0';
        wchar_t *slash = wcsrchr(benchBase, L'\\');
        if (slash == NULL)
            return;
        RemoveDirectoryW(benchBase);
        slash[1] = L'\0';
    }
}

// The class path part of the last "-Djava.class.path=" record in the log, its
// length in bytes, or -1 when there is none.
static int loggedClassPathLength(void)
{
    FILE *file = NULL;
    if (fopen_s(&file, benchLogPath, "rb") != 0 || file == NULL)
        return -1;
    int found = -1;
    while (fgets(logLine, sizeof logLine, file) != NULL) {
        size_t length = strlen(logLine);
        while (length > 0 && (logLine[length - 1] == '\n' || logLine[length - 1] == '\r'))
            logLine[--length] = '\0';
        // 18 characters of time stamp, then the record text.
        if (length >= 18 && strncmp(logLine + 18, CLASS_PATH_OPTION_PREFIX, OPTION_PREFIX_LENGTH) == 0)
            found = (int)(length - 18 - OPTION_PREFIX_LENGTH);
    }
    fclose(file);
    return found;
}

static double elapsedMs(LARGE_INTEGER start, LARGE_INTEGER end)
{
    return (double)(end.QuadPart - start.QuadPart) * 1000.0 / (double)counterFrequency.QuadPart;
}

// The stage's launch: its buffers, and the base path it reads.
static LaunchContext *stage;

static double timeStage(void)
{
    // No entries kept: as the service runs the stage.
    static const LaunchInputs inputs = {NULL, NULL, NULL, NULL, LAUNCH_TO_MAIN, false, NULL, NULL};
    static ClassPathResult result;
    LARGE_INTEGER start, end;
    QueryPerformanceCounter(&start);
    buildClassPath(&inputs, stage->paths.basePath, &stage->classPath, &result);
    QueryPerformanceCounter(&end);
    return elapsedMs(start, end);
}

static void runOne(int count)
{
    if (!layOut(count)) {
        printf("could not lay out %d entries (error %lu)\n", count, GetLastError());
        failures++;
        removeTree(count);
        return;
    }
    // The launcher works on plain drive paths; the \\?\ prefix was for making the files.
    const wchar_t *base = wcsncmp(benchBase, L"\\\\?\\", 4) == 0 ? benchBase + 4 : benchBase;
    boundedCopy(stage->paths.basePath, base);
    ansiCopy(stage->paths.basePath, stage->paths.basePathAnsi);

    // First with the records dropped (the log directory does not exist), which
    // leaves the enumeration and the bounded appends; then as the service runs,
    // every record written. The second leaves the log to be checked.
    double droppedBest = 0;
    logFilePath = droppedLogPath;
    for (int run = 0; run < RUNS; run++) {
        double ms = timeStage();
        droppedBest = run == 0 || ms < droppedBest ? ms : droppedBest;
    }
    logFilePath = benchLogPath;
    double best = 0, worst = 0, total = 0;
    for (int run = 0; run < RUNS; run++) {
        DeleteFileA(benchLogPath);
        double ms = timeStage();
        best = run == 0 || ms < best ? ms : best;
        worst = run == 0 || ms > worst ? ms : worst;
        total += ms;
    }

    const char *classPathOption = stage->classPath.classPathOption, *classPathTextAnsi = stage->classPath.classPathTextAnsi;
    size_t textLength = wcsnlen(stage->classPath.classPathText, PATH_CAPACITY);
    size_t ansiLength = strnlen(classPathTextAnsi, ANSI_CAPACITY);
    size_t optionLength = strnlen(classPathOption, ANSI_CAPACITY);
    int logged = loggedClassPathLength();
    // The option buffer keeps room for its prefix, line feed and terminator.
    int optionRoom = ANSI_CAPACITY - OPTION_PREFIX_LENGTH - 2;

    check(textLength == PATH_CAPACITY - 1, "class path text stops at 32766 characters", count);
    check(ansiLength == textLength, "ANSI copy as long as the text (ASCII paths)", count);
    check(optionLength < ANSI_CAPACITY, "option terminated within its buffer", count);
    check(optionLength > 0 && classPathOption[optionLength - 1] == '\n', "option ends with its line feed", count);
    check(strncmp(classPathOption + OPTION_PREFIX_LENGTH, classPathTextAnsi, (size_t)optionRoom) == 0,
          "option holds the start of the class path", count);
    check(logged == optionRoom, "logged class path part is the option's, cut to fit the option", count);

    printf("%8d %10.1f %10.1f %10.1f %10.1f %10.1f %10zu %10d\n", count, droppedBest, best, total / RUNS, worst,
           best * 1000.0 / count, textLength, logged);
    DeleteFileA(benchLogPath);
    removeTree(count);
}

int main(int argc, char **argv)
{
    wchar_t root[BENCH_PATH_CAPACITY];
    if (argc > 1) {
        if (MultiByteToWideChar(CP_ACP, 0, argv[1], -1, root, BENCH_PATH_CAPACITY - 1) == 0) {
            printf("bad work directory\n");
            return 1;
        }
    } else if (GetTempPathW(BENCH_PATH_CAPACITY - 1, root) == 0) {
        printf("no temp directory (error %lu)\n", GetLastError());
        return 1;
    }
    size_t rootLength = wcslen(root);
    if (rootLength == 0 || rootLength + 2 >= BENCH_PATH_CAPACITY) {
        printf("bad work directory\n");
        return 1;
    }
    if (root[rootLength - 1] != L'\\')
        wcscat(root, L"\\");
    if (_snwprintf(benchRoot, BENCH_PATH_CAPACITY, L"\\\\?\\%ls", root) < 0)
        return 1;
    if (WideCharToMultiByte(CP_ACP, 0, root, -1, benchLogPath, BENCH_PATH_CAPACITY - 32, NULL, NULL) == 0)
        return 1;
    strcat(benchLogPath, "classpath-bench.log");

    logFilePath = benchLogPath;
    logLockCreate();
    stage = newLaunchContext();
    if (stage == NULL) {
        printf("out of memory\n");
        return 1;
    }
    if (!QueryPerformanceFrequency(&counterFrequency) || counterFrequency.QuadPart == 0) {
        printf("no performance counter\n");
        return 1;
    }

    printf("Class path stage on lib\\, %d runs each; \"no log\": records dropped, \"logged\": every record written\n", RUNS);
    printf("jar names of %d characters; times in ms\n", NAME_LENGTH);
    printf("%8s %10s %10s %10s %10s %10s %10s %10s\n", "", "no log", "logged", "", "", "", "", "");
    printf("%8s %10s %10s %10s %10s %10s %10s %10s\n", "entries", "best", "best", "mean", "worst", "us/entry",
           "text len", "logged cp");
    for (int count : entryCounts)
        runOne(count);

    if (failures != 0) {
        printf("%d check(s) failed\n", failures);
        return 1;
    }
    printf("all checks held\n");
    return 0;
}
