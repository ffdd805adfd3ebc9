// Time zones as values: a name and a list of observances, each a start, the
// UTC offsets before and after it and a recurrence rule, in the manner of the
// STANDARD and DAYLIGHT parts of an iCalendar VTIMEZONE. Zones are shared
// between DateTime values through ZonePtr and are not locked: a zone must not
// change while another thread reads it.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "timezone/DateTime.h"
#include "timezone/RecurrenceRule.h"

namespace tavlo::timezone {

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
    XTimeZone(const XTimeZone&) = default;
    XTimeZone& operator=(const XTimeZone&) = default;
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
    const std::string& storedFingerprint() const { return fingerprint_; }

  private:
    ZoneObservance firstOfKind(int32_t kind) const;

    NativeHandle handle_;
    std::string name_;
    std::string description_;
    DateTime reference_;
    std::vector<ZoneObservance> observances_;
    std::vector<int32_t> zoneIds_;
    std::string fingerprint_;
};

}  // namespace tavlo::timezone
