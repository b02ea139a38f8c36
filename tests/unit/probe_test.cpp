// Library probing on installation paths near the system's limit, where some
// candidates no longer fit their buffer. Such paths exist only in memory here:
// the library loader is replaced for the whole test program (through its
// import slot) and forwards to the system unless a probe test is running.
#include <gtest/gtest.h>

#include <windows.h>

#include <string>
#include <vector>

#include "launcher/paths.h"
#include "launcher/probe.h"
#include "log/log.h"
#include "test_support.h"

namespace {

typedef HMODULE(WINAPI *LoadLibraryExWFunction)(LPCWSTR, HANDLE, DWORD);

bool scriptingLoads;
DWORD requestedFlags;
std::vector<std::wstring> requestedLibraries;
std::vector<std::wstring> loadableLibraries;
const HMODULE FAKE_MODULE = (HMODULE)0x7e570000;

} // namespace

extern "C" {

HMODULE WINAPI probeLoadLibraryExW(LPCWSTR path, HANDLE file, DWORD flags)
{
    if (!scriptingLoads)
        return ((LoadLibraryExWFunction)(void *)GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "LoadLibraryExW"))(
            path, file, flags);
    requestedFlags |= flags;
    std::wstring requested(path, wcsnlen(path, PATH_CAPACITY));
    requestedLibraries.push_back(requested);
    for (const std::wstring &loadable : loadableLibraries)
        if (requested == loadable)
            return FAKE_MODULE;
    SetLastError(ERROR_MOD_NOT_FOUND);
    return NULL;
}

void *__imp_LoadLibraryExW = (void *)probeLoadLibraryExW;

} // extern "C"

