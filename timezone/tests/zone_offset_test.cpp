// Zones made from the table rows: offset texts, fingerprints, the offset at
// an instant through the per-year cache against the general scan and the C
// library, general-case rules on local dates, southern zones, zone-bound
// expansion and placement across the changes.
#include <gtest/gtest.h>

#include <boost/make_shared.hpp>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <climits>
#include <cstdlib>
#include <random>
#include <thread>
#include <tuple>
#include <vector>

#include "ScopedTz.h"
#include "timezone/RecurrenceIterator.h"
#include "timezone/XTimeZone.h"
#include "timezone/ZoneOffsetCache.h"
#include "timezone/ZoneRegistry.h"

using namespace tavlo::timezone;

namespace {

int64_t utc(int y, int m, int d, int h = 0, int mi = 0, int s = 0) {
    CalendarFields f{s, mi, h, d, m - 1, y - 1900};
    return timeFromCalendar(f);
}

ZonePtr displayZone(const std::string& name) {
    const ZoneRegistry& registry = ZoneRegistry::instance();
    const int row = ZoneRegistry::findByName(registry.displayZones, name);
    EXPECT_GE(row, 0) << name;
    auto zone = boost::make_shared<XTimeZone>(XTimeZone::fromTableRow(row, registry.displayZones));
    EXPECT_EQ(zone->getName(), name);
    return zone;
}

// The same zone with a third observance that never yields a change, so that
// its offsets come from the general scan instead of the per-year cache.
ZonePtr scannedTwin(const ZonePtr& zone) {
    auto twin = boost::make_shared<XTimeZone>(*zone);
    ZoneObservance idle;
    idle.valid = 1;
    twin->addObservance(idle);
    return twin;
}

int64_t zoneOffset(int64_t t, const ZonePtr& zone) {
    DateTime v(t);
    v.attachZone(zone);
    return v.offset().count();
}

}  // namespace

TEST(OffsetText, FormatAndParseVectors) {
    const std::tuple<int64_t, const char*> formatted[] = {
        {-28800, "-0800"},
        {19800, "+0530"},
        {20730, "+054530"},
        {0, "+0000"},
        {90000, "+0100"},
        {-20730, "-054530"},
        {Duration::kUnknownSeconds, "+0000"},
    };
    for (const auto& [seconds, text] : formatted) {
        EXPECT_EQ(XTimeZone::formatOffset(Duration(seconds)), text) << seconds;
    }
    const std::tuple<const char*, int64_t> parsed[] = {
        {"+0530", 19800},
        {"+05:30", 19800},
        {"-5", -18000},
        {"-050000", -18000},
        {"0530", 19800},
        {"1234567", 123 * 3600 + 45 * 60 + 67},
        {"12345678", 123 * 3600 + 45 * 60 + 67},  // seven digits at most
        {"EDT", -14400},
        {"edt", -14400},
        {"EST5EDT", -18000},
        {"MEST", 7200},  // shadows the later "MeST"
        {"UTC", 0},
        {"Nowhere", Duration::kUnknownSeconds},
        {"+", Duration::kUnknownSeconds},
        {"+E", Duration::kUnknownSeconds},
        {"", Duration::kUnknownSeconds},
        {"\xC3\x89ST", Duration::kUnknownSeconds},  // bytes above 127 are no letters
        {"ES\xC3\x89", Duration::kUnknownSeconds},
        {"-05\xB7"
         "30",
         -18000},  // nor punctuation
    };
    for (const auto& [text, seconds] : parsed) {
        EXPECT_EQ(XTimeZone::parseOffset(text).count(), seconds) << text;
    }
}

