// Hexadecimal digits in UTF-16 text, for the parsers inside the platform.
#pragma once

#include "winplat/types.h"

namespace winplat::detail {

// The value of one hexadecimal digit (either case), or -1.
inline int hexDigitValue(WCHAR c) {
    if (c >= L'0' && c <= L'9') {
        return c - L'0';
    }
    if (c >= L'a' && c <= L'f') {
        return c - L'a' + 10;
    }
    if (c >= L'A' && c <= L'F') {
        return c - L'A' + 10;
    }
    return -1;
}

}  // namespace winplat::detail
