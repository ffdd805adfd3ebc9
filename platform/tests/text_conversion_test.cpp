#include <gtest/gtest.h>

#include <string>

#include "winplat/inject.h"
#include "winplat/kernel.h"
#include "winplat/text.h"

namespace {

std::wstring toWide(UINT cp, const std::string& bytes, DWORD flags = 0) {
    const int n = MultiByteToWideChar(cp, flags, bytes.data(), static_cast<int>(bytes.size()), nullptr, 0);
    if (n == 0) {
        return L"<fail>";
    }
    std::wstring out(static_cast<size_t>(n), L'\0');
    EXPECT_EQ(MultiByteToWideChar(cp, flags, bytes.data(), static_cast<int>(bytes.size()), out.data(), n), n);
    return out;
}

std::string toBytes(UINT cp, const std::wstring& text, BOOL* usedDefault = nullptr,
                    const char* defaultChar = nullptr, DWORD flags = 0) {
    const int n = WideCharToMultiByte(cp, flags, text.data(), static_cast<int>(text.size()), nullptr, 0,
                                      defaultChar, usedDefault);
    if (n == 0) {
        return "<fail>";
    }
    std::string out(static_cast<size_t>(n), '\0');
    EXPECT_EQ(WideCharToMultiByte(cp, flags, text.data(), static_cast<int>(text.size()), out.data(), n,
                                  defaultChar, usedDefault),
              n);
    return out;
}

TEST(TextConversion, AnsiIsWindows1252WithEveryByteMappedBothWays) {
    std::string all;
    for (int b = 1; b < 256; ++b) {
        all.push_back(static_cast<char>(b));
    }
    const std::wstring wide = toWide(CP_ACP, all);
    ASSERT_EQ(wide.size(), 255u);
    for (wchar_t c : wide) {
        EXPECT_GT(c, 0);
        EXPECT_LE(c, 0xFFFF);
    }
    EXPECT_EQ(wide[0x80 - 1], 0x20AC);
    EXPECT_EQ(wide[0x9F - 1], 0x0178);
    EXPECT_EQ(wide[0xE9 - 1], 0x00E9);  // sign of char does not leak into the unit
    EXPECT_EQ(wide[0xFF - 1], 0x00FF);
    // The five bytes 1252 leaves undefined map to the same code points.
    for (int b : {0x81, 0x8D, 0x8F, 0x90, 0x9D}) {
        EXPECT_EQ(wide[static_cast<size_t>(b - 1)], b) << b;
    }
    BOOL used = TRUE;
    EXPECT_EQ(toBytes(CP_ACP, wide, &used), all);
    EXPECT_FALSE(used);
    EXPECT_EQ(toWide(1252, all), wide);
}

TEST(TextConversion, AnsiUnmappableBecomesDefaultCharacterPerUnit) {
    BOOL used = FALSE;
    EXPECT_EQ(toBytes(CP_ACP, L"a\u0416b", &used), "a?b");
    EXPECT_TRUE(used);
    // A C1 control other than the five, and each half of a surrogate pair.
    EXPECT_EQ(toBytes(CP_ACP, L"\u0080x\xD83D\xDE00", &used), "?x??");
    EXPECT_TRUE(used);
    EXPECT_EQ(toBytes(CP_ACP, L"\u20ACz", &used, "*"), "\x80z");
    EXPECT_FALSE(used);
    EXPECT_EQ(toBytes(CP_ACP, L"\u0416", &used, "*"), "*");
    EXPECT_TRUE(used);
    // Bits above the 16-bit unit are ignored.
    const std::wstring masked(1, static_cast<wchar_t>(0x10041));
    EXPECT_EQ(toBytes(CP_ACP, masked), "A");
}

TEST(TextConversion, Utf8RoundTripAndSurrogatePairs) {
    const std::string utf8 = "h\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80";
    const std::wstring wide = toWide(CP_UTF8, utf8);
    EXPECT_EQ(wide, std::wstring(L"h\u00E9\u20AC\xD83D\xDE00"));
    EXPECT_EQ(toBytes(CP_UTF8, wide), utf8);
    EXPECT_EQ(toWide(CP_UTF8, utf8, MB_ERR_INVALID_CHARS), wide);
    EXPECT_EQ(toBytes(CP_UTF8, wide, nullptr, nullptr, WC_ERR_INVALID_CHARS), utf8);
}

TEST(TextConversion, Utf8BadInputBecomesReplacementOrIsRefused) {
    EXPECT_EQ(toWide(CP_UTF8,
                     "a\xFF"
                     "b"),
              L"a\uFFFD"
              L"b");
    EXPECT_EQ(toWide(CP_UTF8, "a\xE2\x82"), L"a\uFFFD");
    EXPECT_EQ(toWide(CP_UTF8, "\xED\xA0\x80x").back(), L'x');  // an encoded surrogate is refused
    EXPECT_EQ(toWide(CP_UTF8, "\xED\xA0\x80x").front(), 0xFFFD);
    // A real U+FFFD in the input is not an error.
    EXPECT_EQ(toWide(CP_UTF8, "\xEF\xBF\xBD", MB_ERR_INVALID_CHARS), L"\uFFFD");

    SetLastError(0);
    const char bad[] = "a\xFF";
    wchar_t out[8] = {};
    EXPECT_EQ(MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, bad, 2, out, 8), 0);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NO_UNICODE_TRANSLATION));

    const std::wstring lone = L"x\xDC00y";
    EXPECT_EQ(toBytes(CP_UTF8, lone), "x\xEF\xBF\xBDy");
    SetLastError(0);
    char narrow[8] = {};
    EXPECT_EQ(WideCharToMultiByte(CP_UTF8, WC_ERR_INVALID_CHARS, lone.data(), 3, narrow, 8, nullptr, nullptr),
              0);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NO_UNICODE_TRANSLATION));
}

