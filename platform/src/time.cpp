// System time and FILETIME/SYSTEMTIME conversions.
#include <time.h>

#include <cstdint>

#include "inject_internal.h"
#include "winplat/inject.h"
#include "winplat/kernel.h"
#include "winplat/time.h"

namespace {

constexpr int64_t kTicksPerSecond = 10000000;
constexpr int64_t kTicksPerDay = kTicksPerSecond * 86400;
constexpr int64_t kSecondsFrom1601To1970 = 11644473600LL;
constexpr int64_t kDaysFromEpochTo1601 = 584694;  // 1601-01-01 in the day count of daysFromCivil

bool isLeap(int64_t y) {
    return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0;
}

int daysInMonth(int64_t y, int m) {
    static const int days[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    return m == 2 && isLeap(y) ? 29 : days[m - 1];
}

// Days since 0000-03-01 of the proleptic Gregorian calendar, in 400-year eras.
constexpr int64_t daysFromCivil(int64_t y, int64_t m, int64_t d) {
    y -= m <= 2 ? 1 : 0;
    int64_t era = y / 400;
    int64_t yoe = y - era * 400;
    int64_t doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + doe;
}

void civilFromDays(int64_t z, int64_t* y, int* m, int* d) {
    int64_t era = z / 146097;
    int64_t doe = z - era * 146097;
    int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    int64_t mp = (5 * doy + 2) / 153;
    *d = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
    *m = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
    *y = yoe + era * 400 + (*m <= 2 ? 1 : 0);
}

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

}  // extern "C"
