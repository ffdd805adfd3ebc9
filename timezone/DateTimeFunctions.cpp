// The Windows date conversions. SYSTEMTIME arithmetic goes through the OLE
// date form and is carried out in whole seconds of its linear time line, so
// that comparisons at a transition are exact.
#include "timezone/DateTimeFunctions.h"

#include <climits>
#include <cmath>
#include <cstring>

#include "CommonBase/HResultException.h"
#include "timezone/CalendarMath.h"
#include "winplat/kernel.h"
#include "winplat/oleauto.h"

namespace tavlo::timezone {

namespace {

constexpr char kModule[] = "CommonBase\\DateTimeFunctions";
constexpr int64_t kSecondsFrom1601To1970 = 11644473600LL;
constexpr int64_t kTicksPerSecond = 10000000;

[[noreturn]] void raiseAt(int line, const char* function, HRESULT hr) {
    ErrorLocation{2, kModule, line, function}.raise(hr);
}

HRESULT lastErrorResult() {
    return HRESULT_FROM_WIN32(GetLastError());
}

bool sameFields(const SYSTEMTIME& a, const SYSTEMTIME& b) {
    return a.wYear == b.wYear && a.wMonth == b.wMonth && a.wDay == b.wDay && a.wHour == b.wHour &&
           a.wMinute == b.wMinute && a.wSecond == b.wSecond;
}

constexpr int64_t kOleEpochToUnix = 25569LL * 86400;      // 1899-12-30 to 1970-01-01
constexpr int64_t kFirstCalendarSecond = -11644473600LL;  // 1601-01-01T00:00:00Z
constexpr int64_t kLastOleSecond = 253402300799LL;        // 9999-12-31T23:59:59Z

SYSTEMTIME systemTimeOf(const CalendarFields& f);

// Seconds of the OLE time line (0 = 1899-12-30T00:00:00) of an accepted date:
// one that the OLE date form holds unchanged. From 1601 on the library's own
// calendar answers the same in closed form.
bool acceptedSeconds(const SYSTEMTIME& st, int64_t* seconds, SYSTEMTIME* normal = nullptr) {
    if (st.wYear >= 1601 && st.wYear <= 9999) {
        if (st.wMonth < 1 || st.wMonth > 12 || st.wDay < 1 ||
            st.wDay > calendar::daysInMonth(st.wYear, st.wMonth - 1) || st.wHour > 23 || st.wMinute > 59 ||
            st.wSecond > 59) {
            return false;
        }
        const int64_t days = calendar::daysOfDate(st.wYear, st.wMonth - 1, st.wDay);
        *seconds = days * 86400 + st.wHour * 3600 + st.wMinute * 60 + st.wSecond + kOleEpochToUnix;
        if (normal != nullptr) {
            *normal = st;
            normal->wMilliseconds = 0;
            normal->wDayOfWeek = static_cast<WORD>(calendar::floorMod(days + 4, 7));  // 1970-01-01: Thursday
        }
        return true;
    }
    SYSTEMTIME copy = st;
    double date;
    SYSTEMTIME back;
    if (!SystemTimeToVariantTime(&copy, &date) || !VariantTimeToSystemTime(date, &back) ||
        !sameFields(st, back)) {
        return false;
    }
    const double whole = std::ceil(date);
    const double linear = date >= 0 ? date : whole - (date - whole);
    *seconds = std::llround(linear * 86400.0);
    if (normal != nullptr) {
        *normal = back;
    }
    return true;
}

// The SYSTEMTIME of a point of the OLE time line; false outside its range.
bool systemTimeAt(int64_t seconds, SYSTEMTIME* out) {
    const int64_t sinceEpoch = seconds - kOleEpochToUnix;
    if (sinceEpoch >= kFirstCalendarSecond && sinceEpoch <= kLastOleSecond) {
        *out = systemTimeOf(calendarFromTime(sinceEpoch));
        return true;
    }
    const int64_t days = calendar::floorDiv(seconds, 86400);
    const double fraction = static_cast<double>(calendar::floorMod(seconds, 86400)) / 86400.0;
    const double date =
        days >= 0 ? static_cast<double>(days) + fraction : static_cast<double>(days) - fraction;
    return VariantTimeToSystemTime(date, out) != FALSE;
}

SYSTEMTIME systemTimeOf(const CalendarFields& f) {
    SYSTEMTIME st{};
    st.wYear = static_cast<WORD>(f.year + 1900);
    st.wMonth = static_cast<WORD>(f.month + 1);
    st.wDayOfWeek = static_cast<WORD>(f.weekday);
    st.wDay = static_cast<WORD>(f.day);
    st.wHour = static_cast<WORD>(f.hour);
    st.wMinute = static_cast<WORD>(f.minute);
    st.wSecond = static_cast<WORD>(f.second);
    return st;
}

// getDaylightDate, with the answer also as seconds of the OLE time line.
SYSTEMTIME daylightDate(const SYSTEMTIME& rule, int year, int64_t* seconds) {
    // An occurrence outside 1-5 or a weekday above Saturday names no day.
    if (year > 9999 || rule.wMonth == 0 || rule.wDay < 1 || rule.wDay > 5 || rule.wDayOfWeek > 6) {
        raiseAt(180, "getDaylightDate", E_FAIL);
    }
    const bool last = rule.wDay == 5;
    SYSTEMTIME d{};
    d.wYear = static_cast<WORD>(year);
    d.wMonth = rule.wMonth;
    d.wDay = 1;
    d.wHour = rule.wHour;
    d.wMinute = rule.wMinute;
    d.wSecond = rule.wSecond;
    if (last) {
        d.wMonth = static_cast<WORD>(rule.wMonth == 12 ? 1 : rule.wMonth + 1);
        d.wYear = static_cast<WORD>(rule.wMonth == 12 ? year + 1 : year);
    }
    int64_t at;
    SYSTEMTIME normal;
    if (year < 0 || !acceptedSeconds(d, &at, &normal)) {
        raiseAt(206, "getDaylightDate", E_FAIL);
    }
    if (last) {
        at -= 86400;
        if (!systemTimeAt(at, &normal)) {
            raiseAt(206, "getDaylightDate", E_FAIL);
        }
    }
    // The n-th matching weekday counted from d, forwards (or backwards for the last).
    const int weekday = normal.wDayOfWeek;
    const int64_t step = last ? -((weekday - rule.wDayOfWeek + 7) % 7)
                              : (rule.wDayOfWeek - weekday + 7) % 7 + 7 * (rule.wDay - 1);
    at += step * 86400;
    normal.wDay = static_cast<WORD>(normal.wDay + step);
    normal.wDayOfWeek = rule.wDayOfWeek;
    normal.wMilliseconds = 0;
    *seconds = at;
    return normal;
}

int biasAt(int64_t moment, const SYSTEMTIME& given, bool useGivenTime, bool isUtc,
           const TIME_ZONE_INFORMATION* tzi) {
    TIME_ZONE_INFORMATION machine;
    if (tzi == nullptr) {
        GetTimeZoneInformation(&machine);
        tzi = &machine;
    }
    const TIME_ZONE_INFORMATION& z = *tzi;
    if (z.DaylightDate.wMonth == 0 || z.StandardDate.wMonth == 0) {
        return z.Bias;
    }
    int64_t m = moment;
    int year = given.wYear;
    if (!useGivenTime) {
        SYSTEMTIME now;
        GetLocalTime(&now);
        year = now.wYear;
        acceptedSeconds(now, &m);
    }
    int64_t dstStart, stdStart;
    daylightDate(z.DaylightDate, year, &dstStart);
    daylightDate(z.StandardDate, year, &stdStart);
    const int daylightBias = z.Bias + z.DaylightBias;
    const int standardBias = z.Bias + z.StandardBias;
    if (isUtc) {
        const int64_t spanD = daylightBias * 60LL;
        const int64_t spanS = standardBias * 60LL;
        if (dstStart < stdStart) {
            if (!(dstStart < m - spanS)) {
                return standardBias;
            }
        } else if (dstStart < m - spanS) {
            return daylightBias;
        }
        // Both branches read the moment as daylight wall-clock time here.
        m -= spanD;
    } else if (dstStart < stdStart) {
        if (m <= dstStart) {
            return standardBias;
        }
    } else if (dstStart < m) {
        return daylightBias;
    }
    return m <= stdStart ? daylightBias : standardBias;
}

SYSTEMTIME shiftedByBias(const SYSTEMTIME& st, bool useGivenTime, bool isUtc,
                         const TIME_ZONE_INFORMATION* tzi, int line, const char* function) {
    int64_t at;
    if (!acceptedSeconds(st, &at)) {
        raiseAt(line, function, E_INVALIDARG);
    }
    const int bias = biasAt(at, st, useGivenTime, isUtc, tzi);
    SYSTEMTIME out{};
    if (!systemTimeAt(at + (isUtc ? -bias : bias) * 60LL, &out)) {
        return SYSTEMTIME{};
    }
    return out;
}

}  // namespace

HRESULT tryFileTimeToSystemTime(const FILETIME& fileTime, SYSTEMTIME* systemTime) {
    return FileTimeToSystemTime(&fileTime, systemTime) ? S_OK : lastErrorResult();
}

HRESULT trySystemTimeToFileTime(const SYSTEMTIME& systemTime, FILETIME* fileTime) {
    return SystemTimeToFileTime(&systemTime, fileTime) ? S_OK : lastErrorResult();
}

SYSTEMTIME fileTimeToSystemTime(const FILETIME& fileTime) {
    SYSTEMTIME st{};
    const HRESULT hr = tryFileTimeToSystemTime(fileTime, &st);
    if (hr < 0) {
        raiseAt(783, "fileTimeToSystemTime", hr);
    }
    return st;
}

uint64_t systemTimeToFileTime(const SYSTEMTIME& systemTime) {
    FILETIME ft{};
    const HRESULT hr = trySystemTimeToFileTime(systemTime, &ft);
    if (hr < 0) {
        raiseAt(794, "systemTimeToFileTime", hr);
    }
    return (static_cast<uint64_t>(ft.dwHighDateTime) << 32) | ft.dwLowDateTime;
}

SYSTEMTIME makeSystemTime(int year, int month, int day, int hour, int minute, int second, int milliseconds) {
    SYSTEMTIME st{};
    st.wYear = static_cast<WORD>(year);
    st.wMonth = static_cast<WORD>(month);
    st.wDay = static_cast<WORD>(day);
    st.wHour = static_cast<WORD>(hour);
    st.wMinute = static_cast<WORD>(minute);
    st.wSecond = static_cast<WORD>(second);
    st.wMilliseconds = static_cast<WORD>(milliseconds);
    return st;
}

bool systemTimeEqual(const SYSTEMTIME& a, const SYSTEMTIME& b) {
    return std::memcmp(&a, &b, sizeof(SYSTEMTIME)) == 0;
}

bool systemTimeDiffers(const SYSTEMTIME& a, const SYSTEMTIME& b) {
    return !systemTimeEqual(a, b);
}

bool tziEqual(const TIME_ZONE_INFORMATION& a, const TIME_ZONE_INFORMATION& b) {
    return std::memcmp(&a, &b, sizeof(TIME_ZONE_INFORMATION)) == 0;
}

SYSTEMTIME dateTimeToSystemTime(const DateTime& t) {
    if (t.isUnset() || t.isMarker()) {
        return SYSTEMTIME{};
    }
    int64_t at = t.value();
    if (t.isDateOnly() && __builtin_add_overflow(at, t.offset().seconds(), &at)) {
        at = t.value();
    }
    return systemTimeOf(calendarFromTime(at));
}

SYSTEMTIME dateTimeToLocalSystemTime(const DateTime& t) {
    if (t.isUnset() || t.isMarker()) {
        return SYSTEMTIME{};
    }
    // A machine-zone value's fields come from the C runtime's one answer,
    // rather than from the offset it gives and a second calendar split.
    CalendarFields fields;
    if (t.kind() == Floating && DateTime::machineWallFields(t.value(), &fields)) {
        return systemTimeOf(fields);
    }
    int64_t wall;
    if (__builtin_add_overflow(t.value(), t.offset().seconds(), &wall)) {
        wall = t.value();
    }
    return systemTimeOf(calendarFromTime(wall));
}

uint64_t dateTimeToFileTime(const DateTime& t) {
    if (t.isUnset() || t.isMarker()) {
        FILETIME now;
        GetSystemTimeAsFileTime(&now);
        return (static_cast<uint64_t>(now.dwHighDateTime) << 32) | now.dwLowDateTime;
    }
    constexpr int64_t kLastSecond = INT64_MAX / kTicksPerSecond;
    if (t.value() < -kSecondsFrom1601To1970) {
        return 0;
    }
    if (t.value() > kLastSecond - kSecondsFrom1601To1970) {
        return static_cast<uint64_t>(INT64_MAX);
    }
    return static_cast<uint64_t>((t.value() + kSecondsFrom1601To1970) * kTicksPerSecond);
}

DateTime systemTimeToDateTime(const SYSTEMTIME& st) {
    return DateTime(st.wDay, st.wMonth, st.wYear, st.wHour, st.wMinute, st.wSecond, Duration(0));
}

DateTime utcSystemTimeInZone(const SYSTEMTIME& utc, const ZonePtr& zone) {
    DateTime t = systemTimeToDateTime(utc);
    if (zone) {
        t.attachZone(zone);
    }
    return t;
}

DateTime wallSystemTimeInZone(const SYSTEMTIME& wall, const ZonePtr& zone) {
    DateTime t = systemTimeToDateTime(wall);
    if (zone) {
        t.setZone(zone);
    }
    return t;
}

SYSTEMTIME zoneWallToUtc(const SYSTEMTIME& wall, const ZonePtr& zone) {
    return dateTimeToSystemTime(wallSystemTimeInZone(wall, zone));
}

SYSTEMTIME utcToZoneWall(const SYSTEMTIME& utc, const ZonePtr& zone) {
    DateTime t = systemTimeToDateTime(utc);
    t.attachZone(zone);
    t.setFixedOffset(Duration(0));
    return dateTimeToSystemTime(t);
}

int systemTimeMinutesBetween(const SYSTEMTIME& a, const SYSTEMTIME& b) {
    const int64_t minutes = (systemTimeToDateTime(b).difference(systemTimeToDateTime(a))).seconds() / 60;
    return minutes < INT_MIN ? INT_MIN : minutes > INT_MAX ? INT_MAX : static_cast<int>(minutes);
}

std::string systemTimeToIsoText(const SYSTEMTIME& st) {
    return systemTimeToDateTime(st).format(0);
}

SYSTEMTIME isoTextToSystemTime(std::string_view text) {
    const DateTime t = DateTime::parse(text, ZonePtr());
    return t.isUnset() ? SYSTEMTIME{} : dateTimeToSystemTime(t);
}

SYSTEMTIME rfc822ToSystemTime(const char* text) {
    int64_t seconds;
    if (!parseRfc822DateTime(text, &seconds)) {
        return SYSTEMTIME{};
    }
    return dateTimeToSystemTime(DateTime(seconds));
}

SYSTEMTIME getDaylightDate(const SYSTEMTIME& rule, int year) {
    int64_t seconds;
    return daylightDate(rule, year, &seconds);
}

int timeZoneBias(const SYSTEMTIME& moment, bool useGivenTime, bool isUtc, const TIME_ZONE_INFORMATION* tzi) {
    int64_t at;
    if (!acceptedSeconds(moment, &at)) {
        raiseAt(238, "timeZoneBias", E_INVALIDARG);
    }
    return biasAt(at, moment, useGivenTime, isUtc, tzi);
}

SYSTEMTIME localToGmt(const SYSTEMTIME& local, bool useGivenTime, const TIME_ZONE_INFORMATION* tzi) {
    return shiftedByBias(local, useGivenTime, false, tzi, 296, "localToGmt");
}

SYSTEMTIME gmtToLocal(const SYSTEMTIME& utc, bool useGivenTime, const TIME_ZONE_INFORMATION* tzi) {
    return shiftedByBias(utc, useGivenTime, true, tzi, 328, "gmtToLocal");
}

}  // namespace tavlo::timezone
