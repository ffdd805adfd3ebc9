// Date-time values of the time-zone library.
//
// The model: an instant is a count of seconds since 1970-01-01T00:00:00 UTC.
// Civil (wall-clock) fields are never stored; they are read through the way
// the value is bound: a zone (ZoneBound), a fixed UTC offset (FixedOffset) or
// the machine's own zone (Floating). Changing the binding either keeps the
// instant (attachZone) or keeps the wall clock and moves the instant
// (setZone, setFixedOffset, makeFloating); the latter places a wall-clock time
// that a daylight change skips or repeats by one fixed rule, see place().
//
// No operation raises: failure answers the unknown Duration, the unset
// DateTime or an unchanged value. The unset value and the marker value both
// mean "no date", never take part in arithmetic and are never produced by it.
//
// The calendar is the proleptic Gregorian one from 1601-01-01 to 30000-01-01
// in closed form; instants outside are clamped when broken down.
#pragma once

#include <boost/shared_ptr.hpp>

#include "timezone/CalendarMath.h"

#include <cstdint>
#include <string>
#include <string_view>

namespace tavlo::timezone {

class XTimeZone;
using ZonePtr = boost::shared_ptr<XTimeZone>;

// A signed span of seconds; the most negative count is the unknown duration.
class Duration {
  public:
    static constexpr int64_t kUnknownSeconds = INT64_MIN;

    constexpr Duration() : count_(kUnknownSeconds) {}
    constexpr explicit Duration(int64_t seconds) : count_(seconds) {}

    // ((days × 24 + hours) × 60 + minutes) × 60 + seconds, negated on request;
    // unknown when that does not fit.
    static Duration fromParts(int64_t days, int64_t hours, int64_t minutes, int64_t seconds, bool negate);
    // The ISO 8601 duration reader: weeks, days, hours, minutes, seconds.
    static Duration parse(std::string_view text);

    constexpr bool isUnknown() const { return count_ == kUnknownSeconds; }
    constexpr bool isNegative() const { return !isUnknown() && count_ < 0; }
    // 0 for the unknown duration.
    constexpr int64_t seconds() const { return isUnknown() ? 0 : count_; }
    // |hours within the day| and |minutes within the hour|, 0 for unknown.
    int hours() const;
    int minutes() const;
    // The raw count, the unknown marker included.
    constexpr int64_t count() const { return count_; }

    constexpr bool operator==(const Duration&) const = default;

  private:
    int64_t count_;
};

// Unknown when either side is unknown or the difference does not fit.
Duration operator-(Duration a, Duration b);

inline constexpr Duration kUnknownDuration{};

// Broken-down fields, in the order of the C library's struct tm.
struct CalendarFields {
    int32_t second = 0;
    int32_t minute = 0;
    int32_t hour = 0;
    int32_t day = 1;      // day of month, 1-based
    int32_t month = 0;    // 0 = January
    int32_t year = 70;    // years since 1900
    int32_t weekday = 0;  // 0 = Sunday
    int32_t yearDay = 0;  // 0-based
    int32_t daylight = -1;
};

enum DateTimeKind : int32_t { ZoneBound = 1, FixedOffset = 2, Floating = 3 };

// Calendar-field indexes, shared with the recurrence rules' BY lists.
enum CalendarFieldIndex : int {
    FieldYear = 0,
    FieldMonth = 1,
    FieldWeekNumber = 2,
    FieldYearDay = 3,
    FieldMonthDay = 4,
    FieldWeekday = 5,
    FieldHour = 6,
    FieldMinute = 7,
    FieldSecond = 8,
};

// Recurrence frequencies.
enum Frequency : int { Yearly = 0, Monthly, Weekly, Daily, Hourly, Minutely, Secondly };

// Format flags of DateTime::format.
enum DateTimeFormatFlags : int {
    FormatExtended = 1,
    FormatMilliseconds = 2,
    FormatNoZ = 4,
    FormatNoOffset = 8,
    FormatDateTime = 16,
};

// Instant to fields, after clamping to 1601-01-01 .. 30000-01-01.
inline CalendarFields calendarFromTime(int64_t t);
// Fields to instant; out-of-range fields carry, the year is clamped to
// 1600-30000, and the record is rewritten in normal form.
inline int64_t timeFromCalendar(CalendarFields& fields);
inline bool isLeapYear(int64_t yearsSince1900);

int frequencyOfField(int index);
int coarserField(int index, int n);
int finerField(int index, int n);

class DateTime {
  public:
    static constexpr int64_t kUnsetValue = INT64_MIN;
    static constexpr int64_t kMarkerValue = 67723044291792000LL;  // 0x00F099BFFE1ECC80
    static constexpr int32_t kUnknownOffsetMinutes = INT32_MAX;

    // The unset value.
    DateTime();
    // The instant at the fixed offset 0.
    explicit DateTime(int64_t instant);
    // Wall-clock fields (month 1-based) at the given UTC offset; an unknown
    // offset counts as 0 and gives a Floating value without machine offset.
    DateTime(int day, int month, int year, int hour, int minute, int second, Duration offset);