TEST(Fingerprint, GoldensOrderAndNameIndependence) {
    const std::tuple<const char*, const char*> goldens[] = {
        {"Eastern Time (US & Canada)", "11c8848f306d2735b73a55ab510902c7"},
        {"Arizona", "27417aeb646ed9cef0f2376f320d6006"},
        {"(UTC) Universal Coordinated Time", "fdf300bf8f51a6742e8ec73ba8cca7cd"},
    };
    for (const auto& [name, golden] : goldens) {
        ZonePtr zone = displayZone(name);
        EXPECT_EQ(zone->storedFingerprint(), "");
        EXPECT_EQ(zone->fingerprint(), golden) << name;
        EXPECT_EQ(zone->storedFingerprint(), golden);
        // Another name and the observances in the other order: the same text.
        XTimeZone reversed;
        reversed.setName("Elsewhere");
        for (auto it = zone->observances().rbegin(); it != zone->observances().rend(); ++it) {
            reversed.addObservance(*it);
        }
        EXPECT_EQ(reversed.fingerprint(), golden);
        reversed.setName("Renamed");
        EXPECT_EQ(reversed.storedFingerprint(), golden);
        reversed.addObservance(zone->observances().front());
        EXPECT_EQ(reversed.storedFingerprint(), "");
        EXPECT_NE(reversed.fingerprint(), golden);
    }
    XTimeZone empty;
    EXPECT_EQ(empty.fingerprint(), "");
    std::vector<std::string> texts;
    XTimeZone::describeObservance(displayZone("Eastern Time (US & Canada)")->standard(), texts);
    EXPECT_EQ(texts, std::vector<std::string>(
                         {"STD:20071104T020000", "STD:-0500", "STD:FREQ=YEARLY;BYMONTH=11;BYDAY=1SU"}));
}

TEST(OffsetAt, TableVectorsNorthAndSouth) {
    struct Case {
        const char* zone;
        int64_t at;
        int64_t offset;
    };
    const Case cases[] = {
        {"Eastern Time (US & Canada)", utc(2011, 7, 1), -14400},
        {"Eastern Time (US & Canada)", utc(2011, 12, 1), -18000},
        {"Eastern Time (US & Canada)", utc(2011, 3, 13, 7), -14400},
        {"Eastern Time (US & Canada)", utc(2011, 3, 13, 7) - 1, -18000},
        {"Eastern Time (US & Canada)", utc(2011, 11, 6, 6), -18000},
        {"Eastern Time (US & Canada)", utc(2011, 11, 6, 6) - 1, -14400},
        // Southern zones: the window between the changes is standard time.
        {"Canberra, Melbourne, Sydney", utc(2011, 6, 1), 36000},
        {"Canberra, Melbourne, Sydney", utc(2011, 1, 1), 39600},
        {"Canberra, Melbourne, Sydney", utc(2011, 12, 1), 39600},
        {"Canberra, Melbourne, Sydney", utc(2011, 4, 2, 16), 36000},  // 03:00 daylight time
        {"Canberra, Melbourne, Sydney", utc(2011, 4, 2, 16) - 1, 39600},
        {"Canberra, Melbourne, Sydney", utc(2011, 10, 1, 16), 39600},  // 02:00 standard time
        {"Canberra, Melbourne, Sydney", utc(2011, 10, 1, 16) - 1, 36000},
        // Auckland's 03:00 change lies on the day before in UTC.
        {"Auckland, Wellington", utc(2024, 4, 6, 14), 43200},
        {"Auckland, Wellington", utc(2024, 4, 6, 14) - 1, 46800},
        {"Auckland, Wellington", utc(2024, 9, 28, 14), 46800},
        {"Chatham Is.", utc(2024, 4, 6, 14), 45900},
        {"Chatham Is.", utc(2024, 4, 6, 14) - 1, 49500},
        {"Santiago", utc(2011, 7, 1), -14400},
        {"Santiago", utc(2011, 1, 1), -10800},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(XTimeZone::offsetAt(c.at, displayZone(c.zone)).count(), c.offset) << c.zone << " " << c.at;
        EXPECT_EQ(zoneOffset(c.at, displayZone(c.zone)), c.offset) << c.zone << " " << c.at;
    }
    // Anything but two observances with rules has no cached answer.
    EXPECT_TRUE(XTimeZone::offsetAt(utc(2011, 7, 1), displayZone("Arizona")).isUnknown());
    EXPECT_TRUE(XTimeZone::offsetAt(utc(2011, 7, 1), ZonePtr()).isUnknown());
    // Expanded rules have no change before their start: unknown, and the
    // zone-bound value answers through the general scan instead.
    const ZonePtr tehran = displayZone("Tehran");
    const size_t entries = ZoneOffsetCache::instance().size();
    EXPECT_TRUE(XTimeZone::offsetAt(utc(2005, 1, 15), tehran).isUnknown());
    EXPECT_EQ(ZoneOffsetCache::instance().size(), entries);
    EXPECT_EQ(zoneOffset(utc(2005, 1, 15), tehran), 12600);
    EXPECT_EQ(zoneOffset(utc(2005, 7, 15), tehran), 16200);
}

