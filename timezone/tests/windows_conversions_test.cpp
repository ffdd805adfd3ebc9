// The Windows date conversions: transition dates against <chrono>, biases
// and local/UTC conversions against the C library under the same rules as
// POSIX TZ strings, and every raise site.
#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <climits>
#include <functional>
#include <random>
#include <string>
#include <tuple>

#include "CommonBase/HResultException.h"
#include "ScopedTz.h"
#include "timezone/DateTimeFunctions.h"
#include "winplat/inject.h"
#include "winplat/oleauto.h"

using namespace tavlo::timezone;
namespace chr = std::chrono;

namespace {

SYSTEMTIME st(int y, int mo, int d, int h = 0, int mi = 0, int s = 0) {
    return makeSystemTime(y, mo, d, h, mi, s, 0);
}

SYSTEMTIME rule(int month, int weekday, int occurrence, int hour, int minute = 0) {
    SYSTEMTIME r{};
    r.wMonth = static_cast<WORD>(month);
    r.wDayOfWeek = static_cast<WORD>(weekday);
    r.wDay = static_cast<WORD>(occurrence);
    r.wHour = static_cast<WORD>(hour);
    r.wMinute = static_cast<WORD>(minute);
    return r;
}

TIME_ZONE_INFORMATION tzi(int bias, int daylightBias, SYSTEMTIME standard, SYSTEMTIME daylight) {
    TIME_ZONE_INFORMATION z{};
    z.Bias = bias;
    z.DaylightBias = daylightBias;
    z.StandardDate = standard;
    z.DaylightDate = daylight;
    return z;
}

const TIME_ZONE_INFORMATION kEastern = tzi(300, -60, rule(11, 0, 1, 2), rule(3, 0, 2, 2));
const TIME_ZONE_INFORMATION kSydney = tzi(-600, -60, rule(4, 0, 1, 3), rule(10, 0, 1, 2));
const TIME_ZONE_INFORMATION kKolkata = tzi(-330, 0, SYSTEMTIME{}, SYSTEMTIME{});

int64_t utcSeconds(int y, int m, int d, int h = 0, int mi = 0) {
    CalendarFields f{0, mi, h, d, m - 1, y - 1900};
    return timeFromCalendar(f);
}

std::tuple<int, int, int, int, int, int, int> fieldsOf(const SYSTEMTIME& s) {
    return {s.wYear, s.wMonth, s.wDay, s.wHour, s.wMinute, s.wSecond, s.wDayOfWeek};
}

SYSTEMTIME systemTimeAtSeconds(int64_t t) {
    return dateTimeToSystemTime(DateTime(t));
}

// Runs `call` and answers the raised error's HRESULT and message.
std::pair<HRESULT, std::string> raised(const std::function<void()>& call) {
    try {
        call();
    } catch (const HResultException& e) {
        return {e.getHResult(), e.what()};
    }
    return {S_OK, ""};
}

}  // namespace

TEST(DaylightDate, MatchesChronoForEveryRule) {
    for (int year = 1990; year <= 2100; ++year) {
        for (unsigned month = 1; month <= 12; ++month) {
            for (unsigned weekday = 0; weekday <= 6; ++weekday) {
                for (unsigned n = 1; n <= 5; ++n) {
                    const chr::year_month ym = chr::year(year) / chr::month(month);
                    const chr::year_month_day expected =
                        n == 5 ? chr::year_month_day(
                                     chr::sys_days(ym / chr::weekday_last(chr::weekday(weekday))))
                               : chr::year_month_day(chr::sys_days(ym / chr::weekday(weekday)[n]));
                    const SYSTEMTIME got = getDaylightDate(rule(month, weekday, n, 2, 30), year);
                    ASSERT_EQ(fieldsOf(got),
                              std::make_tuple(year, static_cast<int>(month),
                                              static_cast<int>(static_cast<unsigned>(expected.day())), 2, 30,
                                              0, static_cast<int>(weekday)))
                        << year << "/" << month << " " << weekday << "#" << n;
                }
            }
        }
    }
    EXPECT_EQ(fieldsOf(getDaylightDate(rule(3, 0, 5, 2), 2024)), std::make_tuple(2024, 3, 31, 2, 0, 0, 0));
    EXPECT_EQ(fieldsOf(getDaylightDate(rule(3, 0, 2, 2), 2024)), std::make_tuple(2024, 3, 10, 2, 0, 0, 0));
    EXPECT_EQ(fieldsOf(getDaylightDate(rule(10, 0, 5, 0), 2023)), std::make_tuple(2023, 10, 29, 0, 0, 0, 0));
}

