// Zones, their observances, offset texts, fingerprints and the offset at an
// instant.
#include "timezone/XTimeZone.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <cctype>
#include <cstdlib>
#include <utility>

#include "timezone/CalendarMath.h"
#include "timezone/RecurrenceIterator.h"
#include "timezone/StreamDigest.h"
#include "timezone/ZoneOffsetCache.h"
#include "timezone/ZoneRegistry.h"

namespace tavlo::timezone {

NativeHandle::NativeHandle(const NativeHandle& other)
    : handle_(other.handle_ != 0 && other.duplicate_ != nullptr ? other.duplicate_(other.handle_) : 0),
      release_(other.release_),
      duplicate_(other.duplicate_) {}

NativeHandle& NativeHandle::operator=(const NativeHandle& other) {
    if (this != &other) {
        // The copy leaves with the old handle and releases it.
        NativeHandle copy(other);
        std::swap(handle_, copy.handle_);
        std::swap(release_, copy.release_);
        std::swap(duplicate_, copy.duplicate_);
    }
    return *this;
}

NativeHandle::NativeHandle(NativeHandle&& other) noexcept
    : handle_(std::exchange(other.handle_, 0)), release_(other.release_), duplicate_(other.duplicate_) {}

NativeHandle& NativeHandle::operator=(NativeHandle&& other) noexcept {
    std::swap(handle_, other.handle_);
    std::swap(release_, other.release_);
    std::swap(duplicate_, other.duplicate_);
    return *this;
}

NativeHandle::~NativeHandle() {
    if (handle_ != 0 && release_ != nullptr) {
        release_(handle_);
    }
}

XTimeZone::~XTimeZone() = default;

void XTimeZone::addObservance(const ZoneObservance& observance) {
    observances_.push_back(observance);
    fingerprint_.clear();
    rulesStamp_ = nextRulesStamp();
}

uint64_t XTimeZone::nextRulesStamp() {
    static std::atomic<uint64_t> last{0};
    return last.fetch_add(1, std::memory_order_relaxed) + 1;
}

ZoneObservance XTimeZone::firstOfKind(int32_t kind) const {
    for (const ZoneObservance& o : observances_) {
        if (o.kind == kind && o.valid != 0) {
            return o;
        }
    }
    ZoneObservance fallback = observances_.empty() ? ZoneObservance() : observances_.back();
    fallback.valid = 0;
    return fallback;
}

XTimeZone::XTimeZone(const XTimeZone& other)
    : handle_(other.handle_),
      rulesStamp_(other.rulesStamp_),
      name_(other.name_),
      description_(other.description_),
      reference_(other.reference_),
      observances_(other.observances_),
      zoneIds_(other.zoneIds_),
      fingerprint_(other.storedFingerprint()) {}

XTimeZone& XTimeZone::operator=(const XTimeZone& other) {
    if (this != &other) {
        handle_ = other.handle_;
        rulesStamp_ = other.rulesStamp_;
        name_ = other.name_;
        description_ = other.description_;
        reference_ = other.reference_;
        observances_ = other.observances_;
        zoneIds_ = other.zoneIds_;
        fingerprint_ = other.storedFingerprint();
    }
    return *this;
}

std::string XTimeZone::storedFingerprint() const {
    tiny::XMutexGuard guard(ZoneOffsetCache::instance().mutex());
    return fingerprint_;
}

namespace {

// Descriptor texts laid end to end in one buffer, each known by its place.
struct Descriptors {
    std::string buffer;
    std::vector<std::pair<uint32_t, uint32_t>> pieces;  // offset, length

