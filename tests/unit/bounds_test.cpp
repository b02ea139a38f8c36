// Randomised inputs against the launcher's buffers: the string operations on
// buffers of exactly their capacity with guard space on both sides, and the
// path derivation and class path builder on their process-wide buffers, each
// compared with a plain model of what it must produce.
//
// The seed is fixed so that a failure can be repeated; VELMORANE_BOUNDS_SEED
// (decimal or 0x hex) picks another one. Every failure message names the seed
// and the iteration.
#include <gtest/gtest.h>

#include <windows.h>
#include <stdint.h>
#include <stdlib.h>
#include <string.h>

#include <map>
#include <set>
#include <string>
#include <vector>

#include "launcher/classpath.h"
#include "launcher/paths.h"
#include "launcher/strings.h"
#include "log/log.h"
#include "test_support.h"
#include "../common/string_models.h"

namespace {

// ---------------------------------------------------------------- randomness

uint64_t seedFromEnvironment(void)
{
    const char *text = getenv("VELMORANE_BOUNDS_SEED");
    if (text != NULL && *text != '\0')
        return strtoull(text, NULL, 0);
    return 0x5eedb0d5c0ffee01ull;
}

const uint64_t SEED = seedFromEnvironment();

// splitmix64: small, fast and the same on every platform.
struct Random {
    uint64_t state;
};

uint64_t next(Random *random)
{
    uint64_t z = (random->state += 0x9e3779b97f4a7c15ull);
    z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9ull;
    z = (z ^ (z >> 27)) * 0x94d049bb133111ebull;
    return z ^ (z >> 31);
}

size_t below(Random *random, size_t bound)
{
    return bound == 0 ? 0 : (size_t)(next(random) % bound);
}

Random randomFor(uint64_t salt)
{
    Random random = {SEED ^ (salt * 0x2545f4914f6cdd1dull)};
    return random;
}

std::string trace(const char *suite, int iteration)
{
    char text[160];
    snprintf(text, sizeof text, "%s: seed 0x%016llx, iteration %d (VELMORANE_BOUNDS_SEED repeats a run)", suite,
             (unsigned long long)SEED, iteration);
    return text;
}

// Lengths at and around every capacity and cut of the launcher.
const size_t EDGE_LENGTHS[] = {
    0,     1,     2,     3,     4,     5,     19,    20,    21,    29,    30,    31,    258,   259,   260,
    32735, 32736, 32737, 32745, 32746, 32747, 32748, 32762, 32763, 32764, 32765, 32766, 32767, 32768, 32769,
    40000,
};

size_t randomLength(Random *random, size_t longest)
{
    size_t length;
    switch (below(random, 4)) {
    case 0:
    case 1:
        length = EDGE_LENGTHS[below(random, sizeof EDGE_LENGTHS / sizeof EDGE_LENGTHS[0])];
        break;
    case 2:
        length = below(random, 64);
        break;
    default:
        length = below(random, 33000);
        break;
    }
    return length < longest ? length : longest;
}

// One character (one or two UTF-16 units), drawn from every class the code
// pages treat differently.
void appendRandomCharacter(Random *random, std::wstring *text)
{
    static const wchar_t PLAIN[] = L"abcxyzABCXYZ0129 _-.\\:;$~jarJAR";
    switch (below(random, 16)) {
    case 0:
        text->push_back(0x00E9); // in Western code pages, not in 932
        break;
    case 1:
        text->push_back((wchar_t)(0x65E5 + below(random, 3))); // two bytes in 932, none in Western ones
        break;
    case 2:
        text->push_back((wchar_t)(0xFF76 + below(random, 4))); // one byte in 932 (half-width kana)
        break;
    case 3:
        text->push_back(0xD83D); // a surrogate pair
        text->push_back((wchar_t)(0xDE00 + below(random, 4)));
        break;
    case 4: {
        static const wchar_t ODD[] = {0xD800, 0xDFFF, 0xFFFF, 0x0080, 0x4E2D, 0x20AC, 0x00A5, 0x0451};
        text->push_back(ODD[below(random, sizeof ODD / sizeof ODD[0])]);
        break;
    }
    default:
        text->push_back(PLAIN[below(random, sizeof PLAIN / sizeof PLAIN[0] - 1)]);
        break;
    }
}

std::wstring randomText(Random *random, size_t length)
{
    std::wstring text;
    text.reserve(length + 1);
    // Mostly plain text with the odd special character: long runs of one
    // kind of character are what fill the buffers.
    int mix = (int)below(random, 3);
    while (text.size() < length) {
        if (mix == 0 || below(random, 8) == 0)
            appendRandomCharacter(random, &text);
        else
            text.push_back((wchar_t)(L'a' + below(random, 26)));
    }
    text.resize(length); // may split a surrogate pair at the end: that's input too
    return text;
}

// --------------------------------------------------------- guarded buffers

const size_t GUARD = 256;
const wchar_t WIDE_GUARD = 0xFDFD;
const char ANSI_GUARD = (char)0xFD;

// A wide buffer of exactly PATH_CAPACITY units with guards before and after.
struct WideGuarded {
    wchar_t all[GUARD + PATH_CAPACITY + GUARD];
};

struct AnsiGuarded {
    char all[GUARD + ANSI_CAPACITY + GUARD];
};

wchar_t *inside(WideGuarded *buffer)
{
    return buffer->all + GUARD;
}

char *inside(AnsiGuarded *buffer)
{
    return buffer->all + GUARD;
}

void armGuards(WideGuarded *buffer)
{
    for (size_t i = 0; i < GUARD; i++) {
        buffer->all[i] = WIDE_GUARD;
        buffer->all[GUARD + PATH_CAPACITY + i] = WIDE_GUARD;
    }
}

bool guardsIntact(const WideGuarded *buffer)
{
    for (size_t i = 0; i < GUARD; i++)
        if (buffer->all[i] != WIDE_GUARD || buffer->all[GUARD + PATH_CAPACITY + i] != WIDE_GUARD)
            return false;
    return true;
}

// The guards sit right around capacity bytes at the start of the buffer.
void armGuards(AnsiGuarded *buffer, size_t capacity)
{
    memset(buffer->all, ANSI_GUARD, GUARD);
    memset(buffer->all + GUARD + capacity, ANSI_GUARD, GUARD);
}

bool guardsIntact(const AnsiGuarded *buffer, size_t capacity)
{
    for (size_t i = 0; i < GUARD; i++)
        if (buffer->all[i] != ANSI_GUARD || buffer->all[GUARD + capacity + i] != ANSI_GUARD)
            return false;
    return true;
}

// Fills the inside with noise, so a missing terminator or a stray write shows.
void fillNoise(Random *random, wchar_t *text, size_t count)
{
    for (size_t i = 0; i < count; i++)
        text[i] = (wchar_t)(0x41 + below(random, 20));
}

// ------------------------------------------------------ string operations

WideGuarded wideActual;
WideGuarded wideExpected;
AnsiGuarded ansiActual;

TEST(BoundsStrings, BoundedOperationsMatchTheirModelAndStayInside)
{
    Random random = randomFor(1);
    for (int iteration = 0; iteration < 1500; iteration++) {
        SCOPED_TRACE(trace("BoundsStrings", iteration));
        std::wstring source = randomText(&random, randomLength(&random, 40000));
        std::wstring start = randomText(&random, randomLength(&random, 40000));

        // The destination starts as noise, a terminated text or, now and
        // then, a full capacity without any terminator.
        armGuards(&wideActual);
        fillNoise(&random, inside(&wideActual), PATH_CAPACITY);
        if (below(&random, 8) != 0) {
            size_t keep = start.size() < PATH_CAPACITY - 1 ? start.size() : PATH_CAPACITY - 1;
            memcpy(inside(&wideActual), start.c_str(), keep * sizeof(wchar_t));
            inside(&wideActual)[keep] = L'\0';
        }
        memcpy(wideExpected.all, wideActual.all, sizeof wideActual.all);

        int operation = (int)below(&random, 4);
        if (operation == 0) {
            boundedCopy(inside(&wideActual), source.c_str());
            modelCopy(inside(&wideExpected), source.c_str());
        } else if (operation == 1) {
            static const size_t COUNTS[] = {0, 1, 20, 30, 32766, 32767, 0x7ffffffe, 0x7fffffff, (size_t)-1,
                                            (size_t)-20, (size_t)-30};
            size_t count = below(&random, 2) ? COUNTS[below(&random, sizeof COUNTS / sizeof COUNTS[0])]
                                             : below(&random, source.size() + 40);
            SCOPED_TRACE("count " + std::to_string(count));
            boundedPrefixCopy(inside(&wideActual), source.c_str(), count);
            modelPrefixCopy(inside(&wideExpected), source.c_str(), count);
        } else if (operation == 2) {
            boundedAppend(inside(&wideActual), source.c_str());
            modelAppend(inside(&wideExpected), source.c_str());
        } else {
            // joinPath's directory is always a terminated path buffer.
            std::wstring dir = modelCopied(start);
            std::wstring suffix = source.substr(0, below(&random, 2) ? 40 : source.size());
            bool fitted = joinPath(inside(&wideActual), dir.c_str(), suffix.c_str());
            modelCopy(inside(&wideExpected), dir.c_str());
            modelAppend(inside(&wideExpected), suffix.c_str());
            EXPECT_EQ(fitted, dir.size() + suffix.size() < PATH_CAPACITY);
        }
        SCOPED_TRACE("operation " + std::to_string(operation) + ", source length " + std::to_string(source.size()));
        ASSERT_TRUE(guardsIntact(&wideActual));
        // Nothing past the terminator changes either, as with the SDK's calls.
        ASSERT_EQ(memcmp(wideActual.all, wideExpected.all, sizeof wideActual.all), 0)
            << "result length " << wcsnlen(inside(&wideActual), PATH_CAPACITY) << ", model "
            << wcsnlen(inside(&wideExpected), PATH_CAPACITY);
    }
}

TEST(BoundsStrings, AnsiCopyFillsNoMoreThanItsCapacity)
{
    Random random = randomFor(2);
    static const size_t CAPACITIES[] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 260, 261, 32765, 32766};
    int doubleByteCuts = 0;
    for (int iteration = 0; iteration < 1200; iteration++) {
        SCOPED_TRACE(trace("BoundsStrings", iteration));
        // Path buffers are terminated within their capacity; longer sources
        // are cut there first.
        std::wstring source = modelCopied(randomText(&random, randomLength(&random, 40000)));
        bool whole = below(&random, 2) == 0;
        size_t capacity = whole ? ANSI_CAPACITY
                                : (below(&random, 2) ? CAPACITIES[below(&random, sizeof CAPACITIES / sizeof CAPACITIES[0])]
                                                     : 1 + below(&random, 400));
        SCOPED_TRACE("capacity " + std::to_string(capacity) + ", source length " + std::to_string(source.size()));
        armGuards(&ansiActual, capacity);
        memset(inside(&ansiActual), 'n', capacity);
        if (whole)
            ansiCopy(source.c_str(), inside(&ansiActual));
        else
            ansiCopyN(source.c_str(), inside(&ansiActual), capacity);
        ASSERT_TRUE(guardsIntact(&ansiActual, capacity));
        ASSERT_TRUE(terminatedWithin(inside(&ansiActual), capacity));
        std::string expected = modelAnsi(source.c_str(), capacity);
        ASSERT_EQ(strlen(inside(&ansiActual)), expected.size());
        ASSERT_EQ(std::string(inside(&ansiActual)), expected);
        if (whole && expected != modelAnsi(source.c_str(), 2 * PATH_CAPACITY + 1))
            doubleByteCuts++;
    }
    // With a double-byte code page the whole buffer must have been cut too.
    if (IsDBCSLeadByte(0x81)) {
        EXPECT_GT(doubleByteCuts, 10);
    } else {
        EXPECT_EQ(doubleByteCuts, 0) << "single-byte copies of a path buffer are never cut";
    }
}

