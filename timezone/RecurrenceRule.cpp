// The recurrence rule's text forms: the RRULE reader and writer and the older
// vCalendar 1.0 rule reader.
#include "timezone/RecurrenceRule.h"

#include <algorithm>
#include <charconv>
#include <climits>
#include <cstring>
#include <iterator>
#include <string>

#include "CommonBase/StringUtils.h"
#include "timezone/Tokenizer.h"

namespace tavlo::timezone {

namespace {

constexpr const char* kFrequencyNames[] = {"YEARLY", "MONTHLY",  "WEEKLY",  "DAILY",
                                           "HOURLY", "MINUTELY", "SECONDLY"};
constexpr const char* kWeekdayNames[] = {"MO", "TU", "WE", "TH", "FR", "SA", "SU"};
// Keys of the integer lists and the list each fills.
constexpr struct {
    const char* key;
    int index;
} kListKeys[] = {{"BYSECOND", BySecond},     {"BYMINUTE", ByMinute},   {"BYHOUR", ByHour},
                 {"BYMONTHDAY", ByMonthDay}, {"BYYEARDAY", ByYearDay}, {"BYWEEKNO", ByWeekNo},
                 {"BYMONTH", ByMonth}};
constexpr const char* kListNames[] = {"",      "BYMONTH", "BYWEEKNO", "BYYEARDAY", "BYMONTHDAY",
                                      "BYDAY", "BYHOUR",  "BYMINUTE", "BYSECOND",  "BYSETPOS"};

bool isDigit(char c) {
    return c >= '0' && c <= '9';
}

bool isBlank(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

// Leading blanks and one sign, then digits up to the first other character;
// 0 without digits. Long runs saturate at the 32-bit limits. *used (when
// given) is the number of characters read, 0 when there was no digit.
int32_t readInteger(std::string_view text, size_t* used = nullptr) {
    size_t p = 0;
    while (p < text.size() && isBlank(text[p])) {
        ++p;
    }
    bool negative = false;
    if (p < text.size() && (text[p] == '+' || text[p] == '-')) {
        negative = text[p] == '-';
        ++p;
    }
    const size_t digits = p;
    int64_t value = 0;
    for (; p < text.size() && isDigit(text[p]); ++p) {
        if (value <= INT32_MAX) {
            value = value * 10 + (text[p] - '0');
        }
    }
    if (used != nullptr) {
        *used = p > digits ? p : 0;
    }
    if (negative) {
        value = -value;
    }
    return static_cast<int32_t>(value > INT32_MAX ? INT32_MAX : value < INT32_MIN ? INT32_MIN : value);
}

// The written clock of a date-time text as a UTC clock; unset when
// unreadable. The clock is taken as written, never placed in the machine
// zone, so a time that the machine zone skips keeps its clock too.
DateTime readUtcClock(const char* text) {
    bool dateOnly = false;
    Duration offset;
    int64_t start = 0;
    if (!parseIsoDateTime(text, &dateOnly, &offset, &start, nullptr)) {
        return unsetDateTime();
    }
    int64_t clock = start;
    if (!offset.isUnknown() && __builtin_add_overflow(start, offset.count(), &clock)) {
        return unsetDateTime();
    }
    DateTime d(clock);
    d.setDateOnly(dateOnly);
    // A clock without a written form (past year 9999, or the marker) could
    // not be read back from the rule's own text.
    if (d.format(0).empty()) {
        return unsetDateTime();
    }
    return d;
}

void appendByDay(RecurrenceRule& rule, int weekday, int32_t ordinal) {
    // The ordinal shares the element with the weekday's 8 bits.
    if (ordinal < -(1 << 23) || ordinal >= (1 << 23)) {
        return;
    }
    rule.byLists[ByDay].push_back(static_cast<int32_t>(static_cast<uint32_t>(ordinal) << 8) | weekday);
}

void parseByDay(std::string_view text, RecurrenceRule& rule) {
    while (!text.empty()) {
        const size_t comma = text.find(',');
        const bool last = comma == std::string_view::npos;
        const std::string_view item = text.substr(0, comma);
        text = last ? std::string_view() : text.substr(comma + 1);
        if (last && item.empty()) {
            break;
        }
        int32_t ordinal = 0;
        if (!item.empty() && (item[0] == '+' || item[0] == '-' || isDigit(item[0]))) {
            ordinal = readInteger(item);
        }
        size_t p = 0;
        while (p < item.size() && static_cast<signed char>(item[p]) < 'A') {
            ++p;
        }
        if (const int weekday = weekdayFromName(item.substr(p))) {
            appendByDay(rule, weekday, ordinal);
        }
    }
}

enum class VcalMode {
    Undetermined,
    Minutely,
    Daily,
    Weekly,
    MonthlyByPosition,
    MonthlyByDay,
    YearlyByMonth,
    YearlyByDay
};

// "%[A-Z]%d": upper-case letters, then an integer with an optional sign.
bool scanLettersAndNumber(const char* word, std::string* letters, int32_t* number) {
    size_t n = 0;
    while (word[n] >= 'A' && word[n] <= 'Z') {
        ++n;
    }
    if (n == 0) {
        return false;
    }
    size_t used = 0;
    const int32_t v = readInteger(word + n, &used);
    if (used == 0) {
        return false;
    }
    letters->assign(word, n);
    *number = v;
    return true;
}

// "%d%c": an integer directly followed by one more character.
bool scanNumberAndChar(const char* word, int32_t* number, char* next) {
    size_t used = 0;
    const std::string_view text(word);
    const int32_t v = readInteger(text, &used);
    if (used == 0 || used >= text.size()) {
        return false;
    }
    *number = v;
    *next = text[used];
    return true;
}

void parseVCalendar(char* token, RecurrenceRule& rule) {
    static constexpr struct {
        const char* letters;
        int frequency;
        VcalMode mode;
    } kKinds[] = {{"M", Minutely, VcalMode::Minutely},     {"D", Daily, VcalMode::Daily},
                  {"W", Weekly, VcalMode::Weekly},         {"MP", Monthly, VcalMode::MonthlyByPosition},
                  {"MD", Monthly, VcalMode::MonthlyByDay}, {"YM", Yearly, VcalMode::YearlyByMonth},
                  {"YD", Yearly, VcalMode::YearlyByDay}};
    VcalMode mode = VcalMode::Undetermined;
    int32_t ordinal = 0;
    char* cursor = nullptr;
    int index = 0;
    for (char* word = nextToken(token, " \t", &cursor); word != nullptr;
         word = nextToken(nullptr, " \t", &cursor), ++index) {
        const size_t length = std::strlen(word);
        if (length >= 20) {
            continue;
        }
        if (index == 0) {
            std::string letters;
            int32_t interval = 0;
            if (!scanLettersAndNumber(word, &letters, &interval)) {
                return;
            }
            rule.interval = interval;
            const auto* kind = std::find_if(std::begin(kKinds), std::end(kKinds),
                                            [&](const auto& k) { return letters == k.letters; });
            if (kind == std::end(kKinds)) {
                return;
            }
            rule.frequency = kind->frequency;
            mode = kind->mode;
            continue;
        }
        if (length >= 9) {
            rule.until = readUtcClock(word);
            continue;
        }
        if (word[0] == '#') {
            rule.count = readInteger(word + 1);
            if (rule.count == 0) {
                rule.count = -1;
            }
            return;
        }
        const bool byWeekday =
            mode == VcalMode::Daily || mode == VcalMode::Weekly || mode == VcalMode::MonthlyByPosition;
        int32_t number = 0;
        char next = 0;
        if (scanNumberAndChar(word, &number, &next)) {
            ordinal = next == '-' ? -number : number;
            if (mode == VcalMode::MonthlyByDay) {
                rule.byLists[ByMonthDay].push_back(ordinal);
            } else if (byWeekday) {
                if (const int weekday = weekdayFromName(word)) {
                    appendByDay(rule, weekday, ordinal);
                }
            }
            continue;
        }
        const int32_t value = readInteger(word);
        if (mode == VcalMode::MonthlyByDay) {
            if (value != 0) {
                rule.byLists[ByMonthDay].push_back(value);
            }
            if (asciiCompareNoCase(word, "LD") == 0) {
                rule.byLists[ByMonthDay].push_back(-1);
            }
        } else if (mode == VcalMode::YearlyByMonth && value != 0) {
            rule.byLists[ByMonth].push_back(value);
        } else if (mode == VcalMode::YearlyByDay && value != 0) {
            rule.byLists[ByYearDay].push_back(value);
        } else if (byWeekday) {
            if (const int weekday = weekdayFromName(word)) {
                appendByDay(rule, weekday, ordinal);
            }
        }
    }
}

}  // namespace

const char* weekdayName(int code) {
    return code >= 1 && code <= 7 ? kWeekdayNames[code - 1] : nullptr;
}

int weekdayFromName(std::string_view name) {
    if (name.size() != 2) {
        return 0;
    }
    for (int i = 0; i < 7; ++i) {
        if (asciiCompareNoCaseN(name.data(), kWeekdayNames[i], 2) == 0) {
            return i + 1;
        }
    }
    return 0;
}

void parseByList(std::string_view text, RecurrenceRule& rule, int index) {
    if (index < 0 || index >= static_cast<int>(rule.byLists.size())) {
        return;
    }
    auto& list = rule.byLists[index];
    for (size_t comma; (comma = text.find(',')) != std::string_view::npos; text.remove_prefix(comma + 1)) {
        list.push_back(readInteger(text.substr(0, comma)));
    }
    if (!text.empty()) {
        list.push_back(readInteger(text));
    }
}

void RecurrenceRule::parse(std::string_view text) {
    reset();
    std::string copy(text.substr(0, text.find('\0')));
    std::string first;
    bool byGiven = false;
    bool setPosGiven = false;
    char* cursor = nullptr;
    bool isFirst = true;
    for (char* token = nextToken(copy.data(), ";", &cursor); token != nullptr;
         token = nextToken(nullptr, ";", &cursor)) {
        if (isFirst) {
            first = token;
            isFirst = false;
        }
        char* equals = std::strchr(token, '=');
        if (equals == nullptr) {
            if (first == token) {
                parseVCalendar(token, *this);
                break;
            }
            continue;
        }
        *equals = 0;
        const char* key = token;
        const char* value = equals + 1;
        auto is = [key](const char* name) { return asciiCompareNoCase(key, name) == 0; };
        if (is("FREQ")) {
            const auto* name = std::find_if(std::begin(kFrequencyNames), std::end(kFrequencyNames),
                                            [&](const char* n) { return asciiCompareNoCase(value, n) == 0; });
            if (name == std::end(kFrequencyNames)) {
                break;
            }
            frequency = static_cast<int32_t>(name - std::begin(kFrequencyNames));
        } else if (is("UNTIL")) {
            until = readUtcClock(value);
        } else if (is("X-UNTIL")) {
            extendedUntil = readUtcClock(value);
        } else if (is("COUNT")) {
            count = readInteger(value);
        } else if (is("INTERVAL")) {
            interval = readInteger(value);
        } else if (is("BYDAY")) {
            parseByDay(value, *this);
            byGiven = true;
        } else if (is("BYSETPOS")) {
            parseByList(value, *this, BySetPos);
            setPosGiven = true;
        } else if (is("WKST")) {
            weekStart = weekdayFromName(value);
        } else {
            for (const auto& k : kListKeys) {
                if (is(k.key)) {
                    parseByList(value, *this, k.index);
                    byGiven = true;
                    break;
                }
            }
        }
    }
    valid = frequency != -1 && !(setPosGiven && !byGiven);
}

namespace {

// Collects short pieces on the stack and hands them to the string in few
// appends.
class TextSink {
  public:
    explicit TextSink(std::string& out) : out_(out) {}
    ~TextSink() { flush(); }
    TextSink(const TextSink&) = delete;
    TextSink& operator=(const TextSink&) = delete;