    // The prefix, then what write appends after it, as one piece.
    template <typename Write>
    void add(std::string_view prefix, Write write) {
        const size_t at = buffer.size();
        buffer.append(prefix);
        write(buffer);
        pieces.emplace_back(static_cast<uint32_t>(at), static_cast<uint32_t>(buffer.size() - at));
    }
    std::string_view piece(size_t i) const {
        return std::string_view(buffer).substr(pieces[i].first, pieces[i].second);
    }
};

void putTwoDigits(char*& p, int v) {
    *p++ = static_cast<char>('0' + v / 10);
    *p++ = static_cast<char>('0' + v % 10);
}

void describe(const ZoneObservance& observance, Descriptors& out) {
    const std::string_view prefix = observance.kind == StandardTime ? "STD:" : "DST:";
    out.add(prefix, [&](std::string& text) { observance.start.formatTo(text, FormatNoZ | FormatNoOffset); });
    out.add(prefix, [&](std::string& text) { text += XTimeZone::formatOffset(observance.offsetTo); });
    out.add(prefix, [&](std::string& text) { observance.rule.formatTo(text); });
}

}  // namespace

void XTimeZone::describeObservance(const ZoneObservance& observance, std::vector<std::string>& texts) {
    Descriptors d;
    describe(observance, d);
    for (size_t i = 0; i < d.pieces.size(); ++i) {
        texts.emplace_back(d.piece(i));
    }
}

std::string XTimeZone::fingerprint() {
    // offsetAt may be writing the field of a shared zone at the same time.
    tiny::XMutexGuard guard(ZoneOffsetCache::instance().mutex());
    if (observances_.empty()) {
        fingerprint_.clear();
        return fingerprint_;
    }
    // Buffers and stream kept per thread: each digest re-arms the stream, and
    // the buffers keep their room from one zone to the next.
    struct Scratch {
        Descriptors descriptors;
        std::vector<std::string_view> texts;
        crypto::StreamDigestMD5 digest;
    };
    thread_local Scratch scratch;
    Descriptors& d = scratch.descriptors;
    d.buffer.clear();
    d.pieces.clear();
    for (const ZoneObservance& o : observances_) {
        describe(o, d);
    }
    // A stable insertion sort: a zone has a handful of texts.
    std::vector<std::string_view>& texts = scratch.texts;
    texts.clear();
    for (size_t i = 0; i < d.pieces.size(); ++i) {
        const std::string_view text = d.piece(i);
        size_t at = texts.size();
        texts.push_back(text);
        for (; at > 0 && text < texts[at - 1]; --at) {
            texts[at] = texts[at - 1];
        }
        texts[at] = text;
    }
    // Straight into the stream's buffer: the stream never fails a write.
    std::streambuf& sink = *scratch.digest.rdbuf();
    for (std::string_view text : texts) {
        sink.sputn(text.data(), static_cast<std::streamsize>(text.size()));
    }
    fingerprint_ = scratch.digest.hexDigest(false);
    return fingerprint_;
}

std::string XTimeZone::formatOffset(Duration offset) {
    if (offset.isUnknown()) {
        return "+0000";
    }
    const int64_t o = offset.count();
    const int s = static_cast<int>(std::abs(o % 60));
    const int m = static_cast<int>(std::abs(o % 3600 / 60));
    const int h = static_cast<int>(std::abs(o % 86400 / 3600));
    // "%c%02d%02d", with "%02d" seconds when there are any.
    char text[8];
    char* p = text;
    *p++ = o < 0 ? '-' : '+';
    putTwoDigits(p, h);
    putTwoDigits(p, m);
    if (s > 0) {
        putTwoDigits(p, s);
    }
    return std::string(text, p);
}

namespace {

bool isDigitByte(char c) {
    return std::isdigit(static_cast<unsigned char>(c)) != 0;
}

bool sameIgnoringCase(std::string_view a, std::string_view b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::tolower(static_cast<unsigned char>(x)) ==
                      std::tolower(static_cast<unsigned char>(y));
           });
}

}  // namespace

Duration XTimeZone::parseOffset(std::string_view text) {
    size_t p = 0;
    bool negative = false;
    if (p < text.size() && (text[p] == '+' || text[p] == '-')) {
        negative = text[p] == '-';
        if (++p >= text.size() || !isDigitByte(text[p])) {
            return kUnknownDuration;
        }
    }
    if (p < text.size() && isDigitByte(text[p])) {
        int64_t v = 0;
        int n = 0;
        while (p < text.size() && isDigitByte(text[p]) && n < 7) {
            v = v * 10 + (text[p] - '0');
            ++n;
            if (++p < text.size() && std::ispunct(static_cast<unsigned char>(text[p]))) {
                ++p;
            }
        }
        int64_t hours = v, minutes = 0, seconds = 0;
        if (n >= 5) {
            hours = v / 10000;
            minutes = v % 10000 / 100;
            seconds = v % 100;
        } else if (n >= 3) {
            hours = v / 100;
            minutes = v % 100;
        }
        const int64_t total = hours * 3600 + minutes * 60 + seconds;
        return Duration(negative ? -total : total);
    }
    size_t run = p;
    while (run < text.size() && std::isalpha(static_cast<unsigned char>(text[run]))) {
        ++run;
    }
    const std::string_view letters = text.substr(p, run - p);
    for (const ZoneAbbreviation& row : ZoneRegistry::instance().abbreviations) {
        if (sameIgnoringCase(row.abbreviation, letters)) {
            return Duration::parse(row.offset);
        }
    }
    return kUnknownDuration;
}

