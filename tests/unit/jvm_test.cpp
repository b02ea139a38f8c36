// Creating the virtual machine, calling main and calling shutdown, against a
// scripted stand-in for the virtual machine (fake_jni.cpp).
#include <gtest/gtest.h>

#include <algorithm>

#include <windows.h>

#include <string>
#include <vector>

#include "fake_jni.h"
#include "launcher/classpath.h"
#include "launcher/jvm.h"
#include "launcher/launcher.h"
#include "launcher/paths.h"
#include "launcher/shutdown.h"
#include "log/log.h"
#include "test_support.h"

namespace {

const std::string CLASS = "com/orvenda/calistren/test/lt/nextgen/Velmorane";

class JvmTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        useTestLog();
        resetFakeJvm();
        testStages->vm.jvmHandle = NULL;
        boundedCopy(testStages->paths.basePath, L"C:\\Apps\\Velmorane\\");
        formatClassPathOption(testStages->classPath.classPathOption, "C:\\Apps\\Velmorane\\lib\\a.jar;");
        ASSERT_TRUE(assembleVmOptions(testStages->classPath.classPathOption, NULL, 0, &testStages->vm));
    }
    void TearDown() override { testStages->vm.jvmHandle = NULL; }
};

const std::vector<std::string> CREATION_LINES = {
    "GetProcAddress for JNI_CreateJavaVM",
    "Calling createJVM",
    "Completed call to createJVM",
};

const std::string FAKE_DETAIL = "Java exception: " FAKE_EXCEPTION_TEXT;
// How a pending exception is described, in the fake's record.
const std::vector<std::string> DESCRIBED = {"ExceptionClear", "GetObjectClass",
                                            "GetMethodID toString ()Ljava/lang/String;", "toString",
                                            "GetStringUTFChars"};

std::vector<std::string> joined(std::vector<std::string> head, const std::vector<std::string> &tail)
{
    head.insert(head.end(), tail.begin(), tail.end());
    return head;
}

FakeJvmScript throwingMain(const char *text, bool toStringThrows = false)
{
    return FakeJvmScript{.mainThrows = true, .exceptionText = text, .toStringThrows = toStringThrows};
}

// Every reference the launcher got was given back, and no JNI call came while
// an exception was pending.
void expectCleanJniUse(const char *name)
{
    EXPECT_EQ(fakeLiveReferences, 0) << name;
    for (const std::string &call : fakeCalls)
        EXPECT_EQ(call.rfind("pending! ", 0), std::string::npos) << name << ": " << call;
}

struct StartCase {
    const char *name;
    FakeJvmScript script;
    DWORD result;
    std::vector<std::string> lines;
};

TEST_F(JvmTest, StartLogsEachStepAndEndsAtTheFirstFailure)
{
    const StartCase cases[] = {
        {"main called", {}, 1,
         joined(CREATION_LINES, {"Successfully created JVM", "Found class " + CLASS, "Found static method main()",
                                 "Invoking main()"})},
        {"negative result", {.createResult = JNI_EVERSION}, 0,
         joined(CREATION_LINES, {"Can't create Java VM.  Return code -3"})},
        {"main class missing", {.mainClassFound = false}, 0,
         joined(CREATION_LINES, {"Successfully created JVM", "Can't find class " + CLASS, FAKE_DETAIL})},
        {"main missing", {.mainMethodFound = false}, 0,
         joined(CREATION_LINES,
                {"Successfully created JVM", "Found class " + CLASS, "Can't find main()", FAKE_DETAIL})},
        {"main throws", {.mainThrows = true}, 1,
         joined(CREATION_LINES, {"Successfully created JVM", "Found class " + CLASS, "Found static method main()",
                                 "Invoking main()", "Call to main() resulted in exception", FAKE_DETAIL})},
    };
    for (const StartCase &c : cases) {
        SetUp();
        fakeScript = c.script;
        JvmResult result;
        clearJvmResult(&result);
        startJvmAndRunMain(GetModuleHandleW(NULL), testStages->paths.basePath, &testStages->vm, &result);
        EXPECT_EQ(result.mainInvoked ? 1u : 0u, c.result) << c.name;
        EXPECT_EQ(testLogMessages(), c.lines) << c.name;
        // The result tells what the records tell.
        const std::vector<std::string> &lines = c.lines;
        auto logged = [&lines](const std::string &line) {
            return std::find(lines.begin(), lines.end(), line) != lines.end();
        };
        EXPECT_EQ(result.created, logged("Successfully created JVM")) << c.name;
        EXPECT_EQ(result.classFound, logged("Found class " + CLASS)) << c.name;
        EXPECT_EQ(result.mainFound, logged("Found static method main()")) << c.name;
        EXPECT_EQ(result.mainInvoked, logged("Invoking main()")) << c.name;
        EXPECT_EQ(result.mainThrew, logged("Call to main() resulted in exception")) << c.name;
        EXPECT_EQ("Java exception: " + std::string(result.exception), logged(FAKE_DETAIL) ? FAKE_DETAIL : "Java exception: ")
            << c.name;
        // The handle is published only for a virtual machine that exists.
        EXPECT_EQ(getJvmHandle(&testStages->vm), c.script.createResult < 0 ? nullptr : &fakeVm) << c.name;
        // The launcher thread ends detached from a virtual machine it created.
        EXPECT_EQ(fakeCalls.back(), c.script.createResult < 0 ? "create" : "detach") << c.name;
        expectCleanJniUse(c.name);
    }
}

