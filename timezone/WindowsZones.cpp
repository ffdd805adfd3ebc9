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