TEST(Bias, DocumentedVectors) {
    struct Case {
        SYSTEMTIME moment;
        bool isUtc;
        int bias;
    };
    const Case cases[] = {
        {st(2024, 7, 1, 12), false, 240}, {st(2024, 1, 15, 12), false, 300},
        {st(2024, 3, 10, 2), false, 300}, {st(2024, 11, 3, 2), false, 240},
        {st(2024, 7, 1, 16), true, 240},  {st(2024, 3, 10, 7), true, 300},
        {st(2024, 11, 3, 6), true, 240},  {st(2024, 11, 3, 6, 1), true, 300},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(timeZoneBias(c.moment, true, c.isUtc, &kEastern), c.bias)
            << c.moment.wMonth << " " << c.isUtc;
    }
    EXPECT_EQ(fieldsOf(localToGmt(st(2024, 7, 1, 12), true, &kEastern)),
              std::make_tuple(2024, 7, 1, 16, 0, 0, 1));
    EXPECT_EQ(fieldsOf(gmtToLocal(st(2024, 7, 1, 16), true, &kEastern)),
              std::make_tuple(2024, 7, 1, 12, 0, 0, 1));
    EXPECT_EQ(timeZoneBias(st(2024, 7, 1), true, false, &kKolkata), -330);
    // Daylight time across the new year ends at 03:00 daylight time, 16:00 UTC.
    EXPECT_EQ(timeZoneBias(st(2024, 4, 6, 15, 59), true, true, &kSydney), -660);
    EXPECT_EQ(timeZoneBias(st(2024, 4, 6, 16, 1), true, true, &kSydney), -600);
    // Results beyond the OLE range are empty.
    EXPECT_EQ(fieldsOf(gmtToLocal(st(9999, 12, 31, 23), true, &kSydney)), fieldsOf(SYSTEMTIME{}));
}

struct BiasZone {
    const char* name;
    const char* posix;
    TIME_ZONE_INFORMATION record;
};

// Test names must not show the record's bytes: they hold an address.
void PrintTo(const BiasZone& zone, std::ostream* os) {
    *os << zone.name;
}

class BiasAgainstCLibrary : public ::testing::TestWithParam<BiasZone> {};

// Every half hour of two years, both directions; exact change instants and
// wall times that a change skips or repeats are left to DocumentedVectors.
TEST_P(BiasAgainstCLibrary, EveryHalfHour) {
    ScopedTz tz(GetParam().posix);
    const TIME_ZONE_INFORMATION& z = GetParam().record;
    TIME_ZONE_INFORMATION machine;
    GetTimeZoneInformation(&machine);
    EXPECT_EQ(std::make_tuple(machine.Bias, machine.DaylightBias, machine.StandardBias),
              std::make_tuple(z.Bias, z.DaylightBias, z.StandardBias));
    EXPECT_TRUE(systemTimeEqual(machine.StandardDate, z.StandardDate));
    EXPECT_TRUE(systemTimeEqual(machine.DaylightDate, z.DaylightDate));
    const long offsets[] = {-z.Bias * 60L, -(z.Bias + z.DaylightBias) * 60L};
    int localChecked = 0;
    for (int64_t t = utcSeconds(2024, 1, 1); t < utcSeconds(2026, 1, 1); t += 1800) {
        const long off = glibcOffset(t);
        const SYSTEMTIME utc = systemTimeAtSeconds(t);
        const SYSTEMTIME wall = systemTimeAtSeconds(t + off);
        if (glibcOffset(t - 1) == off) {
            ASSERT_EQ(timeZoneBias(utc, true, true, &z), -off / 60) << t;
            ASSERT_EQ(fieldsOf(gmtToLocal(utc, true, &z)), fieldsOf(wall)) << t;
            ASSERT_EQ(timeZoneBias(utc, true, true, nullptr), -off / 60) << t;
        }
        int readings = 0;
        for (long o : offsets) {
            readings += glibcOffset(t + off - o) == o ? 1 : 0;
        }
        const bool atChange = offsets[0] != offsets[1] &&
                              (fieldsOf(wall) == fieldsOf(getDaylightDate(z.StandardDate, wall.wYear)) ||
                               fieldsOf(wall) == fieldsOf(getDaylightDate(z.DaylightDate, wall.wYear)));
        if ((readings == 1 || offsets[0] == offsets[1]) && !atChange) {
            ++localChecked;
            ASSERT_EQ(timeZoneBias(wall, true, false, &z), -off / 60) << t;
            ASSERT_EQ(fieldsOf(localToGmt(wall, true, &z)), fieldsOf(utc)) << t;
        }
    }
    EXPECT_GT(localChecked, 35000);
}

