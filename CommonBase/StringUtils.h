// Text helpers shared by the whole code base: moving text between the ANSI
// code page, UTF-8, numbered code pages and UTF-16 wide text, ASCII-only case
// folding and comparison, number parsing and printing, and the shortening of
// source paths for messages. All functions are stateless.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "winplat/types.h"

// Lengths and small predicates.
size_t safeStrlen(const char* text);
size_t safeWcslen(const wchar_t* text);
inline bool isNonAsciiByte(char c) {
    return (static_cast<unsigned char>(c) & 0x80u) != 0;
}
inline bool isNonAsciiChar(wchar_t c) {
    return static_cast<uint32_t>(c) > 0x7Fu;
}

// A count handed to a 32-bit API; throws std::overflow_error("size_cast overflow")
// when it does not fit.
int32_t size_cast(size_t value);

// Byte <-> unit copies without any code page: each byte 0-255 becomes the unit
// of the same value, each unit keeps its low eight bits.
std::wstring widenBytes(const char* data, int length);
std::wstring widenBytes(const char* text);
std::wstring widenBytes(const std::string& bytes);
std::string narrowChars(const std::wstring& text);
std::string narrowChars(const wchar_t* text);

// Code-page conversions. None of them throws for bad input: a failed
// conversion gives the empty text (the append form leaves its target as it was).
std::wstring ansiToWide(const std::string& text);
std::string wideToAnsi(const std::wstring& text);
std::string wideToUtf8(const wchar_t* text, int length = -1);
std::string wideToUtf8(const std::wstring& text);
std::string wideToUtf8WithBom(const wchar_t* text);
void appendCodePageText(std::wstring& out, const char* text, unsigned codePage, int length);
void appendCodePageText(std::wstring& out, const char* text, int length);  // UTF-8
std::wstring codePageToWide(const char* text, unsigned codePage, int length);
std::wstring codePageToWide(const char* begin, const char* end, unsigned codePage);
std::wstring utf8ToWide(const char* text, int length);
std::wstring utf8ToWide(const char* text);
std::wstring utf8ToWide(const std::string& text);
std::string ansiToUtf8(const char* text, int length);
std::string ansiToUtf8(const std::string& text);
std::string ansiToUtf8WithBom(const std::string& text);
std::wstring bomTextToWide(const char* text);
std::wstring bomTextToWide(const std::string& text);
// Null for an empty result; throws ATL::CAtlException(E_OUTOFMEMORY) when the
// BSTR cannot be allocated.
BSTR utf8ToBstr(const std::string& text);

// ASCII-only case: only 'A'-'Z' and 'a'-'z' change.
inline char asciiToLower(char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c + ('a' - 'A')) : c;
}
inline char asciiToUpper(char c) {
    return (c >= 'a' && c <= 'z') ? static_cast<char>(c - ('a' - 'A')) : c;
}
inline wchar_t asciiToLower(wchar_t c) {
    return (c >= L'A' && c <= L'Z') ? static_cast<wchar_t>(c + (L'a' - L'A')) : c;
}
inline wchar_t asciiToUpper(wchar_t c) {
    return (c >= L'a' && c <= L'z') ? static_cast<wchar_t>(c - (L'a' - L'A')) : c;
}
size_t asciiLowerInPlace(char* buffer, size_t count);
size_t asciiUpperInPlace(char* buffer, size_t count);
size_t asciiLowerInPlace(wchar_t* buffer, size_t count);
size_t asciiUpperInPlace(wchar_t* buffer, size_t count);

// 0 when either side is null; otherwise the difference of the first folded
// characters that differ (narrow: signed bytes, wide: unsigned 16-bit units).
int asciiCompareNoCase(const char* a, const char* b);
int asciiCompareNoCase(const wchar_t* a, const wchar_t* b);
int asciiCompareNoCaseN(const char* a, const char* b, size_t count);
int asciiCompareNoCaseN(const wchar_t* a, const wchar_t* b, size_t count);

// Ordering predicate over asciiCompareNoCase.
struct asciiLessNoCase {
    bool operator()(const char* a, const char* b) const { return asciiCompareNoCase(a, b) < 0; }
    bool operator()(const wchar_t* a, const wchar_t* b) const { return asciiCompareNoCase(a, b) < 0; }
    bool operator()(const std::string& a, const std::string& b) const {
        return (*this)(a.c_str(), b.c_str());
    }
    bool operator()(const std::wstring& a, const std::wstring& b) const {
        return (*this)(a.c_str(), b.c_str());
    }
};

// The thread locale's case-insensitive order: -1, 0 or 1; 0 when the call fails.
int localeCompareNoCase(const char* a, const char* b, size_t count);
int localeCompareNoCase(const wchar_t* a, const wchar_t* b, size_t count);
bool equalsNoCaseN(const char* a, const char* b, size_t count);

// Forwarders to the system's case and comparison routines.
namespace textCase {
DWORD charLowerBuffA(char* buffer, DWORD count);
DWORD charLowerBuffW(wchar_t* buffer, DWORD count);
DWORD charUpperBuffA(char* buffer, DWORD count);
DWORD charUpperBuffW(wchar_t* buffer, DWORD count);
int lstrcmpiA(const char* a, const char* b);
int lstrcmpiW(const wchar_t* a, const wchar_t* b);
}  // namespace textCase

// Numbers: base 10 unless named otherwise; text that is not a number gives 0.
int64_t parseInt64(const std::string& text);
int64_t parseInt64(const std::wstring& text);
uint64_t parseUInt64(const std::string& text);
uint64_t parseUInt64(const std::wstring& text);
uint64_t parseHexUInt64(const std::wstring& text);

std::string toDecimalString(int32_t value);
std::string toDecimalString(long value);
std::string toDecimalString(long long value);
std::string toDecimalString(uint32_t value);
std::string toDecimalString(unsigned long value);
std::string toDecimalString(unsigned long long value);
std::wstring toDecimalStringW(int32_t value);
std::wstring toDecimalStringW(long value);
std::wstring toDecimalStringW(long long value);
std::wstring toDecimalStringW(uint32_t value);
std::wstring toDecimalStringW(unsigned long value);
std::wstring toDecimalStringW(unsigned long long value);
std::string toHexString(uint32_t value);
std::string toHexString(uint64_t value);
std::wstring toHexStringW(uint32_t value);
std::wstring toHexStringW(uint64_t value);

// The last two backslash-separated components of a source path.
std::string sourcePathTail(const char* path);

// Small helpers.
std::wstring makeWString(const wchar_t* text, size_t length);  // null gives empty
inline wchar_t widenChar(char c) {
    return static_cast<wchar_t>(static_cast<signed char>(c));
}
inline uint8_t lowByte(uint32_t value) {
    return static_cast<uint8_t>(value & 0xFFu);
}