    // Negative t gives the unset value.
    static DateTime fromTime(int64_t t);
    static DateTime now();
    // 1 January of the year, 00:00:00 UTC, date-only.
    static DateTime fromYear(int year);
    // Reads an ISO 8601 / iCalendar text; see parseIsoDateTime.
    static DateTime parse(std::string_view text, const ZonePtr& defaultZone);

    bool isUnset() const { return value_ == kUnsetValue; }
    bool isMarker() const { return value_ == kMarkerValue; }
    int64_t value() const { return value_; }
    bool isDateOnly() const { return dateOnly_; }
    void setDateOnly(bool dateOnly) { dateOnly_ = dateOnly; }
    DateTimeKind kind() const { return kind_; }
    int32_t offsetMinutes() const { return offsetMinutes_; }
    int32_t reserved() const { return reserved_; }
    ZonePtr getZone() const { return zone_; }

    // The UTC offset in force at the instant.
    Duration offset() const;
    int field(int index, int weekStart) const;
    int weekNumber(int weekStart) const;
    int unitsPer(int frequency, int weekStart, int fieldIndex) const;
    // this − other; unknown when either is no date.
    Duration difference(const DateTime& other) const;

    DateTime& add(Duration d);
    DateTime& subtract(Duration d);
    DateTime& setField(int index, int v, int weekStart);
    DateTime& setZone(const ZonePtr& zone);
    DateTime& attachZone(const ZonePtr& zone);
    DateTime& setFixedOffset(Duration d);
    DateTime& makeFloating();
    DateTime startOfDay() const;
    DateTime datePart() const;

    std::string format(int flags) const;
    // Appends format(flags) to out.
    void formatTo(std::string& out, int flags) const;

    // The machine zone's UTC offset at a UTC instant (valueIsUtc) or at a
    // wall-clock time written as if UTC; outside 1970-01-02T00:00:01 ..
    // 3000-12-31T23:59:59 the offset of the present moment.
    static Duration machineOffset(int64_t value, bool valueIsUtc);
    // The fields of a UTC instant shifted by machineOffset(value, true), as
    // the C runtime's local time gives them in one call; false, leaving `out`
    // alone, where they would differ (outside that range, or an offset with
    // seconds, which machineOffset keeps in whole minutes).
    static bool machineWallFields(int64_t value, CalendarFields* out);

    friend DateTime operator+(DateTime t, Duration d) { return t.add(d); }
    friend DateTime operator-(DateTime t, Duration d) { return t.subtract(d); }

  private:
    bool noDate() const { return isUnset() || isMarker(); }
    // value + offset, the unknown offset counting as 0; false on overflow.
    bool wallSeconds(int64_t* out) const;
    CalendarFields wallFields() const;
    void storeValue(int64_t v);
    bool shift(int64_t d);
    void place();
    Duration zoneOffset() const;
    Duration scanObservances() const;

