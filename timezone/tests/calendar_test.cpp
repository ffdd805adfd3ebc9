// The calendar arithmetic, durations and the value rules of DateTime,
// checked against <chrono> and brute-force counts.
#include <gtest/gtest.h>

#include <chrono>
#include <climits>
#include <random>
#include <tuple>

#include "timezone/DateTime.h"

using namespace tavlo::timezone;
namespace chr = std::chrono;

namespace {

constexpr int64_t kFirst = -11644473600LL;
constexpr int64_t kLast = 884541340800LL;

// The <chrono> civil date of an instant.
chr::year_month_day civilOf(int64_t t) {
    return chr::year_month_day(chr::floor<chr::days>(chr::sys_seconds(chr::seconds(t))));
}

int64_t instantOf(int y, int m, int d, int64_t secondOfDay = 0) {
    return chr::sys_days(chr::year(y) / m / d).time_since_epoch().count() * 86400LL + secondOfDay;
}

void expectFieldsOf(int64_t t, const CalendarFields& f) {
    const auto ymd = civilOf(t);
    const auto days = chr::floor<chr::days>(chr::sys_seconds(chr::seconds(t)));
    const int64_t sod = t - days.time_since_epoch().count() * 86400LL;
    const auto jan1 = chr::sys_days(ymd.year() / 1 / 1);
    ASSERT_EQ(f.year + 1900, static_cast<int>(ymd.year())) << t;
    ASSERT_EQ(f.month + 1, static_cast<int>(static_cast<unsigned>(ymd.month()))) << t;
    ASSERT_EQ(f.day, static_cast<int>(static_cast<unsigned>(ymd.day()))) << t;
    ASSERT_EQ(f.weekday, static_cast<int>(chr::weekday(days).c_encoding())) << t;
    ASSERT_EQ(f.yearDay, (days - jan1).count()) << t;
    ASSERT_EQ(f.hour * 3600 + f.minute * 60 + f.second, sod) << t;
    ASSERT_EQ(f.daylight, -1);
}

// ISO 8601 week number, from <chrono>.
int isoWeek(chr::sys_days d) {
    const chr::weekday wd(d);
    const int isoWd = wd.iso_encoding();
    const chr::sys_days thursday = d + chr::days(4 - isoWd);
    const chr::year_month_day ty(thursday);
    return static_cast<int>((thursday - chr::sys_days(ty.year() / 1 / 1)).count() / 7 + 1);
}

// Week number by counting: weeks start on w0 (0 Sunday); week 1 is the first
// with at least four days in the year.
int bruteWeek(chr::sys_days d, int w0) {
    auto firstWeekStart = [&](chr::year y) {
        chr::sys_days jan1 = chr::sys_days(y / 1 / 1);
        const int e = (static_cast<int>(chr::weekday(jan1).c_encoding()) - w0 + 7) % 7;
        return e < 4 ? jan1 - chr::days(e) : jan1 + chr::days(7 - e);
    };
    const chr::year y = chr::year_month_day(d).year();
    chr::sys_days start = firstWeekStart(y + chr::years(1));
    if (d >= start) {
        return 1;
    }
    start = firstWeekStart(y);
    if (d < start) {
        start = firstWeekStart(y - chr::years(1));
    }
    return static_cast<int>((d - start).count() / 7 + 1);
}

}  // namespace

TEST(Calendar, RandomInstantsMatchChrono) {
    std::mt19937_64 rng(20240105);
    std::uniform_int_distribution<int64_t> dist(kFirst, kLast);
    for (int i = 0; i < 1000000; ++i) {
        const int64_t t = dist(rng);
        CalendarFields f = calendarFromTime(t);
        ASSERT_NO_FATAL_FAILURE(expectFieldsOf(t, f));
        f.weekday = f.yearDay = 99;
        ASSERT_EQ(timeFromCalendar(f), t);
        ASSERT_NO_FATAL_FAILURE(expectFieldsOf(t, f));
    }
}

