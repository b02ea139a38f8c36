// String operations of the launcher: all of them work on fixed-capacity
// buffers and never write past them.
#ifndef VELMORANE_STRINGS_H
#define VELMORANE_STRINGS_H

#include <stddef.h>
#include <wchar.h>

// Capacity of every wide path buffer, in UTF-16 code units, terminator included.
#define PATH_CAPACITY 32767
// Capacity of every ANSI buffer, in bytes, terminator included.
#define ANSI_CAPACITY 32767
// Counts above this are refused by the bounded prefix copy.
#define BOUNDED_COUNT_LIMIT 0x7ffffffeu

// Copies src into dest (capacity PATH_CAPACITY); cut silently when full.
void boundedCopy(wchar_t *dest, const wchar_t *src);
// Like boundedCopy, but copies at most count characters. A count above
// BOUNDED_COUNT_LIMIT, or 0, leaves dest empty.
void boundedPrefixCopy(wchar_t *dest, const wchar_t *src, size_t count);
// Appends src to dest within PATH_CAPACITY; cut silently when full. A dest with
// no terminator within the capacity is left as it is.
void boundedAppend(wchar_t *dest, const wchar_t *src);

// dest = dir followed by suffix, when the whole fits into PATH_CAPACITY.
// Otherwise dest holds as much as fits and the result is false.
bool joinPath(wchar_t *dest, const wchar_t *dir, const wchar_t *suffix);

// Converts src to the ANSI code page into dest (capacity ANSI_CAPACITY).
// Characters the code page lacks become its default character. When the
// conversion does not fit, it is cut after the last whole character that
// does; dest is always terminated.
void ansiCopy(const wchar_t *src, char *dest);
// Same, into a buffer of the given capacity in bytes (at least 1).
void ansiCopyN(const wchar_t *src, char *dest, size_t capacity);

// Length in bytes of the longest prefix of the ANSI text src that has at most
// limit bytes and does not end inside a double-byte character.
size_t ansiCutLength(const char *src, size_t limit);

// Appends src, encoded as modified UTF-8 (what JNI's NewStringUTF expects:
// each UTF-16 code unit separately, NUL as two bytes), to the text in dest of
// the given capacity. Characters that do not fit whole are dropped, and the
// result is always terminated. Returns false if anything was dropped.
bool appendModifiedUtf8(char *dest, size_t capacity, const wchar_t *src);

// Decodes modified UTF-8 (what JNI's GetStringUTFChars gives: one to three
// bytes per UTF-16 code unit) into dest of the given capacity in code units
// (at least 1). Malformed bytes become U+FFFD. Stops when dest is full, never
// between the two halves of a surrogate pair; dest is always terminated.
// Returns the number of code units written.
size_t modifiedUtf8ToWide(const char *src, wchar_t *dest, size_t capacity);

// Whether a path is full: a drive letter, its colon and a backslash, or a
// UNC path.
bool isFullPath(const wchar_t *path);

// Code units (1, or 2 for a surrogate pair) of the Unicode format character
// (general category Cf: bidirectional overrides and isolates, direction
// marks, zero-width characters, tags) that text, of length code units,
// starts with; 0 when it starts with none. Unseen, each can change how the
// text around it shows.
size_t formatCharacterLength(const wchar_t *text, size_t length);

#endif
