// Recurrence rule text: any text reads without harm, its written form reads
// back to the same written form, and the first occurrences of the rule from a
// fixed start come in order and end.
#include <cstddef>
#include <cstdint>
#include <climits>
#include <cstdlib>
#include <string>
#include <string_view>

#include "timezone/RecurrenceIterator.h"

using namespace tavlo::timezone;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    RecurrenceRule rule;
    rule.parse(text);
    const std::string written = rule.format();
    if (written.empty() != !rule.valid) {
        std::abort();
    }
    RecurrenceRule again;
    again.parse(written);
    // An empty BYDAY counts as a BY part but is not written, so BYSETPOS
    // beside it alone reads back as an invalid rule.
    bool onlySetPos = !rule.byLists[BySetPos].empty();
    for (int i = ByMonth; i < BySetPos; ++i) {
        onlySetPos = onlySetPos && rule.byLists[i].empty();
    }
    if (again.format() != written && !(onlySetPos && !again.valid)) {
        std::abort();
    }
    const DateTime start(2, 9, 1997, 9, 0, 0, Duration(0));
    RecurrenceIterator it(rule, start, true);
    const RecurrenceIterator end;
    int64_t last = INT64_MIN;
    for (int n = 0; n < 200 && !it.equals(end); ++n, it.advance()) {
        const int64_t t = it.current().value();
        if (t < last || it.current().isUnset()) {
            std::abort();
        }
        last = t;
    }
    return 0;
}
