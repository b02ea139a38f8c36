// The event log's entries as the service hands them over: type, number and
// inserts, captured instead of written.
#include <gtest/gtest.h>

#include "launcher/launcher.h"
#include "launcher/paths.h"
#include "log/log.h"
#include "service/eventlog.h"
#include "test_support.h"

namespace {

struct StartCase {
    LaunchFailure failure;
    jint createResult;
    const char *exception;
    DWORD id;
    std::vector<std::wstring> inserts;
};

TEST(EventLog, StartFailuresCarryTheRecordTheExceptionAndTheRemedy)
{
    const StartCase cases[] = {
        {FAILURE_NO_JVM_LIBRARY, 0, "", 0xC00003E9,
         {L"Failed to load jvm.dll at C:\\A\\jvm.dll", L"",
          L"No jvm.dll loaded at any place (none there, a 32-bit runtime, its C runtime library not loaded, or a "
          L"Java 9+ runtime in jdk\\bin\\server\\): lay a 64-bit runtime out as jdk\\jre\\ or set VLJVMDLL; "
          L"VelmoraneConsole check shows which."}},
        {FAILURE_JVM_NOT_CREATED, -4, "", 0xC00003EB,
         {L"Can't create Java VM.  Return code -4", L"",
          L"The JVM ran out of memory while starting: free memory, or use a smaller -Xmx."}},
        {FAILURE_NO_MAIN_CLASS, 0, "java.lang.UnsupportedClassVersionError: a\r\nb\x1b[2J", 0xC00003EC,
         {L"Can't find class com/orvenda/calistren/test/lt/nextgen/Velmorane",
          L"Java exception: java.lang.UnsupportedClassVersionError: a  b [2J",
          L"The application was built for a newer Java than this runtime: use a newer runtime, or compile for this "
          L"one (javac --release N)."}},
        {FAILURE_MAIN_THREW, 0, "java.lang.IllegalStateException: no\tdatabase", 0xC00003EE,
         {L"java.lang.IllegalStateException: no database",
          L"main ended by throwing the exception on the next line: fix the application, then stop and start the "
          L"service."}},
    };
    for (const StartCase &c : cases) {
        captureEvents();
        LaunchResults results;
        clearLaunchResults(&results);
        lstrcpyA(jvmLibraryPathAnsi, "C:\\A\\jvm.dll");
        results.jvm.createResult = c.createResult;
        lstrcpyA(results.jvm.exception, c.exception);
        reportStartFailure(&results, c.failure);
        std::vector<CapturedEvent> events = capturedEvents();
        ASSERT_EQ(events.size(), 1u) << c.failure;
        EXPECT_EQ(events[0].type, EVENTLOG_ERROR_TYPE);
        EXPECT_EQ(events[0].id, c.id);
        EXPECT_EQ(events[0].inserts, c.inserts) << c.failure;
    }
    // A good start (or a main that returned) writes nothing.
    captureEvents();
    LaunchResults results;
    clearLaunchResults(&results);
    reportStartFailure(&results, LAUNCH_NOT_FAILED);
    EXPECT_TRUE(capturedEvents().empty());
}

TEST(EventLog, ARefusedLogFileIsReportedOncePerStart)
{
    useTestLog();
    captureEvents();
    reportLogRefused(LOG_FILE_LINK, "");
    reportLogRefused(LOG_FILE_FOREIGN_OWNER, "S-1-5-21-7");
    captureEvents();
    reportLogRefused(LOG_FILE_FOREIGN_OWNER, "S-1-5-21-7");
    std::vector<CapturedEvent> events = capturedEvents();
    std::wstring path(logFilePath, logFilePath + strlen(logFilePath));
    ASSERT_EQ(events.size(), 1u);
    EXPECT_EQ(events[0].type, EVENTLOG_WARNING_TYPE);
    EXPECT_EQ(events[0].id, 0x80000400u);
    EXPECT_EQ(events[0].inserts, (std::vector<std::wstring>{path, L"S-1-5-21-7"}));
}

TEST(EventLog, AShutdownThatDidNotReturnCarriesItsTopFrames)
{
    captureEvents();
    reportShutdownNotReturned();
    keepShutdownFrame(0, "app.Main.shutdown(Main.java:9)\x07");
    keepShutdownFrame(1, "java.lang.Thread.sleep(Native Method)");
    keepShutdownFrame(3, "beyond the limit");
    reportShutdownNotReturned();
    std::vector<CapturedEvent> events = capturedEvents();
    ASSERT_EQ(events.size(), 2u);
    EXPECT_EQ(events[0].id, 0x800003F2u);
    EXPECT_EQ(events[0].inserts, (std::vector<std::wstring>{L"20", L"(none: the dump did not reach it)", L"", L""}));
    EXPECT_EQ(events[1].inserts, (std::vector<std::wstring>{L"20", L"app.Main.shutdown(Main.java:9) ",
                                                            L"java.lang.Thread.sleep(Native Method)", L""}));
}

} // namespace