TEST(Calendar, EveryBoundaryOfMonthAndYear) {
    for (int y = 1601; y < 30000; y += (y < 2500 ? 1 : 97)) {
        for (int m = 1; m <= 12; ++m) {
            const int64_t first = instantOf(y, m, 1);
            for (int64_t t : {first - 1, first, first + 86399, first + 86400}) {
                if (t < kFirst) {
                    continue;
                }
                CalendarFields f = calendarFromTime(t);
                ASSERT_NO_FATAL_FAILURE(expectFieldsOf(t, f));
                ASSERT_EQ(timeFromCalendar(f), t);
            }
        }
    }
}

TEST(Calendar, ClampsAtBothEnds) {
    for (int64_t t : {kFirst, kFirst - 1, INT64_MIN, INT64_MIN + 1}) {
        const CalendarFields f = calendarFromTime(t);
        EXPECT_EQ(std::tie(f.year, f.month, f.day, f.hour, f.weekday, f.yearDay),
                  std::make_tuple(1601 - 1900, 0, 1, 0, 1, 0));
    }
    for (int64_t t : {kLast, kLast + 1, INT64_MAX}) {
        const CalendarFields f = calendarFromTime(t);
        EXPECT_EQ(std::tie(f.year, f.month, f.day, f.hour, f.minute, f.second),
                  std::make_tuple(30000 - 1900, 0, 1, 0, 0, 0));
    }
    // Years are clamped to 1600-30000 before the count.
    CalendarFields early{0, 0, 0, 1, 2, 1000 - 1900};
    CalendarFields y1600{0, 0, 0, 1, 2, 1600 - 1900};
    EXPECT_EQ(timeFromCalendar(early), timeFromCalendar(y1600));
    CalendarFields late{0, 0, 0, 1, 0, INT_MAX};
    EXPECT_EQ(timeFromCalendar(late), kLast);
}

TEST(Calendar, OutOfRangeFieldsCarry) {
    struct Case {
        int year, month0, day, hour, minute, second;
    };
    const Case cases[] = {
        {2023, -1, 15, 0, 0, 0},  {2023, 12, 15, 0, 0, 0}, {2023, -13, 1, 0, 0, 0},
        {2024, 1, 0, 0, 0, 0},    {2024, 0, 32, 0, 0, 0},  {2024, 1, 30, 0, 0, 0},
        {2023, 1, 29, 0, 0, 0},   {2024, 5, 10, 25, 0, 0}, {2024, 5, 10, -1, 0, 0},
        {2024, 5, 10, 0, -61, 0}, {2024, 5, 10, 0, 0, -1}, {2024, 11, 31, 23, 59, 60},
        {2000, 24, 366, 0, 0, 0}, {2100, 1, 29, 0, 0, 0},
    };
    for (const Case& c : cases) {
        const chr::year_month ym = chr::year(c.year) / 1 + chr::months(c.month0);
        const int64_t expected =
            (chr::sys_days(ym / 1) + chr::days(c.day - 1)).time_since_epoch().count() * 86400LL +
            c.hour * 3600LL + c.minute * 60LL + c.second;
        CalendarFields f{c.second, c.minute, c.hour, c.day, c.month0, c.year - 1900};
        EXPECT_EQ(timeFromCalendar(f), expected) << c.year << "/" << c.month0 << "/" << c.day;
        EXPECT_NO_FATAL_FAILURE(expectFieldsOf(expected, f));
    }
}

TEST(Calendar, LeapYears) {
    for (int y = 1600; y <= 3000; ++y) {
        ASSERT_EQ(isLeapYear(y - 1900), chr::year(y).is_leap()) << y;
    }
}

TEST(Calendar, DaysBeforeEveryYear) {
    for (int y = 1; y <= 30000; ++y) {
        ASSERT_EQ(calendar::daysBeforeYear(y), chr::sys_days(chr::year(y) / 1 / 1).time_since_epoch().count())
            << y;
    }
}

