// Windows time-zone records: byte layouts against golden bytes, record dates
// of rules, zones to records and back over every display row, the machine's
// zone under several TZ values, the registry's zones over a fixture, and the
// record-based conversions against the zone-based ones.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <iterator>
#include <string>
#include <thread>
#include <tuple>
#include <utility>
#include <vector>

#include "BackendWrappers/tests/Watchdog.h"
#include "ScopedTz.h"
#include "platform/tests/registry_fixture.h"
#include "timezone/DateTimeFunctions.h"
#include "timezone/WindowsZones.h"
#include "timezone/ZoneRegistry.h"
#include "winplat/inject.h"

using namespace tavlo::timezone;

namespace {

SYSTEMTIME rule(WORD month, WORD weekday, WORD occurrence, WORD hour) {
    return SYSTEMTIME{0, month, weekday, occurrence, hour, 0, 0, 0};
}

TIME_ZONE_INFORMATION record(LONG bias, LONG daylightBias, SYSTEMTIME standard, SYSTEMTIME daylight) {
    TIME_ZONE_INFORMATION z{};
    z.Bias = bias;
    z.DaylightBias = daylightBias;
    z.StandardDate = standard;
    z.DaylightDate = daylight;
    return z;
}

const RegistryTzi kEastern = tziToRegTzi(record(300, -60, rule(11, 0, 1, 2), rule(3, 0, 2, 2)));
const RegistryTzi kSydney = tziToRegTzi(record(-600, -60, rule(4, 0, 1, 3), rule(10, 0, 1, 2)));
const RegistryTzi kIndia = tziToRegTzi(record(-330, 0, {}, {}));
const RegistryTzi kLondon = tziToRegTzi(record(0, -60, rule(10, 0, 5, 2), rule(3, 0, 5, 1)));

std::string blob(const RegistryTzi& tzi) {
    return regTziToMapiBlob(tzi);
}

ZonePtr displayZone(int index) {
    return ZonePtr(new XTimeZone(XTimeZone::fromTableRow(index, ZoneRegistry::instance().displayZones)));
}

// Both offsets, and each season's rule and time of day.
std::tuple<int64_t, int64_t, std::string, std::string, std::string> rulesOf(const XTimeZone& z) {
    const ZoneObservance s = z.standard(), d = z.daylight();
    if (d.valid == 0) {
        return {s.offsetTo.seconds(), 0, "", "", ""};
    }
    return {s.offsetTo.seconds(), d.offsetTo.seconds(), s.rule.format(), d.rule.format(),
            s.start.format(FormatNoZ | FormatNoOffset).substr(8) +
                d.start.format(FormatNoZ | FormatNoOffset).substr(8)};
}

// The display rows on fixed days of the month, with the records older
// versions stored for them (the day of the month in wDay).
struct MonthDayRow {
    int row;
    TIME_ZONE_INFORMATION stored;
    bool standardRowExists;
};
const MonthDayRow kMonthDayRows[] = {
    {40, record(-120, -60, rule(10, 0, 2, 2), rule(4, 0, 1, 2)), true},    // Jerusalem
    {33, record(0, -60, rule(7, 0, 31, 0), rule(4, 0, 3, 0)), true},       // Casablanca, Monrovia
    {46, record(-210, -60, rule(9, 0, 22, 0), rule(3, 0, 22, 0)), false},  // Tehran: nothing at +0330
};
const MonthDayRow* monthDayRow(int row) {
    const auto found = std::find_if(std::begin(kMonthDayRows), std::end(kMonthDayRows),
                                    [row](const MonthDayRow& r) { return r.row == row; });
    return found == std::end(kMonthDayRows) ? nullptr : found;
}

}  // namespace

