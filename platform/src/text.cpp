// Code-page conversion, ordinal comparison and case mapping.
#include "winplat/text.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <iterator>
#include <map>
#include <mutex>
#include <string>
#include <string_view>

#include "inject_internal.h"
#include "kinternal.h"
#include "text_casemap.h"
#include "winplat/converter.h"
#include "winplat/errors.h"
#include "winplat/inject.h"
#include "winplat/kernel.h"
#include "winplat/utf16.h"

namespace {

using winplat::text::detail::CaseRun;
using winplat::text::detail::kLowerRuns;
using winplat::text::detail::kUpperRuns;

constexpr UINT kAnsiCodePage = 1252;
constexpr UINT kOemCodePage = 437;
constexpr UINT kMacCodePage = 10000;

// Windows-1252, bytes 0x80-0x9F. The five bytes the page leaves undefined map
// to the C1 control of the same value, as Windows converts them.
constexpr uint16_t k1252High[32] = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178,
};

uint16_t decode1252(unsigned char b) {
    return (b >= 0x80 && b < 0xA0) ? k1252High[b - 0x80] : b;
}

// -1 when the page has no byte for the unit.
int encode1252(uint16_t u) {
    if (u < 0x80 || (u >= 0xA0 && u <= 0xFF)) {
        return u;
    }
    for (int i = 0; i < 32; ++i) {
        if (k1252High[i] == u) {
            return 0x80 + i;
        }
    }
    return -1;
}

uint16_t unit(WCHAR c) {
    return static_cast<uint16_t>(static_cast<uint32_t>(c) & 0xFFFF);
}

uint16_t mapCase(uint16_t c, const CaseRun* begin, const CaseRun* end) {
    const CaseRun* it =
        std::upper_bound(begin, end, c, [](uint16_t v, const CaseRun& r) { return v < r.start; });
    if (it == begin) {
        return c;
    }
    --it;
    const uint32_t off = c - it->start;
    if (off % it->stride != 0 || off / it->stride >= it->count) {
        return c;
    }
    return static_cast<uint16_t>(static_cast<int32_t>(c) + it->delta);
}

uint16_t upper16(uint16_t c) {
    return mapCase(c, std::begin(kUpperRuns), std::end(kUpperRuns));
}

uint16_t lower16(uint16_t c) {
    return mapCase(c, std::begin(kLowerRuns), std::end(kLowerRuns));
}

enum class Page { Ansi1252, Utf8, Iconv, Invalid };

struct PageInfo {
    Page kind = Page::Invalid;
    std::string iconvName;
};

bool iconvKnows(const std::string& name) {
    return winplat::Converter("UTF-16LE", name.c_str()).ok();
}

// The converter name of a Windows code page; "" when there is none.
std::string iconvNameOf(UINT cp) {
    switch (cp) {
        case 20127:
            return "ANSI_X3.4-1968";
        case 20866:
            return "KOI8-R";
        case 21866:
            return "KOI8-U";
        case 20932:
        case 51932:
            return "EUC-JP";
        case 51949:
            return "EUC-KR";
        case 51936:
            return "EUC-CN";
        case 54936:
            return "GB18030";
        case 50220:
        case 50221:
        case 50222:
            return "ISO-2022-JP";
        case 50225:
            return "ISO-2022-KR";
        case 65000:
            return "UTF-7";
        case 52936:
            return "HZ-GB-2312";
        case 10000:
            return "MACROMAN";
        case 10004:
            return "MACARABIC";
        case 10006:
            return "MACGREEK";
        case 10007:
            return "MAC-CYRILLIC";
        case 10010:
            return "MACROMANIA";
        case 10017:
            return "MACUKRAINE";
        case 10029:
            return "MACCENTRALEUROPE";
        case 10079:
            return "MACICELAND";
        case 10081:
            return "MACTURKISH";
        case 10082:
            return "MACCROATIAN";
        case 20924:
            return "IBM1047";
        case 28603:
            return "ISO-8859-13";
        case 28605:
            return "ISO-8859-15";
        default:
            break;
    }
    if (cp >= 28591 && cp <= 28599) {
        return "ISO-8859-" + std::to_string(cp - 28590);
    }
    // Most pages are "CPnnn" (three digits at least); the EBCDIC pages
    // 20xxx are IBM's numbers.
    char name[32];
    std::snprintf(name, sizeof(name), "CP%03u", cp);
    if (iconvKnows(name)) {
        return name;
    }
    std::snprintf(name, sizeof(name), "IBM%03u", cp >= 20000 && cp < 30000 ? cp - 20000 : cp);
    if (iconvKnows(name)) {
        return name;
    }
    return {};
}

