// Zones, observances and rules as values, and DateTime values bound to a
// zone of one observance.
#include <gtest/gtest.h>

#include <boost/make_shared.hpp>

#include <tuple>
#include <vector>

#include "timezone/XTimeZone.h"

using namespace tavlo::timezone;

namespace {

std::vector<uint32_t> gReleased;
uint32_t gNextHandle = 100;

void releaseHandle(uint32_t h) {
    gReleased.push_back(h);
}

uint32_t duplicateHandle(uint32_t) {
    return ++gNextHandle;
}

ZoneObservance fixedObservance(int kind, int64_t offset) {
    ZoneObservance o;
    o.valid = 1;
    o.kind = kind;
    o.start = DateTime(1);
    o.offsetFrom = Duration(offset);
    o.offsetTo = Duration(offset);
    return o;
}

ZonePtr fixedZone(const char* name, int64_t offset) {
    auto zone = boost::make_shared<XTimeZone>();
    zone->setName(name);
    zone->addObservance(fixedObservance(StandardTime, offset));
    return zone;
}

int64_t utc(int y, int m, int d, int h = 0, int mi = 0) {
    CalendarFields f{0, mi, h, d, m - 1, y - 1900};
    return timeFromCalendar(f);
}

}  // namespace

TEST(ZoneValues, NewValuesAndValidity) {
    const XTimeZone zone;
    EXPECT_EQ(
        std::make_tuple(zone.getName(), zone.description(), zone.observances().size(), zone.zoneIds().size(),
                        zone.storedFingerprint(), zone.nativeHandle().handle(), zone.reference().isUnset()),
        std::make_tuple(std::string(), std::string(), size_t{0}, size_t{0}, std::string(), 0u, true));
    EXPECT_FALSE(zone.isValid());
    const ZoneObservance o;
    EXPECT_EQ(std::make_tuple(o.valid, o.kind, o.start.isUnset(), o.offsetFrom.isUnknown(),
                              o.offsetTo.isUnknown(), o.secondDate.isUnset(), o.rule.valid),
              std::make_tuple(0, 1, true, true, true, true, false));
    XTimeZone named;
    named.setName("Somewhere");
    EXPECT_FALSE(named.isValid());
    named.addObservance(o);
    EXPECT_TRUE(named.isValid());
    XTimeZone unnamed;
    unnamed.addObservance(o);
    EXPECT_FALSE(unnamed.isValid());
}

TEST(ZoneValues, StandardAndDaylightPicks) {
    XTimeZone zone;
    EXPECT_EQ(zone.standard().valid, 0);
    ZoneObservance invalidStd = fixedObservance(StandardTime, 3600);
    invalidStd.valid = 0;
    ZoneObservance dst = fixedObservance(DaylightTime, 7200);
    dst.label = "summer";
    zone.addObservance(invalidStd);
    zone.addObservance(dst);
    const ZoneObservance d = zone.daylight();
    EXPECT_EQ(std::make_tuple(d.valid, d.label, d.offsetTo.count()),
              std::make_tuple(1, std::string("summer"), 7200));
    // No valid standard observance: the last one, marked not valid.
    const ZoneObservance s = zone.standard();
    EXPECT_EQ(std::make_tuple(s.valid, s.kind, s.label),
              std::make_tuple(0, int{DaylightTime}, std::string("summer")));
}

TEST(ZoneValues, HandlesFollowTheCopyRules) {
    gReleased.clear();
    {
        XTimeZone zone;
        zone.setNativeHandle(NativeHandle(7, releaseHandle, duplicateHandle));
        XTimeZone copy(zone);
        EXPECT_EQ(copy.nativeHandle().handle(), gNextHandle);
        XTimeZone assigned;
        assigned.setNativeHandle(NativeHandle(9, releaseHandle, duplicateHandle));
        assigned = zone;
        EXPECT_EQ(gReleased, std::vector<uint32_t>({9}));
        // Without a duplicate routine the copy holds no handle.
        NativeHandle lone(5, releaseHandle, nullptr);
        NativeHandle loneCopy(lone);
        EXPECT_EQ(loneCopy.handle(), 0u);
        ZoneObservance o;
        o.handle = NativeHandle(11, releaseHandle, duplicateHandle);
        ZoneObservance oc = o;
        EXPECT_NE(oc.handle.handle(), 11u);
    }
    // Every handle held once is released once: 7, 9, 5, 11 and the three duplicates.
    EXPECT_EQ(gReleased.size(), 7u);
}