TEST(ZoneRows, OutOfRangeRowsGiveTheEmptyZone) {
    const ZoneRegistry& registry = ZoneRegistry::instance();
    const int size = static_cast<int>(registry.displayZones.size());
    for (int index : {-1, size, size + 1, INT32_MIN}) {
        const XTimeZone zone = XTimeZone::fromTableRow(index, registry.displayZones);
        EXPECT_EQ(std::make_tuple(zone.isValid(), zone.getName(), zone.observances().size()),
                  std::make_tuple(false, std::string(), size_t{0}))
            << index;
    }
    const XTimeZone last = XTimeZone::fromTableRow(size - 1, registry.displayZones);
    EXPECT_EQ(last.getName(), registry.displayZones.back().name);
    // A row without daylight time: one observance from one second past 1970.
    const ZonePtr arizona = displayZone("Arizona");
    ASSERT_EQ(arizona->observances().size(), 1u);
    const ZoneObservance& o = arizona->observances().front();
    EXPECT_EQ(std::make_tuple(o.valid, o.kind, o.start.value(), o.offsetFrom.count(), o.offsetTo.count(),
                              o.rule.valid),
              std::make_tuple(1, int{StandardTime}, int64_t{1}, int64_t{-25200}, int64_t{-25200}, false));
    EXPECT_FALSE(arizona->daylight().valid);
}

// The rows whose rules name days of the month: every change from 2012 to
// 2037 falls on the rule's local date at the start's wall time, read at the
// offset before the change.
TEST(OffsetAt, MonthDayRulesChangeOnLocalDates) {
    struct Change {
        const char* zone;
        int month, day, hour, minute;
        int64_t from, to;
    };
    const Change changes[] = {
        {"Tehran", 3, 22, 0, 0, 12600, 16200},         {"Tehran", 9, 22, 0, 0, 16200, 12600},
        {"Jerusalem", 4, 1, 2, 0, 7200, 10800},        {"Jerusalem", 10, 2, 2, 0, 10800, 7200},
        {"Casablanca, Monrovia", 4, 3, 0, 0, 0, 3600}, {"Casablanca, Monrovia", 7, 31, 0, 0, 3600, 0},
    };
    for (const Change& c : changes) {
        const ZonePtr zone = displayZone(c.zone);
        const ZonePtr twin = scannedTwin(zone);
        for (int year = 2012; year <= 2037; ++year) {
            const int64_t at = utc(year, c.month, c.day, c.hour, c.minute) - c.from;
            for (auto [t, want] : {std::pair{at - 1, c.from}, std::pair{at, c.to}}) {
                EXPECT_EQ(XTimeZone::offsetAt(t, zone).count(), want) << c.zone << " " << year;
                EXPECT_EQ(zoneOffset(t, twin), want) << c.zone << " " << year << " (general scan)";
            }
        }
    }
    // The first example of the kind: 2011-03-22T00:00 +03:30.
    EXPECT_EQ(XTimeZone::offsetAt(utc(2011, 3, 21, 20, 30), displayZone("Tehran")).count(), 16200);
}

