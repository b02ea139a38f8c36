// The operator's console: the permission decision on descriptors from SDDL
// strings, and the reading of the last start from log text.
#include <gtest/gtest.h>

#include <windows.h>
#include <sddl.h>
#include <stdio.h>
#include <stdlib.h>

#include <algorithm>
#include <string>
#include <vector>

#include "console/access/account_access.h"
#include "console/check/check.h"
#include "console/status/json_text.h"
#include "console/status/last_start.h"
#include "launcher/remedies.h"
#include "console/report.h"
#include "console/service_view.h"
#include "console/status/stamp_time.h"
#include "console/status/status.h"
#include "console/access/write_access.h"
#include "test_support.h"

namespace {

// The string SIDs of the principals the decision finds.
std::vector<std::string> writersIn(PSECURITY_DESCRIPTOR descriptor, int *unjudged, bool judgeOwner = true,
                                   PSID account = NULL)
{
    PSID writers[8];
    int count = findOtherWriters(descriptor, judgeOwner, account, writers, 8, unjudged);
    std::vector<std::string> result;
    for (int i = 0; i < count; i++) {
        char *text = NULL;
        ConvertSidToStringSidA(writers[i], &text);
        result.push_back(text);
        LocalFree(text);
    }
    return result;
}

// The string SIDs of the principals the decision finds.
std::vector<std::string> writersOf(const wchar_t *sddl, bool judgeOwner = true, PSID account = NULL)
{
    PSECURITY_DESCRIPTOR descriptor = NULL;
    EXPECT_TRUE(ConvertStringSecurityDescriptorToSecurityDescriptorW(sddl, SDDL_REVISION_1, &descriptor, NULL));
    int unjudged = -1;
    std::vector<std::string> result = writersIn(descriptor, &unjudged, judgeOwner, account);
    EXPECT_EQ(unjudged, 0);
    LocalFree(descriptor);
    return result;
}

struct PermissionCase {
    const char *name;
    const wchar_t *sddl;
    std::vector<std::string> writers;
};

TEST(WriteAccess, FindsWhoElseMayWriteOrCreate)
{
    const PermissionCase cases[] = {
        {"trusted only", L"O:BAG:SYD:(A;OICI;FA;;;BA)(A;OICI;FA;;;SY)(A;OICI;0x1200a9;;;BU)", {}},
        {"installer", L"O:SYD:(A;;FA;;;S-1-5-80-956008885-3418522649-1831038044-1853292631-2271478464)", {}},
        // An owner may change the list: trusted only as one of the three above.
        {"an ordinary owner", L"O:S-1-5-21-1-2-3-1001D:(A;OICI;FA;;;S-1-5-21-1-2-3-1001)", {"S-1-5-21-1-2-3-1001"}},
        {"an ordinary owner, nothing granted", L"O:S-1-5-21-1-2-3-1001D:(A;;FA;;;BA)", {"S-1-5-21-1-2-3-1001"}},
        {"creator owner stands for the creator", L"O:BAD:(A;OICIIO;FA;;;CO)(A;;FA;;;BA)", {}},
        {"users modify", L"O:BAD:(A;OICI;FA;;;BA)(A;OICI;0x1301bf;;;AU)", {"S-1-5-11"}},
        // What the root of a system drive gives users: they may create folders.
        {"users create folders", L"O:BAD:(A;;0x4;;;BU)(A;CIIO;0x2;;;BU)", {"S-1-5-32-545"}},
        // Inherit-only entries reach every jar and jvm.dll inside.
        {"inherit-only grant", L"O:BAD:(A;OICIIO;GA;;;BU)", {"S-1-5-32-545"}},
        {"inherit-only, inherited by nothing", L"O:BAD:(A;IO;GA;;;BU)", {}},
        {"generic write", L"O:BAD:(A;;GW;;;WD)", {"S-1-1-0"}},
        {"take ownership", L"O:BAD:(A;;WO;;;S-1-5-21-9-9-9-500)", {"S-1-5-21-9-9-9-500"}},
        {"denied before granted", L"O:BAD:(D;;0x50006;;;BU)(A;;0x1301bf;;;BU)", {}},
        {"denied in part", L"O:BAD:(D;;0x2;;;BU)(A;;0x6;;;BU)", {"S-1-5-32-545"}},
        {"two others", L"O:BAD:(A;;FA;;;AU)(A;;FW;;;IU)", {"S-1-5-11", "S-1-5-4"}},
    };
    for (const PermissionCase &c : cases)
        EXPECT_EQ(writersOf(c.sddl), c.writers) << c.name;
    // Where every file is one account's (Wine), that account is nobody in particular.
    EXPECT_EQ(writersOf(L"O:S-1-5-21-1-2-3-1001D:(A;OICI;FA;;;S-1-5-21-1-2-3-1001)(A;;FA;;;BU)", false),
              std::vector<std::string>{"S-1-5-32-545"});
}

// A callback entry grants by a condition the decision does not weigh: it is
// counted as such, not taken for a grant or passed over in silence.
TEST(WriteAccess, CallbackEntriesAreCountedUnjudged)
{
    BYTE aclBytes[256];
    PACL acl = (PACL)aclBytes;
    ASSERT_TRUE(InitializeAcl(acl, sizeof aclBytes, ACL_REVISION));
    PSID users = NULL;
    ASSERT_TRUE(ConvertStringSidToSidW(L"S-1-5-32-545", &users));
    BYTE aceBytes[64] = {};
    ACCESS_ALLOWED_CALLBACK_ACE *ace = (ACCESS_ALLOWED_CALLBACK_ACE *)aceBytes;
    ace->Header.AceType = ACCESS_ALLOWED_CALLBACK_ACE_TYPE;
    ace->Header.AceSize = (WORD)(FIELD_OFFSET(ACCESS_ALLOWED_CALLBACK_ACE, SidStart) + GetLengthSid(users));
    ace->Mask = FILE_ALL_ACCESS;
    CopySid(GetLengthSid(users), (PSID)&ace->SidStart, users);
    ASSERT_TRUE(AddAce(acl, ACL_REVISION, MAXDWORD, ace, ace->Header.AceSize));
    SECURITY_DESCRIPTOR descriptor;
    ASSERT_TRUE(InitializeSecurityDescriptor(&descriptor, SECURITY_DESCRIPTOR_REVISION));
    ASSERT_TRUE(SetSecurityDescriptorDacl(&descriptor, TRUE, acl, FALSE));
    int unjudged = 0;
    EXPECT_TRUE(writersIn(&descriptor, &unjudged).empty());
    EXPECT_EQ(unjudged, 1);
    LocalFree(users);
}

// Wine's SDDL parser makes an empty list of "D:NO_ACCESS_CONTROL", not none:
// the descriptor without a list is built directly.
TEST(WriteAccess, NoAccessListLetsEveryoneWrite)
{
    SECURITY_DESCRIPTOR descriptor;
    ASSERT_TRUE(InitializeSecurityDescriptor(&descriptor, SECURITY_DESCRIPTOR_REVISION));
    ASSERT_TRUE(SetSecurityDescriptorDacl(&descriptor, TRUE, NULL, FALSE));
    PSID writers[2];
    int unjudged = 0;
    ASSERT_EQ(findOtherWriters(&descriptor, true, NULL, writers, 2, &unjudged), 1);
    char *text = NULL;
    ConvertSidToStringSidA(writers[0], &text);
    EXPECT_STREQ(text, "S-1-1-0");
    LocalFree(text);
}

std::string logOf(const std::vector<std::string> &texts)
{
    std::string log;
    for (const std::string &text : texts)
        log += (text.empty() ? "" : "12/07/26 08:43:13 ") + text + "\r\n";
    return log;
}

const char *const kBanner = "***** Velmorane Windows service starting *****";
const char *const kLoaded = "Success loading jvm.dll at C:\\Apps\\jdk\\jre\\bin\\server\\jvm.dll";
const char *const kClass = "Can't find class com/orvenda/calistren/test/lt/nextgen/Velmorane";

// Only the last start counts, whichever way the earlier ones went.
TEST(LastStart, ReadsTheRecordsAfterTheLastBanner)
{
    const std::vector<std::string> good = {kBanner, kLoaded, "Successfully created JVM", "Invoking main()",
                                           "Shutdown method called on class X", "Detached thread"};
    const std::vector<std::string> failed = {kBanner, "Failed to load jvm.dll at C:\\a\\jvm.dll"};
    std::vector<std::string> goodLast = failed;
    goodLast.insert(goodLast.end(), good.begin(), good.end());
    std::string text = logOf(goodLast);
    LastStart start;
    readLastStart(&text[0], &start);
    ASSERT_NE(start.bannerStamp, nullptr);
    EXPECT_EQ(std::string(start.bannerStamp, 17), "12/07/26 08:43:13");
    EXPECT_STREQ(start.jvmLoaded, "C:\\Apps\\jdk\\jre\\bin\\server\\jvm.dll");
    EXPECT_TRUE(start.mainInvoked);
    EXPECT_EQ(start.startFailure, nullptr);
    EXPECT_TRUE(start.shutdownCalled && start.detached && !start.shutdownThrew);
    EXPECT_EQ(start.stopFailure, nullptr);

    std::vector<std::string> failedLast = good;
    failedLast.insert(failedLast.end(), failed.begin(), failed.end());
    text = logOf(failedLast);
    readLastStart(&text[0], &start);
    EXPECT_EQ(start.jvmLoaded, nullptr);
    EXPECT_FALSE(start.mainInvoked || start.shutdownCalled);
    EXPECT_STREQ(start.startFailure, "Failed to load jvm.dll at C:\\a\\jvm.dll");
}

struct StartCase {
    const char *name;
    std::vector<std::string> records; // after the banner
    const char *startFailure;
    const char *stopFailure;
    int notes;
};

TEST(LastStart, TellsTheStartsFailureFromTheStops)
{
    const StartCase cases[] = {
        {"no jvm", {"Failed to load jvm.dll at C:\\a", "Failed to load jvm.dll at C:\\b"}, "Failed to load jvm.dll at C:\\b",
         nullptr, 0},
        {"no class, then a stop", {kLoaded, "Successfully created JVM", kClass, kClass, "Detached thread"}, kClass, kClass, 0},
        {"class lost at stop", {kLoaded, "Invoking main()", kClass}, nullptr, kClass, 0},
        {"vm refused", {kLoaded, "Can't create Java VM.  Return code -3", "No Java VM was created, shutdown() not called"},
         "Can't create Java VM.  Return code -3", "No Java VM was created, shutdown() not called", 0},
        {"no lib, notes", {"The lib directory was not found, trying plugins",
                           "Can't convert the VLCLASSPATH environment variable, it is ignored"},
         nullptr, nullptr, 2},
        {"continuation lines", {"-Djava.class.path=;", "", "Can't find main()"}, "Can't find main()", nullptr, 0},
    };
    for (const StartCase &c : cases) {
        std::vector<std::string> texts = {kBanner};
        texts.insert(texts.end(), c.records.begin(), c.records.end());
        std::string text = logOf(texts);
        LastStart start;
        readLastStart(&text[0], &start);
        EXPECT_STREQ(start.startFailure, c.startFailure) << c.name;
        EXPECT_STREQ(start.stopFailure, c.stopFailure) << c.name;
        EXPECT_EQ(start.startNoteCount, c.notes) << c.name;
    }
}

// Each "Java exception: " record belongs to the failure line just before it.
TEST(LastStart, JavaExceptionsGoWithTheirFailureLines)
{
    std::string text = logOf({kBanner, kLoaded, "Successfully created JVM", kClass, "Java exception: A", kClass,
                              "Java exception: B", "Detached thread"});
    LastStart start;
    readLastStart(&text[0], &start);
    EXPECT_STREQ(start.startException, "Java exception: A");
    EXPECT_STREQ(start.stopException, "Java exception: B");

    text = logOf({kBanner, kLoaded, "Invoking main()", "Call to main() resulted in exception", "Java exception: C",
                  "Call to shutdown() resulted in exception", "Java exception: D", "Shutdown method called on class X"});
    readLastStart(&text[0], &start);
    EXPECT_STREQ(start.mainFailure, "Call to main() resulted in exception");
    EXPECT_STREQ(start.mainException, "Java exception: C");
    EXPECT_TRUE(start.shutdownThrew && start.shutdownCalled);
    EXPECT_STREQ(start.stopException, "Java exception: D");
    EXPECT_EQ(start.startException, nullptr);
}

// Only a running application whose main did not throw is all well; a start
// that failed, main's exception included, is a problem whatever the state.
TEST(LastStart, ExitCodeOfTheStatus)
{
    const std::string kDumpBegin = "shutdown() has not returned after 15 s, Java threads: 2";
    struct CodeCase {
        const char *name;
        std::vector<std::string> records; // after the banner
        DWORD state;
        int code;
        ProcessLife process = PROCESS_UNKNOWN;
    } cases[] = {
        {"running", {kLoaded, "Invoking main()"}, SERVICE_RUNNING, 0},
        {"main threw, running", {kLoaded, "Invoking main()", "Call to main() resulted in exception"}, SERVICE_RUNNING, 2},
        {"main threw, stopped", {kLoaded, "Invoking main()", "Call to main() resulted in exception"}, SERVICE_STOPPED, 2},
        {"stopped after a good start", {kLoaded, "Invoking main()", "Detached thread"}, SERVICE_STOPPED, 1},
        {"no jvm", {"Failed to load jvm.dll at C:\\a"}, SERVICE_RUNNING, 2},
        {"under way", {kLoaded}, SERVICE_RUNNING, 2},
        {"ended without a record", {kLoaded}, SERVICE_STOPPED, 1},
        // A stop that did not end cleanly, and a process that ended with no stop in the log.
        {"shutdown() past its bound", {"Invoking main()", kDumpBegin}, SERVICE_STOPPED, 2},
        {"still within it", {"Invoking main()", kDumpBegin}, SERVICE_STOP_PENDING, 1},
        {"attach failed", {"Invoking main()", "AttachCurrentThread failed"}, SERVICE_STOPPED, 2},
        {"shutdown() threw", {"Invoking main()", "Call to shutdown() resulted in exception"}, SERVICE_STOPPED, 2},
        {"ended, no stop", {"Invoking main()"}, SERVICE_STOPPED, 2, PROCESS_GONE},
        {"running, process gone", {"Invoking main()"}, SERVICE_RUNNING, 2, PROCESS_GONE},
    };
    for (const CodeCase &c : cases) {
        std::vector<std::string> texts = {kBanner};
        texts.insert(texts.end(), c.records.begin(), c.records.end());
        std::string text = logOf(texts);
        LastStart start;
        readLastStart(&text[0], &start);
        EXPECT_EQ(statusExitCode(&start, c.state, c.process), c.code) << c.name;
    }
}

TEST(LastStart, ControlBytesFromTheLogBecomeBlanks)
{
    char text[] = "12/07/26 08:43:13 Java exception: a\x1b[2J\x07\x08\x1a\x7f\tb\r\nnext\r\n";
    blankControls(text);
    EXPECT_STREQ(text, "12/07/26 08:43:13 Java exception: a [2J     b\r\nnext\r\n");
}

// The thread in shutdown() and its top frames from a dump, whatever is written between them.
TEST(LastStart, KeepsTheTopFramesOfTheThreadInShutdown)
{
    std::vector<std::string> texts = {kBanner, "Shutdown thread \"T\" WAITING", "    at a(A.java:1)", "Detached thread"};
    texts.insert(texts.end(), SHUTDOWN_FRAME_LIMIT, "    at b(B.java:2)");
    texts.insert(texts.end(), {"Java thread \"main\" WAITING", "    at c", "The dump of the Java threads was cut off"});
    std::string text = logOf(texts);
    LastStart start;
    readLastStart(&text[0], &start);
    EXPECT_STREQ(start.shutdownStack, "Shutdown thread \"T\" WAITING");
    ASSERT_EQ(start.shutdownFrameCount, SHUTDOWN_FRAME_LIMIT);
    EXPECT_STREQ(start.shutdownFrames[0], "    at a(A.java:1)");
    EXPECT_STREQ(start.shutdownFrames[SHUTDOWN_FRAME_LIMIT - 1], "    at b(B.java:2)");
    EXPECT_STREQ(start.dumpEnd, "The dump of the Java threads was cut off");
    EXPECT_TRUE(start.detached && start.stopFailure == nullptr);
}

TEST(LastStart, NoBannerNoStart)
{
    std::string text = logOf({"Invoking main()"}) + "x ***** Velmorane Windows service starting *****\r\n";
    LastStart start;
    readLastStart(&text[0], &start);
    EXPECT_EQ(start.bannerStamp, nullptr);
    EXPECT_FALSE(start.mainInvoked);
}

// A refused log file is named with why and whose; owners judged against the registration's account.
TEST(StatusLog, RefusedFileIsNamedWithItsOwner)
{
    LogFileCheck check = {LOG_FILE_PLAIN, 0, 0, "S-1-5-21-7-7-7-1001"};
    EXPECT_FALSE(logRefused(&check));
    check.state = LOG_FILE_FOREIGN_OWNER;
    char line[1024] = "";
    refusedLogLine(&check, "PC\\mallory", line, sizeof line);
    EXPECT_TRUE(logRefused(&check));
    EXPECT_STREQ(line, "c:\\windows\\temp\\velmoraneservice.log is not the service's log: a file that belongs to "
                       "neither the system nor the service's account, owned by PC\\mallory (S-1-5-21-7-7-7-1001); the "
                       "service writes no record to it, and status reports none of it");
    const std::pair<const wchar_t *, const char *> accounts[] = {
        {NULL, "S-1-5-18"}, {L"LocalSystem", "S-1-5-18"}, {L"NT AUTHORITY\\LocalService", "S-1-5-19"}, {L".\\no", ""}};
    for (const auto &[name, expected] : accounts) {
        BYTE sid[SECURITY_MAX_SID_SIZE];
        char *text = NULL;
        EXPECT_STREQ(registeredAccountSid(name, sid, sizeof sid) && ConvertSidToStringSidA(sid, &text) ? text : "",
                     expected);
        LocalFree(text);
    }
}

} // namespace

