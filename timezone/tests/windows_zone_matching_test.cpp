// Zones and Windows records in both directions over every display row, the
// machine's zone matched by its record under several TZ values, and the
// record-based conversions against the zone-based ones.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include "BackendWrappers/tests/Watchdog.h"
#include "ScopedTz.h"
#include "timezone/DateTimeFunctions.h"
#include "timezone/WindowsZones.h"
#include "timezone/ZoneRegistry.h"

using namespace tavlo::timezone;

namespace {

ZonePtr displayZone(int index) {
    return ZonePtr(new XTimeZone(XTimeZone::fromTableRow(index, ZoneRegistry::instance().displayZones)));
}

int displayIndex(const std::string& name) {
    const auto& rows = ZoneRegistry::instance().displayZones;
    for (size_t i = 0; i < rows.size(); ++i) {
        if (rows[i].name == name) {
            return static_cast<int>(i);
        }
    }
    return -1;
}

SYSTEMTIME yearlyRule(int month, int weekday, int occurrence, int hour, int minute = 0) {
    SYSTEMTIME r{};
    r.wMonth = static_cast<WORD>(month);
    r.wDayOfWeek = static_cast<WORD>(weekday);
    r.wDay = static_cast<WORD>(occurrence);
    r.wHour = static_cast<WORD>(hour);
    r.wMinute = static_cast<WORD>(minute);
    return r;
}

TIME_ZONE_INFORMATION record(LONG bias, LONG daylightBias, SYSTEMTIME standard, SYSTEMTIME daylight) {
    TIME_ZONE_INFORMATION z{};
    z.Bias = bias;
    z.DaylightBias = daylightBias;
    z.StandardDate = standard;
    z.DaylightDate = daylight;
    return z;
}

// What a zone says about time: both offsets, and each season's rule and the
// time of day it changes at.
std::tuple<int64_t, int64_t, std::string, std::string, int, int> rulesOf(const XTimeZone& z) {
    const ZoneObservance s = z.standard();
    const ZoneObservance d = z.daylight();
    if (d.valid == 0) {
        return {s.offsetTo.seconds(), 0, "", "", 0, 0};
    }
    return {s.offsetTo.seconds(),
            d.offsetTo.seconds(),
            s.rule.format(),
            d.rule.format(),
            s.start.field(FieldHour, 1) * 60 + s.start.field(FieldMinute, 1),
            d.start.field(FieldHour, 1) * 60 + d.start.field(FieldMinute, 1)};
}

// The rows whose rules name a fixed day of the month, with the records that
// older versions stored for them (the day of the month in wDay).
struct MonthDayRow {
    const char* name;
    TIME_ZONE_INFORMATION stored;
};
const MonthDayRow kMonthDayRows[] = {
    {"Jerusalem", record(-120, -60, yearlyRule(10, 0, 2, 2), yearlyRule(4, 0, 1, 2))},
    {"Casablanca, Monrovia", record(0, -60, yearlyRule(7, 0, 31, 0), yearlyRule(4, 0, 3, 0))},
    {"Tehran", record(-210, -60, yearlyRule(9, 0, 22, 0), yearlyRule(3, 0, 22, 0))},
};

bool isMonthDayRow(const std::string& name) {
    for (const MonthDayRow& row : kMonthDayRows) {
        if (name == row.name) {
            return true;
        }
    }
    return false;
}

}  // namespace

TEST(ZoneFromRecord, EveryDisplayRowComesBack) {
    ASSERT_EQ(ZoneRegistry::instance().displayZones.size(), 86u);
    for (int i = 0; i < 86; ++i) {
        const ZonePtr zone = displayZone(i);
        SCOPED_TRACE(zone->getName());
        TIME_ZONE_INFORMATION tzi;
        ASSERT_TRUE(zoneToTzi(*zone, &tzi));
        ZonePtr back;
        const bool found = zoneFromTzi(back, &tzi);
        if (isMonthDayRow(zone->getName())) {
            // No record dates: a row of the standard time alone, when there is
            // one (none is at +0330).
            EXPECT_EQ(tzi.StandardDate.wMonth, 0);
            EXPECT_EQ(tzi.DaylightDate.wMonth, 0);
            const bool tehran = zone->getName() == "Tehran";
            EXPECT_EQ(found, !tehran);
            if (!tehran) {
                EXPECT_EQ(rulesOf(*back),
                          std::make_tuple(zone->standard().offsetTo.seconds(), 0, "", "", 0, 0));
            }
            continue;
        }
        ASSERT_TRUE(found);
        EXPECT_EQ(rulesOf(*back), rulesOf(*zone));
    }
}

