// Base64 and quoted-printable coder and line-break normalisation.
#include <gtest/gtest.h>

#include <cctype>
#include <random>

#include "CommonBase/Coder.h"
#include "CommonBase/HResultException.h"
#include "QpReference.h"
#include "StreamTestSupport.h"
#include "winplat/mapi.h"

using namespace Coder;

namespace {

// Plain RFC 4648 Base64 without line breaks, the reference for the groups.
std::string rfcBase64(const std::string& data) {
    static const char* alphabet = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string out;
    size_t i = 0;
    for (; i + 3 <= data.size(); i += 3) {
        uint32_t v = (uint8_t(data[i]) << 16) | (uint8_t(data[i + 1]) << 8) | uint8_t(data[i + 2]);
        for (int s = 18; s >= 0; s -= 6) {
            out += alphabet[(v >> s) & 63];
        }
    }
    if (i + 1 == data.size()) {
        uint32_t v = uint8_t(data[i]) << 16;
        out += alphabet[v >> 18];
        out += alphabet[(v >> 12) & 63];
        out += "==";
    } else if (i + 2 == data.size()) {
        uint32_t v = (uint8_t(data[i]) << 16) | (uint8_t(data[i + 1]) << 8);
        out += alphabet[v >> 18];
        out += alphabet[(v >> 12) & 63];
        out += alphabet[(v >> 6) & 63];
        out += '=';
    }
    return out;
}

std::string bytes(size_t n, unsigned seed = 1) {
    std::mt19937 random(seed);
    std::string data(n, '\0');
    for (char& c : data) {
        c = static_cast<char>(random());
    }
    return data;
}

// Text dense in the characters the coders treat specially.
std::string trickyText(size_t n, unsigned seed) {
    static const char pool[] = "=\r\n.\t aZ09=\r\n\x00\xff=4Afb=";
    std::mt19937 random(seed);
    std::string data(n, '\0');
    for (char& c : data) {
        c = pool[random() % (sizeof(pool) - 1)];
    }
    return data;
}

std::string b64(const std::string& data, bool lineBreaks) {
    std::string out = "junk";
    EXPECT_EQ(encodeBase64(data, out, lineBreaks), S_OK);
    return out;
}

std::string unb64(const std::string& text) {
    std::string out;
    EXPECT_EQ(decodeBase64(text, out), S_OK);
    return out;
}

std::string qp(const std::string& data) {
    std::string out;
    EXPECT_EQ(encodeQP(data, out), S_OK);
    return out;
}

std::string unqp(const std::string& text) {
    std::string out;
    EXPECT_EQ(decodeQP(text, out), S_OK);
    return out;
}

std::string normalized(const std::string& text) {
    std::string out;
    detail::normalizeLineBreaks(reinterpret_cast<const uint8_t*>(text.data()), text.size(), out);
    return out;
}

}  // namespace

TEST(CoderBase64, LineLayoutAroundTheShortAndTheFullLines) {
    EXPECT_EQ(b64("", true), "\r\n");
    EXPECT_EQ(b64("", false), "");
    EXPECT_EQ(b64("f", true), "\r\nZg==");
    EXPECT_EQ(b64("fo", true), "\r\nZm8=");
    EXPECT_EQ(b64("foo", true), "Zm9v");
    EXPECT_EQ(b64("foobar", false), "Zm9vYmFy");
    EXPECT_EQ(b64("fooba", true), "Zm9vYmE=");

    std::string d56 = bytes(56), d57 = bytes(57), d58 = bytes(58), d114 = bytes(114), d115 = bytes(115);
    EXPECT_EQ(b64(d56, true), rfcBase64(d56));
    EXPECT_EQ(rfcBase64(d56).size(), 76u);
    EXPECT_EQ(b64(d57, true), rfcBase64(d57) + "\r\n");
    std::string r58 = rfcBase64(d58);
    EXPECT_EQ(b64(d58, true), r58.substr(0, 76) + "\r\n" + r58.substr(76));
    std::string r114 = rfcBase64(d114);
    EXPECT_EQ(b64(d114, true), r114.substr(0, 76) + "\r\n" + r114.substr(76) + "\r\n");
    std::string r115 = rfcBase64(d115);
    EXPECT_EQ(b64(d115, true), r115.substr(0, 76) + "\r\n" + r115.substr(76, 76) + "\r\n" + r115.substr(152));
    EXPECT_EQ(b64(d115, false), r115);

    std::string unpadded;
    detail::base64EncodeEx(reinterpret_cast<const uint8_t*>("fo"), 2, unpadded,
                           detail::kBase64NoPad | detail::kBase64NoCrlf);
    EXPECT_EQ(unpadded, "Zm8");
}