TEST(OffsetAt, AgreesWithTheGeneralScan) {
    std::mt19937_64 rng(6111);
    std::uniform_int_distribution<int64_t> instant(utc(1971, 1, 1), utc(2037, 12, 31));
    const ZoneRegistry& registry = ZoneRegistry::instance();
    int compared = 0;
    for (size_t row = 0; row < registry.displayZones.size(); ++row) {
        auto zone = boost::make_shared<XTimeZone>(
            XTimeZone::fromTableRow(static_cast<int>(row), registry.displayZones));
        if (zone->observances().size() != 2) {
            continue;
        }
        const ZonePtr twin = scannedTwin(zone);
        // The scan does not depend on the order of the observances.
        auto reversed = boost::make_shared<XTimeZone>();
        reversed->setName(zone->getName());
        for (auto it = twin->observances().rbegin(); it != twin->observances().rend(); ++it) {
            reversed->addObservance(*it);
        }
        for (int i = 0; i < 200; ++i) {
            const int64_t t = instant(rng);
            const int64_t cached = zoneOffset(t, zone);
            EXPECT_EQ(cached, zoneOffset(t, twin)) << zone->getName() << " at " << t;
            EXPECT_EQ(cached, zoneOffset(t, reversed)) << zone->getName() << " at " << t;
            ++compared;
        }
    }
    EXPECT_GT(compared, 30 * 200);
}

// Conversions ask about nearby instants in turn; the answer must not depend
// on what was asked just before. Every two-observance row, and a zone whose
// January change falls in the old UTC year, walked across each year end one
// step at a time and again with a call on another zone before every step.
TEST(OffsetAt, NearbyInstantsAnswerAsLoneOnes) {
    const ZoneRegistry& registry = ZoneRegistry::instance();
    std::vector<ZonePtr> zones;
    for (size_t row = 0; row < registry.displayZones.size(); ++row) {
        auto zone = boost::make_shared<XTimeZone>(
            XTimeZone::fromTableRow(static_cast<int>(row), registry.displayZones));
        if (zone->observances().size() == 2) {
            zones.push_back(zone);
        }
    }
    zones.push_back(boost::make_shared<XTimeZone>(XTimeZone::fromDefinition(
        ZoneDefinition("New Year change", "+1300", "+1400", "16010401T030000", "16010101T020000",
                       "FREQ=YEARLY;BYMONTH=4;BYDAY=1SU", "FREQ=YEARLY;BYMONTH=1;BYDAY=1SU", 0))));
    const ZonePtr other = displayZone("Canberra, Melbourne, Sydney");
    int differentYears = 0;
    for (const ZonePtr& zone : zones) {
        std::vector<int64_t> walked, alone;
        for (int year = 1972; year <= 2036; ++year) {
            const int64_t newYear = utc(year, 1, 1);
            for (int64_t t = newYear - 14 * 3600; t <= newYear + 14 * 3600; t += 3600) {
                for (int64_t u : {t - 1, t}) {
                    walked.push_back(XTimeZone::offsetAt(u, zone).count());
                }
            }
            for (int64_t t = newYear - 14 * 3600; t <= newYear + 14 * 3600; t += 3600) {
                for (int64_t u : {t - 1, t}) {
                    XTimeZone::offsetAt(utc(1990 + year % 3, 6, 1), other);
                    alone.push_back(XTimeZone::offsetAt(u, zone).count());
                }
            }
            differentYears += XTimeZone::offsetAt(newYear - 1, zone) != XTimeZone::offsetAt(newYear, zone);
        }
        ASSERT_EQ(walked, alone) << zone->getName();
    }
    // The January change lands in the walked hours in some years.
    EXPECT_GT(differentYears, 0);
}

