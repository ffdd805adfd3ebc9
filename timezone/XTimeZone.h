// Time zones as values: a name and a list of observances, each a start, the
// UTC offsets before and after it and a recurrence rule, in the manner of the
// STANDARD and DAYLIGHT parts of an iCalendar VTIMEZONE. Zones are shared
// between DateTime values through ZonePtr and are not locked: a zone must not
// change while another thread reads it. The one field written behind a
// reader's back is the fingerprint, which offsetAt fills in under the offset
// cache's lock; every read of it takes that lock too.
//
// Zones come from the built-in tables (fromDefinition, fromTableRow), by name
// (findByName, findInTzZones) or as the machine's own zone (local, detected
// once per process). Lookups never fail loudly: they answer the empty zone.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "timezone/DateTime.h"
#include "timezone/RecurrenceRule.h"

namespace tavlo::timezone {

struct ZoneDefinition;

// An optional native handle with its release and duplicate callbacks: a copy
// holds a duplicate (or none), the holder releases its own on destruction.
class NativeHandle {
  public:
    using Release = void (*)(uint32_t);
    using Duplicate = uint32_t (*)(uint32_t);

    NativeHandle() = default;
    NativeHandle(uint32_t handle, Release release, Duplicate duplicate)
        : handle_(handle), release_(release), duplicate_(duplicate) {}
    NativeHandle(const NativeHandle& other);
    NativeHandle& operator=(const NativeHandle& other);
    // Moving hands the handle over without a duplicate.
    NativeHandle(NativeHandle&& other) noexcept;
    NativeHandle& operator=(NativeHandle&& other) noexcept;
    ~NativeHandle();

    uint32_t handle() const { return handle_; }

  private:
    uint32_t handle_ = 0;
    Release release_ = nullptr;
    Duplicate duplicate_ = nullptr;
};

enum ObservanceKind : int32_t { StandardTime = 1, DaylightTime = 2 };

struct ZoneObservance {
    int32_t valid = 0;
    int32_t kind = StandardTime;
    DateTime start;  // wall-clock start, held at the fixed offset 0
    Duration offsetFrom;
    Duration offsetTo;
    std::string label;
    DateTime secondDate;
    RecurrenceRule rule;
    std::string note;
    NativeHandle handle;
};

class XTimeZone {
  public:
    XTimeZone() = default;
    // The fingerprint is read under the lock offsetAt fills it in under, so a
    // shared zone can be copied while another thread uses it.
    XTimeZone(const XTimeZone& other);
    XTimeZone& operator=(const XTimeZone& other);
    virtual ~XTimeZone();

    const std::string& getName() const { return name_; }
    // Leaves the fingerprint as it is.
    void setName(const std::string& name) { name_ = name; }
    bool isValid() const { return !name_.empty() && !observances_.empty(); }
    // Appends a copy and clears the fingerprint.
    void addObservance(const ZoneObservance& observance);
    // The first valid observance of that kind, else a copy of the last one
    // (or a new one) with valid 0.
    ZoneObservance standard() const { return firstOfKind(StandardTime); }
    ZoneObservance daylight() const { return firstOfKind(DaylightTime); }

    const std::vector<ZoneObservance>& observances() const { return observances_; }
    const std::string& description() const { return description_; }
    void setDescription(const std::string& text) { description_ = text; }
    const DateTime& reference() const { return reference_; }
    const std::vector<int32_t>& zoneIds() const { return zoneIds_; }
    void setZoneIds(const std::vector<int32_t>& ids) { zoneIds_ = ids; }
    const NativeHandle& nativeHandle() const { return handle_; }
    void setNativeHandle(NativeHandle handle) { handle_ = std::move(handle); }
    // Empty until computed; cleared by addObservance.
    std::string storedFingerprint() const;
    // Computes the fingerprint into the zone and returns it: the MD5, in
    // lowercase hex, of the sorted descriptor texts of every observance;
    // empty for a zone without observances.
    std::string fingerprint();
    // Appends the three descriptor texts of an observance ("STD:" or "DST:"
    // before the start's basic wall clock, the offsetTo text and the rule).
    static void describeObservance(const ZoneObservance& observance, std::vector<std::string>& texts);

    // "+hhmm", or "+hhmmss" with seconds; hours wrap at 24; unknown "+0000".
    static std::string formatOffset(Duration offset);
    // Seconds east of UTC from "+hh[mm[ss]]" (punctuation between digits
    // skipped) or a zone abbreviation; the unknown duration otherwise.
    static Duration parseOffset(std::string_view text);

    static XTimeZone fromDefinition(const ZoneDefinition& row);
    // The empty zone for an index outside the table.
    static XTimeZone fromTableRow(int index, const std::vector<ZoneDefinition>& table);

    // The UTC offset at an instant of a zone of exactly two observances with
    // valid rules, through the process-wide per-year cache; the unknown
    // duration for any other zone or when the year's changes cannot be found.
    static Duration offsetAt(int64_t instant, const ZonePtr& zone);

    // "server" or "" give the machine zone; then the display rows, the tz
    // rows, a number of seconds equal to a display row's standard offset, and
    // last the "(UTC) Universal Coordinated Time" row.
    static XTimeZone findByName(std::string_view name);
    // The best-matching tz row, or the empty zone.
    static XTimeZone findInTzZones(std::string_view name);
    // A copy of the machine's zone (the empty zone when none matched).
    static XTimeZone local();

  private:
    ZoneObservance firstOfKind(int32_t kind) const;

    // Names the observances' content: drawn afresh by every change of them
    // and carried by copies, so equal stamps mean equal observances.
    static uint64_t nextRulesStamp();

    NativeHandle handle_;
    uint64_t rulesStamp_ = 0;
    std::string name_;
    std::string description_;
    DateTime reference_;
    std::vector<ZoneObservance> observances_;
    std::vector<int32_t> zoneIds_;
    std::string fingerprint_;
};

}  // namespace tavlo::timezone
