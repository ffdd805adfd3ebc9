// Zone pinning for the date-time tests, and the C library's view of it.
#pragma once

#include <time.h>

#include <cstdint>

#include "platform/tests/ScopedTz.h"

// The C library's UTC offset in seconds at an instant of the pinned zone.
inline long glibcOffset(int64_t t) {
    const time_t tt = static_cast<time_t>(t);
    struct tm tm;
    localtime_r(&tt, &tm);
    return tm.tm_gmtoff;
}
