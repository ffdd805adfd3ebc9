// The process zone as a TIME_ZONE_INFORMATION, and the C runtime's 64-bit
// time calls against the C library.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <time.h>

#include <optional>
#include <random>
#include <string>
#include <tuple>
#include <vector>

#include "ScopedTz.h"
#include "winplat/inject.h"
#include "winplat/kernel.h"
#include "winplat/time.h"

namespace {

std::string narrow(const WCHAR* text) {
    std::string out;
    for (; *text != 0; ++text) {
        out += static_cast<char>(*text);
    }
    return out;
}

// month.occurrence.weekday@hh:mm:ss
std::string ruleText(const SYSTEMTIME& r) {
    char buf[64];
    snprintf(buf, sizeof(buf), "%d.%d.%d@%02d:%02d:%02d", r.wMonth, r.wDay, r.wDayOfWeek, r.wHour, r.wMinute,
             r.wSecond);
    return buf;
}

struct ZoneCase {
    const char* tz;
    int bias, daylightBias;
    const char *standardName, *daylightName, *daylightDate, *standardDate;
};

}  // namespace

TEST(TimeZoneInformation, FromRuleStringsAndZoneFiles) {
    const ZoneCase cases[] = {
        {"EST5EDT,M3.2.0,M11.1.0", 300, -60, "EST", "EDT", "3.2.0@02:00:00", "11.1.0@02:00:00"},
        {"America/New_York", 300, -60, "EST", "EDT", "3.2.0@02:00:00", "11.1.0@02:00:00"},
        {":America/New_York", 300, -60, "EST", "EDT", "3.2.0@02:00:00", "11.1.0@02:00:00"},
        {"/usr/share/zoneinfo/Europe/Paris", -60, -60, "CET", "CEST", "3.5.0@02:00:00", "10.5.0@03:00:00"},
        {"Australia/Sydney", -600, -60, "AEST", "AEDT", "10.1.0@02:00:00", "4.1.0@03:00:00"},
        {"AEST-10AEDT,M10.1.0,M4.1.0/3", -600, -60, "AEST", "AEDT", "10.1.0@02:00:00", "4.1.0@03:00:00"},
        {"IST-5:30", -330, 0, "IST", "IST", "0.0.0@00:00:00", "0.0.0@00:00:00"},
        {"<+0530>-5:30", -330, 0, "+0530", "+0530", "0.0.0@00:00:00", "0.0.0@00:00:00"},
        {"Asia/Kolkata", -330, 0, "IST", "IST", "0.0.0@00:00:00", "0.0.0@00:00:00"},
        {"UTC", 0, 0, "UTC", "UTC", "0.0.0@00:00:00", "0.0.0@00:00:00"},
        {"", 0, 0, "UTC", "UTC", "0.0.0@00:00:00", "0.0.0@00:00:00"},
        {"1234", 0, 0, "UTC", "UTC", "0.0.0@00:00:00", "0.0.0@00:00:00"},
        {":No/Such_Zone", 0, 0, "UTC", "UTC", "0.0.0@00:00:00", "0.0.0@00:00:00"},
        // Daylight time behind standard time is turned around, as Windows records Ireland.
        {"Europe/Dublin", 0, -60, "GMT", "IST", "3.5.0@01:00:00", "10.5.0@02:00:00"},
        {"Eire", 0, -60, "GMT", "IST", "3.5.0@01:00:00", "10.5.0@02:00:00"},
        {"IST-1GMT0,M10.5.0,M3.5.0/1", 0, -60, "GMT", "IST", "3.5.0@01:00:00", "10.5.0@02:00:00"},
        {"XST-2XDT-1:30,M9.1.0,M4.1.0/3", -90, -30, "XDT", "XST", "4.1.0@03:00:00", "9.1.0@02:00:00"},
        // Zones whose present rules have no such season read as before.
        {"Africa/Casablanca", -60, 0, "+01", "+01", "0.0.0@00:00:00", "0.0.0@00:00:00"},
        {"Africa/Windhoek", -120, 0, "CAT", "CAT", "0.0.0@00:00:00", "0.0.0@00:00:00"},
        // Changes outside the day are clamped to it; a default offset is an hour ahead.
        {"<-04>4<-03>,M9.1.6/24,M4.1.6/24", 240, -60, "-04", "-03", "9.1.6@23:59:59", "4.1.6@23:59:59"},
        {"XST3XDT,M3.5.0/-1,M10.5.0/26", 180, -60, "XST", "XDT", "3.5.0@00:00:00", "10.5.0@23:59:59"},
        {"AAA3BBB2:30,M3.2.0/1:15:30,M11.1.0", 180, -30, "AAA", "BBB", "3.2.0@01:15:30", "11.1.0@02:00:00"},
        // Without rules, the United States ones.
        {"EST5EDT", 300, -60, "EST", "EDT", "3.2.0@02:00:00", "11.1.0@02:00:00"},
    };
    for (const ZoneCase& c : cases) {
        ScopedTz tz(c.tz);
        TIME_ZONE_INFORMATION z;
        const time_t before = time(nullptr);
        const DWORD id = GetTimeZoneInformation(&z);
        const time_t after = time(nullptr);
        EXPECT_EQ(std::make_tuple(z.Bias, z.StandardBias, z.DaylightBias, narrow(z.StandardName),
                                  narrow(z.DaylightName), ruleText(z.DaylightDate), ruleText(z.StandardDate)),
                  std::make_tuple(c.bias, 0, c.daylightBias, std::string(c.standardName),
                                  std::string(c.daylightName), std::string(c.daylightDate),
                                  std::string(c.standardDate)))
            << c.tz;
        // Daylight now is the offset of the record's daylight time, whatever the C library calls it.
        // A change of season may fall between the call and the reading: either side will do.
        const auto expectedAt = [&z](time_t now) {
            struct tm local;
            localtime_r(&now, &local);
            return z.DaylightDate.wMonth == 0                            ? TIME_ZONE_ID_UNKNOWN
                   : local.tm_gmtoff == -60L * (z.Bias + z.DaylightBias) ? TIME_ZONE_ID_DAYLIGHT
                                                                         : TIME_ZONE_ID_STANDARD;
        };
        EXPECT_TRUE(id == expectedAt(before) || id == expectedAt(after)) << c.tz << ": " << id;
    }
}

