// Stream utilities.
#include <gtest/gtest.h>

#include <boost/iostreams/stream.hpp>

#include "CommonBase/HResultException.h"
#include "StreamTestSupport.h"
#include "TempFolder.h"
#include "winplat/mapi.h"
#include "winplat/utf16.h"

using namespace streamUtils;

namespace {

template <typename Body>
void expectRaise(Body body, HRESULT hr, const std::string& function) {
    try {
        body();
        ADD_FAILURE() << "no exception, expected " << function;
    } catch (const HResultException& e) {
        EXPECT_EQ(e.getHResult(), hr) << e.what();
        EXPECT_NE(std::string(e.what()).find("StreamUtils("), std::string::npos) << e.what();
        EXPECT_NE(std::string(e.what()).find(", " + function + ":"), std::string::npos) << e.what();
    }
}

std::string utf16(const std::wstring& text) {
    return winplat::wideToBytes(text);
}

std::wstring convert(const std::string& bytes, unsigned codePage) {
    StreamRef source(memoryStream(bytes));
    StreamRef target(memoryStream());
    multibyteToUnicode(source.get(), target.get(), codePage);
    std::string out = streamContent(target.get());
    return winplat::bytesToWide(out.data(), out.size());
}

std::string escaped(const std::string& utf16Text) {
    StreamRef source(memoryStream(utf16Text));
    StreamRef target(memoryStream());
    replaceHtmlEntities(source.get(), target.get());
    return streamContent(target.get());
}

}  // namespace

TEST(StreamUtils, ExactReadsPositionsAndSizes) {
    StreamRef stream(memoryStream("abcdef"));
    char buffer[8] = {};
    streamUtils::detail::readData(stream.get(), buffer, 4);
    EXPECT_EQ(std::string(buffer, 4), "abcd");
    expectRaise([&] { streamUtils::detail::readData(stream.get(), buffer, 3); }, STG_E_READFAULT,
                "streamUtils::detail::readData");
    expectRaise([&] { streamUtils::detail::readData(stream.get(), nullptr, 1); }, E_INVALIDARG,
                "streamUtils::detail::readData");
    expectRaise([&] { streamUtils::detail::readData(nullptr, buffer, 1); }, E_INVALIDARG,
                "streamUtils::detail::checkStream");

    rewind(stream.get());
    std::vector<char> terminated;
    streamUtils::detail::readData(stream.get(), terminated, 4);
    EXPECT_STREQ(terminated.data(), "abc");
    // A buffer without room for the terminator is refused, not overrun.
    expectRaise([&] { streamUtils::detail::readData(stream.get(), terminated, 0); }, E_INVALIDARG,
                "streamUtils::detail::readData");

    seek(stream.get(), int32_t(-2), STREAM_SEEK_END);
    EXPECT_EQ(pos(stream.get()), 4u);
    seek(stream.get(), int64_t(1), STREAM_SEEK_CUR);
    EXPECT_EQ(longPos(stream.get()), 5u);
    expectRaise([&] { seek(nullptr, int32_t(0), STREAM_SEEK_SET); }, E_INVALIDARG, "streamUtils::seek");
    expectRaise([&] { seek(stream.get(), int64_t(-100), STREAM_SEEK_CUR); }, STG_E_INVALIDFUNCTION,
                "streamUtils::seek");
    EXPECT_EQ(getStreamSize(stream.get()), 6u);
    seek(stream.get(), int64_t(0x100000000ll), STREAM_SEEK_SET);
    EXPECT_EQ(longPos(stream.get()), 0x100000000ull);
    expectRaise([&] { pos(stream.get()); }, MAPI_E_TOO_BIG, "streamUtils::pos");
    seek(stream.get(), int64_t(0xFFFFFFFFll), STREAM_SEEK_SET);
    EXPECT_EQ(pos(stream.get()), 0xFFFFFFFFu);

    ScriptedStream huge("", SIZE_MAX, S_OK);
    huge.statSize = 0xFFFFFFFFull;
    EXPECT_EQ(getStreamSize(&huge), 0xFFFFFFFFu);
    huge.statSize = 0x100000000ull;
    expectRaise([&] { getStreamSize(&huge); }, MAPI_E_TOO_BIG, "streamUtils::getStreamSize");
    expectRaise([&] { getStreamSize(nullptr); }, E_INVALIDARG, "streamUtils::getStreamSize");
}

