// FILETIME and SYSTEMTIME conversions, the clocks and the locale ids.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <time.h>

#include <string>

#include "winplat/inject.h"
#include "winplat/kernel.h"
#include "winplat/locale.h"
#include "winplat/time.h"

namespace {

FILETIME ft(uint64_t v) {
    FILETIME f;
    f.dwLowDateTime = static_cast<DWORD>(v & 0xFFFFFFFFu);
    f.dwHighDateTime = static_cast<DWORD>(v >> 32);
    return f;
}

uint64_t ticks(const FILETIME& f) {
    return (static_cast<uint64_t>(f.dwHighDateTime) << 32) | f.dwLowDateTime;
}

SYSTEMTIME st(int y, int mo, int d, int h = 0, int mi = 0, int s = 0, int ms = 0, int dow = 0) {
    SYSTEMTIME t;
    t.wYear = static_cast<WORD>(y);
    t.wMonth = static_cast<WORD>(mo);
    t.wDayOfWeek = static_cast<WORD>(dow);
    t.wDay = static_cast<WORD>(d);
    t.wHour = static_cast<WORD>(h);
    t.wMinute = static_cast<WORD>(mi);
    t.wSecond = static_cast<WORD>(s);
    t.wMilliseconds = static_cast<WORD>(ms);
    return t;
}

std::string text(const SYSTEMTIME& t) {
    char buf[64];
    snprintf(buf, sizeof buf, "%04u-%02u-%02u %02u:%02u:%02u.%03u dow%u", t.wYear, t.wMonth, t.wDay, t.wHour,
             t.wMinute, t.wSecond, t.wMilliseconds, t.wDayOfWeek);
    return buf;
}

std::string toText(uint64_t v) {
    FILETIME f = ft(v);
    SYSTEMTIME t{};
    EXPECT_TRUE(FileTimeToSystemTime(&f, &t));
    return text(t);
}

uint64_t toTicks(const SYSTEMTIME& t) {
    FILETIME f{};
    EXPECT_TRUE(SystemTimeToFileTime(&t, &f)) << text(t);
    return ticks(f);
}

}  // namespace

TEST(TimeConversion, KnownInstants) {
    EXPECT_EQ(toText(0), "1601-01-01 00:00:00.000 dow1");
    EXPECT_EQ(toText(116444736000000000ull), "1970-01-01 00:00:00.000 dow4");
    EXPECT_EQ(toText(125911584000000000ull), "2000-01-01 00:00:00.000 dow6");
    EXPECT_EQ(toText(0x7FFFFFFFFFFFFFFFull), "30828-09-14 02:48:05.477 dow4");
    // 100 ns below a millisecond stay below it.
    EXPECT_EQ(toText(116444736000000000ull + 9999), "1970-01-01 00:00:00.000 dow4");
    EXPECT_EQ(toText(116444736000000000ull + 10000), "1970-01-01 00:00:00.001 dow4");
    EXPECT_EQ(toTicks(st(1601, 1, 1)), 0u);
    EXPECT_EQ(toTicks(st(1970, 1, 1)), 116444736000000000ull);
    EXPECT_EQ(toTicks(st(2000, 1, 1, 0, 0, 0, 0, 5 /* ignored */)), 125911584000000000ull);
}

TEST(TimeConversion, RoundTripsAcrossLeapDaysAndCenturies) {
    const SYSTEMTIME cases[] = {
        st(1601, 1, 1, 0, 0, 0, 1),
        st(1604, 2, 29, 23, 59, 59, 999),
        st(1700, 2, 28, 12),
        st(1700, 3, 1, 0),
        st(1900, 2, 28, 1, 2, 3, 4),
        st(1900, 3, 1),
        st(2000, 2, 29, 6, 30),
        st(2000, 12, 31, 23, 59, 59, 999),
        st(2024, 2, 29, 8, 15, 0, 250),
        st(2100, 3, 1),
        st(9999, 12, 31, 23, 59, 59, 999),
        st(30827, 12, 31, 23, 59, 59, 999),
    };
    for (const SYSTEMTIME& in : cases) {
        FILETIME f = ft(toTicks(in));
        SYSTEMTIME out{};
        ASSERT_TRUE(FileTimeToSystemTime(&f, &out));
        SYSTEMTIME cmp = in;
        cmp.wDayOfWeek = out.wDayOfWeek;
        EXPECT_EQ(text(out), text(cmp));
    }
    // Consecutive days differ by one day exactly, across the leap days.
    const uint64_t day = 864000000000ull;
    EXPECT_EQ(toTicks(st(2000, 3, 1)) - toTicks(st(2000, 2, 29)), day);
    EXPECT_EQ(toTicks(st(1900, 3, 1)) - toTicks(st(1900, 2, 28)), day);
    EXPECT_EQ(toTicks(st(2001, 1, 1)) - toTicks(st(2000, 1, 1)), 366 * day);
    EXPECT_EQ(toTicks(st(2101, 1, 1)) - toTicks(st(2100, 1, 1)), 365 * day);
    // Weekdays: 2024-02-29 was a Thursday, 1900-01-01 a Monday.
    EXPECT_EQ(toText(toTicks(st(2024, 2, 29))), "2024-02-29 00:00:00.000 dow4");
    EXPECT_EQ(toText(toTicks(st(1900, 1, 1))), "1900-01-01 00:00:00.000 dow1");
}

