// Code-page conversion, ordinal string comparison and case mapping.
//
// CP_ACP is Windows-1252 on this platform (a built-in table, so results never
// depend on the host's locale or iconv build); CP_OEMCP is code page 437.
// CP_UTF8 uses the project's own UTF-8 codec; other numbered code pages go
// through the converters of winplat/converter.h. Sizes are counted in characters (WCHAR units or bytes) as on
// Windows; a length of -1 counts the terminator; an output size of 0 asks for
// the size needed.
#pragma once

#include "winplat/types.h"

#define CP_ACP 0
#define CP_OEMCP 1
#define CP_MACCP 2
#define CP_THREAD_ACP 3
#define CP_UTF7 65000
#define CP_UTF8 65001

#define MB_PRECOMPOSED 0x00000001
#define MB_COMPOSITE 0x00000002
#define MB_USEGLYPHCHARS 0x00000004
#define MB_ERR_INVALID_CHARS 0x00000008

#define WC_COMPOSITECHECK 0x00000200
#define WC_DISCARDNS 0x00000010
#define WC_SEPCHARS 0x00000020
#define WC_DEFAULTCHAR 0x00000040
#define WC_ERR_INVALID_CHARS 0x00000080
#define WC_NO_BEST_FIT_CHARS 0x00000400

#define NORM_IGNORECASE 0x00000001
#define SORT_STRINGSORT 0x00001000

#define CSTR_LESS_THAN 1
#define CSTR_EQUAL 2
#define CSTR_GREATER_THAN 3

#define LOCALE_SYSTEM_DEFAULT 0x0800
#define LOCALE_USER_DEFAULT 0x0400
#define LOCALE_INVARIANT 0x007F
#define LOCALE_NEUTRAL 0x0000

typedef const WCHAR* PCNZWCH;
typedef const CHAR* PCNZCH;

extern "C" {

// Flags 0 behaves as on Windows: bytes that cannot be decoded become U+FFFD
// (UTF-8) or '?' (other pages); MB_ERR_INVALID_CHARS refuses them instead with
// ERROR_NO_UNICODE_TRANSLATION. An unknown code page gives
// ERROR_INVALID_PARAMETER, a short buffer ERROR_INSUFFICIENT_BUFFER.
WINPLAT_API int WINAPI MultiByteToWideChar(UINT CodePage, DWORD dwFlags, LPCSTR lpMultiByteStr,
                                           int cbMultiByte, LPWSTR lpWideCharStr, int cchWideChar);
// Characters the page cannot hold become lpDefaultChar's first byte, or '?',
// and *lpUsedDefaultChar says whether that happened. No best-fit mapping is
// made. For CP_UTF8 both default-character arguments must be null; lone
// surrogates become U+FFFD unless WC_ERR_INVALID_CHARS is given.
WINPLAT_API int WINAPI WideCharToMultiByte(UINT CodePage, DWORD dwFlags, LPCWSTR lpWideCharStr,
                                           int cchWideChar, LPSTR lpMultiByteStr, int cbMultiByte,
                                           LPCSTR lpDefaultChar, LPBOOL lpUsedDefaultChar);

// Locale-insensitive: UTF-16 units compare as unsigned 16-bit values; with
// NORM_IGNORECASE both sides are upper-cased first. A negative count means
// NUL-terminated; a count compares exactly that many units. Returns
// CSTR_LESS_THAN, CSTR_EQUAL, CSTR_GREATER_THAN, or 0 with the last error set.
// The A form compares the texts decoded from the ANSI code page.
WINPLAT_API int WINAPI CompareStringW(LCID Locale, DWORD dwCmpFlags, PCNZWCH lpString1, int cchCount1,
                                      PCNZWCH lpString2, int cchCount2);
WINPLAT_API int WINAPI CompareStringA(LCID Locale, DWORD dwCmpFlags, PCNZCH lpString1, int cchCount1,
                                      PCNZCH lpString2, int cchCount2);

// Case-insensitive compare of NUL-terminated texts: negative, 0 or positive.
// A null text orders before any other.
WINPLAT_API int WINAPI lstrcmpiW(LPCWSTR lpString1, LPCWSTR lpString2);
WINPLAT_API int WINAPI lstrcmpiA(LPCSTR lpString1, LPCSTR lpString2);

// In-place case mapping of `cchLength` characters; returns the number
// processed. The A forms map through the ANSI code page: a byte whose mapped
// character the page cannot hold stays as it was.
WINPLAT_API DWORD WINAPI CharLowerBuffW(LPWSTR lpsz, DWORD cchLength);
WINPLAT_API DWORD WINAPI CharUpperBuffW(LPWSTR lpsz, DWORD cchLength);
WINPLAT_API DWORD WINAPI CharLowerBuffA(LPSTR lpsz, DWORD cchLength);
WINPLAT_API DWORD WINAPI CharUpperBuffA(LPSTR lpsz, DWORD cchLength);

}  // extern "C"

namespace winplat::text {

// Simple (one-to-one) Unicode case mapping of one UTF-16 unit; surrogates
// and units without a mapping come back unchanged.
WINPLAT_API WCHAR toUpper(WCHAR c);
WINPLAT_API WCHAR toLower(WCHAR c);

}  // namespace winplat::text
