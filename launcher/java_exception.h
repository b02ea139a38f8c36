// What the Java side threw, for the log.
#ifndef VELMORANE_JAVA_EXCEPTION_H
#define VELMORANE_JAVA_EXCEPTION_H

#include <jni.h>
#include <stddef.h>
#include <wchar.h>

// Bytes of the logged description, terminator included.
#define EXCEPTION_TEXT_CAPACITY 1024
#define NO_EXCEPTION_DESCRIPTION "(no description)"

// When an exception is pending on env: logs headline (unless NULL), then
// "Java exception: " with the throwable's toString() in the ANSI code page,
// control and format characters turned into blanks and a NUL into "^@", cut
// to fit EXCEPTION_TEXT_CAPACITY. The exception is cleared. Returns true when
// one was pending. The logged text is also copied to text
// (EXCEPTION_TEXT_CAPACITY bytes) unless it is NULL.
bool logPendingException(JNIEnv *env, const char *headline, char *text);

// A Java string (modified UTF-8) as one line of the log: in the ANSI code
// page, every control or format character a blank and a NUL "^@", cut to
// fit text (EXCEPTION_TEXT_CAPACITY bytes).
void javaTextForLog(const char *modifiedUtf8, char *text);

// The rule of every line the service writes for others to read: each control
// or format character (formatCharacterLength) a blank, a NUL "^@"; length
// code units of wide into shown (capacity code units, at least 1), cut when
// full, always terminated.
void makePrintable(const wchar_t *wide, size_t length, wchar_t *shown, size_t capacity);

#endif