namespace {

using Changes = std::vector<std::pair<int64_t, int64_t>>;  // instant, offset after

// Every change of a zone's observances before 2040, each rule expanded on
// its own wall clock, without the per-year cache or the closed form; and the
// first instant by which every observance has changed once.
Changes changesByExpansion(const XTimeZone& zone, int64_t* allStarted) {
    Changes changes;
    const int64_t end = utc(2040, 1, 1);
    *allStarted = INT64_MIN;
    for (const ZoneObservance& o : zone.observances()) {
        DateTime start = o.start;
        start.setFixedOffset(o.offsetFrom);
        RecurrenceIterator it(o.rule, start, true);
        *allStarted = std::max(*allStarted, it.current().value());
        for (int n = 0; n < 1000 && !it.current().isUnset() && it.current().value() < end;
             ++n, it.advance()) {
            changes.emplace_back(it.current().value(), o.offsetTo.count());
        }
    }
    std::sort(changes.begin(), changes.end());
    return changes;
}

// The offset after the latest change at or before t.
int64_t offsetByExpansion(const Changes& changes, int64_t t) {
    const auto after = std::upper_bound(changes.begin(), changes.end(), std::pair{t, INT64_MAX});
    return after == changes.begin() ? Duration::kUnknownSeconds : std::prev(after)->second;
}

// How many instants offsetAt answers otherwise than the expansion, with the
// first of them; the cache is cleared before each instant when cold.
std::pair<int, int64_t> disagreements(const ZonePtr& zone, const Changes& changes,
                                      const std::vector<int64_t>& times, bool cold) {
    std::pair<int, int64_t> found{0, 0};
    for (int64_t t : times) {
        if (cold) {
            ZoneOffsetCache::instance().clear();
        }
        if (XTimeZone::offsetAt(t, zone).count() != offsetByExpansion(changes, t) && found.first++ == 0) {
            found.second = t;
        }
    }
    return found;
}

// Each UTC new year from the second after the one in which every observance
// has changed to 2037, hour by hour across it, and each change of those
// years: a second before and at. (The closed form knows no start, and an
// expanded rule may not have changed yet in its first years.)
std::vector<int64_t> yearEndInstants(const Changes& changes, int64_t allStarted) {
    std::vector<int64_t> times;
    for (int year = calendarFromTime(allStarted).year + 1902; year <= 2037; ++year) {
        for (int64_t hour = -15; hour <= 15; ++hour) {
            times.push_back(utc(year, 1, 1) + hour * 3600 - 1);
            times.push_back(utc(year, 1, 1) + hour * 3600);
        }
        for (const auto& [at, offset] : changes) {
            if (at >= utc(year, 1, 1) && at < utc(year + 1, 1, 1)) {
                times.push_back(at - 1);
                times.push_back(at);
            }
        }
    }
    return times;
}

}  // namespace