TEST(ZoneRecords, LayoutsGoldenBytesAndOrder) {
    // Biases, year word, StandardDate, year word, DaylightDate.
    const std::string golden(
        "\x2c\x01\0\0"
        "\0\0\0\0"
        "\xc4\xff\xff\xff"
        "\0\0"
        "\0\0\x0b\0\0\0\x01\0\x02\0\0\0\0\0\0\0"
        "\0\0"
        "\0\0\x03\0\0\0\x02\0\x02\0\0\0\0\0\0\0",
        48);
    EXPECT_EQ(blob(kEastern), golden);
    const std::string written = blob(kEastern);
    for (size_t size : {0, 47, 49}) {
        TIME_ZONE_INFORMATION z;
        std::memset(&z, 0x5a, sizeof(z));
        EXPECT_FALSE(mapiBlobToTzi((written + "\x07").substr(0, size), &z)) << size;
        EXPECT_TRUE(isTziEmpty(&z)) << size;
    }
    // The year words (12-13, 30-31) are ignored when read.
    std::string withYears = written;
    withYears[12] = withYears[13] = withYears[30] = withYears[31] = '\x7e';
    TIME_ZONE_INFORMATION z;
    ASSERT_TRUE(mapiBlobToTzi(withYears, &z));
    EXPECT_EQ(blob(tziToRegTzi(z)), written);
    EXPECT_EQ(z.StandardName[0] + z.DaylightName[0], 0);
    EXPECT_EQ(blob(tziToRegTzi(regTziToTzi(kSydney))), blob(kSydney));
    // Byte order (the bias's low byte first), not value order.
    EXPECT_TRUE(regTziLess(kEastern, kIndia) && regTziLess(kSydney, kIndia));
    EXPECT_FALSE(regTziLess(kIndia, kSydney) || regTziLess(kEastern, kEastern));

    const TIME_ZONE_INFORMATION zero{}, daylightBiasOnly = record(0, -60, {}, {});
    EXPECT_TRUE(!isTziEmpty(nullptr) && isTziEmpty(&zero) && !isTziEmpty(&daylightBiasOnly));
    TIME_ZONE_INFORMATION greenland = record(180, -60, rule(10, 0, 5, 2), rule(4, 0, 1, 2));
    EXPECT_TRUE(tziEqual(greenlandTzi(), greenland));
    greenland.DaylightName[0] = L'W';  // names do not count
    EXPECT_TRUE(isGreenlandTzi(greenland));
    greenland.StandardDate.wMinute = 1;
    EXPECT_FALSE(isGreenlandTzi(greenland));
}

TEST(ZoneRecords, RuleDates) {
    const std::pair<const char*, int> cases[] = {
        // rule, month*100 + weekday*10 + occurrence or -1
        {"FREQ=YEARLY;BYMONTH=3;BYDAY=2SU", 302},
        {"FREQ=YEARLY;BYMONTH=10;BYDAY=-1SU", 1005},
        {"FREQ=YEARLY;BYMONTH=3;BYDAY=-1SA", 365},
        {"FREQ=YEARLY;BYMONTH=5;BYDAY=4MO", 514},
        {"FREQ=YEARLY;BYMONTH=5;BYDAY=5SU", -1},
        {"FREQ=YEARLY;BYMONTH=5;BYDAY=-2SU", -1},
        {"FREQ=YEARLY;BYMONTH=5;BYDAY=SU", -1},
        {"FREQ=YEARLY;BYMONTH=5;BYDAY=1SU,2SU", -1},
        {"FREQ=YEARLY;BYMONTH=3,4;BYDAY=1SU", -1},
        {"FREQ=YEARLY;BYMONTH=13;BYDAY=1SU", -1},
        {"FREQ=YEARLY;BYDAY=1SU", -1},
        {"FREQ=MONTHLY;BYMONTH=3;BYDAY=1SU", -1},
        {"BYMONTH=3;BYDAY=1SU", -1},
        {"FREQ=YEARLY;BYMONTH=4", -1},
        // A fixed day of the month has no record form.
        {"FREQ=YEARLY;BYMONTH=10;BYMONTHDAY=2", -1},
        {"FREQ=YEARLY;BYMONTH=7;BYMONTHDAY=31", -1},
    };
    for (const auto& [text, expected] : cases) {
        RecurrenceRule r;
        r.parse(text);
        SYSTEMTIME out = rule(0, 0, 0, 7);
        ASSERT_EQ(ruleToTziDate(r, &out), expected >= 0) << text;
        const int got = expected < 0 ? -1 : out.wMonth * 100 + out.wDayOfWeek * 10 + out.wDay;
        EXPECT_EQ(std::make_tuple(got, out.wHour), std::make_tuple(expected < 0 ? -1 : expected, 7)) << text;
        EXPECT_TRUE(expected >= 0 || systemTimeEqual(out, rule(0, 0, 0, 7))) << text;
    }
}