TEST(TextConversion, SizesTerminatorAndShortBuffers) {
    wchar_t wide[8];
    // -1 counts and converts the terminator.
    EXPECT_EQ(MultiByteToWideChar(CP_ACP, 0, "abc", -1, nullptr, 0), 4);
    std::fill(std::begin(wide), std::end(wide), L'#');
    EXPECT_EQ(MultiByteToWideChar(CP_ACP, 0, "abc", -1, wide, 4), 4);
    EXPECT_EQ(std::wstring(wide), L"abc");
    // An explicit count converts exactly that, no terminator.
    std::fill(std::begin(wide), std::end(wide), L'#');
    EXPECT_EQ(MultiByteToWideChar(CP_UTF8, 0, "abc", 3, wide, 8), 3);
    EXPECT_EQ(wide[3], L'#');

    SetLastError(0);
    EXPECT_EQ(MultiByteToWideChar(CP_ACP, 0, "abc", -1, wide, 3), 0);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));

    char narrow[8];
    EXPECT_EQ(WideCharToMultiByte(CP_UTF8, 0, L"\u00E9", -1, nullptr, 0, nullptr, nullptr), 3);
    SetLastError(0);
    EXPECT_EQ(WideCharToMultiByte(CP_UTF8, 0, L"\u00E9", -1, narrow, 2, nullptr, nullptr), 0);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
    EXPECT_EQ(WideCharToMultiByte(CP_UTF8, 0, L"\u00E9", -1, narrow, 3, nullptr, nullptr), 3);
    EXPECT_STREQ(narrow, "\xC3\xA9");
}

TEST(TextConversion, RefusedArgumentsCodePagesAndFlags) {
    wchar_t wide[8];
    char narrow[8];
    struct Case {
        int result;
        DWORD error;
    };
    auto mb = [&](UINT cp, DWORD flags, const char* s, int n, wchar_t* out, int size) {
        SetLastError(0);
        const int r = MultiByteToWideChar(cp, flags, s, n, out, size);
        return Case{r, GetLastError()};
    };
    auto wc = [&](UINT cp, DWORD flags, const wchar_t* s, int n, char* out, int size, LPCSTR def,
                  LPBOOL used) {
        SetLastError(0);
        const int r = WideCharToMultiByte(cp, flags, s, n, out, size, def, used);
        return Case{r, GetLastError()};
    };
    const DWORD param = ERROR_INVALID_PARAMETER;
    const DWORD flags = ERROR_INVALID_FLAGS;
    for (const Case& c :
         {mb(CP_ACP, 0, nullptr, 1, wide, 8), mb(CP_ACP, 0, "a", 0, wide, 8), mb(CP_ACP, 0, "a", -2, wide, 8),
          mb(CP_ACP, 0, "a", 1, nullptr, 8), mb(CP_ACP, 0, "a", 1, wide, -1), mb(12345, 0, "a", 1, wide, 8),
          mb(1200, 0, "a", 1, wide, 8), wc(CP_ACP, 0, nullptr, 1, narrow, 8, nullptr, nullptr),
          wc(CP_ACP, 0, L"a", 0, narrow, 8, nullptr, nullptr),
          wc(CP_ACP, 0, L"a", 1, nullptr, 8, nullptr, nullptr),
          wc(12345, 0, L"a", 1, narrow, 8, nullptr, nullptr),
          wc(CP_UTF8, 0, L"a", 1, narrow, 8, "?", nullptr)}) {
        EXPECT_EQ(c.result, 0);
        EXPECT_EQ(c.error, param);
    }
    BOOL used = FALSE;
    const Case usedOnUtf8 = wc(CP_UTF8, 0, L"a", 1, narrow, 8, nullptr, &used);
    EXPECT_EQ(usedOnUtf8.result, 0);
    EXPECT_EQ(usedOnUtf8.error, param);
    for (const Case& c :
         {mb(CP_UTF8, MB_PRECOMPOSED, "a", 1, wide, 8), mb(CP_ACP, MB_COMPOSITE, "a", 1, wide, 8),
          wc(CP_ACP, WC_ERR_INVALID_CHARS, L"a", 1, narrow, 8, nullptr, nullptr),
          wc(CP_UTF8, WC_NO_BEST_FIT_CHARS, L"a", 1, narrow, 8, nullptr, nullptr)}) {
        EXPECT_EQ(c.result, 0);
        EXPECT_EQ(c.error, flags);
    }
}

