// Raw TIME_ZONE_INFORMATION bytes and a moment fed to the bias and the
// conversions: each returns or raises its own error, never hangs or reads
// outside the record.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "CommonBase/HResultException.h"
#include "timezone/DateTimeFunctions.h"

using namespace tavlo::timezone;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    TIME_ZONE_INFORMATION tzi{};
    SYSTEMTIME moment{};
    if (size < sizeof(moment) + 1) {
        return 0;
    }
    std::memcpy(&moment, data, sizeof(moment));
    const uint8_t flags = data[sizeof(moment)];
    data += sizeof(moment) + 1;
    size -= sizeof(moment) + 1;
    std::memcpy(&tzi, data, size < sizeof(tzi) ? size : sizeof(tzi));
    // Given times only: the present moment would make runs differ.
    const bool isUtc = (flags & 1) != 0;
    try {
        const int bias = timeZoneBias(moment, true, isUtc, &tzi);
        (void)bias;
        const SYSTEMTIME out = isUtc ? gmtToLocal(moment, true, &tzi) : localToGmt(moment, true, &tzi);
        (void)out;
        getDaylightDate(tzi.DaylightDate, moment.wYear);
    } catch (const HResultException& e) {
        const HRESULT hr = e.getHResult();
        if (hr != E_FAIL && hr != E_INVALIDARG) {
            std::abort();
        }
    }
    return 0;
}
