// The offset is not computed from the zone's rules here: the daylight
// offset is tried, and when the system's own conversion from UTC gives back
// the same local time it held; otherwise the standard one. The system knows
// its rules, this year's and earlier years' alike.
#include "console/status/stamp_time.h"

#include <stdio.h>

static int twoDigits(const char *at)
{
    return (at[0] - '0') * 10 + (at[1] - '0');
}

static bool sameTime(const SYSTEMTIME *a, const SYSTEMTIME *b)
{
    return a->wYear == b->wYear && a->wMonth == b->wMonth && a->wDay == b->wDay && a->wHour == b->wHour &&
           a->wMinute == b->wMinute && a->wSecond == b->wSecond;
}

// Whether `local` is what the zone shows at local + bias minutes, UTC.
static bool biasHeld(const TIME_ZONE_INFORMATION *zone, const SYSTEMTIME *local, LONG bias)
{
    FILETIME file;
    if (!SystemTimeToFileTime(local, &file))
        return false;
    ULARGE_INTEGER at;
    at.LowPart = file.dwLowDateTime;
    at.HighPart = file.dwHighDateTime;
    at.QuadPart += (ULONGLONG)((LONGLONG)bias * 60 * 10000000);
    file.dwLowDateTime = at.LowPart;
    file.dwHighDateTime = at.HighPart;
    SYSTEMTIME utc, back;
    return FileTimeToSystemTime(&file, &utc) &&
           SystemTimeToTzSpecificLocalTime(const_cast<TIME_ZONE_INFORMATION *>(zone), &utc, &back) &&
           sameTime(&back, local);
}

// The machine's zone with the rules it had in `year`.
static bool machineZone(WORD year, TIME_ZONE_INFORMATION *zone)
{
    DYNAMIC_TIME_ZONE_INFORMATION dynamic;
    if (GetDynamicTimeZoneInformation(&dynamic) != TIME_ZONE_ID_INVALID &&
        GetTimeZoneInformationForYear(year, &dynamic, zone))
        return true;
    return GetTimeZoneInformation(zone) != TIME_ZONE_ID_INVALID;
}

bool stampToIsoTime(const char *stamp, const TIME_ZONE_INFORMATION *zone, char *iso, size_t capacity)
{
    SYSTEMTIME local = {};
    local.wMonth = (WORD)twoDigits(stamp);
    local.wDay = (WORD)twoDigits(stamp + 3);
    local.wYear = (WORD)(2000 + twoDigits(stamp + 6));
    local.wHour = (WORD)twoDigits(stamp + 9);
    local.wMinute = (WORD)twoDigits(stamp + 12);
    local.wSecond = (WORD)twoDigits(stamp + 15);
    FILETIME valid;
    TIME_ZONE_INFORMATION machine;
    if (!SystemTimeToFileTime(&local, &valid))
        return false;
    if (zone == NULL) {
        if (!machineZone(local.wYear, &machine))
            return false;
        zone = &machine;
    }
    // UTC = local time + bias. Daylight first: of a repeated hour, its first pass.
    LONG standard = zone->Bias + zone->StandardBias;
    LONG bias = standard;
    if (zone->DaylightDate.wMonth != 0 && biasHeld(zone, &local, zone->Bias + zone->DaylightBias))
        bias = zone->Bias + zone->DaylightBias;
    LONG offset = -bias;
    LONG minutes = offset < 0 ? -offset : offset;
    int written = snprintf(iso, capacity, "%04u-%02u-%02uT%02u:%02u:%02u%c%02ld:%02ld", local.wYear, local.wMonth,
                           local.wDay, local.wHour, local.wMinute, local.wSecond, offset < 0 ? '-' : '+',
                           minutes / 60, minutes % 60);
    return written > 0 && (size_t)written < capacity;
}