TEST(TextConversion, NumberedCodePagesThroughIconv) {
    EXPECT_EQ(toWide(1251, "\xC0\xE1"), L"\u0410\u0431");
    EXPECT_EQ(toBytes(1251, L"\u0410\u0431"), "\xC0\xE1");
    BOOL used = FALSE;
    EXPECT_EQ(toBytes(1251, L"x\u00E9", &used), "x?");
    EXPECT_TRUE(used);

    EXPECT_EQ(toWide(932, "a\x82\xA0"), L"a\u3042");
    EXPECT_EQ(toBytes(932, L"a\u3042", &used), "a\x82\xA0");
    EXPECT_FALSE(used);
    // A cut double-byte character: '?' with flags 0, refused when strict.
    EXPECT_EQ(toWide(932, "a\x82"), L"a?");
    SetLastError(0);
    wchar_t wide[4];
    EXPECT_EQ(MultiByteToWideChar(932, MB_ERR_INVALID_CHARS, "a\x82", 2, wide, 4), 0);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NO_UNICODE_TRANSLATION));

    // EBCDIC pages under their IBM numbers.
    EXPECT_EQ(toWide(37, "\xC1\xC2"), L"AB");
    EXPECT_EQ(toWide(20273, "\x4A"), L"\u00C4");
    EXPECT_EQ(toBytes(20273, L"\u00C4A"), "\x4A\xC1");

    // Pages the C library lacks come from the platform's own converters.
    EXPECT_EQ(toWide(CP_MACCP, "\xC6\xF0"), L"\u2206\uF8FF");
    EXPECT_EQ(toBytes(10006, L"\u0394x", &used), "\xA2x");
    EXPECT_FALSE(used);
    EXPECT_EQ(toWide(52936, "a~{VP~}"), L"a\u4E2D");
    // The default character follows a return to ASCII.
    EXPECT_EQ(toBytes(52936, L"\u4E2D\u20AC", &used), "~{VP~}?");
    EXPECT_TRUE(used);

    // The OEM page is 437.
    EXPECT_EQ(toWide(CP_OEMCP, "\x82\x9B"), L"\u00E9\u00A2");
    EXPECT_EQ(toBytes(CP_OEMCP, L"\u00E9"), "\x82");
}

TEST(TextConversion, InjectedFailureSetsLastError) {
    winplat::inject::Scope scope;
    winplat::inject::arm("MultiByteToWideChar", ERROR_OUTOFMEMORY);
    wchar_t wide[4];
    SetLastError(0);
    EXPECT_EQ(MultiByteToWideChar(CP_ACP, 0, "a", -1, wide, 4), 0);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_OUTOFMEMORY));
    EXPECT_EQ(MultiByteToWideChar(CP_ACP, 0, "a", -1, wide, 4), 2);

    winplat::inject::arm("WideCharToMultiByte", ERROR_INVALID_FLAGS);
    char narrow[4];
    EXPECT_EQ(WideCharToMultiByte(CP_ACP, 0, L"a", -1, narrow, 4, nullptr, nullptr), 0);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_FLAGS));
}

