// The log's time stamps are the machine's local time without a zone
// ("MM/DD/YY HH:MM:SS"); for a monitoring agent they become ISO 8601 times
// with the offset the machine had at that moment.
#ifndef VELMORANE_STAMP_TIME_H
#define VELMORANE_STAMP_TIME_H

#include <windows.h>
#include <stddef.h>

// "2026-12-07T20:46:39+01:00" and its terminator.
#define ISO_TIME_CAPACITY 32

// The stamp (its first 17 characters) as an ISO 8601 time, the year taken
// as 20YY. `zone` is the time zone with its rules for the stamp's year; NULL
// asks the machine for its own. A local time that comes twice (the hour
// repeated when daylight time ends) is read as the first, under daylight
// time; one that never came (the hour skipped when it begins) under the
// offset before the change. False for a stamp that is no time (the log's
// "00/00/00 00:00:00" when the clock could not be read).
bool stampToIsoTime(const char *stamp, const TIME_ZONE_INFORMATION *zone, char *iso, size_t capacity);

#endif
