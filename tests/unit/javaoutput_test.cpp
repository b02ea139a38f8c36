// The Java output file: the records, the standard handles, appending, and a C
// runtime loaded before the redirection.
#include <gtest/gtest.h>

#include <windows.h>

#include <string>
#include <vector>

#include "launcher/javaoutput.h"
#include "launcher/output_open.h"
#include "launcher/output_pump.h"
#include "launcher/output_rotation.h"
#include "log/log.h"
#include "log/logowner.h"
#include "test_support.h"

namespace {

class JavaOutput : public ::testing::Test {
protected:
    HANDLE savedOutput = GetStdHandle(STD_OUTPUT_HANDLE);
    HANDLE savedError = GetStdHandle(STD_ERROR_HANDLE);

    void SetUp() override { useTestLog(); }
    void TearDown() override
    {
        SetStdHandle(STD_OUTPUT_HANDLE, savedOutput);
        SetStdHandle(STD_ERROR_HANDLE, savedError);
        if (testStages->output.javaOutputFile != INVALID_HANDLE_VALUE)
            CloseHandle(testStages->output.javaOutputFile);
        testStages->output.javaOutputFile = INVALID_HANDLE_VALUE;
        javaOutputOwnerCheck = hasTrustedOwner;
    }
};

// Values that leave everything as it was: not set, empty, one character too
// long for a path buffer, a file that can't be opened.
TEST_F(JavaOutput, ValuesThatChangeNothing)
{
    std::string dir = makeTempDir("javaout");
    std::string missing = dir + "\\missing\\out.txt";
    std::wstring tooLong = L"C:\\" + std::wstring(PATH_CAPACITY - 3, L'v');
    struct {
        std::wstring value;
        std::vector<std::string> records;
    } cases[] = {
        {L"", {}},
        {tooLong, {"VLJAVAOUTPUT environment variable is longer than 32766 characters and is ignored"}},
        {std::wstring(missing.begin(), missing.end()), {"Can't open " + missing + " for the Java output, error 3"}},
        {std::wstring(dir.begin(), dir.end()), {"Can't open " + dir + " for the Java output, error 5"}},
    };
    redirectJavaOutputTo(NULL, &testStages->output);
    EXPECT_EQ(testLogText(), "");
    for (const auto &c : cases) {
        useTestLog();
        redirectJavaOutputTo(c.value.c_str(), &testStages->output);
        EXPECT_EQ(testLogMessages(), c.records);
        EXPECT_EQ(GetStdHandle(STD_OUTPUT_HANDLE), savedOutput);
        EXPECT_EQ(GetStdHandle(STD_ERROR_HANDLE), savedError);
        EXPECT_EQ(testStages->output.javaOutputFile, INVALID_HANDLE_VALUE);
    }
    removeTree(dir);
}

// Both handles, and a C runtime loaded before (without standard handles, as in
// a service), write into the one file after what it held, in write order.
TEST_F(JavaOutput, StandardOutputAndErrorAppendToTheFile)
{
    SetStdHandle(STD_OUTPUT_HANDLE, NULL);
    SetStdHandle(STD_ERROR_HANDLE, NULL);
    // A runtime nothing else in this program loads: one loaded earlier got the
    // console handles when it started.
    HMODULE ucrt = LoadLibraryW(L"msvcr120.dll");
    SetStdHandle(STD_OUTPUT_HANDLE, savedOutput);
    SetStdHandle(STD_ERROR_HANDLE, savedError);
    typedef int(__cdecl * WriteFunction)(int, const void *, unsigned);
    WriteFunction crtWrite = ucrt ? (WriteFunction)(void *)GetProcAddress(ucrt, "_write") : NULL;
    ASSERT_NE(crtWrite, nullptr);
    std::string path = makeTempDir("javaout") + "\\java output.txt";
    writeFile(path, "earlier run\n");

    redirectJavaOutputTo(std::wstring(path.begin(), path.end()).c_str(), &testStages->output);
    HANDLE file = testStages->output.javaOutputFile;
    HANDLE output = GetStdHandle(STD_OUTPUT_HANDLE), error = GetStdHandle(STD_ERROR_HANDLE);
    DWORD flags = HANDLE_FLAG_INHERIT, written = 0;
    GetHandleInformation(file, &flags);
    WriteFile(output, "out 1\n", 6, &written, NULL);
    WriteFile(error, "err 1\n", 6, &written, NULL);
    crtWrite(1, "crt out ", 8);
    crtWrite(2, "crt err\n", 8);
    // The runtime's descriptors hold handles no child inherits.
    typedef intptr_t(__cdecl * OsfhandleFunction)(int);
    OsfhandleFunction crtHandle = (OsfhandleFunction)(void *)GetProcAddress(ucrt, "_get_osfhandle");
    DWORD crtFlags[2] = {HANDLE_FLAG_INHERIT, HANDLE_FLAG_INHERIT};
    for (int fd = 1; fd <= 2; fd++)
        GetHandleInformation((HANDLE)crtHandle(fd), &crtFlags[fd - 1]);
    // Shared for reading, writing and deletion while it is open.
    HANDLE other = CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE | DELETE,
                               FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, NULL, OPEN_EXISTING, 0, NULL);
    CloseHandle(other);
    TearDown(); // the test's own output must not land in the file

