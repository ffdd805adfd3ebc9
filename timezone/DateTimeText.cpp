// Text forms of date-times: ISO 8601 / iCalendar dates, date-times and
// durations, and RFC 822 mail-header dates with their zone names.
#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <cstring>

#include "CommonBase/StringUtils.h"
#include "timezone/BoundedFormat.h"
#include "timezone/CalendarMath.h"
#include "timezone/DateTime.h"

namespace tavlo::timezone {

namespace {

bool isDigit(char c) {
    return c >= '0' && c <= '9';
}

// atoi of exactly two characters: a non-digit ends the number early.
int twoChars(std::string_view text, size_t at) {
    if (isDigit(text[at]) && isDigit(text[at + 1])) {
        return (text[at] - '0') * 10 + (text[at + 1] - '0');
    }
    const char buf[3] = {text[at], text[at + 1], 0};
    return std::atoi(buf);
}

// Zero-padded decimal digits of a non-negative value.
char* putDigits(char* out, int value, int width) {
    if (width == 2) {
        out[0] = static_cast<char>('0' + value / 10 % 10);
        out[1] = static_cast<char>('0' + value % 10);
        return out + 2;
    }
    for (int i = width - 1; i >= 0; --i) {
        out[i] = static_cast<char>('0' + value % 10);
        value /= 10;
    }
    return out + width;
}

struct Rfc822Zone {
    const char* name;
    int minutes;
};

constexpr Rfc822Zone kRfc822Zones[] = {
    {"gmt", 0},    {"edt", -240}, {"est", -300}, {"cdt", -300}, {"cst", -360},
    {"mdt", -360}, {"mst", -420}, {"pdt", -420}, {"pst", -480},
};

constexpr const char* kMonthNames[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                       "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};

}  // namespace

std::string DateTime::format(int flags) const {
    std::string text;
    formatTo(text, flags);
    return text;
}

void DateTime::formatTo(std::string& out, int flags) const {
    if (noDate()) {
        return;
    }
    const bool dateForm = dateOnly_ && (flags & FormatDateTime) == 0;
    const bool extended = (flags & FormatExtended) != 0;
    const Duration o = offset();
    int64_t wall;
    if (__builtin_add_overflow(value_, o.seconds(), &wall)) {
        return;
    }
    const CalendarFields f = calendarFromTime(wall);
    if (f.year + 1900 > 9999) {
        return;
    }
    // The fields of "%04d-%02d-%02dT%02d:%02d:%02d" (without the separators
    // in the basic form), then ".000" and the designator.
    char buffer[128];
    char* p = putDigits(buffer, f.year + 1900, 4);
    if (extended) {
        *p++ = '-';
    }
    p = putDigits(p, f.month + 1, 2);
    if (extended) {
        *p++ = '-';
    }
    p = putDigits(p, f.day, 2);
    if (!dateForm) {
        *p++ = 'T';
        const int parts[3] = {f.hour, f.minute, f.second};
        for (int i = 0; i < 3; ++i) {
            if (extended && i > 0) {
                *p++ = ':';
            }
            p = putDigits(p, parts[i], 2);
        }
        if (flags & FormatMilliseconds) {
            p = std::copy_n(".000", 4, p);
        }
        if (kind_ != Floating) {
            const char* separator = extended ? ":" : "";
            const size_t room = static_cast<size_t>(buffer + sizeof(buffer) - p);
            const int32_t low = static_cast<int32_t>(o.count());
            if ((o.isUnknown() || low == 0) && (flags & FormatNoZ) == 0) {
                *p++ = 'Z';
            } else if (o.isUnknown() && (flags & FormatNoOffset) == 0) {
                p += boundedFormat(p, room, "+00%s00", separator);
            } else if ((flags & FormatNoOffset) == 0) {
                p += boundedFormat(p, room, "%c%02d%s%02d", low < 0 ? '-' : '+', o.hours(), separator,
                                   o.minutes());
            }
        }
    }
    out.append(buffer, p);
}

bool parseIsoDateTime(std::string_view text, bool* dateOnly, Duration* offset, int64_t* start, int64_t* end) {
    if (dateOnly != nullptr) {
        *dateOnly = false;
    }
    if (start != nullptr) {
        *start = 0;
    }
    if (end != nullptr) {
        *end = 0;
    }
    const size_t n = text.size();
    if (n < 4 || !isDigit(text[0]) || !isDigit(text[1]) || !isDigit(text[2]) || !isDigit(text[3])) {
        return false;
    }
    CalendarFields first, last;
    first.day = 1;
    first.month = 0;
    last.day = 31;
    last.month = 11;
    last.hour = 23;
    last.minute = 59;
    last.second = 59;
    first.year = last.year =
        (text[0] - '0') * 1000 + (text[1] - '0') * 100 + (text[2] - '0') * 10 + (text[3] - '0') - 1900;
    bool monthOnly = false;
    bool isDateOnly = false;
    Duration read = kUnknownDuration;
    size_t p = 4;
    auto skip = [&](char c) {
        if (p < n && text[p] == c) {
            ++p;
        }
    };
    auto twoLeft = [&] { return n - p >= 2; };
    do {
        if (p == n) {
            break;
        }
        skip('-');
        if (!twoLeft()) {
            break;
        }
        first.month = last.month = twoChars(text, p) - 1;
        p += 2;
        monthOnly = true;
        if (p == n) {
            break;
        }
        skip('-');
        if (!twoLeft()) {
            break;
        }
        first.day = last.day = twoChars(text, p);
        p += 2;
        monthOnly = false;
        if (p == n || text[p] != 'T') {
            isDateOnly = true;
            break;
        }
        ++p;
        if (!twoLeft()) {
            break;
        }
        first.hour = last.hour = twoChars(text, p);
        p += 2;
        if (p == n) {
            break;
        }
        skip(':');
        if (!twoLeft()) {
            break;
        }
        first.minute = last.minute = twoChars(text, p);
        p += 2;
        if (p == n) {
            break;
        }
        skip(':');
        if (!twoLeft()) {
            break;
        }
        first.second = last.second = twoChars(text, p);
        p += 2;
        if (p < n && (text[p] == '.' || text[p] == ',')) {
            ++p;
            while (p < n && isDigit(text[p])) {
                ++p;
            }
        }
        while (p < n && text[p] == ' ') {
            ++p;
        }
        if (p == n) {
            break;
        }
        if (text[p] == 'Z') {
            read = Duration(0);
            break;
        }
        int sign = -1;
        bool signRead = false;
        if (text[p] == '-') {
            sign = 1;
            signRead = true;
            ++p;
        } else if (text[p] == '+') {
            signRead = true;
            ++p;
        }
        if (!twoLeft()) {
            break;
        }
        const int h = twoChars(text, p);
        p += 2;
        first.hour += sign * h;
        last.hour += sign * h;
        int k = 0;
        if (p < n) {
            skip(':');
            if (twoLeft()) {
                k = twoChars(text, p);
                first.minute += sign * k;
                last.minute += sign * k;
            }
        } else if (!signRead) {
            break;  // two bare characters name no offset
        }
        read = Duration((h * 60LL + k) * 60 * -sign);
    } while (false);
    if (monthOnly) {
        // A year-month text ends on the month's last day.
        const int64_t year = first.year + 1900LL + calendar::floorDiv(first.month, 12);
        last.day = calendar::daysInMonth(year < 1600    ? 1600
                                         : year > 30000 ? 30000
                                                        : year,
                                         static_cast<int>(calendar::floorMod(first.month, 12)));
    }
    const int64_t s = timeFromCalendar(first);
    const int64_t e = timeFromCalendar(last);
    if (dateOnly != nullptr) {
        *dateOnly = isDateOnly;
    }
    if (start != nullptr) {
        *start = s;
    }
    if (end != nullptr) {
        *end = e;
    }
    if (offset != nullptr) {
        *offset = read;
    }
    return true;
}

DateTime DateTime::parse(std::string_view text, const ZonePtr& defaultZone) {
    bool dateOnly = false;
    Duration read;
    int64_t start = 0;
    if (!parseIsoDateTime(text, &dateOnly, &read, &start, nullptr)) {
        return unsetDateTime();
    }
    DateTime v(start);
    v.dateOnly_ = dateOnly;
    if (!read.isUnknown()) {
        v.offsetMinutes_ = static_cast<int32_t>(read.count() / 60);
        if (defaultZone) {
            v.setZone(defaultZone);
        }
    } else if (defaultZone) {
        v.setZone(defaultZone);
    } else {
        v.shift(-machineOffset(v.value_, false).count());
        v.kind_ = Floating;
        v.offsetMinutes_ = kUnknownOffsetMinutes;
    }
    return v;
}

Duration Duration::parse(std::string_view text) {
    size_t p = 0;
    bool negative = false;
    if (p < text.size() && (text[p] == '+' || text[p] == '-')) {
        negative = text[p] == '-';
        ++p;
    }
    if (p >= text.size() || text[p] != 'P') {
        return kUnknownDuration;
    }
    int64_t sum = 0, number = 0;
    for (++p; p < text.size(); ++p) {
        const char c = text[p];
        if (isDigit(c)) {
            if (__builtin_mul_overflow(number, 10, &number) ||
                __builtin_add_overflow(number, c - '0', &number)) {
                return kUnknownDuration;
            }
            continue;
        }
        int64_t factor = 0;
        switch (c) {
            case 'W':
                factor = 604800;
                break;
            case 'D':
                factor = 86400;
                break;
            case 'H':
                factor = 3600;
                break;
            case 'M':
                factor = 60;
                break;
            case 'S':
                factor = 1;
                break;
            default:
                break;
        }
        int64_t part;
        if (__builtin_mul_overflow(number, factor, &part) || __builtin_add_overflow(sum, part, &sum)) {
            return kUnknownDuration;
        }
        number = 0;
    }
    return Duration(negative ? -sum : sum);
}

bool namedZoneMinutes(const char* name, int* minutes) {
    if (name == nullptr) {
        return false;
    }
    for (const Rfc822Zone& z : kRfc822Zones) {
        if (asciiCompareNoCase(name, z.name) == 0) {
            if (minutes != nullptr) {
                *minutes = z.minutes;
            }
            return true;
        }
    }
    return false;
}

int rfc822ZoneMinutes(const char* text) {
    if (text == nullptr) {
        return 0;
    }
    const char c0 = text[0];
    if (c0 == '+' || c0 == '-') {
        const int sign = c0 == '-' ? -1 : 1;
        int digits = 0;
        while (digits < 4 && isDigit(text[1 + digits])) {
            ++digits;
        }
        const auto d = [&](int i) { return text[1 + i] - '0'; };
        if (digits == 4) {
            return sign * ((d(0) * 10 + d(1)) * 60 + d(2) * 10 + d(3));
        }
        // A sign and two digits are whole hours; other short forms are unreadable.
        if (digits == 2) {
            return sign * (d(0) * 10 + d(1)) * 60;
        }
        return 0;
    }
    if (!std::isalpha(static_cast<unsigned char>(c0))) {
        return 0;
    }
    const size_t length = std::strlen(text);
    const char first = static_cast<char>(std::tolower(static_cast<unsigned char>(c0)));
    if (length == 1) {
        if (first >= 'a' && first <= 'm') {
            return 60 * (first - 'a' + 1);
        }
        if (first >= 'n' && first <= 'y') {
            return -60 * (first - 'm');
        }
        return 0;
    }
    if (length != 3) {
        return 0;
    }
    int minutes = 0;
    if (namedZoneMinutes(text, &minutes)) {
        return minutes;
    }
    static const char kLetters[] = "aecmpyhb";
    const char* at = std::strchr(kLetters, first);
    if (std::tolower(static_cast<unsigned char>(text[2])) != 't' || at == nullptr) {
        return 0;
    }
    const bool daylight = std::tolower(static_cast<unsigned char>(text[1])) == 'd';
    return -60 * (4 + static_cast<int>(at - kLetters)) + (daylight ? 60 : 0);
}

bool parseRfc822DateTime(const char* text, int64_t* out) {
    if (text == nullptr || out == nullptr) {
        return false;
    }
    const char* p = text;
    if (const char* comma = std::strchr(text, ',')) {
        p = comma + 1;
        while (*p == ' ') {
            ++p;
        }
    }
    auto digit = [](char c) { return isDigit(c) ? c - '0' : -1; };
    CalendarFields f;
    // Day: a leading space reads as '0'.
    const int d0 = *p == ' ' ? 0 : digit(*p);
    if (d0 < 0) {
        return false;
    }
    ++p;
    f.day = d0;
    if (isDigit(*p)) {
        f.day = d0 * 10 + digit(*p++);
    }
    if (*p++ != ' ') {
        return false;
    }
    int month = -1;
    if (p[0] == 0 || p[1] == 0 || p[2] == 0) {
        return false;
    }
    for (int i = 0; i < 12; ++i) {
        if (asciiCompareNoCaseN(p, kMonthNames[i], 3) == 0) {
            month = i;
            break;
        }
    }
    if (month < 0 || p[3] != ' ') {
        return false;
    }
    p += 4;
    f.month = month;
    if (!isDigit(p[0]) || !isDigit(p[1])) {
        return false;
    }
    int year = digit(p[0]) * 10 + digit(p[1]);
    p += 2;
    if (isDigit(*p)) {
        if (year < 19 || !isDigit(p[1])) {
            return false;
        }
        year = year * 100 + digit(p[0]) * 10 + digit(p[1]);
        p += 2;
    } else {
        year += year < 70 ? 2000 : 1900;
    }
    f.year = year - 1900;
    if (*p++ != ' ') {
        return false;
    }
    const auto two = [&](int max, int* v) {
        if (!isDigit(p[0]) || !isDigit(p[1])) {
            return false;
        }
        *v = digit(p[0]) * 10 + digit(p[1]);
        p += 2;
        return *v <= max;
    };
    if (!two(23, &f.hour) || *p++ != ':' || !two(59, &f.minute) || *p++ != ':' || !two(60, &f.second) ||
        *p++ != ' ') {
        return false;
    }
    const int minutes = *p != 0 ? rfc822ZoneMinutes(p) : 0;
    const int64_t t = timeFromCalendar(f) - minutes * 60LL;
    if (t == -1) {
        return false;
    }
    *out = t;
    return true;
}

}  // namespace tavlo::timezone
