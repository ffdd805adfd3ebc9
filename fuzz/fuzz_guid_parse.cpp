// Guid text parsing: any text either parses to a value whose text forms parse
// back to it, or leaves the value unchanged.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "CommonBase/Guid.h"
#include "CommonBase/HResultException.h"
#include "CommonBase/StringUtils.h"
#include "winplat/errors.h"

namespace {
const GUID kSentinel = {0xDEADBEEF, 0x1234, 0x5678, {1, 2, 3, 4, 5, 6, 7, 8}};

void check(const std::wstring& text) {
    Guid g(&kSentinel);
    const Guid before = g;
    HRESULT hr = g.parse(text);
    if (hr == S_OK) {
        if (Guid(g.toBracedString(), true) != g || Guid(g.toPlainString(), true) != g)
            std::abort();
        if (g.toBracedString().size() != 38 || g.toPlainStringA().size() != 36)
            std::abort();
    } else if (hr != E_INVALIDARG || g != before) {
        std::abort();
    }
    try {
        Guid raising(text, true);
        if (hr != S_OK)
            std::abort();
    } catch (const HResultException& e) {
        if (hr == S_OK || e.getHResult() != E_INVALIDARG)
            std::abort();
    }
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // Bytes as units, and pairs of bytes as UTF-16 units.
    check(widenBytes(reinterpret_cast<const char*>(data), static_cast<int>(size)));
    std::wstring units;
    for (size_t i = 0; i + 1 < size; i += 2)
        units.push_back(static_cast<wchar_t>(data[i] | (data[i + 1] << 8)));
    check(units);
    return 0;
}