TEST(TextCompare, OrdinalWithAndWithoutCase) {
    EXPECT_EQ(CompareStringW(LOCALE_USER_DEFAULT, NORM_IGNORECASE, L"ABC", -1, L"abc", -1), CSTR_EQUAL);
    EXPECT_EQ(CompareStringW(LOCALE_USER_DEFAULT, 0, L"ABC", -1, L"abc", -1), CSTR_LESS_THAN);
    EXPECT_EQ(CompareStringW(LOCALE_USER_DEFAULT, NORM_IGNORECASE, L"abc", -1, L"ABD", -1), CSTR_LESS_THAN);
    EXPECT_EQ(CompareStringW(LOCALE_USER_DEFAULT, NORM_IGNORECASE, L"abc", -1, L"ab", -1), CSTR_GREATER_THAN);
    EXPECT_EQ(CompareStringW(LOCALE_USER_DEFAULT, NORM_IGNORECASE, L"\u00E9\u0436", -1, L"\u00C9\u0416", -1),
              CSTR_EQUAL);
    // Units compare unsigned: non-ASCII orders after ASCII.
    EXPECT_EQ(CompareStringW(LOCALE_USER_DEFAULT, 0, L"\u00E9", -1, L"z", -1), CSTR_GREATER_THAN);
    // Counts compare exactly that many units, a NUL included.
    EXPECT_EQ(CompareStringW(LOCALE_USER_DEFAULT, 0, L"abcX", 3, L"abcY", 3), CSTR_EQUAL);
    EXPECT_EQ(CompareStringW(LOCALE_USER_DEFAULT, 0, L"ab\0c", 4, L"ab\0d", 4), CSTR_LESS_THAN);
    EXPECT_EQ(CompareStringW(LOCALE_USER_DEFAULT, 0, L"ab", 2, L"abc", -1), CSTR_LESS_THAN);
    EXPECT_EQ(CompareStringW(LOCALE_USER_DEFAULT, 0, L"", 0, L"", -1), CSTR_EQUAL);

    EXPECT_EQ(CompareStringA(LOCALE_USER_DEFAULT, NORM_IGNORECASE, "\xE9t\xE9", -1, "\xC9T\xC9", -1),
              CSTR_EQUAL);
    EXPECT_EQ(CompareStringA(LOCALE_USER_DEFAULT, 0, "\x80", -1, "z", -1), CSTR_GREATER_THAN);
    EXPECT_EQ(CompareStringA(LOCALE_USER_DEFAULT, NORM_IGNORECASE, "abcd", 2, "ABxx", 2), CSTR_EQUAL);

    EXPECT_LT(lstrcmpiW(L"alpha", L"BETA"), 0);
    EXPECT_EQ(lstrcmpiW(L"Gamma", L"gAMMA"), 0);
    EXPECT_GT(lstrcmpiA("delta", "ALPHA"), 0);
    EXPECT_LT(lstrcmpiW(nullptr, L"x"), 0);
    EXPECT_GT(lstrcmpiA("x", nullptr), 0);
    EXPECT_EQ(lstrcmpiW(nullptr, nullptr), 0);
}

TEST(TextCompare, FailuresGiveZeroAndLastError) {
    SetLastError(0);
    EXPECT_EQ(CompareStringW(LOCALE_USER_DEFAULT, 0, nullptr, -1, L"a", -1), 0);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
    SetLastError(0);
    EXPECT_EQ(CompareStringA(LOCALE_USER_DEFAULT, 0x40000000, "a", -1, "a", -1), 0);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_FLAGS));

    winplat::inject::Scope scope;
    winplat::inject::arm("CompareStringW", ERROR_OUTOFMEMORY);
    SetLastError(0);
    EXPECT_EQ(CompareStringW(LOCALE_USER_DEFAULT, 0, L"a", -1, L"a", -1), 0);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_OUTOFMEMORY));
}

TEST(TextCase, WideBuffersMapUnicodeInPlaceWithinCount) {
    std::wstring s = L"abc\u00E9\u0436\u00DF\xD83D\xDE00xyz";
    EXPECT_EQ(CharUpperBuffW(s.data(), 9), 9u);
    EXPECT_EQ(s, std::wstring(L"ABC\u00C9\u0416\u00DF\xD83D\xDE00Xyz"));
    EXPECT_EQ(CharLowerBuffW(s.data(), static_cast<DWORD>(s.size())), s.size());
    EXPECT_EQ(s, std::wstring(L"abc\u00E9\u0436\u00DF\xD83D\xDE00xyz"));
    EXPECT_EQ(CharUpperBuffW(nullptr, 3), 0u);
    std::wstring y = L"\u00FF";
    CharUpperBuffW(y.data(), 1);
    EXPECT_EQ(y[0], 0x0178);
}

TEST(TextCase, AnsiBuffersMapThroughTheAnsiPage) {
    std::string s = "ab\xE9\xFF\x9A\xB5\xDF";
    EXPECT_EQ(CharUpperBuffA(s.data(), static_cast<DWORD>(s.size())), s.size());
    // y-diaeresis and s-caron have capitals in 1252; micro sign and sharp s do not.
    EXPECT_EQ(s, "AB\xC9\x9F\x8A\xB5\xDF");
    EXPECT_EQ(CharLowerBuffA(s.data(), 2), 2u);
    EXPECT_EQ(s, "ab\xC9\x9F\x8A\xB5\xDF");
    CharLowerBuffA(s.data(), static_cast<DWORD>(s.size()));
    EXPECT_EQ(s, "ab\xE9\xFF\x9A\xB5\xDF");
}

}  // namespace