// Zones whose changes fall in another UTC year than their local one: far
// east of UTC early in January, west of UTC late in December, closed-form
// and expanded rules alike. Each hand-worked change first, then every year
// end and change against the rules' own expansion, warm and from a cold
// cache.
TEST(OffsetAt, ChangesAcrossTheUtcYearEnd) {
    struct Case {
        ZoneDefinition row;
        int64_t change;  // one change that crosses, worked by hand
        int64_t before, after;
    };
    const Case cases[] = {
        // 2023-01-01 is a Sunday: 02:00 at +13 is 13:00 UTC the day before.
        {ZoneDefinition("Daylight from January", "+1300", "+1400", "20060402T030000", "20060101T020000",
                        "FREQ=YEARLY;BYMONTH=4;BYDAY=1SU", "FREQ=YEARLY;BYMONTH=1;BYDAY=1SU", 0),
         utc(2022, 12, 31, 13), 46800, 50400},
        {ZoneDefinition("Standard from January", "+1300", "+1400", "20060101T020000", "20050925T020000",
                        "FREQ=YEARLY;BYMONTH=1;BYDAY=1SU", "FREQ=YEARLY;BYMONTH=9;BYDAY=-1SU", 0),
         utc(2022, 12, 31, 12), 50400, 46800},
        {ZoneDefinition("Daylight from January, by month days", "+1300", "+1400", "20060402T030000",
                        "20060101T020000", "FREQ=YEARLY;BYMONTH=4;BYMONTHDAY=1,2,3,4,5,6,7;BYDAY=SU",
                        "FREQ=YEARLY;BYMONTH=1;BYMONTHDAY=1,2,3,4,5,6,7;BYDAY=SU", 0),
         utc(2022, 12, 31, 13), 46800, 50400},
        {ZoneDefinition("New Year's Day", "+0100", "+0200", "20060701T000000", "20060101T000000",
                        "FREQ=YEARLY;BYMONTH=7;BYMONTHDAY=1", "FREQ=YEARLY;BYMONTH=1;BYMONTHDAY=1", 0),
         utc(2022, 12, 31, 23), 3600, 7200},
        // 2023-12-31 is a Sunday: 23:00 at -4 is 03:00 UTC the day after.
        {ZoneDefinition("Standard from late December", "-0500", "-0400", "20061231T230000", "20070311T020000",
                        "FREQ=YEARLY;BYMONTH=12;BYDAY=-1SU", "FREQ=YEARLY;BYMONTH=3;BYDAY=2SU", 0),
         utc(2024, 1, 1, 3), -14400, -18000},
        {ZoneDefinition("New Year's Eve", "-1000", "-0900", "20060630T230000", "20051231T230000",
                        "FREQ=YEARLY;BYMONTH=6;BYMONTHDAY=30", "FREQ=YEARLY;BYMONTH=12;BYMONTHDAY=31", 0),
         utc(2024, 1, 1, 9), -36000, -32400},
    };
    ZoneOffsetCache& cache = ZoneOffsetCache::instance();
    for (const Case& c : cases) {
        const auto zone = boost::make_shared<XTimeZone>(XTimeZone::fromDefinition(c.row));
        const std::string& name = c.row.name;
        cache.clear();
        EXPECT_EQ(XTimeZone::offsetAt(c.change - 1, zone).count(), c.before) << name;
        EXPECT_EQ(XTimeZone::offsetAt(c.change, zone).count(), c.after) << name;
        // The year of the instant holds the answer; the year next to it is
        // only looked at.
        EXPECT_EQ(cache.size(), 1u) << name;
        int64_t allStarted;
        const Changes changes = changesByExpansion(*zone, &allStarted);
        ASSERT_GT(changes.size(), 60u) << name;
        EXPECT_NE(std::find(changes.begin(), changes.end(), std::pair{c.change, c.after}), changes.end())
            << name;
        // Changes read on the wall clock before them (the other offset of
        // the two) in another year than in UTC.
        int crossing = 0;
        for (const auto& [at, offset] : changes) {
            crossing += calendarFromTime(at).year != calendarFromTime(at + c.before + c.after - offset).year;
        }
        EXPECT_GE(crossing, 4) << name;
        const std::vector<int64_t> times = yearEndInstants(changes, allStarted);
        for (bool cold : {false, true}) {
            const auto [count, first] = disagreements(zone, changes, times, cold);
            EXPECT_EQ(count, 0) << name << ", first at " << first << (cold ? " (cold)" : "");
        }
    }
    // The table rows answer across each year end as their rules do.
    const ZoneRegistry& registry = ZoneRegistry::instance();
    int compared = 0;
    for (const auto* table : {&registry.displayZones, &registry.tzZones}) {
        for (const ZoneDefinition& row : *table) {
            const auto zone = boost::make_shared<XTimeZone>(XTimeZone::fromDefinition(row));
            if (zone->observances().size() != 2) {
                continue;
            }
            int64_t allStarted;
            const Changes changes = changesByExpansion(*zone, &allStarted);
            ASSERT_FALSE(changes.empty()) << row.name;
            const std::vector<int64_t> times = yearEndInstants(changes, allStarted);
            const auto [count, first] = disagreements(zone, changes, times, false);
            EXPECT_EQ(count, 0) << row.name << ", first at " << first;
            compared += static_cast<int>(times.size());
        }
    }
    EXPECT_GT(compared, 100000);
}

