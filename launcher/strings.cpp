#include "launcher/strings.h"

#include <windows.h>
#include <string.h>

void boundedPrefixCopy(wchar_t *dest, const wchar_t *src, size_t count)
{
    if (count > BOUNDED_COUNT_LIMIT) {
        dest[0] = L'\0';
        return;
    }
    size_t i = 0;
    while (i < count && i < PATH_CAPACITY - 1 && src[i] != L'\0') {
        dest[i] = src[i];
        i++;
    }
    dest[i] = L'\0';
}

void boundedCopy(wchar_t *dest, const wchar_t *src)
{
    boundedPrefixCopy(dest, src, BOUNDED_COUNT_LIMIT);
}

void boundedAppend(wchar_t *dest, const wchar_t *src)
{
    size_t used = 0;
    while (used < PATH_CAPACITY && dest[used] != L'\0')
        used++;
    if (used >= PATH_CAPACITY - 1)
        return;
    size_t i = 0;
    while (used + i < PATH_CAPACITY - 1 && src[i] != L'\0') {
        dest[used + i] = src[i];
        i++;
    }
    dest[used + i] = L'\0';
}

bool joinPath(wchar_t *dest, const wchar_t *dir, const wchar_t *suffix)
{
    boundedCopy(dest, dir);
    boundedAppend(dest, suffix);
    return wcslen(dir) + wcslen(suffix) < PATH_CAPACITY;
}

static int ansiBytes(const wchar_t *src, int length)
{
    return WideCharToMultiByte(CP_ACP, 0, src, length, NULL, 0, NULL, NULL);
}

void ansiCopyN(const wchar_t *src, char *dest, size_t capacity)
{
    int room = (int)(capacity - 1);
    int length = (int)wcsnlen(src, PATH_CAPACITY);

    // In a double-byte code page a path may need up to twice as many bytes as
    // it has characters; cut after the longest run of whole characters that
    // fits rather than at a fixed count.
    if (ansiBytes(src, length) > room) {
        int low = 0, high = length;
        while (low < high) {
            int middle = low + (high - low + 1) / 2;
            if (ansiBytes(src, middle) <= room)
                low = middle;
            else
                high = middle - 1;
        }
        length = low;
        if (length > 0 && IS_HIGH_SURROGATE(src[length - 1]))
            length--;
    }
    int written = length > 0 ? WideCharToMultiByte(CP_ACP, 0, src, length, dest, room, NULL, NULL) : 0;
    dest[written > 0 ? written : 0] = '\0';
}

void ansiCopy(const wchar_t *src, char *dest)
{
    ansiCopyN(src, dest, ANSI_CAPACITY);
}

size_t ansiCutLength(const char *src, size_t limit)
{
    size_t at = 0;
    while (src[at] != '\0') {
        size_t width = (IsDBCSLeadByte((BYTE)src[at]) && src[at + 1] != '\0') ? 2 : 1;
        if (at + width > limit)
            break;
        at += width;
    }
    return at;
}

bool appendModifiedUtf8(char *dest, size_t capacity, const wchar_t *src)
{
    size_t used = strnlen(dest, capacity - 1);
    bool whole = true;
    for (const wchar_t *p = src; *p != L'\0'; p++) {
        unsigned unit = (unsigned)*p;
        unsigned char bytes[3];
        size_t count;
        if (unit != 0 && unit < 0x80) {
            bytes[0] = (unsigned char)unit;
            count = 1;
        } else if (unit < 0x800) {
            bytes[0] = (unsigned char)(0xC0 | (unit >> 6));
            bytes[1] = (unsigned char)(0x80 | (unit & 0x3F));
            count = 2;
        } else {
            bytes[0] = (unsigned char)(0xE0 | (unit >> 12));
            bytes[1] = (unsigned char)(0x80 | ((unit >> 6) & 0x3F));
            bytes[2] = (unsigned char)(0x80 | (unit & 0x3F));
            count = 3;
        }
        if (used + count > capacity - 1) {
            whole = false;
            break;
        }
        memcpy(dest + used, bytes, count);
        used += count;
    }
    dest[used] = '\0';
    return whole;
}

size_t modifiedUtf8ToWide(const char *src, wchar_t *dest, size_t capacity)
{
    const unsigned char *p = (const unsigned char *)src;
    size_t used = 0;
    // A continuation byte is tested only after the one before it, so the
    // terminator is never passed.
    while (*p != 0 && used < capacity - 1) {
        unsigned lead = *p;
        if (lead < 0x80) {
            dest[used++] = (wchar_t)lead;
            p += 1;
        } else if ((lead & 0xE0) == 0xC0 && (p[1] & 0xC0) == 0x80) {
            dest[used++] = (wchar_t)(((lead & 0x1F) << 6) | (p[1] & 0x3F));
            p += 2;
        } else if ((lead & 0xF0) == 0xE0 && (p[1] & 0xC0) == 0x80 && (p[2] & 0xC0) == 0x80) {
            dest[used++] = (wchar_t)(((lead & 0x0F) << 12) | ((p[1] & 0x3F) << 6) | (p[2] & 0x3F));
            p += 3;
        } else {
            dest[used++] = (wchar_t)0xFFFD;
            p += 1;
        }
    }
    // A high surrogate cut off from its partner would become a stray character.
    if (*p != 0 && used > 0 && (unsigned)dest[used - 1] >= 0xD800 && (unsigned)dest[used - 1] <= 0xDBFF)
        used--;
    dest[used] = L'\0';
    return used;
}

bool isFullPath(const wchar_t *path)
{
    bool drive = ((path[0] >= L'A' && path[0] <= L'Z') || (path[0] >= L'a' && path[0] <= L'z')) && path[1] == L':' &&
                 path[2] == L'\\';
    return drive || (path[0] == L'\\' && path[1] == L'\\');
}

// Unicode's format characters (general category Cf, as of Unicode 15), by
// code point: first and last of each run.
static const unsigned FORMAT_CHARACTERS[][2] = {
    {0x00AD, 0x00AD},   {0x0600, 0x0605},   {0x061C, 0x061C},   {0x06DD, 0x06DD},   {0x070F, 0x070F},
    {0x0890, 0x0891},   {0x08E2, 0x08E2},   {0x180E, 0x180E},   {0x200B, 0x200F},   {0x202A, 0x202E},
    {0x2060, 0x2064},   {0x2066, 0x206F},   {0xFEFF, 0xFEFF},   {0xFFF9, 0xFFFB},   {0x110BD, 0x110BD},
    {0x110CD, 0x110CD}, {0x13430, 0x1343F}, {0x1BCA0, 0x1BCA3}, {0x1D173, 0x1D17A}, {0xE0001, 0xE0001},
    {0xE0020, 0xE007F},
};

size_t formatCharacterLength(const wchar_t *text, size_t length)
{
    // Below the first of them: ASCII, the common case, at once.
    if (length == 0 || text[0] < 0x00AD)
        return 0;
    unsigned code = text[0];
    size_t units = 1;
    if (code >= 0xD800 && code < 0xDC00 && length > 1 && text[1] >= 0xDC00 && text[1] < 0xE000) {
        code = 0x10000 + ((code - 0xD800) << 10) + ((unsigned)text[1] - 0xDC00);
        units = 2;
    }
    for (const unsigned *run : FORMAT_CHARACTERS)
        if (code >= run[0] && code <= run[1])
            return units;
    return 0;
}
