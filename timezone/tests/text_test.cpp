// Text forms: the format flag matrix, ISO 8601 reading, durations, RFC 822.
#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <tuple>

#include "ScopedTz.h"
#include "timezone/BoundedFormat.h"
#include "timezone/DateTime.h"

using namespace tavlo::timezone;

namespace {

int64_t utc(int y, int m, int d, int h = 0, int mi = 0, int s = 0) {
    CalendarFields f{s, mi, h, d, m - 1, y - 1900};
    return timeFromCalendar(f);
}

// The instant t at a fixed offset.
DateTime atOffset(int64_t t, int minutes) {
    DateTime v(t + minutes * 60LL);
    v.setFixedOffset(Duration(minutes * 60LL));
    return v;
}

}  // namespace

TEST(Format, FlagMatrix) {
    const int64_t t = utc(2024, 1, 5, 10, 15);
    DateTime dateOnly(utc(2024, 1, 5));
    dateOnly.setDateOnly(true);
    DateTime floating(t);
    floating.makeFloating();
    struct Case {
        DateTime value;
        int flags;
        const char* text;
    };
    const Case cases[] = {
        {DateTime(t), 0, "20240105T101500Z"},
        {DateTime(t), 1, "2024-01-05T10:15:00Z"},
        {DateTime(t), 3, "2024-01-05T10:15:00.000Z"},
        {DateTime(t), 4, "20240105T101500+0000"},
        {DateTime(t), 5, "2024-01-05T10:15:00+00:00"},
        {DateTime(t), 8, "20240105T101500Z"},
        {DateTime(t), 12, "20240105T101500"},
        {atOffset(t, 330), 1, "2024-01-05T15:45:00+05:30"},
        {atOffset(t, -90), 0, "20240105T084500-0130"},
        {atOffset(t, -90), 8, "20240105T084500"},
        {atOffset(t, -90), 6, "20240105T084500.000-0130"},
        {dateOnly, 0, "20240105"},
        {dateOnly, 1, "2024-01-05"},
        {dateOnly, 3, "2024-01-05"},
        {dateOnly, 16, "20240105T000000Z"},
        {dateOnly, 17, "2024-01-05T00:00:00Z"},
        {DateTime(utc(10000, 1, 1)), 0, ""},
        {DateTime(utc(9999, 12, 31, 23, 59, 59)), 0, "99991231T235959Z"},
        {DateTime(utc(1601, 1, 1)), 1, "1601-01-01T00:00:00Z"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(c.value.format(c.flags), c.text) << c.flags << " " << c.text;
    }
    ScopedTz tz("UTC");
    EXPECT_EQ(floating.format(0), "20240105T101500");
    EXPECT_EQ(floating.format(5), "2024-01-05T10:15:00");
}

// The designator's hours wrap within the day; the fields do not.
TEST(Format, OffsetOfMoreThanADay) {
    EXPECT_EQ(atOffset(utc(2024, 1, 5), 25 * 60).format(0), "20240106T010000+0100");
}

TEST(BoundedFormatTest, NeverOverflows) {
    char buf[8];
    std::memset(buf, 'x', sizeof(buf));
    EXPECT_EQ(boundedFormat(nullptr, 5, "abc"), 0);
    EXPECT_EQ(boundedFormat(buf, 0, "abc"), 0);
    EXPECT_EQ(buf[0], 'x');
    EXPECT_EQ(boundedFormat(buf, 1, "abc"), 0);
    EXPECT_STREQ(buf, "");
    EXPECT_EQ(boundedFormat(buf, 4, "%s", "abcdef"), 3);
    EXPECT_STREQ(buf, "abc");
    EXPECT_EQ(buf[4], 'x');
    EXPECT_EQ(boundedFormat(buf, sizeof(buf), "%d", 42), 2);
    EXPECT_STREQ(buf, "42");
}

TEST(ParseIso, Table) {
    struct Case {
        const char* text;
        bool ok, dateOnly;
        int64_t offset;  // kUnknownSeconds when none
        int64_t start, end;
    };
    const int64_t none = Duration::kUnknownSeconds;
    const Case cases[] = {
        {"20240105T101500Z", true, false, 0, utc(2024, 1, 5, 10, 15), utc(2024, 1, 5, 10, 15)},
        {"2024-01-05T10:15:00+02:00", true, false, 7200, utc(2024, 1, 5, 8, 15), utc(2024, 1, 5, 8, 15)},
        {"2024-01-05T10:15:00-0130", true, false, -5400, utc(2024, 1, 5, 11, 45), utc(2024, 1, 5, 11, 45)},
        {"20240105", true, true, none, utc(2024, 1, 5), utc(2024, 1, 5, 23, 59, 59)},
        {"2024", true, false, none, utc(2024, 1, 1), utc(2024, 12, 31, 23, 59, 59)},
        {"2024-02", true, false, none, utc(2024, 2, 1), utc(2024, 2, 29, 23, 59, 59)},
        {"202302", true, false, none, utc(2023, 2, 1), utc(2023, 2, 28, 23, 59, 59)},
        {"2024-13", true, false, none, utc(2025, 1, 1), utc(2025, 1, 31, 23, 59, 59)},
        {"20240105T1015", true, false, none, utc(2024, 1, 5, 10, 15), utc(2024, 1, 5, 10, 15, 59)},
        {"20240105T10", true, false, none, utc(2024, 1, 5, 10), utc(2024, 1, 5, 10, 59, 59)},
        {"20240105T101500.123Z", true, false, 0, utc(2024, 1, 5, 10, 15), utc(2024, 1, 5, 10, 15)},
        {"20240105T101500,5 Z", true, false, 0, utc(2024, 1, 5, 10, 15), utc(2024, 1, 5, 10, 15)},
        {"20240105X", true, true, none, utc(2024, 1, 5), utc(2024, 1, 5, 23, 59, 59)},
        {"20240105T101500+05", true, false, 18000, utc(2024, 1, 5, 5, 15), utc(2024, 1, 5, 5, 15)},
        {"20240105T101500-05", true, false, -18000, utc(2024, 1, 5, 15, 15), utc(2024, 1, 5, 15, 15)},
        {"20240105T101500+05:", true, false, 18000, utc(2024, 1, 5, 5, 15), utc(2024, 1, 5, 5, 15)},
        {"20240105T101500+5", true, false, none, utc(2024, 1, 5, 10, 15), utc(2024, 1, 5, 10, 15)},
        {"2024-1a-05", true, true, none, utc(2024, 1, 5), utc(2024, 1, 5, 23, 59, 59)},
        {"202", false, false, none, 0, 0},
        {"20a4-01-05", false, false, none, 0, 0},
        {"", false, false, none, 0, 0},
    };
    for (const Case& c : cases) {
        bool dateOnly = true;
        Duration offset(123);
        int64_t start = 77, end = 77;
        EXPECT_EQ(parseIsoDateTime(c.text, &dateOnly, &offset, &start, &end), c.ok) << c.text;
        EXPECT_EQ(std::make_tuple(dateOnly, start, end), std::make_tuple(c.dateOnly, c.start, c.end))
            << c.text;
        EXPECT_EQ(offset.count(), c.ok ? c.offset : 123) << c.text;
    }
    EXPECT_TRUE(parseIsoDateTime("2024", nullptr, nullptr, nullptr, nullptr));
}

TEST(ParseIso, DateTimeParse) {
    const DateTime t = DateTime::parse("2024-01-05T10:15:00+02:00", ZonePtr());
    EXPECT_EQ(std::make_tuple(t.value(), t.kind(), t.offsetMinutes()),
              std::make_tuple(utc(2024, 1, 5, 8, 15), FixedOffset, 120));
    const DateTime h = DateTime::parse("20240105T101500-05", ZonePtr());
    EXPECT_EQ(std::make_tuple(h.value(), h.offsetMinutes()), std::make_tuple(utc(2024, 1, 5, 15, 15), -300));
    EXPECT_TRUE(DateTime::parse("202", ZonePtr()).isUnset());
}

// parse(format(x)) gives back the instant and the offset.
TEST(ParseIso, RoundTrips) {
    std::mt19937_64 rng(99);
    std::uniform_int_distribution<int64_t> instants(utc(1601, 1, 2), utc(9999, 12, 30));
    std::uniform_int_distribution<int> minutes(-23 * 60 - 59, 23 * 60 + 59);
    for (int i = 0; i < 50000; ++i) {
        const DateTime v = atOffset(instants(rng), minutes(rng));
        for (int flags : {0, 1, 3, 4, 5}) {
            const std::string text = v.format(flags);
            const DateTime back = DateTime::parse(text, ZonePtr());
            ASSERT_EQ(std::make_tuple(back.value(), back.offsetMinutes(), back.kind()),
                      std::make_tuple(v.value(), v.offsetMinutes(), FixedOffset))
                << text;
            ASSERT_EQ(back.format(flags), text);
        }
    }
}

TEST(Durations, Parse) {
    struct Case {
        const char* text;
        int64_t seconds;
    };
    const int64_t unknown = Duration::kUnknownSeconds;
    const Case cases[] = {
        {"PT1H", 3600},
        {"-PT03H00M", -10800},
        {"+P1W", 604800},
        {"P1DT2H3M4S", 93784},
        {"P2M", 120},
        {"PT", 0},
        {"P", 0},
        {"P15", 0},
        {"P1Y2D", 172800},
        {"P30000D", 30000LL * 86400},
        {"P106751991167300D", 106751991167300LL * 86400},
        {"P106751991167301D", unknown},
        {"P99999999999999999999S", unknown},
        {"", unknown},
        {"1H", unknown},
        {"-", unknown},
        {"T1H", unknown},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(Duration::parse(c.text).count(), c.seconds) << c.text;
    }
}

TEST(Rfc822, Dates) {
    struct Case {
        const char* text;
        bool ok;
        int64_t seconds;
    };
    const Case cases[] = {
        {"Fri, 05 Jan 2024 10:15:00 +0100", true, utc(2024, 1, 5, 9, 15)},
        {"5 Jan 24 10:15:00 GMT", true, utc(2024, 1, 5, 10, 15)},
        {"5 Jan 69 10:15:00 GMT", true, utc(2069, 1, 5, 10, 15)},
        {"5 Jan 70 10:15:00 GMT", true, utc(1970, 1, 5, 10, 15)},
        {"Mon,   5 jAN 2024 10:15:00 EST", true, utc(2024, 1, 5, 15, 15)},
        {" 5 Jan 2024 10:15:00 Z", true, utc(2024, 1, 5, 10, 15)},
        {"5 Jan 2024 10:15:60 GMT", true, utc(2024, 1, 5, 10, 16)},
        {"5 Jan 2024 10:15:00 ", true, utc(2024, 1, 5, 10, 15)},
        {"5 Jan 2024 10:15:00 +05", true, utc(2024, 1, 5, 5, 15)},
        {"5 Jan 2024 10:15:00", false, 0},
        {"5 Jan 2024 10:15:61 GMT", false, 0},
        {"5 Jan 2024 24:00:00 GMT", false, 0},
        {"5 Jan 2024 10:60:00 GMT", false, 0},
        {"5 Jan 1899 10:15:00 GMT", false, 0},
        {"5 Jan 2024 10:15 GMT", false, 0},
        {"5 Jnx 2024 10:15:00 GMT", false, 0},
        {"5  Jan 2024 10:15:00 GMT", false, 0},
        {"5 Jan 202 10:15:00 GMT", false, 0},
        {"x5 Jan 2024 10:15:00 GMT", false, 0},
        {"31 Dec 1969 23:59:59 +0000", false, 0},  // -1 is refused
        {"", false, 0},
        {"5 Ja", false, 0},
    };
    for (const Case& c : cases) {
        int64_t out = 42;
        EXPECT_EQ(parseRfc822DateTime(c.text, &out), c.ok) << c.text;
        EXPECT_EQ(out, c.ok ? c.seconds : 42) << c.text;
    }
    int64_t out;
    EXPECT_FALSE(parseRfc822DateTime(nullptr, &out));
    EXPECT_FALSE(parseRfc822DateTime("5 Jan 2024 10:15:00 GMT", nullptr));
}

TEST(Rfc822, Zones) {
    struct Case {
        const char* text;
        int minutes;
    };
    const Case cases[] = {
        {"EDT", -240}, {"EST", -300}, {"ADT", -180},   {"AST", -240}, {"HST", -600},   {"Z", 0},
        {"A", 60},     {"N", -60},    {"UT", 0},       {"CEST", 0},   {"-0330", -210}, {"+0100", 60},
        {"gmt", 0},    {"pdt", -420}, {"PST", -480},   {"CDT", -300}, {"cst", -360},   {"MDT", -360},
        {"mst", -420}, {"M", 780},    {"Y", -720},     {"J", 600},    {"BST", -660},   {"YDT", -480},
        {"XYZ", 0},    {"+05", 300},  {"-11", -660},   {"+5", 0},     {"+053", 0},     {"+x", 0},
        {"", 0},       {"1", 0},      {"+05300", 330}, {"eDt", -240},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(rfc822ZoneMinutes(c.text), c.minutes) << c.text;
    }
    EXPECT_EQ(rfc822ZoneMinutes(nullptr), 0);
    int minutes = 7;
    EXPECT_TRUE(namedZoneMinutes("MST", &minutes));
    EXPECT_EQ(minutes, -420);
    minutes = 7;
    EXPECT_FALSE(namedZoneMinutes("ADT", &minutes));
    EXPECT_FALSE(namedZoneMinutes(nullptr, &minutes));
    EXPECT_EQ(minutes, 7);
}
