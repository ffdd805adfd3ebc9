// Wide text is UTF-16 code units held one per wchar_t. These are the one place
// where wide text turns into UTF-8 or into bytes, and back.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "winplat/types.h"

namespace winplat {

// UTF-8 to UTF-16 units. Malformed input (bad lead or continuation bytes,
// overlong forms, encoded surrogates, values above U+10FFFF, a cut sequence)
// gives one U+FFFD per bad sequence; characters above U+FFFF become a
// surrogate pair. Every unit of the result is at most 0xFFFF.
WINPLAT_API std::wstring utf8ToUtf16(std::string_view text);

// UTF-16 units to UTF-8. Each wchar_t is taken as its low 16 bits; a lone
// surrogate becomes U+FFFD.
WINPLAT_API std::string utf16ToUtf8(std::wstring_view text);

// Wide text as stored bytes: 2 bytes per unit, little-endian.
WINPLAT_API std::string wideToBytes(std::wstring_view text);
WINPLAT_API std::vector<uint8_t> wideToByteVector(std::wstring_view text);
// Stored bytes back to units; an odd last byte is ignored.
WINPLAT_API std::wstring bytesToWide(const void* data, size_t bytes);

}  // namespace winplat