namespace {

struct Candidate {
    bool fromBasePath; // else the KTR path
    const wchar_t *suffix;
    const char *tryingLine;
    const char *failureLine;
};

// Both lists in the order they are tried: the runtime library's, then the
// virtual machine library's. The first of each is the one the path stage
// prepared from the KTR path.
const Candidate CANDIDATES[] = {
    {false, L"jdk\\jre\\bin\\msvcr120.dll", "Trying to load msvcr120.dll at ", "Failed to load msvcr120.dll at "},
    {false, L"jdk\\jre\\bin\\default\\msvcr100.dll", "Trying to load msvcr100.dll at ",
     "Failed to load msvcr100.dll at "},
    {true, L"jdk\\jre\\bin\\default\\msvcr100.dll", "Trying to load msvcr100.dll at ",
     "Failed to load mscvr100.dll at "},
    {false, L"jdk\\jre\\bin\\msvcr100.dll", "Trying to load msvcr100.dll at Oracle location ",
     "Failed to load mscvr100.dll at "},
    {false, L"jdk\\jre\\bin\\vcruntime140.dll", "Trying to load vcruntime140.dll at ",
     "Failed to load vcruntime140.dll at "},
    {false, L"jdk\\bin\\vcruntime140.dll", "Trying to load vcruntime140.dll at ", "Failed to load vcruntime.dll at "},
    {false, L"jdk\\jre\\bin\\default\\jvm.dll", "Trying to load jvm dll at ", "Failed to load jvm.dll at "},
    {true, L"jdk\\jre\\bin\\default\\jvm.dll", "Trying to load jvm.dll at ", "Failed to load jvm.dll at "},
    {false, L"jdk\\jre\\bin\\server\\jvm.dll", "Trying to load jvm.dll at Oracle location ",
     "Failed to load jvm.dll at "},
    {false, L"jdk\\jre\\bin\\j9vm\\jvm.dll", "Trying to load jvm.dll at OpenJ9 location ",
     "Failed to load jvm.dll at "},
    {false, L"jdk\\bin\\j9vm\\jvm.dll", "Trying to load jvm.dll at OpenJ9 VM 17 location ",
     "Failed to load jvm.dll at "},
};

std::string narrow(const std::wstring &text)
{
    return std::string(text.begin(), text.end());
}

// The long run of one letter in each path shortened, so that a failure reads.
std::vector<std::string> squeezed(std::vector<std::string> lines)
{
    for (std::string &line : lines) {
        size_t first = line.find("kkkk");
        if (first != std::string::npos) {
            size_t end = line.find_first_not_of('k', first);
            if (end == std::string::npos)
                end = line.size();
            line.replace(first, end - first, "<" + std::to_string(end - first) + " k>");
        }
    }
    return lines;
}

class LibraryProbe : public ::testing::Test {
protected:
    void TearDown() override
    {
        scriptingLoads = false;
        requestedLibraries.clear();
        loadableLibraries.clear();
    }
};

// A candidate that does not fit is logged, cut, as a failed attempt and never
// loaded, even where a library would load from the cut path: that path may
// name some other library. Every candidate that fits is tried as usual.
TEST_F(LibraryProbe, CandidateThatDoesNotFitIsAFailedAttemptWithoutALoad)
{
    // KTR paths of 32736 characters (the longest executable path) and of 32734,
    // where KTR path + "jdk\jre\bin\default\msvcr100.dll" just fits.
    const size_t ktrLengths[] = {32736, 32734};
    for (size_t ktrLength : ktrLengths) {
        std::wstring ktr = L"C:\\" + std::wstring(ktrLength - 4, L'k') + L"\\";
        std::wstring base = ktr + L"Velmorane\\";
        useTestLog();
        boundedCopy(testStages->paths.executablePath, (base + L"VelmoraneService.exe").c_str());
        LaunchInputs inputs = {NULL, NULL, NULL, NULL, LAUNCH_TO_MAIN};
        PathsResult paths;
        deriveInstallationPaths(&inputs, &testStages->paths, &paths);
        useTestLog();

        std::vector<std::string> lines;
        std::vector<std::string> tried;
        size_t cut = 0;
        for (const Candidate &candidate : CANDIDATES) {
            std::wstring path = (candidate.fromBasePath ? base : ktr) + candidate.suffix;
            if (path.size() < PATH_CAPACITY) {
                tried.push_back(narrow(path));
            } else {
                path.resize(PATH_CAPACITY - 1);
                loadableLibraries.push_back(path);
                cut++;
            }
            lines.push_back(candidate.tryingLine + narrow(path));
            lines.push_back(candidate.failureLine + narrow(path));
        }
        ASSERT_EQ(cut, ktrLength == 32736 ? 3u : 2u);

        scriptingLoads = true;
        ProbeResult result = {};
        probeRuntimeLibrary(&testStages->paths, &result);
        EXPECT_EQ(probeJvmLibrary(&testStages->paths, &result), (HMODULE)NULL) << ktrLength;
        // Every candidate in the result: the cut ones as such, the rest failed.
        size_t cutInResult = 0;
        for (const LibraryAttempt &attempt : result.runtime)
            cutInResult += attempt.outcome == LIBRARY_PATH_CUT;
        for (const LibraryAttempt &attempt : result.jvm)
            cutInResult += attempt.outcome == LIBRARY_PATH_CUT;
        EXPECT_EQ(cutInResult, cut) << ktrLength;
        EXPECT_EQ(result.jvmLoaded, -1) << ktrLength;
        scriptingLoads = false;
        std::vector<std::string> requested;
        for (const std::wstring &path : requestedLibraries)
            requested.push_back(narrow(path));
        EXPECT_EQ(squeezed(requested), squeezed(tried)) << ktrLength;
        EXPECT_EQ(squeezed(testLogMessages()), squeezed(lines)) << ktrLength;
        EXPECT_EQ(requestedFlags, (DWORD)(LOAD_LIBRARY_SEARCH_DLL_LOAD_DIR | LOAD_LIBRARY_SEARCH_DEFAULT_DIRS));
        requestedLibraries.clear();
        loadableLibraries.clear();
    }
}

// A library's imports come from its own folder and the system's, never from
// the current folder or PATH: there someone else could put one for the
// service to load. The stand-in jvm.dll imports velmoranedep.dll.
TEST_F(LibraryProbe, ImportsAreNotTakenFromTheCurrentFolderOrPath)
{
    wchar_t self[MAX_PATH];
    GetModuleFileNameW(NULL, self, MAX_PATH);
    std::wstring standins = std::wstring(self).substr(0, std::wstring(self).rfind(L'\\'));
    standins = standins.substr(0, standins.rfind(L'\\')) + L"\\fixtures\\standins\\";
    std::string dir = makeTempDir("search");
    std::wstring wide(dir.begin(), dir.end());
    std::wstring jvm = wide + L"\\jvm\\jvm.dll", cwd = wide + L"\\cwd\\", onPath = wide + L"\\path\\";
    for (const std::wstring &folder : {wide + L"\\jvm", cwd, onPath})
        CreateDirectoryW(folder.c_str(), NULL);
    ASSERT_TRUE(CopyFileW((standins + L"jvm-imports\\jvm.dll").c_str(), jvm.c_str(), FALSE));
    const std::wstring dependency = standins + L"dependency\\velmoranedep.dll";
    ASSERT_TRUE(CopyFileW(dependency.c_str(), (cwd + L"velmoranedep.dll").c_str(), FALSE));
    ASSERT_TRUE(CopyFileW(dependency.c_str(), (onPath + L"velmoranedep.dll").c_str(), FALSE));
    wchar_t savedCwd[MAX_PATH], savedPath[32767];
    GetCurrentDirectoryW(MAX_PATH, savedCwd);
    GetEnvironmentVariableW(L"PATH", savedPath, 32767);
    SetCurrentDirectoryW(cwd.c_str());
    SetEnvironmentVariableW(L"PATH", (onPath + L";" + savedPath).c_str());

    struct {
        const char *name;
        bool besideIt;
        LibraryOutcome outcome;
    } cases[] = {{"dependency in the current folder and on PATH only", false, LIBRARY_FAILED},
                 {"dependency beside jvm.dll", true, LIBRARY_LOADED}};
    for (const auto &c : cases) {
        if (c.besideIt)
            ASSERT_TRUE(CopyFileW(dependency.c_str(), (wide + L"\\jvm\\velmoranedep.dll").c_str(), FALSE));
        useTestLog();
        boundedCopy(testStages->paths.jvmLibraryPath, jvm.c_str());
        boundedCopy(testStages->paths.basePath, (wide + L"\\none\\").c_str());
        boundedCopy(testStages->paths.ktrPath, (wide + L"\\none\\").c_str());
        ProbeResult result = {};
        HMODULE module = probeJvmLibrary(&testStages->paths, &result);
        EXPECT_EQ(result.jvm[0].outcome, c.outcome) << c.name;
        EXPECT_EQ(module != NULL, c.outcome == LIBRARY_LOADED) << c.name;
        if (module != NULL)
            FreeLibrary(module);
    }
    SetCurrentDirectoryW(savedCwd);
    SetEnvironmentVariableW(L"PATH", savedPath);
}

// A relative VLJVMDLL is a failed attempt, never handed to the loader, which
// would look for it along the search path; the next candidates are tried.
TEST_F(LibraryProbe, RelativeVariableIsNeverLoaded)
{
    const std::wstring relative = L"jdk\\bin\\server\\jvm.dll", none = L"C:\\none\\";
    useTestLog();
    boundedCopy(testStages->paths.jvmLibraryPath, relative.c_str());
    boundedCopy(testStages->paths.basePath, none.c_str());
    boundedCopy(testStages->paths.ktrPath, none.c_str());
    loadableLibraries.push_back(relative);
    scriptingLoads = true;
    ProbeResult result = {};
    EXPECT_EQ(probeJvmLibrary(&testStages->paths, &result), (HMODULE)NULL);
    scriptingLoads = false;
    EXPECT_EQ(result.jvm[0].outcome, LIBRARY_RELATIVE_PATH);
    EXPECT_EQ(requestedLibraries.size(), (size_t)JVM_CANDIDATE_COUNT - 1);
    const std::vector<std::string> lines = testLogMessages();
    EXPECT_EQ(std::vector<std::string>(lines.begin(), lines.begin() + 2),
              (std::vector<std::string>{"Trying to load jvm dll at jdk\\bin\\server\\jvm.dll",
                                        "Failed to load jvm.dll at jdk\\bin\\server\\jvm.dll"}));
}

} // namespace
