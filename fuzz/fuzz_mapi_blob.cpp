// A calendar item's time-zone blob, then a moment read through it: the blob
// is refused or read, and the bias and the conversion return or raise their
// own errors, never hang or read outside the record.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "CommonBase/HResultException.h"
#include "timezone/DateTimeFunctions.h"
#include "timezone/WindowsZones.h"

using namespace tavlo::timezone;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // The moment comes first so that the blob may have any length.
    SYSTEMTIME moment{};
    if (size < sizeof(moment)) {
        return 0;
    }
    std::memcpy(&moment, data, sizeof(moment));
    const std::string blob(reinterpret_cast<const char*>(data + sizeof(moment)), size - sizeof(moment));
    TIME_ZONE_INFORMATION tzi;
    if (!mapiBlobToTzi(blob, &tzi)) {
        if (!isTziEmpty(&tzi)) {
            std::abort();
        }
        return 0;
    }
    if (regTziToMapiBlob(tziToRegTzi(tzi)).compare(0, 12, blob, 0, 12) != 0) {
        std::abort();
    }
    try {
        (void)timeZoneBias(moment, true, false, &tzi);
        (void)localToGmt(moment, true, &tzi);
    } catch (const HResultException& e) {
        const HRESULT hr = e.getHResult();
        if (hr != E_FAIL && hr != E_INVALIDARG) {
            std::abort();
        }
    }
    return 0;
}
