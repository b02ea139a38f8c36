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

#include "launcher/records.h"
#include "log/log.h"
#include "log/logfile.h"

namespace {

// The launcher's record just before it calls main: the moment to write the
// figures out.
const char LAST_RECORD[] = RECORD_INVOKING_MAIN;

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
bool figuresWritten;

LONGLONG counterNow(void)
{
    LARGE_INTEGER now;
    QueryPerformanceCounter(&now);
    return now.QuadPart;
}

char *appendText(char *at, const char *text)
{
    size_t length = strlen(text);
    memcpy(at, text, length);
    return at + length;
}

char *appendNumber(char *at, LONGLONG value)
{
    char digits[24];
    int count = 0;
    unsigned long long rest = value < 0 ? 0ULL - (unsigned long long)value : (unsigned long long)value;
    do {
        digits[count++] = (char)('0' + rest % 10);
        rest /= 10;
    } while (rest != 0);
    if (value < 0)
        *at++ = '-';
    while (count > 0)
        *at++ = digits[--count];
    return at;
}

char *appendMark(char *at, const char *name, LONGLONG counter)
{
    at = appendText(at, "mark ");
    at = appendText(at, name);
    *at++ = ' ';
    at = appendNumber(at, counter);
    *at++ = ' ';
    at = appendNumber(at, recordTicks);
    *at++ = ' ';
    at = appendNumber(at, recordCount);
    *at++ = '\n';
    return at;
}

bool writeAll(HANDLE file, const char *from, const char *to)
{
    DWORD written;
    return WriteFile(file, from, (DWORD)(to - from), &written, NULL) && written == (DWORD)(to - from);
}

// The figures are formatted by hand into one buffer and written at once: line by
// line through the C runtime's stream they took some 5 us a record under Wine,
// 50 ms with 5,000 jars, on the launcher thread just before main is called.
void writeFigures(void)
{
    LONGLONG writing = counterNow();
    // A line: "record ", two counters of at most 20 characters, the text, three separators.
    const size_t lineCapacity = 7 + 20 + 1 + 20 + 1 + TEXT_CUT + 1;
    const size_t capacity = 256 + lineCapacity * (size_t)recordCount;
    char path[MAX_PATH + 8];
    LARGE_INTEGER frequency;
    if (snprintf(path, sizeof path, "%s.stages", logFilePath) >= (int)sizeof path ||
        !QueryPerformanceFrequency(&frequency))
        return;
    char *text = static_cast<char *>(VirtualAlloc(NULL, capacity, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE));
    if (text == NULL)
        return;
    HANDLE file = CreateFileA(path, GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, NULL);
    if (file != INVALID_HANDLE_VALUE) {
        char *at = appendText(text, "frequency ");
        at = appendNumber(at, frequency.QuadPart);
        *at++ = '\n';
        at = appendText(at, "mark entry ");
        at = appendNumber(at, entryCounter);
        at = appendText(at, " 0 0\n");
        at = appendMark(at, "writing", writing);
        for (LONG i = 0; i < recordCount; i++) {
            at = appendText(at, "record ");
            at = appendNumber(at, records[i].enter);
            *at++ = ' ';
            at = appendNumber(at, records[i].leave);
            *at++ = ' ';
            at = appendText(at, records[i].text);
            *at++ = '\n';
        }
        if (recordsDropped > 0) {
            at = appendText(at, "dropped ");
            at = appendNumber(at, recordsDropped);
            *at++ = '\n';
        }
        if (writeAll(file, text, at)) {
            char *end = appendMark(text, "written", counterNow());
            writeAll(file, text, end);
        }
        CloseHandle(file);
    }
    VirtualFree(text, 0, MEM_RELEASE);
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
    if (figuresWritten) {
        logAppend(stamp, text);
        return;
    }
    LONGLONG enter = counterNow();
    logAppend(stamp, text);
    noteRecord(enter, counterNow(), text);
    if (strcmp(text, LAST_RECORD) == 0) {
        writeFigures();
        figuresWritten = true;
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