TEST(ZoneRecords, EveryDisplayRowToRecordAndBack) {
    ASSERT_EQ(ZoneRegistry::instance().displayZones.size(), 86u);
    for (int i = 0; i < 86; ++i) {
        const ZonePtr zone = displayZone(i);
        SCOPED_TRACE(zone->getName());
        TIME_ZONE_INFORMATION tzi;
        ASSERT_TRUE(zoneToTzi(*zone, &tzi));
        ZonePtr back;
        const bool found = zoneFromTzi(back, &tzi);
        const MonthDayRow* monthDay = monthDayRow(i);
        if (monthDay == nullptr) {
            ASSERT_TRUE(found);
            EXPECT_EQ(rulesOf(*back), rulesOf(*zone));
            continue;
        }
        // No record dates: a row of the standard time alone, where one exists.
        EXPECT_EQ(tzi.StandardDate.wMonth + tzi.DaylightDate.wMonth, 0);
        ASSERT_EQ(found, monthDay->standardRowExists);
        EXPECT_TRUE(!found ||
                    rulesOf(*back) == std::make_tuple(zone->standard().offsetTo.seconds(), 0, "", "", ""));
        // The stored records still name the row.
        ASSERT_TRUE(zoneFromTzi(back, &monthDay->stored));
        EXPECT_EQ(back->getName(), zone->getName());
    }
    XTimeZone named;
    named.setName("GREENLAND");
    TIME_ZONE_INFORMATION tzi;
    EXPECT_TRUE(zoneToTzi(named, &tzi) && tziEqual(tzi, greenlandTzi()));
    named.setName("Greenland (Pituffik)");
    EXPECT_FALSE(zoneToTzi(named, &tzi) || !isTziEmpty(&tzi));
    ZonePtr zone;
    EXPECT_TRUE(zoneFromTzi(zone, &greenlandTzi()) && zone->getName() == "Greenland");
    // No match: the machine's zone.
    const TIME_ZONE_INFORMATION odd = record(17, -60, rule(2, 3, 1, 4), rule(8, 3, 1, 4));
    EXPECT_FALSE(zoneFromTzi(zone, &odd) || zone->getName() != XTimeZone::local().getName());
    EXPECT_FALSE(zoneFromTzi(zone, nullptr) || zone->getName() != XTimeZone::local().getName());
}

TEST(ZoneRecords, ZoneOfADateTimeAndAdoption) {
    ScopedTz tz("America/New_York");
    EXPECT_FALSE(zoneOfDateTime(DateTime()));
    for (auto [minutes, name] : {std::pair{-300, "GMT - 5"}, {330, "GMT + 5"}, {-570, "GMT - 9"}}) {
        const Duration offset(minutes * 60);
        const ZonePtr zone = zoneOfDateTime(DateTime(1, 6, 2024, 12, 0, 0, offset));
        ASSERT_TRUE(zone && zone->observances().size() == 1);
        const ZoneObservance& o = zone->observances()[0];
        EXPECT_EQ(
            std::make_tuple(zone->getName(), o.valid, o.kind, o.offsetFrom, o.offsetTo, o.rule.valid,
                            o.start.format(FormatNoZ | FormatNoOffset)),
            std::make_tuple(std::string(name), 1, 1, offset, offset, false, std::string("19700101T000001")));
    }
    EXPECT_EQ(zoneOfDateTime(DateTime(int64_t{1700000000}))->getName(), "Eastern Time (US & Canada)");
    DateTime t(int64_t{1700000000});
    const ZonePtr sydney = displayZone(70), gmt = displayZone(85);
    EXPECT_EQ(zoneOfDateTime(DateTime(t).attachZone(sydney)), sydney);
    EXPECT_EQ(zoneOfDateTime(t.makeFloating())->getName(), XTimeZone::local().getName());

    ZonePtr target;
    adoptZoneIfUtc(target, gmt);
    EXPECT_EQ(target, gmt);
    adoptZoneIfUtc(target, sydney);
    EXPECT_EQ(target, sydney);
    adoptZoneIfUtc(target, gmt);
    EXPECT_EQ(target, sydney);
}