TEST(OffsetCache, FifoEvictionAndColdWarmAgreement) {
    ZoneOffsetCache& cache = ZoneOffsetCache::instance();
    cache.clear();
    const ZonePtr zone = displayZone("Eastern Time (US & Canada)");
    const std::string fingerprint = zone->fingerprint();
    for (int year = 1700; year < 1700 + 512; ++year) {
        XTimeZone::offsetAt(utc(year, 6, 1), zone);
    }
    EXPECT_EQ(cache.size(), 512u);
    EXPECT_TRUE(cache.contains(offsetCacheKey(1700, fingerprint)));
    // A hit does not refresh the key: the oldest still goes first.
    XTimeZone::offsetAt(utc(1700, 1, 1), zone);
    XTimeZone::offsetAt(utc(2300, 6, 1), zone);
    EXPECT_EQ(cache.size(), 512u);
    EXPECT_FALSE(cache.contains(offsetCacheKey(1700, fingerprint)));
    EXPECT_TRUE(cache.contains(offsetCacheKey(1701, fingerprint)));
    EXPECT_TRUE(cache.contains(offsetCacheKey(2300, fingerprint)));
    EXPECT_EQ(offsetCacheKey(987, "ab"), "0987ab");

    // A zone of another name but the same rules shares the entries.
    auto renamed = boost::make_shared<XTimeZone>(*zone);
    renamed->setName("Same rules");
    const uint64_t misses = cache.misses();
    XTimeZone::offsetAt(utc(1800, 7, 1), renamed);
    EXPECT_EQ(cache.misses(), misses);

    std::mt19937_64 rng(513);
    std::uniform_int_distribution<int64_t> instant(utc(1970, 1, 1), utc(2037, 12, 31));
    std::vector<int64_t> times(2000);
    for (int64_t& t : times) {
        t = instant(rng);
    }
    const ZonePtr sydney = displayZone("Canberra, Melbourne, Sydney");
    std::vector<int64_t> cold, warm;
    for (int64_t t : times) {
        cache.clear();
        cold.push_back(XTimeZone::offsetAt(t, sydney).count());
    }
    for (int64_t t : times) {
        warm.push_back(XTimeZone::offsetAt(t, sydney).count());
    }
    EXPECT_EQ(cold, warm);
}