INSTANTIATE_TEST_SUITE_P(Zones, BiasAgainstCLibrary,
                         ::testing::Values(BiasZone{"Eastern", "EST5EDT,M3.2.0,M11.1.0", kEastern},
                                           BiasZone{"Sydney", "AEST-10AEDT,M10.1.0,M4.1.0/3", kSydney},
                                           BiasZone{"Kolkata", "IST-5:30", kKolkata}),
                         [](const ::testing::TestParamInfo<BiasZone>& info) {
                             return std::string(info.param.name);
                         });

TEST(Bias, PresentMomentOfTheMachine) {
    ScopedTz tz("EST5EDT,M3.2.0,M11.1.0");
    const auto present = [] { return static_cast<int>(-glibcOffset(time(nullptr)) / 60); };
    const struct {
        SYSTEMTIME moment;
        const TIME_ZONE_INFORMATION* zone;
    } cases[] = {{st(2001, 1, 1), nullptr}, {st(2001, 7, 1), &kEastern}};
    for (const auto& c : cases) {
        // A change of season may fall between the readings: either side will do.
        const int before = present();
        const int bias = timeZoneBias(c.moment, false, false, c.zone);
        const int after = present();
        EXPECT_TRUE(bias == before || bias == after) << bias;
    }
}

// A moment is accepted exactly when the OLE date form holds it unchanged,
// and minutes are added on the OLE time line.
TEST(Bias, AcceptedDatesAreThoseOfTheOleForm) {
    std::mt19937 rng(5);
    std::uniform_int_distribution<int> year(0, 10010), month(0, 13), day(0, 32), hour(0, 24), minute(0, 60);
    int accepted = 0;
    for (int i = 0; i < 60000; ++i) {
        const int y = i % 3 == 0 ? year(rng) : 1580 + year(rng) % 60;
        SYSTEMTIME s = st(y, month(rng), day(rng), hour(rng), minute(rng), minute(rng));
        SYSTEMTIME copy = s, back{};
        double date = 0;
        const bool ole =
            SystemTimeToVariantTime(&copy, &date) && VariantTimeToSystemTime(date, &back) &&
            std::make_tuple(back.wYear, back.wMonth, back.wDay, back.wHour, back.wMinute, back.wSecond) ==
                std::make_tuple(s.wYear, s.wMonth, s.wDay, s.wHour, s.wMinute, s.wSecond);
        SYSTEMTIME got = st(0, 0, 0);
        HRESULT hr = S_OK;
        try {
            got = localToGmt(s, true, &kKolkata);
        } catch (const HResultException& e) {
            hr = e.getHResult();
        }
        ASSERT_EQ(hr, ole ? S_OK : E_INVALIDARG) << y << "-" << s.wMonth << "-" << s.wDay << " " << s.wHour;
        if (ole) {
            ++accepted;
            const double whole = std::ceil(date);
            const double linear = (date >= 0 ? date : whole - (date - whole)) - 330.0 / 1440.0;
            const double shifted = linear >= 0 ? linear : std::floor(linear) - (linear - std::floor(linear));
            SYSTEMTIME expected{};
            if (VariantTimeToSystemTime(shifted, &expected)) {
                ASSERT_EQ(fieldsOf(got), fieldsOf(expected)) << y << "-" << s.wMonth << "-" << s.wDay;
            } else {
                ASSERT_EQ(fieldsOf(got), fieldsOf(SYSTEMTIME{}));
            }
        }
    }
    EXPECT_GT(accepted, 6000);
}