TEST(Calendar, WeekNumbers) {
    for (chr::sys_days d = chr::sys_days(chr::year(1900) / 1 / 1);
         d <= chr::sys_days(chr::year(2100) / 12 / 31); d += chr::days(1)) {
        const DateTime t(d.time_since_epoch().count() * 86400LL + 43200);
        ASSERT_EQ(t.weekNumber(1), isoWeek(d)) << d.time_since_epoch().count();
        if (d.time_since_epoch().count() % 5 == 0) {
            for (int ws : {2, 3, 4, 5, 6, 7}) {
                ASSERT_EQ(t.weekNumber(ws), bruteWeek(d, ws % 7))
                    << d.time_since_epoch().count() << " " << ws;
            }
        }
    }
    EXPECT_EQ(DateTime(instantOf(2021, 1, 3)).weekNumber(1), 53);
    EXPECT_EQ(DateTime(instantOf(2020, 12, 31)).weekNumber(1), 53);
    EXPECT_EQ(DateTime(instantOf(2024, 12, 30)).weekNumber(1), 1);
    // At the calendar's lower end there is no earlier year to belong to.
    for (int ws = 1; ws <= 7; ++ws) {
        EXPECT_EQ(DateTime(kFirst).weekNumber(ws), 1) << ws;
    }
}

// The week count of a year is the week number of its last week, whatever day
// 31 December falls on.
TEST(Calendar, WeeksPerYear) {
    for (int y = 1990; y <= 2100; ++y) {
        for (int ws = 1; ws <= 7; ++ws) {
            const chr::sys_days dec28 = chr::sys_days(chr::year(y) / 12 / 28);
            const DateTime t(instantOf(y, 6, 1));
            ASSERT_EQ(t.unitsPer(Weekly, ws, FieldYear), bruteWeek(dec28, ws % 7)) << y << " " << ws;
            ASSERT_GE(t.unitsPer(Weekly, ws, FieldYear), 52);
        }
    }
}

TEST(Calendar, UnitsPerTable) {
    const DateTime t2023(instantOf(2023, 2, 10)), t2024(instantOf(2024, 2, 10));
    struct Case {
        int frequency, field, in2023, in2024;
    };
    const Case cases[] = {
        {Secondly, FieldHour, 3600, 3600},
        {Daily, FieldYear, 365, 366},
        {Yearly, FieldYear, 1, 1},
        {Monthly, FieldYear, 12, 12},
        {Hourly, FieldYear, 8760, 8784},
        {Yearly, FieldMonth, 0, 0},
        {Weekly, FieldMonth, 4, 4},
        {Daily, FieldMonth, 28, 29},
        {Minutely, FieldMonth, 40320, 41760},
        {Weekly, FieldWeekNumber, 1, 1},
        {Secondly, FieldWeekNumber, 604800, 604800},
        {Daily, FieldWeekday, 1, 1},
        {Hourly, FieldMonthDay, 24, 24},
        {Weekly, FieldYearDay, 0, 0},
        {Minutely, 42, 1440, 1440},
        {Minutely, FieldMinute, 1, 1},
        {Secondly, FieldSecond, 1, 1},
        {Hourly, FieldSecond, 0, 0},
        {7, FieldYear, 0, 0},
        {-1, FieldYear, 0, 0},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(t2023.unitsPer(c.frequency, 1, c.field), c.in2023) << c.frequency << " " << c.field;
        EXPECT_EQ(t2024.unitsPer(c.frequency, 1, c.field), c.in2024) << c.frequency << " " << c.field;
    }
}

TEST(Calendar, FieldMaps) {
    const int frequency[] = {0, 1, 2, 3, 3, 3, 4, 5, 6, 0};
    const int coarser[] = {0, 0, 0, 0, 1, 2, 4, 6, 7, 0};
    const int finer[] = {1, 4, 5, 6, 6, 6, 7, 8, 8, 8};
    for (int i = 0; i <= 9; ++i) {
        EXPECT_EQ(frequencyOfField(i), frequency[i]) << i;
        EXPECT_EQ(coarserField(i, 1), coarser[i]) << i;
        EXPECT_EQ(finerField(i, 1), finer[i]) << i;
        EXPECT_EQ(coarserField(i, 0), i);
        EXPECT_EQ(coarserField(i, -1), finer[i]) << i;
        EXPECT_EQ(finerField(i, 2), finer[finer[i] > 9 ? 9 : finer[i]]) << i;
    }
    EXPECT_EQ(coarserField(8, 3), 4);
    EXPECT_EQ(coarserField(8, INT_MAX), 0);
    EXPECT_EQ(finerField(0, INT_MIN), 0);
}