TEST(StreamUtils, CopyKeepsOrMovesThePosition) {
    StreamRef source(memoryStream("0123456789"));
    StreamRef target(memoryStream());
    seek(source.get(), int32_t(3), STREAM_SEEK_SET);
    EXPECT_EQ(copy(source.get(), target.get(), true), S_OK);
    EXPECT_EQ(streamContent(target.get()), "3456789");
    EXPECT_EQ(longPos(source.get()), 3u);
    EXPECT_EQ(copy(source.get(), target.get(), false), S_OK);
    EXPECT_EQ(longPos(source.get()), 10u);
    EXPECT_EQ(streamContent(target.get()), "34567893456789");
    expectRaise([&] { copy(source.get(), source.get(), false); }, E_INVALIDARG, "streamUtils::copy");
    expectRaise([&] { copy(source.get(), nullptr, false); }, E_INVALIDARG,
                "streamUtils::detail::checkStream");
}

TEST(StreamUtils, WritingText) {
    StreamRef stream(memoryStream());
    writeStr(stream.get(), "ab");
    writeStr(stream.get(), L"c\u00e9");
    writeStr(stream.get(), std::string("d"));
    writeStr(stream.get(), std::wstring(L"e"));
    writeStr(stream.get(), static_cast<const char*>(nullptr));
    writeStr(stream.get(), "xyz", 2);
    writeStr(stream.get(), uint32_t(0x04030201));
    writeStr(stream.get(), uint16_t(0x0605));
    EXPECT_EQ(streamContent(stream.get()), std::string("abc\0\xe9\0"
                                                       "de\0xy\x01\x02\x03\x04\x05\x06",
                                                       17));
    IStream* readOnly = nullptr;
    ASSERT_EQ(createStream(MemoryStream, &readOnly, true, false, false), S_OK);
    StreamRef guard(readOnly);
    expectRaise([&] { writeStr(readOnly, "x"); }, STG_E_ACCESSDENIED, "streamUtils::detail::writeStr");
    expectRaise([&] { writeStr(nullptr, "x"); }, E_INVALIDARG, "streamUtils::detail::checkStream");
}

TEST(StreamUtils, CreateStreamKinds) {
    TempFolder folder;
    IStream* untouched = reinterpret_cast<IStream*>(0x1234);
    EXPECT_EQ(createStream(3, &untouched, false, false, false), E_INVALIDARG);
    EXPECT_EQ(untouched, reinterpret_cast<IStream*>(0x1234));
    for (int kind : {MemoryStream, TempFileStream, AdaptiveStream}) {
        IStream* stream = nullptr;
        ASSERT_EQ(createStream(kind, &stream, "seed", 4, false, false, false), S_OK) << kind;
        EXPECT_EQ(streamContent(stream), "seed");
        stream->Release();
    }
    IStream* adaptive = nullptr;
    EXPECT_EQ(createStream(&adaptive), S_OK);
    writeStr(adaptive, "z");
    EXPECT_EQ(streamContent(adaptive), "z");
    adaptive->Release();
}

TEST(StreamUtils, CodePagesToUtf16) {
    std::string high;
    for (int b = 0x20; b < 0x100; ++b) {
        if (b != 0x81 && b != 0x8D && b != 0x8F && b != 0x90 && b != 0x9D) {  // unassigned in 1252
            high += static_cast<char>(b);
        }
    }
    std::wstring wide = convert(high, 1252);
    ASSERT_EQ(wide.size(), high.size());  // one unit per byte
    EXPECT_EQ(wide[0x80 - 0x20], L'\u20AC');
    EXPECT_EQ(wide.back(), L'\u00FF');
    EXPECT_EQ(convert("\x80", 0), L"\u20AC");  // code page 0 is 1252

    // A double-byte character split by the 4096-byte piece border.
    std::string sjis(4095, 'a');
    sjis += "\x82\xA0";  // HIRAGANA LETTER A
    sjis += "b";
    std::wstring japanese = convert(sjis, 932);
    ASSERT_EQ(japanese.size(), 4097u);
    EXPECT_EQ(japanese[4095], L'\u3042');
    EXPECT_EQ(japanese[4096], L'b');

    // An invalid byte is skipped; a character outside the BMP is not representable.
    EXPECT_EQ(convert("a\xff"
                      "b",
                      65001),
              L"ab");
    EXPECT_EQ(convert("x\xC3\xA9y", 65001), L"x\u00e9y");
    EXPECT_EQ(convert("", 65001), L"");

    // The output goes at the target's position.
    StreamRef source(memoryStream("hi"));
    StreamRef target(memoryStream(utf16(L"[]")));
    seek(target.get(), int32_t(2), STREAM_SEEK_SET);
    multibyteToUnicode(source.get(), target.get(), 1252);
    EXPECT_EQ(streamContent(target.get()), utf16(L"[hi"));
}