std::string inAnsi(const wchar_t *text)
{
    char ansi[64];
    ansiCopyN(text, ansi, sizeof ansi);
    return ansi;
}

TEST_F(JvmTest, ExceptionDetailIsOneLineInTheAnsiCodePageCutToItsBuffer)
{
    struct DetailCase {
        const char *name;
        FakeJvmScript script;
        std::string detail;
    };
    const std::string longText(3000, 'x');
    const DetailCase cases[] = {
        {"line breaks", throwingMain("java.lang.Error: one\r\ntwo\nthree"), "java.lang.Error: one  two three"},
        // Escape, bell, backspace, Ctrl-Z, DEL, NEL, the line and paragraph separators.
        {"control characters", throwingMain("E: \x1b[2Ja\x07\x08\x1a\x7f\xC2\x85\xE2\x80\xA8\xE2\x80\xA9z"),
         "E:  [2Ja" + std::string(7, ' ') + "z"},
        // Right-to-left override, left-to-right isolate, mark, byte order mark, soft hyphen, a tag.
        {"format characters", throwingMain("E: a\xE2\x80\xAE" "b\xE2\x81\xA6" "c\xE2\x80\x8E" "d\xEF\xBB\xBF" "e\xC2\xAD" "f\xED\xAD\x80\xED\xB0\xA1" "g"), "E: a b c d e f g"},
        {"NUL inside the text", throwingMain("E: a\xC0\x80" "b"), "E: a^@b"},
        {"modified UTF-8", throwingMain("E: \xC3\x80\xC5\x92"), "E: " + inAnsi(L"\x00C0\x0152")},
        {"surrogate pair", throwingMain("E: \xED\xA0\xBD\xED\xB8\x80"), "E: " + inAnsi(L"\xD83D\xDE00")},
        {"longer than the buffer", throwingMain(longText.c_str()), std::string(1023, 'x')},
        {"empty", throwingMain(""), ""},
        {"toString returns null", throwingMain(NULL), "(no description)"},
        {"toString throws", throwingMain(FAKE_EXCEPTION_TEXT, true), "(no description)"},
    };
    for (const DetailCase &c : cases) {
        SetUp();
        fakeScript = c.script;
        JvmResult result;
        clearJvmResult(&result);
        startJvmAndRunMain(GetModuleHandleW(NULL), testStages->paths.basePath, &testStages->vm, &result);
        EXPECT_TRUE(result.mainInvoked) << c.name;
        EXPECT_EQ(result.exception, c.detail) << c.name;
        std::vector<std::string> lines = testLogMessages();
        ASSERT_GE(lines.size(), 2u) << c.name;
        EXPECT_EQ(lines[lines.size() - 2], "Call to main() resulted in exception") << c.name;
        EXPECT_EQ(lines.back(), "Java exception: " + c.detail) << c.name;
        expectCleanJniUse(c.name);
    }
}

TEST_F(JvmTest, MainGetsTheInstallationBaseAndTheVirtualMachineItsOptions)
{
    JvmResult result;
    startJvmAndRunMain(GetModuleHandleW(NULL), testStages->paths.basePath, &testStages->vm, &result);
    ASSERT_TRUE(result.mainInvoked);
    EXPECT_EQ(fakeCalls, (std::vector<std::string>{
                             "create",
                             "FindClass " + CLASS,
                             "GetStaticMethodID main ([Ljava/lang/String;)V",
                             "FindClass java/lang/String",
                             "NewObjectArray 1 String null",
                             "SetObjectArrayElement 0",
                             "main installbase=C:\\Apps\\Velmorane\\\n",
                             "detach",
                         }));
    EXPECT_EQ(fakeVersion, 0x10006);
    EXPECT_EQ(fakeIgnoreUnrecognized, JNI_FALSE);
    // The logged option's line feed is not handed on.
    EXPECT_EQ(fakeOptions, (std::vector<std::string>{"-Djdk.nativeDigest=false",
                                                     "-Djava.class.path=C:\\Apps\\Velmorane\\lib\\a.jar;"}));
    EXPECT_STREQ(testStages->classPath.classPathOption, "-Djava.class.path=C:\\Apps\\Velmorane\\lib\\a.jar;\n");
}

