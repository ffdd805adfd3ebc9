// Single-byte code pages of the converters, generated from Python's codecs by
// platform/tools/make_codepage_tables.py.
#pragma once

#include <cstddef>
#include <cstdint>
#include <iterator>

namespace winplat::detail {

// A decoding table entry for a byte without a character.
constexpr uint16_t kNoUnit = 0xFFFF;

struct SingleBytePage {
    struct Pair {
        uint16_t unit;
        uint8_t byte;
    };
    const char* name;
    const uint16_t* decode;  // 256 units
    const Pair* encode;      // sorted by unit
    size_t encodeCount;
};

extern const SingleBytePage kSingleBytePages[];
extern const size_t kSingleBytePageCount;

}  // namespace winplat::detail