namespace {

// The wall-clock start of a table row, held at the fixed offset 0.
DateTime rowStart(const std::string& text) {
    bool dateOnly = false;
    Duration offset;
    int64_t start = 0;
    if (!parseIsoDateTime(text, &dateOnly, &offset, &start, nullptr)) {
        return unsetDateTime();
    }
    return DateTime::fromTime(start);
}

}  // namespace

XTimeZone XTimeZone::fromDefinition(const ZoneDefinition& row) {
    XTimeZone zone;
    zone.name_ = row.name;
    const Duration standard = parseOffset(row.standard);
    if (!row.daylight.empty()) {
        const Duration daylight = parseOffset(row.daylight);
        ZoneObservance standardPart;
        standardPart.valid = 1;
        standardPart.kind = StandardTime;
        standardPart.start = rowStart(row.standardStart);
        standardPart.offsetFrom = daylight;
        standardPart.offsetTo = standard;
        standardPart.rule.parse(row.standardRule);
        ZoneObservance daylightPart;
        daylightPart.valid = 1;
        daylightPart.kind = DaylightTime;
        daylightPart.start = rowStart(row.daylightStart);
        daylightPart.offsetFrom = standard;
        daylightPart.offsetTo = daylight;
        daylightPart.rule.parse(row.daylightRule);
        zone.observances_.push_back(std::move(standardPart));
        zone.observances_.push_back(std::move(daylightPart));
    } else {
        ZoneObservance standardPart;
        standardPart.valid = 1;
        standardPart.kind = StandardTime;
        standardPart.start = DateTime(1);  // one second past midnight, part of the fingerprint
        standardPart.offsetFrom = standard;
        standardPart.offsetTo = standard;
        zone.observances_.push_back(std::move(standardPart));
    }
    zone.zoneIds_ = row.ids;
    zone.rulesStamp_ = nextRulesStamp();
    return zone;
}

XTimeZone XTimeZone::fromTableRow(int index, const std::vector<ZoneDefinition>& table) {
    if (index < 0 || static_cast<size_t>(index) >= table.size()) {
        return XTimeZone();
    }
    return fromDefinition(table[static_cast<size_t>(index)]);
}

namespace {

int utcYear(int64_t t) {
    return calendarFromTime(t).year + 1900;
}

// How far the wall clock before an observance's change is ahead of UTC; kept
// to a week so that absurd offsets cannot overflow the arithmetic.
int64_t wallShift(const ZoneObservance& o) {
    constexpr int64_t kWeek = 7 * 86400;
    return std::clamp<int64_t>(o.offsetFrom.seconds(), -kWeek, kWeek);
}

// The first change of an observance in the year or later, expanded on the
// observance's own wall clock (the start read at offsetFrom), so that the
// rule's days and the year are local ones, as in the closed form; false when
// there is none in the year.
bool expandedTransition(const ZoneObservance& o, int year, int64_t* out) {
    DateTime start = o.start;
    if (start.isUnset() || start.isMarker()) {
        return false;
    }
    if (!o.offsetFrom.isUnknown()) {
        start.setFixedOffset(o.offsetFrom);
    }
    const int64_t shift = wallShift(o);
    DateTime last;
    for (RecurrenceIterator it(o.rule, start, true);; it.advance()) {
        const DateTime occurrence = it.current();
        if (occurrence.isUnset()) {
            break;
        }
        last = occurrence;
        if (utcYear(last.value() + shift) >= year) {
            break;
        }
    }
    if (last.isUnset() || utcYear(last.value() + shift) > year) {
        return false;
    }
    *out = last.value();
    return true;
}

// The changes of a local year, in order, with the offsets inside and outside
// the window between them; false when a change cannot be found in the year.
bool makeYearEntry(const std::vector<ZoneObservance>& observances, int year, ZoneOffsetEntry* out) {
    const ZoneObservance& a = observances[0];
    const ZoneObservance& b = observances[1];
    int64_t ta, tb;
    if (isSimpleYearlyRule(a.rule) && isSimpleYearlyRule(b.rule)) {
        ta = yearlyTransitionAt(a, year);
        tb = yearlyTransitionAt(b, year);
    } else if (!expandedTransition(a, year, &ta) || !expandedTransition(b, year, &tb)) {
        return false;
    }
    if (ta < tb) {
        *out = {a.offsetTo.count(), b.offsetTo.count(), ta, tb};
    } else {
        *out = {b.offsetTo.count(), a.offsetTo.count(), tb, ta};
    }
    return true;
}

}  // namespace

