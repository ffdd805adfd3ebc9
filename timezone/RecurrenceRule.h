// The record of one recurrence rule (the RRULE of a zone observance).
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>
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

    // Reads an RRULE value (RFC 5545 keys, X-UNTIL) or a vCalendar 1.0 rule.
    // Never fails loudly: unknown keys and items are dropped, an unknown FREQ
    // stops the reading, and the outcome is the valid flag. Integers saturate
    // at the 32-bit limits; a BYDAY ordinal that does not fit 24 bits drops
    // its item. UNTIL and X-UNTIL keep their written clock as a UTC clock (an
    // offset in the text is dropped).
    void parse(std::string_view text);
    // The RRULE text; empty for an invalid rule.
    std::string format() const;
    // Appends format() to text.
    void formatTo(std::string& text) const;
};

// Appends the comma-separated integers of text to list index; an empty item
// between commas appends 0, a trailing comma adds nothing.
void parseByList(std::string_view text, RecurrenceRule& rule, int index);
// "MO" .. "SU" for 1 .. 7, null for any other code.
const char* weekdayName(int code);
// 1 .. 7 for the names (case ignored), 0 for anything else.
int weekdayFromName(std::string_view name);

}  // namespace tavlo::timezone
