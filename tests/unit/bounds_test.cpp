// The launcher's buffers at their edges: the string operations on buffers of
// exactly their capacity with guard space on both sides, each against rows of
// fixed results; the path derivation and class path builder, on randomised
// inputs, against those string operations applied to the inputs.
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

bool terminatedWithin(const wchar_t *text, size_t capacity)
{
    return wcsnlen(text, capacity) < capacity;
}

bool terminatedWithin(const char *text, size_t capacity)
{
    return strnlen(text, capacity) < capacity;
}

// ------------------------------------------------------ string operations
//
// Rows at the edges of each capacity, with the exact result each must give.

WideGuarded wideActual;
WideGuarded wideExpected;
AnsiGuarded ansiActual;

const size_t UNTERMINATED = PATH_CAPACITY; // as a start length: no terminator at all
enum { COPY, PREFIX, APPEND, JOIN };

// The destination starts as noise holding start a's; the result is keptA a's
// then keptB b's, and nothing after its terminator changes.
struct BoundedRow {
    const char *name;
    int operation;
    size_t start, source, count; // the a's, the b's, and the prefix copy's count
    size_t keptA, keptB;
    bool fitted;
};

TEST(BoundsStrings, BoundedOperationsGiveTheirEdgeRowsAndStayInside)
{
    const size_t C = PATH_CAPACITY, LIMIT = BOUNDED_COUNT_LIMIT;
    const BoundedRow rows[] = {
        {"copy: empty", COPY, 9, 0, 0, 0, 0, true},
        {"copy: one short", COPY, 9, C - 2, 0, 0, C - 2, true},
        {"copy: fills", COPY, 9, C - 1, 0, 0, C - 1, true},
        {"copy: one past", COPY, 9, C, 0, 0, C - 1, true},
        {"copy: far past", COPY, 9, 40000, 0, 0, C - 1, true},
        {"prefix: count 0", PREFIX, 9, 10, 0, 0, 0, true},
        {"prefix: count cuts", PREFIX, 9, 10, 4, 0, 4, true},
        {"prefix: source ends first", PREFIX, 9, 10, 40, 0, 10, true},
        {"prefix: count one short", PREFIX, 9, 40000, C - 2, 0, C - 2, true},
        {"prefix: count fills", PREFIX, 9, 40000, C - 1, 0, C - 1, true},
        {"prefix: count one past", PREFIX, 9, 40000, C, 0, C - 1, true},
        {"prefix: count at the limit", PREFIX, 9, 40000, LIMIT, 0, C - 1, true},
        {"prefix: count past the limit", PREFIX, 9, 10, LIMIT + 1, 0, 0, true},
        {"prefix: wrapped count", PREFIX, 9, 10, (size_t)-1, 0, 0, true},
        {"append: both empty", APPEND, 0, 0, 0, 0, 0, true},
        {"append: room", APPEND, 5, 5, 0, 5, 5, true},
        {"append: fills", APPEND, C - 7, 6, 0, C - 7, 6, true},
        {"append: one past", APPEND, C - 7, 7, 0, C - 7, 6, true},
        {"append: one unit left", APPEND, C - 2, 40000, 0, C - 2, 1, true},
        {"append: full", APPEND, C - 1, 1, 0, C - 1, 0, true},
        {"append: unterminated", APPEND, UNTERMINATED, 5, 0, 0, 0, true},
        {"join: fills", JOIN, C - 7, 6, 0, C - 7, 6, true},
        {"join: one past", JOIN, C - 7, 7, 0, C - 7, 6, false},
        {"join: full directory", JOIN, C - 1, 1, 0, C - 1, 0, false},
        {"join: empty", JOIN, 0, 0, 0, 0, 0, true},
    };
    for (const BoundedRow &row : rows) {
        SCOPED_TRACE(row.name);
        std::wstring start(row.start == UNTERMINATED ? 0 : row.start, L'a'), source(row.source, L'b');
        armGuards(&wideActual);
        // Noise, so that a missing terminator or a stray write shows.
        for (size_t i = 0; i < PATH_CAPACITY; i++)
            inside(&wideActual)[i] = (wchar_t)(L'A' + i % 20);
        if (row.start != UNTERMINATED)
            memcpy(inside(&wideActual), start.c_str(), (start.size() + 1) * sizeof(wchar_t));
        memcpy(wideExpected.all, wideActual.all, sizeof wideActual.all);
        if (row.start != UNTERMINATED || row.operation != APPEND) {
            std::wstring kept = std::wstring(row.keptA, L'a') + std::wstring(row.keptB, L'b');
            memcpy(inside(&wideExpected), kept.c_str(), (kept.size() + 1) * sizeof(wchar_t));
        }

        if (row.operation == COPY)
            boundedCopy(inside(&wideActual), source.c_str());
        else if (row.operation == PREFIX)
            boundedPrefixCopy(inside(&wideActual), source.c_str(), row.count);
        else if (row.operation == APPEND)
            boundedAppend(inside(&wideActual), source.c_str());
        else
            EXPECT_EQ(joinPath(inside(&wideActual), start.c_str(), source.c_str()), row.fitted);
        ASSERT_TRUE(guardsIntact(&wideActual));
        // Nothing past the terminator changes either, as with the SDK's calls.
        ASSERT_EQ(memcmp(wideActual.all, wideExpected.all, sizeof wideActual.all), 0)
            << "result length " << wcsnlen(inside(&wideActual), PATH_CAPACITY);
    }
}