TEST(BoundsStrings, ModifiedUtf8AppendsWholeCharactersWithinCapacity)
{
    Random random = randomFor(3);
    for (int iteration = 0; iteration < 1500; iteration++) {
        SCOPED_TRACE(trace("BoundsStrings", iteration));
        size_t capacity = below(&random, 4) == 0 ? ANSI_CAPACITY : 1 + below(&random, 300);
        std::wstring source = randomText(&random, randomLength(&random, capacity + 8));
        size_t used = below(&random, capacity);
        armGuards(&ansiActual, capacity);
        memset(inside(&ansiActual), 'p', capacity);
        inside(&ansiActual)[used] = '\0';
        bool whole = false;
        std::string expected = std::string(used, 'p') + modelUtf8(source, capacity - 1 - used, &whole);
        SCOPED_TRACE("capacity " + std::to_string(capacity) + ", used " + std::to_string(used));
        ASSERT_EQ(appendModifiedUtf8(inside(&ansiActual), capacity, source.c_str()), whole);
        ASSERT_TRUE(guardsIntact(&ansiActual, capacity));
        ASSERT_TRUE(terminatedWithin(inside(&ansiActual), capacity));
        ASSERT_EQ(std::string(inside(&ansiActual)), expected);
    }
}

TEST(BoundsStrings, JarTestAndOptionCutOnRandomNames)
{
    Random random = randomFor(4);
    static const wchar_t *const SUFFIXES[] = {L".jar", L".JAR", L".Jar", L".jar.txt", L"jar", L".ja", L""};
    for (int iteration = 0; iteration < 3000; iteration++) {
        SCOPED_TRACE(trace("BoundsStrings", iteration));
        std::wstring name = randomText(&random, below(&random, 3) == 0 ? below(&random, 3) : below(&random, 255));
        name += SUFFIXES[below(&random, sizeof SUFFIXES / sizeof SUFFIXES[0])];
        if (name.size() > 259)
            name.resize(259);
        char ansi[ANSI_CAPACITY];
        ansiCopy(name.c_str(), ansi);
        EXPECT_EQ(isJarName(name.c_str(), ansi), modelIsJar(name)) << ansi;

        // A class path of any length: the option is cut after a whole
        // character and always ends with its line feed.
        std::wstring classPath = modelCopied(randomText(&random, randomLength(&random, 40000)));
        std::string classPathAnsi = modelAnsi(classPath.c_str(), ANSI_CAPACITY);
        formatClassPathOption(classPathAnsi.c_str());
        ASSERT_TRUE(terminatedWithin(classPathOption, ANSI_CAPACITY));
        ASSERT_EQ(std::string(classPathOption), modelOption(classPathAnsi));
        size_t limit = below(&random, classPathAnsi.size() + 2);
        size_t cut = ansiCutLength(classPathAnsi.c_str(), limit);
        ASSERT_EQ(cut, modelCut(classPathAnsi, limit)) << "limit " << limit;
    }
}

