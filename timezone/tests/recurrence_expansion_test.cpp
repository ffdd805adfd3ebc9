// The recurrence expansion: the edge cases of the walk, the kept departures
// from RFC 5545, the bounds of the walk, and the crossing of empty periods
// against the plain period-by-period walk.
#include <gtest/gtest.h>

#include <memory>
#include <random>
#include <string>
#include <tuple>
#include <vector>

#include "ScopedTz.h"
#include "timezone/RecurrenceIterator.h"

using namespace tavlo::timezone;

namespace {

using Clocks = std::vector<std::string>;

// "20240131" or "20240131T093000" at offset 0.
DateTime at(const std::string& text) {
    return DateTime::parse(text.size() == 8 ? text + "T000000Z" : text + "Z", nullptr);
}

std::string clock(const DateTime& d) {
    const std::string s = d.format(FormatNoZ | FormatNoOffset);
    return s.size() == 15 && s.compare(8, 7, "T000000") == 0 ? s.substr(0, 8) : s;
}

// Up to limit occurrences, then "END" when the walk ended before that.
Clocks walk(const RecurrenceRule& rule, const DateTime& start, size_t limit, bool skipping = true,
            bool includeStart = true) {
    Clocks out;
    RecurrenceIterator it(rule, start, includeStart);
    it.setSkipping(skipping);
    const RecurrenceIterator end;
    for (; !it.equals(end) && out.size() < limit; it.advance()) {
        out.push_back(clock(it.current()));
    }
    if (it.equals(end)) {
        out.push_back("END");
    }
    return out;
}

Clocks walk(const std::string& text, const std::string& start, size_t limit) {
    RecurrenceRule rule;
    rule.parse(text);
    return walk(rule, at(start), limit);
}

std::string range(int from, int to) {
    std::string s;
    for (int i = from; i <= to; ++i) {
        s += (i > from ? "," : "") + std::to_string(i);
    }
    return s;
}

struct Case {
    const char* rule;
    const char* start;
    size_t limit;
    Clocks expected;
};

void check(const Case& c) {
    EXPECT_EQ(walk(c.rule, c.start, c.limit), c.expected) << c.rule << " from " << c.start;
}

}  // namespace

