// Path derivation: the cuts by count, the library candidates and "VLJVMDLL".
#include <gtest/gtest.h>

#include <windows.h>
#include <stdlib.h>

#include <string>
#include <vector>

#include "launcher/paths.h"
#include "log/log.h"
#include "log/logfile.h"
#include "test_support.h"

namespace {

std::string narrow(const wchar_t *text)
{
    std::string result;
    for (; *text; text++)
        result += (char)*text;
    return result;
}

PathsResult derive(const std::wstring &path, const wchar_t *jvmLibrary = NULL)
{
    useTestLog();
    boundedCopy(testStages->paths.executablePath, path.c_str());
    LaunchInputs inputs = {NULL, jvmLibrary, NULL, NULL, LAUNCH_TO_MAIN};
    PathsResult result;
    deriveInstallationPaths(&inputs, &testStages->paths, &result);
    return result;
}

struct PathCase {
    const char *name;
    std::wstring executable;
    std::wstring base;
    std::wstring ktr;
};

TEST(DeriveInstallationPaths, CutsTwentyAndThirtyCharactersByCount)
{
    const std::wstring twenty = L"C:\\Velmorane1234.exe";
    const std::wstring thirty = L"C:\\Velmoran\\VelmoraneService.x";
    ASSERT_EQ(twenty.size(), 20u);
    ASSERT_EQ(thirty.size(), 30u);
    const PathCase cases[] = {
        {"worked example", L"C:\\Apps\\Velmorane\\VelmoraneService.exe", L"C:\\Apps\\Velmorane\\", L"C:\\Apps\\"},
        {"shorter executable name", L"C:\\Apps\\Velmorane\\Svc.exe", L"C:\\Ap", L""},
        {"blanks in the path", L"C:\\Program Files\\Velmorane\\VelmoraneService.exe",
         L"C:\\Program Files\\Velmorane\\", L"C:\\Program Files\\"},
        {"exactly twenty", twenty, L"", L""},
        {"twenty-one", L"D" + twenty, L"D", L""},
        {"exactly thirty", thirty, L"C:\\Velmora", L""},
        {"thirty-one", L"D" + thirty, L"DC:\\Velmora", L"D"},
        {"shorter than twenty", L"C:\\a.exe", L"", L""},
        {"empty", L"", L"", L""},
    };
    for (const PathCase &c : cases) {
        derive(c.executable);
        EXPECT_EQ(std::wstring(testStages->paths.basePath), c.base) << c.name;
        EXPECT_EQ(std::wstring(testStages->paths.ktrPath), c.ktr) << c.name;
        EXPECT_EQ(std::wstring(testStages->paths.jvmLibraryPath), c.ktr + L"jdk\\jre\\bin\\default\\jvm.dll") << c.name;
        EXPECT_EQ(std::wstring(testStages->paths.runtimeLibraryPath), c.ktr + L"jdk\\jre\\bin\\msvcr120.dll") << c.name;
        EXPECT_EQ(std::string(testStages->paths.jvmLibraryPathAnsi), narrow(testStages->paths.jvmLibraryPath)) << c.name;
        EXPECT_EQ(std::string(testStages->paths.runtimeLibraryPathAnsi), narrow(testStages->paths.runtimeLibraryPath)) << c.name;
    }
}

TEST(DeriveInstallationPaths, LogsTheWorkedExampleLineForLine)
{
    derive(L"C:\\Apps\\Velmorane\\VelmoraneService.exe");
    EXPECT_EQ(testLogMessages(), (std::vector<std::string>{
                                     "Executable file name:",
                                     "C:\\Apps\\Velmorane\\VelmoraneService.exe",
                                     "Name size:  38",
                                     "Base path 'C:\\Apps\\Velmorane\\'",
                                     "KTR path 'C:\\Apps\\'",
                                     "Includes support for quoted service path (TP-85987)",
                                 }));
}

TEST(DeriveInstallationPaths, LongestPathFitsEveryBuffer)
{
    std::wstring longest = L"C:\\" + std::wstring(32763 - 30, L'p') + L"\\Velmorane\\VelmoraneService.exe";
    longest = longest.substr(0, 32766);
    derive(longest);
    EXPECT_EQ(wcslen(testStages->paths.basePath), 32746u);
    EXPECT_EQ(wcslen(testStages->paths.ktrPath), 32736u);
    EXPECT_EQ(wcslen(testStages->paths.jvmLibraryPath), 32736u + 27u);
    EXPECT_EQ(wcslen(testStages->paths.runtimeLibraryPath), 32736u + 24u);
    EXPECT_EQ(strlen(testStages->paths.basePathAnsi), 32746u);
    std::vector<std::string> lines = testLogMessages();
    ASSERT_GE(lines.size(), 3u);
    EXPECT_EQ(lines[2], "Name size:  32766");
}

TEST(JvmLibraryOverride, ReplacesTheFirstVirtualMachineCandidateOnly)
{
    PathsResult result = derive(L"C:\\Apps\\Velmorane\\VelmoraneService.exe", L"D:\\Java\\bin\\server\\jvm.dll");
    EXPECT_EQ(result.jvmLibrarySource, JVM_LIBRARY_FROM_VARIABLE);
    EXPECT_STREQ(result.basePath, L"C:\\Apps\\Velmorane\\");
    EXPECT_STREQ(testStages->paths.jvmLibraryPath, L"D:\\Java\\bin\\server\\jvm.dll");
    EXPECT_STREQ(testStages->paths.jvmLibraryPathAnsi, "D:\\Java\\bin\\server\\jvm.dll");
    EXPECT_STREQ(testStages->paths.runtimeLibraryPath, L"C:\\Apps\\jdk\\jre\\bin\\msvcr120.dll");
    std::vector<std::string> lines = testLogMessages();
    ASSERT_EQ(lines.size(), 7u);
    EXPECT_EQ(lines[5], "Includes support for quoted service path (TP-85987)");
    EXPECT_EQ(lines[6], "Will load jvm based on VLJVMDLL environment variable");
}

// The probe loads from full paths only: a relative value is tried, and said to be in vain.
TEST(JvmLibraryOverride, RelativeValueIsNamedInTheLog)
{
    derive(L"C:\\Apps\\Velmorane\\VelmoraneService.exe", L"jdk\\bin\\server\\jvm.dll");
    EXPECT_STREQ(testStages->paths.jvmLibraryPath, L"jdk\\bin\\server\\jvm.dll");
    std::vector<std::string> lines = testLogMessages();
    ASSERT_EQ(lines.size(), 8u);
    EXPECT_EQ(lines[7], "VLJVMDLL environment variable is not a full path, no jvm.dll is loaded from it");
}

TEST(JvmLibraryOverride, LongestValueIsTakenWhole)
{
    std::wstring value = L"D:\\" + std::wstring(32766 - 3, L'v');
    derive(L"C:\\Apps\\Velmorane\\VelmoraneService.exe", value.c_str());
    EXPECT_EQ(std::wstring(testStages->paths.jvmLibraryPath), value);
}

TEST(JvmLibraryOverride, ValueLongerThanAPathIsIgnored)
{
    std::wstring value(40000, L'v');
    PathsResult result = derive(L"C:\\Apps\\Velmorane\\VelmoraneService.exe", value.c_str());
    EXPECT_EQ(result.jvmLibrarySource, JVM_LIBRARY_VARIABLE_TOO_LONG);
    EXPECT_STREQ(testStages->paths.jvmLibraryPath, L"C:\\Apps\\jdk\\jre\\bin\\default\\jvm.dll");
    std::vector<std::string> lines = testLogMessages();
    ASSERT_EQ(lines.size(), 7u);
    EXPECT_EQ(lines[6], "VLJVMDLL environment variable is longer than 32766 characters and is ignored");
}

// A variable defined with an empty value can't be made with the runtime's
// putenv (an empty value removes it), so a child process gets it from its
// parent's environment block.
TEST(JvmLibraryOverrideChild, DeriveWithInheritedEnvironment)
{
    const char *log = getenv("VELMORANE_CHILD_LOG");
    if (log == NULL)
        GTEST_SKIP() << "run by JvmLibraryOverride.EmptyValueCountsAsSet";
    static std::string path;
    path = log;
    useTestLog();
    logFilePath = path.c_str();
    boundedCopy(testStages->paths.executablePath, L"C:\\Apps\\Velmorane\\VelmoraneService.exe");
    LaunchInputs inputs;
    readLaunchInputs(&inputs);
    PathsResult result;
    deriveInstallationPaths(&inputs, &testStages->paths, &result);
    logWrite("jvm library path '%s'\n", testStages->paths.jvmLibraryPathAnsi);
}

TEST(JvmLibraryOverrideEmpty, EmptyValueCountsAsSet)
{
    std::string childLog = makeTempDir("child") + "\\child.log";
    std::wstring block = L"VLJVMDLL=";
    block.push_back(L'\0');
    block += L"VELMORANE_CHILD_LOG=" + std::wstring(childLog.begin(), childLog.end());
    block.push_back(L'\0');
    block += L"SystemRoot=C:\\windows";
    block.push_back(L'\0');
    block.push_back(L'\0');

    wchar_t self[MAX_PATH];
    GetModuleFileNameW(NULL, self, MAX_PATH);
    std::wstring commandLine =
        L"\"" + std::wstring(self) + L"\" --gtest_filter=JvmLibraryOverrideChild.DeriveWithInheritedEnvironment";
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process = {};
    ASSERT_TRUE(CreateProcessW(self, &commandLine[0], NULL, NULL, FALSE, CREATE_UNICODE_ENVIRONMENT,
                               &block[0], NULL, &startup, &process));
    WaitForSingleObject(process.hProcess, 60000);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);

    std::string text;
    ASSERT_TRUE(readFile(childLog, &text));
    EXPECT_NE(text.find("Includes support for quoted service path (TP-85987)\r\n"), std::string::npos);
    EXPECT_NE(text.find("Will load jvm based on VLJVMDLL environment variable\r\n"), std::string::npos) << text;
    EXPECT_NE(text.find("jvm library path ''\r\n"), std::string::npos) << text;
}

} // namespace