TEST_F(JvmTest, MainArgumentIsModifiedUtf8OfTheWidePath)
{
    boundedCopy(testStages->paths.basePath, L"C:\\\x00C0pps\\\x65E5\\Velmorane\\");
    JvmResult result;
    startJvmAndRunMain(GetModuleHandleW(NULL), testStages->paths.basePath, &testStages->vm, &result);
    ASSERT_TRUE(result.mainInvoked);
    EXPECT_EQ(fakeCalls.end()[-2], "main installbase=C:\\\xC3\x80pps\\\xE6\x97\xA5\\Velmorane\\\n");
}

TEST_F(JvmTest, LibraryWithoutTheExportIsNeverCalled)
{
    JvmResult result;
    clearJvmResult(&result);
    startJvmAndRunMain(GetModuleHandleW(L"kernel32.dll"), testStages->paths.basePath, &testStages->vm, &result);
    EXPECT_FALSE(result.mainInvoked);
    EXPECT_FALSE(result.exportFound);
    EXPECT_EQ(testLogMessages(), (std::vector<std::string>{"GetProcAddress for JNI_CreateJavaVM",
                                                           "Can't find JNI_CreateJavaVM in jvm.dll"}));
    EXPECT_TRUE(fakeCalls.empty());
    EXPECT_EQ(getJvmHandle(&testStages->vm), nullptr);
}

// The operator's check: the lookups of main and shutdown(), nothing called.
TEST_F(JvmTest, LookUpApplicationCallsNothing)
{
    JvmResult result;
    clearJvmResult(&result);
    EXPECT_TRUE(lookUpApplication(GetModuleHandleW(NULL), &testStages->vm, &result));
    EXPECT_TRUE(result.created && result.mainFound && result.shutdownFound && !result.mainInvoked);
    EXPECT_EQ(fakeCalls, (std::vector<std::string>{"create", "FindClass " + CLASS,
                                                   "GetStaticMethodID main ([Ljava/lang/String;)V",
                                                   "FindClass " + CLASS, "GetStaticMethodID shutdown ()V", "detach"}));
}

DWORD runShutdownThread(DWORD failure = LAUNCH_NOT_FAILED)
{
    testStages->stopFailure = failure;
    HANDLE thread = CreateThread(NULL, 0, shutdownThread, testStages, 0, NULL);
    WaitForSingleObject(thread, INFINITE);
    DWORD result = 99;
    GetExitCodeThread(thread, &result);
    CloseHandle(thread);
    return result;
}

struct ShutdownCase {
    const char *name;
    bool vmExists;
    FakeJvmScript script;
    DWORD result;
    std::vector<std::string> lines;
    std::vector<std::string> calls;
};

TEST_F(JvmTest, ShutdownAttachesCallsAndDetaches)
{
    const std::string find = "FindClass " + CLASS;
    const std::string lookup = "GetStaticMethodID shutdown ()V";
    // Named, so that a dump tells it from the application's threads.
    const std::string attach = "attach as VelmoraneService shutdown";
    const ShutdownCase cases[] = {
        {"shutdown returns", true, {}, 1,
         {"Shutdown method called on class " + CLASS, "Detached thread"},
         {attach, find, lookup, "shutdown", "detach"}},
        {"shutdown throws", true, {.shutdownThrows = true}, 1,
         {"Call to shutdown() resulted in exception", FAKE_DETAIL, "Shutdown method called on class " + CLASS,
          "Detached thread"},
         joined({attach, find, lookup, "shutdown"}, joined(DESCRIBED, {"detach"}))},
        {"no shutdown method", true, {.shutdownMethodFound = false}, 0,
         {"No shutdown() method found for " + CLASS, FAKE_DETAIL},
         joined({attach, find, lookup}, joined(DESCRIBED, {"detach"}))},
        {"main class missing", true, {.mainClassFound = false}, 0,
         {"Can't find class " + CLASS, FAKE_DETAIL},
         joined({attach, find}, joined(DESCRIBED, {"detach"}))},
        {"attach fails", true, {.attachResult = JNI_ERR}, 0,
         {"AttachCurrentThread failed"},
         {attach}},
        {"no virtual machine yet", false, {}, 0,
         {"No Java VM was created, shutdown() not called"},
         {}},
    };
    for (const ShutdownCase &c : cases) {
        SetUp();
        fakeScript = c.script;
        testStages->vm.jvmHandle = c.vmExists ? &fakeVm : NULL;
        EXPECT_EQ(runShutdownThread(), c.result) << c.name;
        EXPECT_EQ(testLogMessages(), c.lines) << c.name;
        EXPECT_EQ(fakeCalls, c.calls) << c.name;
        expectCleanJniUse(c.name);
    }
}