TEST(RecurrenceExpansion, EdgeCases) {
    const Case cases[] = {
        {"FREQ=MONTHLY", "20240131", 5, {"20240131", "20240331", "20240531", "20240731", "20240831"}},
        {"FREQ=YEARLY;BYMONTH=3;BYDAY=-1SU", "20240301", 4, {"20240301", "20240331", "20250330", "20260329"}},
        {"FREQ=YEARLY;BYMONTH=2;BYMONTHDAY=29", "20240229", 2, {"20240229", "20280229"}},
        {"FREQ=YEARLY;BYMONTH=2;BYMONTHDAY=30", "20240210", 5, {"20240210", "END"}},
        {"FREQ=YEARLY;BYYEARDAY=1,-1", "20240101", 4, {"20240101", "20241231", "20250101", "20251231"}},
        {"FREQ=DAILY;COUNT=3", "20240101", 9, {"20240101", "20240102", "20240103", "END"}},
        {"FREQ=DAILY;COUNT=1", "20240101", 9, {"20240101", "END"}},
        {"FREQ=DAILY;COUNT=0", "20240101", 9, {"20240101", "END"}},
        {"FREQ=DAILY;UNTIL=20240103T000000Z", "20240101", 9, {"20240101", "20240102", "20240103", "END"}},
        {"FREQ=DAILY;UNTIL=20231231T000000Z", "20240101", 9, {"20240101", "END"}},
        {"FREQ=DAILY;INTERVAL=1025", "20240101", 9, {"20240101", "END"}},
        {"FREQ=DAILY;INTERVAL=0", "20240101", 9, {"20240101", "END"}},
        {"FREQ=DAILY;INTERVAL=1024;COUNT=2", "20240101", 9, {"20240101", "20261021", "END"}},
        {"FREQ=WEEKLY;BYDAY=MO,WE", "20240103", 4, {"20240103", "20240108", "20240110", "20240115"}},
        {"FREQ=DAILY;BYHOUR=23",
         "20240101T230000",
         3,
         {"20240101T230000", "20240102T230000", "20240103T230000"}},
        {"FREQ=DAILY;BYHOUR=24", "20240101T230000", 3, {"20240101T230000", "END"}},
        {"FREQ=DAILY;BYHOUR=-1", "20240101T230000", 3, {"20240101T230000", "END"}},
        {"FREQ=YEARLY;BYMONTH=2;BYMONTHDAY=30", "20240210", 3, {"20240210", "END"}},
        {"FREQ=MONTHLY;BYMONTHDAY=31;COUNT=3", "20240131", 9, {"20240131", "20240331", "20240531", "END"}},
        {"FREQ=MONTHLY;BYDAY=-1FR;BYSETPOS=-1", "20240126", 3, {"20240126", "20240223", "20240329"}},
        // An invalid rule, and one whose walk has nothing, deliver the start.
        {"FREQ=WEEKLY;BYSETPOS=1", "20240101", 3, {"20240101", "END"}},
        {"FREQ=YEARLY;BYMONTHDAY=1", "20240115", 3, {"20240115", "20240201", "20240301"}},
        {"FREQ=YEARLY;BYMONTH=1;BYDAY=SU,MO,TU,WE,TH,FR,SA;COUNT=33",
         "20240101",
         40,
         {"20240101", "20240102", "20240103", "20240104", "20240105", "20240106", "20240107",
          "20240108", "20240109", "20240110", "20240111", "20240112", "20240113", "20240114",
          "20240115", "20240116", "20240117", "20240118", "20240119", "20240120", "20240121",
          "20240122", "20240123", "20240124", "20240125", "20240126", "20240127", "20240128",
          "20240129", "20240130", "20240131", "20250101", "20250102", "END"}},
    };
    for (const Case& c : cases) {
        check(c);
    }
    // Steps that never reach the named hour: the plain walk gives up after
    // eight years, the skipping one sooner, with the same answer.
    RecurrenceRule never;
    never.parse("FREQ=HOURLY;INTERVAL=2;BYHOUR=1,3");
    const DateTime even(1, 1, 2024, 4, 0, 0, Duration(0));
    EXPECT_EQ(walk(never, even, 5, true), (Clocks{"20240101T040000", "END"}));
    EXPECT_EQ(walk(never, even, 5, false), (Clocks{"20240101T040000", "END"}));
    never.parse("FREQ=SECONDLY;INTERVAL=2;BYSECOND=1");
    EXPECT_EQ(walk(never, even, 5, true), (Clocks{"20240101T040000", "END"}));
}

