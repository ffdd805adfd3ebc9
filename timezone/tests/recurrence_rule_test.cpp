// The recurrence rule's text forms: the RRULE and vCalendar readers, the
// writer, the BY-list and weekday helpers and the tokenizer they share.
#include <gtest/gtest.h>

#include <climits>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "ScopedTz.h"
#include "timezone/RecurrenceRule.h"
#include "timezone/Tokenizer.h"

using namespace tavlo::timezone;

namespace {

using List = std::vector<int32_t>;

RecurrenceRule parsed(const std::string& text) {
    RecurrenceRule r;
    r.parse(text);
    return r;
}

int64_t utc(int y, int m, int d, int h = 0, int mi = 0, int s = 0) {
    return DateTime(d, m, y, h, mi, s, Duration(0)).value();
}

}  // namespace

TEST(RecurrenceRuleText, ParseAndFormatVectors) {
    struct Case {
        const char* text;
        bool valid;
        const char* formatted;
    };
    const Case cases[] = {
        {"", false, ""},
        {";;", false, ""},
        {"FREQ=WEEKLY;BYSETPOS=1", false, ""},
        {"FREQ=WEEKLY;BYDAY=;BYSETPOS=1", true, "FREQ=WEEKLY;BYSETPOS=1"},
        {"FREQ=DAILY;FREQ=HOURLY", true, "FREQ=HOURLY"},
        {"FREQ=DAILY;FREQ=X;COUNT=5", true, "FREQ=DAILY"},
        {"FREQ=;COUNT=5", false, ""},
        {"FREQ=YEARLY;BYMONTH=3;BYDAY=-1SU", true, "FREQ=YEARLY;BYMONTH=3;BYDAY=-1SU"},
        {"freq=monthly;interval=1;byday=1mo;wkst=mo", true, "FREQ=MONTHLY;BYDAY=1MO"},
        {"FREQ=DAILY;INTERVAL=0", true, "FREQ=DAILY"},
        {"FREQ=DAILY;UNTIL=19971224T000000Z;COUNT=3", true, "FREQ=DAILY;UNTIL=19971224T000000Z"},
        {"FREQ=DAILY;UNTIL=garbage;COUNT=3", true, "FREQ=DAILY;COUNT=3"},
        // An end past what the written form can hold is dropped, not written empty.
        {"FREQ=DAILY;UNTIL=99999999T000000Z;COUNT=3", true, "FREQ=DAILY;COUNT=3"},
        {"FREQ=DAILY;UNTIL=19971224", true, "FREQ=DAILY;UNTIL=19971224"},
        {"FREQ=YEARLY;X-UNTIL=20300101T000000Z;BYMONTH=3", true,
         "FREQ=YEARLY;X-UNTIL=20300101T000000Z;BYMONTH=3"},
        {"FREQ=DAILY;WKST=XX", true, "FREQ=DAILY;WKST="},
        {"FREQ=DAILY;WKST=su", true, "FREQ=DAILY;WKST=SU"},
        {"FREQ=YEARLY;BYMONTH=1,,3", true, "FREQ=YEARLY;BYMONTH=1,0,3"},
        {"FREQ=YEARLY;BYMONTH=1,2,", true, "FREQ=YEARLY;BYMONTH=1,2"},
        {"FREQ=YEARLY;BYMONTH=1;BYMONTH=2;COUNT=3;COUNT=4", true, "FREQ=YEARLY;COUNT=4;BYMONTH=1,2"},
        {"FREQ=MONTHLY;BYDAY=1MO,+1MO,-2FR,mo,MON,1XX, 2TU,TU,", true,
         "FREQ=MONTHLY;BYDAY=1MO,1MO,-2FR,MO,TU,TU"},
        {"FREQ=MONTHLY;BYDAY=1\xC3MO", true, "FREQ=MONTHLY;BYDAY=1MO"},
        {"FREQ=YEARLY;BYSETPOS=1;BYSECOND=1;BYMINUTE=2;BYHOUR=3;BYDAY=MO;BYMONTHDAY=4;BYYEARDAY=5;"
         "BYWEEKNO=6;BYMONTH=7;INTERVAL=2;COUNT=2;WKST=SU",
         true,
         "FREQ=YEARLY;COUNT=2;INTERVAL=2;BYMONTH=7;BYWEEKNO=6;BYYEARDAY=5;BYMONTHDAY=4;BYDAY=MO;BYHOUR=3;"
         "BYMINUTE=2;BYSECOND=1;BYSETPOS=1;WKST=SU"},
        {";FREQ=DAILY;;FOO=1;X;COUNT= 7x", true, "FREQ=DAILY;COUNT=7"},
        {"COUNT=2;FREQ=SECONDLY", true, "FREQ=SECONDLY;COUNT=2"},
        // Long digit runs saturate; an ordinal must fit 24 bits.
        {"FREQ=DAILY;COUNT=99999999999999;BYHOUR=-99999999999,5", true,
         "FREQ=DAILY;COUNT=2147483647;BYHOUR=-2147483648,5"},
        {"FREQ=DAILY;INTERVAL=4294967297", true, "FREQ=DAILY;INTERVAL=2147483647"},
        {"FREQ=YEARLY;BYDAY=8388607MO,8388608TU,-8388608WE,-8388609TH,99999999999FR", true,
         "FREQ=YEARLY;BYDAY=8388607MO,-8388608WE"},
        // vCalendar 1.0.
        {"W2 MO WE #10", true, "FREQ=WEEKLY;COUNT=10;INTERVAL=2;BYDAY=MO,WE"},
        {"MD1 1 LD #0", true, "FREQ=MONTHLY;BYMONTHDAY=1,-1"},
        {"YM1 6 7 #0", true, "FREQ=YEARLY;BYMONTH=6,7"},
        {"w1 MO", false, ""},
        {"X1 MO", false, ""},
        {"MP1 1+ MO TU", true, "FREQ=MONTHLY;BYDAY=1MO,1TU"},
        {"MP1 2- FR\t#3", true, "FREQ=MONTHLY;COUNT=3;BYDAY=-2FR"},
        {"W1 MO TH", true, "FREQ=WEEKLY;BYDAY=MO,TH"},
        {"MD1 5- 3+ #2", true, "FREQ=MONTHLY;COUNT=2;BYMONTHDAY=-5,3"},
        {"YD1 100 0 200 #1", true, "FREQ=YEARLY;COUNT=1;BYYEARDAY=100,200"},
        {"M15 MO 2+ #4", true, "FREQ=MINUTELY;COUNT=4;INTERVAL=15"},
        {"D1 19971224T000000Z", true, "FREQ=DAILY;UNTIL=19971224T000000Z"},
        {"W2 9999999999999999W# WE", true, "FREQ=WEEKLY;INTERVAL=2;BYDAY=WE"},
        {"D1 #5 TU", true, "FREQ=DAILY;COUNT=5"},
        {"D2 MO;COUNT=9", true, "FREQ=DAILY;INTERVAL=2;BYDAY=MO"},
        {"ABCDEFGHIJKLMNOPQRST D1 #3", false, ""},
        {"D1 ABCDEFGHIJKLMNOPQRSTU #3", true, "FREQ=DAILY;COUNT=3"},
        {"MD99999999999 1", true, "FREQ=MONTHLY;INTERVAL=2147483647;BYMONTHDAY=1"},
        {"FREQ=DAILY;D1", true, "FREQ=DAILY"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        const RecurrenceRule r = parsed(c.text);
        EXPECT_EQ(r.valid, c.valid);
        EXPECT_EQ(r.format(), c.formatted);
    }
}

TEST(RecurrenceRuleText, Fields) {
    RecurrenceRule r = parsed("FREQ=DAILY;FREQ=X;COUNT=5");
    EXPECT_EQ(r.frequency, Daily);
    EXPECT_EQ(r.count, -1);
    r = parsed("FREQ=DAILY;INTERVAL=0;WKST=XX");
    EXPECT_EQ(r.interval, 0);
    EXPECT_EQ(r.weekStart, 0);
    r = parsed("FREQ=YEARLY;BYDAY=-1SU,2MO,TU");
    EXPECT_EQ(r.byLists[ByDay], (List{-249, 513, 2}));
    EXPECT_EQ(r.byLists[ByDay][0] >> 8, -1);
    EXPECT_EQ(r.byLists[ByDay][0] & 255, 7);
    r = parsed("MD1 1 LD #0");
    EXPECT_EQ(r.frequency, Monthly);
    EXPECT_EQ(r.count, -1);
    EXPECT_EQ(r.byLists[ByMonthDay], (List{1, -1}));
    r = parsed("W2 MO WE #10");
    EXPECT_EQ(r.interval, 2);
    EXPECT_EQ(r.count, 10);
    EXPECT_EQ(r.byLists[ByDay], (List{1, 3}));
    // A stop keeps what was read before it and reads nothing after it.
    r = parsed("FREQ=WEEKLY;BYMONTH=2;FREQ=NEVER;BYMONTH=3");
    EXPECT_TRUE(r.valid);
    EXPECT_EQ(r.byLists[ByMonth], (List{2}));
    // Parsing starts from the reset state every time.
    r.parse("FREQ=HOURLY");
    EXPECT_TRUE(r.byLists[ByMonth].empty());
    EXPECT_EQ(r.format(), "FREQ=HOURLY");
    // A BYDAY element without a weekday name cuts the text there; a code
    // outside 0..6 writes "FREQ=".
    r = parsed("FREQ=YEARLY;BYDAY=MO,TU;WKST=SU");
    r.byLists[ByDay][1] = 9 | (2 << 8);
    EXPECT_EQ(r.format(), "FREQ=YEARLY;BYDAY=MO,2");
    r.frequency = 9;
    EXPECT_EQ(r.format(), "FREQ=");
}

TEST(RecurrenceRuleText, UntilKeepsTheWrittenClockAsUtc) {
    const char* zones[] = {"UTC", "America/New_York", "Australia/Sydney", "Europe/Paris",
                           "Pacific/Kiritimati"};
    const char* forms[] = {"19971224T000000Z", "19971224T000000", "19971224T000000+0200",
                           "19971224T000000-0530"};
    for (const char* zone : zones) {
        ScopedTz tz(zone);
        for (const char* form : forms) {
            SCOPED_TRACE(std::string(zone) + " " + form);
            const RecurrenceRule r = parsed(std::string("FREQ=DAILY;UNTIL=") + form + ";X-UNTIL=" + form);
            EXPECT_EQ(r.until.value(), utc(1997, 12, 24));
            EXPECT_EQ(r.extendedUntil.value(), utc(1997, 12, 24));
            EXPECT_EQ(r.until.kind(), FixedOffset);
            EXPECT_EQ(r.until.offsetMinutes(), 0);
        }
    }
    // A clock the machine zone skips is still taken as written.
    ScopedTz tz("America/New_York");
    EXPECT_EQ(parsed("FREQ=DAILY;UNTIL=20240310T023000").until.value(), utc(2024, 3, 10, 2, 30));
    EXPECT_EQ(parsed("FREQ=DAILY;X-UNTIL=20240310T023000").extendedUntil.value(), utc(2024, 3, 10, 2, 30));
}

TEST(RecurrenceRuleText, ByListAndWeekdayHelpers) {
    struct Case {
        const char* text;
        List values;
    };
    const Case lists[] = {
        {"", {}},    {"1,,3", {1, 0, 3}}, {"1,2,", {1, 2}}, {",", {0}}, {" 7, -2,+3,x,4z", {7, -2, 3, 0, 4}},
        {"--1", {0}}};
    for (const Case& c : lists) {
        RecurrenceRule r;
        r.byLists[ByHour] = {42};
        parseByList(c.text, r, ByHour);
        List expected{42};
        expected.insert(expected.end(), c.values.begin(), c.values.end());
        EXPECT_EQ(r.byLists[ByHour], expected) << c.text;
    }
    const char* names[] = {"MO", "TU", "WE", "TH", "FR", "SA", "SU"};
    for (int code = 1; code <= 7; ++code) {
        EXPECT_STREQ(weekdayName(code), names[code - 1]);
        EXPECT_EQ(weekdayFromName(names[code - 1]), code);
        const std::string lower = {static_cast<char>(names[code - 1][0] + 32), names[code - 1][1]};
        EXPECT_EQ(weekdayFromName(lower), code);
    }
    for (int code : {0, 8, -1, 257}) {
        EXPECT_EQ(weekdayName(code), nullptr);
    }
    for (const char* bad : {"", "M", "MON", " MO", "XX"}) {
        EXPECT_EQ(weekdayFromName(bad), 0) << bad;
    }
}

TEST(RecurrenceRuleText, NextToken) {
    struct Case {
        const char* text;
        std::vector<std::string> tokens;
    };
    const Case cases[] = {{"a;;b;", {"a", "b"}}, {";;;", {}}, {"", {}}, {";x", {"x"}}, {"one", {"one"}}};
    for (const Case& c : cases) {
        std::string copy = c.text;
        char* cursor = reinterpret_cast<char*>(1);
        std::vector<std::string> got;
        for (char* t = nextToken(copy.data(), ";", &cursor); t != nullptr;
             t = nextToken(nullptr, ";", &cursor)) {
            got.push_back(t);
        }
        EXPECT_EQ(got, c.tokens) << c.text;
        EXPECT_EQ(cursor, nullptr);
        EXPECT_EQ(nextToken(nullptr, ";", &cursor), nullptr);
    }
    // The cursor points just behind the cut.
    char text[] = "ab;cd";
    char* cursor = nullptr;
    EXPECT_STREQ(nextToken(text, ";", &cursor), "ab");
    EXPECT_EQ(cursor, text + 3);
}

TEST(RecurrenceRuleText, FormatOfParseIsStableForRandomRules) {
    std::mt19937 rng(7);
    auto pick = [&](int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng); };
    for (int n = 0; n < 3000; ++n) {
        RecurrenceRule r;
        r.frequency = pick(0, 6);
        r.interval = pick(-2, 30);
        r.count = pick(-1, 50);
        r.weekStart = pick(0, 7);
        if (pick(0, 3) == 0) {
            r.until = DateTime(utc(pick(1601, 9999), pick(1, 12), pick(1, 28), pick(0, 23), pick(0, 59)));
        }
        if (pick(0, 5) == 0) {
            r.extendedUntil = DateTime::fromYear(pick(1700, 2500));
        }
        for (int i = 1; i <= 9; ++i) {
            for (int k = pick(0, 3) == 0 ? pick(1, 4) : 0; k > 0; --k) {
                r.byLists[i].push_back(i == ByDay ? pick(1, 7) | (pick(-60, 60) << 8) : pick(-400, 400));
            }
        }
        if (!r.byLists[BySetPos].empty() && r.byLists[ByMonth].empty()) {
            r.byLists[ByMonth].push_back(pick(1, 12));  // BYSETPOS alone reads back as invalid
        }
        r.valid = true;
        const std::string text = r.format();
        const RecurrenceRule back = parsed(text);
        ASSERT_EQ(back.format(), text);
        ASSERT_TRUE(back.valid) << text;
        EXPECT_EQ(back.byLists, r.byLists) << text;
        EXPECT_EQ(back.frequency, r.frequency);
        EXPECT_EQ(back.until.value(), r.until.value());
    }
}
