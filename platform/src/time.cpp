// System time and FILETIME/SYSTEMTIME conversions.
#include <time.h>

#include <cstdint>

#include "inject_internal.h"
#include "time_internal.h"
#include "winplat/inject.h"
#include "winplat/kernel.h"
#include "winplat/time.h"

using winplat::detail::civilFromDays;
using winplat::detail::daysFromCivil;
using winplat::detail::daysInMonth;

namespace {

constexpr int64_t kTicksPerSecond = 10000000;
constexpr int64_t kTicksPerDay = kTicksPerSecond * 86400;
constexpr int64_t kSecondsFrom1601To1970 = 11644473600LL;
constexpr int64_t kDaysFromEpochTo1601 = 584694;  // 1601-01-01 in the day count of daysFromCivil

int64_t nowTicks() {
    struct timespec ts;
    clock_gettime(CLOCK_REALTIME, &ts);
    return (static_cast<int64_t>(ts.tv_sec) + kSecondsFrom1601To1970) * kTicksPerSecond + ts.tv_nsec / 100;
}

void ticksToSystemTime(int64_t ticks, SYSTEMTIME* st) {
    int64_t days = ticks / kTicksPerDay;
    int64_t rest = ticks % kTicksPerDay;
    int64_t y;
    int m, d;
    civilFromDays(days + kDaysFromEpochTo1601, &y, &m, &d);
    st->wYear = static_cast<WORD>(y);
    st->wMonth = static_cast<WORD>(m);
    st->wDay = static_cast<WORD>(d);
    st->wDayOfWeek = static_cast<WORD>((days + 1) % 7);  // 1601-01-01 was a Monday
    st->wHour = static_cast<WORD>(rest / (kTicksPerSecond * 3600));
    st->wMinute = static_cast<WORD>(rest / (kTicksPerSecond * 60) % 60);
    st->wSecond = static_cast<WORD>(rest / kTicksPerSecond % 60);
    st->wMilliseconds = static_cast<WORD>(rest / 10000 % 1000);
}

using winplat::detail::injected;

uint64_t monotonicMilliseconds() {
    struct timespec ts;
    clock_gettime(CLOCK_BOOTTIME, &ts);
    return static_cast<uint64_t>(ts.tv_sec) * 1000u + static_cast<uint64_t>(ts.tv_nsec) / 1000000u;
}

static_assert(daysFromCivil(1601, 1, 1) == kDaysFromEpochTo1601);

constexpr __time64_t kLastCrtTime = 32535215999LL;  // 3000-12-31T23:59:59Z
constexpr int64_t kDaysFromEpochTo1970 = 719468;

bool inCrtRange(const __time64_t* t) {
    return t != nullptr && *t >= 0 && *t <= kLastCrtTime;
}

struct tm* crtBuffer() {
    thread_local struct tm buffer;
    return &buffer;
}

}  // namespace