// count times one piece, then a tail: a text, or the bytes it must become.
struct WideText {
    wchar_t piece;
    size_t count;
    const wchar_t *tail;
};
struct AnsiText {
    const char *piece;
    size_t count;
    const char *tail;
};

std::wstring made(const WideText &text)
{
    return std::wstring(text.count, text.piece) + text.tail;
}

std::string made(const AnsiText &text)
{
    std::string result;
    for (size_t i = 0; i < text.count; i++)
        result += text.piece;
    return result + text.tail;
}

bool doubleByte(void)
{
    return IsDBCSLeadByte(0x81);
}

// What a row gives in a single-byte code page (1252) and in code page 932.
struct AnsiRow {
    const char *name;
    WideText source;
    size_t capacity;
    AnsiText single, dbcs;
};

TEST(BoundsStrings, AnsiCopyGivesItsEdgeRowsWithinItsCapacity)
{
    const wchar_t KANJI = 0x65E5; // two bytes in 932, none in 1252
    const AnsiRow rows[] = {
        {"empty", {L'a', 0, L""}, 1, {"", 0, ""}, {"", 0, ""}},
        {"capacity 1", {L'a', 2, L""}, 1, {"", 0, ""}, {"", 0, ""}},
        {"one short", {L'a', 1, L""}, 3, {"a", 1, ""}, {"a", 1, ""}},
        {"fills", {L'a', 2, L""}, 3, {"a", 2, ""}, {"a", 2, ""}},
        {"one past", {L'a', 3, L""}, 3, {"a", 2, ""}, {"a", 2, ""}},
        {"double-byte fills", {KANJI, 2, L""}, 5, {"?", 2, ""}, {"\x93\xFA", 2, ""}},
        {"double-byte cut at the edge", {KANJI, 2, L""}, 4, {"?", 2, ""}, {"\x93\xFA", 1, ""}},
        {"half-width kana", {0xFF76, 1, L"x"}, 3, {"?x", 1, ""}, {"\xB6x", 1, ""}},
        {"surrogate pair fits", {L'a', 1, L"\xD83D\xDE00"}, 4, {"a", 1, "??"}, {"a", 1, "??"}},
        {"surrogate pair cut between its halves", {L'a', 1, L"\xD83D\xDE00"}, 3, {"a", 1, ""}, {"a", 1, ""}},
        {"surrogate pair cut", {L'a', 1, L"\xD83D\xDE00"}, 2, {"a", 1, ""}, {"a", 1, ""}},
        {"whole buffer", {L'a', PATH_CAPACITY - 1, L""}, ANSI_CAPACITY, {"a", 32766, ""}, {"a", 32766, ""}},
        {"whole buffer of kanji", {KANJI, PATH_CAPACITY - 1, L""}, ANSI_CAPACITY, {"?", 32766, ""},
         {"\x93\xFA", 16383, ""}},
        {"kanji cut one short", {KANJI, PATH_CAPACITY - 2, L""}, 260, {"?", 259, ""}, {"\x93\xFA", 129, ""}},
    };
    for (const AnsiRow &row : rows) {
        SCOPED_TRACE(row.name);
        std::wstring source = made(row.source);
        armGuards(&ansiActual, row.capacity);
        memset(inside(&ansiActual), 'n', row.capacity);
        if (row.capacity == ANSI_CAPACITY)
            ansiCopy(source.c_str(), inside(&ansiActual));
        else
            ansiCopyN(source.c_str(), inside(&ansiActual), row.capacity);
        ASSERT_TRUE(guardsIntact(&ansiActual, row.capacity));
        ASSERT_TRUE(terminatedWithin(inside(&ansiActual), row.capacity));
        ASSERT_EQ(std::string(inside(&ansiActual)), made(doubleByte() ? row.dbcs : row.single));
    }
}

