// The record of one recurrence rule (the RRULE of a zone observance).
#pragma once

#include <array>
#include <cstdint>
#include <vector>

#include "timezone/DateTime.h"

namespace tavlo::timezone {

// BY-list indexes; index 0 is never filled.
enum ByListIndex : int {
    ByMonth = 1,
    ByWeekNo = 2,
    ByYearDay = 3,
    ByMonthDay = 4,
    ByDay = 5,  // weekday code | (ordinal << 8)
    ByHour = 6,
    ByMinute = 7,
    BySecond = 8,
    BySetPos = 9,
};

struct RecurrenceRule {
    int32_t frequency = -1;  // a Frequency, -1 when not given
    int32_t interval = 1;
    DateTime until;
    DateTime extendedUntil;
    int32_t count = -1;  // -1 = unlimited
    std::array<std::vector<int32_t>, 10> byLists;
    int32_t weekStart = 1;  // 1 Monday .. 7 Sunday, 0 for an unknown name
    bool valid = false;

    void reset() { *this = RecurrenceRule(); }
};

}  // namespace tavlo::timezone
