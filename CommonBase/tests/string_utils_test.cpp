#include <gtest/gtest.h>

#include <stdexcept>
#include <string>

#include "CommonBase/StringUtils.h"
#include "winplat/inject.h"
#include "winplat/oleauto.h"
#include "winplat/windows.h"

TEST(StringUtils, WidenNarrowAndSizeCast) {
    EXPECT_EQ(widenBytes("\xE9"), std::wstring(1, static_cast<wchar_t>(0xE9)));
    EXPECT_EQ(widenBytes(std::string("a\0b", 3)), std::wstring(L"a\0b", 3));
    EXPECT_EQ(widenBytes(nullptr), L"");
    EXPECT_EQ(widenBytes("abc", 0), L"");
    EXPECT_EQ(narrowChars(std::wstring(1, static_cast<wchar_t>(0x0416))), "\x16");
    EXPECT_EQ(narrowChars(static_cast<const wchar_t*>(nullptr)), "");
    EXPECT_EQ(widenChar('\xE9'), static_cast<wchar_t>(-23));  // sign extension
    EXPECT_EQ(lowByte(0x12345678u), 0x78);
    EXPECT_EQ(makeWString(nullptr, 5), L"");
    EXPECT_EQ(makeWString(L"abcdef", 3), L"abc");
    EXPECT_EQ(safeStrlen(nullptr), 0u);
    EXPECT_EQ(safeWcslen(L"abc"), 3u);
    EXPECT_TRUE(isNonAsciiByte('\x80'));
    EXPECT_FALSE(isNonAsciiChar(L'\x7F'));
    EXPECT_TRUE(isNonAsciiChar(static_cast<wchar_t>(0x80)));

    EXPECT_EQ(size_cast(2147483647u), 2147483647);
    try {
        size_cast(2147483648u);
        FAIL() << "no overflow reported";
    } catch (const std::overflow_error& e) {
        EXPECT_STREQ(e.what(), "size_cast overflow");
    }
}

TEST(StringUtils, AnsiConversions) {
    // The ANSI page is Windows-1252: 0x80 is the euro sign, 0xE9 e-acute.
    EXPECT_EQ(ansiToWide("caf\xE9 \x80"), L"caf\u00e9 \u20ac");
    EXPECT_EQ(ansiToWide(std::string("ab\0cd", 5)), L"ab");  // up to the first NUL
    EXPECT_EQ(ansiToWide(""), L"");
    EXPECT_EQ(wideToAnsi(L"caf\u00e9 \u20ac"), "caf\xE9 \x80");
    EXPECT_EQ(wideToAnsi(L""), "");
    EXPECT_EQ(ansiToUtf8("caf\xE9", -1), "caf\xC3\xA9");
    EXPECT_EQ(ansiToUtf8(std::string("\x80")), "\xE2\x82\xAC");
    EXPECT_EQ(ansiToUtf8(nullptr, -1), "");
    EXPECT_EQ(ansiToUtf8WithBom(""), "");
    EXPECT_EQ(ansiToUtf8WithBom("a"),
              "\xEF\xBB\xBF"
              "a");
}

TEST(StringUtils, Utf8ConversionsAndSurrogates) {
    // U+1F600 is four bytes in UTF-8 and a surrogate pair in UTF-16.
    const std::wstring pair = {static_cast<wchar_t>(0xD83D), static_cast<wchar_t>(0xDE00)};
    EXPECT_EQ(utf8ToWide("\xF0\x9F\x98\x80"), pair);
    EXPECT_EQ(utf8ToWide(std::string("\xD0\x96x")), L"\u0416x");
    EXPECT_EQ(utf8ToWide("abc", 2), L"ab");
    EXPECT_EQ(utf8ToWide(static_cast<const char*>(nullptr)), L"");
    EXPECT_EQ(wideToUtf8(pair.c_str()), "\xF0\x9F\x98\x80");
    EXPECT_EQ(wideToUtf8(L"\u00e9", 0), "");
    EXPECT_EQ(wideToUtf8(nullptr, -1), "");
    EXPECT_EQ(wideToUtf8WithBom(L""), "\xEF\xBB\xBF");
    EXPECT_EQ(wideToUtf8WithBom(nullptr), "");
    EXPECT_EQ(wideToUtf8WithBom(L"\u0416"), "\xEF\xBB\xBF\xD0\x96");

    const char text[] = "x\xC3\xA9y";
    EXPECT_EQ(codePageToWide(text, text + 4, CP_UTF8), L"x\u00e9y");
    EXPECT_EQ(codePageToWide("\xE9", 28591, -1), L"\u00e9");
}