TEST(TimeZoneInformation, DayOfYearRulesAndFailures) {
    {
        // J60 is 1 March; day 300 of the year (0-based) is late October.
        ScopedTz tz("XST3XDT,J60,300");
        TIME_ZONE_INFORMATION z;
        GetTimeZoneInformation(&z);
        EXPECT_EQ(std::make_tuple(z.DaylightDate.wMonth, z.DaylightDate.wDay, z.StandardDate.wMonth),
                  std::make_tuple(3, 1, 10));
    }
    ScopedTz tz("UTC");
    EXPECT_EQ(GetTimeZoneInformation(nullptr), TIME_ZONE_ID_INVALID);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
    winplat::inject::Scope scope;
    winplat::inject::arm("GetTimeZoneInformation", ERROR_ACCESS_DENIED);
    TIME_ZONE_INFORMATION z;
    EXPECT_EQ(GetTimeZoneInformation(&z), TIME_ZONE_ID_INVALID);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
    static_assert(sizeof(TIME_ZONE_INFORMATION) ==
                  3 * sizeof(LONG) + 64 * sizeof(WCHAR) + 2 * sizeof(SYSTEMTIME));
}

// Ireland and Britain have kept the same clocks since 1996: with Ireland's
// seasons turned around, every local-time answer and daylight flag is
// Britain's. Zones with such a season only in their past keep the C
// library's flag.
TEST(CrtTime, NegativeDaylightReadsAsWindowsDoes) {
    // The hour and flag of an instant, then _mktime64 of that wall time with
    // the hints -1, 0 and 1: the instant made and the flag it gives back.
    using Answer = std::vector<int64_t>;
    const auto answers = [](const char* zone, const std::vector<__time64_t>& times) {
        ScopedTz tz(zone);
        std::vector<Answer> out;
        for (const __time64_t t : times) {
            const struct tm local = *_localtime64(&t);
            Answer a = {local.tm_hour, local.tm_isdst};
            for (int hint = -1; hint <= 1; ++hint) {
                struct tm in = local;
                in.tm_isdst = hint;
                a.push_back(_mktime64(&in));
                a.push_back(in.tm_isdst);
            }
            out.push_back(a);
        }
        return out;
    };
    std::mt19937_64 rng(5);
    std::uniform_int_distribution<int64_t> dist(852076800, 2145916800);  // 1997 to 2038
    std::vector<__time64_t> times = {1700000000, 1720000000, 1711000000, 1743400000};
    for (int i = 0; i < 2000; ++i) {
        times.push_back(dist(rng));
    }
    const std::vector<Answer> britain = answers("Europe/London", times);
    int summers = 0;
    for (const char* zone : {"Europe/Dublin", "Eire", "IST-1GMT0,M10.5.0,M3.5.0/1"}) {
        const std::vector<Answer> ireland = answers(zone, times);
        for (size_t i = 0; i < times.size(); ++i) {
            ASSERT_EQ(ireland[i], britain[i]) << zone << " " << times[i];
            summers += static_cast<int>(ireland[i][1]);
        }
    }
    EXPECT_GT(summers, 1000);
    const std::tuple<const char*, __time64_t, int> kept[] = {
        {"Europe/Dublin", 1720000000, 1},      // July
        {"Europe/Dublin", 1700000000, 0},      // November
        {"Africa/Casablanca", 1711000000, 1},  // Ramadan 2024: an hour back, flagged by the C library
        {"Africa/Casablanca", 1720000000, 0},
        {"Africa/Windhoek", 962409600, 1},  // Namibian winter time, 2000
        {"Africa/Windhoek", 1720000000, 0},
    };
    for (const auto& [zone, t, isdst] : kept) {
        ScopedTz tz(zone);
        EXPECT_EQ(_localtime64(&t)->tm_isdst, isdst) << zone << " " << t;
    }
}

