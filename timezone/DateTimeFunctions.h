// Conversions between DateTime and the Windows forms of time (FILETIME,
// SYSTEMTIME, OLE dates), and the bias of a TIME_ZONE_INFORMATION at a moment.
//
// SYSTEMTIME arithmetic works on accepted dates: those the OLE date form
// holds unchanged (years 100-9999, every field in range for its date). The
// conversions that fail raise HResultException; everything else answers
// neutral values (all-zero records, empty text).
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "timezone/DateTime.h"
#include "winplat/time.h"

namespace tavlo::timezone {

SYSTEMTIME fileTimeToSystemTime(const FILETIME& fileTime);
uint64_t systemTimeToFileTime(const SYSTEMTIME& systemTime);
HRESULT tryFileTimeToSystemTime(const FILETIME& fileTime, SYSTEMTIME* systemTime);
HRESULT trySystemTimeToFileTime(const SYSTEMTIME& systemTime, FILETIME* fileTime);

SYSTEMTIME makeSystemTime(int year, int month, int day, int hour, int minute, int second, int milliseconds);
bool systemTimeEqual(const SYSTEMTIME& a, const SYSTEMTIME& b);
bool systemTimeDiffers(const SYSTEMTIME& a, const SYSTEMTIME& b);
bool tziEqual(const TIME_ZONE_INFORMATION& a, const TIME_ZONE_INFORMATION& b);

// UTC fields of a date-time, the local date of a date-only value.
SYSTEMTIME dateTimeToSystemTime(const DateTime& t);
// The wall-clock fields.
SYSTEMTIME dateTimeToLocalSystemTime(const DateTime& t);
// 100-nanosecond units since 1601, clamped to FILETIME's range; the present
// moment for no date.
uint64_t dateTimeToFileTime(const DateTime& t);
// The fields at the fixed offset 0.
DateTime systemTimeToDateTime(const SYSTEMTIME& st);
DateTime utcSystemTimeInZone(const SYSTEMTIME& utc, const ZonePtr& zone);
DateTime wallSystemTimeInZone(const SYSTEMTIME& wall, const ZonePtr& zone);
SYSTEMTIME zoneWallToUtc(const SYSTEMTIME& wall, const ZonePtr& zone);
SYSTEMTIME utcToZoneWall(const SYSTEMTIME& utc, const ZonePtr& zone);
// Whole minutes from a to b, clamped to the int range.
int systemTimeMinutesBetween(const SYSTEMTIME& a, const SYSTEMTIME& b);
std::string systemTimeToIsoText(const SYSTEMTIME& st);
SYSTEMTIME isoTextToSystemTime(std::string_view text);
SYSTEMTIME rfc822ToSystemTime(const char* text);

// The date of a yearly transition rule (month, weekday, occurrence 1-5).
SYSTEMTIME getDaylightDate(const SYSTEMTIME& rule, int year);
// Minutes to add to the moment's time to get UTC (UTC = local + bias).
// useGivenTime false takes the bias in force now; tzi null the machine's.
int timeZoneBias(const SYSTEMTIME& moment, bool useGivenTime, bool isUtc, const TIME_ZONE_INFORMATION* tzi);
SYSTEMTIME localToGmt(const SYSTEMTIME& local, bool useGivenTime, const TIME_ZONE_INFORMATION* tzi);
SYSTEMTIME gmtToLocal(const SYSTEMTIME& utc, bool useGivenTime, const TIME_ZONE_INFORMATION* tzi);

}  // namespace tavlo::timezone
