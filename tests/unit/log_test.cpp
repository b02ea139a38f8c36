// The diagnostic log: record format, the unshared open and what happens when
// the file can't be written.
#include <gtest/gtest.h>

#include <windows.h>
#include <sddl.h>

#include <algorithm>
#include <string>
#include <vector>

#include "launcher/thread_dump_state.h"
#include "log/log.h"
#include "log/logfile.h"
#include "log/logowner.h"
#include "test_support.h"

namespace {

class LogTest : public ::testing::Test {
protected:
    void SetUp() override { useTestLog(); }
};

bool isStamp(const std::string &text)
{
    if (text.size() != 18)
        return false;
    const char *shape = "dd/dd/dd dd:dd:dd ";
    for (size_t i = 0; i < 18; i++)
        if (shape[i] == 'd' ? !isdigit((unsigned char)text[i]) : text[i] != shape[i])
            return false;
    return true;
}

TEST_F(LogTest, RecordIsStampMessageAndCrLf)
{
    logWrite("Detached thread\n");
    std::string text = testLogText();
    ASSERT_EQ(text.size(), 18u + 15u + 2u);
    EXPECT_TRUE(isStamp(text.substr(0, 18))) << text;
    EXPECT_EQ(text.substr(18), "Detached thread\r\n");
}

TEST_F(LogTest, StampIsLocalTimeInTheCLocaleFormat)
{
    char stamp[LOG_STAMP_CAPACITY];
    logFormatStamp(stamp);
    ASSERT_TRUE(isStamp(stamp)) << stamp;
    time_t now = time(NULL);
    struct tm *local = localtime(&now);
    char expectedDate[16];
    snprintf(expectedDate, sizeof expectedDate, "%02d/%02d/%02d", local->tm_mon + 1, local->tm_mday,
             local->tm_year % 100);
    EXPECT_EQ(std::string(stamp, 8), expectedDate);
}

TEST_F(LogTest, LineFeedsAreTheCallersToWrite)
{
    logWrite("Name size:  %d", 38);
    logWrite("first\nsecond\n");
    std::vector<std::string> lines = testLogMessages();
    ASSERT_EQ(lines.size(), 2u);
    // Without its own line feed a message leaves the next stamp on its line.
    EXPECT_EQ(lines[0].substr(0, 12), "Name size:  ");
    EXPECT_TRUE(isStamp(lines[0].substr(14, 18))) << lines[0];
    EXPECT_EQ(lines[0].substr(14 + 18), "first");
    // Only the first line of a message carries a stamp.
    EXPECT_EQ(lines[1], "second");
}

TEST_F(LogTest, RecordsAppendAndADeletedFileIsCreatedAgain)
{
    logWrite("one\n");
    logWrite("two\n");
    EXPECT_EQ(testLogMessages(), (std::vector<std::string>{"one", "two"}));
    ASSERT_TRUE(DeleteFileA(logFilePath));
    logWrite("three\n");
    EXPECT_EQ(testLogMessages(), (std::vector<std::string>{"three"}));
}

// The open shares reading only: while another opener holds the file sharing
// no writing, records are dropped; a reader that lets the service write costs none.
TEST_F(LogTest, FileHeldOpenByAnotherOpenerDropsRecords)
{
    logWrite("before\n");
    const DWORD shareModes[] = {0, FILE_SHARE_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE};
    for (DWORD share : shareModes) {
        HANDLE holder = CreateFileA(logFilePath, GENERIC_READ, share, NULL, OPEN_EXISTING, 0, NULL);
        ASSERT_NE(holder, INVALID_HANDLE_VALUE);
        logWrite("while held, sharing %lu\n", share);
        CloseHandle(holder);
    }
    logWrite("after\n");
    EXPECT_EQ(testLogMessages(), (std::vector<std::string>{"before", "while held, sharing 7", "after"}));
}

// The stop gives up a dump without waiting for a record stuck in the log's open.
TEST_F(LogTest, StopAbandonsTheDumpWithoutWaitingForAStuckRecord)
{
    HANDLE writer = startStuckRecord();
    testStages->threadDumpState = DUMP_WRITING;
    ULONGLONG start = GetTickCount64();
    abandonThreadDump(&testStages->threadDumpState);
    EXPECT_LT(GetTickCount64() - start, (ULONGLONG)LOG_STOP_WAIT_MS + 1000);
    EXPECT_EQ(testStages->threadDumpState, DUMP_ABANDONED);
    testStages->threadDumpState = DUMP_NONE;
    releaseStuckRecord(writer);
}

// A child process that inherits handles, created while a record is being
// written, must not get the log: it would hold it open, unshared, and every
// later record would be lost. The child stays suspended; it only has to exist.
TEST_F(LogTest, ChildProcessCreatedWhileARecordIsWrittenDoesNotHoldTheLog)
{
    logWrite("before\n");
    char self[MAX_PATH];
    ASSERT_GT(GetModuleFileNameA(NULL, self, sizeof self), 0u);
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION child = {};
    FILE *file = logOpen(NULL);
    ASSERT_NE(file, nullptr);
    ASSERT_TRUE(CreateProcessA(self, NULL, NULL, NULL, TRUE, CREATE_SUSPENDED, NULL, NULL, &startup, &child));
    fclose(file);
    logWrite("after\n");
    TerminateProcess(child.hProcess, 0);
    WaitForSingleObject(child.hProcess, INFINITE);
    CloseHandle(child.hThread);
    CloseHandle(child.hProcess);
    EXPECT_EQ(testLogMessages(), (std::vector<std::string>{"before", "after"}));
}

// A file with a second name is not written: the other name may lie anywhere
// on the volume. Records come back once the file has one name again. (Wine
// makes no symbolic links from a Windows program; the end-to-end tests plant
// one from outside.)
TEST_F(LogTest, FileWithASecondNameIsNotWritten)
{
    std::string elsewhere = makeTempDir("elsewhere") + "\\target.txt";
    struct LinkCase {
        const char *name;
        const char *existing;
        const char *newName;
    } cases[] = {
        {"log path is a second name of another file", elsewhere.c_str(), logFilePath},
        {"the log file got a second name", logFilePath, elsewhere.c_str()},
    };
    for (const LinkCase &c : cases) {
        DeleteFileA(logFilePath);
        writeFile(elsewhere, "kept\r\n");
        if (std::string(c.existing) == logFilePath)
            logWrite("before\n");
        DeleteFileA(c.newName);
        ASSERT_TRUE(CreateHardLinkA(c.newName, c.existing, NULL)) << c.name;
        std::string before = testLogText();
        logWrite("dropped\n");
        EXPECT_EQ(testLogText(), before) << c.name;
        ASSERT_TRUE(DeleteFileA(elsewhere.c_str())) << c.name;
        logWrite("again\n");
        std::vector<std::string> lines = testLogMessages();
        ASSERT_FALSE(lines.empty()) << c.name;
        EXPECT_EQ(lines.back(), "again") << c.name;
        EXPECT_EQ(std::count(lines.begin(), lines.end(), "dropped"), 0) << c.name;
    }
}

TEST_F(LogTest, MissingDirectoryDropsRecordsSilently)
{
    std::string missing = makeTempDir("gone");
    removeTree(missing);
    std::string path = missing + "\\velmoraneservice.log";
    logFilePath = path.c_str();
    logWrite("lost %s\n", "record");
    EXPECT_EQ(GetFileAttributesA(path.c_str()), INVALID_FILE_ATTRIBUTES);
    EXPECT_EQ(GetFileAttributesA(missing.c_str()), INVALID_FILE_ATTRIBUTES);
}

TEST_F(LogTest, LateCallsAfterTheLockIsRetiredAreDropped)
{
    logWrite("last\n");
    logRetire();
    logWrite("late\n");
    logWrite("later %d\n", 2);
    EXPECT_EQ(testLogMessages(), (std::vector<std::string>{"last"}));
}

DWORD WINAPI logManyRecords(LPVOID parameter)
{
    const char *tag = (const char *)parameter;
    for (int i = 0; i < 300; i++)
        logWrite("%s record %d with some text to make it longer than one write\n", tag, i);
    return 0;
}

TEST_F(LogTest, RecordsOfConcurrentThreadsNeverInterleave)
{
    HANDLE threads[3];
    const char *tags[3] = {"launcher", "shutdown", "third"};
    for (int i = 0; i < 3; i++)
        threads[i] = CreateThread(NULL, 0, logManyRecords, (LPVOID)tags[i], 0, NULL);
    WaitForMultipleObjects(3, threads, TRUE, INFINITE);
    for (HANDLE thread : threads)
        CloseHandle(thread);

    std::string text = testLogText();
    std::vector<std::string> lines = testLogMessages();
    ASSERT_EQ(lines.size(), 900u);
    int next[3] = {0, 0, 0};
    size_t at = 0;
    for (const std::string &line : lines) {
        EXPECT_TRUE(isStamp(text.substr(at, 18)));
        at += 18 + line.size() + 2;
        int which = -1;
        for (int i = 0; i < 3; i++)
            if (line.rfind(std::string(tags[i]) + " record ", 0) == 0)
                which = i;
        ASSERT_NE(which, -1) << line;
        char expected[128];
        snprintf(expected, sizeof expected, "%s record %d with some text to make it longer than one write", tags[which],
                 next[which]++);
        EXPECT_EQ(line, expected);
    }
}

std::vector<std::string> sunkRecords;

void sinkRecord(const char *stamp, const char *text)
{
    sunkRecords.push_back(std::string(stamp) + "|" + text);
}

// The console's seam: with a sink set the records go there, formatted and
// stamped, and the file is not touched; without one, to the file again.
TEST_F(LogTest, SinkTakesTheRecordsInsteadOfTheFile)
{
    sunkRecords.clear();
    logSink = sinkRecord;
    logWrite("Base path '%s'\n", "C:\\Apps\\Velmorane\\");
    logSink = NULL;
    ASSERT_EQ(sunkRecords.size(), 1u);
    EXPECT_TRUE(isStamp(sunkRecords[0].substr(0, 18))) << sunkRecords[0];
    EXPECT_EQ(sunkRecords[0].substr(18), "|Base path 'C:\\Apps\\Velmorane\\'\n");
    EXPECT_EQ(testLogText(), "");
    logWrite("Detached thread\n");
    EXPECT_EQ(testLogText().substr(18), "Detached thread\r\n");
}

} // namespace