TEST(CoderBase64, RequiredLengthBoundsTheOutput) {
    for (unsigned flags = 0; flags < 4; ++flags) {
        for (size_t n = 0; n <= 1000; ++n) {
            std::string out;
            std::string data = bytes(n, static_cast<unsigned>(n));
            detail::base64EncodeEx(reinterpret_cast<const uint8_t*>(data.data()), n, out, flags);
            ASSERT_GE(detail::base64EncodeGetRequiredLength(n, flags), out.size()) << n << " flags " << flags;
        }
    }
    EXPECT_EQ(detail::base64EncodeGetRequiredLength(57, 0), 80u);
    try {
        detail::base64EncodeGetRequiredLength(size_t(4000000000u), 0);
        FAIL() << "no exception";
    } catch (const HResultException& e) {
        EXPECT_EQ(e.getHResult(), E_OUTOFMEMORY);
        std::string what = e.what();
        EXPECT_NE(what.find("Coder(550), Coder::detail::base64EncodeGetRequiredLength:"), std::string::npos)
            << what;
        EXPECT_NE(what.find(": Too large data to encode"), std::string::npos) << what;
    }
}

TEST(CoderBase64, DecodingSkipsEverythingOutsideTheAlphabet) {
    EXPECT_EQ(unb64("Zm9vYmFy"), "foobar");
    EXPECT_EQ(unb64("Zg"), "f");
    EXPECT_EQ(unb64("Zm8"), "fo");
    EXPECT_EQ(unb64("Z"), "");
    EXPECT_EQ(unb64("Zm 9v\r\nY*m=F.y"), "foobar");
    EXPECT_EQ(unb64("====\r\n"), "");
    std::string data = bytes(1000, 7);
    EXPECT_EQ(unb64(b64(data, true)), data);
    EXPECT_EQ(unb64(b64(data, false)), data);
}

TEST(CoderBase64, NullInputsAndOutputReuse) {
    std::string out = "previous";
    EXPECT_EQ(encodeBase64(nullptr, 0, out, true), S_OK);
    EXPECT_EQ(out, "");
    out = "previous";
    EXPECT_EQ(encodeBase64(nullptr, 3, out, true), E_INVALIDARG);
    EXPECT_EQ(decodeBase64(nullptr, 1, out), E_INVALIDARG);
    EXPECT_EQ(encodeQP(nullptr, 1, out), E_INVALIDARG);
    EXPECT_EQ(decodeQP(nullptr, 0, out), S_OK);
    EXPECT_EQ(out, "");
    // A longer string from an earlier call is cut to the new result.
    out.assign(5000, 'x');
    EXPECT_EQ(encodeBase64("foo", 3, out, false), S_OK);
    EXPECT_EQ(out, "Zm9v");
}

TEST(CoderQuotedPrintable, EncodingRules) {
    EXPECT_EQ(qp("a=b"), "a=3Db");
    EXPECT_EQ(qp("\n"), "=0A");
    EXPECT_EQ(qp("a\rb"), "a=0Db");
    EXPECT_EQ(qp("a\r"), "a=0D");
    EXPECT_EQ(qp("a\r\nb"), "a\r\nb");
    EXPECT_EQ(qp("\x7f\x80\xff~!<>"), "=7F=80=FF~!<>");
    std::string letters(70, 'x');
    EXPECT_EQ(qp(letters), std::string(65, 'x') + "=\r\n" + std::string(5, 'x'));
    EXPECT_EQ(qp(std::string(65, 'x')), std::string(65, 'x'));  // no break after the last byte
    // Blanks stay literal only below column 64.
    EXPECT_EQ(qp(std::string(63, 'y') + " z"), std::string(63, 'y') + " z");
    EXPECT_EQ(qp(std::string(64, 'y') + "\tz"), std::string(64, 'y') + "=09=\r\nz");
    // Escapes push the count past 65 and still break.
    std::string escapes = qp(std::string(100, '\xff'));
    size_t start = 0;
    while (start < escapes.size()) {
        size_t end = escapes.find("\r\n", start);
        size_t line = (end == std::string::npos ? escapes.size() : end) - start;
        EXPECT_LE(line, 76u);
        EXPECT_GE(line, end == std::string::npos ? 1u : 66u);
        start = end == std::string::npos ? escapes.size() : end + 2;
    }
    std::string line;
    for (int i = 0; i < 22; ++i) {
        line += "=FF";
    }
    EXPECT_EQ(escapes.substr(0, 69), line + "=\r\n");  // 63 -> 66 crosses 65
    // A CR LF resets the count.
    EXPECT_EQ(qp(std::string(60, 'a') + "\r\n" + std::string(60, 'b')),
              std::string(60, 'a') + "\r\n" + std::string(60, 'b'));
}