TEST(ZoneRecords, MachineZoneFollowsTheRecord) {
    winplat::inject::Scope injections;
    const std::string local = XTimeZone::local().getName();
    const std::tuple<const char*, std::string, bool> cases[] = {
        {"America/New_York", "Eastern Time (US & Canada)", true},
        {"Europe/London", "Dublin, Edinburgh, Lisbon, London", true},
        {"Europe/Dublin", "Dublin, Edinburgh, Lisbon, London", true},
        {"Eire", "Dublin, Edinburgh, Lisbon, London", true},
        // Namibia's winter time an hour behind is in its past only.
        {"Africa/Windhoek", "Harare, Pretoria", true},
        {"America/New_York", "Eastern Time (US & Canada)", true},
        // Zones without daylight time match by their standard offset.
        {"Asia/Kolkata", "Chennai, Kolkata, Mumbai, New Delhi", true},
        {"America/Phoenix", "Arizona", true},
        {"UTC", "Greenland (Danmarkshavn)", true},
        {"Australia/Sydney", "Canberra, Melbourne, Sydney", true},
        {"WGT3WGST,M4.1.0/2,M10.5.0/2", "Greenland", true},
        // No row: the machine's zone, unmatched, and tried again next time.
        {"XXT3XDT,M1.1.0,M2.1.0", local, false},
        {"XXT3XDT,M1.1.0,M2.1.0", local, false},
        // Today's Iranian and Israeli rules: the rows keep those of 2009-2011.
        {"Asia/Tehran", local, false},
        {"Asia/Jerusalem", local, false},
    };
    for (const auto& [tzName, name, found] : cases) {
        SCOPED_TRACE(tzName);
        ScopedTz tz(tzName);
        bool matched = !found;
        EXPECT_EQ(machineZone(&matched, nullptr).getName(), name);
        EXPECT_EQ(matched, found);
        // The display rows come first in the full list too.
        EXPECT_EQ(machineZoneFromTzi()->getName(), name);
        // compareTo asks whether the machine's record is that one.
        TIME_ZONE_INFORMATION now = currentTzi();
        EXPECT_TRUE(machineZone(&matched, &now).getName() == name && matched);
        now.Bias += 60;
        machineZone(&matched, &now);
        EXPECT_FALSE(matched);
    }
    ScopedTz tz("Asia/Kolkata");
    EXPECT_EQ(blob(tziToRegTzi(currentTzi())), blob(kIndia));
    winplat::inject::arm("GetTimeZoneInformation", ERROR_INVALID_PARAMETER);
    const TIME_ZONE_INFORMATION failed = currentTzi();
    EXPECT_TRUE(isTziEmpty(&failed));
}

TEST(ZoneRecords, ManyThreadsInLockOrder) {
    ScopedTz tz("Europe/London");
    Watchdog watchdog(60);
    std::vector<int> wrong(6, 0);
    std::vector<std::thread> threads;
    for (int i = 0; i < 6; ++i) {
        threads.emplace_back([i, &wrong] {
            for (int n = 0; n < 40; ++n) {
                bool matched = false;
                const XTimeZone zone = machineZone(&matched, nullptr);
                const Duration summer = XTimeZone::offsetAt(1720000000 + n * 86400, machineZoneFromTzi());
                wrong[i] += !matched || zone.getName() != "Dublin, Edinburgh, Lisbon, London" ||
                            XTimeZone::local().getName().empty() || summer != Duration(3600);
            }
        });
    }
    for (std::thread& t : threads) {
        t.join();
    }
    EXPECT_EQ(wrong, std::vector<int>(6, 0));
}

