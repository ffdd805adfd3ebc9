// Offset texts: any bytes read as an offset or the unknown duration, and an
// offset within a day reads back from its own text.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "timezone/XTimeZone.h"

using namespace tavlo::timezone;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    const Duration read = XTimeZone::parseOffset(text);
    if (!read.isUnknown() && read.count() > -86400 && read.count() < 86400 &&
        XTimeZone::parseOffset(XTimeZone::formatOffset(read)) != read) {
        std::abort();
    }
    return 0;
}