TEST(CoderQuotedPrintable, FlagsForOtherCallers) {
    std::string out;
    auto encode = [&](const std::string& in, unsigned flags) {
        detail::qpEncode(reinterpret_cast<const uint8_t*>(in.data()), in.size(), out, flags);
        return out;
    };
    auto decode = [&](const std::string& in, unsigned flags) {
        detail::qpDecode(reinterpret_cast<const uint8_t*>(in.data()), in.size(), out, flags);
        return out;
    };
    EXPECT_EQ(encode("", detail::kQpTrailingSoftBreak), "=\r\n");
    EXPECT_EQ(encode("ab", detail::kQpTrailingSoftBreak), "ab=\r\n");
    EXPECT_EQ(encode(".a\r\n.b", detail::kQpDot), "..a\r\n..b");
    EXPECT_EQ(encode("a.b", detail::kQpDot), "a.b");
    EXPECT_EQ(decode("..a\r\n..b.", detail::kQpDot), ".a\r\n.b.");
    EXPECT_EQ(decode("..a", 0), "..a");
}

TEST(CoderQuotedPrintable, DecodingRules) {
    EXPECT_EQ(unqp("=4a=4A"), "JJ");
    EXPECT_EQ(unqp("a=\r\nx"), "ax");
    EXPECT_EQ(unqp("a=\nY"), "aY");
    EXPECT_EQ(unqp("a=\rY"), "aY");
    EXPECT_EQ(unqp("a=\r=41"), "aA");  // the byte after "=" CR is read again
    EXPECT_EQ(unqp("=zz"), "=zz");
    EXPECT_EQ(unqp("=4z"), "=4z");
    EXPECT_EQ(unqp(std::string("=\0A", 3)), "=A");
    EXPECT_EQ(unqp("end="), "end=");
    EXPECT_EQ(unqp("end=4"), "end=4");
    EXPECT_EQ(unqp("end=\r"), "end");
    EXPECT_EQ(unqp("a\nb"), "a\r\nb");
    EXPECT_EQ(unqp("a\rb"), "a\r\nb");
    EXPECT_EQ(unqp("a\r\nb"), "a\r\nb");
    EXPECT_EQ(unqp("a\n\rb"), "a\r\nb");
    EXPECT_EQ(unqp("a\n\nb"), "a\r\n\r\nb");
    EXPECT_EQ(unqp("a\r\rb"), "a\r\n\r\nb");
    EXPECT_EQ(unqp("a\r\n\r\nb"), "a\r\n\r\nb");
    EXPECT_EQ(unqp("a\n\r\nb"), "a\r\n\r\nb");
    // Lone line feeds double the size: growth beyond the estimate.
    std::string feeds(100000, '\n');
    EXPECT_EQ(unqp(feeds).size(), 200000u);
    std::string data = bytes(5000, 3) + "\r\n" + bytes(100, 4);
    EXPECT_EQ(unqp(qp(data)), data);
}

TEST(CoderNormalize, LineBreaksBecomeCrLf) {
    EXPECT_EQ(normalized("a\rb\nc"), "a\r\nb\r\nc");
    EXPECT_EQ(normalized("\n\r"), "\r\n\r\n");
    EXPECT_EQ(normalized("\r\n\r"), "\r\n\r\n");
    EXPECT_EQ(normalized(std::string("ab\0cd\n", 6)), "ab");

    StreamRef source(memoryStream("x\ry"));
    StreamRef target(memoryStream());
    EXPECT_EQ(normalizeLineBreaks(source.get(), target.get()), S_OK);
    EXPECT_EQ(streamContent(target.get()), "x\r\ny");
    EXPECT_EQ(streamSize(target.get()), 4u);
    EXPECT_EQ(streamPosition(target.get()), 4u);  // not rewound
    EXPECT_EQ(normalizeLineBreaks(nullptr, target.get()), E_INVALIDARG);
}

