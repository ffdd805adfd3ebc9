// OLE automation strings (BSTR) and dates.
//
// A BSTR points at its first character; the 32-bit word before it holds the
// length in bytes of the in-memory characters (SysStringLen() * sizeof(WCHAR)),
// and a NUL follows the last character. Live strings are counted for tests.
//
// OLE dates (DATE) count days from 1899-12-30; the fraction is the time of
// day, and for a negative date it counts forward from that day's start
// (-1.25 is 1899-12-29 06:00). Dates run from 100-01-01 to 9999-12-31.
#pragma once

#include "winplat/types.h"

extern "C" {

// Null text gives a null BSTR. Failures give null.
WINPLAT_API BSTR WINAPI SysAllocString(const OLECHAR* psz);
// `ui` characters from `strIn`, or zero-filled ones when it is null.
WINPLAT_API BSTR WINAPI SysAllocStringLen(const OLECHAR* strIn, UINT ui);
// Replaces *pbstr with a copy of psz (the old string is freed). FALSE on
// failure, leaving *pbstr as it was.
WINPLAT_API INT WINAPI SysReAllocString(BSTR* pbstr, const OLECHAR* psz);
WINPLAT_API void WINAPI SysFreeString(BSTR bstrString);
// Characters (not counting the NUL); 0 for null.
WINPLAT_API UINT WINAPI SysStringLen(BSTR pbstr);
// Bytes in memory, SysStringLen() * sizeof(WCHAR); 0 for null.
WINPLAT_API UINT WINAPI SysStringByteLen(BSTR bstr);

// Resolution is one second: milliseconds are ignored. FALSE for a month
// outside 1-12, a day above 31, an hour, minute or second out of range, or a
// year outside 100-9999. A day that the month lacks carries into the next
// month (February 30 is March 1 or 2), and day 0 is the previous month's
// last day. wDayOfWeek is ignored.
WINPLAT_API INT WINAPI SystemTimeToVariantTime(LPSYSTEMTIME lpSystemTime, DOUBLE* pvtime);
// Rounds to the nearest second (a half second, within the precision of the
// DATE, rounds up, away from the day's start); wMilliseconds is 0 and
// wDayOfWeek is filled in. FALSE outside
// 100-01-01 00:00:00 to 9999-12-31 23:59:59 and for NaN.
WINPLAT_API INT WINAPI VariantTimeToSystemTime(DOUBLE vtime, LPSYSTEMTIME lpSystemTime);

}  // extern "C"

namespace winplat::com {

// BSTRs allocated and not yet freed in this process.
WINPLAT_API int64_t liveBstrCount();

}  // namespace winplat::com