// Where the walk departs from RFC 5545 on purpose; each line pins one.
TEST(RecurrenceExpansion, KeptDepartures) {
    const Case cases[] = {
        // The start comes first; when the rule does not produce it, on top of
        // what COUNT allowed the first period.
        {"FREQ=MONTHLY;BYMONTHDAY=15;COUNT=1", "20240110", 9, {"20240110", "20240115", "END"}},
        {"FREQ=MONTHLY;BYMONTHDAY=15;COUNT=3", "20240110", 9, {"20240110", "20240115", "20240215", "END"}},
        {"FREQ=DAILY;COUNT=0", "20240110", 9, {"20240110", "END"}},
        // Expanded duplicates are kept and counted; a limit matches once.
        {"FREQ=MONTHLY;BYMONTHDAY=1,1;COUNT=4",
         "20240101",
         9,
         {"20240101", "20240101", "20240201", "20240201", "END"}},
        {"FREQ=DAILY;BYMONTHDAY=1,1;COUNT=3", "20240101", 9, {"20240101", "20240201", "20240301", "END"}},
        // A time list expanded from the day visits every hour.
        {"FREQ=DAILY;BYMINUTE=30",
         "20240101T000000",
         4,
         {"20240101", "20240101T003000", "20240101T013000", "20240101T023000"}},
        // A time list that would expand from the year ends the walk.
        {"FREQ=YEARLY;BYHOUR=5", "20240101T050000", 9, {"20240101T050000", "END"}},
        {"FREQ=DAILY;BYSECOND=5", "20240101T000005", 9, {"20240101T000005", "END"}},
        // An hour list from the week expands on the element's own day.
        {"FREQ=WEEKLY;BYHOUR=9,17",
         "20240101T090000",
         4,
         {"20240101T090000", "20240101T170000", "20240108T090000", "20240108T170000"}},
        // BYWEEKNO limits a MONTHLY rule.
        {"FREQ=MONTHLY;BYWEEKNO=20", "20240515", 3, {"20240515", "20250507", "20260506"}},
        // The eight-year search limit: a gap of eight years is found, a longer
        // one ends the walk.
        {"FREQ=YEARLY;BYMONTH=2;BYMONTHDAY=29", "20960229", 2, {"20960229", "21040229"}},
        {"FREQ=YEARLY;BYMONTH=2;BYMONTHDAY=29;BYDAY=MO", "20160229", 3, {"20160229", "END"}},
        // UNTIL is an instant; its written offset is dropped.
        {"FREQ=DAILY;UNTIL=20240103T090000+0200",
         "20240101T090000",
         9,
         {"20240101T090000", "20240102T090000", "20240103T090000", "END"}},
        // X-UNTIL plays no part in the walk.
        {"FREQ=DAILY;X-UNTIL=20240102T000000Z;COUNT=3",
         "20240101",
         9,
         {"20240101", "20240102", "20240103", "END"}},
        // An unknown FREQ stops the reading: COUNT is never read.
        {"FREQ=DAILY;FREQ=NONE;COUNT=2", "20240101", 3, {"20240101", "20240102", "20240103"}},
        // An unknown WKST counts as Sunday (RFC 5545's WKST=SU answer).
        {"FREQ=WEEKLY;INTERVAL=2;COUNT=4;BYDAY=TU,SU;WKST=XX",
         "19970805T090000",
         9,
         {"19970805T090000", "19970817T090000", "19970819T090000", "19970831T090000", "END"}},
    };
    for (const Case& c : cases) {
        check(c);
    }
    // Steps that never reach the named hour: the plain walk gives up after
    // eight years, the skipping one sooner, with the same answer.
    RecurrenceRule never;
    never.parse("FREQ=HOURLY;INTERVAL=2;BYHOUR=1,3");
    const DateTime even(1, 1, 2024, 4, 0, 0, Duration(0));
    EXPECT_EQ(walk(never, even, 5, true), (Clocks{"20240101T040000", "END"}));
    EXPECT_EQ(walk(never, even, 5, false), (Clocks{"20240101T040000", "END"}));
    never.parse("FREQ=SECONDLY;INTERVAL=2;BYSECOND=1");
    EXPECT_EQ(walk(never, even, 5, true), (Clocks{"20240101T040000", "END"}));
}