// ---------------------------------------------------------------- sections on made-up snapshots

namespace {

// What a section prints, line by line, standard output caught in a file.
std::vector<std::string> printedBy(void (*section)(const Snapshot *), const Snapshot *snapshot)
{
    std::string text = printedText([&] { section(snapshot); });
    std::vector<std::string> lines;
    for (size_t at = 0, end; at < text.size(); at = end + 1) {
        end = text.find('\n', at);
        if (end == std::string::npos)
            end = text.size();
        std::string line = text.substr(at, end - at);
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        lines.push_back(line);
    }
    return lines;
}

void addEntry(Snapshot *snapshot, const wchar_t *name, EntryVerdict verdict)
{
    ClassPathResult *result = &snapshot->stages->results.classPath;
    lstrcpynW(snapshot->entries[result->entryCount].name, name, MAX_PATH);
    snapshot->entries[result->entryCount++].verdict = verdict;
}

// A finding names as many paths as it has, each as given.
TEST(Report, AFindingNamesEveryPathItIsGiven)
{
    std::vector<std::string> lines = printedBy(
        [](const Snapshot *) {
            reportSection("Paths");
            reportFinding(FINDING_OK, "%s %s %s %s %s %s", reportPath(L"a"), reportPath(L"b"), reportPath(L"c"),
                          reportPath(L"d"), reportPath(L"e"), reportPath(L"f"));
        },
        nullptr);
    EXPECT_EQ(lines[2], "  ok       a b c d e f");
}

struct SectionCase {
    const char *name;
    void (*section)(const Snapshot *);
    void (*fill)(Snapshot *);
    std::vector<std::string> lines; // after the section's title
};

TEST(CheckSections, ReportWhatTheStagesFound)
{
    static const wchar_t base[] = L"C:\\Apps\\Velmorane\\";
    const SectionCase cases[] = {
        {"jars, one left out for its case, the first cut off", checkClassPath,
         [](Snapshot *s) {
             s->stages->results.classPath.folder = CLASS_PATH_FROM_LIB;
             addEntry(s, L"a.jar", ENTRY_ON_CLASS_PATH);
             addEntry(s, L"B.JAR", ENTRY_NOT_A_JAR);
             addEntry(s, L"c.jar", ENTRY_CUT_OFF);
             addEntry(s, L"d.jar", ENTRY_CUT_OFF);
             lstrcpynW(s->stages->results.classPath.firstCutJar, L"c.jar", MAX_PATH);
             s->stages->results.classPath.jarCount = 1;
             s->stages->results.classPath.optionLength = 32765;
         },
         {"  ok       lib\\ found: C:\\Apps\\Velmorane\\lib\\", "  ok       jar a.jar",
          "  warning  B.JAR is left out: only names ending in \".jar\", lower case, count",
          "           -> rename it to end in \".jar\"",
          "  problem  the class path is longer than the service's buffer of 32766 bytes: it is cut at c.jar, the first jar lost",
          "           -> use fewer or shorter-named jars, or a shorter installation path",
          "  ok       class path option: 32765 bytes; the service's buffer holds 32766"}},
        {"a class path VLCLASSPATH replaces is never called cut", checkClassPath,
         [](Snapshot *s) {
             s->stages->results.classPath.folder = CLASS_PATH_FROM_LIB;
             addEntry(s, L"c.jar", ENTRY_CUT_OFF);
             lstrcpynW(s->stages->results.classPath.firstCutJar, L"c.jar", MAX_PATH);
             s->stages->results.classPath.overridden = true;
             s->inputs.classPath = L"D:\\x.jar";
             s->stages->results.classPath.optionLength = 26;
         },
         {"  ok       lib\\ found: C:\\Apps\\Velmorane\\lib\\",
          "  warning  VLCLASSPATH is set and replaces the class path from lib\\: D:\\x.jar",
          "           -> remove VLCLASSPATH unless the application needs exactly that class path",
          "  ok       class path option: 26 bytes; the service's buffer holds 32766"}},
        {"the runtime's class file version is too old", checkApplication,
         [](Snapshot *s) {
             s->withJvm = true;
             s->stages->results.probe.jvmLoaded = 2;
             s->stages->results.jvm = {.optionsAssembled = true, .exportFound = true, .createCalled = true, .created = true};
             lstrcpynA(s->stages->results.jvm.exception, "java.lang.UnsupportedClassVersionError: X", EXCEPTION_TEXT_CAPACITY);
         },
         {"  ok       JVM created with the service's options",
          "  problem  Can't find class com/orvenda/calistren/test/lt/nextgen/Velmorane",
          "  problem  Java exception: java.lang.UnsupportedClassVersionError: X",
          "           -> " NEWER_JAVA_REMEDY}},
        {"the virtual machine refused its version", checkApplication,
         [](Snapshot *s) {
             s->withJvm = true;
             s->stages->results.probe.jvmLoaded = 0;
             s->stages->results.jvm = {.optionsAssembled = true, .exportFound = true, .createCalled = true, .createResult = -3};
         },
         {"  problem  Can't create Java VM.  Return code -3",
          "           -> The runtime does not offer JNI version 1.6: use Java 8 or later."}},
        {"every variable the service or its virtual machine reads is listed", checkEnvironment, [](Snapshot *) {},
         {"  ok       VLJVMDLL is not set", "  ok       VLCLASSPATH is not set", "  ok       JAVA_TOOL_OPTIONS is not set",
          "  ok       _JAVA_OPTIONS is not set", "  ok       VLJAVAOUTPUT is not set", "  ok       VLJAVAOUTPUTSIZE is not set",
          "  ok       VLJAVAOUTPUTKEEP is not set", "  ok       VLSTOPONFAILURE is not set",
          "  ok       VLPRESHUTDOWN is not set"}},
    };
    for (const SectionCase &c : cases) {
        Snapshot *snapshot = (Snapshot *)calloc(1, sizeof(Snapshot));
        snapshot->stages = testStages;
        clearLaunchResults(&testStages->results);
        ASSERT_NE(snapshot, nullptr);
        snapshot->stages->results.paths.basePath = base;
        snapshot->stages->results.classPath.entries = snapshot->entries;
        snapshot->stages->results.classPath.entryCapacity = SNAPSHOT_ENTRY_LIMIT;
        c.fill(snapshot);
        std::vector<std::string> lines = printedBy(c.section, snapshot);
        ASSERT_GE(lines.size(), 2u) << c.name;
        EXPECT_EQ(std::vector<std::string>(lines.begin() + 2, lines.end() - (lines.back().empty() ? 1 : 0)), c.lines)
            << c.name;
        free(snapshot);
    }
}

} // namespace

