// The per-year offset cache and the closed form of simple yearly changes.
#include "timezone/ZoneOffsetCache.h"

#include <algorithm>

#include "timezone/BoundedFormat.h"
#include "timezone/CalendarMath.h"

namespace tavlo::timezone {

using calendar::floorDiv;
using calendar::floorMod;

ZoneOffsetCache& ZoneOffsetCache::instance() {
    static ZoneOffsetCache cache;
    return cache;
}

const ZoneOffsetEntry* ZoneOffsetCache::find(const std::string& key) const {
    const auto it = entries_.find(key);
    return it == entries_.end() ? nullptr : &it->second;
}

void ZoneOffsetCache::store(const std::string& key, const ZoneOffsetEntry& entry) {
    if (entries_.size() >= kCapacity && !order_.empty()) {
        entries_.erase(order_.front());
        order_.pop_front();
    }
    if (entries_.insert_or_assign(key, entry).second) {
        order_.push_back(key);
    }
    ++misses_;
}

size_t ZoneOffsetCache::size() {
    tiny::XMutexGuard guard(mutex_);
    return entries_.size();
}

bool ZoneOffsetCache::contains(const std::string& key) {
    tiny::XMutexGuard guard(mutex_);
    return entries_.count(key) != 0;
}

void ZoneOffsetCache::clear() {
    tiny::XMutexGuard guard(mutex_);
    entries_.clear();
    order_.clear();
    generation_.fetch_add(1, std::memory_order_acq_rel);
}

uint64_t ZoneOffsetCache::misses() {
    tiny::XMutexGuard guard(mutex_);
    return misses_;
}

std::string offsetCacheKey(int year, const std::string& fingerprint) {
    char digits[16];
    boundedFormat(digits, sizeof(digits), "%04d", year);
    return digits + fingerprint;
}

bool isSimpleYearlyRule(const RecurrenceRule& rule) {
    const auto& by = rule.byLists;
    if (rule.frequency != Yearly || rule.interval != 1 || rule.count != -1 || !rule.until.isUnset() ||
        by[ByMonth].size() != 1 || by[ByDay].size() != 1 || (by[ByDay][0] & ~0xF) == 0) {
        return false;
    }
    for (int index : {ByWeekNo, ByYearDay, ByMonthDay, ByHour, ByMinute, BySecond, BySetPos}) {
        if (!by[index].empty()) {
            return false;
        }
    }
    return true;
}

int64_t yearlyTransitionAt(const ZoneObservance& observance, int year) {
    const RecurrenceRule& rule = observance.rule;
    const int64_t month = rule.byLists[ByMonth][0] - 1LL;
    const int64_t y = year + floorDiv(month, 12);
    const int64_t month0 = floorMod(month, 12);
    const int32_t element = rule.byLists[ByDay][0];
    const int64_t n = element >> 8;
    const int64_t w = floorMod(element & 0xFF, 7);
    auto weekdayOf = [](int64_t days) { return floorMod(days + 4, 7); };  // 1970-01-01 was a Thursday
    const int64_t firstDays = floorDiv(calendar::instantFromFields(y, month0, 1, 0, 0, 0), 86400);
    int64_t day;
    if (n > 0) {
        const int64_t w1 = weekdayOf(firstDays);
        day = w < w1 ? 7 * n + w - w1 + 1 : 7 * n + w - w1 - 6;
    } else {
        const int64_t last =
            calendar::daysInMonth(std::clamp<int64_t>(y, 1600, 30000), static_cast<int>(month0));
        const int64_t wl = weekdayOf(firstDays + last - 1);
        day = wl < w ? 7 * n + last + w - wl : 7 * n + last + w - wl + 7;
    }
    // The start's wall-clock time of day, turned into UTC by offsetFrom.
    int64_t timeOfDay = 0;
    if (!observance.start.isUnset() && !observance.start.isMarker()) {
        timeOfDay = floorMod(observance.start.value() + observance.start.offset().seconds(), 86400);
    }
    return calendar::instantFromFields(y, month0, day, 0, 0, 0) + timeOfDay - observance.offsetFrom.seconds();
}

}  // namespace tavlo::timezone
