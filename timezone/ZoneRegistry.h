// The library's own zone data and the name lookup over it. Four constant
// tables are compiled in: zone abbreviations, the display zones (named as a
// user picks them), the tz-database zones and the names of the numeric zone
// ids. A row describes a zone as texts: offsets ("-0500" or an abbreviation),
// iCalendar basic local DTSTARTs and RRULEs of its standard and daylight
// parts, as XTimeZone reads them. The tz rows are generated
// (timezone/tools/gen_tz_rows.py) except the rows the data fixes by hand
// (timezone/data/tz_fixed_rows.txt); the build never reads the host's tzdata.
//
// ZoneRegistry is the process-wide copy of the tables, built on first use
// and read without a lock afterwards.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <vector>

namespace tavlo::timezone {

struct ZoneAbbreviation {
    std::string abbreviation;
    // Signed ISO 8601 duration, always "+PThhHmmM" or "-PThhHmmM".
    std::string offset;
    // Held with the row; nothing reads it.
    bool isDaylight = false;
};

struct ZoneDefinition {
    // id1 is always kept; id2 and id3 only when 0 or more (-1 is "none").
    ZoneDefinition(std::string name, std::string standard, std::string daylight, std::string standardStart,
                   std::string daylightStart, std::string standardRule, std::string daylightRule, int32_t id1,
                   int32_t id2 = -1, int32_t id3 = -1);
    // A zone without daylight saving.
    ZoneDefinition(std::string name, std::string standard, int32_t id1, int32_t id2 = -1);

    std::string name;
    std::string standard;       // offset text or abbreviation
    std::string daylight;       // empty without daylight saving
    std::string standardStart;  // "20071104T020000", local wall time
    std::string daylightStart;
    std::string standardRule;  // "FREQ=YEARLY;BYMONTH=11;BYDAY=1SU"
    std::string daylightRule;
    std::vector<int32_t> ids;  // indices into zoneIdNames
};

// The constant tables, in table order. Each is built on first use, so they
// may be read from static initialisers too.
std::span<const ZoneAbbreviation> zoneAbbreviations();  // 153 rows, ascending by byte
std::span<const ZoneDefinition> displayZones();         // 86 rows
std::span<const ZoneDefinition> tzZones();              // 565 rows
std::span<const std::string> zoneIdNames();             // 78 names, id 52 empty

class ZoneRegistry {
  public:
    // Built on first use, destroyed at process exit.
    static ZoneRegistry& instance();

    // The row whose name is the longest one contained in query, letters
    // compared without regard to case; the earliest of equally long names
    // wins. -1 when none is (an empty query matches nothing).
    static int findByName(const std::vector<ZoneDefinition>& rows, const std::string& query);

    std::vector<ZoneAbbreviation> abbreviations;
    std::vector<ZoneDefinition> displayZones;
    std::vector<ZoneDefinition> tzZones;
    std::vector<std::string> zoneIdNames;

  private:
    ZoneRegistry();
};

// Case-insensitive Knuth-Morris-Pratt search. The table holds length + 1
// entries; null when it cannot be allocated.
std::unique_ptr<int[]> buildFailureTable(const std::string& pattern);
// The position of pattern's first occurrence in text, case ignored, or -1.
ptrdiff_t findIgnoringCase(const std::string& text, const std::string& pattern, const int* table);

}  // namespace tavlo::timezone
