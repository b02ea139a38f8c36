// The class path builder on real directory trees, at its capacity limits.
#include <gtest/gtest.h>

#include <windows.h>
#include <stdlib.h>

#include <algorithm>
#include <string>
#include <vector>

#include "launcher/classpath.h"
#include "launcher/paths.h"
#include "log/log.h"
#include "test_support.h"

namespace {

struct JarCase {
    const wchar_t *name;
    bool jar;
};

TEST(IsJarName, ComparesTheLastFourBytesExactly)
{
    const JarCase cases[] = {
        {L"a.jar", true},   {L"B.JAR", false},       {L"c.Jar", false}, {L".jar", false},
        {L"x.jar", true},   {L"a.jar.txt", false},  {L"ajar", false},  {L"lib.jar ", false},
        {L"..jar", true},   {L"long-name-1.0.jar", true},
    };
    for (const JarCase &c : cases) {
        char ansi[300];
        ansiCopyN(c.name, ansi, sizeof ansi);
        EXPECT_EQ(isJarName(c.name, ansi), c.jar) << ansi;
    }
}

class ClassPathTest : public ::testing::Test {
protected:
    std::string base;

    FolderEntry entries[256];
    ClassPathResult result = {};

    // Runs the stage as the service would, with VLCLASSPATH's value (NULL: not set).
    void build(const wchar_t *classPath = NULL)
    {
        LaunchInputs inputs = {NULL, NULL, classPath, NULL, LAUNCH_TO_MAIN};
        result.entries = entries;
        result.entryCapacity = 256;
        buildClassPath(&inputs, testStages->paths.basePath, &testStages->classPath, &result);
    }

    void SetUp() override
    {
        useTestLog();
        base = makeTempDir("base") + "\\";
        std::wstring wide(base.begin(), base.end());
        boundedCopy(testStages->paths.basePath, wide.c_str());
    }
    void TearDown() override
    {
        removeTree(base.substr(0, base.size() - 1));
    }