// ---------------------------------------------------------------- permissions over made-up trees

#include "console/access/permissions.h"

namespace {

// The owner and access list of what only the trusted may change.
#define SOUND L"O:BAD:(A;OICI;FA;;;BA)(A;OICI;FA;;;SY)(A;OICI;0x1200a9;;;BU)"
#define USERS_MODIFY L"O:BAD:(A;OICI;FA;;;BA)(A;OICI;0x1301bf;;;BU)"
#define FOLDER FILE_ATTRIBUTE_DIRECTORY
#define JUNCTION (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)
#define SERVICE_KEY_OBJECT L"MACHINE\\SYSTEM\\CurrentControlSet\\Services\\VelmoraneService"
#define ENVIRONMENT_KEY_OBJECT L"MACHINE\\SYSTEM\\CurrentControlSet\\Control\\Session Manager\\Environment"

struct TreeEntry {
    std::wstring path; // a folder's with its closing backslash
    DWORD attributes;
    std::wstring sddl;
    std::string contents;
};

std::vector<TreeEntry> tree;

const TreeEntry *entryAt(const wchar_t *path)
{
    for (const TreeEntry &entry : tree)
        if (lstrcmpiW(entry.path.c_str(), path) == 0)
            return &entry;
    return nullptr;
}

DWORD treeAttributes(const wchar_t *path)
{
    return entryAt(path) != nullptr ? entryAt(path)->attributes : INVALID_FILE_ATTRIBUTES;
}

DWORD treeDescriptor(const wchar_t *path, SE_OBJECT_TYPE, PSECURITY_DESCRIPTOR *descriptor)
{
    return entryAt(path) == nullptr ? ERROR_FILE_NOT_FOUND
           : ConvertStringSecurityDescriptorToSecurityDescriptorW(entryAt(path)->sddl.c_str(), SDDL_REVISION_1,
                                                                  descriptor, NULL) ? ERROR_SUCCESS : GetLastError();
}

void treeListing(const wchar_t *folder, EntryVisitor visit, FolderList *list)
{
    size_t length = wcslen(folder);
    for (const TreeEntry &entry : std::vector<TreeEntry>(tree)) {
        if (entry.path.size() <= length || _wcsnicmp(entry.path.c_str(), folder, length) != 0)
            continue;
        std::wstring name = entry.path.substr(length);
        if (name.back() == L'\\')
            name.pop_back();
        if (name.find(L'\\') == std::wstring::npos)
            visit(list, name.c_str(), entry.attributes);
    }
}

DWORD treeContents(const wchar_t *path, char *buffer, DWORD capacity, DWORD *length)
{
    const TreeEntry *entry = entryAt(path);
    if (entry == nullptr)
        return ERROR_FILE_NOT_FOUND;
    *length = (DWORD)std::min<size_t>(entry->contents.size(), capacity);
    memcpy(buffer, entry->contents.data(), *length);
    return entry->contents.size() > capacity ? ERROR_MORE_DATA : ERROR_SUCCESS;
}

const PermissionSource treeSource = {treeAttributes, treeDescriptor, treeListing, treeContents};

// 64 principals denied, then a 65th granted.
std::wstring crowded()
{
    std::wstring sddl = L"O:BAD:";
    for (int i = 0; i < 64; i++)
        sddl += L"(D;;FA;;;S-1-5-21-1-2-3-" + std::to_wstring(1000 + i) + L")";
    return sddl + L"(A;;FA;;;BU)";
}

struct TreeCase {
    const char *name;
    std::vector<TreeEntry> changes; // replace or add to the installation's tree
    void (*fill)(Snapshot *);
    std::vector<std::string> lines; // all but the ok lines
};

TEST(PermissionTrees, JudgeEverythingTheServiceRuns)
{
    std::vector<TreeEntry> installation = {{SERVICE_KEY_OBJECT, 0, L"O:BAD:(A;CI;KA;;;BA)(A;CI;KR;;;BU)"},
                                           {ENVIRONMENT_KEY_OBJECT, 0, L"O:BAD:(A;CI;KA;;;BA)(A;CI;KR;;;BU)"},
                                           {L"VelmoraneService", 0, L"O:SYD:(A;;FA;;;SY)(A;;FA;;;BA)(A;;0x2018d;;;IU)"}};
    for (const wchar_t *path : {L"C:\\", L"C:\\Apps\\", L"C:\\Apps\\Velmorane\\", L"C:\\Apps\\Velmorane\\VelmoraneService.exe",
                                L"C:\\Apps\\Velmorane\\lib\\", L"C:\\Apps\\jdk\\", L"C:\\Apps\\jdk\\jre\\", L"C:\\Apps\\jdk\\jre\\bin\\",
                                L"C:\\Apps\\jdk\\jre\\bin\\java.dll", L"C:\\Apps\\jdk\\jre\\bin\\java.exe",
                                L"C:\\Apps\\jdk\\jre\\bin\\server\\", L"C:\\Apps\\jdk\\jre\\bin\\server\\jvm.dll",
                                L"C:\\Apps\\jdk\\jre\\lib\\", L"C:\\Apps\\jdk\\jre\\lib\\modules", L"C:\\Apps\\jdk\\jre\\lib\\jvm.cfg",
                                L"C:\\Apps\\jdk\\jre\\conf\\", L"C:\\Apps\\jdk\\jre\\conf\\security\\",
                                L"C:\\Apps\\jdk\\jre\\conf\\security\\java.security"})
        installation.push_back({path, path[wcslen(path) - 1] == L'\\' ? (DWORD)FOLDER : 0, SOUND});
    const TreeCase cases[] = {
        {"all sound: every new place has its ok line", {}, nullptr, {}},
        {"the executable", {{L"C:\\Apps\\Velmorane\\VelmoraneService.exe", 0, USERS_MODIFY}}, nullptr,
         {"  problem  BUILTIN\\Users (S-1-5-32-545) may write or create in C:\\Apps\\Velmorane\\VelmoraneService.exe",
          "           -> icacls \"C:\\Apps\\Velmorane\\VelmoraneService.exe\" /inheritance:d /remove:g *S-1-5-32-545"}},
        {"a library beside jvm.dll, a file of conf\\",
         {{L"C:\\Apps\\jdk\\jre\\bin\\server\\awt.dll", 0, USERS_MODIFY},
          {L"C:\\Apps\\jdk\\jre\\conf\\security\\java.security", 0, USERS_MODIFY}},
         nullptr,
         {"  problem  BUILTIN\\Users (S-1-5-32-545) may write or create in C:\\Apps\\jdk\\jre\\bin\\server\\awt.dll",
          "           -> icacls \"C:\\Apps\\jdk\\jre\\bin\\server\\awt.dll\" /inheritance:d /remove:g *S-1-5-32-545",
          "  problem  BUILTIN\\Users (S-1-5-32-545) may write or create in C:\\Apps\\jdk\\jre\\conf\\security\\java.security",
          "           -> icacls \"C:\\Apps\\jdk\\jre\\conf\\security\\java.security\" /inheritance:d /remove:g *S-1-5-32-545"}},
        {"users may take the root away, not only create beside it",
         {{L"C:\\", FOLDER, L"O:BAD:(A;;0x4;;;BU)(A;CIIO;0x2;;;BU)(A;OICIIO;0x1301bf;;;AU)(A;;0x40;;;IU)"}}, nullptr,
         {"  problem  NT AUTHORITY\\INTERACTIVE (S-1-5-4) may rename or delete what C:\\ holds, the installation root too",
          "           -> icacls C:\\ /inheritance:d /remove:g *S-1-5-4"}},
        {"the service's key", {{SERVICE_KEY_OBJECT, 0, L"O:BAD:(A;CI;KA;;;BA)(A;;0x2;;;BU)"}}, nullptr,
         {"  problem  BUILTIN\\Users (S-1-5-32-545) may change the service's key HKLM\\SYSTEM\\CurrentControlSet\\Services\\VelmoraneService",
          "           -> remove its entry: regedit, HKLM\\SYSTEM\\CurrentControlSet\\Services\\VelmoraneService, Permissions"}},
        {"the machine-wide environment's key, the service's configuration",
         {{ENVIRONMENT_KEY_OBJECT, 0, L"O:BAD:(A;CI;KA;;;BA)(A;;0x2;;;BU)"}, {L"VelmoraneService", 0, L"O:SYD:(A;;FA;;;BA)(A;;0x2;;;AU)"}},
         nullptr,
         {"  problem  BUILTIN\\Users (S-1-5-32-545) may change the machine-wide environment's key HKLM\\SYSTEM\\CurrentControlSet\\Control\\Session Manager\\Environment",
          "           -> remove its entry: regedit, HKLM\\SYSTEM\\CurrentControlSet\\Control\\Session Manager\\Environment, Permissions",
          "  problem  NT AUTHORITY\\Authenticated Users (S-1-5-11) may change the configuration of the service VelmoraneService and so may make it run any program as its account",
          "           -> take its rights away: sc sdshow VelmoraneService, then sc sdset VelmoraneService without its entries"}},
        {"a jar VLCLASSPATH names, an agent, the folder of a missing boot jar",
         {{L"D:\\", FOLDER, SOUND}, {L"D:\\x.jar", 0, USERS_MODIFY}, {L"D:\\a b\\", FOLDER, SOUND},
          {L"D:\\a b\\agent.jar", 0, USERS_MODIFY}, {L"D:\\boot\\", FOLDER, USERS_MODIFY}},
         [](Snapshot *s) {
             s->inputs.classPath = L"D:\\x.jar";
             lstrcpyW(s->environment.values[VARIABLE_JAVA_TOOL_OPTIONS],
                      L" -Xmx1g -javaagent:\"D:\\a b\\agent.jar\"=x=1  -Xbootclasspath/a:D:\\boot\\b.jar;rel.jar");
             s->environment.origins[VARIABLE_JAVA_TOOL_OPTIONS] = ORIGIN_SERVICE_ENVIRONMENT;
         },
         {"  problem  BUILTIN\\Users (S-1-5-32-545) may write or create in D:\\x.jar",
          "           -> icacls \"D:\\x.jar\" /inheritance:d /remove:g *S-1-5-32-545",
          "  problem  BUILTIN\\Users (S-1-5-32-545) may write or create in D:\\a b\\agent.jar",
          "           -> icacls \"D:\\a b\\agent.jar\" /inheritance:d /remove:g *S-1-5-32-545",
          "  problem  BUILTIN\\Users (S-1-5-32-545) may write or create in D:\\boot\\",
          "           -> icacls \"D:\\boot\" /inheritance:d /remove:g *S-1-5-32-545"}},
        {"options files one level deep, commands, module and Java 8 paths, paths not judged",
         {{L"D:\\", FOLDER, SOUND}, {L"D:\\opts.txt", 0, SOUND, "-javaagent:D:\\in.jar -XX:VMOptionsFile=D:\\nested.txt"},
          {L"D:\\in.jar", 0, USERS_MODIFY}, {L"D:\\nested.txt", 0, SOUND, "-javaagent:D:\\in2.jar"}, {L"D:\\in2.jar", 0, USERS_MODIFY},
          {L"D:\\flags", 0, SOUND, "# -javaagent:D:\\in2.jar\n+UseG1GC OnOutOfMemoryError=D:\\oom.exe"},
          {L"D:\\oom.exe", 0, USERS_MODIFY}, {L"D:\\big.txt", 0, SOUND, std::string(OPTIONS_FILE_CAPACITY, ' ') + "-javaagent:D:\\in2.jar"},
          {L"D:\\dump.exe", 0, USERS_MODIFY}, {L"D:\\patch.jar", 0, USERS_MODIFY}, {L"D:\\up\\", FOLDER, USERS_MODIFY},
          {L"D:\\p.jar", 0, USERS_MODIFY}, {L"D:\\ext\\", FOLDER, USERS_MODIFY}},
         [](Snapshot *s) {
             lstrcpyW(s->environment.values[VARIABLE_JAVA_TOOL_OPTIONS],
                      L"-XX:VMOptionsFile=D:\\opts.txt -XX:Flags=D:\\flags -XX:VMOptionsFile=D:\\big.txt -XX:VMOptionsFile=D:\\gone"
                      L" \"-XX:OnError=D:\\dump.exe %p;cmd /c D:\\x\" --patch-module=java.base=D:\\patch.jar"
                      L" --upgrade-module-path=D:\\up\\ -Xbootclasspath/p:D:\\p.jar -Djava.ext.dirs=D:\\ext\\ -Xlog:gc:file=\\\\srv\\gc");
             s->environment.origins[VARIABLE_JAVA_TOOL_OPTIONS] = ORIGIN_SERVICE_ENVIRONMENT;
         },
         {"  problem  BUILTIN\\Users (S-1-5-32-545) may write or create in D:\\in.jar",
          "           -> icacls \"D:\\in.jar\" /inheritance:d /remove:g *S-1-5-32-545",
          "  warning  -XX:OnOutOfMemoryError=D:\\oom.exe runs its commands as the service: whoever may change what they run gets the service's rights",
          "  problem  BUILTIN\\Users (S-1-5-32-545) may write or create in D:\\oom.exe",
          "           -> icacls \"D:\\oom.exe\" /inheritance:d /remove:g *S-1-5-32-545",
          "  warning  the options file D:\\big.txt holds more than 65536 bytes: the options past them are not judged",
          "  warning  the options file D:\\gone can't be read (error 2): the options it adds are not judged",
          "  warning  -XX:OnError=D:\\dump.exe %p;cmd /c D:\\x runs its commands as the service: whoever may change what they run gets the service's rights",
          "  problem  BUILTIN\\Users (S-1-5-32-545) may write or create in D:\\dump.exe",
          "           -> icacls \"D:\\dump.exe\" /inheritance:d /remove:g *S-1-5-32-545",
          "  problem  BUILTIN\\Users (S-1-5-32-545) may write or create in D:\\patch.jar",
          "           -> icacls \"D:\\patch.jar\" /inheritance:d /remove:g *S-1-5-32-545",
          "  problem  BUILTIN\\Users (S-1-5-32-545) may write or create in D:\\up\\",
          "           -> icacls \"D:\\up\" /inheritance:d /remove:g *S-1-5-32-545",
          "  problem  BUILTIN\\Users (S-1-5-32-545) may write or create in D:\\p.jar",
          "           -> icacls \"D:\\p.jar\" /inheritance:d /remove:g *S-1-5-32-545",
          "  problem  BUILTIN\\Users (S-1-5-32-545) may write or create in D:\\ext\\",
          "           -> icacls \"D:\\ext\" /inheritance:d /remove:g *S-1-5-32-545",
          "  warning  -Xlog:gc:file=\\\\srv\\gc names a path this check does not judge"}},
        {"class folders and unpacked jars: what they hold",
         {{L"D:\\", FOLDER, SOUND}, {L"D:\\classes\\", FOLDER, SOUND}, {L"D:\\classes\\a\\", FOLDER, SOUND},
          {L"D:\\classes\\a\\A.class", 0, USERS_MODIFY}, {L"C:\\Apps\\Velmorane\\lib\\u.jar", FOLDER, SOUND},
          {L"C:\\Apps\\Velmorane\\lib\\u.jar\\B.class", 0, USERS_MODIFY}},
         [](Snapshot *s) {
             static FolderEntry unpacked = {L"u.jar", ENTRY_ON_CLASS_PATH};
             s->stages->results.classPath = {&unpacked, 1, 1};
             s->inputs.classPath = L"D:\\classes\\";
         },
         {"  problem  BUILTIN\\Users (S-1-5-32-545) may write or create in C:\\Apps\\Velmorane\\lib\\u.jar\\B.class",
          "           -> icacls \"C:\\Apps\\Velmorane\\lib\\u.jar\\B.class\" /inheritance:d /remove:g *S-1-5-32-545",
          "  problem  BUILTIN\\Users (S-1-5-32-545) may write or create in D:\\classes\\a\\A.class",
          "           -> icacls \"D:\\classes\\a\\A.class\" /inheritance:d /remove:g *S-1-5-32-545"}},
        // The mends: a link named and not followed; CREATOR GROUP; principals past the 64th.
        {"junctions", {{L"C:\\Apps\\Velmorane\\lib\\", JUNCTION, USERS_MODIFY}, {L"C:\\Apps\\jdk\\jre\\conf\\security\\", JUNCTION, SOUND},
                       {L"C:\\Apps\\jdk\\jre\\conf\\security\\java.security", 0, USERS_MODIFY}}, nullptr,
         {"  warning  C:\\Apps\\Velmorane\\lib\\ is a link (a junction or a symbolic link): the service follows it, this check does not",
          "           -> put the folder or file itself in its place, or judge where it leads: fsutil reparsepoint query \"C:\\Apps\\Velmorane\\lib\"",
          "  warning  C:\\Apps\\jdk\\jre\\conf\\security\\ is a link (a junction or a symbolic link): the service follows it, this check does not",
          "           -> put the folder or file itself in its place, or judge where it leads: fsutil reparsepoint query \"C:\\Apps\\jdk\\jre\\conf\\security\""}},
        {"creator group", {{L"C:\\Apps\\", FOLDER, L"O:BAD:(A;OICI;FA;;;BA)(A;OICIIO;FA;;;CO)(A;OICIIO;0x1301bf;;;CG)"}}, nullptr,
         {"  problem  CREATOR GROUP (S-1-3-1) may write or create in C:\\Apps\\",
          "           -> icacls \"C:\\Apps\" /inheritance:d /remove:g *S-1-3-1"}},
        {"more principals than it tells apart", {{L"C:\\Apps\\jdk\\", FOLDER, crowded()}}, nullptr,
         {"  warning  C:\\Apps\\jdk\\: 1 access entry names more principals than the 64 this check tells apart",
          "           -> review them: icacls \"C:\\Apps\\jdk\""}},
    };
    for (const TreeCase &c : cases) {
        tree = installation;
        for (const TreeEntry &change : c.changes) {
            const TreeEntry *same = entryAt(change.path.c_str());
            same != nullptr ? (void)(tree[same - tree.data()] = change) : tree.push_back(change);
        }
        Snapshot *snapshot = (Snapshot *)calloc(1, sizeof(Snapshot));
        snapshot->stages = testStages;
        clearLaunchResults(&testStages->results);
        ASSERT_NE(snapshot, nullptr);
        snapshot->stages->results.paths = {L"C:\\Apps\\Velmorane\\VelmoraneService.exe", L"C:\\Apps\\Velmorane\\", L"C:\\Apps\\"};
        lstrcpyW(snapshot->jvmPaths[2], L"C:\\Apps\\jdk\\jre\\bin\\server\\jvm.dll");
        snapshot->stages->results.probe.runtimeLoaded = -1;
        snapshot->stages->results.probe.jvmLoaded = 2;
        if (c.fill != nullptr)
            c.fill(snapshot);
        std::vector<std::string> lines = printedBy([](const Snapshot *s) { judgePermissions(s, &treeSource, true, NULL); }, snapshot);
        std::vector<std::string> found;
        for (const std::string &line : lines)
            if (!line.empty() && line.compare(0, 4, "  ok") != 0)
                found.push_back(line);
        EXPECT_EQ(found, c.lines) << c.name;
        if (c.changes.empty())
            EXPECT_EQ(std::vector<std::string>(lines.end() - 4, lines.end()),
                      (std::vector<std::string>{
                          "  ok       the 9 files and folders of the runtime in C:\\Apps\\jdk\\jre\\: only administrators, SYSTEM and the installer may write",
                          "  ok       HKLM\\SYSTEM\\CurrentControlSet\\Services\\VelmoraneService: only administrators, SYSTEM and the installer may change it",
                          "  ok       HKLM\\SYSTEM\\CurrentControlSet\\Control\\Session Manager\\Environment: only administrators, SYSTEM and the installer may change it",
                          "  ok       the service VelmoraneService: only administrators, SYSTEM and the installer may change its configuration"}))
                << c.name;
        free(snapshot);
    }
}

// status --json: quotes and backslashes of a record (a Windows path, a Java
// exception's message) are escaped, and so are control bytes.
TEST(StatusJson, EscapesQuotesBackslashesAndControlBytes)
{
    static StatusFacts facts;
    facts = StatusFacts{};
    facts.status.dwCurrentState = SERVICE_STOPPED;
    facts.answered = true;
    facts.start.bannerStamp = "12/07/26 20:46:39 ";
    lstrcpynA(facts.startTime, "12/07/26 20:46:39", sizeof facts.startTime);
    facts.start.startFailure = "Can't find class com/x/\"Main\"";
    facts.start.startException = "java.lang.Error: C:\\Apps\\lib \x01";
    std::vector<std::string> lines = printedBy([](const Snapshot *) { printStatusJson(&facts); }, nullptr);
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_NE(lines[0].find(R"("record":"Can't find class com/x/\"Main\"")"), std::string::npos) << lines[0];
    EXPECT_NE(lines[0].find(R"("exception":"java.lang.Error: C:\\Apps\\lib \u0001")"), std::string::npos) << lines[0];
}

// Each outcome of the start and of the stop, read from made-up records, as
// its token and text; the shutdown thread as name, state and frames; the
// process and the Java output file; the text's lines for the same facts.
struct OutcomeCase {
    std::vector<std::string> records; // after the banner
    DWORD state;
    std::vector<std::string> fields;  // found in the object, in this order
    std::vector<std::string> text = {}; // lines of the text, in this order
    ProcessLife process = PROCESS_UNKNOWN;
    long long output = -2;            // the Java output's size; -1 unreadable, -2 none
};

TEST(StatusJson, OutcomesAndStatesAreTokens)
{
    const std::string main = "Invoking main()";
    const OutcomeCase cases[] = {
        {{main}, SERVICE_RUNNING,
         {R"j("state":"running","stateText":"running")j", R"j("processAlive":true)j",
          R"j("outcome":"main_invoked","outcomeText":"main invoked")j", R"j("jvmExitCode":null,"jvmExitText":null)j",
          R"j("stop":{"outcome":null,"outcomeText":null,"unclean":null)j", R"j("shutdownThread":null)j",
          R"j("javaOutput":{"path":"C:\\Apps\\java.out","size":52114,"error":0})j"},
         {"  main invoked", "Java output: C:\\Apps\\java.out, 52114 bytes"}, PROCESS_ALIVE, 52114},
        {{main, "The JVM is ending the process (System.exit or Runtime.halt) with exit code -2"}, SERVICE_STOPPED,
         {R"j("processAlive":false)j",
          R"j("jvmExitCode":-2,"jvmExitText":"The JVM is ending the process (System.exit or Runtime.halt) with exit code -2")j",
          R"j("unclean":null)j", R"j("javaOutput":{"path":"C:\\Apps\\java.out","size":null,"error":2})j"},
         {"Java output: C:\\Apps\\java.out can't be read (error 2)"}, PROCESS_GONE, -1},
        {{main}, SERVICE_RUNNING,
         {R"j("processAlive":false)j", R"j("stop":{"outcome":null,"outcomeText":null,"unclean":"process_ended")j",
          R"j("javaOutput":null)j"},
         {"  main invoked", "  stop: none in the log, yet the service's process is gone: it ended without a stop"},
         PROCESS_GONE},
        {{main, "Call to main() resulted in exception"}, SERVICE_START_PENDING,
         {R"j("state":"start_pending","stateText":"starting")j", R"j("outcome":"main_threw")j"}},
        {{"Can't find main()"}, SERVICE_NOT_INSTALLED, {R"j("state":"not_installed")j", R"j("outcome":"start_failed")j"}},
        {{"Successfully created JVM"}, SERVICE_PAUSED, {R"j("state":"paused")j", R"j("outcome":"start_unfinished")j"}},
        {{main, "Shutdown method called on class X"}, SERVICE_STOP_PENDING,
         {R"j("state":"stop_pending")j", R"j("outcome":"shutdown_returned","outcomeText":"shutdown returned")j"}},
        {{main, "Call to shutdown() resulted in exception"}, SERVICE_STOPPED,
         {R"j("outcome":"shutdown_threw","outcomeText":"shutdown threw","unclean":"shutdown_threw")j"}},
        {{main, "AttachCurrentThread failed"}, SERVICE_STOPPED,
         {R"j("outcome":"stop_failed","outcomeText":"failed","unclean":"attach_failed")j"},
         {"  main invoked", "  stop: AttachCurrentThread failed",
          "      -> The JVM could not take the stop thread: the service stops all the same; check the application's own log."}},
        {{main, "shutdown() has not returned after 15 s, Java threads: 2",
          R"j(Shutdown thread "a "quoted" name" TIMED_WAITING)j", "    at x.Y.shutdown(Y.java:3)", "    at x.Y.run(Y.java:1)",
          "Java thread \"main\" RUNNABLE", "    at z", "The Java threads could not be dumped"},
         SERVICE_STOPPED,
         {R"j("outcome":"no_shutdown_record","outcomeText":"no record of shutdown","unclean":"shutdown_not_returned")j",
          R"j("shutdownThread":{"name":"a \"quoted\" name","state":"timed_waiting","frames":["x.Y.shutdown(Y.java:3)","x.Y.run(Y.java:1)"]})j",
          R"j("shutdownThreadText":"Shutdown thread \"a \"quoted\" name\" TIMED_WAITING")j",
          R"j("shutdownFrames":["    at x.Y.shutdown(Y.java:3)","    at x.Y.run(Y.java:1)"])j",
          R"j("dumpEnd":"not_taken","dumpEndText":"The Java threads could not be dumped")j"},
         {"  stop: shutdown() had not returned after 20 seconds; the service stopped without it",
          "  stop: shutdown() had not returned after 15 seconds; its thread stood at"}},
        {{main, R"j(Shutdown thread "t" BUSY)j", "The dump of the Java threads was cut off"}, 0x99,
         {R"j("state":"unknown","stateText":"in an unknown state")j", R"j("name":"t","state":"unknown","frames":[])j",
          R"j("dumpEnd":"cut")j"}},
    };
    static StatusFacts facts;
    for (const OutcomeCase &c : cases) {
        std::vector<std::string> texts = {kBanner};
        texts.insert(texts.end(), c.records.begin(), c.records.end());
        std::string log = logOf(texts);
        facts = StatusFacts{};
        facts.answered = true;
        facts.status.dwCurrentState = c.state;
        facts.process = c.process;
        lstrcpyA(facts.javaOutput, c.output == -2 ? "" : "C:\\Apps\\java.out");
        facts.javaOutputError = c.output == -1 ? ERROR_FILE_NOT_FOUND : 0;
        facts.javaOutputSize = c.output < 0 ? 0 : (ULONGLONG)c.output;
        readLastStart(&log[0], &facts.start);
        facts.logText = &log[0];
        lstrcpynA(facts.startTime, facts.start.bannerStamp, sizeof facts.startTime);
        std::vector<std::string> text = printedBy(
            [](const Snapshot *) { printStatusText(&facts), printJavaOutputStatus(&facts); }, nullptr);
        auto line = text.begin();
        for (const std::string &expected : c.text) {
            line = std::find(line, text.end(), expected);
            EXPECT_NE(line, text.end()) << expected;
        }
        std::vector<std::string> lines = printedBy([](const Snapshot *) { printStatusJson(&facts); }, nullptr);
        ASSERT_EQ(lines.size(), 1u);
        EXPECT_EQ(lines[0].rfind(R"j({"schema":1,"service":"VelmoraneService",)j", 0), 0u) << lines[0];
        size_t at = 0;
        for (const std::string &field : c.fields) {
            size_t found = lines[0].find(field, at);
            EXPECT_NE(found, std::string::npos) << field << " in " << lines[0];
            at = found == std::string::npos ? at : found;
        }
    }
    // An outcome beyond what the tables know reads as unknown, never past them.
    EXPECT_STREQ(startOutcomeToken((StartOutcome)99), "unknown");
    EXPECT_STREQ(stopOutcomeText((StopOutcome)-1), "unknown");
}

