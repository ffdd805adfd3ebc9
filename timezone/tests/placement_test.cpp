// Wall-clock placement of Floating values and the machine offset, against
// the C library under pinned zones.
#include <gtest/gtest.h>

#include <compare>
#include <ctime>
#include <random>
#include <set>
#include <tuple>

#include "ScopedTz.h"
#include "timezone/DateTime.h"

using namespace tavlo::timezone;

namespace {

int64_t wallSecondsOf(int y, int m, int d, int h = 0, int mi = 0) {
    CalendarFields f{0, mi, h, d, m - 1, y - 1900};
    return timeFromCalendar(f);
}

struct PlacementCount {
    int unique = 0, skippedOrRepeated = 0;
};

PlacementCount sweepTransitionDays(int firstYear, int lastYear) {
    PlacementCount count;
    sweepTransitionWalls(firstYear, lastYear, [&](int64_t wall, int64_t expected, bool unique) {
        (unique ? count.unique : count.skippedOrRepeated)++;
        DateTime floating(wall);
        floating.makeFloating();
        DateTime viaOffset(wall);
        viaOffset.setFixedOffset(kUnknownDuration);
        EXPECT_EQ(floating.value(), expected) << "wall " << wall;
        EXPECT_EQ(viaOffset.value(), expected) << "wall " << wall;
        EXPECT_EQ(floating.kind(), Floating);
        if (unique) {
            // The wall clock reads back unchanged.
            EXPECT_EQ(floating.value() + floating.offset().count(), wall);
        }
    });
    return count;
}

}  // namespace

class Placement : public ::testing::TestWithParam<const char*> {};

TEST_P(Placement, TransitionDaysAgainstTheCLibrary) {
    ScopedTz tz(GetParam());
    const PlacementCount count = sweepTransitionDays(2020, 2030);
    EXPECT_GT(count.unique, 5000);
    EXPECT_EQ(count.skippedOrRepeated, 11 * 2 * 4);  // one skipped and one repeated hour a year
}

INSTANTIATE_TEST_SUITE_P(Zones, Placement,
                         ::testing::Values("America/New_York", "Europe/Paris", "Australia/Sydney"));

TEST(PlacementPinned, SpringForwardWestOfUtc) {
    ScopedTz tz("America/New_York");
    struct Case {
        int h, mi;
        int64_t utcHour;
    };
    // 02:00-02:59 does not exist; the hours after it are EDT (UTC-4).
    const Case cases[] = {{1, 59, 6}, {3, 0, 7}, {3, 30, 7}, {6, 59, 10}, {7, 0, 11}};
    for (const Case& c : cases) {
        DateTime t(wallSecondsOf(2024, 3, 10, c.h, c.mi));
        t.makeFloating();
        EXPECT_EQ(t.value(), wallSecondsOf(2024, 3, 10, static_cast<int>(c.utcHour), c.mi))
            << c.h << ":" << c.mi;
    }
    // Skipped: the rule's answer, 02:30 read as EST.
    DateTime gap(wallSecondsOf(2024, 3, 10, 2, 30));
    gap.makeFloating();
    EXPECT_EQ(gap.value(), wallSecondsOf(2024, 3, 10, 7, 30));
    // Repeated: the first (daylight) reading.
    DateTime overlap(wallSecondsOf(2024, 11, 3, 1, 30));
    overlap.makeFloating();
    EXPECT_EQ(overlap.value(), wallSecondsOf(2024, 11, 3, 5, 30));
}

TEST(PlacementPinned, StartOfDayKeepsTheWallClock) {
    ScopedTz tz("Australia/Sydney");
    DateTime t(wallSecondsOf(2024, 10, 6, 12));
    t.makeFloating();
    const DateTime s = t.startOfDay();
    EXPECT_EQ(s.value(), wallSecondsOf(2024, 10, 6) - 10 * 3600);
    EXPECT_EQ(s.value() + s.offset().count(), wallSecondsOf(2024, 10, 6));
    EXPECT_EQ(s.kind(), Floating);
}