// -------------------------------------------------------- path derivation

void expectTerminatedPathBuffers(void)
{
    const wchar_t *const wide[] = {executablePath, basePath, ktrPath, jvmLibraryPath, runtimeLibraryPath};
    const char *const ansi[] = {executablePathAnsi, basePathAnsi, ktrPathAnsi, jvmLibraryPathAnsi,
                                runtimeLibraryPathAnsi};
    for (const wchar_t *text : wide)
        EXPECT_TRUE(terminatedWithin(text, PATH_CAPACITY));
    for (const char *text : ansi)
        EXPECT_TRUE(terminatedWithin(text, ANSI_CAPACITY));
}

std::wstring cutByCount(const std::wstring &path, size_t cut)
{
    return path.size() > cut ? path.substr(0, path.size() - cut) : std::wstring();
}

class BoundsPaths : public ::testing::Test {
protected:
    void SetUp() override { useTestLog(); }
    void TearDown() override { logRetired = 0; }
};

TEST_F(BoundsPaths, DerivationFromRandomExecutablePaths)
{
    Random random = randomFor(5);
    for (int iteration = 0; iteration < 600; iteration++) {
        SCOPED_TRACE(trace("BoundsPaths", iteration));
        std::wstring raw = randomText(&random, randomLength(&random, 40000));
        // The system cuts a path that does not fit; the routine must cope
        // even with a buffer that it left without a terminator.
        size_t stored = raw.size() < PATH_CAPACITY ? raw.size() : PATH_CAPACITY;
        memcpy(executablePath, raw.c_str(), stored * sizeof(wchar_t));
        if (stored < PATH_CAPACITY)
            executablePath[stored] = L'\0';
        std::wstring path = raw.substr(0, PATH_CAPACITY - 1);

        bool override = below(&random, 8) == 0;
        std::wstring value;
        if (override) {
            value = randomText(&random, randomLength(&random, 32766));
            if (value.empty())
                value = L"x";
        }
        LaunchInputs inputs = {NULL, override ? value.c_str() : NULL, NULL, NULL, LAUNCH_TO_MAIN};
        PathsResult paths;
        // Records are checked now and then only: each one is a file open.
        bool logged = iteration % 50 == 0;
        if (logged)
            useTestLog();
        logRetired = logged ? 0 : 1;

        deriveInstallationPaths(&inputs, &paths);

        SCOPED_TRACE("executable path length " + std::to_string(path.size()));
        expectTerminatedPathBuffers();
        std::wstring base = cutByCount(path, EXECUTABLE_NAME_LENGTH);
        std::wstring ktr = cutByCount(path, EXECUTABLE_DIR_AND_NAME_LENGTH);
        std::wstring jvm = ktr + JVM_LIBRARY_SUFFIX;
        if (override && value.size() < PATH_CAPACITY)
            jvm = value;
        ASSERT_EQ(std::wstring(executablePath), path);
        ASSERT_EQ(std::wstring(basePath), base);
        ASSERT_EQ(std::wstring(ktrPath), ktr);
        ASSERT_EQ(std::wstring(jvmLibraryPath), jvm);
        ASSERT_EQ(std::wstring(runtimeLibraryPath), ktr + RUNTIME_LIBRARY_SUFFIX);
        ASSERT_EQ(std::string(executablePathAnsi), modelAnsi(path.c_str(), ANSI_CAPACITY));
        ASSERT_EQ(std::string(basePathAnsi), modelAnsi(base.c_str(), ANSI_CAPACITY));
        ASSERT_EQ(std::string(ktrPathAnsi), modelAnsi(ktr.c_str(), ANSI_CAPACITY));
        ASSERT_EQ(std::string(jvmLibraryPathAnsi), modelAnsi(jvm.c_str(), ANSI_CAPACITY));
        ASSERT_EQ(std::string(runtimeLibraryPathAnsi), modelAnsi((ktr + RUNTIME_LIBRARY_SUFFIX).c_str(), ANSI_CAPACITY));
        if (logged) {
            std::vector<std::string> lines = testLogMessages();
            ASSERT_GE(lines.size(), 6u);
            EXPECT_EQ(lines[2], "Name size:  " + std::to_string(path.size()));
            EXPECT_EQ(lines[3], "Base path '" + std::string(basePathAnsi) + "'");
            EXPECT_EQ(lines[4], "KTR path '" + std::string(ktrPathAnsi) + "'");
        }
    }
}