TEST(RecurrenceExpansion, MendedFaults) {
    const Case cases[] = {
        // Days of the year in a neighbouring year's week.
        {"FREQ=YEARLY;BYDAY=MO", "20241223", 3, {"20241223", "20241230", "20250106"}},
        {"FREQ=YEARLY;BYDAY=FR", "20261225", 3, {"20261225", "20270101", "20270108"}},
        // Years whose 31 December lies early in its week have weeks.
        {"FREQ=YEARLY;BYDAY=MO;COUNT=3", "20240101", 9, {"20240101", "20240108", "20240115", "END"}},
        {"FREQ=YEARLY;BYDAY=MO;COUNT=2", "20250106", 9, {"20250106", "20250113", "END"}},
        {"FREQ=YEARLY;BYWEEKNO=-1;BYDAY=MO;COUNT=2", "20231225", 9, {"20231225", "20241223", "END"}},
        // Weekdays before a week start after Monday stay in their week.
        {"FREQ=WEEKLY;INTERVAL=2;BYDAY=MO,TU;WKST=WE",
         "20240103",
         5,
         {"20240103", "20240108", "20240109", "20240122", "20240123"}},
        // A week that straddles two months keeps the days BYMONTH names.
        {"FREQ=WEEKLY;BYMONTH=3;BYDAY=MO,FR", "20120330", 3, {"20120330", "20130301", "20130304"}},
        {"FREQ=WEEKLY;BYMONTH=12;BYDAY=MO,SU", "20131229", 3, {"20131229", "20131230", "20141201"}},
        // A January day of the year before's last week does not skip a year.
        {"FREQ=YEARLY;BYWEEKNO=-1;BYDAY=SA;COUNT=3",
         "20270102",
         9,
         {"20270102", "20280101", "20281230", "END"}},
        {"FREQ=YEARLY;BYWEEKNO=-1;BYDAY=SU,MO,WE;COUNT=6",
         "20121224",
         9,
         {"20121224", "20121226", "20121230", "20131223", "20131225", "20131229", "END"}},
        // A December day of the next year's first week does not skip a year.
        {"FREQ=YEARLY;BYWEEKNO=1;BYDAY=MO", "20241230", 3, {"20241230", "20251229", "20270104"}},
        // A yearly day the year lacks is no occurrence: 29 February waits for
        // the next leap year, 31 April never comes.
        {"FREQ=YEARLY", "20120229T090000", 3, {"20120229T090000", "20160229T090000", "20200229T090000"}},
        {"FREQ=YEARLY;BYMONTH=2", "20120229", 2, {"20120229", "20160229"}},
        {"FREQ=YEARLY;BYMONTH=2,3", "20120229", 4, {"20120229", "20120329", "20130329", "20140329"}},
        {"FREQ=YEARLY;BYMONTH=1,4;COUNT=3", "20120131", 9, {"20120131", "20130131", "20140131", "END"}},
        // So is a monthly one beside BYMONTH; a time list still expands
        // every day of the month.
        {"FREQ=MONTHLY;BYMONTH=2;COUNT=6",
         "20000229",
         9,
         {"20000229", "20040229", "20080229", "20120229", "20160229", "20200229", "END"}},
        {"FREQ=MONTHLY;BYMONTH=1,4,7",
         "20000131",
         5,
         {"20000131", "20000731", "20010131", "20010731", "20020131"}},
        {"FREQ=MONTHLY;INTERVAL=2;BYMONTH=2,4,12",
         "20001230",
         4,
         {"20001230", "20010430", "20011230", "20020430"}},
        {"FREQ=MONTHLY;BYMONTH=2;BYSETPOS=1", "20000229", 3, {"20000229", "20040229", "20080229"}},
        {"FREQ=MONTHLY;BYMONTH=2;BYHOUR=9",
         "20000131T090000",
         4,
         {"20000131T090000", "20000201T090000", "20000202T090000", "20000203T090000"}},
    };
    for (const Case& c : cases) {
        check(c);
    }
    // The value's own year step still carries 29 February into March.
    DateTime leapDay(29, 2, 2012, 9, 0, 0, Duration(0));
    leapDay.setField(FieldYear, 2013, 1);
    EXPECT_EQ(clock(leapDay), "20130301T090000");
    // Date starts: time lists are ignored; a week-number rule produces a
    // start that lies in another year's week, without includeStart too.
    const std::tuple<const char*, const char*, bool, Clocks> dateStarts[] = {
        {"FREQ=DAILY;BYMINUTE=1,2,3,4", "20241018", true, {"20241018", "20241019", "20241020"}},
        {"FREQ=DAILY;BYHOUR=3;BYSECOND=5;COUNT=2", "20241018", true, {"20241018", "20241019", "END"}},
        {"FREQ=WEEKLY;BYHOUR=9,17", "20241018", false, {"20241018", "20241025", "20241101"}},
        {"FREQ=YEARLY;BYWEEKNO=53;COUNT=1", "20270103", false, {"20270103", "END"}},
        {"FREQ=YEARLY;BYWEEKNO=53;COUNT=2", "20100102", false, {"20100102", "20160102", "END"}},
        {"FREQ=YEARLY;BYWEEKNO=1;COUNT=2", "20241231", false, {"20241231", "20251230", "END"}},
    };
    for (const auto& [text, start, includeStart, expected] : dateStarts) {
        RecurrenceRule rule;
        rule.parse(text);
        const DateTime date = DateTime::parse(start, nullptr);
        ASSERT_TRUE(date.isDateOnly());
        EXPECT_EQ(walk(rule, date, 3, true, includeStart), expected) << text << " from " << start;
    }
    // The upper clamp of the calendar ends the walk: stepping stops moving.
    for (const char* text : {"FREQ=DAILY", "FREQ=YEARLY;BYMONTH=2;BYMONTHDAY=30", "FREQ=HOURLY;INTERVAL=7"}) {
        RecurrenceRule rule;
        rule.parse(text);
        const Clocks got = walk(rule, DateTime(31, 12, 29995, 9, 0, 0, Duration(0)), 100000);
        EXPECT_EQ(got.back(), "END") << text;
    }
    // Steps that never reach the named hour: the plain walk gives up after
    // eight years, the skipping one sooner, with the same answer.
    RecurrenceRule never;
    never.parse("FREQ=HOURLY;INTERVAL=2;BYHOUR=1,3");
    const DateTime even(1, 1, 2024, 4, 0, 0, Duration(0));
    EXPECT_EQ(walk(never, even, 5, true), (Clocks{"20240101T040000", "END"}));
    EXPECT_EQ(walk(never, even, 5, false), (Clocks{"20240101T040000", "END"}));
    never.parse("FREQ=SECONDLY;INTERVAL=2;BYSECOND=1");
    EXPECT_EQ(walk(never, even, 5, true), (Clocks{"20240101T040000", "END"}));
}