// The stream forms read in 0x40000-byte chunks; every coder keeps its state
// across the chunk borders and gives the byte-range result.
TEST(CoderStreams, ChunkedStreamsGiveTheWholeInputResult) {
    const size_t chunk = detail::kChunkSize;
    std::vector<size_t> sizes = {0, 1, chunk - 2, chunk - 1, chunk, chunk + 1, chunk + 2, 3 * chunk + 1};
    unsigned seed = 10;
    for (size_t n : sizes) {
        SCOPED_TRACE(n);
        std::string data = bytes(n, ++seed);
        std::string text = trickyText(n, ++seed);
        // Put the troublesome cases right on the first border.
        if (n > chunk + 2) {
            text.replace(chunk - 1, 2, "=\r");
            data[chunk - 1] = '\r';
            data[chunk] = '\n';
        }

        std::string expected;
        ASSERT_EQ(encodeBase64(data, expected, true), S_OK);
        std::string got;
        StreamRef source(memoryStream(data));
        EXPECT_EQ(encodeBase64(source.get(), got, true), S_OK);
        EXPECT_EQ(got, expected);
        StreamRef encoded(memoryStream());
        source->Seek(LARGE_INTEGER{}, STREAM_SEEK_SET, nullptr);
        EXPECT_EQ(encodeBase64(source.get(), encoded.get(), true), S_OK);
        EXPECT_EQ(streamContent(encoded.get()), expected);
        EXPECT_EQ(streamSize(encoded.get()), expected.size());
        EXPECT_EQ(streamPosition(encoded.get()), 0u);

        StreamRef decoded(memoryStream());
        EXPECT_EQ(decodeBase64(encoded.get(), decoded.get()), S_OK);
        EXPECT_EQ(streamContent(decoded.get()), data);

        ASSERT_EQ(encodeQP(data, expected), S_OK);
        source->Seek(LARGE_INTEGER{}, STREAM_SEEK_SET, nullptr);
        EXPECT_EQ(encodeQP(source.get(), got), S_OK);
        EXPECT_EQ(got, expected);

        ASSERT_EQ(decodeQP(text, expected), S_OK);
        StreamRef qpSource(memoryStream(text));
        StreamRef qpTarget(memoryStream());
        EXPECT_EQ(decodeQP(qpSource.get(), qpTarget.get()), S_OK);
        EXPECT_EQ(streamContent(qpTarget.get()), expected);
        EXPECT_EQ(streamSize(qpTarget.get()), expected.size());

        std::string noNul = text;
        std::replace(noNul.begin(), noNul.end(), '\0', 'z');
        StreamRef nlSource(memoryStream(noNul));
        StreamRef nlTarget(memoryStream());
        EXPECT_EQ(normalizeLineBreaks(nlSource.get(), nlTarget.get()), S_OK);
        EXPECT_EQ(streamContent(nlTarget.get()), normalized(noNul));
    }
}

TEST(CoderStreams, DestinationKeepsWhatPrecedesItsPosition) {
    StreamRef source(memoryStream("Zm9vYmFy"));
    StreamRef target(memoryStream("PREFIX-and-old-tail-that-goes"));
    target->Seek(LARGE_INTEGER{{7, 0}}, STREAM_SEEK_SET, nullptr);
    EXPECT_EQ(decodeBase64(source.get(), target.get()), S_OK);
    EXPECT_EQ(streamContent(target.get()), "PREFIX-foobar");
    EXPECT_EQ(streamSize(target.get()), 13u);
    EXPECT_EQ(streamPosition(target.get()), 0u);
}

TEST(CoderStreams, SourceStartsAtItsPosition) {
    StreamRef source(memoryStream("skip:foo"));
    source->Seek(LARGE_INTEGER{{5, 0}}, STREAM_SEEK_SET, nullptr);
    std::string out;
    EXPECT_EQ(encodeBase64(source.get(), out, false), S_OK);
    EXPECT_EQ(out, "Zm9v");
}

