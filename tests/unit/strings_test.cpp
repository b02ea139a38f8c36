// The launcher's string operations at their capacity limits, with guard
// space after every buffer to catch writes past the capacity.
#include <gtest/gtest.h>

#include <windows.h>

#include <string>

#include "launcher/strings.h"

namespace {

const wchar_t GUARD = 0xBEEF;
const size_t GUARD_LENGTH = 64;

struct GuardedPath {
    wchar_t text[PATH_CAPACITY + GUARD_LENGTH];
};

void fillGuard(GuardedPath *buffer)
{
    for (size_t i = 0; i < PATH_CAPACITY + GUARD_LENGTH; i++)
        buffer->text[i] = GUARD;
}

bool guardIntact(const GuardedPath *buffer)
{
    for (size_t i = PATH_CAPACITY; i < PATH_CAPACITY + GUARD_LENGTH; i++)
        if (buffer->text[i] != GUARD)
            return false;
    return true;
}

std::wstring repeat(wchar_t c, size_t count)
{
    return std::wstring(count, c);
}

GuardedPath guarded;

struct PrefixCase {
    const char *name;
    size_t sourceLength;
    size_t count;
    size_t expectedLength;
};

TEST(BoundedPrefixCopy, CutsAtCountCapacityOrSource)
{
    const PrefixCase cases[] = {
        {"count below source", 10, 4, 4},
        {"count above source", 10, 40, 10},
        {"count zero", 10, 0, 0},
        {"count at the limit", 10, BOUNDED_COUNT_LIMIT, 10},
        {"count past the limit", 10, (size_t)BOUNDED_COUNT_LIMIT + 1, 0},
        {"wrapped negative count", 10, (size_t)0 - 15, 0},
        {"source fills the buffer", PATH_CAPACITY - 1, PATH_CAPACITY - 1, PATH_CAPACITY - 1},
        {"source longer than the buffer", PATH_CAPACITY + 20, BOUNDED_COUNT_LIMIT, PATH_CAPACITY - 1},
    };
    for (const PrefixCase &c : cases) {
        std::wstring source = repeat(L'a', c.sourceLength);
        fillGuard(&guarded);
        boundedPrefixCopy(guarded.text, source.c_str(), c.count);
        EXPECT_EQ(wcsnlen(guarded.text, PATH_CAPACITY), c.expectedLength) << c.name;
        EXPECT_TRUE(guardIntact(&guarded)) << c.name;
    }
}

TEST(BoundedCopy, KeepsAtMost32766Characters)
{
    std::wstring source = repeat(L'x', PATH_CAPACITY * 2);
    fillGuard(&guarded);
    boundedCopy(guarded.text, source.c_str());
    EXPECT_EQ(wcsnlen(guarded.text, PATH_CAPACITY), (size_t)32766);
    EXPECT_TRUE(guardIntact(&guarded));

    boundedCopy(guarded.text, L"C:\\Apps\\");
    EXPECT_STREQ(guarded.text, L"C:\\Apps\\");
}

struct AppendCase {
    const char *name;
    size_t destLength;
    size_t sourceLength;
    size_t expectedLength;
};

TEST(BoundedAppend, FillsTheRemainingSpaceOnly)
{
    const AppendCase cases[] = {
        {"plenty of room", 5, 5, 10},
        {"exactly fills", 32760, 6, 32766},
        {"cut at the capacity", 32760, 100, 32766},
        {"full destination", 32766, 5, 32766},
        {"empty source", 100, 0, 100},
    };
    for (const AppendCase &c : cases) {
        fillGuard(&guarded);
        std::wstring dest = repeat(L'd', c.destLength);
        boundedCopy(guarded.text, dest.c_str());
        std::wstring source = repeat(L's', c.sourceLength);
        boundedAppend(guarded.text, source.c_str());
        EXPECT_EQ(wcsnlen(guarded.text, PATH_CAPACITY), c.expectedLength) << c.name;
        EXPECT_TRUE(guardIntact(&guarded)) << c.name;
    }
}

TEST(BoundedAppend, UnterminatedDestinationIsLeftAlone)
{
    fillGuard(&guarded);
    for (size_t i = 0; i < PATH_CAPACITY; i++)
        guarded.text[i] = L'u';
    boundedAppend(guarded.text, L"more");
    EXPECT_EQ(guarded.text[PATH_CAPACITY - 1], L'u');
    EXPECT_TRUE(guardIntact(&guarded));
}

TEST(JoinPath, TellsWhetherTheWholeFitted)
{
    fillGuard(&guarded);
    EXPECT_TRUE(joinPath(guarded.text, L"C:\\Apps\\", L"jdk\\jre\\bin\\default\\jvm.dll"));
    EXPECT_STREQ(guarded.text, L"C:\\Apps\\jdk\\jre\\bin\\default\\jvm.dll");

    std::wstring longDir = repeat(L'p', 32746);
    EXPECT_FALSE(joinPath(guarded.text, longDir.c_str(), L"jdk\\jre\\bin\\default\\jvm.dll"));
    EXPECT_EQ(wcsnlen(guarded.text, PATH_CAPACITY), (size_t)32766);
    EXPECT_TRUE(guardIntact(&guarded));
}

struct GuardedAnsi {
    char text[ANSI_CAPACITY + 64];
};
GuardedAnsi ansi;

bool ansiGuardIntact(void)
{
    for (size_t i = ANSI_CAPACITY; i < sizeof ansi.text; i++)
        if (ansi.text[i] != '#')
            return false;
    return true;
}

TEST(AnsiCopy, ConvertsWholePathsAndStaysWithinItsBuffer)
{
    memset(ansi.text, '#', sizeof ansi.text);
    ansiCopy(L"C:\\Apps\\Velmorane\\", ansi.text);
    EXPECT_STREQ(ansi.text, "C:\\Apps\\Velmorane\\");

    std::wstring longest = repeat(L'z', 32766);
    ansiCopy(longest.c_str(), ansi.text);
    EXPECT_EQ(strlen(ansi.text), (size_t)32766);
    EXPECT_TRUE(ansiGuardIntact());
}

TEST(AnsiCopy, CharactersOutsideTheCodePageBecomeReplacements)
{
    // U+4E2D is in no single-byte code page; the wide path is unaffected.
    if (GetACP() == 932 || GetACP() == 936 || GetACP() == 949 || GetACP() == 950)
        GTEST_SKIP() << "double-byte code page";
    ansiCopy(L"C:\\\x4E2D\\a.jar", ansi.text);
    EXPECT_STREQ(ansi.text, "C:\\?\\a.jar");
}

// Run with a double-byte ANSI code page (Wine: LC_ALL=ja_JP.UTF-8).
TEST(AnsiCopyDoubleByte, KeepsTheTailOfShortPaths)
{
    if (GetACP() != 932)
        GTEST_SKIP() << "needs code page 932, this is " << GetACP();
    // Two characters that take two bytes each, then ".jar": all of it stays.
    ansiCopy(L"\x65E5\x672C.jar", ansi.text);
    EXPECT_EQ(strlen(ansi.text), (size_t)8);
    EXPECT_EQ(memcmp(ansi.text + 4, ".jar", 4), 0);
}

TEST(AnsiCopyDoubleByte, CutsLongPathsAfterAWholeCharacter)
{
    if (GetACP() != 932)
        GTEST_SKIP() << "needs code page 932, this is " << GetACP();
    memset(ansi.text, '#', sizeof ansi.text);
    std::wstring longest = L"a" + repeat(L'\x65E5', 32765);
    ansiCopy(longest.c_str(), ansi.text);
    // 1 + 2 * 16382 bytes fit into 32766; half a character never stands at the end.
    EXPECT_EQ(strlen(ansi.text), (size_t)32765);
    EXPECT_TRUE(ansiGuardIntact());
    EXPECT_EQ(ansiCutLength(ansi.text, 32764), (size_t)32763);
}

TEST(AnsiCutLength, NeverSplitsASingleByteText)
{
    EXPECT_EQ(ansiCutLength("abcdef", 4), (size_t)4);
    EXPECT_EQ(ansiCutLength("abc", 10), (size_t)3);
    EXPECT_EQ(ansiCutLength("", 10), (size_t)0);
}

struct Utf8Case {
    const char *name;
    const wchar_t *source;
    const char *expected;
};

TEST(ModifiedUtf8, EncodesEachUtf16UnitAsJniExpects)
{
    const Utf8Case cases[] = {
        {"ascii", L"C:\\Apps\\Velmorane\\", "C:\\Apps\\Velmorane\\"},
        {"two bytes", L"C:\\Caf\x00E9\\", "C:\\Caf\xC3\xA9\\"},
        {"three bytes", L"\x65E5", "\xE6\x97\xA5"},
        {"surrogate pair as two units", L"\xD83D\xDE00", "\xED\xA0\xBD\xED\xB8\x80"},
    };
    for (const Utf8Case &c : cases) {
        char text[64] = "";
        EXPECT_TRUE(appendModifiedUtf8(text, sizeof text, c.source)) << c.name;
        EXPECT_STREQ(text, c.expected) << c.name;
        // And back.
        wchar_t back[64];
        EXPECT_EQ(modifiedUtf8ToWide(c.expected, back, 64), wcslen(c.source)) << c.name;
        EXPECT_STREQ(back, c.source) << c.name;
    }
}

TEST(ModifiedUtf8, DropsWhatDoesNotFitWhole)
{
    char text[8];
    memset(text, '#', sizeof text);
    text[0] = '\0';
    EXPECT_FALSE(appendModifiedUtf8(text, 6, L"ab\x65E5\x65E5"));
    EXPECT_STREQ(text, "ab\xE6\x97\xA5");
    EXPECT_EQ(text[6], '#');
}

// Decoding copes with what a JVM should never give, and with a full buffer.
TEST(ModifiedUtf8, DecodesWithinItsBuffer)
{
    wchar_t malformed[8];
    EXPECT_EQ(modifiedUtf8ToWide("a\xFF\xE6\x97" "b", malformed, 8), 5u);
    EXPECT_STREQ(malformed, L"a\xFFFD\xFFFD\xFFFD" L"b");
    // Full buffer: cut, but never between the halves of a pair.
    wchar_t text[4] = {L'#', L'#', L'#', L'#'};
    EXPECT_EQ(modifiedUtf8ToWide("ab\xED\xA0\xBD\xED\xB8\x80", text, 4), 2u);
    EXPECT_STREQ(text, L"ab");
    EXPECT_EQ(modifiedUtf8ToWide("abc\xED\xA0\xBD\xED\xB8\x80", text, 4), 3u);
    EXPECT_STREQ(text, L"abc");
    EXPECT_EQ(modifiedUtf8ToWide("a\xED\xA0\xBD\xED\xB8\x80z", text, 4), 3u);
    EXPECT_STREQ(text, L"a\xD83D\xDE00");
}

} // namespace