namespace {

// The log is written only when it belongs to the system, the installer or
// the service's own account: a file someone else made beforehand at the
// path could be read or forged by them.
TEST(LogOwner, OnlyTheSystemOrTheServicesAccount)
{
    PSID self = NULL;
    ASSERT_TRUE(ConvertStringSidToSidW(L"S-1-5-21-7-7-7-1000", &self));
    const struct {
        const wchar_t *sddl;
        bool trusted;
    } cases[] = {
        {L"O:SYD:", true},
        {L"O:BAD:", true},
        {L"O:S-1-5-80-956008885-3418522649-1831038044-1853292631-2271478464D:", true},
        {L"O:S-1-5-21-7-7-7-1000D:", true}, // the account the service runs as
        {L"O:S-1-5-21-7-7-7-1001D:", false},
        {L"O:BUD:", false},
        {L"O:WDD:", false},
    };
    for (const auto &c : cases) {
        PSECURITY_DESCRIPTOR descriptor = NULL;
        ASSERT_TRUE(ConvertStringSecurityDescriptorToSecurityDescriptorW(c.sddl, SDDL_REVISION_1, &descriptor, NULL));
        EXPECT_EQ(isTrustedLogOwner(descriptor, self), c.trusted) << (const void *)c.sddl;
        LocalFree(descriptor);
    }
    LocalFree(self);
}

// On a record's own open someone else's log gets no record, unless the console
// names that account as the service's. (Made up: Wine gives files one owner.)
TEST_F(LogTest, FileOfAnotherOwnerGetsNoRecord)
{
    fileOwnerQuery = [](HANDLE, PSECURITY_DESCRIPTOR *owner) -> DWORD {
        return !ConvertStringSecurityDescriptorToSecurityDescriptorW(L"O:S-1-5-21-7-7-7-1001", SDDL_REVISION_1,
                                                                     owner, NULL);
    };
    logWrite("dropped\n");
    ConvertStringSidToSidW(L"S-1-5-21-7-7-7-1001", &logOwnerAccount);
    logWrite("the service's own\n");
    logOwnerAccount = NULL;
    fileOwnerQuery = queryFileOwner;
    EXPECT_EQ(testLogMessages(), (std::vector<std::string>{"the service's own"}));
}

// The check's look at the log: the same open and the same refusals, and
// nothing created.
TEST_F(LogTest, InspectionTellsWhatARecordWouldMeet)
{
    LogFileCheck check;
    logInspect(&check);
    EXPECT_EQ(check.state, LOG_FILE_ABSENT);
    EXPECT_EQ(GetFileAttributesA(logFilePath), INVALID_FILE_ATTRIBUTES);
    logWrite("one\n");
    logInspect(&check);
    EXPECT_EQ(check.state, LOG_FILE_PLAIN);
    EXPECT_EQ(check.size, 18u + 5u);
    HANDLE holder = CreateFileA(logFilePath, GENERIC_READ, FILE_SHARE_READ, NULL, OPEN_EXISTING, 0, NULL);
    logInspect(&check);
    EXPECT_EQ(check.state, LOG_FILE_UNOPENABLE);
    EXPECT_EQ(check.error, (DWORD)ERROR_SHARING_VIOLATION);
    CloseHandle(holder);
    std::string other = makeTempDir("inspect") + "\\other.txt";
    ASSERT_TRUE(CreateHardLinkA(other.c_str(), logFilePath, NULL));
    logInspect(&check);
    EXPECT_EQ(check.state, LOG_FILE_SECOND_NAME);
}

} // namespace