TEST(RecurrenceExpansion, BoundsOfTheWalk) {
    // A period of more candidates than the cap ends the walk.
    const std::string full = "FREQ=YEARLY;BYDAY=MO;BYHOUR=" + range(0, 23) + ";BYMINUTE=" + range(0, 59) +
                             ";BYSECOND=" + range(0, 59);
    EXPECT_EQ(walk(full, "20240101T000000", 3), (Clocks{"20240101", "END"}));
    // A fine frequency that a coarse list never lets through.
    EXPECT_EQ(walk("FREQ=SECONDLY;BYMONTH=13", "20240101", 3), (Clocks{"20240101", "END"}));
    EXPECT_EQ(walk("FREQ=SECONDLY;BYMONTH=2;BYMONTHDAY=30", "20240101", 3), (Clocks{"20240101", "END"}));
    EXPECT_EQ(walk("FREQ=SECONDLY;BYSECOND=60", "20240101", 3), (Clocks{"20240101", "END"}));
    EXPECT_EQ(walk("FREQ=MINUTELY;BYSECOND=60,-62", "20240101", 3), (Clocks{"20240101", "END"}));
    // BYSETPOS beyond every period's size.
    EXPECT_EQ(walk("FREQ=SECONDLY;BYMONTH=4,1;BYSETPOS=0,2", "20240101", 3), (Clocks{"20240101", "END"}));
    EXPECT_EQ(walk("FREQ=MINUTELY;BYSECOND=1,2;BYSETPOS=3,-3", "20240101", 3), (Clocks{"20240101", "END"}));
    EXPECT_EQ(walk("FREQ=MINUTELY;BYSECOND=1,2;BYSETPOS=-2;COUNT=3", "20240101", 5),
              (Clocks{"20240101", "20240101T000001", "20240101T000101", "END"}));
    EXPECT_EQ(walk("FREQ=SECONDLY;BYMONTH=3;BYMONTHDAY=2;BYHOUR=4;BYMINUTE=5;BYSECOND=6,7", "20240101", 4),
              (Clocks{"20240101", "20240302T040506", "20240302T040507", "20250302T040506"}));
}

