// The expansion of a recurrence rule into its occurrences.
//
// The walk goes period by period in the rule's frequency. Each period is
// seeded from the last occurrence by stepping the frequency's own calendar
// field by INTERVAL on the seed's wall clock (DateTime::setField); the BY
// lists then limit or expand the seed into candidates (expansionLevel decides
// which), BYSETPOS picks among them, and the first period that yields
// candidates later than the last occurrence becomes the current batch.
// A yearly or monthly rule whose days come from the start (no BYMONTHDAY,
// BYYEARDAY, BYWEEKNO or BYDAY; for a monthly one no time list either) keeps
// the start's day, so a year or month without it (29 February, the 31st) has
// none; a date start ignores the time lists; a yearly week-number walk
// searches the weeks of the start's own week-year first.
//
// What this walk does that RFC 5545 does not, on purpose:
// - the start is always delivered (with includeStart): one the rule does not
//   produce comes first, on top of what COUNT allows the rule's first
//   period, and counts towards COUNT after that (MONTHLY;BYMONTHDAY=15 from
//   10 January: COUNT=1 gives the 10th and the 15th, COUNT=3 the 10th, the
//   15th and 15 February; COUNT=0 gives the start alone);
// - expanded duplicates are kept (MONTHLY;BYMONTHDAY=1,1 gives each 1st twice);
// - a time list expanded from a day expands every hour of the day
//   (DAILY;BYMINUTE=30 gives minute 30 of every hour); a time list that would
//   have to expand from a coarser level (YEARLY;BYHOUR alone) ends the walk
//   after the start;
// - BYWEEKNO also limits MONTHLY rules; UNTIL is an instant (a date-only
//   UNTIL is its midnight UTC);
// - the search for a period with candidates gives up once the base's year
//   passes the start's year + 8; INTERVAL outside 1-1024 delivers the start
//   alone; WKST 0 (an unknown name) counts as Sunday.
//
// Bounds: one period holds at most kMaxCandidates candidates; a period that
// would hold more ends the walk. A step that does not move the wall clock
// forward (the calendar's upper clamp) ends it too. Runs of empty periods
// of a fine frequency are crossed in steps of up to a week where a limiting
// list rejects a whole month, day, hour or minute, or the frequency's own
// field misses the list's values; a time list no value of which fits gives up
// at once. The occurrences are those of the period-by-period walk (where the
// wall clock's offset changes twice within a week, the plain walk may differ).
//
// Ownership: an iterator points at its rule and does not own it. The rule
// must outlive every iterator (and every copy of one) and must not change
// while they walk it. An iterator belongs to one thread.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <utility>
#include <vector>

#include "timezone/DateTime.h"
#include "timezone/RecurrenceRule.h"

namespace tavlo::timezone {

class RecurrenceIterator {
  public:
    static constexpr size_t kMaxCandidates = 1000000;

    // The end iterator.
    RecurrenceIterator();
    // Computes the first period from start; with includeStart the start is
    // delivered first whether or not the rule produces it.
    RecurrenceIterator(const RecurrenceRule& rule, const DateTime& start, bool includeStart);

    // The current occurrence; the unset value at the end.
    DateTime current() const;
    void advance();
    // True when both are at the end, or both stand at the same occurrence.
    bool equals(const RecurrenceIterator& other) const;
    // Steps this iterator and returns its state before the step.
    RecurrenceIterator operator++(int);

    // -1 when BY list index limits; else the field it expands from.
    int expansionLevel(int index) const;
    // The week numbers a BYDAY expansion of e from level visits.
    std::pair<int, int> weekRange(const DateTime& e, int level) const;
    // d's field, with the week number running on across New Year.
    int stepValue(const DateTime& d, int field) const;
    // How many units of frequency the field's period containing d holds.
    int units(const DateTime& d, int frequency, int field) const;

    // Turns off the crossing of empty periods, so that tests can compare it
    // with the plain period-by-period walk.
    void setSkipping(bool on) { skipping_ = on; }

  private:
    enum class Search { Found, GaveUp, Ended };
    struct Period {
        bool ended = false;
        bool baseMoved = false;
        int64_t skip = 0;  // further empty periods known to follow
    };

    void endState();
    void endWalk();
    bool computeBatch();
    Search search(DateTime base);
    Period runPeriod(DateTime& base, bool first);
    bool applyList(int index, const DateTime& seed, bool* lone, int64_t* skip);
    bool matches(int index, const DateTime& e) const;
    void alignWeekday(DateTime& d, int weekday) const;
    DateTime steppingFrom(const DateTime& base) const;
    void expandDirect(int index, int parent, const DateTime& e);
    void expandByDay(int level, const DateTime& e);
    int64_t emptyRun(int index, const DateTime& seed) const;
    bool neverProduces() const;
    void anchorYearDay(DateTime& d) const;
    int weekStart() const { return rule_->weekStart; }
    // A date start has no time of day: its rule's time lists are ignored.
    const std::vector<int32_t>& byList(int index) const {
        static const std::vector<int32_t> kNone;
        return dateStart_ && index >= ByHour && index <= BySecond ? kNone : rule_->byLists[index];
    }

    const RecurrenceRule* rule_;
    std::vector<DateTime> batch_;
    int32_t position_;
    int32_t delivered_;
    int32_t offsetCarry_;
    int32_t anchorDay_;
    int32_t yearAnchorDay_;
    int32_t yearAnchorMonth_;  // 0 when BYMONTH names the months
    bool dateStart_;
    std::array<int, 9> levels_{};
    bool skipping_ = true;
};

}  // namespace tavlo::timezone
