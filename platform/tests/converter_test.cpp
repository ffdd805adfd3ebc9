// Converters opened by name, against the golden file that
// platform/tools/make_codepage_tables.py writes from Python's codecs.
#include <gtest/gtest.h>

#include <iconv.h>
#include <link.h>

#include <cerrno>
#include <chrono>
#include <fstream>
#include <future>
#include <map>
#include <optional>
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

// ---------------------------------------------------------------------------
// The double-byte pages character by character against the C library's
// converters they are read from.

// What the C library answers for the whole of `input`, or nothing where it
// stops short; one descriptor for every text.
class Library {
  public:
    Library(const char* to, const char* from) : cd_(iconv_open(to, from)) {
        EXPECT_NE(cd_, reinterpret_cast<iconv_t>(-1)) << to << " " << from;
    }
    ~Library() { iconv_close(cd_); }
    Library(const Library&) = delete;
    Library& operator=(const Library&) = delete;

    std::optional<std::string> operator()(const std::string& input) {
        std::string in = input;
        std::string out(64, '\0');
        char* inPtr = in.data();
        size_t inLeft = in.size();
        char* outPtr = out.data();
        size_t outLeft = out.size();
        const size_t r = iconv(cd_, &inPtr, &inLeft, &outPtr, &outLeft);
        iconv(cd_, nullptr, nullptr, nullptr, nullptr);
        if (r == static_cast<size_t>(-1) || inLeft > 0) {
            return std::nullopt;
        }
        out.resize(out.size() - outLeft);
        return out;
    }

  private:
    iconv_t cd_;
};

std::string wideUnit(unsigned unit) {
    return {static_cast<char>(unit & 0xFF), static_cast<char>(unit >> 8)};
}

// Each text through one converter kept open, as the outcome of converting it
// whole and returning to the initial state.
class Reused {
  public:
    Reused(const char* to, const char* from) : conv_(to, from) {
        EXPECT_TRUE(conv_.ok()) << to << " " << from;
    }
    Outcome operator()(const std::string& input) {
        std::string in = input;
        std::string out(4 * in.size() + 16, '\0');
        char* inPtr = in.data();
        size_t inLeft = in.size();
        char* outPtr = out.data();
        size_t outLeft = out.size();
        Outcome o;
        if (conv_.convert(&inPtr, &inLeft, &outPtr, &outLeft) == static_cast<size_t>(-1)) {
            o.error = errno;
            conv_.convert(nullptr, nullptr, nullptr, nullptr);
        } else if (conv_.convert(nullptr, nullptr, &outPtr, &outLeft) == static_cast<size_t>(-1)) {
            o.error = errno;
        }
        o.offset = in.size() - inLeft;
        o.out = out.substr(0, out.size() - outLeft);
        return o;
    }

  private:
    winplat::Converter conv_;
};

// Every unit of the BMP above ASCII as the page writes it, from the C
// library's EUC answer for the unit alone; and how many have a character.
struct Expected {
    std::vector<Outcome> byUnit;
    size_t written = 0;
};

Expected hzEncodings() {
    Expected e;
    Library library("EUC-CN", "UTF-16LE");
    for (unsigned unit = 0; unit <= 0xFFFF; ++unit) {
        const std::string input = wideUnit(unit);
        Outcome o;
        const auto euc = library(input);
        if (unit < 0x80 || (unit >= 0xD800 && unit <= 0xDFFF)) {
            o.error = -1;  // not swept
        } else if (euc && euc->size() == 2 && static_cast<uint8_t>((*euc)[0]) >= 0xA1 &&
                   static_cast<uint8_t>((*euc)[1]) >= 0xA1) {
            o.out = "~{" +
                    std::string{static_cast<char>((*euc)[0] & 0x7F), static_cast<char>((*euc)[1] & 0x7F)} +
                    "~}";
            o.offset = 2;
            ++e.written;
        } else {
            o.error = EILSEQ;
        }
        e.byUnit.push_back(o);
    }
    return e;
}

Expected jp1Encodings() {
    Expected e;
    Library library("EUC-JP", "UTF-16LE");
    for (unsigned unit = 0; unit <= 0xFFFF; ++unit) {
        const std::string input = wideUnit(unit);
        Outcome o;
        o.offset = 2;
        const auto euc = library(input);
        const auto seven = [](char b) { return static_cast<char>(b & 0x7F); };
        if (unit < 0x80 || (unit >= 0xD800 && unit <= 0xDFFF)) {
            o.error = -1;  // not swept
        } else if (unit == 0xA5 || unit == 0x203E) {
            o.out = std::string("\x1b(J") + (unit == 0xA5 ? '\x5C' : '\x7E') + "\x1b(B";
        } else if (euc && euc->size() == 2 && static_cast<uint8_t>((*euc)[0]) >= 0xA1) {
            o.out = "\x1b$B" + std::string{seven((*euc)[0]), seven((*euc)[1])} + "\x1b(B";
        } else if (euc && euc->size() == 3 && static_cast<uint8_t>((*euc)[0]) == 0x8F) {
            o.out = "\x1b$(D" + std::string{seven((*euc)[1]), seven((*euc)[2])} + "\x1b(B";
        } else {
            o.error = EILSEQ;
            o.offset = 0;
        }
        e.written += o.error == 0 ? 1 : 0;
        e.byUnit.push_back(o);
    }
    return e;
}

