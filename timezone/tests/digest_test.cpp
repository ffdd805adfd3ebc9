// The digest stream: RFC 1321 vectors written in odd pieces, the flush and
// re-arm rules, and failures filed in the error store.
#include <gtest/gtest.h>
#include <openssl/err.h>
#include <openssl/evp.h>

#include <algorithm>
#include <string>
#include <tuple>

#include "timezone/StreamDigest.h"
#include "winplat/windows.h"

using namespace tavlo::crypto;

namespace {

std::string oneShotMd5Hex(const std::string& input) {
    unsigned char out[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    EVP_Digest(input.data(), input.size(), out, &length, EVP_md5(), nullptr);
    std::string hex;
    for (unsigned int i = 0; i < length; ++i) {
        hex += "0123456789abcdef"[out[i] >> 4];
        hex += "0123456789abcdef"[out[i] & 15];
    }
    return hex;
}

// A digest whose algorithm cannot start.
class BrokenDigest : public StreamDigest {
  public:
    BrokenDigest() { selectAlgorithm(nullptr); }
};

}  // namespace

TEST(Digest, Rfc1321VectorsInOddPieces) {
    const std::string million(1000003, 'a');
    const std::tuple<std::string, const char*> vectors[] = {
        {"", "d41d8cd98f00b204e9800998ecf8427e"},
        {"a", "0cc175b9c0f1b6a831c399e269772661"},
        {"abc", "900150983cd24fb0d6963f7d28e17f72"},
        {"message digest", "f96b697d7cb7938d525a2f31aaf161d0"},
        {"abcdefghijklmnopqrstuvwxyz", "c3fcd3d76192e4007dfb496cca67e13b"},
        {"ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789",
         "d174ab98d277d9f5a5611c2c9f419d9f"},
        {"12345678901234567890123456789012345678901234567890123456789012345678901234567890",
         "57edf4a22be3c955ac49da2e2107b67a"},
        {million, nullptr},
    };
    for (const auto& [input, expected] : vectors) {
        const std::string want = expected != nullptr ? expected : oneShotMd5Hex(input);
        for (size_t piece : {size_t{1}, size_t{3}, size_t{7}, size_t{511}, size_t{513}, size_t{4099}}) {
            StreamDigestMD5 digest;
            for (size_t at = 0; at < input.size(); at += piece) {
                digest.write(input.data() + at,
                             static_cast<std::streamsize>(std::min(piece, input.size() - at)));
            }
            EXPECT_EQ(digest.hexDigest(true), want) << input.size() << " bytes in pieces of " << piece;
        }
    }
}

TEST(Digest, FlushAndRearmRules) {
    StreamDigestMD5 digest;
    // Nothing written and no flush: nothing.
    EXPECT_EQ(digest.hexDigest(false), "");
    EXPECT_EQ(digest.digest(false), "");
    // Bytes still waiting in the buffer count without a flush.
    digest << "abc";
    EXPECT_EQ(digest.hexDigest(false), "900150983cd24fb0d6963f7d28e17f72");
    // Asked again without new output: the same digest, flushed or not.
    EXPECT_EQ(digest.hexDigest(false), "900150983cd24fb0d6963f7d28e17f72");
    EXPECT_EQ(digest.hexDigest(true), "900150983cd24fb0d6963f7d28e17f72");
    // New output starts a new digest over the new bytes only.
    digest << "a";
    EXPECT_EQ(digest.hexDigest(false), "0cc175b9c0f1b6a831c399e269772661");
    const std::string raw = digest.digest(false);
    EXPECT_EQ(raw.size(), 16u);
    EXPECT_EQ(static_cast<unsigned char>(raw[0]), 0x0c);

    // A flush on a fresh stream digests the empty input.
    StreamDigestMD5 empty;
    EXPECT_EQ(empty.hexDigest(true), "d41d8cd98f00b204e9800998ecf8427e");
    // The base stream digests with the null algorithm: an empty result.
    StreamDigest base;
    base << "abc";
    EXPECT_EQ(base.hexDigest(false), "");
}

TEST(Digest, FailuresAreFiledUnderTheThread) {
    const DWORD self = GetCurrentThreadId();
    const size_t before = CryptoErrorStore::instance().codesOf(self).size();
    BrokenDigest broken;
    broken << "abc";
    EXPECT_EQ(broken.hexDigest(false), "");
    EXPECT_GT(CryptoErrorStore::instance().codesOf(self).size(), before);
    // The error queue was drained into the store.
    EXPECT_EQ(ERR_peek_error(), 0ul);
}
