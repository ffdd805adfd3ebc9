// Zone pinning for the date-time tests, and the C library's view of it.
#pragma once

#include <time.h>

#include <cstdint>
#include <set>

#include "platform/tests/ScopedTz.h"
#include "timezone/DateTime.h"

// The C library's UTC offset in seconds at an instant of the pinned zone.
inline long glibcOffset(int64_t t) {
    const time_t tt = static_cast<time_t>(t);
    struct tm tm;
    localtime_r(&tt, &tm);
    return tm.tm_gmtoff;
}

// The placement rule for a wall time (written as if UTC) that the pinned zone
// skips or repeats: one guess and one correction, with the C library's
// offsets.
inline int64_t ruleAnswer(int64_t wall) {
    const long r = glibcOffset(wall);
    int64_t v = wall - r;
    const long s = glibcOffset(v);
    if (s < r || (r >= 0 && s >= 0)) {
        v += r - s;
    }
    return v;
}

// Calls visit(wall, expected, unique) every 15 minutes of each day of the
// years on which the pinned zone's offset changes. wall is the wall clock
// written as if UTC; expected is the one instant that reads as it, or the
// placement rule's answer where the change skips or repeats it (unique false).
template <class Visit>
void sweepTransitionWalls(int firstYear, int lastYear, Visit visit) {
    using tavlo::timezone::CalendarFields;
    for (int y = firstYear; y <= lastYear; ++y) {
        CalendarFields from{0, 0, 0, 1, 0, y - 1900};
        CalendarFields to{0, 0, 0, 1, 0, y + 1 - 1900};
        const int64_t first = tavlo::timezone::timeFromCalendar(from);
        const int64_t last = tavlo::timezone::timeFromCalendar(to);
        for (int64_t day = first; day < last; day += 86400) {
            const int64_t noon = day + 43200;
            if (glibcOffset(noon - 129600) == glibcOffset(noon + 129600)) {
                continue;
            }
            const long before = glibcOffset(day - 86400);
            const long after = glibcOffset(day + 2 * 86400);
            for (int64_t wall = day; wall < day + 86400; wall += 900) {
                std::set<int64_t> found;
                for (long off : {before, after}) {
                    if (glibcOffset(wall - off) == off) {
                        found.insert(wall - off);
                    }
                }
                visit(wall, found.size() == 1 ? *found.begin() : ruleAnswer(wall), found.size() == 1);
            }
        }
    }
}
