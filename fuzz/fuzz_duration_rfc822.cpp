// Duration, RFC 822 date and RFC 822 zone reading: any text answers a value
// or the neutral one, within the ranges the forms allow.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "timezone/DateTime.h"
#include "timezone/DateTimeFunctions.h"

using namespace tavlo::timezone;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    const Duration d = Duration::parse(text);
    const bool designated =
        !text.empty() &&
        (text[0] == 'P' || (text.size() > 1 && text[1] == 'P' && (text[0] == '+' || text[0] == '-')));
    if (!d.isUnknown() && !designated) {
        std::abort();
    }
    int64_t seconds = 0;
    if (parseRfc822DateTime(text.c_str(), &seconds) && seconds == -1) {
        std::abort();
    }
    rfc822ToSystemTime(text.c_str());
    const int minutes = rfc822ZoneMinutes(text.c_str());
    if (minutes < -99 * 60 - 99 || minutes > 99 * 60 + 99) {
        std::abort();
    }
    int named = 0;
    namedZoneMinutes(text.c_str(), &named);
    return 0;
}
