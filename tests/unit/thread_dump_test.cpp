// The Java threads' dump against the fake virtual machine (fake_jni.cpp).
#include <gtest/gtest.h>

#include <windows.h>

#include <string>
#include <vector>

#include "fake_jni.h"
#include "launcher/jvm.h"
#include "launcher/thread_dump.h"
#include "test_support.h"

namespace {

const std::string CUT = "The dump of the Java threads was cut off";
const std::string NOT_TAKEN = "The Java threads could not be dumped";
const std::string DETAIL = "Java exception: " FAKE_EXCEPTION_TEXT;

std::vector<std::string> fakeFrames(int count)
{
    std::vector<std::string> lines;
    for (int at = 0; at < count; at++)
        lines.push_back("    at fake.Code.f" + std::to_string(at) + "(Code.java:" + std::to_string(at) + ")");
    return lines;
}

std::vector<std::string> operator+(std::vector<std::string> head, const std::vector<std::string> &tail)
{
    head.insert(head.end(), tail.begin(), tail.end());
    return head;
}

class ThreadDumpTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        useTestLog();
        resetFakeJvm();
        threadDumpState = DUMP_STARTED;
    }
    void TearDown() override { jvmHandle = NULL; }
};

struct DumpCase {
    const char *name;
    FakeJvmScript script;
    bool whole;
    std::vector<std::string> lines;
};

TEST_F(ThreadDumpTest, ShutdownThreadFirstThenTheOthersOrWhereAnExceptionStoppedIt)
{
    const std::vector<std::string> head = {"shutdown() has not returned after 15 s, Java threads: 2",
                                           "Shutdown thread \"fake-1\" TIMED_WAITING"};
    const DumpCase cases[] = {
        {"two threads", {}, true,
         head + fakeFrames(2) +
             std::vector<std::string>{
                 "    at com.orvenda.calistren.test.lt.nextgen.Velmorane.shutdown(Velmorane.java:9)",
                 "Java thread \"fake-0\" RUNNABLE"} +
             fakeFrames(3)},
        {"none in shutdown(), a name with control characters",
         {.dumpThreads = 1, .dumpFrames = 0, .shutdownThreadAt = -1, .firstThreadName = "a\r\nb\tc\x7f"}, true,
         {"shutdown() has not returned after 15 s, Java threads: 1", "Java thread \"a  b c \" RUNNABLE"}},
        {"the threads not given", {.dumpThrowsIn = "getAllStackTraces"}, false, {NOT_TAKEN, DETAIL}},
        {"a frame not given", {.dumpThrowsIn = "toString"}, false, head + std::vector<std::string>{CUT, DETAIL}},
        {"a state not given", {.dumpThrowsIn = "getState"}, false,
         {"shutdown() has not returned after 15 s, Java threads: 2", CUT, DETAIL}},
    };
    for (const DumpCase &c : cases) {
        SetUp();
        fakeScript = c.script;
        jvmHandle = &fakeVm;
        EXPECT_EQ(threadDumpThread(NULL), (DWORD)c.whole) << c.name;
        EXPECT_EQ(testLogMessages(), c.lines) << c.name;
        EXPECT_EQ(fakeCalls.front(), "attach with arguments") << c.name;
        EXPECT_EQ(fakeCalls.back(), "detach") << c.name;
        EXPECT_EQ(fakeLiveReferences, 0) << c.name;
        EXPECT_EQ(threadDumpState, DUMP_ENDED) << c.name;
    }
}

TEST_F(ThreadDumpTest, AtMost64ThreadsOf32FramesEachInRecordsOfBoundedLength)
{
    const std::string longName(3 * THREAD_DUMP_TEXT_CAPACITY, 'n');
    fakeScript = FakeJvmScript{.dumpThreads = 70, .dumpFrames = 40, .shutdownThreadAt = 69,
                               .firstThreadName = longName.c_str()};
    jvmHandle = &fakeVm;
    EXPECT_EQ(threadDumpThread(NULL), 1u);
    std::vector<std::string> lines = testLogMessages();
    ASSERT_EQ(lines.size(), 2u + 64 * (1 + 32 + 1));
    EXPECT_EQ(lines[1], "Shutdown thread \"fake-69\" TIMED_WAITING");
    EXPECT_EQ(lines[34], "    frames left out: 8");
    EXPECT_EQ(lines[35], "Java thread \"" + longName.substr(0, THREAD_DUMP_TEXT_CAPACITY - 1) + "\" RUNNABLE");
    EXPECT_EQ(lines[36], "    at fake.Code.f0(Code.java:0)");
    EXPECT_EQ(lines.back(), "Java threads left out: 6");
    EXPECT_EQ(fakeLiveReferences, 0);
}

// The stop gave up while the dump's thread was inside a Java call: the stop's
// record is the dump's last, whatever the thread does after it.
TEST_F(ThreadDumpTest, AbandonedDumpWritesNothingAfterTheStopsRecord)
{
    const struct {
        const char *heldIn;
        std::vector<std::string> lines;
    } cases[] = {
        {"getAllStackTraces", {NOT_TAKEN}},
        {"toString",
         {"shutdown() has not returned after 15 s, Java threads: 2", "Shutdown thread \"fake-1\" TIMED_WAITING", CUT}},
    };
    for (const auto &c : cases) {
        SetUp();
        HANDLE hold = CreateEventW(NULL, TRUE, FALSE, NULL);
        fakeScript = FakeJvmScript{.dumpHoldIn = c.heldIn, .dumpHold = hold};
        jvmHandle = &fakeVm;
        HANDLE thread = CreateThread(NULL, 0, threadDumpThread, NULL, 0, NULL);
        EXPECT_EQ(WaitForSingleObject(thread, 300), (DWORD)WAIT_TIMEOUT) << c.heldIn;
        abandonThreadDump();
        abandonThreadDump();
        SetEvent(hold);
        EXPECT_EQ(WaitForSingleObject(thread, 10000), (DWORD)WAIT_OBJECT_0) << c.heldIn;
        DWORD whole = 99;
        GetExitCodeThread(thread, &whole);
        EXPECT_EQ(whole, 0u) << c.heldIn;
        EXPECT_EQ(testLogMessages(), c.lines) << c.heldIn;
        EXPECT_EQ(fakeCalls.back(), "detach") << c.heldIn;
        EXPECT_EQ(fakeLiveReferences, 0) << c.heldIn;
        CloseHandle(thread);
        CloseHandle(hold);
    }
}

} // namespace