TEST(TimeConversion, OutOfRangeInputIsRefused) {
    const SYSTEMTIME bad[] = {
        st(1600, 12, 31),   st(30828, 1, 1),       st(2023, 2, 29),          st(1900, 2, 29),
        st(2024, 0, 1),     st(2024, 13, 1),       st(2024, 4, 31),          st(2024, 1, 0),
        st(2024, 1, 1, 24), st(2024, 1, 1, 0, 60), st(2024, 1, 1, 0, 0, 60), st(2024, 1, 1, 0, 0, 0, 1000),
    };
    for (const SYSTEMTIME& in : bad) {
        FILETIME f = ft(0x1234);
        SetLastError(0);
        EXPECT_FALSE(SystemTimeToFileTime(&in, &f)) << text(in);
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER)) << text(in);
        EXPECT_EQ(ticks(f), 0x1234u) << text(in);
    }
    FILETIME big = ft(0x8000000000000000ull);
    SYSTEMTIME out = st(1, 2, 3);
    SetLastError(0);
    EXPECT_FALSE(FileTimeToSystemTime(&big, &out));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
    EXPECT_EQ(out.wYear, 1);
    EXPECT_FALSE(FileTimeToSystemTime(nullptr, &out));
    EXPECT_FALSE(SystemTimeToFileTime(nullptr, &big));

    winplat::inject::Scope scope;
    winplat::inject::arm("FileTimeToSystemTime", ERROR_INVALID_PARAMETER);
    FILETIME zero = ft(0);
    EXPECT_FALSE(FileTimeToSystemTime(&zero, &out));
    EXPECT_EQ(out.wYear, 1);
    winplat::inject::arm("SystemTimeToFileTime", ERROR_INVALID_PARAMETER);
    SYSTEMTIME ok = st(2000, 1, 1);
    EXPECT_FALSE(SystemTimeToFileTime(&ok, &zero));
}

TEST(TimeConversion, ClocksAgreeWithTheSystem) {
    // The system clock in ticks around the calls; time() would not do: it
    // reads a coarser clock, which may still show the second before.
    const auto systemTicks = [] {
        struct timespec ts;
        clock_gettime(CLOCK_REALTIME, &ts);
        return 116444736000000000ull + static_cast<uint64_t>(ts.tv_sec) * 10000000u +
               static_cast<uint64_t>(ts.tv_nsec) / 100;
    };
    const uint64_t before = systemTicks();
    FILETIME now;
    GetSystemTimeAsFileTime(&now);
    SYSTEMTIME utc;
    GetSystemTime(&utc);
    const uint64_t after = systemTicks();
    EXPECT_GE(ticks(now), before);
    EXPECT_LE(ticks(now), after);
    // A SYSTEMTIME holds whole milliseconds.
    uint64_t utcTicks = toTicks(utc);
    EXPECT_GE(utcTicks, before / 10000 * 10000);
    EXPECT_LE(utcTicks, after);

    ULONGLONG t1 = GetTickCount64();
    ULONGLONG t2 = GetTickCount64();
    EXPECT_GT(t1, 0u);
    EXPECT_GE(t2, t1);
}

TEST(TimeConversion, LocalTimeFollowsTheProcessTimeZone) {
    std::string oldTz;
    bool hadTz = getenv("TZ") != nullptr;
    if (hadTz)
        oldTz = getenv("TZ");
    setenv("TZ", "EST5", 1);  // five hours west, no daylight time
    tzset();
    SYSTEMTIME utcBefore, local, utcAfter;
    GetSystemTime(&utcBefore);
    GetLocalTime(&local);
    GetSystemTime(&utcAfter);
    if (hadTz) {
        setenv("TZ", oldTz.c_str(), 1);
    } else {
        unsetenv("TZ");
    }
    tzset();
    const uint64_t fiveHours = 5ull * 3600 * 10000000;
    uint64_t l = toTicks(local) + fiveHours;
    EXPECT_GE(l, toTicks(utcBefore));
    EXPECT_LE(l, toTicks(utcAfter));
}

TEST(Locale, OneLocaleEverywhere) {
    EXPECT_EQ(GetUserDefaultLCID(), 1033u);
    EXPECT_EQ(GetSystemDefaultLCID(), 1033u);
    EXPECT_EQ(GetThreadLocale(), 1033u);
}