// ---------------------------------------------------- class path builder
//
// The directory enumeration is replaced for the whole test program (through
// its import slots); it forwards to the system unless a listing is scripted,
// so the other tests still see real directories.

struct ScriptedSearch {
    bool found;
    std::vector<std::wstring> names;
};

bool scripting;
std::vector<ScriptedSearch> scriptedSearches; // in the order FindFirstFileW is called
std::vector<std::wstring> searchedPatterns;
std::map<HANDLE, std::pair<size_t, size_t>> openSearches; // handle -> search, next name
uintptr_t nextScriptedHandle = 0x7e570000;
Random entryNoise = {0x0ddba11};

typedef HANDLE(WINAPI *FindFirstFileWFunction)(LPCWSTR, LPWIN32_FIND_DATAW);
typedef BOOL(WINAPI *FindNextFileWFunction)(HANDLE, LPWIN32_FIND_DATAW);
typedef BOOL(WINAPI *FindCloseFunction)(HANDLE);

FARPROC systemCall(const char *name)
{
    return GetProcAddress(GetModuleHandleW(L"kernel32.dll"), name);
}

void fillEntry(LPWIN32_FIND_DATAW entry, const std::wstring &name)
{
    // Noise after the terminator: the name's end is its terminator, nothing else.
    memset(entry, 0xA5, sizeof *entry);
    for (size_t i = 0; i < MAX_PATH; i++)
        entry->cFileName[i] = (wchar_t)(L'N' + below(&entryNoise, 8));
    memcpy(entry->cFileName, name.c_str(), name.size() * sizeof(wchar_t));
    entry->cFileName[name.size()] = L'\0';
    entry->dwFileAttributes = FILE_ATTRIBUTE_NORMAL;
}

} // namespace