PageInfo pageOf(UINT cp) {
    if (cp == CP_ACP || cp == CP_THREAD_ACP || cp == kAnsiCodePage) {
        return {Page::Ansi1252, {}};
    }
    if (cp == CP_UTF8) {
        return {Page::Utf8, {}};
    }
    if (cp == CP_OEMCP) {
        cp = kOemCodePage;
    } else if (cp == CP_MACCP) {
        cp = kMacCodePage;
    }
    // UTF-16 and UTF-32 "code pages" are not byte encodings for these calls.
    if (cp == 1200 || cp == 1201 || cp == 12000 || cp == 12001 || cp < 37) {
        return {};
    }
    // Finding a converter opens a few; remember the answer per code page.
    static winplat::kernel::PlatformLock mutex;
    static std::map<UINT, std::string> known;
    winplat::kernel::PlatformGuard lock(mutex);
    auto it = known.find(cp);
    if (it == known.end()) {
        std::string name = iconvNameOf(cp);
        if (!name.empty() && !iconvKnows(name)) {
            name.clear();
        }
        it = known.emplace(cp, std::move(name)).first;
    }
    if (it->second.empty()) {
        return {};
    }
    return {Page::Iconv, it->second};
}

struct Iconv {
    winplat::kernel::CriticalScope scope;  // the C library locks its converter tables
    winplat::Converter cd;
    explicit Iconv(const std::string& to, const std::string& from) : cd(to.c_str(), from.c_str()) {}
    bool ok() const { return cd.ok(); }
};

// Runs iconv over all of `in`, appending to `out`, then returns the shift
// state to its initial form. `onBad` is called at an undecodable or cut
// sequence; it may append a replacement and returns how many input bytes to
// skip (0: give up, and runIconv returns false).
template <typename OnBad>
bool runIconv(Iconv& conv, const char* in, size_t inLen, std::string& out, OnBad onBad) {
    char* inPtr = const_cast<char*>(in);
    size_t inLeft = inLen;
    char buffer[4096];
    while (inLeft > 0) {
        char* outPtr = buffer;
        size_t outLeft = sizeof(buffer);
        const size_t r = conv.cd.convert(&inPtr, &inLeft, &outPtr, &outLeft);
        const int err = errno;
        out.append(buffer, static_cast<size_t>(outPtr - buffer));
        if (r != static_cast<size_t>(-1) || err == E2BIG) {
            continue;
        }
        const size_t skip = std::min(onBad(out), inLeft);
        if (skip == 0) {
            return false;
        }
        inPtr += skip;
        inLeft -= skip;
    }
    while (true) {
        char* outPtr = buffer;
        size_t outLeft = sizeof(buffer);
        const size_t r = conv.cd.convert(nullptr, nullptr, &outPtr, &outLeft);
        const int err = errno;
        out.append(buffer, static_cast<size_t>(outPtr - buffer));
        if (r != static_cast<size_t>(-1) || err != E2BIG) {
            return true;
        }
    }
}

int fail(DWORD error) {
    SetLastError(error);
    return 0;
}

// Copies a finished conversion to the caller's buffer, Windows style.
template <typename Char, typename Src>
int deliver(const Src& result, Char* out, int outSize) {
    if (result.size() > 0x7FFFFFFF) {
        return fail(ERROR_INSUFFICIENT_BUFFER);
    }
    const int n = static_cast<int>(result.size());
    if (outSize == 0) {
        return n;
    }
    if (n > outSize) {
        return fail(ERROR_INSUFFICIENT_BUFFER);
    }
    std::copy(result.begin(), result.end(), out);
    return n;
}

using winplat::detail::injected;

