#include "CommonBase/StringUtils.h"

#include <cerrno>
#include <cstdlib>
#include <cwchar>
#include <limits>
#include <stdexcept>

#include <boost/format.hpp>

size_t safeStrlen(const char* text) {
    return text ? std::char_traits<char>::length(text) : 0;
}

size_t safeWcslen(const wchar_t* text) {
    return text ? std::char_traits<wchar_t>::length(text) : 0;
}

int32_t size_cast(size_t value) {
    if (value > static_cast<size_t>(std::numeric_limits<int32_t>::max()))
        throw std::overflow_error("size_cast overflow");
    return static_cast<int32_t>(value);
}

std::wstring widenBytes(const char* data, int length) {
    std::wstring out;
    if (!data || length <= 0)
        return out;
    out.resize(static_cast<size_t>(length));
    for (int i = 0; i < length; ++i)
        out[static_cast<size_t>(i)] = static_cast<wchar_t>(static_cast<unsigned char>(data[i]));
    return out;
}

std::wstring widenBytes(const char* text) {
    return widenBytes(text, size_cast(safeStrlen(text)));
}

std::wstring widenBytes(const std::string& bytes) {
    return widenBytes(bytes.data(), size_cast(bytes.size()));
}

std::string narrowChars(const std::wstring& text) {
    std::string out(text.size(), '\0');
    for (size_t i = 0; i < text.size(); ++i)
        out[i] = static_cast<char>(static_cast<uint32_t>(text[i]) & 0xFFu);
    return out;
}

std::string narrowChars(const wchar_t* text) {
    if (!text)
        return std::string();
    return narrowChars(std::wstring(text));
}

template <typename C>
static size_t lowerInPlace(C* buffer, size_t count) {
    for (size_t i = 0; buffer && i < count; ++i)
        buffer[i] = asciiToLower(buffer[i]);
    return count;
}

template <typename C>
static size_t upperInPlace(C* buffer, size_t count) {
    for (size_t i = 0; buffer && i < count; ++i)
        buffer[i] = asciiToUpper(buffer[i]);
    return count;
}

size_t asciiLowerInPlace(char* buffer, size_t count) {
    return lowerInPlace(buffer, count);
}
size_t asciiUpperInPlace(char* buffer, size_t count) {
    return upperInPlace(buffer, count);
}
size_t asciiLowerInPlace(wchar_t* buffer, size_t count) {
    return lowerInPlace(buffer, count);
}
size_t asciiUpperInPlace(wchar_t* buffer, size_t count) {
    return upperInPlace(buffer, count);
}

// Narrow text compares signed bytes (bytes above 0x7F order first); wide text
// compares whole 16-bit units.
static int unitValue(char c) {
    return static_cast<signed char>(c);
}
static int unitValue(wchar_t c) {
    return static_cast<int>(static_cast<uint32_t>(c) & 0xFFFFu);
}

template <typename C>
static int compareNoCase(const C* a, const C* b, size_t count, bool counted) {
    if (!a || !b)
        return 0;
    size_t i = 0;
    for (; (!counted || i < count) && a[i] != 0 && b[i] != 0; ++i) {
        int fa = unitValue(asciiToLower(a[i]));
        int fb = unitValue(asciiToLower(b[i]));
        if (fa != fb)
            return fa - fb;
    }
    if (counted && i >= count)
        return 0;
    return unitValue(a[i]) - unitValue(b[i]);
}

int asciiCompareNoCase(const char* a, const char* b) {
    return compareNoCase(a, b, 0, false);
}
int asciiCompareNoCase(const wchar_t* a, const wchar_t* b) {
    return compareNoCase(a, b, 0, false);
}
int asciiCompareNoCaseN(const char* a, const char* b, size_t count) {
    return compareNoCase(a, b, count, true);
}
int asciiCompareNoCaseN(const wchar_t* a, const wchar_t* b, size_t count) {
    return compareNoCase(a, b, count, true);
}

int64_t parseInt64(const std::string& text) {
    return std::strtoll(text.c_str(), nullptr, 10);
}
int64_t parseInt64(const std::wstring& text) {
    return std::wcstoll(text.c_str(), nullptr, 10);
}
uint64_t parseUInt64(const std::string& text) {
    return std::strtoull(text.c_str(), nullptr, 10);
}
uint64_t parseUInt64(const std::wstring& text) {
    return std::wcstoull(text.c_str(), nullptr, 10);
}
uint64_t parseHexUInt64(const std::wstring& text) {
    return std::wcstoull(text.c_str(), nullptr, 16);
}

template <typename T>
static std::string formatNarrow(const char* format, T value) {
    return (boost::format(format) % value).str();
}

template <typename T>
static std::wstring formatWide(const wchar_t* format, T value) {
    return (boost::wformat(format) % value).str();
}

std::string toDecimalString(int32_t value) {
    return formatNarrow("%i", value);
}
std::string toDecimalString(long value) {
    return formatNarrow("%i", value);
}
std::string toDecimalString(long long value) {
    return formatNarrow("%i", value);
}
std::string toDecimalString(uint32_t value) {
    return formatNarrow("%u", value);
}
std::string toDecimalString(unsigned long value) {
    return formatNarrow("%u", value);
}
std::string toDecimalString(unsigned long long value) {
    return formatNarrow("%u", value);
}
std::wstring toDecimalStringW(int32_t value) {
    return formatWide(L"%i", value);
}
std::wstring toDecimalStringW(long value) {
    return formatWide(L"%i", value);
}
std::wstring toDecimalStringW(long long value) {
    return formatWide(L"%i", value);
}
std::wstring toDecimalStringW(uint32_t value) {
    return formatWide(L"%u", value);
}
std::wstring toDecimalStringW(unsigned long value) {
    return formatWide(L"%u", value);
}
std::wstring toDecimalStringW(unsigned long long value) {
    return formatWide(L"%u", value);
}
std::string toHexString(uint32_t value) {
    return formatNarrow("0x%x", value);
}
std::string toHexString(uint64_t value) {
    return formatNarrow("0x%x", value);
}
std::wstring toHexStringW(uint32_t value) {
    return formatWide(L"0x%x", value);
}
std::wstring toHexStringW(uint64_t value) {
    return formatWide(L"0x%x", value);
}

std::string sourcePathTail(const char* path) {
    if (!path)
        return std::string();
    std::string tail(path);
    size_t last = tail.rfind('\\');
    if (last != std::string::npos && last != 0) {
        size_t before = tail.rfind('\\', last - 1);
        if (before != std::string::npos && before != 0)
            tail.erase(0, before + 1);
    }
    return tail;
}

std::wstring makeWString(const wchar_t* text, size_t length) {
    return text ? std::wstring(text, length) : std::wstring();
}
