// Zone lookup by any name: the table lookups answer a zone or the empty
// zone, and a query other than the machine-zone names always answers a zone
// (at worst the UTC row).
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "timezone/XTimeZone.h"
#include "timezone/ZoneRegistry.h"

using namespace tavlo::timezone;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string name(reinterpret_cast<const char*>(data), size);
    const XTimeZone tz = XTimeZone::findInTzZones(name);
    if (!tz.getName().empty() && !tz.isValid()) {
        std::abort();
    }
    const XTimeZone zone = XTimeZone::findByName(name);
    std::string lower;
    for (char c : name) {
        lower += static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
    }
    if (!name.empty() && lower != "server" && !zone.isValid()) {
        std::abort();
    }
    const ZoneRegistry& registry = ZoneRegistry::instance();
    const int row = ZoneRegistry::findByName(registry.displayZones, name);
    if (row < -1 || row >= static_cast<int>(registry.displayZones.size())) {
        std::abort();
    }
    return 0;
}
