// Java output: where the service would write the application's console
// output, how it would rotate it, the room there and whether it could make
// and rename files there. The service's own routines are asked, with the
// service's values; their records become the findings.
#include "console/check/check.h"

#include <stdlib.h>
#include <wchar.h>

#include "console/report.h"
#include "launcher/output_open.h"
#include "launcher/output_rotation.h"
#include "launcher/records.h"
#include "log/log.h"

#define MEGABYTE (1024ULL * 1024ULL)

// The service's records of a routine the check calls, as the service would
// write them; the service's log is left as it was.
static FindingMark recordMark;
static void recordAsFinding(const char *, const char *text)
{
    int length = (int)strlen(text);
    reportFinding(recordMark, "%.*s", length > 0 && text[length - 1] == '\n' ? length - 1 : length, text);
}

// Makes "<path>.check-<process>" as the service makes the output file, renames
// it as a rotation does (to "....1") and removes it again. False with the
// finding of the step that failed.
static bool tryFileBeside(const wchar_t *path)
{
    wchar_t *trial = (wchar_t *)malloc(2 * PATH_CAPACITY * sizeof(wchar_t));
    char *trialAnsi = (char *)malloc(ANSI_CAPACITY);
    wchar_t suffix[32];
    swprintf(suffix, 32, L".check-%lu", (unsigned long)GetCurrentProcessId());
    bool done = trial != NULL && trialAnsi != NULL && joinPath(trial, path, suffix) &&
                joinPath(trial + PATH_CAPACITY, trial, L".1");
    if (done) {
        ansiCopy(trial, trialAnsi);
        DWORD error = ERROR_SUCCESS;
        HANDLE file = openOutputFile(trial, trialAnsi, &error);
        done = file != INVALID_HANDLE_VALUE;
        if (done) {
            CloseHandle(file);
            done = rotateOutputFiles(trial, 1, false, false);
            rotateOutputFiles(done ? trial + PATH_CAPACITY : trial, 0, true, false);
        } else if (error != ERROR_SUCCESS) {
            reportRecord(FINDING_PROBLEM, RECORD_OUTPUT_UNOPENED, trialAnsi, (unsigned long)error);
        }
    }
    free(trial);
    free(trialAnsi);
    return done;
}

void checkJavaOutput(const Snapshot *snapshot)
{
    reportSection("Java output (" JAVA_OUTPUT_VARIABLE_NAME ")");
    const LaunchInputs *inputs = &snapshot->inputs;
    if (inputs->javaOutput == NULL || inputs->javaOutput[0] == L'\0') {
        reportFinding(FINDING_OK, JAVA_OUTPUT_VARIABLE_NAME " is not set: the application's console output is not kept");
        return;
    }
    LogSink saved = logSink;
    logSink = recordAsFinding;
    recordMark = FINDING_WARNING;
    OutputRotation rotation;
    setOutputRotation(inputs->javaOutputSize, inputs->javaOutputKeep, &rotation);
    ULONGLONG most = rotatedFilesMost(&rotation);
    if (rotation.size == 0)
        reportFinding(FINDING_OK, "not rotated: %s grows with every start", reportPath(inputs->javaOutput));
    else
        reportFinding(FINDING_OK, "rotated at %llu bytes, %d older %s kept: at most about %llu MB in all",
                      rotation.size, rotation.keep, countWords(rotation.keep, "file", "files"), most / MEGABYTE);

    wchar_t *folder = (wchar_t *)malloc(PATH_CAPACITY * sizeof(wchar_t));
    ULARGE_INTEGER freeBytes = {};
    if (folder != NULL) {
        boundedCopy(folder, inputs->javaOutput);
        wchar_t *slash = wcsrchr(folder, L'\\');
        if (slash != NULL)
            slash[1] = L'\0';
        if (!GetDiskFreeSpaceExW(folder, &freeBytes, NULL, NULL))
            reportFinding(FINDING_WARNING, "the free space of %s can't be read (error %lu)", reportPath(folder),
                          GetLastError());
        else if (freeBytes.QuadPart < most)
            reportFinding(FINDING_WARNING, "%s has %llu MB free, less than the rotated files can take",
                          reportPath(folder), freeBytes.QuadPart / MEGABYTE);
        else
            reportFinding(FINDING_OK, "%s has %llu MB free", reportPath(folder), freeBytes.QuadPart / MEGABYTE);
    }
    recordMark = FINDING_PROBLEM;
    if (tryFileBeside(inputs->javaOutput))
        reportFinding(FINDING_OK,
                      "the service's refusals let a file be made, renamed and removed in %s (as this account)",
                      reportPath(folder != NULL ? folder : inputs->javaOutput));
    else
        reportRemedy("let the service's account create, rename and delete files in that folder");
    logSink = saved;
    free(folder);
}