TEST(RecurrenceExpansion, IteratorProtocol) {
    RecurrenceRule rule;
    rule.parse("FREQ=DAILY;COUNT=2");
    const RecurrenceIterator end;
    EXPECT_TRUE(end.equals(RecurrenceIterator()));
    EXPECT_TRUE(end.current().isUnset());
    RecurrenceIterator a(rule, at("20240101"), true);
    EXPECT_FALSE(a.equals(end));  // one delivered occurrence is not the end
    EXPECT_FALSE(end.equals(a));
    RecurrenceIterator b(rule, at("20240101"), true);
    EXPECT_TRUE(a.equals(b));
    const RecurrenceIterator before = a++;
    EXPECT_EQ(clock(before.current()), "20240101");
    EXPECT_EQ(clock(a.current()), "20240102");
    EXPECT_FALSE(a.equals(b));
    a.advance();
    EXPECT_TRUE(a.equals(end));
    a.advance();
    EXPECT_TRUE(a.equals(end));
    EXPECT_TRUE(a.current().isUnset());
    // Without includeStart a start the rule does not produce is left out.
    rule.parse("FREQ=MONTHLY;BYMONTHDAY=15;COUNT=1");
    RecurrenceIterator c(rule, at("20240110"), false);
    EXPECT_EQ(clock(c.current()), "20240115");
    rule.parse("FREQ=DAILY;COUNT=0");
    EXPECT_TRUE(RecurrenceIterator(rule, at("20240110"), false).equals(end));
}

TEST(RecurrenceExpansion, ExpansionLevelsFollowTheDecisionTable) {
    // Columns: YEARLY, MONTHLY, WEEKLY, DAILY; -1 limits.
    struct Case {
        const char* lists;
        int index;
        int levels[4];
    };
    const Case cases[] = {
        {"BYMONTH=1", ByMonth, {0, -1, -1, -1}},
        {"BYWEEKNO=1", ByWeekNo, {0, -1, -1, -1}},
        {"BYWEEKNO=1;BYMONTH=1", ByWeekNo, {-1, -1, -1, -1}},
        {"BYYEARDAY=1", ByYearDay, {0, -1, -1, -1}},
        {"BYYEARDAY=1;BYMONTH=1", ByYearDay, {-1, -1, -1, -1}},
        {"BYYEARDAY=1;BYWEEKNO=1", ByYearDay, {-1, -1, -1, -1}},
        {"BYMONTHDAY=1", ByMonthDay, {0, 1, -1, -1}},
        {"BYMONTHDAY=1;BYMONTH=1", ByMonthDay, {1, 1, -1, -1}},
        {"BYMONTHDAY=1;BYYEARDAY=1", ByMonthDay, {-1, -1, -1, -1}},
        {"BYMONTHDAY=1;BYWEEKNO=1", ByMonthDay, {-1, -1, -1, -1}},
        {"BYDAY=MO", ByDay, {0, 1, 2, -1}},
        {"BYDAY=MO;BYMONTH=1", ByDay, {1, 1, 2, -1}},
        {"BYDAY=MO;BYWEEKNO=1", ByDay, {2, 2, 2, -1}},
        {"BYDAY=MO;BYMONTHDAY=1", ByDay, {-1, -1, -1, -1}},
        {"BYDAY=MO;BYYEARDAY=1", ByDay, {-1, -1, -1, -1}},
        {"BYHOUR=1", ByHour, {0, 1, 2, 5}},
        {"BYHOUR=1;BYDAY=MO", ByHour, {5, 5, 5, 5}},
        {"BYHOUR=1;BYMONTHDAY=1", ByHour, {4, 4, 4, 5}},
        {"BYMINUTE=1", ByMinute, {0, 1, 2, 5}},
        {"BYMINUTE=1;BYHOUR=1", ByMinute, {6, 6, 6, 6}},
        {"BYSECOND=1", BySecond, {0, 1, 2, 5}},
    };
    for (const Case& c : cases) {
        for (int f = Yearly; f <= Daily; ++f) {
            RecurrenceRule rule;
            rule.parse(std::string("FREQ=") + (const char*[]){"YEARLY", "MONTHLY", "WEEKLY", "DAILY"}[f] +
                       ";" + c.lists);
            RecurrenceIterator it(rule, at("20240101"), true);
            EXPECT_EQ(it.expansionLevel(c.index), c.levels[f]) << c.lists << " frequency " << f;
        }
    }
    RecurrenceRule hourly;
    hourly.parse("FREQ=HOURLY;BYHOUR=1;BYMINUTE=1");
    RecurrenceIterator it(hourly, at("20240101"), true);
    EXPECT_EQ(it.expansionLevel(ByHour), -1);
    EXPECT_EQ(it.expansionLevel(ByMinute), 6);
}