extern "C" {

void WINAPI GetSystemTimeAsFileTime(LPFILETIME lpSystemTimeAsFileTime) {
    uint64_t t = static_cast<uint64_t>(nowTicks());
    lpSystemTimeAsFileTime->dwLowDateTime = static_cast<DWORD>(t & 0xFFFFFFFFu);
    lpSystemTimeAsFileTime->dwHighDateTime = static_cast<DWORD>(t >> 32);
}

void WINAPI GetSystemTime(LPSYSTEMTIME lpSystemTime) {
    ticksToSystemTime(nowTicks(), lpSystemTime);
}

void WINAPI GetLocalTime(LPSYSTEMTIME lpSystemTime) {
    struct timespec ts;
    clock_gettime(CLOCK_REALTIME, &ts);
    struct tm tm;
    time_t secs = ts.tv_sec;
    localtime_r(&secs, &tm);
    // The local wall clock as if it were UTC, then broken down the same way.
    int64_t localSeconds = static_cast<int64_t>(secs) + tm.tm_gmtoff;
    ticksToSystemTime((localSeconds + kSecondsFrom1601To1970) * kTicksPerSecond + ts.tv_nsec / 100,
                      lpSystemTime);
}

BOOL WINAPI FileTimeToSystemTime(const FILETIME* lpFileTime, LPSYSTEMTIME lpSystemTime) {
    if (injected("FileTimeToSystemTime")) {
        return FALSE;
    }
    if (lpFileTime == nullptr || lpSystemTime == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    uint64_t v = (static_cast<uint64_t>(lpFileTime->dwHighDateTime) << 32) | lpFileTime->dwLowDateTime;
    if (v >= 0x8000000000000000ull) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    ticksToSystemTime(static_cast<int64_t>(v), lpSystemTime);
    return TRUE;
}

BOOL WINAPI SystemTimeToFileTime(const SYSTEMTIME* lpSystemTime, LPFILETIME lpFileTime) {
    if (injected("SystemTimeToFileTime")) {
        return FALSE;
    }
    if (lpSystemTime == nullptr || lpFileTime == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    const SYSTEMTIME& s = *lpSystemTime;
    if (s.wYear < 1601 || s.wYear > 30827 || s.wMonth < 1 || s.wMonth > 12 || s.wDay < 1 ||
        s.wDay > daysInMonth(s.wYear, s.wMonth) || s.wHour > 23 || s.wMinute > 59 || s.wSecond > 59 ||
        s.wMilliseconds > 999) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    int64_t days = daysFromCivil(s.wYear, s.wMonth, s.wDay) - kDaysFromEpochTo1601;
    int64_t ticks = days * kTicksPerDay + ((s.wHour * 60 + s.wMinute) * 60 + s.wSecond) * kTicksPerSecond +
                    s.wMilliseconds * 10000LL;
    lpFileTime->dwLowDateTime = static_cast<DWORD>(static_cast<uint64_t>(ticks) & 0xFFFFFFFFu);
    lpFileTime->dwHighDateTime = static_cast<DWORD>(static_cast<uint64_t>(ticks) >> 32);
    return TRUE;
}

DWORD WINAPI GetTickCount() {
    return static_cast<DWORD>(monotonicMilliseconds());
}

ULONGLONG WINAPI GetTickCount64() {
    return monotonicMilliseconds();
}

__time64_t _time64(__time64_t* destTime) {
    const __time64_t now = static_cast<__time64_t>(::time(nullptr));
    if (destTime != nullptr) {
        *destTime = now;
    }
    return now;
}

// Closed form: the UTC split is on the hot path of every local-time query.
struct tm* _gmtime64(const __time64_t* sourceTime) {
    if (!inCrtRange(sourceTime)) {
        return nullptr;
    }
    const int64_t days = *sourceTime / 86400;
    const int64_t secs = *sourceTime % 86400;
    int64_t y;
    int m, d;
    civilFromDays(days + kDaysFromEpochTo1970, &y, &m, &d);
    static const int kDaysBefore[] = {0, 31, 59, 90, 120, 151, 181, 212, 243, 273, 304, 334};
    struct tm* out = crtBuffer();
    *out = {};
    out->tm_sec = static_cast<int>(secs % 60);
    out->tm_min = static_cast<int>(secs / 60 % 60);
    out->tm_hour = static_cast<int>(secs / 3600);
    out->tm_mday = d;
    out->tm_mon = m - 1;
    out->tm_year = static_cast<int>(y - 1900);
    out->tm_wday = static_cast<int>((days + 4) % 7);  // 1970-01-01 was a Thursday
    out->tm_yday = kDaysBefore[m - 1] + d - 1 + (m > 2 && winplat::detail::isLeap(y) ? 1 : 0);
    out->tm_isdst = 0;
    return out;
}

struct tm* _localtime64(const __time64_t* sourceTime) {
    if (!inCrtRange(sourceTime)) {
        return nullptr;
    }
    const winplat::detail::ReversedSeasons* seasons = winplat::detail::processReversedSeasons();
    const time_t t = static_cast<time_t>(*sourceTime);
    struct tm* out = localtime_r(&t, crtBuffer());
    if (out != nullptr) {
        winplat::detail::toWindowsDaylightFlag(seasons, out);
    }
    return out;
}

__time64_t _mktime64(struct tm* timeptr) {
    if (timeptr == nullptr) {
        return -1;
    }
    const winplat::detail::ReversedSeasons* seasons = winplat::detail::processReversedSeasons();
    struct tm copy = *timeptr;
    copy.tm_isdst = winplat::detail::fromWindowsDaylightFlag(seasons, copy.tm_isdst);
    const time_t t = mktime(&copy);
    if (t == static_cast<time_t>(-1) || t < 0 || t > kLastCrtTime) {
        return -1;
    }
    winplat::detail::toWindowsDaylightFlag(seasons, &copy);
    *timeptr = copy;
    return static_cast<__time64_t>(t);
}

}  // extern "C"