// Whether the C library's conversion module `name` is loaded.
bool moduleLoaded(const std::string& name) {
    struct Search {
        std::string suffix;
        bool found = false;
    } search{"/" + name + ".so"};
    dl_iterate_phdr(
        [](dl_phdr_info* info, size_t, void* data) {
            auto* s = static_cast<Search*>(data);
            const std::string_view path(info->dlpi_name);
            s->found = s->found || path.ends_with(s->suffix);
            return 0;
        },
        &search);
    return search.found;
}

// The C library's modules that converters used stay loaded once they are
// closed, however many closes follow: unloaded on one thread while another
// loads it, a module makes the thread sanitizer report a race.
TEST(Converter, ModulesItUsedStayLoadedAfterItCloses) {
    const struct {
        const char* to;
        const char* from;
        const char* module;
    } cases[] = {
        {"UTF-16LE", "HZ-GB-2312", "EUC-CN"},
        {"HZ-GB-2312", "UCS-2LE", "EUC-CN"},
        {"UTF-16LE", "ISO-2022-JP-1", "ISO-2022-JP"},
        {"ISO-2022-JP-1", "UTF-16LE", "EUC-JP"},
        {"UTF-8", "CP1251", "CP1251"},
        {"CP1251", "UTF-16LE", "UTF-16"},
    };
    for (const auto& c : cases) {
        winplat::Converter converter(c.to, c.from);
        ASSERT_TRUE(converter.ok()) << c.to << " " << c.from;
        EXPECT_TRUE(moduleLoaded(c.module)) << c.module;
    }
    // The C library unloads a module no descriptor uses a few closes later.
    for (int i = 0; i < 4; ++i) {
        iconv_t cd = iconv_open("UTF-8", "KOI8-R");
        ASSERT_NE(cd, reinterpret_cast<iconv_t>(-1));
        iconv_close(cd);
    }
    for (const auto& c : cases) {
        EXPECT_TRUE(moduleLoaded(c.module)) << c.module;
    }
}

// Converters on several threads at once ask for the same characters: each
// gets the C library's answers. Runs before the sweeps below, while few
// characters have been asked.
TEST(Converter, ThreadsConvertingTheSamePagesAgree) {
    const Expected hz = hzEncodings();
    const Expected jp1 = jp1Encodings();
    auto sweep = [&](const char* page, const Expected& expected) {
        Reused encode(page, "UTF-16LE");
        size_t wrong = 0;
        for (unsigned unit = 0x80; unit <= 0xFFFF; ++unit) {
            if (expected.byUnit[unit].error != -1 && !(encode(wideUnit(unit)) == expected.byUnit[unit])) {
                ++wrong;
            }
        }
        return wrong;
    };
    std::vector<std::future<size_t>> runs;
    for (int i = 0; i < 4; ++i) {
        runs.push_back(std::async(std::launch::async, sweep, i % 2 ? "HZ-GB-2312" : "ISO-2022-JP-1",
                                  i % 2 ? std::cref(hz) : std::cref(jp1)));
    }
    for (auto& run : runs) {
        ASSERT_EQ(run.wait_for(std::chrono::minutes(2)), std::future_status::ready);
        EXPECT_EQ(run.get(), 0u);
    }
}