// Decodes `len` bytes of `cp` into UTF-16 units. Sets the last error and
// returns false on failure.
bool decode(const PageInfo& page, DWORD flags, const char* text, size_t len, std::wstring& out) {
    const bool strict = (flags & MB_ERR_INVALID_CHARS) != 0;
    switch (page.kind) {
        case Page::Ansi1252:
            out.resize(len);
            for (size_t i = 0; i < len; ++i) {
                out[i] = static_cast<WCHAR>(decode1252(static_cast<unsigned char>(text[i])));
            }
            return true;
        case Page::Utf8: {
            const std::string_view in(text, len);
            out = winplat::utf8ToUtf16(in);
            // Valid UTF-8 is exactly what survives the round trip unchanged.
            if (strict && winplat::utf16ToUtf8(out) != in) {
                SetLastError(ERROR_NO_UNICODE_TRANSLATION);
                return false;
            }
            return true;
        }
        case Page::Iconv: {
            Iconv conv("UTF-16LE", page.iconvName);
            if (!conv.ok()) {
                SetLastError(ERROR_INVALID_PARAMETER);
                return false;
            }
            std::string bytes;
            const bool ok = runIconv(conv, text, len, bytes, [&](std::string& o) -> size_t {
                if (strict) {
                    return 0;
                }
                o.append("?\0", 2);
                return 1;
            });
            if (!ok) {
                SetLastError(ERROR_NO_UNICODE_TRANSLATION);
                return false;
            }
            out = winplat::bytesToWide(bytes.data(), bytes.size());
            return true;
        }
        case Page::Invalid:
            break;
    }
    SetLastError(ERROR_INVALID_PARAMETER);
    return false;
}

}  // namespace

namespace winplat::text {

WCHAR toUpper(WCHAR c) {
    const uint32_t v = static_cast<uint32_t>(c);
    return v > 0xFFFF ? c : static_cast<WCHAR>(upper16(static_cast<uint16_t>(v)));
}

WCHAR toLower(WCHAR c) {
    const uint32_t v = static_cast<uint32_t>(c);
    return v > 0xFFFF ? c : static_cast<WCHAR>(lower16(static_cast<uint16_t>(v)));
}

}  // namespace winplat::text