TEST(RaiseSites, CodeLineAndFunction) {
    const SYSTEMTIME ok = st(2024, 7, 1, 12);
    FILETIME huge{0, 0x80000000u};
    const TIME_ZONE_INFORMATION noOccurrence = tzi(300, -60, rule(11, 0, 0, 2), rule(3, 0, 2, 2));
    const TIME_ZONE_INFORMATION noWeekday = tzi(300, -60, rule(11, 0, 1, 2), rule(3, 9, 2, 2));
    struct Case {
        std::function<void()> call;
        HRESULT hr;
        const char* where;
    };
    const Case cases[] = {
        {[&] { fileTimeToSystemTime(huge); }, E_INVALIDARG, "(783), fileTimeToSystemTime"},
        {[&] { systemTimeToFileTime(st(2024, 13, 1)); }, E_INVALIDARG, "(794), systemTimeToFileTime"},
        {[&] { systemTimeToFileTime(st(1600, 12, 31)); }, E_INVALIDARG, "(794), systemTimeToFileTime"},
        {[&] { getDaylightDate(rule(3, 0, 2, 2), 10000); }, E_FAIL, "(180), getDaylightDate"},
        {[&] { getDaylightDate(rule(0, 0, 2, 2), 2024); }, E_FAIL, "(180), getDaylightDate"},
        {[&] { getDaylightDate(rule(3, 0, 0, 2), 2024); }, E_FAIL, "(180), getDaylightDate"},
        {[&] { getDaylightDate(rule(3, 0, 6, 2), 2024); }, E_FAIL, "(180), getDaylightDate"},
        {[&] { getDaylightDate(rule(3, 7, 1, 2), 2024); }, E_FAIL, "(180), getDaylightDate"},
        {[&] { getDaylightDate(rule(13, 0, 1, 2), 2024); }, E_FAIL, "(206), getDaylightDate"},
        {[&] { getDaylightDate(rule(3, 0, 1, 24), 2024); }, E_FAIL, "(206), getDaylightDate"},
        {[&] { getDaylightDate(rule(3, 0, 1, 2), 99); }, E_FAIL, "(206), getDaylightDate"},
        {[&] { getDaylightDate(rule(3, 0, 1, 2), -5); }, E_FAIL, "(206), getDaylightDate"},
        {[&] { getDaylightDate(rule(12, 0, 5, 2), 9999); }, E_FAIL, "(206), getDaylightDate"},
        {[&] { timeZoneBias(st(2023, 2, 29), true, false, &kEastern); }, E_INVALIDARG, "(238), timeZoneBias"},
        {[&] { timeZoneBias(st(2023, 2, 28, 24), false, true, &kEastern); }, E_INVALIDARG,
         "(238), timeZoneBias"},
        {[&] { localToGmt(st(99, 1, 1), true, &kEastern); }, E_INVALIDARG, "(296), localToGmt"},
        {[&] { gmtToLocal(st(2024, 4, 31), true, &kEastern); }, E_INVALIDARG, "(328), gmtToLocal"},
        // A rule of the record that names no day fails the conversions through getDaylightDate.
        {[&] { localToGmt(ok, true, &noOccurrence); }, E_FAIL, "(180), getDaylightDate"},
        {[&] { gmtToLocal(ok, true, &noWeekday); }, E_FAIL, "(180), getDaylightDate"},
    };
    char hex[16];
    for (const Case& c : cases) {
        const auto [hr, what] = raised(c.call);
        EXPECT_EQ(hr, c.hr) << c.where;
        snprintf(hex, sizeof(hex), "0x%08x", static_cast<unsigned>(c.hr));
        EXPECT_EQ(
            what.rfind(std::string("Exception of class HResultException: CommonBase\\DateTimeFunctions") +
                           c.where + ":\n" + hex,
                       0),
            0u)
            << what;
    }
}