TEST(Durations, PartsAndReaders) {
    EXPECT_EQ(Duration::fromParts(1, 2, 3, 4, false).count(), 93784);
    EXPECT_EQ(Duration::fromParts(1, 2, 3, 4, true).count(), -93784);
    EXPECT_TRUE(Duration::fromParts(INT64_MAX / 24, 0, 0, 0, false).isUnknown());
    EXPECT_TRUE(Duration::fromParts(0, 0, 0, INT64_MIN, false).isUnknown());
    struct Case {
        int64_t seconds;
        int hours, minutes;
        bool negative;
    };
    const Case cases[] = {{19800, 5, 30, false},  {-5400, 1, 30, true}, {90000, 1, 0, false},
                          {-86399, 23, 59, true}, {59, 0, 0, false},    {0, 0, 0, false}};
    for (const Case& c : cases) {
        const Duration d(c.seconds);
        EXPECT_EQ(std::make_tuple(d.hours(), d.minutes(), d.isNegative(), d.seconds()),
                  std::make_tuple(c.hours, c.minutes, c.negative, c.seconds));
    }
    const Duration u = kUnknownDuration;
    EXPECT_EQ(std::make_tuple(u.hours(), u.minutes(), u.isNegative(), u.seconds(), u.isUnknown()),
              std::make_tuple(0, 0, false, int64_t{0}, true));
    EXPECT_EQ((Duration(10) - Duration(3)).count(), 7);
    EXPECT_TRUE((u - Duration(3)).isUnknown());
    EXPECT_TRUE((Duration(3) - u).isUnknown());
    EXPECT_TRUE((Duration(INT64_MAX) - Duration(-1)).isUnknown());
    EXPECT_TRUE((Duration(-2) - Duration(INT64_MAX)).isUnknown());
}

namespace {

void expectSame(const DateTime& a, const DateTime& b) {
    EXPECT_EQ(
        std::make_tuple(a.value(), a.isDateOnly(), a.offsetMinutes(), a.kind(), a.reserved(), a.getZone()),
        std::make_tuple(b.value(), b.isDateOnly(), b.offsetMinutes(), b.kind(), b.reserved(), b.getZone()));
}

DateTime marker() {
    return DateTime(DateTime::kMarkerValue);
}

}  // namespace

TEST(DateTimeValues, ConstructionAndUnset) {
    const DateTime unset;
    EXPECT_EQ(std::make_tuple(unset.value(), unset.isDateOnly(), unset.offsetMinutes(), unset.kind(),
                              unset.reserved()),
              std::make_tuple(INT64_MIN, false, INT32_MAX, Floating, -1));
    expectSame(unsetDateTime(), unset);
    expectSame(DateTime::fromTime(-1), unset);
    expectSame(DateTime::fromTime(INT64_MIN + 5), unset);
    EXPECT_EQ(DateTime::fromTime(0).format(FormatExtended), "1970-01-01T00:00:00Z");
    const DateTime y = DateTime::fromYear(2024);
    EXPECT_TRUE(y.isDateOnly());
    EXPECT_EQ(y.value(), instantOf(2024, 1, 1));
    const DateTime f(5, 1, 2024, 10, 15, 0, Duration(19800));
    EXPECT_EQ(std::make_tuple(f.value(), f.kind(), f.offsetMinutes()),
              std::make_tuple(instantOf(2024, 1, 5, 36900) - 19800, FixedOffset, 330));
    const DateTime floating(5, 1, 2024, 10, 15, 0, kUnknownDuration);
    EXPECT_EQ(std::make_tuple(floating.value(), floating.kind(), floating.offsetMinutes()),
              std::make_tuple(instantOf(2024, 1, 5, 36900), Floating, INT32_MAX));
    // An offset that pushes the instant out of range gives no date.
    EXPECT_TRUE(DateTime(1, 1, 2024, 0, 0, 0, Duration(INT64_MIN + 1)).isUnset());
    // Between two readings of the clock it reads, however long the call takes.
    const time_t before = time(nullptr);
    const int64_t now = DateTime::now().value();
    const time_t after = time(nullptr);
    EXPECT_GE(now, before);
    EXPECT_LE(now, after);
}

