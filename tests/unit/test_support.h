// Shared helpers of the unit tests: a private log file and reading it back.
#ifndef VELMORANE_TEST_SUPPORT_H
#define VELMORANE_TEST_SUPPORT_H

#include <windows.h>

#include <functional>
#include <string>
#include <vector>

#include "launcher/launcher.h"

// The launch the stage tests drive: one for the test program, as the service
// has one for its process.
extern LaunchContext *const testStages;

// A fresh directory under the temporary directory, unique per call.
std::string makeTempDir(const char *tag);
void removeTree(const std::string &path);
void writeFile(const std::string &path, const std::string &text);
bool readFile(const std::string &path, std::string *text);
// What routine printed on the standard output, as a console gets it.
std::string printedText(const std::function<void()> &routine);

// A path below the build's fixtures folder, beside the test program's bin\.
std::wstring fixturePath(const wchar_t *relative);

// Points the log at a fresh file of this test and revives a retired log.
void useTestLog(void);
// The whole log file of this test ("" when it does not exist).
std::string testLogText(void);
// The messages of the records: each line with its 18-character stamp removed
// and its CR LF dropped. Lines without a stamp are kept as they are.
std::vector<std::string> testLogMessages(void);

// A record ("stuck") whose open waits until released (an oplock on Windows).
HANDLE startStuckRecord(void);
void releaseStuckRecord(HANDLE writer);
// What the service would have written to the event log, captured instead:
// captureEvents() clears the list, turns the service's events on and points
// the test launch's observer and the log's refusals at them.
struct CapturedEvent {
    WORD type;
    DWORD id;
    std::vector<std::wstring> inserts;
};
void captureEvents(void);
std::vector<CapturedEvent> capturedEvents(void);

#endif