extern "C" {

HANDLE WINAPI boundsFindFirstFileW(LPCWSTR pattern, LPWIN32_FIND_DATAW entry)
{
    if (!scripting)
        return ((FindFirstFileWFunction)(void *)systemCall("FindFirstFileW"))(pattern, entry);
    size_t index = searchedPatterns.size();
    searchedPatterns.push_back(std::wstring(pattern, wcsnlen(pattern, PATH_CAPACITY)));
    if (index >= scriptedSearches.size() || !scriptedSearches[index].found ||
        scriptedSearches[index].names.empty()) {
        SetLastError(ERROR_PATH_NOT_FOUND);
        return INVALID_HANDLE_VALUE;
    }
    fillEntry(entry, scriptedSearches[index].names[0]);
    HANDLE handle = (HANDLE)(nextScriptedHandle += 4);
    openSearches[handle] = std::make_pair(index, (size_t)1);
    return handle;
}

BOOL WINAPI boundsFindNextFileW(HANDLE handle, LPWIN32_FIND_DATAW entry)
{
    auto open = openSearches.find(handle);
    if (open == openSearches.end())
        return ((FindNextFileWFunction)(void *)systemCall("FindNextFileW"))(handle, entry);
    const std::vector<std::wstring> &names = scriptedSearches[open->second.first].names;
    if (open->second.second >= names.size()) {
        SetLastError(ERROR_NO_MORE_FILES);
        return FALSE;
    }
    fillEntry(entry, names[open->second.second++]);
    return TRUE;
}

BOOL WINAPI boundsFindClose(HANDLE handle)
{
    auto open = openSearches.find(handle);
    if (open == openSearches.end())
        return ((FindCloseFunction)(void *)systemCall("FindClose"))(handle);
    openSearches.erase(open);
    return TRUE;
}

void *__imp_FindFirstFileW = (void *)boundsFindFirstFileW;
void *__imp_FindNextFileW = (void *)boundsFindNextFileW;
void *__imp_FindClose = (void *)boundsFindClose;

} // extern "C"

