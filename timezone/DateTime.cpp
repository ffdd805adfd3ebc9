// DateTime and Duration values, the calendar arithmetic and the machine offset.
#include "timezone/DateTime.h"

#include <algorithm>
#include <cstdlib>
#include <vector>

#include "timezone/CalendarMath.h"
#include "timezone/RecurrenceIterator.h"
#include "timezone/XTimeZone.h"
#include "winplat/time.h"

namespace tavlo::timezone {

using calendar::floorDiv;
using calendar::floorMod;

namespace {

constexpr int64_t kMachineFirst = 86401;
constexpr int64_t kMachineLast = 32535215999LL;  // 3000-12-31T23:59:59Z, the C runtime's last

// A 64-bit sum that is neither out of range nor one of the no-date values.
bool checkedAdd(int64_t a, int64_t b, int64_t* out) {
    int64_t r;
    if (__builtin_add_overflow(a, b, &r) || r == DateTime::kUnsetValue || r == DateTime::kMarkerValue) {
        return false;
    }
    *out = r;
    return true;
}

bool checkedSub(int64_t a, int64_t b, int64_t* out) {
    int64_t r;
    if (__builtin_sub_overflow(a, b, &r) || r == DateTime::kUnsetValue || r == DateTime::kMarkerValue) {
        return false;
    }
    *out = r;
    return true;
}

int weekdayOfDate(int64_t year, int64_t month0, int64_t day) {
    const int64_t t = calendar::instantFromFields(year, month0, day, 0, 0, 0);
    return static_cast<int>(floorMod(floorDiv(t, 86400) + 4, 7));  // 1970-01-01 was a Thursday
}

int weekNumberOf(const CalendarFields& f, int w0) {
    const int64_t year = f.year + 1900LL;
    if (f.month == 11) {
        const int g = static_cast<int>(floorMod(weekdayOfDate(year + 1, 0, 1) - w0 + 7, 7));
        if (g <= 3 && f.day >= 32 - g) {
            return 1;
        }
    }
    const int e = static_cast<int>(floorMod(weekdayOfDate(year, 0, 1) - w0 + 7, 7));
    if (e < 4 || f.month != 0 || f.day > 7 - e) {
        return (e + f.yearDay) / 7 + (e < 4 ? 1 : 0);
    }
    const CalendarFields last = calendarFromTime(calendar::instantFromFields(year - 1, 11, 31, 0, 0, 0));
    if (last.year == f.year) {
        return 1;
    }
    return weekNumberOf(last, w0);
}

}  // namespace

// ---- calendar -------------------------------------------------------------

namespace calendar {

int64_t instantFromFields(int64_t year, int64_t month0, int64_t day, int64_t hour, int64_t minute,
                          int64_t second) {
    if (month0 < 0 || month0 > 11) {
        year += floorDiv(month0, 12);
        month0 = floorMod(month0, 12);
    }
    year = std::clamp<int64_t>(year, 1600, 30000);
    return ((daysOfDate(year, month0, day) * 24 + hour) * 60 + minute) * 60 + second;
}

int daysInMonth(int64_t year, int month0) {
    static const int kLengths[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    return month0 == 1 && isLeapYear(year - 1900) ? 29 : kLengths[month0];
}

}  // namespace calendar

int64_t detail::timeFromOtherFields(CalendarFields& fields) {
    const int64_t t = calendar::instantFromFields(fields.year + 1900LL, fields.month, fields.day, fields.hour,
                                                  fields.minute, fields.second);
    fields = calendarFromTime(t);
    return t;
}

int frequencyOfField(int index) {
    switch (index) {
        case 1:
            return Monthly;
        case 2:
            return Weekly;
        case 3:
        case 4:
        case 5:
            return Daily;
        case 6:
            return Hourly;
        case 7:
            return Minutely;
        case 8:
            return Secondly;
        default:
            return Yearly;
    }
}

namespace {

int coarserStep(int index) {
    switch (index) {
        case 4:
            return 1;
        case 5:
            return 2;
        case 6:
            return 4;
        case 7:
            return 6;
        case 8:
            return 7;
        default:
            return 0;
    }
}

int finerStep(int index) {
    switch (index) {
        case 0:
            return 1;
        case 1:
            return 4;
        case 2:
            return 5;
        case 3:
        case 4:
        case 5:
            return 6;
        case 6:
            return 7;
        default:
            return 8;
    }
}

int stepField(int index, int n, int (*forward)(int), int (*backward)(int)) {
    // Both maps settle within nine steps, so longer walks end there.
    const bool ahead = n > 0;
    for (int64_t i = 0, count = std::min<int64_t>(n < 0 ? -int64_t{n} : n, 9); i < count; ++i) {
        index = ahead ? forward(index) : backward(index);
    }
    return index;
}

}  // namespace

int coarserField(int index, int n) {
    return stepField(index, n, coarserStep, finerStep);
}

int finerField(int index, int n) {
    return stepField(index, n, finerStep, coarserStep);
}

// ---- Duration -------------------------------------------------------------

Duration Duration::fromParts(int64_t days, int64_t hours, int64_t minutes, int64_t seconds, bool negate) {
    int64_t r;
    if (__builtin_mul_overflow(days, 24, &r) || __builtin_add_overflow(r, hours, &r) ||
        __builtin_mul_overflow(r, 60, &r) || __builtin_add_overflow(r, minutes, &r) ||
        __builtin_mul_overflow(r, 60, &r) || __builtin_add_overflow(r, seconds, &r) || r == kUnknownSeconds) {
        return kUnknownDuration;
    }
    return Duration(negate ? -r : r);
}

int Duration::hours() const {
    return isUnknown() ? 0 : static_cast<int>(std::abs(count_ % 86400 / 3600));
}

int Duration::minutes() const {
    return isUnknown() ? 0 : static_cast<int>(std::abs(count_ % 3600 / 60));
}

Duration operator-(Duration a, Duration b) {
    int64_t r;
    if (a.isUnknown() || b.isUnknown() || __builtin_sub_overflow(a.count(), b.count(), &r)) {
        return kUnknownDuration;
    }
    return Duration(r);
}

// ---- DateTime -------------------------------------------------------------

const DateTime& unsetDateTime() {
    static const DateTime unset;
    return unset;
}

DateTime::DateTime()
    : value_(kUnsetValue),
      dateOnly_(false),
      offsetMinutes_(kUnknownOffsetMinutes),
      kind_(Floating),
      reserved_(-1) {}

DateTime::DateTime(int64_t instant)
    : value_(instant), dateOnly_(false), offsetMinutes_(0), kind_(FixedOffset), reserved_(-1) {}

DateTime::DateTime(int day, int month, int year, int hour, int minute, int second, Duration offset)
    : DateTime() {
    const int64_t t = calendar::instantFromFields(year, month - 1LL, day, hour, minute, second);
    if (!checkedSub(t, offset.seconds(), &value_)) {
        return;
    }
    if (offset.isUnknown()) {
        kind_ = Floating;
        offsetMinutes_ = kUnknownOffsetMinutes;
    } else {
        kind_ = FixedOffset;
        offsetMinutes_ = static_cast<int32_t>(offset.count()) / 60;
    }
}

DateTime DateTime::fromTime(int64_t t) {
    return t < 0 ? unsetDateTime() : DateTime(t);
}

DateTime DateTime::now() {
    return fromTime(_time64(nullptr));
}

DateTime DateTime::fromYear(int year) {
    DateTime d(calendar::instantFromFields(year, 0, 1, 0, 0, 0));
    d.dateOnly_ = true;
    return d;
}

Duration DateTime::machineOffset(int64_t value, bool valueIsUtc) {
    __time64_t t;
    if (value < kMachineFirst || value > kMachineLast) {
        t = _time64(nullptr);
    } else if (valueIsUtc) {
        t = value;
    } else {
        struct tm wall = *_gmtime64(&value);
        wall.tm_isdst = -1;
        t = _mktime64(&wall);
    }
    // The range _gmtime64 accepts; inside it the UTC side is plain arithmetic.
    if (t < 0 || t > kMachineLast) {
        return Duration(0);
    }
    const struct tm* local = _localtime64(&t);
    if (local == nullptr) {
        return Duration(0);
    }
    const int64_t gmDay = t / 86400;
    const int gmSeconds = static_cast<int>(t % 86400);
    int minutes = (local->tm_hour - gmSeconds / 3600) * 60 + local->tm_min - gmSeconds / 60 % 60;
    // Day numbers order the days as the year and the day of the year do.
    const int64_t localDay = calendar::daysOfDate(local->tm_year + 1900LL, local->tm_mon, local->tm_mday);
    // Without a branch: the local day differs from the UTC one for hours of
    // every day, at random for random instants.
    minutes += 1440 * (static_cast<int>(localDay > gmDay) - static_cast<int>(localDay < gmDay));
    return Duration(minutes * 60LL);
}

bool DateTime::machineWallFields(int64_t value, CalendarFields* out) {
    if (value < kMachineFirst || value > kMachineLast) {
        return false;
    }
    const __time64_t t = value;
    const struct tm* local = _localtime64(&t);
    if (local == nullptr || local->tm_sec != static_cast<int>(value % 60)) {
        return false;
    }
    out->second = local->tm_sec;
    out->minute = local->tm_min;
    out->hour = local->tm_hour;
    out->day = local->tm_mday;
    out->month = local->tm_mon;
    out->year = local->tm_year;
    out->weekday = local->tm_wday;
    out->yearDay = local->tm_yday;
    out->daylight = -1;  // as calendarFromTime leaves it
    return true;
}

Duration DateTime::zoneOffset() const {
    if (!zone_ || !zone_->isValid()) {
        return kUnknownDuration;
    }
    if (offsetMinutes_ != kUnknownOffsetMinutes) {
        return Duration(offsetMinutes_ * 60LL);
    }
    const auto& observances = zone_->observances();
    if (observances.size() == 1) {
        return observances.front().offsetTo;
    }
    if (observances.size() == 2) {
        const Duration cached = XTimeZone::offsetAt(value_, zone_);
        if (!cached.isUnknown()) {
            return cached;
        }
    }
    const Duration answer = scanObservances();
    offsetMinutes_ = static_cast<int32_t>(answer.count()) / 60;  // the unknown answer's low half is 0
    return answer;
}

// The general scan: each observance's change nearest the value's UTC year,
// each expanded on its own wall clock; the latest change not after the value
// decides, else the earliest one after it (through its offsetFrom).
Duration DateTime::scanObservances() const {
    const int year = calendarFromTime(value_).year + 1900;
    struct Candidate {
        int64_t at;
        const ZoneObservance* observance;
    };
    std::vector<Candidate> candidates;
    for (const ZoneObservance& o : zone_->observances()) {
        const bool recurs = o.rule.valid;
        DateTime s = recurs || o.secondDate.noDate() ? o.start : o.secondDate;
        if (s.noDate()) {
            continue;
        }
        if (s.kind_ == ZoneBound) {
            s.zone_.reset();
            s.kind_ = Floating;
            s.offsetMinutes_ = kUnknownOffsetMinutes;
        }
        if (o.offsetFrom.isUnknown()) {
            s.makeFloating();
        } else {
            s.setFixedOffset(o.offsetFrom);
        }
        if (!recurs) {
            candidates.push_back({s.value_, &o});
            continue;
        }
        if (s.field(FieldYear, 1) > year) {
            s.setField(FieldYear, year - 1, 1);
        }
        DateTime reached;
        for (RecurrenceIterator it(o.rule, s, true);; it.advance()) {
            const DateTime occurrence = it.current();
            if (occurrence.isUnset()) {
                break;
            }
            reached = occurrence;
            if (occurrence.field(FieldYear, 1) >= year) {
                break;
            }
        }
        if (!reached.isUnset()) {
            candidates.push_back({reached.value_, &o});
        }
    }
    if (candidates.empty()) {
        return kUnknownDuration;
    }
    Candidate chosen = candidates.front();
    bool before = value_ < chosen.at;
    for (size_t i = 1; i < candidates.size(); ++i) {
        const Candidate& c = candidates[i];
        if (c.at > chosen.at && c.at <= value_) {
            chosen = c;
            before = false;
        } else if (c.at < chosen.at && c.at > value_) {
            chosen = c;
            before = true;
        }
    }
    return before ? chosen.observance->offsetFrom : chosen.observance->offsetTo;
}

Duration DateTime::offset() const {
    if (noDate()) {
        return kUnknownDuration;
    }
    switch (kind_) {
        case ZoneBound:
            return zoneOffset();
        case FixedOffset:
            return Duration(offsetMinutes_ * 60LL);
        case Floating:
            return machineOffset(value_, true);
        default:
            return kUnknownDuration;
    }
}

bool DateTime::wallSeconds(int64_t* out) const {
    return checkedAdd(value_, offset().seconds(), out);
}

CalendarFields DateTime::wallFields() const {
    int64_t wall;
    if (!wallSeconds(&wall)) {
        wall = value_;  // beyond the calendar either way: the clamp decides
    }
    return calendarFromTime(wall);
}

void DateTime::storeValue(int64_t v) {
    value_ = v;
    if (kind_ == ZoneBound) {
        offsetMinutes_ = kUnknownOffsetMinutes;
    }
}

bool DateTime::shift(int64_t d) {
    int64_t v;
    if (!checkedAdd(value_, d, &v)) {
        return false;
    }
    storeValue(v);
    return true;
}

// The value holds a wall-clock time W written as if UTC; the binding that
// reads it is in place. One guess at the offset, one correction, and then,
// where the offset changes between W's own reading and the instant found,
// the other candidate when it reads back as W. A time that a change skips
// stays where the first rule puts it; a repeated one takes the first rule's
// answer too.
void DateTime::place() {
    const int64_t wall = value_;
    const Duration r = offset();
    if (r.isUnknown() || !shift(-r.count())) {
        return;
    }
    const Duration s = offset();
    if (s.isUnknown()) {
        return;
    }
    int64_t correction;
    if ((s.count() < r.count() || (r.count() >= 0 && s.count() >= 0)) &&
        !__builtin_sub_overflow(r.count(), s.count(), &correction)) {
        shift(correction);
    }
    const Duration now = offset();
    int64_t readBack;
    if (now.isUnknown() || (checkedAdd(value_, now.count(), &readBack) && readBack == wall)) {
        return;
    }
    int64_t candidate;
    if (!checkedSub(wall, now.count(), &candidate)) {
        return;
    }
    const int64_t kept = value_;
    storeValue(candidate);
    const Duration there = offset();
    if (there.isUnknown() || !checkedAdd(candidate, there.count(), &readBack) || readBack != wall) {
        storeValue(kept);
    }
}

int DateTime::field(int index, int weekStart) const {
    const CalendarFields f = wallFields();
    switch (index) {
        case FieldMonth:
            return f.month + 1;
        case FieldWeekNumber:
            return weekNumber(weekStart);
        case FieldYearDay:
            return f.yearDay;
        case FieldMonthDay:
            return f.day;
        case FieldWeekday:
            return f.weekday == 0 ? 7 : f.weekday;
        case FieldHour:
            return f.hour;
        case FieldMinute:
            return f.minute;
        case FieldSecond:
            return f.second;
        default:
            return f.year + 1900;
    }
}

int DateTime::weekNumber(int weekStart) const {
    return weekNumberOf(wallFields(), static_cast<int>(floorMod(weekStart, 7)));
}

int DateTime::unitsPer(int frequency, int weekStart, int fieldIndex) const {
    if (frequency < Yearly || frequency > Secondly) {
        return 0;
    }
    const CalendarFields f = wallFields();
    const int64_t year = f.year + 1900LL;
    const int d = isLeapYear(f.year) ? 366 : 365;
    const int m = calendar::daysInMonth(year, f.month);
    static const int kPerDay[] = {0, 0, 0, 1, 24, 1440, 86400};
    switch (fieldIndex) {
        case FieldYear: {
            if (frequency == Yearly) {
                return 1;
            }
            if (frequency == Monthly) {
                return 12;
            }
            if (frequency == Weekly) {
                // 28 December always lies in the last week of its year.
                CalendarFields dec = calendarFromTime(calendar::instantFromFields(year, 11, 28, 0, 0, 0));
                return weekNumberOf(dec, static_cast<int>(floorMod(weekStart, 7)));
            }
            return d * kPerDay[frequency];
        }
        case FieldMonth:
            if (frequency == Monthly) {
                return 1;
            }
            if (frequency == Weekly) {
                return m / 7;
            }
            return frequency < Weekly ? 0 : m * kPerDay[frequency];
        case FieldWeekNumber:
            if (frequency == Weekly) {
                return 1;
            }
            return frequency < Weekly ? 0 : 7 * kPerDay[frequency];
        case FieldHour: {
            static const int kPerHour[] = {0, 0, 0, 0, 1, 60, 3600};
            return kPerHour[frequency];
        }
        case FieldMinute: {
            static const int kPerMinute[] = {0, 0, 0, 0, 0, 1, 60};
            return kPerMinute[frequency];
        }
        case FieldSecond:
            return frequency == Secondly ? 1 : 0;
        default:
            return kPerDay[frequency];
    }
}

Duration DateTime::difference(const DateTime& other) const {
    int64_t r;
    if (noDate() || other.noDate() || __builtin_sub_overflow(value_, other.value_, &r)) {
        return kUnknownDuration;
    }
    return Duration(r);
}

DateTime& DateTime::add(Duration d) {
    if (d.isUnknown() || noDate()) {
        return *this;
    }
    if (shift(d.count()) && d.count() % 86400 != 0) {
        dateOnly_ = false;
    }
    return *this;
}

DateTime& DateTime::subtract(Duration d) {
    if (d.isUnknown() || noDate()) {
        return *this;
    }
    int64_t v;
    if (checkedSub(value_, d.count(), &v)) {
        storeValue(v);
        if (d.count() % 86400 != 0) {
            dateOnly_ = false;
        }
    }
    return *this;
}

DateTime& DateTime::setField(int index, int v, int weekStart) {
    if (noDate()) {
        return *this;
    }
    const int64_t w0 = floorMod(weekStart, 7);
    const CalendarFields f = wallFields();
    int64_t year = f.year + 1900LL, month = f.month, day = f.day;
    int64_t hour = f.hour, minute = f.minute, second = f.second;
    const int64_t value = v;
    if (index > FieldWeekday) {
        dateOnly_ = false;
    }
    switch (index) {
        case FieldYear:
            year = value;
            break;
        case FieldMonth:
            year += floorDiv(value - 1, 12);
            month = floorMod(value - 1, 12);
            day = std::min<int64_t>(
                day, calendar::daysInMonth(std::clamp<int64_t>(year, 1600, 30000), static_cast<int>(month)));
            break;
        case FieldWeekNumber: {
            const int64_t e = floorMod(weekdayOfDate(year, 0, 1) - w0 + 7, 7);
            month = 0;
            day = floorMod(f.weekday - int64_t{weekStart} + 7, 7) + 7 * value - e + (e > 3 ? 1 : -6);
            break;
        }
        case FieldYearDay:
            month = 0;
            day = value;
            break;
        case FieldMonthDay:
            day = value;
            break;
        case FieldWeekday:
            // Non-negative: the weekday lands inside the week that starts on w0.
            day = day - floorMod(f.weekday - w0 + 7, 7) + floorMod(value - w0, 7);
            break;
        case FieldHour:
            hour = value;
            break;
        case FieldMinute:
            minute = value;
            break;
        case FieldSecond:
            second = value;
            break;
        default:
            break;
    }
    storeValue(calendar::instantFromFields(year, month, day, hour, minute, second));
    place();
    return *this;
}

DateTime& DateTime::attachZone(const ZonePtr& zone) {
    if (noDate() || !zone || !zone->isValid()) {
        return *this;
    }
    zone_ = zone;
    kind_ = ZoneBound;
    offsetMinutes_ = kUnknownOffsetMinutes;
    return *this;
}

DateTime& DateTime::setZone(const ZonePtr& zone) {
    if (noDate() || !zone || !zone->isValid()) {
        return *this;
    }
    int64_t wall;
    if (!wallSeconds(&wall)) {
        return *this;
    }
    const bool dateOnly = dateOnly_;
    value_ = wall;
    attachZone(zone);
    place();
    dateOnly_ = dateOnly;
    return *this;
}

DateTime& DateTime::setFixedOffset(Duration d) {
    int64_t wall;
    if (noDate() || !wallSeconds(&wall)) {
        return *this;
    }
    DateTime moved(*this);
    moved.value_ = wall;
    moved.zone_.reset();
    if (d.isUnknown()) {
        moved.kind_ = Floating;
        moved.offsetMinutes_ = kUnknownOffsetMinutes;
    } else {
        moved.kind_ = FixedOffset;
        moved.offsetMinutes_ = static_cast<int32_t>(d.count() / 60);
    }
    // A fixed offset is exact; the machine zone needs the placement rule,
    // since its offset at the wall time read as UTC may not be the one at the
    // instant.
    if (d.isUnknown()) {
        moved.place();
        *this = moved;
    } else if (moved.shift(-moved.offset().seconds())) {
        *this = moved;
    }
    return *this;
}

DateTime& DateTime::makeFloating() {
    int64_t wall;
    if (noDate() || !wallSeconds(&wall)) {
        return *this;
    }
    value_ = wall;
    if (zone_) {
        zone_.reset();
    }
    offsetMinutes_ = kUnknownOffsetMinutes;
    kind_ = Floating;
    place();
    return *this;
}

DateTime DateTime::startOfDay() const {
    if (noDate()) {
        return *this;
    }
    const CalendarFields f = wallFields();
    DateTime d(calendar::instantFromFields(f.year + 1900LL, f.month, f.day, 0, 0, 0));
    switch (kind_) {
        case ZoneBound:
            d.setZone(zone_);
            break;
        case FixedOffset:
            d.setFixedOffset(Duration(offsetMinutes_ * 60LL));
            break;
        default:
            d.makeFloating();
            break;
    }
    d.dateOnly_ = false;
    return d;
}

DateTime DateTime::datePart() const {
    if (noDate() || dateOnly_) {
        return *this;
    }
    const CalendarFields f = wallFields();
    DateTime d(calendar::instantFromFields(f.year + 1900LL, f.month, f.day, 0, 0, 0));
    if (kind_ == ZoneBound) {
        d.setZone(zone_);
    }
    d.dateOnly_ = true;
    return d;
}

}  // namespace tavlo::timezone