struct Utf8Row {
    const char *name;
    size_t capacity, used;
    const wchar_t *source;
    const char *appended;
    bool whole;
};

TEST(BoundsStrings, ModifiedUtf8AppendsWholeUnitsWithinCapacity)
{
    const Utf8Row rows[] = {
        {"nothing into capacity 1", 1, 0, L"", "", true},
        {"capacity 1", 1, 0, L"a", "", false},
        {"fills", 3, 0, L"ab", "ab", true},
        {"one past", 3, 0, L"abc", "ab", false},
        {"two bytes, one left", 3, 1, L"\x00E9", "", false},
        {"two bytes fill", 4, 1, L"\x00E9", "\xC3\xA9", true},
        {"three bytes, two left", 3, 0, L"\x65E5", "", false},
        {"three bytes fill", 4, 0, L"\x65E5", "\xE6\x97\xA5", true},
        {"a pair's first half fits", 5, 0, L"a\xD83D\xDE00", "a\xED\xA0\xBD", false},
        {"full text", 4, 3, L"a", "", false},
    };
    for (const Utf8Row &row : rows) {
        SCOPED_TRACE(row.name);
        armGuards(&ansiActual, row.capacity);
        memset(inside(&ansiActual), 'p', row.capacity);
        inside(&ansiActual)[row.used] = '\0';
        ASSERT_EQ(appendModifiedUtf8(inside(&ansiActual), row.capacity, row.source), row.whole);
        ASSERT_TRUE(guardsIntact(&ansiActual, row.capacity));
        ASSERT_TRUE(terminatedWithin(inside(&ansiActual), row.capacity));
        ASSERT_EQ(std::string(inside(&ansiActual)), std::string(row.used, 'p') + row.appended);
    }
}

TEST(BoundsStrings, JarTestOptionAndCutOnEdgeRows)
{
    const struct {
        const wchar_t *name;
        bool jar;
    } names[] = {{L"x.jar", true},  {L".jar", false},      {L"..jar", true},      {L"x.JAR", false},
                 {L"x.ja", false},  {L"a.jar.txt", false}, {L"lib.jar ", false},  {L"\x65E5.jar", true},
                 {L"", false},      {L"\xD83D\xDE00.jar", true}};
    for (const auto &row : names) {
        char ansi[ANSI_CAPACITY];
        ansiCopy(row.name, ansi);
        EXPECT_EQ(isJarName(row.name, ansi), row.jar) << ansi;
    }

    // The option keeps what fits of the class path after whole characters.
    const size_t ROOM = CLASS_PATH_ROOM;
    const struct {
        AnsiText classPath;
        size_t limit, single, dbcs; // cut lengths at limit; and in the option
    } rows[] = {
        {{"a", 0, ""}, 5, 0, 0},
        {{"a", 3, ""}, 2, 2, 2},
        {{"a", 3, ""}, 10, 3, 3},
        {{"a", 1, "\x93\xFA"}, 2, 2, 1},
        {{"a", 1, "\x93\xFA"}, 3, 3, 3},
        {{"\x93", 1, ""}, 1, 1, 1},
        {{"a", ROOM - 1, ""}, ROOM, ROOM - 1, ROOM - 1},
        {{"a", ROOM, ""}, ROOM, ROOM, ROOM},
        {{"a", ROOM + 1, ""}, ROOM, ROOM, ROOM},
        {{"a", ROOM - 1, "\x93\xFA"}, ROOM, ROOM, ROOM - 1},
    };
    for (const auto &row : rows) {
        std::string classPath = made(row.classPath);
        size_t cut = doubleByte() ? row.dbcs : row.single;
        SCOPED_TRACE("class path length " + std::to_string(classPath.size()) + ", limit " + std::to_string(row.limit));
        ASSERT_EQ(ansiCutLength(classPath.c_str(), row.limit), cut);
        formatClassPathOption(testStages->classPath.classPathOption, classPath.c_str());
        ASSERT_TRUE(terminatedWithin(testStages->classPath.classPathOption, ANSI_CAPACITY));
        if (row.limit == ROOM)
            ASSERT_EQ(std::string(testStages->classPath.classPathOption), CLASS_PATH_OPTION_PREFIX + classPath.substr(0, cut) + "\n");
    }
}

