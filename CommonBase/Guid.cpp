#include "CommonBase/Guid.h"

#include <cstring>
#include <cwchar>

#include "CommonBase/HResultException.h"
#include "CommonBase/StringUtils.h"
#include "winplat/windows.h"
#include "winplat/com.h"

namespace {

const char kModule[] = "CommonBase\\Guid";

int hexValue(wchar_t c) {
    if (c >= L'0' && c <= L'9')
        return c - L'0';
    if (c >= L'a' && c <= L'f')
        return c - L'a' + 10;
    if (c >= L'A' && c <= L'F')
        return c - L'A' + 10;
    return -1;
}

uint32_t hexField(const std::wstring& text, size_t from, size_t digits) {
    uint32_t value = 0;
    for (size_t i = 0; i < digits; ++i)
        value = (value << 4) | static_cast<uint32_t>(hexValue(text[from + i]));
    return value;
}

// The 32 digits in their 8-4-4-4-12 groups.
std::wstring groupedDigits(const GUID& g, bool upperCase) {
    wchar_t buffer[37];
    const uint8_t* d4 = g.Data4;
    int written = std::swprintf(buffer, 37,
                                upperCase ? L"%08lX-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X"
                                          : L"%08lx-%04x-%04x-%02x%02x-%02x%02x%02x%02x%02x%02x",
                                static_cast<unsigned long>(g.Data1), g.Data2, g.Data3, d4[0], d4[1], d4[2],
                                d4[3], d4[4], d4[5], d4[6], d4[7]);
    return written == 36 ? std::wstring(buffer, 36) : std::wstring();
}

}  // namespace

Guid::Guid() : data_{} {}

Guid::Guid(const GUID* data) : data_{} {
    *this = data;
}

Guid::Guid(const std::wstring& text, bool raiseIfInvalid) : data_{} {
    if (FAILED(parse(text)) && raiseIfInvalid)
        ErrorLocation{2, kModule, 73, "Guid::Guid"}.raise(E_INVALIDARG);
}

Guid::Guid(const std::string& text) : data_{} {
    *this = text;
}

Guid& Guid::operator=(const std::wstring& text) {
    if (FAILED(parse(text)))
        ErrorLocation{2, kModule, 154, "Guid::operator ="}.raise(E_INVALIDARG);
    return *this;
}

Guid& Guid::operator=(const std::string& text) {
    if (FAILED(parse(text)))
        ErrorLocation{2, kModule, 163, "Guid::operator ="}.raise(E_INVALIDARG);
    return *this;
}

Guid& Guid::operator=(const GUID* data) {
    setData(data, sizeof(GUID));
    return *this;
}

void Guid::setData(const void* data, unsigned size) {
    if (!data)
        ErrorLocation{2, kModule, 181, "Guid::setData"}.raise(E_POINTER, L"NULL GUID data");
    if (size != sizeof(GUID))
        ErrorLocation{2, kModule, 183, "Guid::setData"}.raiseFormatted(E_INVALIDARG,
                                                                       "Wrong GUID data size: %u", size);
    std::memcpy(&data_, data, sizeof(GUID));
}

void Guid::setData(const std::string& bytes) {
    setData(bytes.data(), static_cast<unsigned>(size_cast(bytes.size())));
}

Guid Guid::create() {
    Guid result;
    HRESULT hr = CoCreateGuid(&result.data_);
    if (FAILED(hr))
        ErrorLocation{2, kModule, 197, "Guid::create"}.raise(hr);
    return result;
}

HRESULT Guid::parse(const std::wstring& input) {
    std::wstring text(input);
    size_t end = text.find_last_not_of(L' ');
    text.erase(end == std::wstring::npos ? 0 : end + 1);
    if (text.size() == 38 && text.front() == L'{' && text.back() == L'}')
        text = text.substr(1, 36);
    if (text.size() != 36)
        return E_INVALIDARG;
    for (size_t i = 0; i < text.size(); ++i) {
        bool dash = i == 8 || i == 13 || i == 18 || i == 23;
        if (dash ? text[i] != L'-' : hexValue(text[i]) < 0)
            return E_INVALIDARG;
    }
    GUID parsed;
    parsed.Data1 = hexField(text, 0, 8);
    parsed.Data2 = static_cast<uint16_t>(hexField(text, 9, 4));
    parsed.Data3 = static_cast<uint16_t>(hexField(text, 14, 4));
    parsed.Data4[0] = static_cast<uint8_t>(hexField(text, 19, 2));
    parsed.Data4[1] = static_cast<uint8_t>(hexField(text, 21, 2));
    for (size_t i = 0; i < 6; ++i)
        parsed.Data4[2 + i] = static_cast<uint8_t>(hexField(text, 24 + 2 * i, 2));
    data_ = parsed;
    return S_OK;
}

HRESULT Guid::parse(const std::string& text) {
    return parse(widenBytes(text));
}

std::wstring Guid::toBracedString() const {
    const std::wstring digits = groupedDigits(data_, true);
    return digits.empty() ? digits : L"{" + digits + L"}";
}

std::string Guid::toBracedStringA() const {
    return narrowChars(toBracedString());
}

std::wstring Guid::toPlainString() const {
    return groupedDigits(data_, false);
}

std::string Guid::toPlainStringA() const {
    return narrowChars(toPlainString());
}

std::string Guid::toBytes() const {
    return std::string(reinterpret_cast<const char*>(bytes()), sizeof(GUID));
}

bool Guid::operator==(const Guid& other) const {
    return std::memcmp(&data_, &other.data_, sizeof(GUID)) == 0;
}

bool Guid::operator<(const Guid& other) const {
    return std::memcmp(&data_, &other.data_, sizeof(GUID)) < 0;
}

bool Guid::isNull() const {
    return *this == Guid();
}

uint32_t Guid::hash() const {
    uint32_t seed = 0;
    for (size_t i = 0; i < sizeof(GUID); ++i)
        seed ^= static_cast<uint32_t>(bytes()[i]) + 0x9E3779B9u + (seed << 6) + (seed >> 2);
    return seed;
}

HRESULT Guid::copyToCoTaskMem(GUID** out) const {
    if (!out)
        return E_POINTER;
    if (isNull())
        return E_INVALIDARG;
    GUID* copy = static_cast<GUID*>(CoTaskMemAlloc(sizeof(GUID)));
    if (!copy)
        return E_OUTOFMEMORY;
    *copy = data_;
    *out = copy;
    return S_OK;
}