    int64_t value_;
    bool dateOnly_;
    mutable int32_t offsetMinutes_;  // ZoneBound: cache of the last zone offset
    ZonePtr zone_;
    DateTimeKind kind_;
    int32_t reserved_;
};

// The unset value every failing operation answers.
const DateTime& unsetDateTime();

// Reads an ISO 8601 / iCalendar date or date-time. start and end are the
// first and last second of the period the text names; offset is the zone
// designator's offset or unknown. Outputs are left zeroed on failure.
bool parseIsoDateTime(std::string_view text, bool* dateOnly, Duration* offset, int64_t* start, int64_t* end);
// An RFC 822 date-time as seconds since 1970 UTC.
bool parseRfc822DateTime(const char* text, int64_t* out);
// An RFC 822 zone as minutes east of UTC, 0 when unreadable.
int rfc822ZoneMinutes(const char* text);
bool namedZoneMinutes(const char* name, int* minutes);

// ---- the calendar split, inline: it is on the path of every field read ----

namespace detail {
constexpr int64_t kFirstInstant = -11644473600LL;  // 1601-01-01T00:00:00Z
constexpr int64_t kLastInstant = 884541340800LL;   // 30000-01-01T00:00:00Z
constexpr int64_t kSecondsFrom1600March = 11670912000LL;
// n % 7 for n below 2^24 by one multiplication: the compiler's general form
// for 32 bits takes three more steps.
constexpr uint32_t mod7(uint32_t n) {
    return n - 7 * static_cast<uint32_t>((uint64_t{n} * 613566757u) >> 32);
}
// timeFromCalendar for fields that carry or leave the calendar: out of line,
// so the common case stays small enough to inline.
int64_t timeFromOtherFields(CalendarFields& fields);
}  // namespace detail

inline CalendarFields calendarFromTime(int64_t t) {
    // One unsigned comparison for both ends; instants outside are rare. The
    // difference is taken unsigned, so the extreme instants wrap, not overflow.
    if (static_cast<uint64_t>(t) - static_cast<uint64_t>(detail::kFirstInstant) >
        static_cast<uint64_t>(detail::kLastInstant - detail::kFirstInstant)) [[unlikely]] {
        t = t < detail::kFirstInstant ? detail::kFirstInstant : detail::kLastInstant;
    }
    // Non-negative from here on; the day count and the second of the day fit 32 bits.
    const uint64_t s = static_cast<uint64_t>(t + detail::kSecondsFrom1600March);
    uint32_t days = static_cast<uint32_t>(s / 86400);
    const uint32_t secs = static_cast<uint32_t>(s - uint64_t{days} * 86400);
    CalendarFields f;
    f.weekday = static_cast<int32_t>(detail::mod7(days + 3));  // 1600-03-01 was a Wednesday
    // The 400-, 100-, 4- and 1-year split, and the month and day within the
    // March-based year, by multiplications in place of the cascade of
    // divisions and the table search (same answers: 146096 and 1460 stay the
    // final 29 Februaries of their cycles).
    const uint32_t n1 = 4 * days + 3;
    const uint32_t centuries = n1 / 146097;
    const uint32_t n2 = (n1 % 146097) | 3;
    const uint64_t p2 = uint64_t{2939745} * n2;
    const uint32_t yearsInCentury = static_cast<uint32_t>(p2 >> 32);
    const uint32_t dayOfYear = static_cast<uint32_t>(p2) / 2939745 / 4;  // 0 = 1 March
    const uint32_t n3 = 2141 * dayOfYear + 197913;
    const uint32_t marchMonth = n3 >> 16;  // 3 = March .. 14 = February
    const uint32_t year = 1600 + 100 * centuries + yearsInCentury;
    // Without branches: the year, month and leap day come out of random
    // instants at random, so a branch on them is mispredicted often.
    const uint32_t winter = dayOfYear >= 306;  // January or February: the next Gregorian year
    // The year of March to December is a multiple of 100 only when
    // yearsInCentury is 0, and then a multiple of 400 when centuries is a
    // multiple of 4; once a century, so this test predicts well.
    const uint32_t leap = ((yearsInCentury != 0 ? yearsInCentury : centuries) & 3) == 0;
    f.day = static_cast<int32_t>((n3 & 0xFFFF) / 2141 + 1);
    f.month = static_cast<int32_t>(marchMonth - 1 - 12 * winter);
    f.yearDay = static_cast<int32_t>(dayOfYear + 59 + leap - ((0 - winter) & (365 + leap)));
    f.year = static_cast<int32_t>(year + winter) - 1900;
    const uint32_t minutes = secs / 60;
    const uint32_t hour = secs / 3600;
    f.hour = static_cast<int32_t>(hour);
    f.minute = static_cast<int32_t>(minutes - 60 * hour);
    f.second = static_cast<int32_t>(secs - 60 * minutes);
    f.daylight = -1;
    return f;
}

inline int64_t timeFromCalendar(CalendarFields& fields) {
    // Fields already in normal form inside the calendar keep their values;
    // only the weekday and the day of the year are derived.
    static constexpr int32_t kLengths[2][12] = {{31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31},
                                                {31, 29, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31}};
    static constexpr int32_t kJanuaryDays[2][12] = {{0, 31, 59, 90, 120, 151, 181, 212, 243, 273, 304, 334},
                                                    {0, 31, 60, 91, 121, 152, 182, 213, 244, 274, 305, 335}};
    const int32_t month = fields.month;
    const int32_t day = fields.day;
    // One unsigned comparison per field also catches a negative one; the
    // branches are taken only by records that carry, which are rare.
    // The differences are taken unsigned: extreme fields wrap, not overflow.
    if (static_cast<uint32_t>(fields.year) - static_cast<uint32_t>(1601 - 1900) < 30000 - 1601 &&
        static_cast<uint32_t>(month) <= 11 && static_cast<uint32_t>(day) - 1u <= 30 &&
        static_cast<uint32_t>(fields.hour) <= 23 && static_cast<uint32_t>(fields.minute) <= 59 &&
        static_cast<uint32_t>(fields.second) <= 59) [[likely]] {
        // 32-bit from here on: the year is inside the calendar.
        const uint32_t y = static_cast<uint32_t>(fields.year + 1900);
        // Multiples of 100 are leap when they are multiples of 16 as well.
        const uint32_t leap = (y & (y % 25 != 0 ? 3 : 15)) == 0;
        if (day <= kLengths[leap][month]) [[likely]] {
            const int32_t yearDay = kJanuaryDays[leap][month] + day - 1;
            const int64_t days = calendar::daysBeforeYear(y) + yearDay;
            // Shifted by whole weeks to stay positive; 1970-01-01 was a Thursday.
            fields.weekday = static_cast<int32_t>(detail::mod7(static_cast<uint32_t>(days + 4 + 7 * 200000)));
            fields.yearDay = yearDay;
            fields.daylight = -1;
            return days * 86400 + (fields.hour * 3600 + fields.minute * 60 + fields.second);
        }
    }
    return detail::timeFromOtherFields(fields);
}

inline bool isLeapYear(int64_t yearsSince1900) {
    const int64_t y = yearsSince1900 + 1900;
    // y % 100 != 0 is y % 25 != 0 for multiples of 4, and y % 400 == 0 is then y % 16 == 0.
    return (y & 3) == 0 && (y % 25 != 0 || (y & 15) == 0);
}

}  // namespace tavlo::timezone