TEST(ZoneValues, RecurrenceRuleReset) {
    RecurrenceRule r;
    EXPECT_EQ(std::make_tuple(r.frequency, r.interval, r.count, r.weekStart, r.valid, r.until.isUnset(),
                              r.extendedUntil.isUnset()),
              std::make_tuple(-1, 1, -1, 1, false, true, true));
    r.frequency = Yearly;
    r.byLists[ByDay].push_back(1 | (2 << 8));
    r.valid = true;
    r.until = DateTime(5);
    r.reset();
    EXPECT_EQ(std::make_tuple(r.frequency, r.valid, r.byLists[ByDay].size(), r.until.isUnset()),
              std::make_tuple(-1, false, size_t{0}, true));
}

TEST(ZoneBoundValues, OneObservanceAnswersItsOffset) {
    const ZonePtr kolkata = fixedZone("India", 19800);
    DateTime t(utc(2024, 1, 5, 10));
    t.attachZone(kolkata);
    EXPECT_EQ(std::make_tuple(t.value(), t.kind(), t.offset().count(), t.offsetMinutes(), t.getZone()),
              std::make_tuple(utc(2024, 1, 5, 10), ZoneBound, int64_t{19800}, INT32_MAX, kolkata));
    EXPECT_EQ(t.format(FormatExtended), "2024-01-05T15:30:00+05:30");
    // setZone keeps the wall clock.
    DateTime wall(utc(2024, 1, 5, 10));
    wall.setDateOnly(true);
    wall.setZone(kolkata);
    EXPECT_EQ(std::make_tuple(wall.value(), wall.isDateOnly()),
              std::make_tuple(utc(2024, 1, 5, 4, 30), true));
    const DateTime parsed = DateTime::parse("20240105T100000", kolkata);
    EXPECT_EQ(std::make_tuple(parsed.value(), parsed.kind()),
              std::make_tuple(utc(2024, 1, 5, 4, 30), ZoneBound));
    // A written offset gives the wall clock, which the zone then re-reads.
    const DateTime offsetAndZone = DateTime::parse("20240105T100000+02:00", kolkata);
    EXPECT_EQ(std::make_tuple(offsetAndZone.value(), offsetAndZone.kind()),
              std::make_tuple(utc(2024, 1, 5, 4, 30), ZoneBound));
    const DateTime start = parsed.startOfDay();
    EXPECT_EQ(start.value(), utc(2024, 1, 4, 18, 30));
    const DateTime part = parsed.datePart();
    EXPECT_EQ(std::make_tuple(part.value(), part.isDateOnly(), part.kind()),
              std::make_tuple(utc(2024, 1, 4, 18, 30), true, ZoneBound));
    DateTime moved = parsed;
    moved.setField(FieldHour, 23, 1);
    EXPECT_EQ(moved.value(), utc(2024, 1, 5, 17, 30));
    moved.setFixedOffset(Duration(0));
    EXPECT_EQ(std::make_tuple(moved.value(), moved.kind(), moved.getZone()),
              std::make_tuple(utc(2024, 1, 5, 23), FixedOffset, ZonePtr()));
}

TEST(ZoneBoundValues, UnusableZonesChangeNothing) {
    auto unnamed = boost::make_shared<XTimeZone>();
    unnamed->addObservance(fixedObservance(StandardTime, 3600));
    auto empty = boost::make_shared<XTimeZone>();
    empty->setName("Empty");
    for (const ZonePtr& zone : {ZonePtr(), ZonePtr(unnamed), ZonePtr(empty)}) {
        DateTime t(utc(2024, 1, 5));
        t.attachZone(zone);
        t.setZone(zone);
        EXPECT_EQ(std::make_tuple(t.value(), t.kind(), t.getZone()),
                  std::make_tuple(utc(2024, 1, 5), FixedOffset, ZonePtr()));
    }
    // Two observances without rules: the general scan takes the later start
    // not after the instant, and keeps the answer until the value changes.
    auto two = boost::make_shared<XTimeZone>();
    two->setName("Two");
    two->addObservance(fixedObservance(StandardTime, 3600));
    two->addObservance(fixedObservance(DaylightTime, 7200));
    DateTime t(utc(2024, 1, 5));
    t.attachZone(two);
    EXPECT_EQ(t.offset().count(), 3600);
    EXPECT_EQ(t.offsetMinutes(), 60);
    EXPECT_EQ(t.format(0), "20240105T010000+0100");
}
