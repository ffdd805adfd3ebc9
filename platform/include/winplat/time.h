// System time, FILETIME/SYSTEMTIME conversions and tick counts.
// FILETIME counts 100-nanosecond intervals since 1601-01-01 00:00 UTC.
#pragma once

#include "winplat/errors.h"
#include "winplat/types.h"

extern "C" {

WINPLAT_API void WINAPI GetSystemTimeAsFileTime(LPFILETIME lpSystemTimeAsFileTime);
WINPLAT_API void WINAPI GetSystemTime(LPSYSTEMTIME lpSystemTime);
// Local time of the process's time zone (TZ).
WINPLAT_API void WINAPI GetLocalTime(LPSYSTEMTIME lpSystemTime);
// Fails with ERROR_INVALID_PARAMETER for a value of 0x8000000000000000 or
// more, or a null argument. Fills every field, wDayOfWeek included.
WINPLAT_API BOOL WINAPI FileTimeToSystemTime(const FILETIME* lpFileTime, LPSYSTEMTIME lpSystemTime);
// wDayOfWeek is ignored. Fails with ERROR_INVALID_PARAMETER unless the year
// is 1601..30827 and every other field is in range for its date.
WINPLAT_API BOOL WINAPI SystemTimeToFileTime(const SYSTEMTIME* lpSystemTime, LPFILETIME lpFileTime);
// Milliseconds since the system started; the 32-bit form wraps.
WINPLAT_API DWORD WINAPI GetTickCount();
WINPLAT_API ULONGLONG WINAPI GetTickCount64();

}  // extern "C"
