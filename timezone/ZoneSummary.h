// Summaries of the built-in table rows, made once per process: each holds the
// observances XTimeZone::fromDefinition would give the row, so zone matching
// (machine zone, Windows records) need not rebuild zones row by row.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "timezone/XTimeZone.h"

namespace tavlo::timezone {

struct ZoneSummary {
    std::string name;
    Duration value;  // unknown; the library never sets it
    ZoneObservance standard;
    ZoneObservance daylight;  // valid only for rows with daylight time
    std::vector<int32_t> ids;

    // A new zone of the summary; empty when the standard observance is not
    // valid.
    ZonePtr toZone() const;
};

// Every display row, then every tz row, in table order.
const std::vector<ZoneSummary>& zoneSummaries();
// The display rows alone.
const std::vector<ZoneSummary>& displayZoneSummaries();

}  // namespace tavlo::timezone
