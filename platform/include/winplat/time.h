// System time, FILETIME/SYSTEMTIME conversions and tick counts.
// FILETIME counts 100-nanosecond intervals since 1601-01-01 00:00 UTC.
#pragma once

#include <time.h>

#include "winplat/errors.h"
#include "winplat/types.h"

typedef int64_t __time64_t;

// A time-zone description: UTC = local time + Bias (minutes). StandardDate
// and DaylightDate are yearly rules when wYear is 0: month, weekday (0
// Sunday), occurrence 1-4 or 5 for the last, wall-clock time of the change.
// WCHAR is wchar_t here, so the record is larger than the platform's own.
struct TIME_ZONE_INFORMATION {
    LONG Bias;
    WCHAR StandardName[32];
    SYSTEMTIME StandardDate;
    LONG StandardBias;
    WCHAR DaylightName[32];
    SYSTEMTIME DaylightDate;
    LONG DaylightBias;
};
typedef TIME_ZONE_INFORMATION* LPTIME_ZONE_INFORMATION;

#define TIME_ZONE_ID_UNKNOWN 0u
#define TIME_ZONE_ID_STANDARD 1u
#define TIME_ZONE_ID_DAYLIGHT 2u
#define TIME_ZONE_ID_INVALID 0xFFFFFFFFu

extern "C" {

WINPLAT_API void WINAPI GetSystemTimeAsFileTime(LPFILETIME lpSystemTimeAsFileTime);
WINPLAT_API void WINAPI GetSystemTime(LPSYSTEMTIME lpSystemTime);
// Local time of the process's time zone (TZ).
WINPLAT_API void WINAPI GetLocalTime(LPSYSTEMTIME lpSystemTime);
// Fails with ERROR_INVALID_PARAMETER for a value of 0x8000000000000000 or
// more, or a null argument. Fills every field, wDayOfWeek included.
WINPLAT_API BOOL WINAPI FileTimeToSystemTime(const FILETIME* lpFileTime, LPSYSTEMTIME lpSystemTime);
// wDayOfWeek is ignored. Fails with ERROR_INVALID_PARAMETER unless the year
// is 1601..30827 and every other field is in range for its date.
WINPLAT_API BOOL WINAPI SystemTimeToFileTime(const SYSTEMTIME* lpSystemTime, LPFILETIME lpFileTime);
// Milliseconds since the system started; the 32-bit form wraps.
WINPLAT_API DWORD WINAPI GetTickCount();
WINPLAT_API ULONGLONG WINAPI GetTickCount64();

// The process zone: the file or POSIX rule string named by TZ (a file is read
// under TZDIR, else /usr/share/zoneinfo), else /etc/localtime. Biases and
// rule dates come from the rule string (a zone file's footer), names from its
// abbreviations. What the record cannot hold comes out as the nearest record:
// a change time outside 00:00:00-23:59:59 is clamped to that range, a
// day-of-year rule (Jn or n) becomes the occurrence of its weekday in its
// month this year, and an unreadable or empty rule gives UTC. Daylight time
// behind standard time (Ireland's winter in tzdata) is recorded the other way
// round, as Windows has it: the later offset standard, the seasons swapped,
// a negative DaylightBias. Answers
// TIME_ZONE_ID_UNKNOWN without daylight time, else STANDARD or DAYLIGHT for
// the present moment; TIME_ZONE_ID_INVALID for a null argument.
WINPLAT_API DWORD WINAPI GetTimeZoneInformation(LPTIME_ZONE_INFORMATION lpTimeZoneInformation);

// C runtime time over the process zone. The broken-down results live in one
// buffer per thread, shared by _gmtime64 and _localtime64. They cover
// 1970-01-01T00:00:00 to 3000-12-31T23:59:59 UTC and give null outside it
// (and _mktime64 -1); tm_isdst of _gmtime64 is 0. tm_isdst (read by
// _mktime64 too) follows GetTimeZoneInformation's seasons. Like
// GetTimeZoneInformation, they answer for the zone TZ names at the call, also
// when TZ changed without tzset: they bring the C library's zone to it.
WINPLAT_API __time64_t _time64(__time64_t* destTime);
WINPLAT_API struct tm* _gmtime64(const __time64_t* sourceTime);
WINPLAT_API struct tm* _localtime64(const __time64_t* sourceTime);
WINPLAT_API __time64_t _mktime64(struct tm* timeptr);

}  // extern "C"
