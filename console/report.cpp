// Findings go to standard output as they are made: the report is read top to
// bottom, and a check that hangs in the JVM still shows how far it came.
#include "console/report.h"

#include <stdarg.h>
#include <stdio.h>
#include <string.h>

#include "console/console.h"
#include "log/log.h"

int warningCount = 0;
int problemCount = 0;

static const char *const markTexts[] = {"ok       ", "warning  ", "problem  "};

void reportSection(const char *title)
{
    printf("\n%s\n", title);
}

// One report line: two blanks, the lead-in, the text; flushed at once so the
// report interleaves rightly with anything the runtime prints.
static void printLine(const char *leadIn, const char *format, va_list args)
{
    printf("  %s", leadIn);
    vprintf(format, args);
    printf("\n");
    fflush(stdout);
}

void reportFinding(FindingMark mark, const char *format, ...)
{
    if (mark == FINDING_WARNING)
        warningCount++;
    else if (mark == FINDING_PROBLEM)
        problemCount++;
    va_list args;
    va_start(args, format);
    printLine(markTexts[mark], format, args);
    va_end(args);
}

void reportRemedy(const char *format, ...)
{
    va_list args;
    va_start(args, format);
    printLine("         -> ", format, args);
    va_end(args);
}

const char *reportPath(const wchar_t *path)
{
    static char buffers[4][ANSI_CAPACITY];
    static int next = 0;
    char *buffer = buffers[next];
    next = (next + 1) % 4;
    ansiCopy(path, buffer);
    return buffer;
}

int reportExitCode(void)
{
    return problemCount > 0 ? EXIT_PROBLEMS : warningCount > 0 ? EXIT_WARNINGS : EXIT_ALL_WELL;
}

// ---------------------------------------------------------------- collector

#define COLLECTED_CAPACITY 0x80000
#define COLLECTED_RECORDS 4096

static char collected[COLLECTED_CAPACITY];
static size_t collectedUsed = 0;
static size_t recordStarts[COLLECTED_RECORDS];
static int recordCount = 0;

// Records beyond the capacity are dropped: a check reads the stages' first
// and last records, and a lib\ of thousands of entries still fits.
static void collect(const char *, const char *text)
{
    size_t length = strlen(text);
    while (length > 0 && text[length - 1] == '\n')
        length--;
    if (recordCount == COLLECTED_RECORDS || collectedUsed + length + 1 > COLLECTED_CAPACITY)
        return;
    recordStarts[recordCount++] = collectedUsed;
    memcpy(collected + collectedUsed, text, length);
    collected[collectedUsed + length] = '\0';
    collectedUsed += length + 1;
}

void collectorStart(void)
{
    collectedUsed = 0;
    recordCount = 0;
    logSink = collect;
}

static void discard(const char *, const char *)
{
}

// Records after the collection are dropped, never written to the service's
// log file: the check leaves the log as it found it.
void collectorStop(void)
{
    logSink = discard;
}

int collectedCount(void)
{
    return recordCount;
}

const char *collectedRecord(int index)
{
    return collected + recordStarts[index];
}

int collectedFind(const char *prefix)
{
    size_t length = strlen(prefix);
    for (int index = recordCount - 1; index >= 0; index--)
        if (strncmp(collectedRecord(index), prefix, length) == 0)
            return index;
    return -1;
}
