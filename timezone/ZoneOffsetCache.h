// The process-wide cache behind XTimeZone::offsetAt: per year and set of
// rules (the zone's fingerprint), the two changes of that local year and the
// offsets inside and outside the window between them.
//
// Lock order: the cache lock may be taken while the machine-zone or
// local-zone lock is held, and it may itself be held while the digest's error
// store lock is taken; never the other way round.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <list>
#include <string>
#include <unordered_map>

#include "CommonBase/XMutex.h"
#include "timezone/RecurrenceRule.h"
#include "timezone/XTimeZone.h"

namespace tavlo::timezone {

struct ZoneOffsetEntry {
    int64_t insideOffset = 0;
    int64_t outsideOffset = 0;
    int64_t firstTransition = 0;
    int64_t secondTransition = 0;

    // outside before the first change and from the second on.
    int64_t offsetAt(int64_t t) const {
        return t < firstTransition || t >= secondTransition ? outsideOffset : insideOffset;
    }
};

class ZoneOffsetCache {
  public:
    static constexpr size_t kCapacity = 512;

    static ZoneOffsetCache& instance();

    tiny::XMutex& mutex() { return mutex_; }

    // Called with the lock held. A hit does not change the eviction order.
    const ZoneOffsetEntry* find(const std::string& key) const;
    // Called with the lock held. At capacity the oldest key goes first.
    void store(const std::string& key, const ZoneOffsetEntry& entry);

    size_t size();
    bool contains(const std::string& key);
    // Also retires every thread's recent answers taken from the entries.
    void clear();
    uint64_t generation() const { return generation_.load(std::memory_order_acquire); }
    // Entries made since the process started (cache misses of offsetAt).
    uint64_t misses();

  private:
    ZoneOffsetCache() = default;

    tiny::XMutex mutex_;  // guards everything below
    std::unordered_map<std::string, ZoneOffsetEntry> entries_;
    std::list<std::string> order_;  // keys, oldest first
    uint64_t misses_ = 0;
    std::atomic<uint64_t> generation_{1};
};

// The year written with at least four digits, zero-filled, then the
// fingerprint.
std::string offsetCacheKey(int year, const std::string& fingerprint);
// YEARLY, INTERVAL 1, no COUNT or UNTIL, one BYMONTH and one BYDAY with an
// ordinal, and no other BY list.
bool isSimpleYearlyRule(const RecurrenceRule& rule);
// The change of a simple yearly observance in a year, as a UTC instant: the
// rule's day at the start's wall-clock time, read at offsetFrom.
int64_t yearlyTransitionAt(const ZoneObservance& observance, int year);

}  // namespace tavlo::timezone
