// ISO 8601 date-time reading: any text reads or fails without harm, and what
// reads formats to a text that reads back to the same instant and offset.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "timezone/DateTime.h"

using namespace tavlo::timezone;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    bool dateOnly = false;
    Duration offset;
    int64_t start = 0, end = 0;
    if (!parseIsoDateTime(text, &dateOnly, &offset, &start, &end)) {
        if (start != 0 || end != 0 || dateOnly) {
            std::abort();
        }
        return 0;
    }
    if (offset.isUnknown()) {
        return 0;  // machine-local: the zone decides
    }
    const DateTime first = DateTime::parse(text, ZonePtr());
    for (int flags : {0, 1, 3, 4, 5, 16, 17}) {
        const std::string written = first.format(flags);
        if (written.empty()) {
            continue;
        }
        const DateTime again = DateTime::parse(written, ZonePtr());
        // Offsets of 24 hours or more are written within the day, and offset
        // seconds are not written, so only whole-minute offsets under a day
        // must come back exactly.
        // Instants the calendar clamps are written as its ends.
        const int64_t seconds = first.offset().seconds();
        const int64_t wall = first.value() + seconds;
        if (seconds % 60 == 0 && seconds > -86400 && seconds < 86400 && !first.isDateOnly() &&
            wall >= -11644473600LL && wall <= 253402300799LL && again.value() != first.value()) {
            std::abort();
        }
    }
    return 0;
}
