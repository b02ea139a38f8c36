// The log is in the ANSI code page: each text is turned into UTF-16 by the
// system's own conversion and from there into UTF-8 here, one character at
// a time, so that what is escaped and what is not is decided per character.
#include "console/status/json_text.h"

#include <windows.h>
#include <stdio.h>
#include <string.h>

#include "launcher/strings.h"

// One UTF-16 character (a pair of surrogates counts as one) as UTF-8 or an
// escape; returns how many wide characters it took.
static int printCharacter(const wchar_t *p)
{
    unsigned code = *p;
    if (code == L'"' || code == L'\\') {
        printf("\\%c", (char)code);
        return 1;
    }
    // C0 and C1 controls and DEL: JSON needs the first escaped, a terminal the rest.
    if (code < 0x20 || (code >= 0x7F && code < 0xA0)) {
        printf("\\u%04x", code);
        return 1;
    }
    if (code < 0x80) {
        putchar((int)code);
        return 1;
    }
    // A format character (a bidirectional override, a zero-width one) would
    // reorder or hide what a reader sees of the text around it: a blank, as
    // the service's own records have it. An escape would only bring it back.
    size_t format = formatCharacterLength(p, wcsnlen(p, 2));
    if (format > 0) {
        putchar(' ');
        return (int)format;
    }
    int taken = 1;
    if (code >= 0xD800 && code < 0xDC00 && p[1] >= 0xDC00 && p[1] < 0xE000) {
        code = 0x10000 + ((code - 0xD800) << 10) + ((unsigned)p[1] - 0xDC00);
        taken = 2;
    } else if (code >= 0xD800 && code < 0xE000) {
        // A surrogate without its other half has no UTF-8: JSON's escape keeps it.
        printf("\\u%04x", code);
        return 1;
    }
    if (code < 0x800) {
        putchar((int)(0xC0 | (code >> 6)));
    } else if (code < 0x10000) {
        putchar((int)(0xE0 | (code >> 12)));
        putchar((int)(0x80 | ((code >> 6) & 0x3F)));
    } else {
        putchar((int)(0xF0 | (code >> 18)));
        putchar((int)(0x80 | ((code >> 12) & 0x3F)));
        putchar((int)(0x80 | ((code >> 6) & 0x3F)));
    }
    putchar((int)(0x80 | (code & 0x3F)));
    return taken;
}

void printJsonText(const char *ansi, int length)
{
    if (ansi == NULL) {
        printf("null");
        return;
    }
    wchar_t wide[JSON_TEXT_CAPACITY];
    int bytes = length >= 0 ? (int)strnlen(ansi, (size_t)length) : (int)strnlen(ansi, JSON_TEXT_CAPACITY - 1);
    if (bytes > JSON_TEXT_CAPACITY - 1)
        bytes = JSON_TEXT_CAPACITY - 1;
    // At most one wide character per byte, so all of `bytes` fits; a double-
    // byte character cut at the end converts to the default character.
    int converted = bytes > 0 ? MultiByteToWideChar(CP_ACP, 0, ansi, bytes, wide, JSON_TEXT_CAPACITY - 1) : 0;
    wide[converted] = L'\0';
    putchar('"');
    for (const wchar_t *p = wide; *p != L'\0';)
        p += printCharacter(p);
    putchar('"');
}

void printJsonField(const char *name, const char *ansi, bool last)
{
    printf("\"%s\":", name);
    printJsonText(ansi);
    if (!last)
        putchar(',');
}