// The unset value and the marker answer alike and never change.
TEST(DateTimeValues, NoDateValuesStayPut) {
    for (const DateTime& none : {DateTime(), marker()}) {
        EXPECT_TRUE(none.offset().isUnknown());
        EXPECT_EQ(none.format(0), "");
        EXPECT_TRUE(none.difference(DateTime(0)).isUnknown());
        EXPECT_TRUE(DateTime(0).difference(none).isUnknown());
        DateTime t = none;
        t.add(Duration(3600)).subtract(Duration(60)).setField(FieldHour, 5, 1).setFixedOffset(Duration(3600));
        t.makeFloating();
        expectSame(t, none);
        expectSame(none.startOfDay(), none);
        expectSame(none.datePart(), none);
        expectSame(none + Duration(1), none);
    }
    EXPECT_TRUE(marker().isMarker());
    EXPECT_FALSE(marker().isUnset());
}

TEST(DateTimeValues, ArithmeticNeverOverflows) {
    const int64_t base = instantOf(2024, 1, 5);
    DateTime t(base);
    t.setDateOnly(true);
    t.add(Duration(86400));
    EXPECT_TRUE(t.isDateOnly());
    EXPECT_EQ(t.value(), base + 86400);
    t.add(Duration(3600));
    EXPECT_FALSE(t.isDateOnly());
    t.add(kUnknownDuration).subtract(kUnknownDuration);
    EXPECT_EQ(t.value(), base + 90000);
    struct Edge {
        int64_t value, added, subtracted;
    };
    const Edge edges[] = {{INT64_MAX - 5, 10, -10}, {INT64_MIN + 5, -10, 10}, {-5, INT64_MIN + 1, INT64_MAX}};
    for (const Edge& e : edges) {
        DateTime edge(e.value);
        edge.add(Duration(e.added)).subtract(Duration(e.subtracted));
        EXPECT_EQ(edge.value(), e.value);
        EXPECT_TRUE(edge.difference(DateTime(e.value > 0 ? -e.value : INT64_MAX)).isUnknown());
    }
    // Neither no-date value is produced by arithmetic.
    DateTime nearUnset(INT64_MIN + 1);
    nearUnset.subtract(Duration(1));
    EXPECT_EQ(nearUnset.value(), INT64_MIN + 1);
    DateTime nearMarker(DateTime::kMarkerValue - 1);
    nearMarker.add(Duration(1));
    EXPECT_EQ(nearMarker.value(), DateTime::kMarkerValue - 1);
    DateTime fixed(INT64_MAX - 10);
    fixed.setFixedOffset(Duration(-3600));
    EXPECT_EQ(std::make_tuple(fixed.value(), fixed.offsetMinutes()), std::make_tuple(INT64_MAX - 10, 0));
    DateTime extreme(instantOf(2024, 1, 1));
    extreme.setField(FieldMonthDay, INT_MAX, 1).setField(FieldWeekNumber, INT_MIN, 7);
    extreme.setField(FieldHour, INT_MIN, 1).setField(FieldMonth, INT_MIN, 1);
    EXPECT_FALSE(extreme.isUnset());
}

