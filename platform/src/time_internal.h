// Shared by the platform's time calls: the daylight flag of the process zone
// and proleptic Gregorian day arithmetic.
#pragma once

#include <time.h>

#include <cstdint>

namespace winplat::detail {

// Seconds east of the two offsets of a zone whose present rules put daylight
// time behind standard time (tzdata's Ireland), as Windows names them.
struct ReversedSeasons {
    long standardEast, daylightEast;
};

// The process zone's seasons when they are reversed, else null. Brings the C
// library to the zone TZ names now first: call it before the C library's
// local-time call, so that the call and the flag answer for one zone.
const ReversedSeasons* processReversedSeasons();

// tm_isdst as Windows reports it. In a reversed zone the C library's flag is
// set in the season that Windows calls standard; these turn it around (a
// result of the C library) and back (a hint for it). Other zones pass through
// unchanged.
inline void toWindowsDaylightFlag(const ReversedSeasons* seasons, struct tm* t) {
    if (seasons == nullptr) {
        return;
    }
    if (t->tm_isdst > 0 && t->tm_gmtoff == seasons->standardEast) {
        t->tm_isdst = 0;
    } else if (t->tm_isdst == 0 && t->tm_gmtoff == seasons->daylightEast) {
        t->tm_isdst = 1;
    }
}

inline int fromWindowsDaylightFlag(const ReversedSeasons* seasons, int isdst) {
    return isdst >= 0 && seasons != nullptr ? (isdst > 0 ? 0 : 1) : isdst;
}

inline bool isLeap(int64_t y) {
    return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0;
}

inline int daysInMonth(int64_t y, int m) {
    static const int days[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    return m == 2 && isLeap(y) ? 29 : days[m - 1];
}

// Days since 0000-03-01 of the proleptic Gregorian calendar, in 400-year eras.
constexpr int64_t daysFromCivil(int64_t y, int64_t m, int64_t d) {
    y -= m <= 2 ? 1 : 0;
    int64_t era = y / 400;
    int64_t yoe = y - era * 400;
    int64_t doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + doe;
}

inline void civilFromDays(int64_t z, int64_t* y, int* m, int* d) {
    int64_t era = z / 146097;
    int64_t doe = z - era * 146097;
    int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    int64_t mp = (5 * doy + 2) / 153;
    *d = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
    *m = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
    *y = yoe + era * 400 + (*m <= 2 ? 1 : 0);
}

}  // namespace winplat::detail