namespace {

std::wstring randomEntryName(Random *random)
{
    static const wchar_t *const FIXED[] = {L".", L"..", L".jar", L"x.jar", L"..jar", L"a.JAR", L"B.Jar",
                                           L"a.jar.txt", L"ajar", L"lib.jar ", L"\x65E5.jar", L"\x65E5\x672C"};
    static const wchar_t *const SUFFIXES[] = {L".jar", L".jar", L".JAR", L".jar.bak", L".txt", L"jar", L""};
    if (below(random, 5) == 0)
        return FIXED[below(random, sizeof FIXED / sizeof FIXED[0])];
    size_t stem = below(random, 6) == 0 ? 200 + below(random, 60) : below(random, 24);
    std::wstring name = randomText(random, stem);
    for (wchar_t &c : name)
        if (c == L'\\')
            c = L'_';
    name += SUFFIXES[below(random, sizeof SUFFIXES / sizeof SUFFIXES[0])];
    // The longest name an entry holds.
    if (name.size() > MAX_PATH - 1)
        name.erase(0, name.size() - (MAX_PATH - 1));
    return name;
}

std::vector<std::wstring> randomListing(Random *random)
{
    std::vector<std::wstring> names;
    if (below(random, 4) != 0) {
        names.push_back(L".");
        names.push_back(L"..");
    }
    size_t count = below(random, 6) == 0 ? 100 + below(random, 100) : below(random, 20);
    for (size_t i = 0; i < count; i++)
        names.push_back(randomEntryName(random));
    return names;
}

class BoundsClassPath : public ::testing::Test {
protected:
    void SetUp() override { useTestLog(); }
    void TearDown() override
    {
        scripting = false;
        scriptedSearches.clear();
        searchedPatterns.clear();
        logRetired = 0;
    }
};

std::wstring bounded(const std::wstring &a, const std::wstring &b, const std::wstring &c = L"",
                     const std::wstring &d = L"")
{
    static WideGuarded model;
    modelCopy(inside(&model), a.c_str());
    modelAppend(inside(&model), b.c_str());
    modelAppend(inside(&model), c.c_str());
    modelAppend(inside(&model), d.c_str());
    return inside(&model);
}

TEST_F(BoundsClassPath, RandomListingsAndOverrides)
{
    Random random = randomFor(6);
    for (int iteration = 0; iteration < 500; iteration++) {
        SCOPED_TRACE(trace("BoundsClassPath", iteration));
        std::wstring base = modelCopied(randomText(&random, randomLength(&random, 40000)));
        boundedCopy(basePath, base.c_str());

        // Search 1 is lib\, search 2 plugins\, the rest plug-in sub-directories.
        scriptedSearches.clear();
        searchedPatterns.clear();
        int shape = (int)below(&random, 4); // 0, 1: lib; 2: plugins; 3: neither
        ScriptedSearch lib = {shape < 2, shape < 2 ? randomListing(&random) : std::vector<std::wstring>()};
        ScriptedSearch plugins = {shape == 2, shape == 2 ? randomListing(&random) : std::vector<std::wstring>()};
        scriptedSearches.push_back(lib);
        scriptedSearches.push_back(plugins);
        if (shape == 2)
            for (size_t i = 0; i < plugins.names.size(); i++) {
                ScriptedSearch sub = {below(&random, 3) != 0, randomListing(&random)};
                scriptedSearches.push_back(sub);
            }

        bool override = below(&random, 5) == 0;
        std::wstring value;
        if (override) {
            value = randomText(&random, randomLength(&random, 32760));
            if (value.empty())
                value = L";";
        }
        LaunchInputs inputs = {NULL, NULL, override ? value.c_str() : NULL, NULL, LAUNCH_TO_MAIN};
        static FolderEntry entries[64];
        ClassPathResult result = {};
        result.entries = entries;
        result.entryCapacity = 64;
        bool logged = iteration % 50 == 0;
        if (logged)
            useTestLog();
        logRetired = logged ? 0 : 1;

        memset(classPathOption, 'o', sizeof classPathOption);
        scripting = true;
        buildClassPath(&inputs, &result);
        scripting = false;

        SCOPED_TRACE("base path length " + std::to_string(base.size()) + ", shape " + std::to_string(shape));
        EXPECT_TRUE(openSearches.empty()) << "every enumeration is closed";
        ASSERT_TRUE(terminatedWithin(searchPattern, PATH_CAPACITY));
        ASSERT_TRUE(terminatedWithin(subdirectoryPattern, PATH_CAPACITY));
        ASSERT_TRUE(terminatedWithin(classPathText, PATH_CAPACITY));
        ASSERT_TRUE(terminatedWithin(entryNameAnsi, ANSI_CAPACITY));
        ASSERT_TRUE(terminatedWithin(subdirectoryPatternAnsi, ANSI_CAPACITY));
        ASSERT_TRUE(terminatedWithin(classPathTextAnsi, ANSI_CAPACITY));
        ASSERT_TRUE(terminatedWithin(classPathOption, ANSI_CAPACITY));
        ASSERT_EQ(std::wstring(basePath), base) << "the base path is read, never written";

        // A search that succeeds returns at least one entry.
        bool libFound = lib.found && !lib.names.empty();
        bool pluginsFound = plugins.found && !plugins.names.empty();
        std::vector<std::wstring> patterns;
        patterns.push_back(bounded(base, L"lib\\*"));
        std::string classPathAnsi;
        if (libFound) {
            std::wstring text;
            for (const std::wstring &name : lib.names)
                if (name.size() > 4 && modelIsJar(name))
                    text = bounded(text, base, L"lib\\", name), text = bounded(text, L";");
            ASSERT_EQ(std::wstring(classPathText), text);
            classPathAnsi = modelAnsi(text.c_str(), ANSI_CAPACITY);
            ASSERT_EQ(std::string(classPathTextAnsi), classPathAnsi);
        } else {
            patterns.push_back(bounded(base, L"plugins\\*"));
            if (pluginsFound) {
                for (const std::wstring &name : plugins.names)
                    patterns.push_back(bounded(base, L"plugins\\", name, L"\\*"));
                ASSERT_STREQ(classPathText, L"");
            }
        }
        ASSERT_EQ(searchedPatterns, patterns);

        std::string option = modelOption(classPathAnsi);
        if (override)
            option = modelOption(modelAnsi(value.c_str(), value.size() * 2 + 1));
        ASSERT_EQ(std::string(classPathOption), option);
        if (logged) {
            std::vector<std::string> lines = testLogMessages();
            ASSERT_GE(lines.size(), 2u);
            EXPECT_EQ(lines[lines.size() - 2], option.substr(0, option.size() - 1));
            EXPECT_EQ(lines.back(), "");
        }
    }
}

} // namespace
