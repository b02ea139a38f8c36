// Findings go to standard output as they are made: the report is read top to
// bottom, and a check that hangs still shows how far it came.
#include "console/report.h"

#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "console/console.h"
#include "log/log.h"

// The longest failure record a finding repeats: a Java exception's text with its lead-in.
#define RECORD_LINE_CAPACITY 2048

static const char *const markTexts[] = {"ok       ", "warning  ", "problem  "};
// The findings of each mark so far: a process prints one report, to its one
// standard output, so its counts are the process's like the lines are.
static int markCounts[] = {0, 0, 0};

// The paths a section names, each on the heap in its own length until the
// next section begins: a finding may name any number of them, and a path
// may be named again in the remedy after it.
struct PathText {
    PathText *next; // the text follows
};
static PathText *sectionPaths = NULL;
// The conversion's room: one path of the longest kind.
static char *pathScratch = NULL;

static void releasePaths(void)
{
    while (sectionPaths != NULL) {
        PathText *next = sectionPaths->next;
        free(sectionPaths);
        sectionPaths = next;
    }
}

void reportSection(const char *title)
{
    releasePaths();
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
    markCounts[mark]++;
    va_list args;
    va_start(args, format);
    printLine(markTexts[mark], format, args);
    va_end(args);
}

void reportRecord(FindingMark mark, const char *format, ...)
{
    char record[RECORD_LINE_CAPACITY];
    va_list args;
    va_start(args, format);
    vsnprintf(record, sizeof record, format, args);
    va_end(args);
    size_t length = strlen(record);
    if (length > 0 && record[length - 1] == '\n')
        record[length - 1] = '\0';
    reportFinding(mark, "%s", record);
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
    if (pathScratch == NULL)
        pathScratch = (char *)malloc(ANSI_CAPACITY);
    if (pathScratch == NULL)
        return "(out of memory)";
    ansiCopy(path, pathScratch);
    size_t length = strnlen(pathScratch, ANSI_CAPACITY);
    PathText *kept = (PathText *)malloc(sizeof *kept + length + 1);
    if (kept == NULL)
        return "(out of memory)";
    char *text = (char *)(kept + 1);
    memcpy(text, pathScratch, length + 1);
    kept->next = sectionPaths;
    sectionPaths = kept;
    return text;
}

int reportExitCode(void)
{
    return markCounts[FINDING_PROBLEM] > 0   ? EXIT_PROBLEMS
           : markCounts[FINDING_WARNING] > 0 ? EXIT_WARNINGS
                                             : EXIT_ALL_WELL;
}

int reportCount(FindingMark mark)
{
    return markCounts[mark];
}

const char *countWords(long long count, const char *one, const char *many)
{
    return count == 1 ? one : many;
}
