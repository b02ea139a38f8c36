// JSON strings for status --json: the log's texts (ANSI code page) as UTF-8,
// escaped so that the object stays valid whatever the log holds.
#ifndef VELMORANE_JSON_TEXT_H
#define VELMORANE_JSON_TEXT_H

// Longer texts are cut, at a whole character: no record the status names is longer.
#define JSON_TEXT_CAPACITY 4096

// Prints `ansi` (`length` bytes, or up to its terminator when length < 0) as
// a JSON string: quotes and backslashes escaped, control characters (C0,
// DEL, C1) as \u00XX, everything else as UTF-8; "null" for NULL.
void printJsonText(const char *ansi, int length = -1);
// Prints "name": and the text, then a comma unless it is the last field.
void printJsonField(const char *name, const char *ansi, bool last = false);

#endif