TEST(ZoneFromRecord, StoredMonthDayRecordsStillMatch) {
    for (const MonthDayRow& row : kMonthDayRows) {
        SCOPED_TRACE(row.name);
        const ZonePtr zone = displayZone(displayIndex(row.name));
        ZonePtr back;
        ASSERT_TRUE(zoneFromTzi(back, &row.stored));
        EXPECT_EQ(back->getName(), row.name);
        EXPECT_EQ(rulesOf(*back), rulesOf(*zone));
        // Such a record read as occurrences names other days, so the zone's
        // own record carries none and keeps its standard bias all year.
        TIME_ZONE_INFORMATION own;
        ASSERT_TRUE(zoneToTzi(*zone, &own));
        EXPECT_EQ(timeZoneBias(makeSystemTime(2024, 7, 1, 12, 0, 0, 0), true, false, &own), own.Bias);
    }
}

TEST(ZoneFromRecord, GreenlandAndNoMatch) {
    XTimeZone named;
    named.setName("GREENLAND");
    TIME_ZONE_INFORMATION tzi;
    ASSERT_TRUE(zoneToTzi(named, &tzi));
    EXPECT_TRUE(tziEqual(tzi, greenlandTzi()));
    named.setName("Greenland (Pituffik)");
    EXPECT_FALSE(zoneToTzi(named, &tzi));  // no standard time
    EXPECT_TRUE(isTziEmpty(&tzi));

    TIME_ZONE_INFORMATION withNames = greenlandTzi();
    withNames.StandardName[0] = L'W';
    ZonePtr zone;
    ASSERT_TRUE(zoneFromTzi(zone, &withNames));
    EXPECT_EQ(zone->getName(), "Greenland");

    // Without a match the machine's zone is answered.
    const std::string machine = XTimeZone::local().getName();
    EXPECT_FALSE(zoneFromTzi(zone, nullptr));
    EXPECT_EQ(zone->getName(), machine);
    const TIME_ZONE_INFORMATION odd = record(17, -60, yearlyRule(2, 3, 1, 4), yearlyRule(8, 3, 1, 4));
    EXPECT_FALSE(zoneFromTzi(zone, &odd));
    EXPECT_EQ(zone->getName(), machine);
}

TEST(ZoneFromRecord, ZoneOfADateTime) {
    ScopedTz tz("America/New_York");
    EXPECT_FALSE(zoneOfDateTime(DateTime()));

    struct Case {
        int offsetMinutes;
        const char* name;
    };
    for (const Case& c : {Case{-300, "GMT - 5"}, Case{330, "GMT + 5"}, Case{-570, "GMT - 9"}}) {
        const Duration offset(c.offsetMinutes * 60);
        const ZonePtr zone = zoneOfDateTime(DateTime(1, 6, 2024, 12, 0, 0, offset));
        ASSERT_TRUE(zone);
        EXPECT_EQ(zone->getName(), c.name);
        ASSERT_EQ(zone->observances().size(), 1u);
        const ZoneObservance& o = zone->observances()[0];
        EXPECT_EQ(std::make_tuple(o.valid, o.kind, o.offsetFrom, o.offsetTo, o.rule.valid),
                  std::make_tuple(1, 1, offset, offset, false));
        EXPECT_EQ(o.start.format(FormatNoZ | FormatNoOffset), "19700101T000001");
    }
    EXPECT_EQ(zoneOfDateTime(DateTime(int64_t{1700000000}))->getName(), "Eastern Time (US & Canada)");
    const ZonePtr own = displayZone(70);
    DateTime bound(int64_t{1700000000});
    bound.attachZone(own);
    EXPECT_EQ(zoneOfDateTime(bound), own);
    DateTime floating(int64_t{1700000000});
    floating.makeFloating();
    EXPECT_EQ(zoneOfDateTime(floating)->getName(), XTimeZone::local().getName());
}

TEST(ZoneFromRecord, AdoptOnlyInPlaceOfUtc) {
    const ZonePtr eastern = displayZone(17);
    const ZonePtr gmt = displayZone(85);
    ZonePtr target;
    adoptZoneIfUtc(target, eastern);
    EXPECT_EQ(target, eastern);
    adoptZoneIfUtc(target, gmt);
    EXPECT_EQ(target, eastern);
    target = gmt;
    adoptZoneIfUtc(target, eastern);
    EXPECT_EQ(target, eastern);
}

TEST(MachineZone, FollowsTheMachineRecord) {
    struct Case {
        const char* tz;
        std::string name;
        bool matched;
    };
    const std::string local = XTimeZone::local().getName();
    const Case cases[] = {
        {"America/New_York", "Eastern Time (US & Canada)", true},
        {"Europe/London", "Dublin, Edinburgh, Lisbon, London", true},
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
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.tz);
        ScopedTz tz(c.tz);
        bool matched = !c.matched;
        EXPECT_EQ(machineZone(&matched, nullptr).getName(), c.name);
        EXPECT_EQ(matched, c.matched);
        // compareTo asks whether the machine's record is that one.
        const TIME_ZONE_INFORMATION now = currentTzi();
        TIME_ZONE_INFORMATION other = now;
        other.Bias += 60;
        EXPECT_EQ(machineZone(&matched, &now).getName(), c.name);
        EXPECT_TRUE(matched);
        machineZone(&matched, &other);
        EXPECT_FALSE(matched);
        // The display rows come first in the full list too.
        EXPECT_EQ(machineZoneFromTzi()->getName(), c.name);
    }
}