TEST(CoderStreams, AFailingReadIsAnErrorNotTheEnd) {
    std::string data = bytes(3 * detail::kChunkSize, 5);
    // Reads succeed for the first chunk and a half, in small pieces, then fail.
    ScriptedStream failing(data, detail::kChunkSize + detail::kChunkSize / 2, STG_E_READFAULT, 10000);
    std::string out = "x";
    EXPECT_EQ(encodeBase64(&failing, out, true), STG_E_READFAULT);
    EXPECT_EQ(out, "");
    failing.Seek(LARGE_INTEGER{}, STREAM_SEEK_SET, nullptr);
    EXPECT_EQ(encodeQP(&failing, out), STG_E_READFAULT);
    failing.Seek(LARGE_INTEGER{}, STREAM_SEEK_SET, nullptr);
    StreamRef target(memoryStream());
    EXPECT_EQ(decodeBase64(&failing, target.get()), STG_E_READFAULT);
    failing.Seek(LARGE_INTEGER{}, STREAM_SEEK_SET, nullptr);
    EXPECT_EQ(decodeQP(&failing, target.get()), STG_E_READFAULT);
    EXPECT_EQ(failing.refs, 1u);
    // Normalisation stops at a NUL byte; this input has none.
    std::string text(2 * detail::kChunkSize, 'n');
    ScriptedStream failingText(text, detail::kChunkSize + 5, STG_E_READFAULT);
    EXPECT_EQ(normalizeLineBreaks(&failingText, target.get()), STG_E_READFAULT);

    // Short reads that succeed are not an end either.
    ScriptedStream pieces(data, SIZE_MAX, S_OK, 777);
    std::string expected;
    ASSERT_EQ(encodeBase64(data, expected, true), S_OK);
    EXPECT_EQ(encodeBase64(&pieces, out, true), S_OK);
    EXPECT_EQ(out, expected);
}

TEST(CoderStreams, NullStreams) {
    StreamRef stream(memoryStream("abc"));
    std::string out = "keep";
    EXPECT_EQ(encodeBase64(static_cast<IStream*>(nullptr), out, true), E_INVALIDARG);
    EXPECT_EQ(encodeQP(static_cast<IStream*>(nullptr), out), E_INVALIDARG);
    EXPECT_EQ(encodeBase64(stream.get(), static_cast<IStream*>(nullptr), true), E_INVALIDARG);
    EXPECT_EQ(decodeBase64(static_cast<IStream*>(nullptr), stream.get()), E_INVALIDARG);
    EXPECT_EQ(decodeQP(stream.get(), static_cast<IStream*>(nullptr)), E_INVALIDARG);
    EXPECT_EQ(streamContent(stream.get()), "abc");
}

TEST(CoderStreams, DestinationThatCannotBeWritten) {
    StreamRef source(memoryStream("Zm9vYmFy"));
    IStream* readOnly = nullptr;
    ASSERT_EQ(streamUtils::createStream(streamUtils::MemoryStream, &readOnly, "old", 3, true, false, false),
              S_OK);
    StreamRef target(readOnly);
    EXPECT_EQ(decodeBase64(source.get(), target.get()), STG_E_ACCESSDENIED);
    EXPECT_EQ(streamContent(target.get()), "old");
}

namespace {

// Straightforward readings of the quoted-printable rules, one byte at a time,
// to check the coder's fast paths against.
std::string referenceQpEncode(const std::string& in, bool dots) {
    std::string out;
    unsigned count = 0;
    for (size_t i = 0; i < in.size(); ++i) {
        uint8_t b = static_cast<uint8_t>(in[i]);
        auto escape = [&](uint8_t c) {
            static const char* hex = "0123456789ABCDEF";
            out += '=';
            out += hex[c >> 4];
            out += hex[c & 15];
            count += 3;
        };
        if (dots && count == 0 && b == '.') {
            out += "..";
            count = 2;
        } else if ((b >= 33 && b <= 60) || (b >= 62 && b <= 126)) {
            out += static_cast<char>(b);
            ++count;
        } else if (b == ' ' || b == '\t') {
            if (count < 64) {
                out += static_cast<char>(b);
                ++count;
            } else {
                escape(b);
            }
        } else if (b == '\r' && i + 1 < in.size() && in[i + 1] == '\n') {
            out += "\r\n";
            ++i;
            count = 0;
        } else {
            escape(b);
        }
        if (count >= 65 && i + 1 < in.size()) {
            out += "=\r\n";
            count = 0;
        }
    }
    return out;
}

std::string viaDetail(int (*coder)(const uint8_t*, size_t, std::string&, unsigned), const std::string& in,
                      unsigned flags) {
    std::string out;
    coder(reinterpret_cast<const uint8_t*>(in.data()), in.size(), out, flags);
    return out;
}

}  // namespace