TEST(ZoneRecords, ConversionsAgainstTheZonesOfEveryDisplayRow) {
    const int64_t first = 1704067200 + 30;  // 2024-01-01T00:00:30Z: never exactly at a change
    for (int i = 0; i < 86; ++i) {
        const ZonePtr zone = displayZone(i);
        if (monthDayRow(i) != nullptr || zone->getName() == "Greenland") {
            continue;  // their records do not carry the row's rules
        }
        SCOPED_TRACE(zone->getName());
        TIME_ZONE_INFORMATION tzi;
        ASSERT_TRUE(zoneToTzi(*zone, &tzi));
        int checked = 0;
        for (int64_t t = first; t < first + 3 * 366 * 86400LL; t += 13 * 3600 + 17 * 60) {
            const SYSTEMTIME utc = dateTimeToSystemTime(DateTime(t));
            const int bias = timeZoneBias(utc, true, true, &tzi);
            ASSERT_EQ(utcSystemTimeInZone(utc, zone).offset(), Duration(-60LL * bias)) << t;
            ASSERT_TRUE(zone->daylight().valid == 0 || XTimeZone::offsetAt(t, zone) == Duration(-60LL * bias))
                << t;
            ASSERT_EQ(utcSystemTimeWithTzi(utc, &tzi).offset(), Duration(-60LL * bias)) << t;
            const SYSTEMTIME wall = utcToZoneWall(utc, zone);
            ASSERT_TRUE(systemTimeEqual(wall, gmtToLocal(utc, true, &tzi))) << t;
            // Wall-clock times away from the changes, where no reading of a
            // skipped or repeated hour applies.
            if (timeZoneBias(dateTimeToSystemTime(DateTime(t - 10800)), true, true, &tzi) == bias &&
                timeZoneBias(dateTimeToSystemTime(DateTime(t + 10800)), true, true, &tzi) == bias) {
                ASSERT_TRUE(systemTimeEqual(zoneWallToUtc(wall, zone), utc)) << t;
                ASSERT_EQ(wallSystemTimeInZone(wall, zone).value(), t) << t;
                ASSERT_EQ(wallSystemTimeWithTzi(wall, &tzi).value(), t) << t;
                ++checked;
            }
        }
        EXPECT_GT(checked, 1900);
    }
    // An all-zero record gives no zone; none at all the machine's zone.
    const SYSTEMTIME july = makeSystemTime(2024, 7, 1, 16, 0, 0, 0);
    const TIME_ZONE_INFORMATION zero{};
    const ZonePtr local(new XTimeZone(XTimeZone::local()));
    EXPECT_FALSE(utcSystemTimeWithTzi(july, &zero).getZone() || wallSystemTimeWithTzi(july, &zero).getZone());
    EXPECT_EQ(utcSystemTimeWithTzi(july, &zero).value(), 1719849600);
    EXPECT_EQ(utcSystemTimeWithTzi(july, nullptr).getZone()->getName(), local->getName());
    EXPECT_EQ(wallSystemTimeWithTzi(july, nullptr).value(), wallSystemTimeInZone(july, local).value());
}

class RegistryZones : public regtest::RegistryTest {};

TEST_F(RegistryZones, NamesOverAFixture) {
    ASSERT_EQ(load(regtest::readBytes(TIMEZONE_TEST_DATA "/data/time_zones.reg")), ERROR_SUCCESS);
    const std::string before = regtest::readBytes(file_);
    const auto entries = [](const auto& names) {
        std::vector<std::pair<std::string, std::wstring>> out;
        for (const auto& [tzi, name] : names) {
            out.emplace_back(blob(tzi), name);
        }
        return out;
    };
    // Left out: a zone without "Display", a text TZI, a 45-byte TZI and a
    // display name that is no string; the second zone of a record loses.
    const std::vector<std::pair<std::string, std::wstring>> display = {
        {blob(kEastern), L"(UTC-05:00) Eastern Time (US & Canada)"},
        {blob(kSydney), L"(UTC+10:00) Canberra, Melbourne, Sydney"}};
    EXPECT_EQ(entries(registryDisplayNames()), display);
    // Every zone with a standard name, by record, then in registry order.
    const std::vector<std::pair<std::string, std::wstring>> standard = {
        {blob(kLondon), L"GMT Standard Time"},
        {blob(kEastern), L"Eastern Standard Time"},
        {blob(kEastern), L"US Eastern Standard Time"},
        {blob(kSydney), L"AUS Eastern Standard Time"},
        {blob(kIndia), L"Word Name Time"}};
    EXPECT_EQ(entries(registryStandardNames()), standard);
    EXPECT_TRUE(readRegistryZones(L"NoSuchValue").empty());
    // The first caller in the process builds the cached map.
    EXPECT_EQ(displayNameOfTzi(kEastern), L"(UTC-05:00) Eastern Time (US & Canada)");
    EXPECT_EQ(displayNameOfTzi(kIndia), L"");

    // Enumeration ends at its first failure; a subkey that does not open is
    // passed over; no root key, no zones.
    winplat::inject::arm("RegEnumKeyExW", ERROR_INVALID_PARAMETER, 1, 2);
    EXPECT_EQ(entries(registryStandardNames()), (std::vector<std::pair<std::string, std::wstring>>{
                                                    {blob(kEastern), L"Eastern Standard Time"},
                                                    {blob(kSydney), L"AUS Eastern Standard Time"}}));
    winplat::inject::arm("RegOpenKeyExW", ERROR_ACCESS_DENIED, 1, 1);
    EXPECT_EQ(entries(registryDisplayNames()), std::vector(display.begin(), display.begin() + 1));
    winplat::inject::arm("RegOpenKeyExW", ERROR_ACCESS_DENIED, 1, 0);
    EXPECT_TRUE(registryDisplayNames().empty());
    EXPECT_EQ(regtest::readBytes(file_), before);
}