    EXPECT_EQ(testLogMessages(), (std::vector<std::string>{"Java output goes to " + path}));
    EXPECT_NE(file, INVALID_HANDLE_VALUE);
    EXPECT_TRUE(output == file && error == file);
    EXPECT_EQ(flags & HANDLE_FLAG_INHERIT, 0u);
    EXPECT_EQ((crtFlags[0] | crtFlags[1]) & HANDLE_FLAG_INHERIT, 0u);
    EXPECT_NE(other, INVALID_HANDLE_VALUE);
    std::string text;
    readFile(path, &text);
    // The runtime's descriptors are in text mode, as it opens them itself.
    EXPECT_EQ(text, "earlier run\nout 1\nerr 1\ncrt out crt err\r\n");
}

// A path that is a second name of another file is refused, and the other
// file stays as it was: the output would land wherever the planter chose.
TEST_F(JavaOutput, FileWithASecondNameIsRefused)
{
    std::string dir = makeTempDir("javaout");
    std::string path = dir + "\\out.txt", elsewhere = dir + "\\elsewhere.txt";
    writeFile(elsewhere, "kept\n");
    ASSERT_TRUE(CreateHardLinkA(path.c_str(), elsewhere.c_str(), NULL));
    redirectJavaOutputTo(std::wstring(path.begin(), path.end()).c_str(), &testStages->output);
    EXPECT_EQ(testLogMessages(), (std::vector<std::string>{"Can't open " + path +
                                                           " for the Java output, refused: a file with a second name"}));
    EXPECT_EQ(testStages->output.javaOutputFile, INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetStdHandle(STD_OUTPUT_HANDLE), savedOutput);
    std::string text;
    readFile(elsewhere, &text);
    EXPECT_EQ(text, "kept\n");
    removeTree(dir);
}

bool foreignOwner(HANDLE, char *ownerText)
{
    lstrcpynA(ownerText, "S-1-5-21-1-2-3-1001", OWNER_TEXT_CAPACITY);
    return false;
}