    void makeFile(const std::string &relative) { writeFile(base + relative, "x"); }
    void makeDir(const std::string &relative) { CreateDirectoryA((base + relative).c_str(), NULL); }
};

TEST_F(ClassPathTest, EveryLibEntryIsLoggedAndJarsJoinInTheirOrder)
{
    makeDir("lib");
    makeFile("lib\\a.jar");
    makeFile("lib\\B.JAR");
    makeFile("lib\\c.txt");
    makeDir("lib\\x.jar");
    makeFile("lib\\.jar");
    build();

    std::vector<std::string> lines = testLogMessages();
    ASSERT_GE(lines.size(), 3u);
    EXPECT_EQ(lines[0], "Looking for needed jar files in the lib directory");
    EXPECT_EQ(lines[1], "The lib directory was found");
    // The file system decides the order; each entry's lines stay together.
    std::string expectedClassPath;
    size_t at = 2;
    int entries = 0;
    while (at < lines.size() && lines[at].rfind("File:  ", 0) == 0) {
        std::string name = lines[at].substr(7);
        at++;
        entries++;
        if (name.size() <= 4)
            continue;
        ASSERT_LT(at, lines.size());
        EXPECT_EQ(lines[at], "Ext:  '" + name.substr(name.size() - 4) + "'");
        at++;
        if (name == "a.jar" || name == "x.jar")
            expectedClassPath += base + "lib\\" + name + ";";
    }
    EXPECT_EQ(entries, 7);
    // The result's verdicts: the two jars on the class path, the rest not jars.
    ASSERT_EQ(result.entryCount, 7u);
    EXPECT_EQ(result.folder, CLASS_PATH_FROM_LIB);
    EXPECT_EQ(result.jarCount, 2u);
    for (size_t i = 0; i < result.entryCount; i++) {
        std::wstring name = this->entries[i].name;
        EXPECT_EQ(this->entries[i].verdict, name == L"a.jar" || name == L"x.jar" ? ENTRY_ON_CLASS_PATH : ENTRY_NOT_A_JAR);
    }
    ASSERT_EQ(lines.size(), at + 4);
    EXPECT_EQ(lines[at], "JVM options:");
    EXPECT_EQ(lines[at + 1], "-Djdk.nativeDigest=false");
    EXPECT_EQ(lines[at + 2], "-Djava.class.path=" + expectedClassPath);
    EXPECT_EQ(lines[at + 3], "");
    EXPECT_EQ(std::string(testStages->classPath.classPathOption), "-Djava.class.path=" + expectedClassPath + "\n");
}

TEST_F(ClassPathTest, NeitherDirectoryGivesAnEmptyClassPath)
{
    build();
    EXPECT_EQ(result.folder, CLASS_PATH_NO_FOLDER);
    EXPECT_EQ(testLogMessages(), (std::vector<std::string>{
                                     "Looking for needed jar files in the lib directory",
                                     "The lib directory was not found, trying plugins",
                                     "Unable to find lib or plugins direcotry so the classpath may be invalid.",
                                     "JVM options:",
                                     "-Djdk.nativeDigest=false",
                                     "-Djava.class.path=",
                                     "",
                                 }));
    EXPECT_STREQ(testStages->classPath.classPathOption, "-Djava.class.path=\n");
}

TEST_F(ClassPathTest, OverrideReplacesTheSearchedClassPath)
{
    makeDir("lib");
    makeFile("lib\\a.jar");
    build(L"D:\\app\\x.jar;D:\\app\\y.jar");
    EXPECT_TRUE(result.overridden);
    EXPECT_EQ(result.optionLength, strlen("-Djava.class.path=D:\\app\\x.jar;D:\\app\\y.jar"));
    std::vector<std::string> lines = testLogMessages();
    EXPECT_NE(std::find(lines.begin(), lines.end(), "File:  a.jar"), lines.end());
    EXPECT_STREQ(testStages->classPath.classPathOption, "-Djava.class.path=D:\\app\\x.jar;D:\\app\\y.jar\n");
    ASSERT_GE(lines.size(), 2u);
    EXPECT_EQ(lines[lines.size() - 2], "-Djava.class.path=D:\\app\\x.jar;D:\\app\\y.jar");
}

// Far more jars than fit: the class path text stops at 32766 characters and
// the option at its buffer, with its line feed, and nothing else is touched.
TEST_F(ClassPathTest, ClassPathPastItsCapacityIsCut)
{
    makeDir("lib");
    std::string name(200, 'j');
    for (int i = 0; i < 200; i++) {
        char file[300];
        snprintf(file, sizeof file, "lib\\%s%03d.jar", name.c_str(), i);
        makeFile(file);
    }
    build();
    EXPECT_EQ(wcslen(testStages->classPath.classPathText), 32766u);
    // A jar is on the class path exactly when its whole path and ";" are in the option.
    for (size_t i = 0; i < result.entryCount; i++) {
        if (this->entries[i].verdict == ENTRY_NOT_A_JAR)
            continue;
        std::string path = base + "lib\\" + std::string(this->entries[i].name, this->entries[i].name + 207) + ";";
        EXPECT_EQ(this->entries[i].verdict == ENTRY_ON_CLASS_PATH, strstr(testStages->classPath.classPathOption, path.c_str()) != NULL) << i;
    }
    EXPECT_EQ(result.jarCount, (32747 - 0) / (base.size() + 4 + 208));
    EXPECT_NE(result.firstCutJar[0], L'\0');
    EXPECT_EQ(strlen(testStages->classPath.classPathTextAnsi), 32766u);
    size_t optionLength = strlen(testStages->classPath.classPathOption);
    EXPECT_EQ(optionLength, (size_t)ANSI_CAPACITY - 1);
    EXPECT_EQ(testStages->classPath.classPathOption[optionLength - 1], '\n');
}

TEST_F(ClassPathTest, OverrideLongerThanTheOptionIsCut)
{
    // 32763 characters: as long as an environment value can be, and more than
    // the option can hold after its prefix.
    std::wstring value(32740, L'v');
    value += L"-tail-that-does-not-fit";
    build(value.c_str());
    size_t optionLength = strlen(testStages->classPath.classPathOption);
    EXPECT_EQ(optionLength, (size_t)ANSI_CAPACITY - 1);
    std::string expected(value.begin(), value.begin() + (ANSI_CAPACITY - 1 - 18 - 1));
    EXPECT_EQ(std::string(testStages->classPath.classPathOption), "-Djava.class.path=" + expected + "\n");
}

// In a double-byte code page a jar whose name has double-byte characters is
// still recognised: its ANSI copy keeps the ".jar" at the end.
TEST_F(ClassPathTest, DoubleByteJarNamesKeepTheirExtension)
{
    if (GetACP() != 932)
        GTEST_SKIP() << "needs code page 932, this is " << GetACP();
    makeDir("lib");
    HANDLE file = CreateFileW((std::wstring(testStages->paths.basePath) + L"lib\\\x65E5\x672C\x8A9E.jar").c_str(), GENERIC_WRITE, 0, NULL,
                              CREATE_ALWAYS, 0, NULL);
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    CloseHandle(file);
    build();
    std::wstring expected = std::wstring(testStages->paths.basePath) + L"lib\\\x65E5\x672C\x8A9E.jar;";
    EXPECT_EQ(std::wstring(testStages->classPath.classPathText), expected);
    std::vector<std::string> lines = testLogMessages();
    EXPECT_NE(std::find(lines.begin(), lines.end(), "Ext:  '.jar'"), lines.end());
}

} // namespace
