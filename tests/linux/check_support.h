// Shared by the sanitizer checks and the fuzzers: the properties every result
// of the launcher's string routines must have, and the decoding of fuzzer
// input into texts of any length up to past every capacity.
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
#include "launcher/paths.h"
#include "launcher/strings.h"
#include "log/log.h"
#include "log/logfile.h"

// A failed check stops the run at once: the fuzzer keeps the input.
#define REQUIRE(condition, what)                                                                        \
    do {                                                                                                \
        if (!(condition)) {                                                                             \
            fprintf(stderr, "%s:%d: check failed: %s (%s)\n", __FILE__, __LINE__, #condition, what);    \
            abort();                                                                                    \
        }                                                                                               \
    } while (0)

static inline bool terminatedWithin(const wchar_t *text, size_t capacity)
{
    return wcsnlen(text, capacity) < capacity;
}

static inline bool terminatedWithin(const char *text, size_t capacity)
{
    return strnlen(text, capacity) < capacity;
}

// What the system's conversion makes of the first units of text.
static inline std::string converted(const wchar_t *text, size_t units)
{
    if (units == 0)
        return std::string();
    int size = WideCharToMultiByte(CP_ACP, 0, text, (int)units, NULL, 0, NULL, NULL);
    std::string bytes((size_t)size, '\0');
    WideCharToMultiByte(CP_ACP, 0, text, (int)units, &bytes[0], size, NULL, NULL);
    return bytes;
}

// The conversion's length and the units behind it after each whole character
// of text (a surrogate pair is one), up to the first end past bytes.
static inline std::vector<std::pair<size_t, size_t>> characterEnds(const std::wstring &text, size_t past)
{
    std::vector<std::pair<size_t, size_t>> ends(1, std::make_pair((size_t)0, (size_t)0));
    for (size_t at = 0; at < text.size() && ends.back().first <= past;) {
        size_t units = IS_HIGH_SURROGATE(text[at]) && at + 1 < text.size() && IS_LOW_SURROGATE(text[at + 1]) ? 2 : 1;
        int bytes = WideCharToMultiByte(CP_ACP, 0, text.data() + at, (int)units, NULL, 0, NULL, NULL);
        ends.push_back(std::make_pair(ends.back().first + (size_t)bytes, at + units));
        at += units;
    }
    return ends;
}

// An ANSI copy of source into capacity bytes: terminated, the conversion of
// whole characters from the start (never half a pair or of a double-byte
// character), as many as fit; a first half left alone at the cut is dropped.
static inline void requireAnsiCopy(const std::wstring &source, const char *ansi, size_t capacity)
{
    REQUIRE(terminatedWithin(ansi, capacity), "ANSI copy terminated");
    size_t length = strlen(ansi);
    std::vector<std::pair<size_t, size_t>> ends = characterEnds(source, length);
    size_t i = 0;
    while (i + 1 < ends.size() && ends[i + 1].first <= length)
        i++;
    size_t units = ends[i].second;
    REQUIRE(ends[i].first == length, "ANSI copy ends after a whole character");
    REQUIRE(std::string(ansi) == converted(source.data(), units), "ANSI copy is the conversion of the source's start");
    if (units < source.size())
        REQUIRE(ends[i + 1].first > capacity - 1 || IS_HIGH_SURROGATE(source[units]), "ANSI copy holds all that fits");
}

// The buffers the checks run the stages in, as one launch has them.
static LaunchPaths checkPaths;
static ClassPathBuffers checkClassPath;

// The option: its prefix, what ansiCutLength keeps of the class path within
// the room, and its line feed.
static inline void requireOption(const std::string &classPath)
{
    const char *classPathOption = checkClassPath.classPathOption;
    REQUIRE(terminatedWithin(classPathOption, ANSI_CAPACITY), "option terminated");
    size_t keep = ansiCutLength(classPath.c_str(), CLASS_PATH_ROOM);
    REQUIRE(std::string(classPathOption) == CLASS_PATH_OPTION_PREFIX + classPath.substr(0, keep) + "\n", "option");
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

// The first steps of a target over the launcher's buffers: the log set up once, its records
// formatted (so their arguments are read) and thrown away; then the ANSI code page and the
// mode byte from the input.
static inline unsigned startTarget(Input *input)
{
    static bool started;
    if (!started) {
        logLockCreate();
        logFilePath = "/dev/null";
        started = true;
    }
    shimSetCodePage((takeByte(input) & 1) ? SHIM_DOUBLE_BYTE : SHIM_SINGLE_BYTE);
    return takeByte(input);
}

#endif