// Refused paths leave nothing of the service's behind: no file made through a
// dangling link (Wine follows a Unix link) or a linked folder, none kept that
// the owner rule refused; someone else's existing file stays as it was.
TEST_F(JavaOutput, RefusedPathsLeaveNoFileBehind)
{
    const std::wstring wide = fixturePath(L"links\\");
    const std::string links(wide.begin(), wide.end());
    const std::string own = makeTempDir("javaout") + "\\";
    writeFile(own + "theirs.txt", "kept\n");
    const std::string refused = " for the Java output, refused: ";
    const std::string belongs = "a file that belongs to S-1-5-21-1-2-3-1001";
    struct { std::string path, target; bool (*ownerCheck)(HANDLE, char *); std::string record, kept; } cases[] = {
        {links + "dangling.txt", links + "missing-target.txt", hasTrustedOwner, " for the Java output, error 80",
         ""},
        {links + "folder\\out.txt", links + "real\\out.txt", hasTrustedOwner, refused + "a link", ""},
        {own + "new.txt", own + "new.txt", foreignOwner, refused + belongs, ""},
        {own + "theirs.txt", own + "theirs.txt", foreignOwner, refused + belongs, "kept\n"},
    };
    for (const auto &c : cases) {
        useTestLog();
        if (c.kept.empty())
            DeleteFileA(c.target.c_str());
        javaOutputOwnerCheck = c.ownerCheck;
        redirectJavaOutputTo(std::wstring(c.path.begin(), c.path.end()).c_str(), &testStages->output);
        EXPECT_EQ(testLogMessages(), (std::vector<std::string>{"Can't open " + c.path + c.record}));
        EXPECT_EQ(testStages->output.javaOutputFile, INVALID_HANDLE_VALUE) << c.path;
        std::string text;
        EXPECT_EQ(readFile(c.target, &text), !c.kept.empty()) << c.target;
        EXPECT_EQ(text, c.kept) << c.target;
    }
    removeTree(own);
}

typedef jint(JNICALL *VfprintfHook)(FILE *, const char *, va_list);

jint callVfprintfHook(void *hook, const char *format, ...)
{
    va_list arguments;
    va_start(arguments, format);
    jint written = ((VfprintfHook)hook)(stderr, format, arguments);
    va_end(arguments);
    return written;
}

int observedExit = -1;

// The virtual machine's own messages land behind what the application wrote,
// in text mode (CR LF), one longer than the hook's buffer cut to it; with
// rotation through the pump's pipe. The exit hook, there with either, writes
// the pipe out, records the code and tells the observer.
TEST_F(JavaOutput, VirtualMachineMessagesFollowTheApplicationsOutput)
{
    const wchar_t *sizes[] = {NULL, L"1M"};
    for (const wchar_t *size : sizes) {
        std::string dir = makeTempDir("javaout"), path = dir + "\\out.txt";
        setOutputRotation(size, NULL, &testStages->output.pump.rotation);
        redirectJavaOutputTo(std::wstring(path.begin(), path.end()).c_str(), &testStages->output);
        JavaVMOption options[VM_HOOK_OPTIONS_MOST] = {};
        ASSERT_EQ(addLaunchHooks(testStages, options), 2);
        EXPECT_STREQ(options[0].optionString, "vfprintf");
        EXPECT_STREQ(options[1].optionString, "exit");
        DWORD written = 0;
        WriteFile(GetStdHandle(STD_OUTPUT_HANDLE), "app\n", 4, &written, NULL);
        EXPECT_EQ(callVfprintfHook(options[0].extraInfo, "Picked up %s: %d\n", "X", 7), 15);
        EXPECT_EQ(callVfprintfHook(options[0].extraInfo, "%s", std::string(5000, '\n').c_str()), 4095);
        testStages->observer.jvmExit = [](const LaunchContext *, int code) { observedExit = code; };
        ((void(JNICALL *)(jint))options[1].extraInfo)(3);
        testStages->observer.jvmExit = NULL;
        EXPECT_EQ(observedExit, 3);
        EXPECT_EQ(testLogMessages().back(), "The JVM is ending the process (System.exit or Runtime.halt) with exit code 3");
        if (size != NULL) {
            stopOutputPump(&testStages->output.pump);
            CloseHandle(testStages->output.pump.file);
            clearJavaOutput(&testStages->output);
        }
        TearDown();
        setOutputRotation(NULL, NULL, &testStages->output.pump.rotation);
        std::string text, lines;
        readFile(path, &text);
        for (int line = 0; line < 4095; line++)
            lines += "\r\n";
        EXPECT_EQ(text, "app\nPicked up X: 7\r\n" + lines) << (size != NULL);
        removeTree(dir);
    }
}

} // namespace