// The stop of a failed start (VLSTOPONFAILURE) that found no main class says
// so once instead of repeating the lookup; one that found it still calls
// shutdown().
TEST_F(JvmTest, StopAfterAFailedStartLooksUpOnlyWhatTheStartFound)
{
    const struct { DWORD failure; std::vector<std::string> lines; size_t calls; } cases[] = {
        {FAILURE_NO_MAIN_CLASS, {"The main class was not found, shutdown() not called"}, 0},
        {FAILURE_NO_MAIN, {"Shutdown method called on class " + CLASS, "Detached thread"}, 5},
    };
    for (const auto &c : cases) {
        SetUp();
        testStages->vm.jvmHandle = &fakeVm;
        runShutdownThread(c.failure);
        EXPECT_EQ(testLogMessages(), c.lines) << c.failure;
        EXPECT_EQ(fakeCalls.size(), c.calls) << c.failure;
    }
}

// Under VLSTOPONFAILURE the launcher thread's result carries the failure's
// kind, the service's exit code (1 to 7); a main that returns ends it with
// none. The test program is the jvm.dll: it exports the fake's
// JNI_CreateJavaVM. The launcher thread first limits the library search: a
// library that only the current folder holds no longer loads by name.
TEST_F(JvmTest, LauncherThreadEndsWithTheCodeOfTheFailuresKind)
{
    wchar_t self[MAX_PATH];
    GetModuleFileNameW(NULL, self, MAX_PATH);
    const std::wstring noExport = fixturePath(L"standins\\jvm-noexport\\jvm.dll");
    const struct { std::wstring jvm; FakeJvmScript script; DWORD result; } cases[] = {
        {self, {}, LAUNCH_NOT_FAILED},
        {L"C:\\none\\jvm.dll", {}, STOP_ON_FAILURE_RESULT + 1},
        {noExport, {}, STOP_ON_FAILURE_RESULT + 2},
        {self, {.createResult = JNI_ERR}, STOP_ON_FAILURE_RESULT + 3},
        {self, {.mainClassFound = false}, STOP_ON_FAILURE_RESULT + 4},
        {self, {.mainMethodFound = false}, STOP_ON_FAILURE_RESULT + 5},
        {self, {.mainThrows = true}, STOP_ON_FAILURE_RESULT + 6},
    };
    std::string cwd = makeTempDir("cwd");
    ASSERT_TRUE(CopyFileW(fixturePath(L"standins\\dependency\\velmoranedep.dll").c_str(),
                          std::wstring(cwd.begin(), cwd.end()).append(L"\\velmoranesearch.dll").c_str(), FALSE));
    wchar_t savedCwd[MAX_PATH];
    GetCurrentDirectoryW(MAX_PATH, savedCwd);
    SetCurrentDirectoryA(cwd.c_str());
    _wputenv_s(L"VLSTOPONFAILURE", L"1");
    for (const auto &c : cases) {
        SetUp();
        fakeScript = c.script;
        _wputenv_s(L"VLJVMDLL", c.jvm.c_str());
        readLaunchInputs(&testStages->inputs);
        clearLaunchResults(&testStages->results);
        EXPECT_EQ(launcherThread(testStages), c.result);
        const std::string stop = "The start failed and VLSTOPONFAILURE is set: the service stops with exit code ";
        EXPECT_EQ(testLogMessages().back(), c.result == 0 ? "Invoking main()" : stop + std::to_string(c.result & 0xff));
    }
    _wputenv_s(L"VLJVMDLL", L"");
    _wputenv_s(L"VLSTOPONFAILURE", L"");
    EXPECT_EQ(LoadLibraryW(L"velmoranesearch.dll"), (HMODULE)NULL);
    SetCurrentDirectoryW(savedCwd);
    // No memory for the virtual machine's options: the seventh kind.
    LaunchResults results;
    clearLaunchResults(&results);
    EXPECT_EQ(launchFailure(&results), 7);
}

} // namespace
