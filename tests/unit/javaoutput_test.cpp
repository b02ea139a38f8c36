// The Java output file: the records, the standard handles, appending, and a C
// runtime loaded before the redirection.
#include <gtest/gtest.h>

#include <windows.h>

#include <string>
#include <vector>

#include "launcher/javaoutput.h"
#include "log/log.h"
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
        if (javaOutputFile != INVALID_HANDLE_VALUE)
            CloseHandle(javaOutputFile);
        javaOutputFile = INVALID_HANDLE_VALUE;
    }
    void expectHandlesUnchanged()
    {
        EXPECT_EQ(GetStdHandle(STD_OUTPUT_HANDLE), savedOutput);
        EXPECT_EQ(GetStdHandle(STD_ERROR_HANDLE), savedError);
        EXPECT_EQ(javaOutputFile, INVALID_HANDLE_VALUE);
    }
};

// Not set and empty change nothing and log nothing; a value one character
// too long for a path buffer is refused with its record.
TEST_F(JavaOutput, ValuesThatAreNotUsed)
{
    std::wstring tooLong = L"C:\\" + std::wstring(PATH_CAPACITY - 3, L'v');
    struct {
        const wchar_t *value;
        std::vector<std::string> records;
    } cases[] = {
        {NULL, {}},
        {L"", {}},
        {tooLong.c_str(), {"VLJAVAOUTPUT environment variable is longer than 32766 characters and is ignored"}},
    };
    for (const auto &c : cases) {
        useTestLog();
        redirectJavaOutputTo(c.value);
        EXPECT_EQ(testLogMessages(), c.records);
        expectHandlesUnchanged();
    }
}

TEST_F(JavaOutput, FileThatCantBeOpenedIsLoggedWithItsError)
{
    std::string dir = makeTempDir("javaout");
    struct {
        std::string path;
        unsigned long error;
    } cases[] = {
        {dir + "\\missing\\out.txt", ERROR_PATH_NOT_FOUND},
        {dir, ERROR_ACCESS_DENIED}, // a directory
    };
    for (const auto &c : cases) {
        useTestLog();
        redirectJavaOutputTo(std::wstring(c.path.begin(), c.path.end()).c_str());
        EXPECT_EQ(testLogMessages(), (std::vector<std::string>{"Can't open " + c.path + " for the Java output, error " +
                                                               std::to_string(c.error)}));
        expectHandlesUnchanged();
    }
    removeTree(dir);
}

// Both handles and a C runtime already in the process write into the one file,
// after what it held, in the order of the writes.
TEST_F(JavaOutput, StandardOutputAndErrorAppendToTheFile)
{
    // Started without standard handles, as it is in a service.
    SetStdHandle(STD_OUTPUT_HANDLE, NULL);
    SetStdHandle(STD_ERROR_HANDLE, NULL);
    HMODULE ucrt = LoadLibraryW(L"ucrtbase.dll");
    SetStdHandle(STD_OUTPUT_HANDLE, savedOutput);
    SetStdHandle(STD_ERROR_HANDLE, savedError);
    ASSERT_NE(ucrt, nullptr);
    typedef int(__cdecl * WriteFunction)(int, const void *, unsigned);
    WriteFunction crtWrite = (WriteFunction)(void *)GetProcAddress(ucrt, "_write");
    ASSERT_NE(crtWrite, nullptr);

    std::string dir = makeTempDir("javaout");
    std::string path = dir + "\\java output.txt";
    writeFile(path, "earlier run\n");
    redirectJavaOutputTo(std::wstring(path.begin(), path.end()).c_str());

    HANDLE file = javaOutputFile;
    HANDLE output = GetStdHandle(STD_OUTPUT_HANDLE);
    HANDLE error = GetStdHandle(STD_ERROR_HANDLE);
    DWORD flags = 0;
    BOOL gotFlags = GetHandleInformation(file, &flags);
    DWORD written = 0;
    BOOL wroteOutput = WriteFile(output, "out 1\n", 6, &written, NULL);
    BOOL wroteError = WriteFile(error, "err 1\n", 6, &written, NULL);
    int crtOutput = crtWrite(1, "crt out", 7);
    int crtError = crtWrite(2, "crt err\n", 8);
    // Shared for reading, writing and deletion while it is open.
    HANDLE other = CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE | DELETE,
                               FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, NULL, OPEN_EXISTING, 0, NULL);
    CloseHandle(other);
    // The test's own output must not land in the file: checks come after.
    TearDown();

    EXPECT_EQ(testLogMessages(), (std::vector<std::string>{"Java output goes to " + path}));
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    EXPECT_EQ(output, file);
    EXPECT_EQ(error, file);
    EXPECT_TRUE(gotFlags);
    EXPECT_EQ(flags & HANDLE_FLAG_INHERIT, 0u);
    EXPECT_TRUE(wroteOutput && wroteError);
    EXPECT_EQ(crtOutput, 7);
    EXPECT_EQ(crtError, 8);
    EXPECT_NE(other, INVALID_HANDLE_VALUE);
    std::string text;
    ASSERT_TRUE(readFile(path, &text));
    // The runtime's descriptors are in text mode, as the virtual machine's are.
    EXPECT_EQ(text, "earlier run\nout 1\nerr 1\ncrt outcrt err\r\n");
}

} // namespace