extern "C" {

int WINAPI MultiByteToWideChar(UINT CodePage, DWORD dwFlags, LPCSTR lpMultiByteStr, int cbMultiByte,
                               LPWSTR lpWideCharStr, int cchWideChar) {
    if (injected("MultiByteToWideChar")) {
        return 0;
    }
    if (lpMultiByteStr == nullptr || cbMultiByte == 0 || cbMultiByte < -1 || cchWideChar < 0 ||
        (cchWideChar > 0 && lpWideCharStr == nullptr)) {
        return fail(ERROR_INVALID_PARAMETER);
    }
    const PageInfo page = pageOf(CodePage);
    if (page.kind == Page::Invalid) {
        return fail(ERROR_INVALID_PARAMETER);
    }
    const DWORD allowed = page.kind == Page::Utf8 ? MB_ERR_INVALID_CHARS
                          : CodePage == CP_UTF7   ? 0
                                                  : (MB_PRECOMPOSED | MB_ERR_INVALID_CHARS);
    if ((dwFlags & ~allowed) != 0) {
        return fail(ERROR_INVALID_FLAGS);
    }
    const size_t len = cbMultiByte == -1 ? std::strlen(lpMultiByteStr) + 1 : static_cast<size_t>(cbMultiByte);
    std::wstring out;
    if (!decode(page, dwFlags, lpMultiByteStr, len, out)) {
        return 0;
    }
    return deliver(out, lpWideCharStr, cchWideChar);
}

int WINAPI WideCharToMultiByte(UINT CodePage, DWORD dwFlags, LPCWSTR lpWideCharStr, int cchWideChar,
                               LPSTR lpMultiByteStr, int cbMultiByte, LPCSTR lpDefaultChar,
                               LPBOOL lpUsedDefaultChar) {
    if (injected("WideCharToMultiByte")) {
        return 0;
    }
    if (lpWideCharStr == nullptr || cchWideChar == 0 || cchWideChar < -1 || cbMultiByte < 0 ||
        (cbMultiByte > 0 && lpMultiByteStr == nullptr)) {
        return fail(ERROR_INVALID_PARAMETER);
    }
    const PageInfo page = pageOf(CodePage);
    if (page.kind == Page::Invalid) {
        return fail(ERROR_INVALID_PARAMETER);
    }
    const bool utf = page.kind == Page::Utf8 || CodePage == CP_UTF7;
    if (utf && (lpDefaultChar != nullptr || lpUsedDefaultChar != nullptr)) {
        return fail(ERROR_INVALID_PARAMETER);
    }
    const DWORD allowed = page.kind == Page::Utf8 ? WC_ERR_INVALID_CHARS : (utf ? 0 : WC_NO_BEST_FIT_CHARS);
    if ((dwFlags & ~allowed) != 0) {
        return fail(ERROR_INVALID_FLAGS);
    }
    size_t len = 0;
    if (cchWideChar == -1) {
        while (lpWideCharStr[len] != 0) {
            ++len;
        }
        ++len;
    } else {
        len = static_cast<size_t>(cchWideChar);
    }
    const std::wstring_view in(lpWideCharStr, len);
    std::string defaultChar = "?";
    if (lpDefaultChar != nullptr && lpDefaultChar[0] != 0) {
        defaultChar.assign(lpDefaultChar, lpDefaultChar[1] != 0 ? 2 : 1);
    }
    bool usedDefault = false;
    std::string out;
    switch (page.kind) {
        case Page::Ansi1252:
            defaultChar.resize(1);
            out.resize(len);
            for (size_t i = 0; i < len; ++i) {
                const int b = encode1252(unit(in[i]));
                if (b < 0) {
                    usedDefault = true;
                    out[i] = defaultChar[0];
                } else {
                    out[i] = static_cast<char>(b);
                }
            }
            break;
        case Page::Utf8:
            if ((dwFlags & WC_ERR_INVALID_CHARS) != 0) {
                for (size_t i = 0; i < len; ++i) {
                    const uint16_t u = unit(in[i]);
                    if (u >= 0xD800 && u <= 0xDBFF && i + 1 < len && unit(in[i + 1]) >= 0xDC00 &&
                        unit(in[i + 1]) <= 0xDFFF) {
                        ++i;
                    } else if (u >= 0xD800 && u <= 0xDFFF) {
                        return fail(ERROR_NO_UNICODE_TRANSLATION);
                    }
                }
            }
            out = winplat::utf16ToUtf8(in);
            break;
        case Page::Iconv: {
            Iconv conv(page.iconvName, "UTF-16LE");
            if (!conv.ok()) {
                return fail(ERROR_INVALID_PARAMETER);
            }
            const std::string bytes = winplat::wideToBytes(in);
            const bool ok = runIconv(conv, bytes.data(), bytes.size(), out, [&](std::string& o) -> size_t {
                if (utf) {
                    return 0;
                }
                // Back to the initial shift state before the plain default byte.
                char reset[16];
                char* p = reset;
                size_t left = sizeof(reset);
                conv.cd.convert(nullptr, nullptr, &p, &left);
                o.append(reset, static_cast<size_t>(p - reset));
                o += defaultChar;
                usedDefault = true;
                return 2;
            });
            if (!ok) {
                return fail(ERROR_NO_UNICODE_TRANSLATION);
            }
            break;
        }
        case Page::Invalid:
            return fail(ERROR_INVALID_PARAMETER);
    }
    const int n = deliver(out, lpMultiByteStr, cbMultiByte);
    if (n > 0 && lpUsedDefaultChar != nullptr) {
        *lpUsedDefaultChar = usedDefault ? TRUE : FALSE;
    }
    return n;
}

}  // extern "C"

namespace {

constexpr DWORD kCompareFlags = NORM_IGNORECASE | SORT_STRINGSORT;

int compareUnits(DWORD flags, std::wstring_view a, std::wstring_view b) {
    const bool fold = (flags & NORM_IGNORECASE) != 0;
    const size_t n = std::min(a.size(), b.size());
    for (size_t i = 0; i < n; ++i) {
        uint16_t x = unit(a[i]);
        uint16_t y = unit(b[i]);
        if (fold) {
            x = upper16(x);
            y = upper16(y);
        }
        if (x != y) {
            return x < y ? CSTR_LESS_THAN : CSTR_GREATER_THAN;
        }
    }
    if (a.size() == b.size()) {
        return CSTR_EQUAL;
    }
    return a.size() < b.size() ? CSTR_LESS_THAN : CSTR_GREATER_THAN;
}

template <typename Char>
size_t measure(const Char* s, int count) {
    if (count >= 0) {
        return static_cast<size_t>(count);
    }
    size_t n = 0;
    while (s[n] != 0) {
        ++n;
    }
    return n;
}

std::wstring ansiToUnits(const char* s, size_t n) {
    std::wstring out(n, L'\0');
    for (size_t i = 0; i < n; ++i) {
        out[i] = static_cast<WCHAR>(decode1252(static_cast<unsigned char>(s[i])));
    }
    return out;
}

template <typename Map>
void mapAnsi(LPSTR s, DWORD n, Map map) {
    for (DWORD i = 0; i < n; ++i) {
        const uint16_t w = map(decode1252(static_cast<unsigned char>(s[i])));
        const int b = encode1252(w);
        if (b >= 0) {
            s[i] = static_cast<char>(b);
        }
    }
}

}  // namespace