TEST(FileTimes, ConversionsAndFailures) {
    winplat::inject::Scope scope;
    EXPECT_EQ(dateTimeToFileTime(DateTime(0)), 116444736000000000ull);
    EXPECT_EQ(dateTimeToFileTime(DateTime(-11644473600LL)), 0u);
    EXPECT_EQ(dateTimeToFileTime(DateTime(-11644473601LL)), 0u);
    EXPECT_EQ(dateTimeToFileTime(DateTime(INT64_MAX - 1)), static_cast<uint64_t>(INT64_MAX));
    const auto systemTicks = [] {
        FILETIME ft;
        GetSystemTimeAsFileTime(&ft);
        return (static_cast<uint64_t>(ft.dwHighDateTime) << 32) | ft.dwLowDateTime;
    };
    for (const DateTime& none : {DateTime(), DateTime(DateTime::kMarkerValue)}) {
        // The system clock, between two readings of it however long the call takes.
        const uint64_t before = systemTicks();
        const uint64_t now = dateTimeToFileTime(none);
        EXPECT_GE(now, before);
        EXPECT_LE(now, systemTicks());
    }
    std::mt19937_64 rng(3);
    std::uniform_int_distribution<int64_t> dist(-11644473600LL, 884541340799LL);
    for (int i = 0; i < 20000; ++i) {
        const DateTime t(dist(rng));
        const uint64_t ticks = dateTimeToFileTime(t);
        FILETIME ft{static_cast<DWORD>(ticks), static_cast<DWORD>(ticks >> 32)};
        const SYSTEMTIME s = fileTimeToSystemTime(ft);
        ASSERT_EQ(fieldsOf(s), fieldsOf(dateTimeToSystemTime(t)));
        ASSERT_EQ(systemTimeToFileTime(s), ticks);
        ASSERT_EQ(systemTimeToDateTime(s).value(), t.value());
    }
    // The try forms answer the error and leave the output alone.
    SYSTEMTIME untouched = st(1, 2, 3);
    FILETIME bad{0, 0x80000000u};
    EXPECT_EQ(tryFileTimeToSystemTime(bad, &untouched), E_INVALIDARG);
    EXPECT_EQ(fieldsOf(untouched), fieldsOf(st(1, 2, 3)));
    FILETIME ftOut{7, 7};
    EXPECT_EQ(trySystemTimeToFileTime(st(2024, 2, 30), &ftOut), E_INVALIDARG);
    EXPECT_EQ(std::make_tuple(ftOut.dwLowDateTime, ftOut.dwHighDateTime), std::make_tuple(7u, 7u));
    // A failure that reports no error code is not raised.
    winplat::inject::arm("FileTimeToSystemTime", 0);
    FILETIME zero{0, 0};
    EXPECT_EQ(raised([&] { fileTimeToSystemTime(zero); }).first, S_OK);
    winplat::inject::arm("SystemTimeToFileTime", ERROR_NOT_ENOUGH_MEMORY);
    EXPECT_EQ(raised([&] { systemTimeToFileTime(st(2024, 1, 1)); }).first,
              HRESULT_FROM_WIN32(ERROR_NOT_ENOUGH_MEMORY));
}

