// Quoted-printable decoding (and line-break normalisation) of arbitrary
// bytes: no fault, the result of the byte-at-a-time reading of the rules, the
// same result however the input is split, and encoding followed by decoding
// gives any byte string back.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "CommonBase/Coder.h"
#include "CommonBase/CoderEngine.h"
#include "CommonBase/tests/QpReference.h"

namespace {

template <typename Engine>
std::string inPieces(Engine engine, const uint8_t* data, size_t size, size_t a, size_t b) {
    std::string out;
    Coder::detail::StringSink sink(out, 0);
    engine.feed(data, a, sink);
    engine.feed(data + a, b - a, sink);
    engine.feed(data + b, size - b, sink);
    engine.finish(sink);
    sink.finish();
    return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 2) {
        return 0;
    }
    unsigned flags = data[0] & Coder::detail::kQpDot;
    size_t a = data[1] % (size + 1);
    size_t b = a + (size > a ? data[size - 1] % (size - a + 1) : 0);

    std::string whole;
    Coder::detail::qpDecode(data, size, whole, flags);
    if (whole != qpreference::decode(std::string(reinterpret_cast<const char*>(data), size), flags != 0)) {
        std::abort();
    }
    if (inPieces(Coder::detail::QpDecoder(flags), data, size, a, b) != whole) {
        std::abort();
    }

    std::string encoded;
    Coder::detail::qpEncode(data, size, encoded, flags & ~Coder::detail::kQpDot);
    if (inPieces(Coder::detail::QpEncoder(0), data, size, a, b) != encoded) {
        std::abort();
    }
    std::string decoded;
    if (Coder::decodeQP(encoded, decoded) != 0 ||
        decoded != std::string(reinterpret_cast<const char*>(data), size)) {
        std::abort();
    }

    std::string normalized;
    Coder::detail::normalizeLineBreaks(data, size, normalized);
    Coder::detail::LineBreakNormalizer normalizer;
    std::string split;
    {
        Coder::detail::StringSink sink(split, 0);
        normalizer.feed(data, a, sink);
        normalizer.feed(data + a, size - a, sink);
        sink.finish();
    }
    if (split != normalized) {
        std::abort();
    }
    return 0;
}
