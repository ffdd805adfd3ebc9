// Windows time-zone records. The records are plain little-endian layouts, so
// the blob and the registry value are filled and read by copying fields at
// their offsets; the zone tables are matched through the same record dates
// that zoneToTzi writes.
#include "timezone/WindowsZones.h"

#include <atomic>
#include <cstring>
#include <memory>

#include "CommonBase/Holders.h"
#include "CommonBase/StringUtils.h"
#include "Threads/CLock.h"
#include "timezone/DateTimeFunctions.h"
#include "timezone/ZoneSummary.h"
#include "winplat/registry.h"

namespace tavlo::timezone {

namespace {

constexpr wchar_t kTimeZonesKey[] = L"Software\\Microsoft\\Windows NT\\CurrentVersion\\Time Zones";
constexpr DWORD kKeyNameLength = 255;
constexpr ULONG kNameLength = 1024;

SYSTEMTIME transitionRule(WORD month, WORD occurrence) {
    SYSTEMTIME st{};
    st.wMonth = month;
    st.wDay = occurrence;
    st.wHour = 2;
    return st;
}

TIME_ZONE_INFORMATION makeGreenland() {
    TIME_ZONE_INFORMATION z{};
    z.Bias = 180;
    z.DaylightBias = -60;
    z.StandardDate = transitionRule(10, 5);
    z.DaylightDate = transitionRule(4, 1);
    return z;
}

// Minutes of an offset, the unknown one as 0.
LONG offsetMinutes(Duration d) {
    const LONG minutes = d.hours() * 60 + d.minutes();
    return d.isNegative() ? -minutes : minutes;
}

// One YEARLY rule with a single month; the month goes to out.
bool yearlyMonth(const RecurrenceRule& rule, SYSTEMTIME* out) {
    if (!rule.valid || rule.frequency != Yearly) {
        return false;
    }
    const std::vector<int32_t>& months = rule.byLists[ByMonth];
    if (months.size() != 1 || months[0] < 0 || months[0] > 12) {
        return false;
    }
    out->wMonth = static_cast<WORD>(months[0]);
    return true;
}

// The record date that older versions wrote for a yearly rule on a fixed day
// of the month: the day in wDay (0 without one).
bool monthDayDate(const RecurrenceRule& rule, SYSTEMTIME* out) {
    SYSTEMTIME date = *out;
    const std::vector<int32_t>& days = rule.byLists[ByMonthDay];
    if (!yearlyMonth(rule, &date) || !rule.byLists[ByDay].empty() || days.size() > 1 ||
        (days.size() == 1 && (days[0] < 0 || days[0] > 31))) {
        return false;
    }
    date.wDay = static_cast<WORD>(days.empty() ? 0 : days[0]);
    *out = date;
    return true;
}

// The record date of an observance, at its start's wall-clock time.
bool observanceDate(const ZoneObservance& o, bool acceptMonthDay, SYSTEMTIME* out) {
    *out = SYSTEMTIME{};
    if (!ruleToTziDate(o.rule, out) && !(acceptMonthDay && monthDayDate(o.rule, out))) {
        return false;
    }
    out->wHour = static_cast<WORD>(o.start.field(FieldHour, 1));
    out->wMinute = static_cast<WORD>(o.start.field(FieldMinute, 1));
    return true;
}

// A record whose two seasons are alike describes a zone without daylight time.
TIME_ZONE_INFORMATION withoutLikeSeasons(const TIME_ZONE_INFORMATION& tzi) {
    TIME_ZONE_INFORMATION z = tzi;
    if (systemTimeEqual(z.DaylightDate, z.StandardDate) || z.StandardBias == z.DaylightBias) {
        z.StandardDate = SYSTEMTIME{};
        z.StandardBias = 0;
        std::memset(z.DaylightName, 0, sizeof(z.DaylightName));
        z.DaylightDate = SYSTEMTIME{};
        z.DaylightBias = 0;
    }
    return z;
}

// Whether a table row is the zone of a record: the standard offset alone for
// rows and records without daylight time, else both offsets and both dates.
bool summaryFits(const ZoneSummary& s, const TIME_ZONE_INFORMATION& z, bool acceptMonthDay) {
    if (s.standard.valid == 0) {
        return false;
    }
    const int64_t standardSeconds = -60 * (int64_t{z.Bias} + z.StandardBias);
    if (s.daylight.valid == 0) {
        return z.StandardDate.wMonth == 0 && s.standard.offsetTo.seconds() == standardSeconds;
    }
    SYSTEMTIME standardDate, daylightDate;
    return z.StandardDate.wMonth != 0 && s.standard.offsetTo.seconds() == standardSeconds &&
           s.daylight.offsetTo.seconds() == -60 * (int64_t{z.Bias} + z.DaylightBias) &&
           observanceDate(s.standard, acceptMonthDay, &standardDate) &&
           observanceDate(s.daylight, acceptMonthDay, &daylightDate) &&
           systemTimeEqual(standardDate, z.StandardDate) && systemTimeEqual(daylightDate, z.DaylightDate);
}

bool isGreenlandName(const std::string& name) {
    return name.size() == 9 && asciiCompareNoCase(name.c_str(), "Greenland") == 0;
}

// The machine's zone as last matched, and the record it was matched for.
// Taken before the machine's zone and the zone tables take their locks.
struct MachineZoneCache {
    CLock lock{true};
    XTimeZone zone;
    TIME_ZONE_INFORMATION tzi{};
    bool matched = false;
};

MachineZoneCache& machineZoneCache() {
    static MachineZoneCache cache;
    return cache;
}

}  // namespace

bool regTziLess(const RegistryTzi& a, const RegistryTzi& b) {
    return std::memcmp(&a, &b, sizeof(RegistryTzi)) < 0;
}

bool mapiBlobToTzi(const std::string& blob, TIME_ZONE_INFORMATION* out) {
    *out = TIME_ZONE_INFORMATION{};
    if (blob.size() != sizeof(MapiTimeZoneBlob)) {
        return false;
    }
    MapiTimeZoneBlob b;
    std::memcpy(&b, blob.data(), sizeof(b));
    out->Bias = b.Bias;
    out->StandardBias = b.StandardBias;
    out->DaylightBias = b.DaylightBias;
    out->StandardDate = b.StandardDate;
    out->DaylightDate = b.DaylightDate;
    return true;
}

std::string regTziToMapiBlob(const RegistryTzi& tzi) {
    const MapiTimeZoneBlob b{tzi.Bias, tzi.StandardBias, tzi.DaylightBias, 0, tzi.StandardDate,
                             0,        tzi.DaylightDate};
    return std::string(reinterpret_cast<const char*>(&b), sizeof(b));
}

RegistryTzi tziToRegTzi(const TIME_ZONE_INFORMATION& tzi) {
    return RegistryTzi{tzi.Bias, tzi.StandardBias, tzi.DaylightBias, tzi.StandardDate, tzi.DaylightDate};
}

TIME_ZONE_INFORMATION regTziToTzi(const RegistryTzi& tzi) {
    TIME_ZONE_INFORMATION out{};
    out.Bias = tzi.Bias;
    out.StandardBias = tzi.StandardBias;
    out.DaylightBias = tzi.DaylightBias;
    out.StandardDate = tzi.StandardDate;
    out.DaylightDate = tzi.DaylightDate;
    return out;
}

TIME_ZONE_INFORMATION currentTzi() {
    // A failing call leaves the record as it was: zero.
    TIME_ZONE_INFORMATION z{};
    GetTimeZoneInformation(&z);
    return z;
}

bool isTziEmpty(const TIME_ZONE_INFORMATION* tzi) {
    static const TIME_ZONE_INFORMATION kZero{};
    return tzi != nullptr && std::memcmp(tzi, &kZero, sizeof(kZero)) == 0;
}

const TIME_ZONE_INFORMATION& greenlandTzi() {
    static const TIME_ZONE_INFORMATION kGreenland = makeGreenland();
    return kGreenland;
}

bool isGreenlandTzi(const TIME_ZONE_INFORMATION& tzi) {
    const TIME_ZONE_INFORMATION& g = greenlandTzi();
    return tzi.Bias == g.Bias && tzi.DaylightBias == g.DaylightBias && tzi.StandardBias == g.StandardBias &&
           systemTimeEqual(tzi.StandardDate, g.StandardDate) &&
           systemTimeEqual(tzi.DaylightDate, g.DaylightDate);
}

bool ruleToTziDate(const RecurrenceRule& rule, SYSTEMTIME* out) {
    SYSTEMTIME date = *out;
    const std::vector<int32_t>& days = rule.byLists[ByDay];
    // A rule without a weekday (a fixed day of the month) has no record form:
    // wDay is an occurrence, not a day of the month.
    if (!yearlyMonth(rule, &date) || days.size() != 1) {
        return false;
    }
    const int32_t weekday = days[0] & 0xFF;
    const int32_t ordinal = days[0] >> 8;
    if (weekday > 7 || !((ordinal >= 1 && ordinal <= 4) || ordinal == -1)) {
        return false;
    }
    date.wDayOfWeek = static_cast<WORD>(weekday % 7);
    date.wDay = static_cast<WORD>(ordinal == -1 ? 5 : ordinal);
    *out = date;
    return true;
}

bool zoneToTzi(const XTimeZone& zone, TIME_ZONE_INFORMATION* out) {
    *out = TIME_ZONE_INFORMATION{};
    if (isGreenlandName(zone.getName())) {
        *out = greenlandTzi();
        return true;
    }
    const ZoneObservance standard = zone.standard();
    const ZoneObservance daylight = zone.daylight();
    if (standard.valid == 0) {
        return false;
    }
    out->Bias = -offsetMinutes(standard.offsetTo);
    if (daylight.valid != 0) {
        out->DaylightBias = -offsetMinutes(daylight.offsetTo - daylight.offsetFrom);
    }
    SYSTEMTIME standardDate, daylightDate;
    if (observanceDate(standard, false, &standardDate) && daylight.valid != 0 &&
        observanceDate(daylight, false, &daylightDate)) {
        out->StandardDate = standardDate;
        out->DaylightDate = daylightDate;
    }
    return true;
}

bool zoneFromTzi(ZonePtr& out, const TIME_ZONE_INFORMATION* tzi) {
    out.reset(new XTimeZone(XTimeZone::local()));
    if (tzi == nullptr) {
        return false;
    }
    TIME_ZONE_INFORMATION own;
    if (zoneToTzi(*out, &own) && tziEqual(own, *tzi)) {
        return true;
    }
    const TIME_ZONE_INFORMATION z = withoutLikeSeasons(*tzi);
    if (isGreenlandTzi(z)) {
        out.reset(new XTimeZone(XTimeZone::findByName("Greenland")));
        return true;
    }
    for (const ZoneSummary& summary : zoneSummaries()) {
        if (summaryFits(summary, z, true)) {
            out = summary.toZone();
            return true;
        }
    }
    return false;
}

ZonePtr machineZoneFromTzi() {
    const TIME_ZONE_INFORMATION machine = currentTzi();
    ZonePtr zone;
    zoneFromTzi(zone, &machine);
    return zone;
}

void adoptZoneIfUtc(ZonePtr& target, const ZonePtr& candidate) {
    if (!target ||
        (target->daylight().offsetTo.seconds() == 0 && target->standard().offsetTo.seconds() == 0)) {
        target = candidate;
    }
}

ZonePtr zoneOfDateTime(const DateTime& value) {
    if (value.isUnset()) {
        return ZonePtr();
    }
    if (value.getZone()) {
        return value.getZone();
    }
    if (value.kind() == Floating) {
        return ZonePtr(new XTimeZone(XTimeZone::local()));
    }
    const Duration offset = value.offset();
    if (static_cast<uint32_t>(offset.count()) == 0) {
        return machineZoneFromTzi();
    }
    ZonePtr zone(new XTimeZone());
    zone->setName(std::string("GMT ") + (offset.isNegative() ? '-' : '+') + " " +
                  std::to_string(offset.hours()));
    ZoneObservance o;
    o.valid = 1;
    o.kind = StandardTime;
    o.start = DateTime(1, 1, 1970, 0, 0, 1, Duration(0));
    o.offsetFrom = offset;
    o.offsetTo = offset;
    zone->addObservance(o);
    return zone;
}

XTimeZone machineZone(bool* matched, const TIME_ZONE_INFORMATION* compareTo) {
    const TIME_ZONE_INFORMATION machine = currentTzi();
    MachineZoneCache& cache = machineZoneCache();
    CLockGuard guard(cache.lock);
    if (!cache.matched || !tziEqual(machine, cache.tzi)) {
        cache.matched = false;
        cache.zone = XTimeZone::local();
        cache.tzi = machine;
        TIME_ZONE_INFORMATION own;
        const TIME_ZONE_INFORMATION z = withoutLikeSeasons(machine);
        if (zoneToTzi(cache.zone, &own) && tziEqual(own, cache.tzi)) {
            cache.matched = true;
        } else if (isGreenlandTzi(z)) {
            cache.zone = XTimeZone::findByName("Greenland");
            cache.matched = true;
        } else {
            for (const ZoneSummary& summary : displayZoneSummaries()) {
                if (summaryFits(summary, z, false)) {
                    cache.zone = *summary.toZone();
                    cache.matched = true;
                    break;
                }
            }
        }
    }
    if (matched != nullptr) {
        *matched = compareTo != nullptr ? tziEqual(cache.tzi, *compareTo) : cache.matched;
    }
    return cache.zone;
}

namespace {

// The zone of a record for a SYSTEMTIME: none for an all-zero record.
ZonePtr zoneOfRecord(const TIME_ZONE_INFORMATION* tzi) {
    ZonePtr zone;
    if (!isTziEmpty(tzi)) {
        zoneFromTzi(zone, tzi);
    }
    return zone;
}

}  // namespace

DateTime utcSystemTimeWithTzi(const SYSTEMTIME& utc, const TIME_ZONE_INFORMATION* tzi) {
    DateTime t = systemTimeToDateTime(utc);
    if (const ZonePtr zone = zoneOfRecord(tzi)) {
        t.attachZone(zone);
    }
    return t;
}

DateTime wallSystemTimeWithTzi(const SYSTEMTIME& wall, const TIME_ZONE_INFORMATION* tzi) {
    DateTime t = systemTimeToDateTime(wall);
    if (const ZonePtr zone = zoneOfRecord(tzi)) {
        t.setZone(zone);
    }
    return t;
}

namespace {

// Every registry zone whose record and named value can be read, in the
// registry's order; a map keeps the first zone of a record.
template <typename Names>
Names readZones(const wchar_t* valueName) {
    Names names;
    RegistryKey root;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kTimeZonesKey, 0, KEY_READ, root.receive()) != ERROR_SUCCESS) {
        return names;
    }
    for (DWORD index = 0;; ++index) {
        wchar_t keyName[kKeyNameLength];
        DWORD keyLength = kKeyNameLength;
        if (RegEnumKeyExW(root.get(), index, keyName, &keyLength, nullptr, nullptr, nullptr, nullptr) !=
            ERROR_SUCCESS) {
            break;
        }
        RegistryKey zone;
        if (RegOpenKeyExW(root.get(), keyName, 0, KEY_READ, zone.receive()) != ERROR_SUCCESS) {
            continue;
        }
        RegistryTzi tzi{};
        DWORD size = sizeof(tzi);
        DWORD type = 0;
        if (RegQueryValueExW(zone.get(), L"TZI", nullptr, &type, reinterpret_cast<LPBYTE>(&tzi), &size) !=
                ERROR_SUCCESS ||
            type != REG_BINARY) {
            continue;
        }
        // A missing or unreadable name leaves nothing to show for the zone.
        std::unique_ptr<wchar_t[]> name(new wchar_t[kNameLength]);
        ULONG length = kNameLength;
        if (zone.queryStringValue(valueName, name.get(), &length) != ERROR_SUCCESS) {
            continue;
        }
        names.emplace(tzi, std::wstring(name.get()));
    }
    return names;
}

}  // namespace

RegistryZoneNames readRegistryZones(const wchar_t* valueName) {
    return readZones<RegistryZoneNames>(valueName);
}

RegistryZoneNames registryDisplayNames() {
    return readRegistryZones(L"Display");
}

RegistryZoneNameList registryStandardNames() {
    return readZones<RegistryZoneNameList>(L"Std");
}

std::wstring displayNameOfTzi(const RegistryTzi& tzi) {
    // Built once and published; readers after that take no lock.
    static std::atomic<const RegistryZoneNames*> published{nullptr};
    static CLock lock(true);
    static std::unique_ptr<const RegistryZoneNames> owner;
    const RegistryZoneNames* names = published.load(std::memory_order_acquire);
    if (names == nullptr) {
        CLockGuard guard(lock);
        names = published.load(std::memory_order_relaxed);
        if (names == nullptr) {
            owner.reset(new RegistryZoneNames(registryDisplayNames()));
            names = owner.get();
            published.store(names, std::memory_order_release);
        }
    }
    const auto found = names->find(tzi);
    return found == names->end() ? std::wstring() : found->second;
}

}  // namespace tavlo::timezone
