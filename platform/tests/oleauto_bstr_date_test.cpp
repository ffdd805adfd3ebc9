#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>

#include "winplat/inject.h"
#include "winplat/oleauto.h"

namespace {

using winplat::com::liveBstrCount;

TEST(OleAutoBstr, LayoutLengthsAndLiveCount) {
    const int64_t before = liveBstrCount();
    BSTR s = SysAllocString(L"abc");
    ASSERT_NE(s, nullptr);
    EXPECT_EQ(liveBstrCount(), before + 1);
    EXPECT_EQ(SysStringLen(s), 3u);
    EXPECT_EQ(SysStringByteLen(s), 3u * sizeof(WCHAR));
    uint32_t prefix = 0;
    std::memcpy(&prefix, reinterpret_cast<const char*>(s) - sizeof(prefix), sizeof(prefix));
    EXPECT_EQ(prefix, 3u * sizeof(WCHAR));
    EXPECT_EQ(s[3], 0);
    EXPECT_EQ(std::wstring(s), L"abc");

    // Counted copies keep embedded NULs; a null source gives zeroed characters.
    BSTR counted = SysAllocStringLen(L"a\0bcdef", 3);
    EXPECT_EQ(SysStringLen(counted), 3u);
    EXPECT_EQ(std::wstring(counted, 3), std::wstring(L"a\0b", 3));
    EXPECT_EQ(counted[3], 0);
    BSTR zeroed = SysAllocStringLen(nullptr, 4);
    EXPECT_EQ(SysStringLen(zeroed), 4u);
    for (int i = 0; i <= 4; ++i) {
        EXPECT_EQ(zeroed[i], 0);
    }
    // Empty but not null.
    BSTR empty = SysAllocString(L"");
    ASSERT_NE(empty, nullptr);
    EXPECT_EQ(SysStringLen(empty), 0u);
    EXPECT_EQ(liveBstrCount(), before + 4);

    SysFreeString(s);
    SysFreeString(counted);
    SysFreeString(zeroed);
    SysFreeString(empty);
    EXPECT_EQ(liveBstrCount(), before);

    EXPECT_EQ(SysAllocString(nullptr), nullptr);
    SysFreeString(nullptr);
    EXPECT_EQ(SysStringLen(nullptr), 0u);
    EXPECT_EQ(SysStringByteLen(nullptr), 0u);
    EXPECT_EQ(liveBstrCount(), before);
}

TEST(OleAutoBstr, ReallocAndFailures) {
    winplat::inject::Scope scope;
    const int64_t before = liveBstrCount();
    BSTR s = SysAllocString(L"old");
    ASSERT_TRUE(SysReAllocString(&s, L"newer"));
    EXPECT_EQ(std::wstring(s), L"newer");
    EXPECT_EQ(liveBstrCount(), before + 1);

    winplat::inject::arm("SysAllocString", 0);
    EXPECT_FALSE(SysReAllocString(&s, L"lost"));
    EXPECT_EQ(std::wstring(s), L"newer");  // unchanged on failure
    EXPECT_EQ(liveBstrCount(), before + 1);
    SysFreeString(s);

    winplat::inject::arm("SysAllocStringLen", 0);
    EXPECT_EQ(SysAllocStringLen(L"x", 1), nullptr);
    EXPECT_EQ(liveBstrCount(), before);
    EXPECT_FALSE(SysReAllocString(nullptr, L"x"));
}

SYSTEMTIME st(WORD y, WORD mo, WORD d, WORD h = 0, WORD mi = 0, WORD s = 0, WORD ms = 0) {
    SYSTEMTIME t{};
    t.wYear = y;
    t.wMonth = mo;
    t.wDay = d;
    t.wHour = h;
    t.wMinute = mi;
    t.wSecond = s;
    t.wMilliseconds = ms;
    return t;
}

::testing::AssertionResult isTime(double date, const SYSTEMTIME& want, WORD dayOfWeek) {
    SYSTEMTIME got{};
    got.wMilliseconds = 999;
    if (!VariantTimeToSystemTime(date, &got)) {
        return ::testing::AssertionFailure() << date << " refused";
    }
    if (got.wYear != want.wYear || got.wMonth != want.wMonth || got.wDay != want.wDay ||
        got.wHour != want.wHour || got.wMinute != want.wMinute || got.wSecond != want.wSecond ||
        got.wMilliseconds != 0 || got.wDayOfWeek != dayOfWeek) {
        return ::testing::AssertionFailure()
               << date << " gave " << got.wYear << "-" << got.wMonth << "-" << got.wDay << " " << got.wHour
               << ":" << got.wMinute << ":" << got.wSecond << "." << got.wMilliseconds << " dow "
               << got.wDayOfWeek;
    }
    return ::testing::AssertionSuccess();
}

double toDate(SYSTEMTIME t) {
    double d = std::numeric_limits<double>::quiet_NaN();
    EXPECT_TRUE(SystemTimeToVariantTime(&t, &d));
    return d;
}

TEST(OleAutoDate, DocumentedValues) {
    EXPECT_EQ(toDate(st(1900, 1, 1)), 2.0);
    EXPECT_EQ(toDate(st(1900, 1, 1, 12)), 2.5);
    EXPECT_EQ(toDate(st(1900, 1, 2, 6)), 3.25);
    EXPECT_EQ(toDate(st(1899, 12, 30)), 0.0);
    EXPECT_EQ(toDate(st(1899, 12, 29, 6)), -1.25);  // fraction counts forward from the day's start
    EXPECT_EQ(toDate(st(2000, 1, 1)), 36526.0);
    EXPECT_EQ(toDate(st(100, 1, 1)), -657434.0);
    EXPECT_EQ(toDate(st(9999, 12, 31)), 2958465.0);
    // Milliseconds are ignored.
    EXPECT_EQ(toDate(st(2000, 1, 1, 12, 0, 0, 999)), 36526.5);

    EXPECT_TRUE(isTime(2.0, st(1900, 1, 1), 1));
    EXPECT_TRUE(isTime(3.25, st(1900, 1, 2, 6), 2));
    EXPECT_TRUE(isTime(0.0, st(1899, 12, 30), 6));
    EXPECT_TRUE(isTime(-1.25, st(1899, 12, 29, 6), 5));
    EXPECT_TRUE(isTime(-0.25, st(1899, 12, 30, 6), 6));  // same as 0.25
    EXPECT_TRUE(isTime(36526.0, st(2000, 1, 1), 6));
    EXPECT_TRUE(isTime(-657434.0, st(100, 1, 1), 5));
    EXPECT_TRUE(isTime(2958465.0 + 86399.0 / 86400.0, st(9999, 12, 31, 23, 59, 59), 5));
}

TEST(OleAutoDate, RoundsToTheNearestSecondHalfUp) {
    const double second = 1.0 / 86400.0;
    EXPECT_TRUE(isTime(36526.0 + 0.49 * second, st(2000, 1, 1), 6));
    EXPECT_TRUE(isTime(36526.0 + 0.5 * second, st(2000, 1, 1, 0, 0, 1), 6));
    // Half a second before midnight carries into the next day, also before 1899.
    EXPECT_TRUE(isTime(36526.0 + 86399.5 * second, st(2000, 1, 2), 0));
    EXPECT_TRUE(isTime(-1.0 - 86399.6 * second, st(1899, 12, 30), 6));
    EXPECT_TRUE(isTime(-2.0 - 0.5 * second, st(1899, 12, 28, 0, 0, 1), 4));
}

TEST(OleAutoDate, NormalisationAndRefusals) {
    EXPECT_EQ(toDate(st(1980, 2, 30)), toDate(st(1980, 3, 1)));  // leap year: Feb has 29 days
    EXPECT_EQ(toDate(st(1980, 1, 0)), toDate(st(1979, 12, 31)));
    double d = 123.0;
    for (SYSTEMTIME bad :
         {st(1980, 13, 1), st(1980, 0, 1), st(1980, 1, 32), st(1980, 1, 1, 24), st(1980, 1, 1, 0, 60),
          st(1980, 1, 1, 0, 0, 60), st(99, 12, 31), st(10000, 1, 1), st(100, 1, 0)}) {
        EXPECT_FALSE(SystemTimeToVariantTime(&bad, &d)) << bad.wYear << "-" << bad.wMonth << "-" << bad.wDay;
        EXPECT_EQ(d, 123.0);
    }
    SYSTEMTIME out = st(1, 2, 3);
    for (double bad : {-657435.0, 2958466.0, 2958465.0 + 86399.5 / 86400.0, std::nan("")}) {
        EXPECT_FALSE(VariantTimeToSystemTime(bad, &out)) << bad;
        EXPECT_EQ(out.wYear, 1);
    }
    EXPECT_TRUE(VariantTimeToSystemTime(-657434.5, &out));  // noon of the first day
    EXPECT_EQ(out.wHour, 12);
}

TEST(OleAutoDate, RoundTripsEverySecondOfSampleDays) {
    for (SYSTEMTIME day :
         {st(1601, 1, 1), st(1899, 12, 29), st(1899, 12, 31), st(1970, 6, 15), st(2024, 2, 29)}) {
        for (int s = 0; s < 86400; s += 7) {
            SYSTEMTIME t = day;
            t.wHour = static_cast<WORD>(s / 3600);
            t.wMinute = static_cast<WORD>(s / 60 % 60);
            t.wSecond = static_cast<WORD>(s % 60);
            double date = 0;
            ASSERT_TRUE(SystemTimeToVariantTime(&t, &date));
            SYSTEMTIME back{};
            ASSERT_TRUE(VariantTimeToSystemTime(date, &back));
            ASSERT_EQ(back.wYear, t.wYear);
            ASSERT_EQ(back.wMonth, t.wMonth);
            ASSERT_EQ(back.wDay, t.wDay);
            ASSERT_EQ(back.wHour, t.wHour);
            ASSERT_EQ(back.wMinute, t.wMinute);
            ASSERT_EQ(back.wSecond, t.wSecond) << date;
        }
    }
}

}  // namespace