// The log's local stamps with the offset the zone had then: standard and
// daylight time east and west of Greenwich and at it; the repeated hour
// read as its first pass, the skipped one with the offset before it.
TEST(StatusJson, StampsBecomeIsoTimesWithTheirOffset)
{
    TIME_ZONE_INFORMATION central = {};
    central.Bias = -60;
    central.DaylightBias = -60;
    central.StandardDate = {0, 10, 0, 5, 3, 0, 0, 0}; // last Sunday of October, 03:00
    central.DaylightDate = {0, 3, 0, 5, 2, 0, 0, 0};  // last Sunday of March, 02:00
    TIME_ZONE_INFORMATION eastern = {};
    eastern.Bias = 300;
    eastern.DaylightBias = -60;
    eastern.StandardDate = {0, 11, 0, 1, 2, 0, 0, 0}; // first Sunday of November
    eastern.DaylightDate = {0, 3, 0, 2, 2, 0, 0, 0};  // second Sunday of March
    TIME_ZONE_INFORMATION greenwich = {};
    const struct {
        const TIME_ZONE_INFORMATION *zone;
        const char *stamp;
        const char *iso;
    } cases[] = {
        {&central, "12/07/26 20:46:39 ", "2026-12-07T20:46:39+01:00"},
        {&central, "07/01/26 00:00:00 ", "2026-07-01T00:00:00+02:00"},
        {&central, "10/25/26 02:30:00 ", "2026-10-25T02:30:00+02:00"},
        {&central, "03/29/26 02:30:00 ", "2026-03-29T02:30:00+01:00"},
        {&eastern, "12/07/26 20:46:39 ", "2026-12-07T20:46:39-05:00"},
        {&eastern, "06/15/26 23:59:59 ", "2026-06-15T23:59:59-04:00"},
        {&greenwich, "02/29/28 08:43:13 ", "2028-02-29T08:43:13+00:00"},
        {&greenwich, "00/00/00 00:00:00 ", nullptr},
        {&greenwich, "02/30/26 08:43:13 ", nullptr},
    };
    for (const auto &c : cases) {
        char iso[ISO_TIME_CAPACITY] = "";
        bool made = stampToIsoTime(c.stamp, c.zone, iso, sizeof iso);
        EXPECT_EQ(made, c.iso != nullptr) << c.stamp;
        if (c.iso != nullptr)
            EXPECT_STREQ(iso, c.iso) << c.stamp;
    }
}