TEST(CoderQuotedPrintable, MatchesTheRulesOnTrickyText) {
    std::string plainish;
    for (int i = 0; i < 20000; ++i) {
        plainish += (i % 97 == 0) ? "=4A" : (i % 89 == 0) ? "=\r\n" : (i % 83 == 0) ? "\r\n." : "word ";
    }
    for (unsigned seed = 1; seed <= 30; ++seed) {
        std::string text = seed == 30 ? plainish : trickyText(3000 + seed * 101, seed);
        for (unsigned flags : {0u, detail::kQpDot}) {
            SCOPED_TRACE(testing::Message() << "seed " << seed << " flags " << flags);
            bool dots = flags != 0;
            ASSERT_TRUE(viaDetail(&detail::qpDecode, text, flags) == qpreference::decode(text, dots));
            ASSERT_TRUE(viaDetail(&detail::qpEncode, text, flags) == referenceQpEncode(text, dots));
        }
        // Tiny reads put every border everywhere.
        std::string whole;
        ASSERT_EQ(decodeQP(text, whole), S_OK);
        for (size_t piece : {1u, 2u, 3u, 7u, 9u}) {
            ScriptedStream source(text, SIZE_MAX, S_OK, piece);
            StreamRef target(memoryStream());
            ASSERT_EQ(decodeQP(&source, target.get()), S_OK);
            ASSERT_TRUE(streamContent(target.get()) == whole) << "piece " << piece;
            ScriptedStream encodeSource(text, SIZE_MAX, S_OK, piece);
            std::string encoded;
            ASSERT_EQ(encodeQP(&encodeSource, encoded), S_OK);
            ASSERT_TRUE(encoded == referenceQpEncode(text, false)) << "piece " << piece;
        }
    }
}

// Mail-like text as an encoder writes it, then roughed up as mail arrives:
// escapes in lower case, lone line ends, broken escapes and an input that
// ends inside an escape. The fast paths decode it byte for byte as the rules.
TEST(CoderQuotedPrintable, MailLikeTextDecodesAsTheRules) {
    std::mt19937 random(11);
    std::string mail;
    for (int i = 0; i < 40000; ++i) {
        unsigned r = random() % 100;
        mail += r < 3    ? static_cast<char>(0xC0 + random() % 64)
                : r < 5  ? '='
                : r < 17 ? ' '
                         : char('a' + r % 26);
        if (random() % 70 == 0) {
            mail += "\r\n";
        }
    }
    std::string encoded;
    ASSERT_EQ(encodeQP(mail, encoded), S_OK);
    ASSERT_EQ(unqp(encoded), mail);
    std::string rough = encoded;
    for (size_t i = 0; i + 3 < rough.size(); ++i) {
        if (rough[i] == '=' && random() % 3 == 0) {
            rough[i + 1] = static_cast<char>(std::tolower(static_cast<unsigned char>(rough[i + 1])));
            rough[i + 2] = static_cast<char>(std::tolower(static_cast<unsigned char>(rough[i + 2])));
        } else if (rough[i] == '\r' && random() % 5 == 0) {
            rough[i] = random() % 2 ? '=' : 'x';  // "=\n" soft break or a lone LF
        } else if (random() % 997 == 0) {
            rough.insert(i, random() % 2 ? "=G1" : "=\r");
        }
    }
    for (const char* end : {"", "=", "=4", "=\r", "=\n", "=a"}) {
        for (unsigned flags : {0u, detail::kQpDot}) {
            SCOPED_TRACE(testing::Message() << "end \"" << end << "\" flags " << flags);
            std::string text = rough + end;
            ASSERT_TRUE(viaDetail(&detail::qpDecode, text, flags) == qpreference::decode(text, flags != 0));
        }
    }
}

TEST(CoderBase64, TinyReadsGiveTheWholeInputResult) {
    std::string data = bytes(5000, 77);
    std::string expected;
    ASSERT_EQ(encodeBase64(data, expected, true), S_OK);
    std::string noisy = expected;
    for (size_t i = 0; i < noisy.size(); i += 13) {
        noisy.insert(i, "*");  // bytes outside the alphabet
    }
    for (size_t piece : {1u, 2u, 3u, 5u, 11u}) {
        ScriptedStream source(data, SIZE_MAX, S_OK, piece);
        std::string encoded;
        ASSERT_EQ(encodeBase64(&source, encoded, true), S_OK);
        EXPECT_TRUE(encoded == expected) << piece;
        ScriptedStream text(noisy, SIZE_MAX, S_OK, piece);
        StreamRef decoded(memoryStream());
        ASSERT_EQ(decodeBase64(&text, decoded.get()), S_OK);
        EXPECT_TRUE(streamContent(decoded.get()) == data) << piece;
    }
}
