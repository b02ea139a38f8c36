// Plain models of what the launcher's string, path and class path routines
// must produce, shared by the randomised unit tests (under Wine) and the
// sanitizer and fuzzer checks (on Linux).
#ifndef VELMORANE_STRING_MODELS_H
#define VELMORANE_STRING_MODELS_H

#include <windows.h>
#include <string.h>

#include <map>
#include <string>

#include "launcher/classpath.h"
#include "launcher/strings.h"

// What StringCchCopyNW(dest, 32767, src, count) leaves in dest: the result is
// ignored, so truncation just cuts.
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

// StringCchCopyW(dest, 32767, src).
static inline void modelCopy(wchar_t *dest, const wchar_t *src)
{
    modelPrefixCopy(dest, src, 0x7ffffffe);
}

// StringCchCatW(dest, 32767, src): no terminator within the capacity leaves
// dest alone; otherwise the copy goes into what is left.
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

static inline std::wstring modelCopied(const std::wstring &text)
{
    return text.substr(0, PATH_CAPACITY - 1);
}

// The ANSI bytes of one character of the current code page, looked up once
// per code page.
static inline const std::string &characterBytes(const wchar_t *unit, int count)
{
    static std::map<std::pair<UINT, std::wstring>, std::string> cache;
    std::pair<UINT, std::wstring> key(GetACP(), std::wstring(unit, (size_t)count));
    auto found = cache.find(key);
    if (found != cache.end())
        return found->second;
    char bytes[16];
    int length = WideCharToMultiByte(CP_ACP, 0, unit, count, bytes, sizeof bytes, NULL, NULL);
    return cache[key] = std::string(bytes, length > 0 ? (size_t)length : 0);
}

// The ANSI copy into capacity bytes: whole characters while they fit, then
// the terminator. A cut never keeps the first half of a surrogate pair (nor
// an unpaired first half at the cut).
static inline std::string modelAnsi(const wchar_t *src, size_t capacity)
{
    size_t length = wcsnlen(src, PATH_CAPACITY);
    std::string result;
    size_t room = capacity - 1;
    size_t at = 0;
    bool cut = false;
    while (at < length) {
        int units = (IS_HIGH_SURROGATE(src[at]) && at + 1 < length && IS_LOW_SURROGATE(src[at + 1])) ? 2 : 1;
        const std::string &bytes = characterBytes(src + at, units);
        if (result.size() + bytes.size() > room) {
            cut = true;
            break;
        }
        result += bytes;
        at += (size_t)units;
    }
    if (cut && at > 0 && IS_HIGH_SURROGATE(src[at - 1]))
        result.resize(result.size() - characterBytes(src + at - 1, 1).size());
    return result;
}

// How many bytes of an ANSI text fit into limit without splitting a
// double-byte character.
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

#endif
