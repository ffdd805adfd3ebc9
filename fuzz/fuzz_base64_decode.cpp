// Base64 decoding of arbitrary bytes: no fault, the same result however the
// input is split, and decoding what the encoder makes of the result gives it back.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "CommonBase/Coder.h"
#include "CommonBase/CoderEngine.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string whole;
    if (Coder::decodeBase64(data, size, whole) != 0) {
        std::abort();
    }
    if (whole.size() > size / 4 * 3 + 2) {
        std::abort();
    }

    size_t split = size ? data[0] % (size + 1) : 0;
    std::string pieces;
    {
        Coder::detail::StringSink sink(pieces, 0);
        Coder::detail::Base64Decoder decoder;
        decoder.feed(data, split, sink);
        decoder.feed(data + split, size - split, sink);
        decoder.finish(sink);
        sink.finish();
    }
    if (pieces != whole) {
        std::abort();
    }

    for (bool lineBreaks : {false, true}) {
        std::string encoded;
        std::string again;
        if (Coder::encodeBase64(whole, encoded, lineBreaks) != 0 ||
            Coder::decodeBase64(encoded, again) != 0 || again != whole) {
            std::abort();
        }
    }
    return 0;
}