TEST(RecurrenceExpansion, WeekRangeAndStepValue) {
    RecurrenceRule rule;
    rule.parse("FREQ=YEARLY;BYDAY=MO");
    const RecurrenceIterator it(rule, at("20240101"), true);
    struct Case {
        const char* date;
        int level, first, last;
    };
    const Case cases[] = {
        {"20240615", FieldYear, 1, 53},  // 2024-12-30 lies in week 1 of 2025
        {"20270615", FieldYear, 0, 52},  // 2027-01-01 lies in week 53 of 2026
        {"20240115", FieldMonth, 1, 5},    {"20241215", FieldMonth, 48, 53},
        {"20210115", FieldMonth, 0, 4},    {"20240612", FieldWeekNumber, 24, 24},
        {"20240612", FieldMonthDay, 1, 1},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(it.weekRange(at(c.date), c.level), std::make_pair(c.first, c.last))
            << c.date << " " << c.level;
    }
    EXPECT_EQ(it.stepValue(at("20210103"), FieldWeekNumber), 0);
    EXPECT_EQ(it.stepValue(at("20241230"), FieldWeekNumber), 53);
    EXPECT_EQ(it.stepValue(at("20240612"), FieldMonthDay), 12);
    EXPECT_EQ(it.units(at("20240212"), Daily, FieldMonth), 29);
    EXPECT_EQ(it.units(at("20240212"), Weekly, FieldYear), 52);
}

TEST(RecurrenceExpansion, DailyAcrossASpringChangeOnTheMachineZone) {
    ScopedTz tz("America/New_York");
    RecurrenceRule rule;
    rule.parse("FREQ=DAILY;COUNT=5");
    DateTime start(8, 3, 2024, 2, 30, 0, Duration(0));
    start.makeFloating();
    DateTime expectedChangeDay = start;
    expectedChangeDay.setField(FieldMonthDay, 10, 1);
    std::vector<DateTime> got;
    for (RecurrenceIterator it(rule, start, true), end; !it.equals(end); it.advance()) {
        got.push_back(it.current());
    }
    ASSERT_EQ(got.size(), 5u);
    EXPECT_EQ(got[2].value(), expectedChangeDay.value());
    for (size_t k : {0u, 1u, 3u, 4u}) {
        EXPECT_EQ(got[k].field(FieldMonthDay, 1), static_cast<int>(8 + k));
        EXPECT_EQ(got[k].field(FieldHour, 1), 2) << k;
        EXPECT_EQ(got[k].field(FieldMinute, 1), 30) << k;
    }
    // Steps that never reach the named hour: the plain walk gives up after
    // eight years, the skipping one sooner, with the same answer.
    RecurrenceRule never;
    never.parse("FREQ=HOURLY;INTERVAL=2;BYHOUR=1,3");
    const DateTime even(1, 1, 2024, 4, 0, 0, Duration(0));
    EXPECT_EQ(walk(never, even, 5, true), (Clocks{"20240101T040000", "END"}));
    EXPECT_EQ(walk(never, even, 5, false), (Clocks{"20240101T040000", "END"}));
    never.parse("FREQ=SECONDLY;INTERVAL=2;BYSECOND=1");
    EXPECT_EQ(walk(never, even, 5, true), (Clocks{"20240101T040000", "END"}));
}

