// The Windows time-zone records and the zones made from them: the 44-byte
// "TZI" value of the registry's time-zone database, the 48-byte blob MAPI
// keeps in calendar items, the conversions between a TIME_ZONE_INFORMATION
// and an XTimeZone, the machine's zone matched by its record, and the display
// names of the registry's zones.
//
// Records are little-endian and byte-exact, so they are copied as they are
// stored. Nothing here raises: failures answer false, an all-zero record, an
// empty name or map, or a copy of the machine's zone.
//
// Transition dates of a record are rules of the form "n-th weekday of a
// month" (occurrence 1-5). Rules of another form (a fixed day of the month)
// have no such record and give zero dates; records written by older versions
// that kept the day of the month in wDay are still recognised when read back.
//
// Locks: the machine-zone lock is taken before the machine's zone
// (XTimeZone::local) and the zone tables take theirs, never after them.
#pragma once

#include <bit>
#include <cstddef>
#include <map>
#include <string>

#include "timezone/DateTime.h"
#include "timezone/RecurrenceRule.h"
#include "timezone/XTimeZone.h"
#include "winplat/time.h"

namespace tavlo::timezone {

static_assert(std::endian::native == std::endian::little, "records are stored little-endian");

// The registry's "TZI" value.
struct RegistryTzi {
    LONG Bias;
    LONG StandardBias;
    LONG DaylightBias;
    SYSTEMTIME StandardDate;
    SYSTEMTIME DaylightDate;
};
static_assert(sizeof(RegistryTzi) == 44);

// The time-zone blob of a calendar item; the year words are written 0 and
// ignored when read.
struct MapiTimeZoneBlob {
    LONG Bias;
    LONG StandardBias;
    LONG DaylightBias;
    WORD standardYear;
    SYSTEMTIME StandardDate;
    WORD daylightYear;
    SYSTEMTIME DaylightDate;
};
static_assert(sizeof(MapiTimeZoneBlob) == 48);
static_assert(offsetof(MapiTimeZoneBlob, StandardDate) == 14 &&
              offsetof(MapiTimeZoneBlob, daylightYear) == 30 &&
              offsetof(MapiTimeZoneBlob, DaylightDate) == 32);

// Byte order of all 44 bytes (memcmp).
bool regTziLess(const RegistryTzi& a, const RegistryTzi& b);
struct RegistryTziLess {
    bool operator()(const RegistryTzi& a, const RegistryTzi& b) const { return regTziLess(a, b); }
};
using RegistryZoneNames = std::map<RegistryTzi, std::wstring, RegistryTziLess>;
using RegistryZoneNameList = std::multimap<RegistryTzi, std::wstring, RegistryTziLess>;

// False with a zeroed record for a blob that is not 48 bytes; names stay empty.
bool mapiBlobToTzi(const std::string& blob, TIME_ZONE_INFORMATION* out);
std::string regTziToMapiBlob(const RegistryTzi& tzi);
RegistryTzi tziToRegTzi(const TIME_ZONE_INFORMATION& tzi);
TIME_ZONE_INFORMATION regTziToTzi(const RegistryTzi& tzi);

// The machine's record; all zero when it cannot be read.
TIME_ZONE_INFORMATION currentTzi();
// False for null, true when every byte is zero.
bool isTziEmpty(const TIME_ZONE_INFORMATION* tzi);
// Bias 180, daylight from the first Sunday of April to the last Sunday of
// October, both at 02:00.
const TIME_ZONE_INFORMATION& greenlandTzi();
bool isGreenlandTzi(const TIME_ZONE_INFORMATION& tzi);

// The record date (month, weekday, occurrence) of a yearly rule with one
// month and one weekday occurrence (1-4 or last). Fields other than those
// three are left as they were; false for any other rule.
bool ruleToTziDate(const RecurrenceRule& rule, SYSTEMTIME* out);
// The record of a zone (names empty); false when it has no standard time.
bool zoneToTzi(const XTimeZone& zone, TIME_ZONE_INFORMATION* out);
// The table zone whose record tzi is; otherwise false, and out holds a copy
// of the machine's zone.
bool zoneFromTzi(ZonePtr& out, const TIME_ZONE_INFORMATION* tzi);
ZonePtr machineZoneFromTzi();
// target becomes candidate when it is null or keeps UTC in both seasons.
void adoptZoneIfUtc(ZonePtr& target, const ZonePtr& candidate);
// The zone a value is read in: its own, the machine's, or a fixed zone named
// "GMT + h" for another UTC offset; null for no date.
ZonePtr zoneOfDateTime(const DateTime& value);
// The table zone of the machine's record, cached while the record stays the
// same. matched (when given) says whether the record was found in the tables,
// or, with compareTo, whether the machine's record equals *compareTo.
XTimeZone machineZone(bool* matched, const TIME_ZONE_INFORMATION* compareTo);

// SYSTEMTIME in the zone of tzi (null: the machine's; all zero: none),
// keeping the instant (utc) or the wall clock (wall).
DateTime utcSystemTimeWithTzi(const SYSTEMTIME& utc, const TIME_ZONE_INFORMATION* tzi);
DateTime wallSystemTimeWithTzi(const SYSTEMTIME& wall, const TIME_ZONE_INFORMATION* tzi);

// The registry's zones by record, with the named string value of each. A zone
// whose record or name cannot be read is left out; the first zone of a record
// keeps it.
RegistryZoneNames readRegistryZones(const wchar_t* valueName);
RegistryZoneNames registryDisplayNames();
RegistryZoneNameList registryStandardNames();
// The display name of the first registry zone with this record, read once per
// process; empty when there is none.
std::wstring displayNameOfTzi(const RegistryTzi& tzi);

}  // namespace tavlo::timezone