extern "C" {

int WINAPI CompareStringW(LCID, DWORD dwCmpFlags, PCNZWCH lpString1, int cchCount1, PCNZWCH lpString2,
                          int cchCount2) {
    if (injected("CompareStringW")) {
        return 0;
    }
    if (lpString1 == nullptr || lpString2 == nullptr) {
        return fail(ERROR_INVALID_PARAMETER);
    }
    if ((dwCmpFlags & ~kCompareFlags) != 0) {
        return fail(ERROR_INVALID_FLAGS);
    }
    return compareUnits(dwCmpFlags, std::wstring_view(lpString1, measure(lpString1, cchCount1)),
                        std::wstring_view(lpString2, measure(lpString2, cchCount2)));
}

int WINAPI CompareStringA(LCID, DWORD dwCmpFlags, PCNZCH lpString1, int cchCount1, PCNZCH lpString2,
                          int cchCount2) {
    if (injected("CompareStringA")) {
        return 0;
    }
    if (lpString1 == nullptr || lpString2 == nullptr) {
        return fail(ERROR_INVALID_PARAMETER);
    }
    if ((dwCmpFlags & ~kCompareFlags) != 0) {
        return fail(ERROR_INVALID_FLAGS);
    }
    return compareUnits(dwCmpFlags, ansiToUnits(lpString1, measure(lpString1, cchCount1)),
                        ansiToUnits(lpString2, measure(lpString2, cchCount2)));
}

int WINAPI lstrcmpiW(LPCWSTR lpString1, LPCWSTR lpString2) {
    if (lpString1 == nullptr || lpString2 == nullptr) {
        return (lpString1 == nullptr ? 0 : 1) - (lpString2 == nullptr ? 0 : 1);
    }
    return CompareStringW(LOCALE_USER_DEFAULT, NORM_IGNORECASE, lpString1, -1, lpString2, -1) - CSTR_EQUAL;
}

int WINAPI lstrcmpiA(LPCSTR lpString1, LPCSTR lpString2) {
    if (lpString1 == nullptr || lpString2 == nullptr) {
        return (lpString1 == nullptr ? 0 : 1) - (lpString2 == nullptr ? 0 : 1);
    }
    return CompareStringA(LOCALE_USER_DEFAULT, NORM_IGNORECASE, lpString1, -1, lpString2, -1) - CSTR_EQUAL;
}

DWORD WINAPI CharLowerBuffW(LPWSTR lpsz, DWORD cchLength) {
    if (lpsz == nullptr) {
        return 0;
    }
    for (DWORD i = 0; i < cchLength; ++i) {
        lpsz[i] = winplat::text::toLower(lpsz[i]);
    }
    return cchLength;
}

DWORD WINAPI CharUpperBuffW(LPWSTR lpsz, DWORD cchLength) {
    if (lpsz == nullptr) {
        return 0;
    }
    for (DWORD i = 0; i < cchLength; ++i) {
        lpsz[i] = winplat::text::toUpper(lpsz[i]);
    }
    return cchLength;
}

DWORD WINAPI CharLowerBuffA(LPSTR lpsz, DWORD cchLength) {
    if (lpsz == nullptr) {
        return 0;
    }
    mapAnsi(lpsz, cchLength, lower16);
    return cchLength;
}

DWORD WINAPI CharUpperBuffA(LPSTR lpsz, DWORD cchLength) {
    if (lpsz == nullptr) {
        return 0;
    }
    mapAnsi(lpsz, cchLength, upper16);
    return cchLength;
}

}  // extern "C"