    [[gnu::always_inline]] void put(std::string_view piece) {
        if (piece.size() > sizeof(buffer_) - used_) [[unlikely]] {
            flush();
            if (piece.size() > sizeof(buffer_)) {
                out_.append(piece);
                return;
            }
        }
        std::memcpy(buffer_ + used_, piece.data(), piece.size());
        used_ += piece.size();
    }
    [[gnu::always_inline]] void put(char c) { put(std::string_view(&c, 1)); }
    void putInt(int64_t v) {
        char digits[24];
        const auto end = std::to_chars(digits, digits + sizeof(digits), v).ptr;
        put(std::string_view(digits, static_cast<size_t>(end - digits)));
    }
    // The string with everything collected so far.
    std::string& flushed() {
        flush();
        return out_;
    }

  private:
    void flush() {
        out_.append(buffer_, used_);
        used_ = 0;
    }

    std::string& out_;
    char buffer_[128];
    size_t used_ = 0;
};

}  // namespace

std::string RecurrenceRule::format() const {
    std::string text;
    formatTo(text);
    return text;
}

void RecurrenceRule::formatTo(std::string& text) const {
    if (!valid) {
        return;
    }
    TextSink out(text);
    out.put("FREQ=");
    if (frequency < Yearly || frequency > Secondly) {
        return;
    }
    out.put(kFrequencyNames[frequency]);
    if (!extendedUntil.isUnset()) {
        out.put(";X-UNTIL=");
        extendedUntil.formatTo(out.flushed(), 0);
    }
    if (!until.isUnset()) {
        out.put(";UNTIL=");
        until.formatTo(out.flushed(), 0);
    } else if (count >= 1) {
        out.put(";COUNT=");
        out.putInt(count);
    }
    if (interval > 1) {
        out.put(";INTERVAL=");
        out.putInt(interval);
    }
    for (int index = ByMonth; index <= BySetPos; ++index) {
        const auto& list = byLists[index];
        if (list.empty()) {
            continue;
        }
        out.put(';');
        out.put(kListNames[index]);
        out.put('=');
        for (size_t k = 0; k < list.size(); ++k) {
            if (k > 0) {
                out.put(',');
            }
            if (index != ByDay) {
                out.putInt(list[k]);
                continue;
            }
            if ((list[k] & ~0xFF) != 0) {
                out.putInt(list[k] >> 8);
            }
            const char* name = weekdayName(list[k] & 0xFF);
            if (name == nullptr) {
                return;
            }
            out.put(name);
        }
    }
    if (weekStart != 1) {
        out.put(";WKST=");
        if (const char* name = weekdayName(weekStart)) {
            out.put(name);
        }
    }
}

}  // namespace tavlo::timezone
