// The stage clock of the service's benchmark build (VelmoraneServiceStages in
// bench/CMakeLists.txt), linked into that build only: a record sink (log/log.h)
// that an initialiser of its own installs before wmain runs. No product file knows
// of it.
//
// Per record the sink notes the performance counter, hands the record to
// logAppend, the log's own file writer (so the log's bytes are those the
// release build writes), and notes the counter again when it returns: the
// record's moment and the time spent writing it. Once the record of main's
// invocation has been written, and before main is called, it writes what it
// noted to the log's path with ".stages" appended. Where each stage ends is not
// decided here: bench/startup_bench.py finds the records that end the stages
// by their texts, from the catalogue tests/common/logtexts.py.
//
// Raw counter values: under Wine, as on Windows, the performance counter is one
// clock for every process, so scmctl time-main sets them against the moment of
// its start request. The file's lines:
//   frequency F
//   mark entry C 0 0          the static initialiser: the process runs its entry
//   mark writing C T N        the write-out begins (T: ticks in records, N: records)
//   record E L TEXT           one per record in order: counter when it came, when
//                             logAppend returned; its text up to its first line
//                             end, cut at TEXT_CUT characters
//   dropped N                 records beyond the capacity, not noted (if any)
//   mark written C T N        the write-out ends (its own time, taken out of the
//                             last stage)
#include <windows.h>

#include <stdio.h>
#include <string.h>

#include "log/log.h"

namespace {

// The launcher's record just before it calls main (INVOKING_MAIN of
// tests/common/logtexts.py, with the line end of its format): the moment
// to write the figures out. Changed there, it must change here.
const char LAST_RECORD[] = "Invoking main()\n";

const size_t TEXT_CUT = 111;
// Two records per jar in lib\: room for some 32,000 jars.
const LONG CAPACITY = 1 << 16;

struct Record {
    LONGLONG enter;
    LONGLONG leave;
    char text[TEXT_CUT + 1];
};

// Touched under the log lock only, once the initialiser has run.
Record *records;
LONG recordCount;
LONG recordsDropped;
LONGLONG recordTicks;
LONGLONG entryCounter;
bool written;

LONGLONG counterNow(void)
{
    LARGE_INTEGER now;
    QueryPerformanceCounter(&now);
    return now.QuadPart;
}

void writeFigures(void)
{
    LONGLONG writing = counterNow();
    char path[MAX_PATH + 8];
    LARGE_INTEGER frequency;
    if (snprintf(path, sizeof path, "%s.stages", logFilePath) >= (int)sizeof path ||
        !QueryPerformanceFrequency(&frequency))
        return;
    FILE *file = fopen(path, "w");
    if (file == NULL)
        return;
    fprintf(file, "frequency %lld\n", frequency.QuadPart);
    fprintf(file, "mark entry %lld 0 0\n", entryCounter);
    fprintf(file, "mark writing %lld %lld %ld\n", writing, recordTicks, recordCount);
    for (LONG i = 0; i < recordCount; i++)
        fprintf(file, "record %lld %lld %s\n", records[i].enter, records[i].leave, records[i].text);
    if (recordsDropped > 0)
        fprintf(file, "dropped %ld\n", recordsDropped);
    fprintf(file, "mark written %lld %lld %ld\n", counterNow(), recordTicks, recordCount);
    fclose(file);
}

void noteRecord(LONGLONG enter, LONGLONG leave, const char *text)
{
    recordTicks += leave - enter;
    if (records == NULL || recordCount >= CAPACITY) {
        recordsDropped++;
        return;
    }
    Record &record = records[recordCount++];
    record.enter = enter;
    record.leave = leave;
    size_t length = strcspn(text, "\r\n");
    if (length > TEXT_CUT)
        length = TEXT_CUT;
    memcpy(record.text, text, length);
    record.text[length] = '\0';
}

// Called by logWrite under the log lock, for every record of the process.
void timingSink(const char *stamp, const char *text)
{
    if (written) {
        logAppend(stamp, text);
        return;
    }
    LONGLONG enter = counterNow();
    logAppend(stamp, text);
    noteRecord(enter, counterNow(), text);
    if (strcmp(text, LAST_RECORD) == 0) {
        writeFigures();
        written = true;
    }
}

} // namespace

// Runs with the static initialisers, before wmain: the first moment of the
// program's own that no product file has to provide.
__attribute__((constructor)) static void installTimingSink(void)
{
    entryCounter = counterNow();
    // Committed at once; a page costs memory only once a record touches it.
    records = static_cast<Record *>(
        VirtualAlloc(NULL, sizeof(Record) * CAPACITY, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE));
    logSink = timingSink;
}
