// The Java threads' dump against the fake virtual machine (fake_jni.cpp).
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "fake_jni.h"
#include "launcher/jvm.h"
#include "launcher/thread_dump.h"
#include "launcher/thread_dump_state.h"
#include "service/eventlog.h"
#include "test_support.h"

namespace {

using Lines = std::vector<std::string>;
const std::string HEAD = "shutdown() has not returned after 15 s, Java threads: ";
const std::string IN_SHUTDOWN = "Shutdown thread \"fake-1\" TIMED_WAITING", CUT = "The dump of the Java threads was cut off";

Lines operator+(Lines head, const Lines &tail)
{
    head.insert(head.end(), tail.begin(), tail.end());
    return head;
}

Lines frames(int count, const char *code = "fake.Code.f")
{
    Lines lines;
    for (int at = 0; at < count; at++)
        lines.push_back("    at " + std::string(code) + std::to_string(at) + "(Code.java:" + std::to_string(at) + ")");
    return lines;
}

// Runs the dump's thread as the stop starts it; with `hold`, gives up on it
// (twice) while the fake holds it inside a Java call.
DWORD runDump(FakeJvmScript script, HANDLE hold = NULL)
{
    useTestLog();
    resetFakeJvm();
    fakeScript = script;
    fakeScript.dumpHold = hold;
    testStages->vm.jvmHandle = &fakeVm;
    testStages->threadDumpState = DUMP_STARTED;
    HANDLE thread = CreateThread(NULL, 0, threadDumpThread, testStages, 0, NULL);
    if (hold != NULL && WaitForSingleObject(thread, 300) == WAIT_TIMEOUT) {
        abandonThreadDump(&testStages->threadDumpState);
        abandonThreadDump(&testStages->threadDumpState);
        SetEvent(hold);
    }
    DWORD whole = 99;
    WaitForSingleObject(thread, 10000);
    GetExitCodeThread(thread, &whole);
    CloseHandle(thread);
    testStages->vm.jvmHandle = NULL;
    // Attached for the dump alone, and every reference given back.
    EXPECT_TRUE(fakeCalls.front() == "attach as VelmoraneService thread dump" && fakeCalls.back() == "detach");
    EXPECT_EQ(fakeLiveReferences, 0);
    return whole;
}

TEST(ThreadDump, ShutdownThreadFirstAnExceptionEndsItTheStopsRecordIsItsLast)
{
    const Lines two = Lines{HEAD + "2", IN_SHUTDOWN} + frames(2) +
                      Lines{"    at com.orvenda.calistren.test.lt.nextgen.Velmorane.shutdown(Code.java:2)",
                            "Java thread \"fake-0\" RUNNABLE"} + frames(3);
    const std::string detail = "Java exception: " FAKE_EXCEPTION_TEXT;
    const struct {
        FakeJvmScript script;
        bool held;
        DWORD whole;
        Lines lines;
    } cases[] = {
        {{}, false, 1, two},
        {{.dumpThreads = 1, .dumpFrames = 0, .shutdownThreadAt = -1, .firstThreadName = "a\r\nb\tc\x7f"}, false, 1,
         {HEAD + "1", "Java thread \"a  b c \" RUNNABLE"}},
        {{.dumpThrowsIn = "getAllStackTraces"}, false, 0, {"The Java threads could not be dumped", detail}},
        {{.dumpThrowsIn = "toString"}, false, 0, {HEAD + "2", IN_SHUTDOWN, CUT, detail}},
        {{.dumpThrowsIn = "getState"}, false, 0, {HEAD + "2", CUT, detail}},
        {{.dumpHoldIn = "getAllStackTraces"}, true, 0, {"The Java threads could not be dumped"}},
        {{.dumpHoldIn = "toString"}, true, 0, {HEAD + "2", IN_SHUTDOWN, CUT}},
    };
    for (const auto &c : cases) {
        HANDLE hold = c.held ? CreateEventW(NULL, TRUE, FALSE, NULL) : NULL;
        EXPECT_EQ(runDump(c.script, hold), c.whole);
        EXPECT_EQ(testLogMessages(), c.lines);
        if (hold != NULL)
            CloseHandle(hold);
    }
}

// The event of a shutdown() that did not return carries the top frames of the
// thread in shutdown(), not another thread's.
TEST(ThreadDump, TheShutdownThreadsTopFramesAreKeptForTheEvent)
{
    captureEvents();
    EXPECT_EQ(runDump({}), 1u);
    reportShutdownNotReturned();
    std::vector<CapturedEvent> events = capturedEvents();
    ASSERT_EQ(events.size(), 1u);
    EXPECT_EQ(events[0].inserts, (std::vector<std::wstring>{L"20", L"fake.Code.f0(Code.java:0)", L"fake.Code.f1(Code.java:1)",
                                                            L"com.orvenda.calistren.test.lt.nextgen.Velmorane.shutdown(Code.java:2)"}));
}

TEST(ThreadDump, AtMost64ThreadsOf32FramesEachInRecordsOfBoundedLength)
{
    const std::string name(3 * THREAD_DUMP_TEXT_CAPACITY, 'n');
    EXPECT_EQ(runDump({.dumpThreads = 70, .dumpFrames = 40, .shutdownThreadAt = 69, .firstThreadName = name.c_str()}), 1u);
    Lines lines = testLogMessages();
    ASSERT_EQ(lines.size(), 2u + 64 * (1 + 32 + 1));
    EXPECT_EQ(Lines(lines.begin(), lines.begin() + 2), (Lines{HEAD + "70", "Shutdown thread \"fake-69\" TIMED_WAITING"}));
    EXPECT_EQ(Lines(lines.begin() + 34, lines.begin() + 37),
              (Lines{"    frames left out: 8", "Java thread \"" + name.substr(0, THREAD_DUMP_TEXT_CAPACITY - 1) + "\" RUNNABLE",
                     "    at fake.Code.f0(Code.java:0)"}));
    EXPECT_EQ(lines.back(), "Java threads left out: 6");
}

// A dump the stop gave up on while it looked for the thread in shutdown()
// looks no further: each further thread would cost Java calls for nothing.
TEST(ThreadDump, SearchForTheShutdownThreadEndsWhenAbandoned)
{
    HANDLE hold = CreateEventW(NULL, TRUE, FALSE, NULL);
    EXPECT_EQ(runDump({.dumpThreads = 70, .shutdownThreadAt = 69, .dumpHoldIn = "getClassName"}, hold), 0u);
    CloseHandle(hold);
    EXPECT_EQ(std::count(fakeCalls.begin(), fakeCalls.end(), "getClassName"), 1);
    EXPECT_EQ(testLogMessages(), (Lines{"The Java threads could not be dumped"}));
}

} // namespace
