// Zone lookup by name or offset, the row summaries and the machine zone.
//
// Lock order: the local-zone lock is taken first; while it is held, the
// summaries' construction, the registry's and the offset cache's locks may be
// taken, never the other way round.
#include <boost/make_shared.hpp>

#include <algorithm>
#include <cctype>
#include <climits>

#include "CommonBase/XMutex.h"
#include "timezone/RecurrenceIterator.h"
#include "timezone/ZoneRegistry.h"
#include "timezone/ZoneSummary.h"
#include "winplat/time.h"

namespace tavlo::timezone {

namespace {

bool isDigitByte(char c) {
    return std::isdigit(static_cast<unsigned char>(c)) != 0;
}

bool isServer(std::string_view name) {
    static constexpr std::string_view kServer = "server";
    if (name.size() != kServer.size()) {
        return false;
    }
    for (size_t i = 0; i < name.size(); ++i) {
        if (std::tolower(static_cast<unsigned char>(name[i])) != kServer[i]) {
            return false;
        }
    }
    return true;
}

// atoi's reading: a sign, then decimal digits up to the first other
// character; saturated instead of overflowing.
int64_t leadingNumber(std::string_view text) {
    size_t p = 0;
    bool negative = false;
    if (p < text.size() && (text[p] == '+' || text[p] == '-')) {
        negative = text[p++] == '-';
    }
    int64_t v = 0;
    for (; p < text.size() && isDigitByte(text[p]); ++p) {
        v = std::min<int64_t>(v * 10 + (text[p] - '0'), int64_t{INT_MAX} + 1);
    }
    return negative ? -v : std::min<int64_t>(v, INT_MAX);
}

std::vector<ZoneSummary> summarise(const std::vector<ZoneDefinition>& rows, std::vector<ZoneSummary> into) {
    for (const ZoneDefinition& row : rows) {
        const XTimeZone zone = XTimeZone::fromDefinition(row);
        ZoneSummary s;
        s.name = row.name;
        s.standard = zone.standard();
        if (!row.daylight.empty()) {
            s.daylight = zone.daylight();
        }
        s.ids = zone.zoneIds();
        into.push_back(std::move(s));
    }
    return into;
}

// The offset of a zone-bound value against the machine's at the same
// instant, unknown counting as 0 on both sides.
bool agreesWithMachine(const DateTime& v) {
    return !v.isUnset() && v.offset().seconds() == DateTime::machineOffset(v.value(), true).seconds();
}

// The wall-clock midnight one day before and after the rule's first change
// of the year, read in the zone, must match the machine.
bool passesTransitionTest(const RecurrenceRule& rule, int year, const ZonePtr& zone) {
    if (!rule.valid) {
        return false;
    }
    const DateTime start = DateTime::fromYear(year);
    RecurrenceIterator it(rule, start, true);
    DateTime first = it.current();
    while (!first.isUnset() && first.value() <= start.value()) {
        it.advance();
        first = it.current();
    }
    if (first.isUnset()) {
        return false;
    }
    const int64_t midnight = first.datePart().value();
    for (int64_t at : {midnight - 86400, midnight + 86400}) {
        DateTime v(at);
        v.setZone(zone);
        if (!agreesWithMachine(v)) {
            return false;
        }
    }
    return true;
}

XTimeZone detectMachineZone() {
    const __time64_t now = _time64(nullptr);
    const struct tm* broken = _localtime64(&now);
    const int daylight = broken != nullptr ? broken->tm_isdst : 0;
    const int year = broken != nullptr ? broken->tm_year + 1900 : 1970;
    const int64_t now0 = DateTime::machineOffset(DateTime::now().value(), true).seconds();
    const DateTime samples[] = {DateTime(1, 2, year, 0, 0, 0, Duration(0)),
                                DateTime(1, 7, year, 0, 0, 0, Duration(0))};
    XTimeZone held;
    for (const ZoneSummary& summary : zoneSummaries()) {
        const ZoneObservance& current = daylight > 0 ? summary.daylight : summary.standard;
        if (current.valid == 0 || current.offsetTo.seconds() != now0) {
            continue;
        }
        const ZonePtr zone = summary.toZone();
        bool agrees = true;
        for (DateTime sample : samples) {
            sample.setZone(zone);
            agrees = agrees && agreesWithMachine(sample);
        }
        if (!agrees) {
            continue;
        }
        if (!held.isValid()) {
            held = *zone;
        }
        if (passesTransitionTest(summary.daylight.rule, year, zone) &&
            passesTransitionTest(summary.standard.rule, year, zone)) {
            return *zone;
        }
    }
    return held;
}

}  // namespace

ZonePtr ZoneSummary::toZone() const {
    auto zone = boost::make_shared<XTimeZone>();
    if (standard.valid != 0) {
        zone->setName(name);
        zone->setZoneIds(ids);
        zone->addObservance(standard);
        if (daylight.valid != 0) {
            zone->addObservance(daylight);
        }
    }
    return zone;
}

const std::vector<ZoneSummary>& zoneSummaries() {
    static const std::vector<ZoneSummary> all = [] {
        const ZoneRegistry& registry = ZoneRegistry::instance();
        return summarise(registry.tzZones, displayZoneSummaries());
    }();
    return all;
}

const std::vector<ZoneSummary>& displayZoneSummaries() {
    static const std::vector<ZoneSummary> display = summarise(ZoneRegistry::instance().displayZones, {});
    return display;
}

XTimeZone XTimeZone::local() {
    static tiny::XMutex lock;  // guards held and detected
    static XTimeZone held;
    static bool detected = false;
    tiny::XMutexGuard guard(lock);
    if (!detected) {
        held = detectMachineZone();
        detected = true;
    }
    return held;
}

XTimeZone XTimeZone::findInTzZones(std::string_view name) {
    const ZoneRegistry& registry = ZoneRegistry::instance();
    return fromTableRow(ZoneRegistry::findByName(registry.tzZones, std::string(name)), registry.tzZones);
}

XTimeZone XTimeZone::findByName(std::string_view name) {
    if (name.empty() || isServer(name)) {
        return local();
    }
    const ZoneRegistry& registry = ZoneRegistry::instance();
    const int display = ZoneRegistry::findByName(registry.displayZones, std::string(name));
    if (display >= 0) {
        return fromTableRow(display, registry.displayZones);
    }
    XTimeZone tz = findInTzZones(name);
    if (tz.isValid()) {
        return tz;
    }
    const bool numeric = isDigitByte(name[0]) ||
                         ((name[0] == '+' || name[0] == '-') && name.size() > 1 && isDigitByte(name[1]));
    if (numeric) {
        const int64_t seconds = leadingNumber(name);
        // A number equal to the machine zone's standard offset names the
        // machine zone itself.
        XTimeZone machine = local();
        const ZoneObservance machineStandard = machine.standard();
        if (machineStandard.valid != 0 && machineStandard.offsetTo.seconds() == seconds) {
            return machine;
        }
        for (size_t i = 0; i < registry.displayZones.size(); ++i) {
            if (parseOffset(registry.displayZones[i].standard).seconds() == seconds) {
                return fromTableRow(static_cast<int>(i), registry.displayZones);
            }
        }
    }
    const int fallback = ZoneRegistry::findByName(registry.displayZones, "(UTC) Universal Coordinated Time");
    if (fallback >= 0) {
        return fromTableRow(fallback, registry.displayZones);
    }
    return numeric ? local() : XTimeZone();
}

}  // namespace tavlo::timezone