TEST(OffsetCache, EightThreadsOnOneSharedZone) {
    ZoneOffsetCache::instance().clear();
    const ZonePtr expectedZone = displayZone("Eastern Time (US & Canada)");
    std::vector<int64_t> times(4000), expected;
    std::mt19937_64 rng(8);
    std::uniform_int_distribution<int64_t> instant(utc(1970, 1, 1), utc(2037, 12, 31));
    for (int64_t& t : times) {
        t = instant(rng);
        expected.push_back(zoneOffset(t, scannedTwin(expectedZone)));
    }
    // A fresh zone: the threads race to fill its fingerprint.
    const ZonePtr shared = displayZone("Eastern Time (US & Canada)");
    std::atomic<int> mismatches{0}, finished{0};
    std::vector<std::thread> threads;
    for (int k = 0; k < 8; ++k) {
        threads.emplace_back([&, k] {
            for (size_t i = static_cast<size_t>(k); i < times.size() * 2; i += 3) {
                const size_t j = i % times.size();
                if (zoneOffset(times[j], shared) != expected[j]) {
                    ++mismatches;
                }
            }
            ++finished;
        });
    }
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(90);
    while (finished.load() < 8) {
        if (std::chrono::steady_clock::now() > deadline) {
            ADD_FAILURE() << "threads did not finish";
            std::abort();
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    for (std::thread& t : threads) {
        t.join();
    }
    EXPECT_EQ(mismatches.load(), 0);
}

TEST(ZoneBoundExpansion, DailyAcrossTheSpringChange) {
    const ZonePtr eastern = displayZone("Eastern Time (US & Canada)");
    DateTime start(utc(2024, 3, 8, 2, 30));
    start.setZone(eastern);
    RecurrenceRule rule;
    rule.parse("FREQ=DAILY;COUNT=5");
    DateTime changeDay = start;
    changeDay.setField(FieldMonthDay, 10, 1);
    const int64_t expected[] = {utc(2024, 3, 8, 7, 30), utc(2024, 3, 9, 7, 30), changeDay.value(),
                                utc(2024, 3, 11, 6, 30), utc(2024, 3, 12, 6, 30)};
    EXPECT_EQ(changeDay.value(), utc(2024, 3, 10, 7, 30));  // 03:30 daylight time: the skipped hour's answer
    RecurrenceIterator it(rule, start, true);
    for (int64_t want : expected) {
        EXPECT_EQ(it.current().value(), want);
        it.advance();
    }
    EXPECT_TRUE(it.current().isUnset());
}

class GapsAndOverlaps : public ::testing::TestWithParam<std::tuple<const char*, const char*>> {};

TEST_P(GapsAndOverlaps, EveryQuarterHourOfEachChangeDay) {
    const auto [tz, row] = GetParam();
    ScopedTz pin(tz);
    const ZoneRegistry& registry = ZoneRegistry::instance();
    int index = ZoneRegistry::findByName(registry.displayZones, row);
    XTimeZone found = XTimeZone::fromTableRow(index, registry.displayZones);
    if (found.getName() != row) {
        found = XTimeZone::findInTzZones(row);
    }
    ASSERT_EQ(found.getName(), row);
    const ZonePtr zone = boost::make_shared<XTimeZone>(found);
    int unique = 0, other = 0;
    sweepTransitionWalls(2020, 2030, [&](int64_t wall, int64_t expected, bool isUnique) {
        (isUnique ? unique : other)++;
        DateTime placed(wall);
        placed.setZone(zone);
        const DateTime parsed = DateTime::parse(DateTime(wall).format(FormatNoZ | FormatNoOffset), zone);
        EXPECT_EQ(placed.value(), expected) << row << " wall " << DateTime(wall).format(0);
        EXPECT_EQ(parsed.value(), expected) << row << " wall " << DateTime(wall).format(0);
        if (isUnique) {
            EXPECT_EQ(placed.value() + placed.offset().count(), wall);
            EXPECT_EQ(placed.offset().count(), glibcOffset(placed.value()));
        }
    });
    EXPECT_GT(unique, 0);
    EXPECT_GT(other, 0);
}

INSTANTIATE_TEST_SUITE_P(
    Zones, GapsAndOverlaps,
    ::testing::Values(
        std::make_tuple("America/New_York", "Eastern Time (US & Canada)"),
        std::make_tuple("America/St_Johns", "America/St_Johns"),
        std::make_tuple("Europe/Paris",
                        "Amsterdam, Belgrade, Berlin, Brussels, Budapest, Madrid, Paris, Prague, Stockholm"),
        std::make_tuple("Europe/London", "Dublin, Edinburgh, Lisbon, London"),
        std::make_tuple("Australia/Sydney", "Canberra, Melbourne, Sydney"),
        std::make_tuple("Pacific/Auckland", "Auckland, Wellington"),
        std::make_tuple("Pacific/Chatham", "Chatham Is.")));
