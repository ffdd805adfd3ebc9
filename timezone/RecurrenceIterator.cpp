#include "timezone/RecurrenceIterator.h"

#include <algorithm>
#include <climits>
#include <initializer_list>

#include "timezone/CalendarMath.h"

namespace tavlo::timezone {

namespace {

constexpr int kStepFields[] = {FieldYear, FieldMonth,  FieldWeekNumber, FieldMonthDay,
                               FieldHour, FieldMinute, FieldSecond};
constexpr int64_t kStepSeconds[] = {0, 0, 0, 86400, 3600, 60, 1};

int parentOf(int index) {
    return coarserField(index, 1);
}

// The wall clock written as if UTC.
int64_t wallOf(const DateTime& d) {
    int64_t w;
    return __builtin_add_overflow(d.value(), d.offset().seconds(), &w) ? d.value() : w;
}

bool earlier(const DateTime& a, const DateTime& b) {
    return a.value() < b.value();
}

// Hours, minutes and seconds count from 0, the date fields from 1.
bool inRange(int index, int64_t v, int64_t n) {
    return index >= FieldHour ? v >= 0 && v < n : v >= 1 && v <= n;
}

int64_t fromEnd(int64_t v, int64_t n) {
    return v < 0 ? v + n + 1 : v;
}

}  // namespace

RecurrenceIterator::RecurrenceIterator()
    : rule_(nullptr),
      position_(0),
      delivered_(1),
      offsetCarry_(0),
      anchorDay_(0),
      yearAnchorDay_(0),
      yearAnchorMonth_(0),
      dateStart_(false) {}

RecurrenceIterator::RecurrenceIterator(const RecurrenceRule& rule, const DateTime& start, bool includeStart)
    : rule_(&rule),
      batch_{start},
      position_(0),
      delivered_(-1),
      offsetCarry_(0),
      anchorDay_(0),
      yearAnchorDay_(0),
      yearAnchorMonth_(0),
      dateStart_(start.isDateOnly()) {
    const auto none = [this](std::initializer_list<int> lists) {
        return std::all_of(lists.begin(), lists.end(), [this](int i) { return byList(i).empty(); });
    };
    const int day = start.field(FieldMonthDay, rule.weekStart);
    // Where the days come from the start, a month or year without the start's
    // day (the 31st, 29 February) has none: the month step must not carry it
    // to a shorter day, nor the year step into March. A time list of a monthly
    // rule expands every day of the month instead.
    if (rule.frequency == Monthly &&
        none({ByWeekNo, ByYearDay, ByMonthDay, ByDay, ByHour, ByMinute, BySecond})) {
        anchorDay_ = day;
    }
    if (rule.frequency == Yearly && none({ByWeekNo, ByYearDay, ByMonthDay, ByDay})) {
        yearAnchorDay_ = day;
        yearAnchorMonth_ = byList(ByMonth).empty() ? start.field(FieldMonth, rule.weekStart) : 0;
    }
    for (int i = 1; i <= 8; ++i) {
        levels_[i] = expansionLevel(i);
    }
    advance();
    if (includeStart && !(!batch_.empty() && batch_.front().value() == start.value())) {
        batch_.push_back(start);
        std::sort(batch_.begin(), batch_.end(), earlier);
        delivered_ = delivered_ == INT32_MAX ? delivered_ : delivered_ + 1;
    }
    if (batch_.empty() && delivered_ < 1) {
        endState();
    }
}

DateTime RecurrenceIterator::current() const {
    return position_ >= 0 && static_cast<size_t>(position_) < batch_.size() ? batch_[position_]
                                                                            : unsetDateTime();
}

bool RecurrenceIterator::equals(const RecurrenceIterator& other) const {
    // An iterator at its end equals only another at its end: one that has
    // delivered a single occurrence is not the end iterator.
    const bool atEnd = batch_.empty() && delivered_ > 0;
    const bool otherAtEnd = other.batch_.empty() && other.delivered_ > 0;
    if (atEnd || otherAtEnd) {
        return atEnd && otherAtEnd;
    }
    if (delivered_ != other.delivered_ || position_ != other.position_) {
        return false;
    }
    if (batch_.empty() || other.batch_.empty()) {
        return batch_.empty() && other.batch_.empty();
    }
    return current().value() == other.current().value();
}

RecurrenceIterator RecurrenceIterator::operator++(int) {
    RecurrenceIterator before(*this);
    advance();
    return before;
}

void RecurrenceIterator::endState() {
    batch_.clear();
    position_ = 0;
    delivered_ = 1;
}

void RecurrenceIterator::endWalk() {
    batch_.clear();
    position_ = 0;
    delivered_ = std::max(delivered_, 1);
}

void RecurrenceIterator::advance() {
    if (rule_ == nullptr) {
        return;
    }
    if (!rule_->valid || (batch_.empty() && delivered_ >= 1)) {
        endState();
        return;
    }
    if (rule_->interval > 1024 || rule_->interval < 1) {
        endState();
        return;
    }
    if (!batch_.empty() && ++position_ < static_cast<int32_t>(batch_.size())) {
        return;
    }
    if (batch_.empty() || (delivered_ >= 0 && rule_->count >= 0 && delivered_ >= rule_->count)) {
        // Nothing more can be delivered; the search would only be trimmed away.
        endWalk();
        return;
    }
    computeBatch();
}

bool RecurrenceIterator::computeBatch() {
    const DateTime base = batch_.back();
    batch_.clear();
    position_ = 0;
    if (search(base) == Search::Ended) {
        endWalk();
        return false;
    }
    if (delivered_ == -1) {
        delivered_ = 0;
    }
    size_t keep = 0;
    for (; keep < batch_.size(); ++keep) {
        if (!rule_->until.isUnset() && batch_[keep].value() > rule_->until.value()) {
            break;
        }
        if (rule_->count >= 0 && int64_t{delivered_} + static_cast<int64_t>(keep) >= rule_->count) {
            break;
        }
    }
    batch_.resize(keep);
    delivered_ =
        static_cast<int32_t>(std::min<int64_t>(int64_t{delivered_} + static_cast<int64_t>(keep), INT32_MAX));
    return true;
}

bool RecurrenceIterator::neverProduces() const {
    // A time list none of whose values fits an hour, minute or second never
    // yields a candidate, in any period, and neither does a BYSETPOS beyond
    // every period's size. (A list that ends the walk for want of an
    // expansion level decides otherwise, so it keeps the plain walk.)
    bool never = false;
    for (int i = FieldHour; i <= FieldSecond; ++i) {
        const auto& list = byList(i);
        if (list.empty()) {
            continue;
        }
        if (levels_[i] >= 0 && levels_[i] < parentOf(parentOf(i))) {
            return false;
        }
        const int64_t n = i == FieldHour ? 24 : 60;
        never = never || std::none_of(list.begin(), list.end(),
                                      [&](int32_t v) { return inRange(i, fromEnd(v, n), n); });
    }
    if (never) {
        return true;
    }
    // A period holds at most `most` candidates; BYSETPOS values that no such
    // period has a position for never keep one.
    const auto& positions = byList(BySetPos);
    if (positions.empty()) {
        return false;
    }
    int64_t most = 1;
    for (int i = 1; i <= 8; ++i) {
        const auto& list = byList(i);
        if (list.empty() || levels_[i] < 0) {
            continue;
        }
        const int parent = parentOf(i);
        int64_t each = 1;
        if (i == ByDay) {
            each = 54;
        } else if (levels_[i] < parent && finerField(levels_[i], 1) == parent) {
            each = parent == FieldMonth ? 12 : parent == FieldMonthDay ? 31 : parent == FieldHour ? 24 : 60;
        }
        most = std::min<int64_t>(most * each * static_cast<int64_t>(list.size()), int64_t{1} << 40);
    }
    return std::none_of(positions.begin(), positions.end(),
                        [&](int32_t p) { return p != 0 && p >= -most && p <= most; });
}

RecurrenceIterator::Search RecurrenceIterator::search(DateTime base) {
    const int startYear = base.field(FieldYear, weekStart());
    const int frequency = rule_->frequency;
    const int u = kStepFields[frequency];
    const bool align = !byList(ByWeekNo).empty() && frequency <= Monthly;
    if (skipping_ && neverProduces()) {
        return Search::GaveUp;
    }
    bool first = delivered_ == -1;
    for (;;) {
        const Period period = runPeriod(base, first);
        if (period.ended) {
            return Search::Ended;
        }
        if (!batch_.empty()) {
            return Search::Found;
        }
        if (first) {
            delivered_ = 0;
            first = false;
        } else if (!period.baseMoved) {
            // Crossed runs of empty periods land where the plain walk would,
            // so they are only taken where the offset stays the same.
            const int64_t step = kStepSeconds[frequency] * rule_->interval;
            DateTime next;
            const DateTime from = steppingFrom(base);
            for (int64_t skip = period.skip;; skip /= 2) {
                next = from;
                const int64_t target = stepValue(from, u) + (1 + skip) * int64_t{rule_->interval};
                next.setField(u, static_cast<int>(std::min<int64_t>(target, INT32_MAX)), weekStart());
                if (skip == 0 ||
                    (next.offset() == base.offset() && wallOf(next) == wallOf(base) + (1 + skip) * step)) {
                    break;
                }
            }
            if (align) {
                alignWeekday(next, base.field(FieldWeekday, weekStart()));
            }
            if (next.isUnset() || next.isMarker() || wallOf(next) <= wallOf(base)) {
                return Search::Ended;
            }
            base = next;
        }
        if (base.field(FieldYear, weekStart()) > startYear + 8) {
            return Search::GaveUp;
        }
    }
}

RecurrenceIterator::Period RecurrenceIterator::runPeriod(DateTime& base, bool first) {
    Period period;
    const int ws = weekStart();
    const int frequency = rule_->frequency;
    const int u = kStepFields[frequency];
    DateTime seed = steppingFrom(base);
    bool carried = false;
    if (!first) {
        const int target = stepValue(seed, u) + rule_->interval;
        // The twin keeps the seed's offset, so comparing the two shows a step
        // into a skipped hour. A fixed offset never meets one.
        const bool twinNeeded = seed.kind() != FixedOffset;
        DateTime twin;
        if (twinNeeded) {
            twin = seed;
            twin.setFixedOffset(seed.offset());
            twin.setField(u, target, ws);
        }
        seed.setField(u, target, ws);
        if (seed.isUnset() || seed.isMarker() || wallOf(seed) <= wallOf(base)) {
            period.ended = true;
            return period;
        }
        if (twinNeeded) {
            anchorYearDay(twin);
        }
        anchorYearDay(seed);
        if (offsetCarry_ < 0) {
            seed.add(Duration(offsetCarry_));
            offsetCarry_ = 0;
            carried = true;
        }
        if (twinNeeded && twin.value() == seed.value()) {
            offsetCarry_ = static_cast<int32_t>(twin.offset().seconds() - seed.offset().seconds());
        }
        if (anchorDay_ != 0 && seed.field(FieldMonthDay, ws) != anchorDay_) {
            if (seed.unitsPer(Daily, ws, FieldMonth) < anchorDay_) {
                DateTime next = steppingFrom(base);
                next.setField(u, target, ws);
                if (wallOf(next) <= wallOf(base)) {
                    period.ended = true;
                    return period;
                }
                base = next;
                period.baseMoved = true;
                return period;
            }
            seed.setField(FieldMonthDay, anchorDay_, ws);
        }
    }
    if (!byList(ByWeekNo).empty() && frequency <= Monthly) {
        alignWeekday(seed, base.field(FieldWeekday, ws));
    }
    batch_.assign(1, seed);
    bool lone = true;
    std::array<bool, 9> limitedSeed{};
    // A week may straddle two months: BYMONTH then waits for its days.
    const bool weekExpands = !byList(ByDay).empty() && levels_[ByDay] == FieldWeekNumber;
    for (int i = 1; i <= 8; ++i) {
        if (byList(i).empty()) {
            continue;
        }
        limitedSeed[i] = lone && levels_[i] < 0;
        if (limitedSeed[i] && i == ByMonth && weekExpands) {
            continue;  // the week's days are tried one by one below
        }
        if (!applyList(i, seed, &lone, &period.skip)) {
            period.ended = true;
            batch_.clear();
            return period;
        }
        if (batch_.empty()) {
            break;
        }
    }
    // A list that limited the seed alone also limits what a later list
    // expanded from it: the days of a week may lie in a month BYMONTH rejects.
    for (int i = 1; i <= 8 && !lone && !batch_.empty(); ++i) {
        if (limitedSeed[i]) {
            std::erase_if(batch_, [&](const DateTime& d) { return !matches(i, d); });
        }
    }
    if (carried || offsetCarry_ != 0 ||
        wallOf(seed) != wallOf(base) + kStepSeconds[frequency] * rule_->interval) {
        period.skip = 0;
    }
    if (yearAnchorDay_ != 0) {
        std::erase_if(batch_, [&](const DateTime& d) {
            return d.field(FieldMonthDay, ws) != yearAnchorDay_ ||
                   (yearAnchorMonth_ != 0 && d.field(FieldMonth, ws) != yearAnchorMonth_);
        });
    }
    if (batch_.empty()) {
        return period;
    }
    std::sort(batch_.begin(), batch_.end(), earlier);
    const auto& positions = byList(BySetPos);
    if (!positions.empty()) {
        const int64_t n = static_cast<int64_t>(batch_.size());
        std::vector<DateTime> picked;
        for (int64_t k = 1; k <= n; ++k) {
            if (std::any_of(positions.begin(), positions.end(),
                            [&](int32_t p) { return fromEnd(p, n) == k && k >= 1 && k <= n; })) {
                picked.push_back(batch_[k - 1]);
            }
        }
        batch_.swap(picked);
    }
    const int64_t floor = base.value();
    std::erase_if(batch_,
                  [&](const DateTime& d) { return d.value() < floor || (!first && d.value() == floor); });
    return period;
}

// Where a period's search starts from. A January day in the last week of
// the year before belongs to that year's weeks, a December day in the first
// week of the next to the next year's: a yearly week-number rule starts from
// the same weekday a week earlier or later, so that the start's own weeks
// are searched first and no year is missed.
DateTime RecurrenceIterator::steppingFrom(const DateTime& base) const {
    const int ws = weekStart();
    if (rule_->frequency != Yearly || byList(ByWeekNo).empty()) {
        return base;
    }
    const int month = base.field(FieldMonth, ws), week = base.field(FieldWeekNumber, ws);
    if (month == 1 && week > 50) {
        return base - Duration(7 * 86400);
    }
    if (month == 12 && week == 1) {
        return base + Duration(7 * 86400);
    }
    return base;
}

void RecurrenceIterator::anchorYearDay(DateTime& d) const {
    if (yearAnchorDay_ == 0) {
        return;
    }
    // A month that lacks the day clamps or carries it; such days are dropped.
    const int ws = weekStart();
    d.setField(FieldMonthDay, 1, ws);
    d.setField(FieldMonth, yearAnchorMonth_ != 0 ? yearAnchorMonth_ : 1, ws);
    d.setField(FieldMonthDay, yearAnchorDay_, ws);
}

// Moves d onto weekday inside its week, and by a week back into the year (or
// the month) it was in when the move crosses that border, so that a step to
// the next period never lands in the one after it.
void RecurrenceIterator::alignWeekday(DateTime& d, int weekday) const {
    const int ws = weekStart();
    const int border = rule_->frequency == Yearly ? FieldYear : FieldMonth;
    const int before = d.field(border, ws);
    const int64_t wall = wallOf(d);
    d.setField(FieldWeekday, weekday, ws);
    const int after = d.field(border, ws);
    if (after != before) {
        const int day = d.field(FieldMonthDay, ws);
        d.setField(FieldMonthDay, wallOf(d) > wall ? day - 7 : day + 7, ws);
    }
}

// Runs list index over the batch; false when the walk ends for good.
bool RecurrenceIterator::applyList(int index, const DateTime& seed, bool* lone, int64_t* skip) {
    const int level = levels_[index];
    std::vector<DateTime> source;
    source.swap(batch_);
    if (level < 0) {
        for (const DateTime& e : source) {
            if (matches(index, e)) {
                batch_.push_back(e);
            }
        }
        if (batch_.empty() && *lone && skipping_) {
            *skip = emptyRun(index, seed);
        }
        return true;
    }
    *lone = false;
    const int parent = parentOf(index);
    if (level < parentOf(parent)) {
        return false;
    }
    for (const DateTime& e : source) {
        if (index == ByDay) {
            expandByDay(level, e);
        } else if (level >= parent || finerField(level, 1) != parent) {
            // An hour list from the week or the day of the year expands on
            // the element's own day.
            expandDirect(index, parent, e);
        } else {
            const int ws = weekStart();
            const int64_t n = units(e, frequencyOfField(parent), level);
            const int64_t firstValue = parent >= FieldHour ? 0 : 1;
            for (const int32_t v : byList(index)) {
                for (int64_t k = firstValue; k < firstValue + n; ++k) {
                    DateTime s = e;
                    s.setField(parent, static_cast<int>(k), ws);
                    const int64_t count = units(s, frequencyOfField(index), parent);
                    const int64_t value = fromEnd(v, count);
                    if (inRange(index, value, count)) {
                        s.setField(index, static_cast<int>(value), ws);
                        batch_.push_back(s);
                    }
                }
                if (batch_.size() > kMaxCandidates) {
                    return false;
                }
            }
        }
        if (batch_.size() > kMaxCandidates) {
            return false;
        }
    }
    return true;
}

bool RecurrenceIterator::matches(int index, const DateTime& e) const {
    const int ws = weekStart();
    const auto& list = byList(index);
    if (index == ByDay) {
        const int weekday = e.field(FieldWeekday, ws);
        return std::any_of(list.begin(), list.end(), [&](int32_t v) { return (v & 0xFF) == weekday; });
    }
    const int64_t n = units(e, frequencyOfField(index), parentOf(index));
    if (index == ByWeekNo && (rule_->frequency == Monthly || !byList(ByMonth).empty())) {
        const int month = e.field(FieldMonth, ws);
        return std::any_of(list.begin(), list.end(), [&](int32_t v) {
            DateTime s = e;
            s.setField(FieldWeekNumber,
                       static_cast<int>(std::clamp<int64_t>(fromEnd(v, n), INT_MIN, INT_MAX)), ws);
            return s.field(FieldMonth, ws) == month;
        });
    }
    const int value = e.field(index, ws) + (index == ByYearDay ? 1 : 0);
    return std::any_of(list.begin(), list.end(), [&](int32_t v) { return fromEnd(v, n) == value; });
}

void RecurrenceIterator::expandDirect(int index, int parent, const DateTime& e) {
    const int ws = weekStart();
    const int64_t n = units(e, frequencyOfField(index), parent);
    for (const int32_t v : byList(index)) {
        const int64_t value = fromEnd(v, n);
        if (inRange(index, value, n)) {
            DateTime s = e;
            s.setField(index, static_cast<int>(value), ws);
            batch_.push_back(s);
        }
    }
}

void RecurrenceIterator::expandByDay(int level, const DateTime& e) {
    const int ws = weekStart();
    const auto [first, last] = weekRange(e, level);
    const int levelValue = e.field(level, ws);
    std::vector<DateTime> kept;
    for (const int32_t v : byList(ByDay)) {
        kept.clear();
        for (int64_t n = first; n <= last; ++n) {
            DateTime s = e;
            s.setField(FieldWeekNumber, static_cast<int>(n), ws);
            s.setField(FieldWeekday, v & 0xFF, ws);
            if (s.field(level, ws) == levelValue) {
                kept.push_back(s);
            }
        }
        const int64_t ordinal = v >> 8;
        if (ordinal == 0) {
            batch_.insert(batch_.end(), kept.begin(), kept.end());
            continue;
        }
        const int64_t k = fromEnd(ordinal, static_cast<int64_t>(kept.size()));
        if (k >= 1 && k <= static_cast<int64_t>(kept.size())) {
            batch_.push_back(kept[k - 1]);
        }
    }
}

// How many further periods after seed's are rejected by list index too: those
// in the same month, day, hour or minute when the list's field is coarser
// than the frequency, else those before the next value of the frequency's own
// field that the list names. Capped at a week of periods, so that a run never
// spans two changes of the wall clock's offset.
int64_t RecurrenceIterator::emptyRun(int index, const DateTime& seed) const {
    const int frequency = rule_->frequency;
    if (frequency < Daily || frequencyOfField(index) > frequency) {
        return 0;
    }
    const int64_t step = kStepSeconds[frequency] * rule_->interval;
    const int64_t cap = 7 * 86400 / step;
    const int64_t wall = wallOf(seed);
    if (frequencyOfField(index) == frequency) {
        if (index < FieldHour) {
            return 0;
        }
        const int64_t n = index == FieldHour ? 24 : 60;
        const int64_t value = seed.field(index, weekStart());
        const auto& list = byList(index);
        for (int64_t k = 1; k <= n; ++k) {
            const int64_t next = (value + k * rule_->interval) % n;
            if (std::any_of(list.begin(), list.end(), [&](int32_t v) { return fromEnd(v, n) == next; })) {
                return std::min(k - 1, cap);
            }
        }
        return cap;
    }
    int64_t boundary;
    if (index == ByMonth) {
        const CalendarFields f = calendarFromTime(wall);
        boundary = calendar::instantFromFields(f.year + 1900LL, f.month + 1, 1, 0, 0, 0);
    } else {
        const int64_t unit = index <= ByDay ? 86400 : index == ByHour ? 3600 : 60;
        boundary = (calendar::floorDiv(wall, unit) + 1) * unit;
    }
    return boundary > wall ? std::min((boundary - 1 - wall) / step, cap) : 0;
}

int RecurrenceIterator::expansionLevel(int index) const {
    if (rule_ == nullptr || index < 1 || index > 8) {
        return -1;
    }
    const int frequency = rule_->frequency;
    const int c = frequencyOfField(parentOf(index));
    if (c < frequency) {
        return -1;
    }
    int r = index - 1;
    while (r > 0 && byList(r).empty() && frequencyOfField(r) > frequency) {
        --r;
    }
    return c >= frequencyOfField(r) ? r : -1;
}

std::pair<int, int> RecurrenceIterator::weekRange(const DateTime& e, int level) const {
    const int ws = weekStart();
    switch (level) {
        case FieldYear: {
            // Every week that holds a day of the year, the neighbours' first
            // and last included; the same-year test drops their other days.
            DateTime first = e, last = e;
            first.setField(FieldYearDay, 1, ws);
            last.setField(FieldYearDay, e.unitsPer(Daily, ws, FieldYear), ws);
            return {stepValue(first, FieldWeekNumber), stepValue(last, FieldWeekNumber)};
        }
        case FieldMonth: {
            DateTime first = e, last = e;
            first.setField(FieldMonthDay, 1, ws);
            last.setField(FieldMonthDay, e.unitsPer(Daily, ws, FieldMonth), ws);
            return {stepValue(first, FieldWeekNumber), stepValue(last, FieldWeekNumber)};
        }
        case FieldWeekNumber: {
            const int week = stepValue(e, FieldWeekNumber);
            return {week, week};
        }
        default:
            return {1, 1};
    }
}

int RecurrenceIterator::stepValue(const DateTime& d, int field) const {
    const int ws = rule_ != nullptr ? weekStart() : 1;
    const int value = d.field(field, ws);
    if (field != FieldWeekNumber) {
        return value;
    }
    const int month = d.field(FieldMonth, ws);
    if (month == 1 && value > 50) {
        return 0;
    }
    if (month == 12 && value < 2) {
        return (d - Duration(7 * 86400)).field(FieldWeekNumber, ws) + 1;
    }
    return value;
}

int RecurrenceIterator::units(const DateTime& d, int frequency, int field) const {
    return d.unitsPer(frequency, rule_ != nullptr ? weekStart() : 1, field);
}

}  // namespace tavlo::timezone
