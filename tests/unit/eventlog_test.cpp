// The event log's entries as the service hands them over, captured.
#include <gtest/gtest.h>

#include "launcher/remedies.h"
#include "launcher/records.h"
#include "service/eventlog.h"
#include "test_support.h"

namespace {

TEST(EventLog, StartFailuresCarryTheRecordTheExceptionAndTheRemedy)
{
    const std::wstring newer(NEWER_JAVA_REMEDY, NEWER_JAVA_REMEDY + strlen(NEWER_JAVA_REMEDY));
    const struct {
        LaunchFailure failure;
        const char *exception;
        DWORD id;
        std::vector<std::wstring> inserts;
    } cases[] = {
        {FAILURE_JVM_NOT_CREATED, "", 0xC00003EB, {L"Can't create Java VM.  Return code -4", L"",
          L"The JVM ran out of memory while starting: free memory, or use a smaller -Xmx."}},
        {FAILURE_NO_MAIN_CLASS, "java.lang.UnsupportedClassVersionError: a\r\nb\x1b", 0xC00003EC,
         {L"Can't find class com/orvenda/calistren/test/lt/nextgen/Velmorane",
          L"Java exception: java.lang.UnsupportedClassVersionError: a  b ", newer}},
        // No insert is expanded by the viewer; the soft hyphen is a format character.
        {FAILURE_MAIN_THREW, "E: no\tdatabase %%1234 %n\xad.", 0xC00003EE, {L"E: no database \xFF05\xFF05" L"1234 \xFF05n .",
          L"main ended by throwing the exception on the next line: fix the application, then stop and start the service."}},
        {LAUNCH_NOT_FAILED, "", 0, {}},
    };
    for (const auto &c : cases) {
        captureEvents();
        LaunchResults *results = &testStages->results;
        clearLaunchResults(results);
        results->jvm.createResult = -4;
        lstrcpyA(results->jvm.exception, c.exception);
        reportStartFailure(testStages, c.failure);
        std::vector<CapturedEvent> events = capturedEvents();
        ASSERT_EQ(events.size(), c.id != 0 ? 1u : 0u) << c.failure;
        if (c.id != 0)
            EXPECT_TRUE(events[0].type == EVENTLOG_ERROR_TYPE && events[0].id == c.id && events[0].inserts == c.inserts);
    }
}

} // namespace
