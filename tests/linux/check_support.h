// Shared by the sanitizer checks and the fuzzers: plain models of what the
// launcher's routines must produce, guarded exact-size buffers, and the
// decoding of fuzzer input into texts of any length up to past every capacity.
#ifndef VELMORANE_LINUX_CHECK_SUPPORT_H
#define VELMORANE_LINUX_CHECK_SUPPORT_H

#include <windows.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <string>
#include <vector>

#include "launcher/classpath.h"
#include "launcher/strings.h"

// A failed check stops the run at once: the fuzzer keeps the input.
#define REQUIRE(condition, what)                                                                        \
    do {                                                                                                \
        if (!(condition)) {                                                                             \
            fprintf(stderr, "%s:%d: check failed: %s (%s)\n", __FILE__, __LINE__, #condition, what);    \
            abort();                                                                                    \
        }                                                                                               \
    } while (0)

// ------------------------------------------------------------------ models

// StringCchCopyNW(dest, 32767, src, count), result ignored.
static inline void modelPrefixCopy(wchar_t *dest, const wchar_t *src, size_t count)
{
    if (count > 0x7ffffffe) {
        dest[0] = L'\0';
        return;
    }
    size_t i = 0;
    for (; i < count && i < PATH_CAPACITY - 1 && src[i] != L'\0'; i++)
        dest[i] = src[i];
    dest[i] = L'\0';
}

static inline void modelCopy(wchar_t *dest, const wchar_t *src)
{
    modelPrefixCopy(dest, src, 0x7ffffffe);
}

// StringCchCatW(dest, 32767, src), result ignored.
static inline void modelAppend(wchar_t *dest, const wchar_t *src)
{
    size_t used = 0;
    while (used < PATH_CAPACITY && dest[used] != L'\0')
        used++;
    if (used == PATH_CAPACITY)
        return;
    size_t i = 0;
    for (; used + i < PATH_CAPACITY - 1 && src[i] != L'\0'; i++)
        dest[used + i] = src[i];
    dest[used + i] = L'\0';
}

static inline std::string characterAnsi(const wchar_t *src, int units)
{
    char bytes[8];
    int length = WideCharToMultiByte(CP_ACP, 0, src, units, bytes, sizeof bytes, NULL, NULL);
    return std::string(bytes, length > 0 ? (size_t)length : 0);
}

// The ANSI copy into capacity bytes: whole characters while they fit; a cut
// never keeps the first half of a surrogate pair.
static inline std::string modelAnsi(const wchar_t *src, size_t capacity)
{
    size_t length = wcsnlen(src, PATH_CAPACITY);
    std::string result;
    size_t at = 0;
    bool cut = false;
    while (at < length) {
        int units = (IS_HIGH_SURROGATE(src[at]) && at + 1 < length && IS_LOW_SURROGATE(src[at + 1])) ? 2 : 1;
        std::string bytes = characterAnsi(src + at, units);
        if (result.size() + bytes.size() > capacity - 1) {
            cut = true;
            break;
        }
        result += bytes;
        at += (size_t)units;
    }
    if (cut && at > 0 && IS_HIGH_SURROGATE(src[at - 1]))
        result.resize(result.size() - characterAnsi(src + at - 1, 1).size());
    return result;
}

static inline size_t modelCut(const std::string &text, size_t limit)
{
    size_t at = 0;
    while (at < text.size()) {
        size_t width = IsDBCSLeadByte((BYTE)text[at]) && at + 1 < text.size() ? 2 : 1;
        if (at + width > limit)
            break;
        at += width;
    }
    return at;
}

static inline std::string modelOption(const std::string &classPath)
{
    const size_t room = ANSI_CAPACITY - (sizeof CLASS_PATH_OPTION_PREFIX - 1) - 2;
    return CLASS_PATH_OPTION_PREFIX + classPath.substr(0, modelCut(classPath, room)) + "\n";
}

static inline bool modelIsJar(const std::wstring &name)
{
    std::string ansi = modelAnsi(name.c_str(), ANSI_CAPACITY);
    return name.size() > 4 && ansi.size() >= 4 && ansi.compare(ansi.size() - 4, 4, ".jar") == 0;
}

static inline std::string modelUtf8(const std::wstring &text, size_t room, bool *whole)
{
    std::string result;
    *whole = true;
    for (wchar_t c : text) {
        unsigned unit = (unsigned)c;
        std::string bytes;
        if (unit != 0 && unit < 0x80) {
            bytes += (char)unit;
        } else if (unit < 0x800) {
            bytes += (char)(0xC0 | (unit >> 6));
            bytes += (char)(0x80 | (unit & 0x3F));
        } else {
            bytes += (char)(0xE0 | (unit >> 12));
            bytes += (char)(0x80 | ((unit >> 6) & 0x3F));
            bytes += (char)(0x80 | (unit & 0x3F));
        }
        if (result.size() + bytes.size() > room) {
            *whole = false;
            break;
        }
        result += bytes;
    }
    return result;
}

static inline bool terminatedWithin(const wchar_t *text, size_t capacity)
{
    return wcsnlen(text, capacity) < capacity;
}

static inline bool terminatedWithin(const char *text, size_t capacity)
{
    return strnlen(text, capacity) < capacity;
}

// ----------------------------------------------------------------- input

struct Input {
    const uint8_t *data;
    size_t size;
};

static inline unsigned takeByte(Input *input)
{
    if (input->size == 0)
        return 0;
    input->size--;
    return *input->data++;
}

static inline unsigned takeWord(Input *input)
{
    unsigned low = takeByte(input);
    return low | (takeByte(input) << 8);
}

static inline uint64_t takeQuad(Input *input)
{
    uint64_t value = 0;
    for (int i = 0; i < 8; i++)
        value |= (uint64_t)takeByte(input) << (8 * i);
    return value;
}

// Lengths at and around every capacity and cut of the launcher.
static const size_t EDGE_LENGTHS[] = {
    0,     1,     2,     3,     4,     5,     19,    20,    21,    29,    30,    31,    258,   259,   260,   261,
    32735, 32736, 32737, 32745, 32746, 32747, 32748, 32762, 32763, 32764, 32765, 32766, 32767, 32768, 32769, 40000,
};

// A text: a count of runs, each a UTF-16 unit and a repeat byte (high bit:
// a long run of some hundred units), then a length byte that leaves the text
// as it is or pads (by repeating it) or cuts it to one of EDGE_LENGTHS. Unit 0
// becomes a backslash: no text holds a terminator of its own.
static inline std::wstring takeText(Input *input, size_t longest)
{
    std::wstring text;
    unsigned runs = takeByte(input) % 48;
    for (unsigned i = 0; i < runs && input->size > 0; i++) {
        unsigned unit = takeWord(input);
        unsigned repeat = takeByte(input);
        size_t count = repeat < 0x80 ? 1 : (size_t)(repeat & 0x7f) * 257 + 1;
        text.append(count, (wchar_t)(unit == 0 ? L'\\' : unit));
    }
    unsigned shape = takeByte(input);
    if (shape >= 0x80) {
        size_t length = EDGE_LENGTHS[(shape & 0x7f) % (sizeof EDGE_LENGTHS / sizeof EDGE_LENGTHS[0])];
        if (text.empty())
            text = L"a";
        while (text.size() < length)
            text += text.substr(0, length - text.size());
        text.resize(length);
    }
    if (text.size() > longest)
        text.resize(longest);
    return text;
}

#endif
