// Converters opened by name, against the golden file that
// platform/tools/make_codepage_tables.py writes from Python's codecs.
#include <gtest/gtest.h>

#include <cerrno>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "converter_feed.h"
#include "winplat/converter.h"

namespace {

std::string unhex(const std::string& text) {
    std::string bytes;
    if (text == "-") {
        return bytes;
    }
    for (size_t i = 0; i + 1 < text.size(); i += 2) {
        bytes.push_back(static_cast<char>(std::stoi(text.substr(i, 2), nullptr, 16)));
    }
    return bytes;
}

std::vector<std::vector<std::string>> golden(const std::string& kind) {
    std::ifstream file(WINPLAT_SOURCE_DIR "/tests/data/converters_golden.txt");
    EXPECT_TRUE(file.good());
    std::vector<std::vector<std::string>> rows;
    std::string line;
    while (std::getline(file, line)) {
        std::istringstream words(line);
        std::vector<std::string> row;
        for (std::string w; words >> w;) {
            row.push_back(w);
        }
        if (!row.empty() && row[0] == kind) {
            rows.emplace_back(row.begin() + 1, row.end());
        }
    }
    return rows;
}

using winplat::testing::feed;
using winplat::testing::Outcome;

int errorNamed(const std::string& name) {
    return name == "ok" ? 0 : name == "EILSEQ" ? EILSEQ : name == "EINVAL" ? EINVAL : -1;
}

TEST(Converter, EveryByteOfTheSingleBytePagesBothWays) {
    std::map<std::string, int> bytesPerPage;
    for (const auto& row : golden("byte")) {
        const std::string& page = row[0];
        SCOPED_TRACE(page + " byte " + row[1]);
        ++bytesPerPage[page];
        const std::string byte = unhex(row[1]);
        const Outcome decoded = feed("UTF-16LE", page, byte, 1, 8);
        if (row[2] == "-") {
            EXPECT_EQ(decoded.error, EILSEQ);
            continue;
        }
        const std::string unit = unhex(row[2].substr(2, 2) + row[2].substr(0, 2));
        EXPECT_EQ(decoded.error, 0);
        EXPECT_EQ(decoded.out, unit);
        const Outcome encoded = feed(page, "UTF-16LE", unit, 2, 8);
        EXPECT_EQ(encoded.error, row[3] == "-" ? EILSEQ : 0);
        EXPECT_EQ(encoded.out, unhex(row[3]));
    }
    EXPECT_EQ(bytesPerPage.size(), 9u);
    for (const auto& [page, count] : bytesPerPage) {
        EXPECT_EQ(count, 256) << page;
    }
}

// Every text in one piece and cut at every byte, through a small output buffer.
TEST(Converter, StatefulPagesAsPythonAnswers) {
    size_t cases = 0;
    for (const std::string kind : {"decode", "encode"}) {
        for (const auto& row : golden(kind)) {
            const std::string& page = row[0];
            const std::string input = unhex(row[1]);
            const bool decoding = kind == "decode";
            for (size_t cut = 0; cut <= input.size(); ++cut) {
                SCOPED_TRACE(kind + " " + page + " " + row[1] + " cut at " + std::to_string(cut));
                const Outcome o =
                    decoding ? feed("UTF-16LE", page, input, cut, 8) : feed(page, "UTF-16LE", input, cut, 8);
                EXPECT_EQ(o.error, errorNamed(row[3]));
                EXPECT_EQ(o.offset, std::stoul(row[4]));
                EXPECT_EQ(o.out, unhex(row[2]));
            }
            ++cases;
        }
    }
    EXPECT_EQ(cases, 37u);
}

TEST(Converter, OpeningAndTheWideSide) {
    for (const char* name : {"MACHEBREW", "MACTHAI", "NO-SUCH-PAGE"}) {
        errno = 0;
        winplat::Converter conv("UTF-16LE", name);
        EXPECT_FALSE(conv.ok()) << name;
        EXPECT_EQ(errno, EINVAL) << name;
    }
    // Pages of our own pair with UTF-16LE and UCS-2LE only; the C library's
    // pages under another name pair with anything.
    EXPECT_FALSE(winplat::Converter("UTF-8", "MACGREEK").ok());
    EXPECT_FALSE(winplat::Converter("HZ-GB-2312", "MACGREEK").ok());
    EXPECT_EQ(feed("UTF-8", "maccentraleurope", "\x80", 1, 8).out, "\xC3\x84");
    EXPECT_EQ(feed("UTF-8", "MACUKRAINE", "\xA2\xFF", 2, 8).out, "\xD2\x90\xC2\xA4");
    EXPECT_EQ(feed("UCS-2LE", "MacGreek", "\xA1", 1, 8).out, "\x93\x03");
    // A character the page lacks stops the conversion where it stands.
    const Outcome lacking = feed("MACGREEK", "UTF-16LE", std::string("a\0\x16\x04", 4), 4, 8);
    EXPECT_EQ(lacking.error, EILSEQ);
    EXPECT_EQ(lacking.offset, 2u);
    EXPECT_EQ(lacking.out, "a");

    // A cut unit waits; a high surrogate ending UTF-16LE waits, in UCS-2LE it
    // has no conversion, as has a whole pair.
    const Outcome cut = feed("MACROMAN", "UTF-16LE", std::string("a\0b", 3), 3, 8);
    EXPECT_EQ(cut.error, EINVAL);
    EXPECT_EQ(cut.offset, 2u);
    EXPECT_EQ(feed("MACROMAN", "UTF-16LE", "\x3D\xD8", 2, 8).error, EINVAL);
    EXPECT_EQ(feed("MACROMAN", "UCS-2LE", "\x3D\xD8", 2, 8).error, EILSEQ);
    EXPECT_EQ(feed("MACROMAN", "UTF-16LE", std::string("\x3D\xD8\x00\xDE", 4), 4, 8).error, EILSEQ);

    // No room: E2BIG without consuming; a null output only resets.
    winplat::Converter hz("HZ-GB-2312", "UTF-16LE");
    std::string in("\x2D\x4E", 2);
    char* inPtr = in.data();
    size_t inLeft = in.size();
    char out[8];
    char* outPtr = out;
    size_t outLeft = 3;
    EXPECT_EQ(hz.convert(&inPtr, &inLeft, &outPtr, &outLeft), static_cast<size_t>(-1));
    EXPECT_EQ(errno, E2BIG);
    EXPECT_EQ(inLeft, 2u);
    EXPECT_EQ(outLeft, 3u);
    outLeft = 4;
    EXPECT_EQ(hz.convert(&inPtr, &inLeft, &outPtr, &outLeft), 0u);
    EXPECT_EQ(std::string(out, 4), "~{VP");
    EXPECT_EQ(hz.convert(nullptr, nullptr, nullptr, nullptr), 0u);
    char again[8];
    inPtr = in.data();
    inLeft = in.size();
    outPtr = again;
    outLeft = sizeof(again);
    EXPECT_EQ(hz.convert(&inPtr, &inLeft, &outPtr, &outLeft), 0u);
    EXPECT_EQ(std::string(again, 4), "~{VP");  // GB mode opened again after the reset
}

}  // namespace
