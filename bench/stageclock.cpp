// The stage clock's marks (see launcher/stageclock.h), linked into the
// benchmark build of the service only. Raw performance counter values: under
// Wine, as on Windows, the counter is one clock for every process, so the
// timing program can set them against the moment of its start request.
#include "launcher/stageclock.h"

#include <windows.h>
#include <stdio.h>

#include "log/log.h"

#define STAGE_CAPACITY 32

struct StageMark {
    const char *name;
    LONGLONG counter;
    LONGLONG logTicks;
    LONG records;
};

static StageMark marks[STAGE_CAPACITY];
static volatile LONG markCount;
static LONGLONG logTicks;
static LONG logRecords;
static LARGE_INTEGER logEntered;

void stageMark(const char *name)
{
    LARGE_INTEGER now;
    QueryPerformanceCounter(&now);
    LONG index = InterlockedIncrement(&markCount) - 1;
    if (index >= STAGE_CAPACITY)
        return;
    marks[index].name = name;
    marks[index].counter = now.QuadPart;
    marks[index].logTicks = logTicks;
    marks[index].records = logRecords;
}

// Called under the log lock: one record at a time.
void stageLogEnter(void)
{
    QueryPerformanceCounter(&logEntered);
}

void stageLogLeave(void)
{
    LARGE_INTEGER now;
    QueryPerformanceCounter(&now);
    logTicks += now.QuadPart - logEntered.QuadPart;
    logRecords++;
}

void stageWrite(void)
{
    char path[MAX_PATH];
    LARGE_INTEGER frequency;
    if (snprintf(path, sizeof path, "%s.stages", logFilePath) >= (int)sizeof path ||
        !QueryPerformanceFrequency(&frequency))
        return;
    FILE *file = fopen(path, "w");
    if (file == NULL)
        return;
    fprintf(file, "frequency %lld\n", frequency.QuadPart);
    LONG count = markCount < STAGE_CAPACITY ? markCount : STAGE_CAPACITY;
    for (LONG i = 0; i < count; i++)
        fprintf(file, "%s %lld %lld %ld\n", marks[i].name, marks[i].counter, marks[i].logTicks, marks[i].records);
    fclose(file);
}