TEST(CrtTime, AgainstTheCLibrary) {
    ScopedTz tz("America/New_York");
    std::mt19937_64 rng(11);
    std::uniform_int_distribution<int64_t> dist(0, 32535215999LL);
    for (int i = 0; i < 100000; ++i) {
        const __time64_t t = i == 0 ? 0 : i == 1 ? 32535215999LL : dist(rng);
        const time_t tt = static_cast<time_t>(t);
        struct tm gm, local;
        gmtime_r(&tt, &gm);
        localtime_r(&tt, &local);
        const struct tm* g = _gmtime64(&t);
        ASSERT_NE(g, nullptr);
        ASSERT_EQ(std::make_tuple(g->tm_year, g->tm_mon, g->tm_mday, g->tm_hour, g->tm_min, g->tm_sec,
                                  g->tm_wday, g->tm_yday, g->tm_isdst),
                  std::make_tuple(gm.tm_year, gm.tm_mon, gm.tm_mday, gm.tm_hour, gm.tm_min, gm.tm_sec,
                                  gm.tm_wday, gm.tm_yday, 0))
            << t;
        const struct tm* l = _localtime64(&t);
        ASSERT_NE(l, nullptr);
        ASSERT_EQ(std::make_tuple(l->tm_year, l->tm_yday, l->tm_hour, l->tm_min, l->tm_isdst),
                  std::make_tuple(local.tm_year, local.tm_yday, local.tm_hour, local.tm_min, local.tm_isdst));
        struct tm viaCrt = local, viaLibc = local;
        viaCrt.tm_isdst = viaLibc.tm_isdst = -1;
        ASSERT_EQ(_mktime64(&viaCrt), static_cast<__time64_t>(mktime(&viaLibc))) << t;
        ASSERT_EQ(viaCrt.tm_gmtoff, viaLibc.tm_gmtoff);
    }
    for (__time64_t bad : {__time64_t{-1}, __time64_t{32535216000LL}, __time64_t{INT64_MIN}}) {
        EXPECT_EQ(_gmtime64(&bad), nullptr);
        EXPECT_EQ(_localtime64(&bad), nullptr);
    }
    EXPECT_EQ(_gmtime64(nullptr), nullptr);
    EXPECT_EQ(_mktime64(nullptr), -1);
    struct tm early = {};
    early.tm_year = 60;
    early.tm_mday = 1;
    const struct tm before = early;
    EXPECT_EQ(_mktime64(&early), -1);
    EXPECT_EQ(std::make_tuple(early.tm_year, early.tm_mday), std::make_tuple(before.tm_year, before.tm_mday));
    __time64_t stored = 0;
    const time_t clockBefore = time(nullptr);
    const __time64_t now = _time64(&stored);
    const time_t clockAfter = time(nullptr);
    EXPECT_EQ(now, stored);
    EXPECT_GE(now, clockBefore);
    EXPECT_LE(now, clockAfter);
}