TEST(MachineOffset, AcrossTheDateLine) {
    std::mt19937_64 rng(7);
    std::uniform_int_distribution<int64_t> dist(86401, 32535215999LL);
    for (const char* zone : {"Pacific/Kiritimati", "Pacific/Pago_Pago", "America/New_York", "Asia/Kolkata"}) {
        ScopedTz tz(zone);
        for (int i = 0; i < 20000; ++i) {
            const int64_t t = dist(rng);
            const long expected = glibcOffset(t) / 60 * 60;
            ASSERT_EQ(DateTime::machineOffset(t, true).count(), expected) << zone << " " << t;
            const int64_t wall = t + glibcOffset(t);
            // Away from a change, the wall clock names this instant alone.
            if (wall >= 86401 && wall <= 32535215999LL && glibcOffset(t - 86400) == glibcOffset(t + 86400)) {
                ASSERT_EQ(DateTime::machineOffset(wall, false).count(), expected) << zone << " " << wall;
            }
        }
    }
}

// The offset is the difference of the broken-down wall clocks in whole
// minutes, with a day either way; offsets with seconds (Monrovia until 1972)
// make it depend on the second of the minute.
TEST(MachineOffset, IsTheDifferenceOfTheBrokenDownClocks) {
    auto reference = [](int64_t t) {
        const time_t tt = static_cast<time_t>(t);
        struct tm gm, local;
        gmtime_r(&tt, &gm);
        localtime_r(&tt, &local);
        int minutes = (local.tm_hour - gm.tm_hour) * 60 + local.tm_min - gm.tm_min;
        const auto order =
            std::make_tuple(local.tm_year, local.tm_yday) <=> std::make_tuple(gm.tm_year, gm.tm_yday);
        minutes += order < 0 ? -1440 : order > 0 ? 1440 : 0;
        return minutes * 60LL;
    };
    std::mt19937_64 rng(1972);
    std::uniform_int_distribution<int64_t> early(86401, 94694400);  // to 1973
    std::uniform_int_distribution<int64_t> any(86401, 32535215999LL);
    for (const char* zone :
         {"Africa/Monrovia", "America/St_Johns", "Pacific/Kiritimati", "Pacific/Pago_Pago"}) {
        ScopedTz tz(zone);
        for (int i = 0; i < 20000; ++i) {
            const int64_t t = i % 2 == 0 ? early(rng) : any(rng);
            ASSERT_EQ(DateTime::machineOffset(t, true).count(), reference(t)) << zone << " " << t;
        }
    }
    // The limits of the range are read as given.
    ScopedTz tz("Africa/Monrovia");
    EXPECT_EQ(DateTime::machineOffset(86401, true).count(), reference(86401));
    EXPECT_EQ(DateTime::machineOffset(86401, true).count(), -45 * 60);
}

TEST(MachineOffset, OutsideTheRangeAnswersThePresent) {
    ScopedTz tz("America/New_York");
    for (int64_t t : {int64_t{86400}, int64_t{0}, int64_t{-5}, int64_t{32535216000LL}, int64_t{INT64_MAX}}) {
        for (bool utc : {true, false}) {
            // A change of season may fall between the readings: either side will do.
            const long before = glibcOffset(time(nullptr));
            const int64_t offset = DateTime::machineOffset(t, utc).count();
            const long after = glibcOffset(time(nullptr));
            EXPECT_TRUE(offset == before || offset == after) << t << ": " << offset;
        }
    }
    // The first and last instants of the range are read as given.
    EXPECT_EQ(DateTime::machineOffset(86401, true).count(), -5 * 3600);
    EXPECT_EQ(DateTime::machineOffset(32535215999LL, true).count(), -5 * 3600);
}

TEST(MachineOffset, FloatingValuesReadTheMachineZone) {
    ScopedTz tz("Europe/Paris");
    const DateTime t = DateTime::parse("20240701T120000", ZonePtr());
    EXPECT_EQ(std::make_tuple(t.value(), t.kind(), t.offsetMinutes()),
              std::make_tuple(wallSecondsOf(2024, 7, 1, 10), Floating, INT32_MAX));
    EXPECT_EQ(t.offset().count(), 7200);
    EXPECT_EQ(t.format(FormatExtended), "2024-07-01T12:00:00");
    EXPECT_EQ(t.field(FieldHour, 1), 12);
    const DateTime d = DateTime::parse("20240105", ZonePtr());
    EXPECT_EQ(std::make_tuple(d.value(), d.isDateOnly()),
              std::make_tuple(wallSecondsOf(2024, 1, 4, 23), true));
}