TEST(DateTimeValues, SetField) {
    struct Case {
        int y, m, d, index, v, weekStart;
        int ey, em, ed;
    };
    const Case cases[] = {
        {2023, 1, 31, FieldMonth, 2, 1, 2023, 2, 28},
        {2024, 1, 31, FieldMonth, 2, 1, 2024, 2, 29},
        {2024, 1, 31, FieldMonth, 13, 1, 2025, 1, 31},
        {2024, 3, 31, FieldMonth, 0, 1, 2023, 12, 31},
        {2024, 5, 10, FieldYear, 2030, 1, 2030, 5, 10},
        {2024, 2, 29, FieldYear, 2023, 1, 2023, 3, 1},
        {2024, 5, 10, FieldYearDay, 60, 1, 2024, 2, 29},
        {2024, 5, 10, FieldMonthDay, 32, 1, 2024, 6, 1},
        // 2024-05-10 is a Friday: week 19 (Monday weeks); the Friday of week 1 is 2024-01-05.
        {2024, 5, 10, FieldWeekNumber, 1, 1, 2024, 1, 5},
        {2024, 5, 10, FieldWeekNumber, 20, 1, 2024, 5, 17},
    };
    for (const Case& c : cases) {
        DateTime t(instantOf(c.y, c.m, c.d, 3600));
        t.setField(c.index, c.v, c.weekStart);
        EXPECT_EQ(t.value(), instantOf(c.ey, c.em, c.ed, 3600))
            << c.y << "-" << c.m << "-" << c.d << " " << c.index;
    }
    // A weekday lands inside the week that starts on weekStart, for every start.
    for (int weekStart = 1; weekStart <= 7; ++weekStart) {
        for (int day = 1; day <= 7; ++day) {
            for (int v = 1; v <= 7; ++v) {
                DateTime t(instantOf(2024, 5, 5 + day, 60));
                const chr::sys_days from = chr::sys_days(chr::year(2024) / 5 / (5 + day));
                t.setField(FieldWeekday, v, weekStart);
                const chr::sys_days got(
                    chr::days(chr::floor<chr::days>(chr::sys_seconds(chr::seconds(t.value())))
                                  .time_since_epoch()
                                  .count()));
                const int offsetInWeek = (chr::weekday(from).c_encoding() - weekStart % 7 + 7) % 7;
                const chr::sys_days weekBegin = from - chr::days(offsetInWeek);
                ASSERT_GE(got, weekBegin) << weekStart << " " << day << " " << v;
                ASSERT_LT(got, weekBegin + chr::days(7));
                ASSERT_EQ(chr::weekday(got).c_encoding(), static_cast<unsigned>(v % 7));
            }
        }
    }
    DateTime dated(instantOf(2024, 5, 10));
    dated.setDateOnly(true);
    dated.setField(FieldMonthDay, 11, 1);
    EXPECT_TRUE(dated.isDateOnly());
    dated.setField(FieldMinute, 30, 1);
    EXPECT_FALSE(dated.isDateOnly());
}

TEST(DateTimeValues, FieldsOfWallClock) {
    const DateTime t(5, 1, 2024, 10, 15, 7, Duration(-5400));
    const int expected[] = {2024, 1, 1, 4, 5, 5, 10, 15, 7, 2024};
    for (int i = 0; i <= 9; ++i) {
        EXPECT_EQ(t.field(i, 1), expected[i]) << i;
    }
    EXPECT_EQ(DateTime(instantOf(2024, 1, 7)).field(FieldWeekday, 1), 7);
}

TEST(DateTimeValues, StartOfDayAndDatePart) {
    const DateTime t(5, 1, 2024, 10, 15, 7, Duration(19800));
    const DateTime s = t.startOfDay();
    EXPECT_EQ(std::make_tuple(s.value(), s.kind(), s.offsetMinutes(), s.isDateOnly()),
              std::make_tuple(instantOf(2024, 1, 5) - 19800, FixedOffset, 330, false));
    const DateTime d = t.datePart();
    EXPECT_EQ(std::make_tuple(d.value(), d.kind(), d.offsetMinutes(), d.isDateOnly()),
              std::make_tuple(instantOf(2024, 1, 5), FixedOffset, 0, true));
    expectSame(d.datePart(), d);
}
