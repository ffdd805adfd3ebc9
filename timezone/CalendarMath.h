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
int64_t daysOfDate(int64_t year, int64_t month0, int64_t day);

// Days of a month (0-based) of a full year.
int daysInMonth(int64_t year, int month0);

}  // namespace tavlo::timezone::calendar