TEST(SystemTimes, Conversions) {
    // Date-times come out in UTC, all-day dates as their local date.
    DateTime dated(5, 1, 2024, 0, 0, 0, Duration(-5 * 3600));
    EXPECT_EQ(fieldsOf(dateTimeToSystemTime(dated)), std::make_tuple(2024, 1, 5, 5, 0, 0, 5));
    dated.setDateOnly(true);
    EXPECT_EQ(fieldsOf(dateTimeToSystemTime(dated)), std::make_tuple(2024, 1, 5, 0, 0, 0, 5));
    EXPECT_EQ(fieldsOf(dateTimeToLocalSystemTime(dated)), std::make_tuple(2024, 1, 5, 0, 0, 0, 5));
    const DateTime evening(5, 1, 2024, 22, 0, 0, Duration(-5 * 3600));
    EXPECT_EQ(fieldsOf(dateTimeToLocalSystemTime(evening)), std::make_tuple(2024, 1, 5, 22, 0, 0, 5));
    EXPECT_EQ(fieldsOf(dateTimeToSystemTime(DateTime())), fieldsOf(SYSTEMTIME{}));
    EXPECT_EQ(fieldsOf(dateTimeToLocalSystemTime(DateTime(DateTime::kMarkerValue))), fieldsOf(SYSTEMTIME{}));

    EXPECT_EQ(systemTimeToIsoText(st(2024, 1, 5, 10, 15)), "20240105T101500Z");
    EXPECT_EQ(fieldsOf(isoTextToSystemTime("2024-01-05T10:15:00+02:00")),
              std::make_tuple(2024, 1, 5, 8, 15, 0, 5));
    EXPECT_EQ(fieldsOf(isoTextToSystemTime("garbage")), fieldsOf(SYSTEMTIME{}));
    EXPECT_EQ(fieldsOf(rfc822ToSystemTime("Fri, 05 Jan 2024 10:15:00 +0100")),
              std::make_tuple(2024, 1, 5, 9, 15, 0, 5));
    EXPECT_EQ(fieldsOf(rfc822ToSystemTime("5 Jan 2024")), fieldsOf(SYSTEMTIME{}));
    EXPECT_EQ(fieldsOf(utcToZoneWall(st(2024, 1, 5, 10), ZonePtr())),
              std::make_tuple(2024, 1, 5, 10, 0, 0, 5));
    EXPECT_EQ(fieldsOf(zoneWallToUtc(st(2024, 1, 5, 10), ZonePtr())),
              std::make_tuple(2024, 1, 5, 10, 0, 0, 5));
    EXPECT_EQ(utcSystemTimeInZone(st(2024, 1, 5), ZonePtr()).kind(), FixedOffset);

    // Minutes between, over the whole calendar, clamped to int.
    EXPECT_EQ(systemTimeMinutesBetween(st(2024, 1, 5, 10), st(2024, 1, 5, 11, 30)), 90);
    EXPECT_EQ(systemTimeMinutesBetween(st(2024, 1, 5, 11, 30, 59), st(2024, 1, 5, 10)), -90);
    EXPECT_EQ(systemTimeMinutesBetween(st(1601, 1, 1), st(9999, 12, 31)), INT_MAX);
    EXPECT_EQ(systemTimeMinutesBetween(st(9999, 12, 31), st(1601, 1, 1)), INT_MIN);
    EXPECT_EQ(systemTimeMinutesBetween(st(1900, 1, 1), st(3900, 1, 1)), 1051898400);

    const SYSTEMTIME a = st(2024, 1, 5, 10, 15, 1);
    SYSTEMTIME b = a;
    EXPECT_TRUE(systemTimeEqual(a, b));
    b.wMilliseconds = 1;
    EXPECT_TRUE(systemTimeDiffers(a, b));
    TIME_ZONE_INFORMATION x = kEastern, y = kEastern;
    EXPECT_TRUE(tziEqual(x, y));
    y.StandardName[31] = L'x';
    EXPECT_FALSE(tziEqual(x, y));
}

// A machine-zone value's local fields are the C runtime's own answer; they
// must be the instant shifted by its offset, as the general road computes
// them: in zones with half-hour seasons, reversed seasons, an offset with
// seconds (Monrovia before 1972), and at the ends of the machine range.
TEST(LocalSystemTime, FloatingFieldsAreTheInstantShiftedByItsOffset) {
    std::mt19937_64 rng(2026);
    std::uniform_int_distribution<int64_t> any(0, 33000000000LL);
    std::uniform_int_distribution<int64_t> early(0, 70000000);  // to 1972-03
    for (const char* zone :
         {"America/New_York", "Australia/Lord_Howe", "Europe/Dublin", "Africa/Monrovia", "Asia/Kathmandu"}) {
        ScopedTz tz(zone);
        std::vector<int64_t> instants = {0, 86400, 86401, 32535215999LL, 32535216000LL};
        for (int i = 0; i < 400; ++i) {
            instants.push_back(any(rng));
            instants.push_back(early(rng));
        }
        DateTime floating(0);
        floating.makeFloating();
        for (const int64_t t : instants) {
            const DateTime v = floating + Duration(t - floating.value());
            const CalendarFields f = calendarFromTime(v.value() + v.offset().seconds());
            ASSERT_EQ(
                fieldsOf(dateTimeToLocalSystemTime(v)),
                std::make_tuple(f.year + 1900, f.month + 1, f.day, f.hour, f.minute, f.second, f.weekday))
                << zone << " at " << t;
        }
    }
}