TEST(StringUtils, AppendKeepsTargetOnFailure) {
    std::wstring out = L"keep";
    appendCodePageText(out, "abc", 12345, -1);  // no such code page
    EXPECT_EQ(out, L"keep");
    appendCodePageText(out, "", CP_UTF8, -1);
    EXPECT_EQ(out, L"keep");
    appendCodePageText(out, "\xC3\xA9!", -1);
    EXPECT_EQ(out, L"keep\u00e9!");
    appendCodePageText(out, "zz", 1252, 1);
    EXPECT_EQ(out, L"keep\u00e9!z");
}

TEST(StringUtils, BomText) {
    EXPECT_EQ(bomTextToWide("\xEF\xBB\xBF"), L"");
    EXPECT_EQ(bomTextToWide("\xEF\xBB\xBF\xC3\xA9"), L"\u00e9");
    EXPECT_EQ(bomTextToWide(std::string("\xEF\xBB")), L"\u00ef\u00bb");  // two mark bytes: ANSI
    EXPECT_EQ(bomTextToWide("\xE9"), L"\u00e9");
    EXPECT_EQ(bomTextToWide(static_cast<const char*>(nullptr)), L"");
    EXPECT_EQ(bomTextToWide(std::string()), L"");
}

TEST(StringUtils, Utf8ToBstr) {
    EXPECT_EQ(utf8ToBstr(""), nullptr);
    BSTR b = utf8ToBstr("\xD0\x96z");
    ASSERT_NE(b, nullptr);
    EXPECT_EQ(SysStringLen(b), 2u);
    EXPECT_EQ(std::wstring(b), L"\u0416z");
    SysFreeString(b);
}

TEST(StringUtils, AsciiCaseAndCompare) {
    EXPECT_LT(asciiCompareNoCase("abc", "ABD"), 0);
    EXPECT_EQ(asciiCompareNoCase("abc", "ab"), 'c');
    EXPECT_EQ(asciiCompareNoCase("ABC", "abc"), 0);
    EXPECT_EQ(asciiCompareNoCase(nullptr, "x"), 0);
    EXPECT_EQ(asciiCompareNoCase("x", static_cast<const char*>(nullptr)), 0);
    EXPECT_LT(asciiCompareNoCase("\xE9", "a"), 0);      // high bytes order first
    EXPECT_GT(asciiCompareNoCase(L"\u00e9", L"a"), 0);  // wide units are unsigned
    EXPECT_NE(asciiCompareNoCase(L"\u00e9", L"i"), 0);
    EXPECT_NE(asciiCompareNoCase(L"\u0416", L"\u0016"), 0);
    EXPECT_EQ(asciiCompareNoCaseN("abcX", "ABCy", 3), 0);
    EXPECT_NE(asciiCompareNoCaseN("abcX", "ABCy", 4), 0);
    EXPECT_EQ(asciiCompareNoCaseN("ab", "abc", 5), -'c');
    EXPECT_EQ(asciiCompareNoCaseN("a", "b", 0), 0);
    EXPECT_EQ(asciiCompareNoCaseN(L"Ab", L"aB", 2), 0);
    EXPECT_TRUE(asciiLessNoCase()("ABC", "abd"));
    EXPECT_FALSE(asciiLessNoCase()("abd", "ABC"));

    std::wstring w = L"Az\u00c9\u0416";
    EXPECT_EQ(asciiLowerInPlace(w.data(), w.size()), 4u);
    EXPECT_EQ(w, L"az\u00c9\u0416");
    asciiUpperInPlace(w.data(), w.size());
    EXPECT_EQ(w, L"AZ\u00c9\u0416");
    std::string n = "aB\xC9";
    asciiUpperInPlace(n.data(), 2);
    EXPECT_EQ(n, "AB\xC9");
    asciiLowerInPlace(n.data(), n.size());
    EXPECT_EQ(n, "ab\xC9");
    EXPECT_EQ(asciiToLower(static_cast<wchar_t>(0xC9)), static_cast<wchar_t>(0xC9));
}

