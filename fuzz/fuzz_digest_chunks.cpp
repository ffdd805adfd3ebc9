// The digest stream fed in pieces of fuzzed sizes gives the one-shot digest.
#include <openssl/evp.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "timezone/StreamDigest.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1) {
        return 0;
    }
    // The first byte seeds the piece sizes; the rest is the input.
    uint32_t seed = data[0];
    const char* input = reinterpret_cast<const char*>(data + 1);
    const size_t length = size - 1;
    tavlo::crypto::StreamDigestMD5 digest;
    for (size_t at = 0; at < length;) {
        seed = seed * 1103515245u + 12345u;
        size_t piece = 1 + (seed >> 16) % 1100;
        piece = piece < length - at ? piece : length - at;
        if (piece == 1 && (seed & 1) != 0) {
            digest.put(input[at]);
        } else {
            digest.write(input + at, static_cast<std::streamsize>(piece));
        }
        at += piece;
    }
    unsigned char expected[EVP_MAX_MD_SIZE];
    unsigned int expectedLength = 0;
    EVP_Digest(input, length, expected, &expectedLength, EVP_md5(), nullptr);
    const std::string got = digest.digest(true);
    if (got != std::string(reinterpret_cast<const char*>(expected), expectedLength)) {
        std::abort();
    }
    return 0;
}