// The ANSI form of a text, by ansiCopyN (its rows are above).
std::string ansiOf(const std::wstring &text, size_t capacity = ANSI_CAPACITY)
{
    std::vector<char> ansi(capacity);
    ansiCopyN(text.c_str(), ansi.data(), capacity);
    return ansi.data();
}

// -------------------------------------------------------- path derivation

void expectTerminatedPathBuffers(void)
{
    const wchar_t *const wide[] = {testStages->paths.executablePath, testStages->paths.basePath, testStages->paths.ktrPath, testStages->paths.jvmLibraryPath, testStages->paths.runtimeLibraryPath};
    const char *const ansi[] = {testStages->paths.executablePathAnsi, testStages->paths.basePathAnsi, testStages->paths.ktrPathAnsi, testStages->paths.jvmLibraryPathAnsi,
                                testStages->paths.runtimeLibraryPathAnsi};
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
        memcpy(testStages->paths.executablePath, raw.c_str(), stored * sizeof(wchar_t));
        if (stored < PATH_CAPACITY)
            testStages->paths.executablePath[stored] = L'\0';
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

        deriveInstallationPaths(&inputs, &testStages->paths, &paths);

        SCOPED_TRACE("executable path length " + std::to_string(path.size()));
        expectTerminatedPathBuffers();
        std::wstring base = cutByCount(path, EXECUTABLE_NAME_LENGTH);
        std::wstring ktr = cutByCount(path, EXECUTABLE_DIR_AND_NAME_LENGTH);
        std::wstring jvm = ktr + JVM_LIBRARY_SUFFIX;
        if (override && value.size() < PATH_CAPACITY)
            jvm = value;
        ASSERT_EQ(std::wstring(testStages->paths.executablePath), path);
        ASSERT_EQ(std::wstring(testStages->paths.basePath), base);
        ASSERT_EQ(std::wstring(testStages->paths.ktrPath), ktr);
        ASSERT_EQ(std::wstring(testStages->paths.jvmLibraryPath), jvm);
        ASSERT_EQ(std::wstring(testStages->paths.runtimeLibraryPath), ktr + RUNTIME_LIBRARY_SUFFIX);
        ASSERT_EQ(std::string(testStages->paths.executablePathAnsi), ansiOf(path));
        ASSERT_EQ(std::string(testStages->paths.basePathAnsi), ansiOf(base));
        ASSERT_EQ(std::string(testStages->paths.ktrPathAnsi), ansiOf(ktr));
        ASSERT_EQ(std::string(testStages->paths.jvmLibraryPathAnsi), ansiOf(jvm));
        ASSERT_EQ(std::string(testStages->paths.runtimeLibraryPathAnsi), ansiOf(ktr + RUNTIME_LIBRARY_SUFFIX));
        if (logged) {
            std::vector<std::string> lines = testLogMessages();
            ASSERT_GE(lines.size(), 6u);
            EXPECT_EQ(lines[2], "Name size:  " + std::to_string(path.size()));
            EXPECT_EQ(lines[3], "Base path '" + std::string(testStages->paths.basePathAnsi) + "'");
            EXPECT_EQ(lines[4], "KTR path '" + std::string(testStages->paths.ktrPathAnsi) + "'");
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
    static WideGuarded joined;
    boundedCopy(inside(&joined), a.c_str());
    boundedAppend(inside(&joined), b.c_str());
    boundedAppend(inside(&joined), c.c_str());
    boundedAppend(inside(&joined), d.c_str());
    return inside(&joined);
}

TEST_F(BoundsClassPath, RandomListingsAndOverrides)
{
    Random random = randomFor(6);
    for (int iteration = 0; iteration < 500; iteration++) {
        SCOPED_TRACE(trace("BoundsClassPath", iteration));
        std::wstring base = randomText(&random, randomLength(&random, PATH_CAPACITY - 1));
        boundedCopy(testStages->paths.basePath, base.c_str());

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

        memset(testStages->classPath.classPathOption, 'o', sizeof testStages->classPath.classPathOption);
        scripting = true;
        buildClassPath(&inputs, testStages->paths.basePath, &testStages->classPath, &result);
        scripting = false;

        SCOPED_TRACE("base path length " + std::to_string(base.size()) + ", shape " + std::to_string(shape));
        EXPECT_TRUE(openSearches.empty()) << "every enumeration is closed";
        ASSERT_TRUE(terminatedWithin(testStages->classPath.searchPattern, PATH_CAPACITY));
        ASSERT_TRUE(terminatedWithin(testStages->classPath.subdirectoryPattern, PATH_CAPACITY));
        ASSERT_TRUE(terminatedWithin(testStages->classPath.classPathText, PATH_CAPACITY));
        ASSERT_TRUE(terminatedWithin(testStages->classPath.entryNameAnsi, ANSI_CAPACITY));
        ASSERT_TRUE(terminatedWithin(testStages->classPath.subdirectoryPatternAnsi, ANSI_CAPACITY));
        ASSERT_TRUE(terminatedWithin(testStages->classPath.classPathTextAnsi, ANSI_CAPACITY));
        ASSERT_TRUE(terminatedWithin(testStages->classPath.classPathOption, ANSI_CAPACITY));
        ASSERT_EQ(std::wstring(testStages->paths.basePath), base) << "the base path is read, never written";

        // A search that succeeds returns at least one entry.
        bool libFound = lib.found && !lib.names.empty();
        bool pluginsFound = plugins.found && !plugins.names.empty();
        std::vector<std::wstring> patterns;
        patterns.push_back(bounded(base, L"lib\\*"));
        std::string classPathAnsi;
        if (libFound) {
            std::wstring text;
            for (const std::wstring &name : lib.names)
                if (isJarName(name.c_str(), ansiOf(name).c_str()))
                    text = bounded(text, base, L"lib\\", name), text = bounded(text, L";");
            ASSERT_EQ(std::wstring(testStages->classPath.classPathText), text);
            classPathAnsi = ansiOf(text);
            ASSERT_EQ(std::string(testStages->classPath.classPathTextAnsi), classPathAnsi);
        } else {
            patterns.push_back(bounded(base, L"plugins\\*"));
            if (pluginsFound) {
                for (const std::wstring &name : plugins.names)
                    patterns.push_back(bounded(base, L"plugins\\", name, L"\\*"));
                ASSERT_STREQ(testStages->classPath.classPathText, L"");
            }
        }
        ASSERT_EQ(searchedPatterns, patterns);

        std::string built = testStages->classPath.classPathOption;
        formatClassPathOption(testStages->classPath.classPathOption, override ? ansiOf(value, value.size() * 2 + 1).c_str() : classPathAnsi.c_str());
        std::string option = testStages->classPath.classPathOption;
        ASSERT_EQ(built, option);
        if (logged) {
            std::vector<std::string> lines = testLogMessages();
            ASSERT_GE(lines.size(), 2u);
            EXPECT_EQ(lines[lines.size() - 2], option.substr(0, option.size() - 1));
            EXPECT_EQ(lines.back(), "");
        }
    }
}

} // namespace