TEST(StringUtils, LocaleCompareAndForwarders) {
    EXPECT_EQ(localeCompareNoCase("abc", "ABC", 3), 0);
    EXPECT_EQ(localeCompareNoCase("abc", "abd", 3), -1);
    EXPECT_EQ(localeCompareNoCase(L"b", L"A", 1), 1);
    EXPECT_TRUE(equalsNoCaseN("HELLOx", "helloy", 5));
    EXPECT_FALSE(equalsNoCaseN("HELLOx", "helloy", 6));
    EXPECT_FALSE(equalsNoCaseN(nullptr, "a", 1));
    std::wstring w = L"\u00e9a";
    EXPECT_EQ(textCase::charUpperBuffW(w.data(), 2), 2u);
    EXPECT_EQ(w, L"\u00c9A");
    EXPECT_EQ(textCase::lstrcmpiW(L"ABC", L"abc"), 0);
}

TEST(StringUtils, Numbers) {
    EXPECT_EQ(parseInt64(std::string("-42")), -42);
    EXPECT_EQ(parseInt64(std::wstring(L"junk")), 0);
    EXPECT_EQ(parseUInt64(std::string("18446744073709551615")), 18446744073709551615ull);
    EXPECT_EQ(parseUInt64(std::wstring(L"17")), 17u);
    EXPECT_EQ(parseHexUInt64(L"ff"), 255u);
    EXPECT_EQ(toDecimalString(int32_t(-5)), "-5");
    EXPECT_EQ(toDecimalString(uint32_t(4000000000u)), "4000000000");
    EXPECT_EQ(toDecimalString(-9000000000ll), "-9000000000");
    EXPECT_EQ(toDecimalStringW(uint32_t(7)), L"7");
    EXPECT_EQ(toHexString(uint32_t(0xAB)), "0xab");
    EXPECT_EQ(toHexString(uint64_t(0x1234567890ull)), "0x1234567890");
    EXPECT_EQ(toHexStringW(uint32_t(0)), L"0x0");
}

TEST(StringUtils, SourcePathTail) {
    EXPECT_EQ(sourcePathTail("..\\..\\src\\Lib\\File"), "Lib\\File");
    EXPECT_EQ(sourcePathTail("a\\b"), "a\\b");
    EXPECT_EQ(sourcePathTail("File"), "File");
    EXPECT_EQ(sourcePathTail("\\a\\b"), "\\a\\b");  // second-last backslash first: whole
    EXPECT_EQ(sourcePathTail("\\a"), "\\a");
    EXPECT_EQ(sourcePathTail(nullptr), "");
}

TEST(StringUtils, FailedSystemCallsGiveEmptyResults) {
    winplat::inject::Scope scope;
    winplat::inject::arm("MultiByteToWideChar", ERROR_NO_UNICODE_TRANSLATION, -1);
    EXPECT_EQ(ansiToWide("abc"), L"");
    EXPECT_EQ(utf8ToWide("abc"), L"");
    EXPECT_EQ(ansiToUtf8("abc", -1), "");
    EXPECT_EQ(bomTextToWide("\xEF\xBB\xBF"
                            "abc"),
              L"");
    std::wstring out = L"keep";
    appendCodePageText(out, "abc", -1);
    EXPECT_EQ(out, L"keep");
    winplat::inject::reset();

    // Measuring succeeds, converting fails.
    winplat::inject::arm("WideCharToMultiByte", ERROR_INSUFFICIENT_BUFFER, 1, 1);
    EXPECT_EQ(wideToUtf8(L"abc"), "");
    winplat::inject::arm("WideCharToMultiByte", ERROR_INSUFFICIENT_BUFFER, 1, 1);
    EXPECT_EQ(wideToAnsi(L"abc"), "");
    winplat::inject::arm("WideCharToMultiByte", ERROR_INSUFFICIENT_BUFFER, 1);
    EXPECT_EQ(wideToUtf8WithBom(L"abc"), "\xEF\xBB\xBF");

    winplat::inject::arm("CompareStringA", ERROR_INVALID_PARAMETER);
    EXPECT_EQ(localeCompareNoCase("a", "b", 1), 0);
    winplat::inject::arm("CompareStringW", ERROR_INVALID_PARAMETER);
    EXPECT_EQ(localeCompareNoCase(L"a", L"b", 1), 0);
}