// Escapes for what JSON can't hold as it is; the rest as UTF-8, also what
// the ANSI code page (1252 here) holds beyond ASCII.
TEST(StatusJson, TextsAreEscapedOrUtf8)
{
    const struct {
        const char *ansi;
        int length;
        const char *json;
    } cases[] = {
        {"a \"b\" \\c", -1, R"j("a \"b\" \\c")j"},
        {"\x01\x1f\x7f\t\x81", -1, R"j("\u0001\u001f\u007f\u0009\u0081")j"},
        {"C:\\\xc0pps \x80", -1, "\"C:\\\\\xc3\x80pps \xe2\x82\xac\""},
        {"name\" RUNNABLE", 4, R"j("name")j"},
        // A format character (soft hyphen, all 1252 holds) is blanked.
        {"a\xad" "b", -1, R"j("a b")j"},
        {nullptr, -1, "null"},
    };
    for (const auto &c : cases) {
        static const char *ansi;
        static int length;
        ansi = c.ansi;
        length = c.length;
        std::vector<std::string> lines = printedBy([](const Snapshot *) { printJsonText(ansi, length); }, nullptr);
        EXPECT_EQ(lines[0], c.json) << c.json;
    }
}

// What the service's account may do, by the descriptor: LocalSystem, a
// virtual account and an ordinary one, through their own SID and the groups
// every service's token holds; denials before grants, inherit-only entries
// and generic rights as Windows weighs them.
TEST(AccountAccess, JudgesForTheConfiguredAccount)
{
    const wchar_t *const system = L"S-1-5-18", *const virtualAccount = L"S-1-5-80-1-2-3-4-5",
                         *const user = L"S-1-5-21-7-7-7-1001";
    const struct {
        const wchar_t *sddl;
        ACCESS_MASK needed;
        bool system, virtualAccount, user;
    } cases[] = {
        {L"D:(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)", READ_FOLDER_RIGHTS, true, false, false},
        {L"D:(A;OICI;0x1200a9;;;S-1-5-80-1-2-3-4-5)", LOAD_RIGHTS, false, true, false},
        {L"D:(A;OICI;0x1200a9;;;S-1-5-80-1-2-3-4-5)", APPEND_RIGHTS, false, false, false},
        {L"D:(A;;FR;;;BU)", READ_FILE_RIGHTS, true, true, true},
        {L"D:(D;;FR;;;S-1-5-80-1-2-3-4-5)(A;;FA;;;BU)", READ_FILE_RIGHTS, true, false, true},
        {L"D:(A;;FA;;;BU)(D;;FR;;;S-1-5-80-1-2-3-4-5)", READ_FILE_RIGHTS, true, true, true},
        {L"D:(A;OICIIO;FA;;;S-1-5-80-1-2-3-4-5)", READ_FOLDER_RIGHTS, false, false, false},
        {L"D:", READ_FILE_RIGHTS, false, false, false},
        {L"D:(A;;GR;;;S-1-5-80-0)", READ_FILE_RIGHTS, false, true, false},
        {L"D:(A;;GA;;;BA)", LOG_WRITE_RIGHTS, true, false, false},
        {L"D:(A;CI;0x2;;;BU)", CREATE_RIGHTS, true, true, true},
        {L"D:(A;;FA;;;S-1-5-21-7-7-7-1001)", LOG_WRITE_RIGHTS, false, false, true},
    };
    for (const auto &c : cases) {
        PSECURITY_DESCRIPTOR descriptor = NULL;
        ASSERT_TRUE(ConvertStringSecurityDescriptorToSecurityDescriptorW(c.sddl, SDDL_REVISION_1, &descriptor, NULL));
        const std::pair<const wchar_t *, bool> accounts[] = {{system, c.system}, {virtualAccount, c.virtualAccount},
                                                             {user, c.user}};
        for (const auto &[sidText, expected] : accounts) {
            PSID account = NULL;
            ASSERT_TRUE(ConvertStringSidToSidW(sidText, &account));
            AccountSids sids;
            ASSERT_TRUE(serviceAccountSids(account, &sids));
            EXPECT_EQ((accountAccess(descriptor, &sids) & c.needed) == c.needed, expected)
                << std::wstring(c.sddl).c_str() << " " << std::wstring(sidText).c_str();
            LocalFree(account);
        }
        LocalFree(descriptor);
    }
}

// The permission section judges who else may write against the service's
// configured account: a virtual account's grants are its own.
TEST(WriteAccess, TheServicesAccountIsNoOtherWriter)
{
    const wchar_t *sddl = L"O:BAD:(A;OICI;FA;;;SY)(A;OICI;0x1301bf;;;S-1-5-80-1-2-3-4-5)";
    EXPECT_EQ(writersOf(sddl), std::vector<std::string>{"S-1-5-80-1-2-3-4-5"});
    PSID account = NULL;
    ASSERT_TRUE(ConvertStringSidToSidW(L"S-1-5-80-1-2-3-4-5", &account));
    EXPECT_EQ(writersOf(sddl, true, account), std::vector<std::string>{});
    LocalFree(account);
}

} // namespace