namespace {

struct SwitchZone {
    const char* tz;     // null: unset
    const char* names;  // and standard offset, as the C library has them
    long winterEast, summerEast;
};

enum class Switch { Setenv, SetenvAndTzset, PutenvBufferRewritten, SetBackAfterTzset };

// What the calls answer after TZ went from one zone to another: _mktime64 of
// 12:00 on 15 July 2024 as daylight time (the instant, flag and hour), the
// flag and offset of _localtime64 on 15 January and July at 12:00 UTC, the
// record's two offsets, and whether GetTimeZoneInformation's answer for now
// is the C library's once it has read the zone.
using SwitchAnswers = std::tuple<__time64_t, int, int, int, long, int, long, LONG, LONG, bool>;
constexpr __time64_t kJanuary = 1705320000, kJuly = 1721044800;

SwitchAnswers answersAfterSwitch(const char* from, const char* to, Switch how, bool mktimeFirst) {
    static char buffer[64];
    if (from == nullptr) {
        unsetenv("TZ");
    } else if (how == Switch::PutenvBufferRewritten) {
        snprintf(buffer, sizeof(buffer), "TZ=%s", from);
        putenv(buffer);
    } else {
        setenv("TZ", from, 1);
    }
    tzset();
    for (const __time64_t t : {kJanuary, kJuly}) {
        struct tm local = *_localtime64(&t);
        _mktime64(&local);
    }
    TIME_ZONE_INFORMATION z;
    GetTimeZoneInformation(&z);
    if (how == Switch::SetBackAfterTzset) {
        setenv("TZ", to, 1);
        _localtime64(&kJanuary);
        if (from == nullptr) {
            unsetenv("TZ");
        } else {
            setenv("TZ", from, 1);
        }
        tzset();
    }
    if (how == Switch::PutenvBufferRewritten) {
        snprintf(buffer, sizeof(buffer), "TZ=%s", to);
        if (from == nullptr) {
            putenv(buffer);
        }
    } else {
        setenv("TZ", to, 1);
    }
    if (how == Switch::SetenvAndTzset) {
        tzset();
    }
    struct tm summer = {};
    summer.tm_year = 124;
    summer.tm_mon = 6;
    summer.tm_mday = 15;
    summer.tm_hour = 12;
    summer.tm_isdst = 1;
    __time64_t made = mktimeFirst ? _mktime64(&summer) : 0;
    const struct tm winter = *_localtime64(&kJanuary);
    const struct tm july = *_localtime64(&kJuly);
    const time_t before = time(nullptr);
    const DWORD id = GetTimeZoneInformation(&z);
    if (!mktimeFirst) {
        made = _mktime64(&summer);
    }
    tzset();
    // A change of season may fall between the call and the reading: either side will do.
    const auto idAt = [&z](time_t now) {
        struct tm clock;
        localtime_r(&now, &clock);
        return clock.tm_gmtoff == -60L * (z.Bias + z.DaylightBias) ? TIME_ZONE_ID_DAYLIGHT
                                                                   : TIME_ZONE_ID_STANDARD;
    };
    const bool idRight = id == idAt(before) || id == idAt(time(nullptr));
    setenv("TZ", "UTC", 1);  // the buffer leaves the environment
    return {made,          summer.tm_isdst, summer.tm_hour, winter.tm_isdst, winter.tm_gmtoff,
            july.tm_isdst, july.tm_gmtoff,  z.Bias,         z.DaylightBias,  idRight};
}

}  // namespace

// TZ changed, with or without tzset, between zones whose seasons differ in
// direction but not in names or standard offset: every call answers for the
// zone TZ names now, whichever call comes first. Also when TZ is set back to
// a zone after the C library read another one, unless the two have the same
// names and standard offset: nothing the C library shows tells them apart.
TEST(CrtTime, FollowsTheZoneTzNamesNow) {
    const SwitchZone zones[] = {
        {"Europe/London", "GMT BST 0", 0, 3600},
        {"Europe/Dublin", "IST GMT +1", 0, 3600},
        {"Europe/Berlin", "CET CEST +1", 3600, 7200},
        {"IST-1GMT0,M10.5.0,M3.5.0/1", "IST GMT +1", 0, 3600},  // "daylight" in winter
        {"IST-1GMT-2,M3.5.0/1,M10.5.0", "IST GMT +1", 3600, 7200},
        // Starts only: the machine's zone (TZ unset) and UTC (TZ empty).
        {nullptr, "", 0, 0},
        {"", "UTC", 0, 0},
    };
    const std::pair<Switch, const char*> switches[] = {
        {Switch::Setenv, "setenv"},
        {Switch::SetenvAndTzset, "setenv and tzset"},
        {Switch::PutenvBufferRewritten, "putenv buffer rewritten"},
        {Switch::SetBackAfterTzset, "set back after tzset"},
    };
    ScopedTz restore("UTC");
    for (const SwitchZone& from : zones) {
        for (const SwitchZone& to : zones) {
            if (to.tz == nullptr || *to.tz == 0) {
                continue;
            }
            for (const auto& [how, howName] : switches) {
                if (how == Switch::SetBackAfterTzset && from.tz != to.tz &&
                    from.names == std::string(to.names)) {
                    continue;
                }
                for (const bool mktimeFirst : {false, true}) {
                    EXPECT_EQ(answersAfterSwitch(from.tz, to.tz, how, mktimeFirst),
                              SwitchAnswers(kJuly - to.summerEast, 1, 12, 0, to.winterEast, 1, to.summerEast,
                                            -to.winterEast / 60, (to.winterEast - to.summerEast) / 60, true))
                        << (from.tz != nullptr ? from.tz : "(unset)") << " -> " << to.tz << ", " << howName
                        << (mktimeFirst ? ", _mktime64 first" : "");
                }
            }
        }
    }
}
