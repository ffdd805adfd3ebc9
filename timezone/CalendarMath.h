// Integer helpers of the calendar, shared by the library's sources.
#pragma once

#include <cstdint>

namespace tavlo::timezone::calendar {

// Floor division and the non-negative remainder that goes with it.
constexpr int64_t floorDiv(int64_t a, int64_t b) {
    const int64_t q = a / b;
    return (a % b != 0 && ((a < 0) != (b < 0))) ? q - 1 : q;
}

constexpr int64_t floorMod(int64_t a, int64_t b) {
    return a - floorDiv(a, b) * b;
}

// The instant of wall-clock fields read as UTC: the month (0-based) carries
// into the year, the year is clamped to 1600-30000, and the day and time
// carry. 64-bit throughout, so any 32-bit field value is safe.
int64_t instantFromFields(int64_t year, int64_t month0, int64_t day, int64_t hour, int64_t minute,
                          int64_t second);

// Days since 1970-01-01 of a date with the month in 0-11 and the year in
// 1600-30000; the day may be out of range and carries.
// Inline: it is on the path of every conversion of fields.
inline int64_t daysOfDate(int64_t year, int64_t month0, int64_t day) {
    // Years counted from March; the cumulative month table in closed form.
    // Arithmetic in place of a branch on the month, which random dates mispredict.
    const uint32_t winter = month0 < 2;
    const uint32_t y = static_cast<uint32_t>(year) - winter;
    const uint32_t marchMonth = static_cast<uint32_t>(month0) + 1 + 12 * winter;  // 3 = March .. 14
    const uint32_t centuries = y / 100;
    const uint32_t yearDays = 1461 * y / 4 - centuries + centuries / 4;
    const uint32_t monthDays = (979 * marchMonth - 2919) / 32;
    return int64_t{yearDays} + monthDays + day - 1 - 719468;  // 719468: 0000-03-01 to 1970-01-01
}

// Days from 1970-01-01 to 1 January of a year in 1-30000: the days of the
// years before it, 1461 to every four, less the century years that are not
// leap, less the 719162 days from 0001-01-01 to 1970-01-01.
inline int64_t daysBeforeYear(uint32_t year) {
    const uint32_t before = year - 1;
    const uint32_t centuries = before / 100;
    return int64_t{1461 * before / 4 - centuries + centuries / 4} - 719162;
}

// Days of a month (0-based) of a full year.
int daysInMonth(int64_t year, int month0);

}  // namespace tavlo::timezone::calendar