TEST(MachineZone, ManyThreadsInLockOrder) {
    ScopedTz tz("Europe/London");
    Watchdog watchdog(60);
    std::vector<std::thread> threads;
    std::vector<int> wrong(6, 0);
    for (int i = 0; i < 6; ++i) {
        threads.emplace_back([i, &wrong] {
            for (int n = 0; n < 40; ++n) {
                bool matched = false;
                const XTimeZone zone = machineZone(&matched, nullptr);
                ZonePtr fromRecord = machineZoneFromTzi();
                const Duration offset = XTimeZone::offsetAt(1720000000 + n * 86400, fromRecord);
                wrong[i] += !matched || zone.getName() != "Dublin, Edinburgh, Lisbon, London" ||
                            XTimeZone::local().getName().empty() || offset != Duration(3600);
            }
        });
    }
    for (std::thread& t : threads) {
        t.join();
    }
    EXPECT_EQ(wrong, std::vector<int>(6, 0));
}

TEST(RecordConversions, AgainstTheZonesOfEveryDisplayRow) {
    // Half a minute past: never exactly at a change.
    const int64_t first = 1704067200 + 30;  // 2024-01-01T00:00:30Z
    const int64_t step = 13 * 3600 + 17 * 60;
    for (int i = 0; i < 86; ++i) {
        const ZonePtr zone = displayZone(i);
        // Those records do not carry the row's rules.
        if (zone->getName() == "Greenland" || isMonthDayRow(zone->getName())) {
            continue;
        }
        SCOPED_TRACE(zone->getName());
        TIME_ZONE_INFORMATION tzi;
        ASSERT_TRUE(zoneToTzi(*zone, &tzi));
        int checked = 0;
        for (int64_t t = first; t < first + 3 * 366 * 86400LL; t += step) {
            const SYSTEMTIME utc = dateTimeToSystemTime(DateTime(t));
            const int bias = timeZoneBias(utc, true, true, &tzi);
            ASSERT_EQ(utcSystemTimeInZone(utc, zone).offset(), Duration(-60LL * bias)) << t;
            if (zone->daylight().valid != 0) {
                ASSERT_EQ(XTimeZone::offsetAt(t, zone), Duration(-60LL * bias)) << t;
            }
            const SYSTEMTIME wall = utcToZoneWall(utc, zone);
            ASSERT_TRUE(systemTimeEqual(wall, gmtToLocal(utc, true, &tzi))) << t;
            ASSERT_EQ(utcSystemTimeWithTzi(utc, &tzi).offset(), Duration(-60LL * bias)) << t;
            // Wall-clock times away from the changes, which no reading of a
            // skipped or repeated hour touches.
            const SYSTEMTIME before = dateTimeToSystemTime(DateTime(t - 3 * 3600));
            const SYSTEMTIME after = dateTimeToSystemTime(DateTime(t + 3 * 3600));
            if (timeZoneBias(before, true, true, &tzi) == bias &&
                timeZoneBias(after, true, true, &tzi) == bias) {
                ASSERT_TRUE(systemTimeEqual(zoneWallToUtc(wall, zone), utc)) << t;
                ASSERT_EQ(wallSystemTimeInZone(wall, zone).value(), t) << t;
                ASSERT_EQ(wallSystemTimeWithTzi(wall, &tzi).value(), t) << t;
                ++checked;
            }
        }
        EXPECT_GT(checked, 1900);
    }
}

TEST(RecordConversions, EmptyAndMachineRecords) {
    ScopedTz tz("America/New_York");
    const SYSTEMTIME july = makeSystemTime(2024, 7, 1, 16, 0, 0, 0);
    const TIME_ZONE_INFORMATION zero{};
    const DateTime plain = utcSystemTimeWithTzi(july, &zero);
    EXPECT_FALSE(plain.getZone());
    EXPECT_EQ(plain.offset(), Duration(0));
    EXPECT_EQ(wallSystemTimeWithTzi(july, &zero).value(), plain.value());
    // No record: the machine's zone as found once for the process.
    const DateTime machine = utcSystemTimeWithTzi(july, nullptr);
    ASSERT_TRUE(machine.getZone());
    EXPECT_EQ(machine.getZone()->getName(), XTimeZone::local().getName());
    const ZonePtr local(new XTimeZone(XTimeZone::local()));
    EXPECT_EQ(machine.offset(), utcSystemTimeInZone(july, local).offset());
    EXPECT_EQ(machine.value(), plain.value());
    EXPECT_EQ(wallSystemTimeWithTzi(july, nullptr).value(), wallSystemTimeInZone(july, local).value());
}
