// Text converters opened by name, with the iconv contract.
//
// A name the C library's iconv knows opens its converter. A few code pages it
// lacks, or has only in an older revision, are served here under the code-page
// table's names: the Mac single-byte pages MACROMAN, MACARABIC, MACGREEK,
// MACROMANIA, MACICELAND, MACTURKISH and MACCROATIAN (tables of our own),
// MACCENTRALEUROPE and MACUKRAINE (the C library's pages of another name),
// HZ-GB-2312 and ISO-2022-JP-1. Those convert to and from UTF-16LE or UCS-2LE
// only. MACHEBREW and MACTHAI have no converter.
#pragma once

#include <cstddef>
#include <memory>

#include "winplat/types.h"

namespace winplat {

namespace detail {
class Codec;
}

class WINPLAT_API Converter {
  public:
    // As iconv_open(to, from): ok() tells whether it opened; when not, errno
    // is EINVAL.
    Converter(const char* to, const char* from);
    ~Converter();
    Converter(const Converter&) = delete;
    Converter& operator=(const Converter&) = delete;

    bool ok() const { return codec_ != nullptr; }

    // As iconv(3): converts what fits, advancing the four arguments, and
    // returns the count of irreversible conversions, or (size_t)-1 with errno
    // E2BIG (output full), EILSEQ (*in is at a sequence with no conversion)
    // or EINVAL (*in is at an incomplete sequence that ends the input). A
    // null `in` or *in writes what returns to the initial state and resets it;
    // a null `out` as well only resets.
    size_t convert(char** in, size_t* inLeft, char** out, size_t* outLeft);

  private:
    std::unique_ptr<detail::Codec> codec_;
};

}  // namespace winplat