TEST(Converter, EveryUnitEncodesAsTheCLibraryAnswers) {
    for (const auto& [page, expected] :
         {std::pair{"HZ-GB-2312", hzEncodings()}, {"ISO-2022-JP-1", jp1Encodings()}}) {
        SCOPED_TRACE(page);
        // Far more than the ASCII of either page: the sweep compares text.
        EXPECT_GT(expected.written, 7000u);
        Reused encode(page, "UTF-16LE");
        Reused encodeUcs2(page, "UCS-2LE");
        for (unsigned unit = 0x80; unit <= 0xFFFF; ++unit) {
            if (expected.byUnit[unit].error == -1) {
                continue;
            }
            SCOPED_TRACE(unit);
            EXPECT_EQ(encode(wideUnit(unit)), expected.byUnit[unit]);
            EXPECT_EQ(encodeUcs2(wideUnit(unit)), expected.byUnit[unit]);
        }
        // One text of every unit that has a character, ASCII between, in one
        // call: the same bytes as each alone.
        std::string text;
        std::string written;
        for (unsigned unit = 0x80; unit <= 0xFFFF; ++unit) {
            if (expected.byUnit[unit].error == 0) {
                text += wideUnit(unit) + wideUnit(unit % 3 == 0 ? 'a' : unit % 3 == 1 ? '~' : '\\');
                written += expected.byUnit[unit].out;
            }
        }
        const Outcome whole = encode(text);
        EXPECT_EQ(whole.error, 0);
        EXPECT_EQ(whole.offset, text.size());
        // Decoding the whole gives the text back.
        EXPECT_EQ(feed("UTF-16LE", page, whole.out, whole.out.size() / 2, 8).out, text);
    }
}

TEST(Converter, EveryHzPairDecodesAsTheCLibraryAnswers) {
    Reused decode("UTF-16LE", "HZ-GB-2312");
    Library library("UTF-16LE", "EUC-CN");
    size_t characters = 0;
    // Row 0x7E would open with a tilde, which is an escape.
    for (int row = 0x21; row <= 0x7D; ++row) {
        std::string rowText;
        std::string rowUnits;
        for (int cell = 0x21; cell <= 0x7E; ++cell) {
            SCOPED_TRACE(std::to_string(row) + " " + std::to_string(cell));
            const std::string pair{static_cast<char>(row), static_cast<char>(cell)};
            const auto unit =
                library(std::string{static_cast<char>(row | 0x80), static_cast<char>(cell | 0x80)});
            const Outcome o = decode("~{" + pair + "~}");
            if (unit && unit->size() == 2) {
                EXPECT_EQ(o, (Outcome{*unit, 0, 6}));
                rowText += pair;
                rowUnits += *unit;
                ++characters;
            } else {
                EXPECT_EQ(o, (Outcome{"", EILSEQ, 2}));
            }
        }
        // The row's characters in one run, through a small output buffer.
        EXPECT_EQ(feed("UTF-16LE", "HZ-GB-2312", "~{" + rowText + "~}", rowText.size() / 2 + 1, 8),
                  (Outcome{rowUnits, 0, rowText.size() + 4}));
    }
    EXPECT_EQ(characters, 7445u);
}

// Every escape of up to three bytes from those the designations are made
// of: JP-1's seven read as the C library reads their usual spelling, any
// other stops where it stands.
TEST(Converter, Jp1DesignationsAndNothingElse) {
    struct Designation {
        std::string escape;
        std::string canonical;
        std::string character;  // one in the set it designates
    };
    const Designation designations[] = {
        {"\x1b(B", "\x1b(B", "a"},    {"\x1b(J", "\x1b(J", "\x5C"}, {"\x1b$@", "\x1b$@", "Cf"},
        {"\x1b$B", "\x1b$B", "Cf"},   {"\x1b$(@", "\x1b$@", "Cf"},  {"\x1b$(B", "\x1b$B", "Cf"},
        {"\x1b$(D", "\x1b$(D", "+1"},
    };
    const std::string bytes = "($).@ABCDJIN!";
    std::vector<std::string> escapes;
    for (char x : bytes) {
        escapes.push_back({'\x1b', x});
        for (char y : bytes) {
            escapes.push_back({'\x1b', x, y});
            for (char z : bytes) {
                escapes.push_back({'\x1b', x, y, z});
            }
        }
    }
    Reused decode("UTF-16LE", "ISO-2022-JP-1");
    Library library("UTF-16LE", "ISO-2022-JP-2");
    size_t read = 0;
    size_t refused = 0;
    for (const std::string& escape : escapes) {
        SCOPED_TRACE(escape.substr(1));
        const Designation* met = nullptr;
        bool longer = false;
        for (const Designation& d : designations) {
            met = escape == d.escape ? &d : met;
            longer = longer || (escape.size() > d.escape.size() && escape.starts_with(d.escape));
        }
        if (longer) {
            continue;  // a designation and the text after it
        }
        if (met != nullptr) {
            const auto expected = library(met->canonical + met->character + "\x1b(B");
            ASSERT_TRUE(expected);
            const std::string input = "a" + escape + met->character + "\x1b(B";
            EXPECT_EQ(decode(input), (Outcome{std::string("a\0", 2) + *expected, 0, input.size()}));
            ++read;
        } else {
            EXPECT_EQ(decode("a" + escape + "!!"), (Outcome{std::string("a\0", 2), EILSEQ, 1}));
            ++refused;
        }
    }
    EXPECT_EQ(read, 7u);
    EXPECT_GT(refused, 2000u);
}

}  // namespace