// The crossing of empty periods must deliver what the plain walk delivers.
TEST(RecurrenceExpansion, SkippingMatchesThePlainWalk) {
    std::mt19937 rng(11);
    auto pick = [&](int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng); };
    // Each frequency with lists coarser than it, chosen so that the plain
    // walk stays short.
    const char* shapes[][3] = {
        {"DAILY", "BYMONTH", "BYMONTHDAY"}, {"DAILY", "BYDAY", "BYMONTH"},
        {"HOURLY", "BYMONTHDAY", "BYDAY"},  {"HOURLY", "BYMONTH", "BYHOUR"},
        {"MINUTELY", "BYHOUR", "BYDAY"},    {"MINUTELY", "BYMONTHDAY", "BYMINUTE"},
        {"SECONDLY", "BYMINUTE", ""},       {"MINUTELY", "BYMINUTE", "BYHOUR"},
    };
    for (int n = 0; n < 48; ++n) {
        const auto& shape = shapes[n % 8];
        const bool seconds = std::string(shape[0]) == "SECONDLY";
        const int interval = pick(1, 7);
        const bool floating = pick(0, 2) == 0;
        const int hour = pick(0, 23), minute = floating ? 30 : pick(0, 59);
        // The frequency's own field is given values its steps reach, so that
        // the plain walk finds them soon.
        const std::string frequency = shape[0];
        auto value = [&](const std::string& key) {
            if (key == "BYMONTH") {
                return std::to_string(pick(1, 4));
            }
            if (key == "BYMONTHDAY") {
                return std::to_string(pick(0, 1) ? pick(1, 31) : pick(-31, -1));
            }
            if (key == "BYDAY") {
                return std::string((const char*[]){"MO", "TU", "WE", "TH", "FR", "SA", "SU"}[pick(0, 6)]);
            }
            if (key == "BYHOUR") {
                return std::to_string(frequency == "HOURLY" ? (hour + interval * pick(0, 5)) % 24
                                                            : pick(-2, 25));
            }
            return std::to_string(frequency == "MINUTELY" ? (minute + interval * pick(0, 5)) % 60
                                                          : pick(0, 59));
        };
        std::string text = std::string("FREQ=") + shape[0] +
                           ";COUNT=" + std::to_string(pick(1, seconds ? 2 : 6)) +
                           ";INTERVAL=" + std::to_string(interval);
        for (int k = 1; k <= 2; ++k) {
            if (*shape[k] != 0 && pick(0, 3) != 0) {
                text += std::string(";") + shape[k] + "=" + value(shape[k]);
            }
        }
        RecurrenceRule rule;
        rule.parse(text);
        DateTime start(pick(1, 28), pick(1, 2), 2024, hour, minute, pick(0, 59), Duration(0));
        std::unique_ptr<ScopedTz> tz;
        if (floating) {
            tz = std::make_unique<ScopedTz>("America/New_York");
            start = DateTime(pick(1, 28), 3, 2024, hour, minute, 0, Duration(0));
            start.makeFloating();
        }
        SCOPED_TRACE(text + " from " + start.format(FormatExtended));
        EXPECT_EQ(walk(rule, start, 40, true), walk(rule, start, 40, false));
    }
    // Steps that never reach the named hour: the plain walk gives up after
    // eight years, the skipping one sooner, with the same answer.
    RecurrenceRule never;
    never.parse("FREQ=HOURLY;INTERVAL=2;BYHOUR=1,3");
    const DateTime even(1, 1, 2024, 4, 0, 0, Duration(0));
    EXPECT_EQ(walk(never, even, 5, true), (Clocks{"20240101T040000", "END"}));
    EXPECT_EQ(walk(never, even, 5, false), (Clocks{"20240101T040000", "END"}));
    never.parse("FREQ=SECONDLY;INTERVAL=2;BYSECOND=1");
    EXPECT_EQ(walk(never, even, 5, true), (Clocks{"20240101T040000", "END"}));
}