TEST(StreamUtils, CodePagesWithoutAConverter) {
    StreamRef source(memoryStream("abc"));
    StreamRef target(memoryStream());
    // EBCDIC: no converter name at all.
    EXPECT_THROW(multibyteToUnicode(source.get(), target.get(), 37), IConvException);
    // Mac Hebrew and Mac Thai: a converter name, but no mapping on this platform.
    for (unsigned codePage : {10005u, 10021u}) {
        rewind(source.get());
        EXPECT_THROW(multibyteToUnicode(source.get(), target.get(), codePage), IConvException);
    }
    try {
        rewind(source.get());
        multibyteToUnicode(source.get(), target.get(), 37);
    } catch (const IConvException& e) {
        EXPECT_STREQ(e.what(), "Can't open iconv converter.");
    }
    EXPECT_EQ(streamContent(target.get()), "");
    expectRaise([&] { multibyteToUnicode(nullptr, target.get(), 1252); }, E_INVALIDARG,
                "streamUtils::multibyteToUnicode");
}

// The code pages whose converters are not the C library's own, read in
// pieces of one to three bytes; the expected text is Python's codecs'.
TEST(StreamUtils, CodePagesOfOurOwnConvertersInSmallPieces) {
    const std::string mac = "\x41\x80\xA2\xC6\xDB\xF0\xFF";
    const struct {
        unsigned codePage;
        std::string bytes;
        std::wstring text;
    } rows[] = {
        {10000, mac, L"A\u00C4\u00A2\u2206\u20AC\uF8FF\u02C7"},
        {10004, mac, L"A\u00C4\"\u0626[\u0650\u06D2"},
        {10006, mac, L"A\u00C4\u0394\u03A4\u03AD\u03C0\u00AD"},
        {10010, mac, L"A\u00C4\u00A2\u2206\u20AC\uF8FF\u02C7"},
        {10017, mac, L"A\u0410\u0490\u2206\u045F\u0440\u00A4"},
        {10029, mac, L"A\u00C4\u0118\u2206\u0158\u016B\u02C7"},
        {10079, mac, L"A\u00C4\u00A2\u2206\u20AC\uF8FF\u02C7"},
        {10081, mac, L"A\u00C4\u00A2\u2206\u011F\uF8FF\u02C7"},
        {10082, mac, L"A\u00C4\u00A2\u0106\u20AC\u0111\u02C7"},
        {52936, "a~{VPND~}b~~c~\nd~{VP", L"a\u4E2D\u6587b~cd\u4E2D"},
        {50221, "a\x1b$BCf\x1b$(D+1\x1b(J\\\x1b(B\\", L"a\u4E2D\u00E9\u00A5\\"},
    };
    for (const auto& row : rows) {
        for (size_t piece = 1; piece <= 3; ++piece) {
            SCOPED_TRACE(std::to_string(row.codePage) + " in pieces of " + std::to_string(piece));
            ScriptedStream source(row.bytes, SIZE_MAX, S_OK, piece);
            StreamRef target(memoryStream());
            multibyteToUnicode(&source, target.get(), row.codePage);
            EXPECT_EQ(streamContent(target.get()), utf16(row.text));
            EXPECT_EQ(source.refs, 1u);
        }
    }
    // A bad escape is skipped byte by byte, as for any code page; a cut
    // character at the end is dropped.
    EXPECT_EQ(convert("a~xb~{VP~}~", 52936), L"axb\u4E2D");
    EXPECT_EQ(convert("\x1b$ACf\x1b$BC", 50221), L"$ACf");
}