Duration XTimeZone::offsetAt(int64_t instant, const ZonePtr& zone) {
    if (!zone) {
        return kUnknownDuration;
    }
    const auto& observances = zone->observances_;
    if (observances.size() != 2 || !observances[0].rule.valid || !observances[1].rule.valid) {
        return kUnknownDuration;
    }
    // Years answered recently on this thread, per set of observances: the
    // cached entry each came from answers the same, without the lock.
    struct RecentYear {
        uint64_t stamp = 0;
        uint64_t generation = 0;
        int year = 0;
        bool whole = false;  // the entry answers every instant of the year
        int64_t from = 0;    // the entry answers [from, to) of the year
        int64_t to = 0;
        ZoneOffsetEntry entry;
    };
    thread_local std::array<RecentYear, 64> recent;
    // The slot answered last: conversions ask about nearby instants in turn,
    // and a test of the range's bounds is cheaper than finding the year.
    thread_local const RecentYear* last = nullptr;
    static ZoneOffsetCache& cache = ZoneOffsetCache::instance();
    const uint64_t generation = cache.generation();
    if (last != nullptr && last->stamp == zone->rulesStamp_ && instant >= last->from && instant < last->to &&
        last->generation == generation) {
        return Duration(last->entry.offsetAt(instant));
    }
    const int year = utcYear(instant);
    RecentYear& slot = recent[(zone->rulesStamp_ * 37 + static_cast<uint64_t>(year)) % recent.size()];
    if (slot.stamp == zone->rulesStamp_ && slot.year == year && slot.generation == generation &&
        (slot.whole || (instant >= slot.from && instant < slot.to))) {
        last = &slot;
        return Duration(slot.entry.offsetAt(instant));
    }
    tiny::XMutexGuard guard(cache.mutex());
    if (zone->fingerprint_.empty()) {
        zone->fingerprint();
    }
    // An entry holds the changes of a local year. The last change of the
    // year before may fall early in this UTC year (west of UTC), and the
    // first of the year after late in it (east of UTC): the year before's
    // entry answers until its last change, the year after's from its first.
    const std::string& fingerprint = zone->fingerprint_;
    const std::string key = offsetCacheKey(year, fingerprint);
    ZoneOffsetEntry entry;
    if (const ZoneOffsetEntry* hit = cache.find(key)) {
        entry = *hit;
    } else if (makeYearEntry(observances, year, &entry)) {
        cache.store(key, entry);
    } else {
        return kUnknownDuration;
    }
    // A look at a neighbouring year leaves the cache as it was.
    auto neighbour = [&](int y, ZoneOffsetEntry* out) {
        if (const ZoneOffsetEntry* hit = cache.find(offsetCacheKey(y, fingerprint))) {
            *out = *hit;
            return true;
        }
        return makeYearEntry(observances, y, out);
    };
    // A clamped year gets an empty range and is answered by its own entry.
    const int64_t from = calendar::instantFromFields(year, 0, 1, 0, 0, 0);
    const int64_t to = std::max(from, calendar::instantFromFields(year + 1LL, 0, 1, 0, 0, 0));
    int64_t lo = from, hi = to;
    if (year > 1600 && year < 30000) {
        const int64_t behind = std::max({int64_t{0}, -wallShift(observances[0]), -wallShift(observances[1])});
        const int64_t ahead = std::max({int64_t{0}, wallShift(observances[0]), wallShift(observances[1])});
        lo = std::clamp(std::min(entry.firstTransition, from + behind), from, to);
        hi = std::clamp(std::max(entry.secondTransition, to - ahead), lo, to);
        ZoneOffsetEntry next;
        if (instant < lo && neighbour(year - 1, &next)) {
            if (instant < next.secondTransition) {
                return Duration(next.offsetAt(instant));
            }
            lo = std::clamp(next.secondTransition, from, lo);
        }
        if (instant >= hi && neighbour(year + 1, &next)) {
            if (instant >= next.firstTransition) {
                return Duration(next.offsetAt(instant));
            }
            hi = std::clamp(next.firstTransition, hi, to);
        }
    }
    slot = {zone->rulesStamp_, generation, year, lo == from && hi == to, lo, hi, entry};
    last = &slot;
    return Duration(entry.offsetAt(instant));
}

}  // namespace tavlo::timezone