TEST(StreamUtils, HtmlEntities) {
    EXPECT_EQ(escaped(utf16(L"a<b&c")), utf16(L"a&lt;b&amp;c"));
    EXPECT_EQ(escaped(utf16(L"\"'>")), utf16(L"&quot;&#039;&gt;"));
    EXPECT_EQ(escaped(utf16(L"\n")), utf16(L"<br>\r\n"));
    EXPECT_EQ(escaped(utf16(L"1\r\n2\n\r3\r4\n5")), utf16(L"1<br>\r\n2<br>\r\n3<br>\r\n4<br>\r\n5"));
    EXPECT_EQ(escaped(utf16(L"\r\n\r\n")), utf16(L"<br>\r\n<br>\r\n"));
    EXPECT_EQ(escaped(utf16(L"\n\r\n")), utf16(L"<br>\r\n<br>\r\n"));
    EXPECT_EQ(escaped(utf16(L"caf\u00e9 \U0001F600")), utf16(L"caf\u00e9 \U0001F600"));
    EXPECT_EQ(escaped(""), "");

    // Pairs and units split by the 65,536-byte read stay whole.
    std::wstring text(32767, L'x');
    text += L"\r\n&";
    EXPECT_TRUE(escaped(utf16(text)) == utf16(std::wstring(32767, L'x') + L"<br>\r\n&amp;"));
    std::wstring breaks(32767, L'\r');
    breaks += L"\n\n";  // the read border falls inside the run of breaks
    std::wstring expectedBreaks;
    for (int i = 0; i < 32767; ++i) {
        expectedBreaks += L"<br>\r\n";
    }
    EXPECT_TRUE(escaped(utf16(breaks)) == utf16(expectedBreaks + L"<br>\r\n"));
    // Reads of an odd number of bytes split units; they are put together again.
    std::wstring mixed;
    for (int i = 0; i < 30000; ++i) {
        mixed += (i % 3 == 0) ? L"\r\n" : (i % 3 == 1) ? L"<\u00e9" : L"q";
    }
    ScriptedStream pieces(utf16(mixed), SIZE_MAX, S_OK, 65535);
    StreamRef piecesTarget(memoryStream());
    replaceHtmlEntities(&pieces, piecesTarget.get());
    std::string whole = escaped(utf16(mixed));
    EXPECT_EQ(whole.size(), 2u * (10000 * 6 + 10000 * 5 + 10000));
    EXPECT_TRUE(streamContent(piecesTarget.get()) == whole);

    StreamRef stream(memoryStream("ab"));
    expectRaise([&] { replaceHtmlEntities(stream.get(), stream.get()); }, E_INVALIDARG,
                "streamUtils::replaceHtmlEntities");
    // A failing read is reported, not taken as the end.
    ScriptedStream failing(utf16(std::wstring(50000, L'a')), 70000, STG_E_READFAULT);
    StreamRef target(memoryStream());
    expectRaise([&] { replaceHtmlEntities(&failing, target.get()); }, STG_E_READFAULT,
                "streamUtils::replaceHtmlEntities");
}

TEST(StreamUtils, Devices) {
    StreamRef stream(memoryStream());
    {
        boost::iostreams::stream<ComStreamDeviceT<wchar_t>> out(stream.get());
        out << L"wide\u00e9";
    }
    EXPECT_EQ(streamContent(stream.get()), utf16(L"wide\u00e9"));
    rewind(stream.get());
    ComStreamDeviceT<wchar_t> device(stream.get());
    wchar_t units[10] = {};
    EXPECT_EQ(device.read(units, 10), 5);
    EXPECT_EQ(std::wstring(units, 5), L"wide\u00e9");
    EXPECT_EQ(device.read(units, 10), -1);
    EXPECT_EQ(device.seek(1, std::ios_base::beg), 1);  // counted in units
    EXPECT_EQ(longPos(stream.get()), 2u);
    EXPECT_THROW(ComStreamDeviceT<char>(nullptr), HResultException);

    ComStreamDeviceT<char> bytes(stream.get());
    EXPECT_EQ(bytes.seek(0, std::ios_base::end), 10);
    EXPECT_EQ(bytes.write("!!", 2), 2);
    EXPECT_EQ(getStreamSize(stream.get()), 12u);
}
