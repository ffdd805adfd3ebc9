// The built-in zone tables and the name lookup over them: checksums of the
// transcribed rows, the shape of every row, the tz rows against a fresh run
// of their generator, and the case-insensitive search against a plain one.
#include <gtest/gtest.h>

#include <atomic>
#include <cctype>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <map>
#include <random>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "platform/tests/test_folder.h"
#include "timezone/RecurrenceIterator.h"
#include "timezone/ZoneRegistry.h"

using namespace tavlo::timezone;

namespace {

const std::string kTimezoneDir = std::string(TIMEZONE_TEST_DATA) + "/..";

std::vector<std::string> readLines(const std::string& path) {
    std::ifstream in(path);
    std::vector<std::string> lines;
    for (std::string line; std::getline(in, line);) {
        if (!line.empty() && line[0] != '#') {
            lines.push_back(line);
        }
    }
    return lines;
}

std::string readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

uint64_t fnv1a(const std::string& text) {
    uint64_t h = 0xcbf29ce484222325ULL;
    for (unsigned char c : text) {
        h = (h ^ c) * 0x100000001b3ULL;
    }
    return h;
}

std::string rowText(const ZoneDefinition& row) {
    std::string text = row.name + '\t' + row.standard + '\t' + row.daylight + '\t' + row.standardStart +
                       '\t' + row.daylightStart + '\t' + row.standardRule + '\t' + row.daylightRule + '\t';
    for (size_t i = 0; i < row.ids.size(); ++i) {
        text += (i ? "," : "") + std::to_string(row.ids[i]);
    }
    return text + '\n';
}

// The tz rows the data gives in full rather than by generation.
const std::set<std::string> kVerbatimTzRows = {
    "Africa/Abidjan", "Africa/Casablanca", "Africa/Windhoek",   "America/New_York",    "Asia/Gaza",
    "Asia/Jerusalem", "Asia/Kolkata",      "Asia/Tehran",       "Australia/Lord_Howe", "Etc/GMT+12",
    "Europe/London",  "Europe/Moscow",     "Pacific/Chatham",   "Asia/Tel_Aviv",       "Iran",
    "Israel",         "Mideast/Riyadh87",  "America/Kralendijk"};

TEST(ZoneTables, CountsAndChecksumsOfTheTranscribedRows) {
    std::string abbreviations, display, ids, names, verbatim;
    for (const ZoneAbbreviation& row : zoneAbbreviations()) {
        abbreviations += row.abbreviation + '\t' + row.offset + '\t' + (row.isDaylight ? "1" : "0") + '\n';
    }
    for (const ZoneDefinition& row : displayZones()) {
        display += rowText(row);
    }
    for (const std::string& name : zoneIdNames()) {
        ids += name + '\n';
    }
    for (const ZoneDefinition& row : tzZones()) {
        names += row.name + '\n';
        if (kVerbatimTzRows.count(row.name)) {
            verbatim += rowText(row);
        }
    }
    struct Expected {
        const char* table;
        size_t rows;
        size_t count;
        const std::string& text;
        uint64_t checksum;
    };
    const Expected expected[] = {
        {"abbreviations", 153, zoneAbbreviations().size(), abbreviations, 0xb7a04dc4fd908deaULL},
        {"display zones", 86, displayZones().size(), display, 0x12662d09af062691ULL},
        {"zone-id names", 78, zoneIdNames().size(), ids, 0x2ee849b047b04da6ULL},
        {"tz names", 565, tzZones().size(), names, 0xbcc3b635b877db59ULL},
        {"verbatim tz rows", 0, 0, verbatim, 0xdd01644935bf6271ULL},
    };
    for (const Expected& e : expected) {
        SCOPED_TRACE(e.table);
        EXPECT_EQ(e.count, e.rows);
        EXPECT_EQ(fnv1a(e.text), e.checksum);
    }
    EXPECT_EQ(zoneIdNames()[52], "");
    // The names fixture is the generator's input: the same list in order.
    const std::vector<std::string> fixture = readLines(kTimezoneDir + "/data/tz_names.txt");
    ASSERT_EQ(fixture.size(), tzZones().size());
    for (size_t i = 0; i < fixture.size(); ++i) {
        EXPECT_EQ(tzZones()[i].name, fixture[i]) << i;
    }
}

TEST(ZoneTables, RegistryHoldsCopiesInTableOrder) {
    const ZoneRegistry& registry = ZoneRegistry::instance();
    EXPECT_EQ(&registry, &ZoneRegistry::instance());
    ASSERT_EQ(registry.abbreviations.size(), 153u);
    ASSERT_EQ(registry.displayZones.size(), 86u);
    ASSERT_EQ(registry.tzZones.size(), 565u);
    ASSERT_EQ(registry.zoneIdNames.size(), 78u);
    EXPECT_EQ(registry.abbreviations.back().abbreviation, "YEKT");
    EXPECT_EQ(registry.displayZones[7].name, "Pacific Time (US & Canada), Tijuana");
    EXPECT_EQ(registry.tzZones.back().name, "America/Kralendijk");
    EXPECT_EQ(registry.zoneIdNames[77], "America/Chihuahua");
    // Only ids of 0 or more are kept, in the order given.
    const ZoneDefinition full("n", "+0100", "", "", "", "", "", 3, -1, 6);
    const ZoneDefinition shortRow("n", "+0100", 7, 2);
    EXPECT_EQ(full.ids, (std::vector<int32_t>{3, 6}));
    EXPECT_EQ(shortRow.ids, (std::vector<int32_t>{7, 2}));
    EXPECT_TRUE(shortRow.daylight.empty() && shortRow.standardRule.empty() && shortRow.daylightStart.empty());
}

// Each test runs in its own process, so this one sees the first creation.
TEST(ZoneTables, RegistryCreatedOnceUnderConcurrentFirstUse) {
    std::atomic<int> finished{0};
    std::vector<const ZoneRegistry*> seen(8);
    std::vector<std::thread> threads;
    for (size_t k = 0; k < seen.size(); ++k) {
        threads.emplace_back([&, k] {
            seen[k] = &ZoneRegistry::instance();
            ++finished;
        });
    }
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (finished.load() < 8) {
        if (std::chrono::steady_clock::now() > deadline) {
            ADD_FAILURE() << "threads did not finish";
            std::abort();
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    for (std::thread& t : threads) {
        t.join();
    }
    for (const ZoneRegistry* registry : seen) {
        EXPECT_EQ(registry, seen[0]);
    }
    EXPECT_EQ(seen[0]->tzZones.size(), 565u);
}

TEST(ZoneTables, AbbreviationsAscendAndOffsetTextsAreWellFormed) {
    const std::regex duration("[-+]PT(0\\d|1[0-4])H[0-5]\\dM");
    std::map<std::string, bool> known;
    std::string previous;
    int daylight = 0;
    for (const ZoneAbbreviation& row : zoneAbbreviations()) {
        EXPECT_LT(previous, row.abbreviation);
        EXPECT_TRUE(std::regex_match(row.offset, duration)) << row.abbreviation;
        known[row.abbreviation] = row.isDaylight;
        daylight += row.isDaylight;
        previous = row.abbreviation;
    }
    EXPECT_EQ(daylight, 29);
    const std::regex offset("[-+](0\\d|1[0-4])[0-5]\\d");
    auto check = [&](const ZoneDefinition& row, bool abbreviationsAllowed) {
        SCOPED_TRACE(row.name);
        for (const std::string* text : {&row.standard, &row.daylight}) {
            if (text->empty() && text == &row.daylight) {
                continue;
            }
            EXPECT_TRUE(std::regex_match(*text, offset) || (abbreviationsAllowed && known.count(*text)))
                << *text;
        }
        ASSERT_FALSE(row.ids.empty());
        for (int32_t id : row.ids) {
            EXPECT_TRUE(id >= 0 && id < 78 && id != 52) << id;
        }
    };
    for (const ZoneDefinition& row : displayZones()) {
        check(row, true);
    }
    for (const ZoneDefinition& row : tzZones()) {
        check(row, false);
    }
    // The sorted part of the tz names.
    for (size_t i = 1; i <= 425; ++i) {
        EXPECT_LT(tzZones()[i - 1].name, tzZones()[i].name);
    }
}

// Each daylight row: both rules valid, each DTSTART the first occurrence in
// its year of its own rule, starts and rules present together.
TEST(ZoneTables, DaylightRowsStartOnTheirOwnRules) {
    auto check = [](const ZoneDefinition& row) {
        SCOPED_TRACE(row.name);
        const bool dst = !row.daylight.empty();
        EXPECT_EQ(dst, !row.standardRule.empty());
        EXPECT_EQ(dst, !row.daylightRule.empty());
        EXPECT_EQ(dst, !row.standardStart.empty());
        EXPECT_EQ(dst, !row.daylightStart.empty());
        if (!dst) {
            return 0;
        }
        using Part = std::pair<std::string, std::string>;
        for (const auto& [start, text] :
             {Part{row.standardStart, row.standardRule}, Part{row.daylightStart, row.daylightRule}}) {
            RecurrenceRule rule;
            rule.parse(text);
            EXPECT_TRUE(rule.valid) << text;
            EXPECT_EQ(rule.format(), text);
            const DateTime from =
                DateTime::parse(start.substr(0, 4) + "0101" + start.substr(8) + "Z", nullptr);
            EXPECT_FALSE(from.isUnset()) << start;
            EXPECT_GE(start, "19700101T000001");
            RecurrenceIterator it(rule, from, false);
            const std::string first = it.current().format(FormatNoZ | FormatNoOffset);
            // Two display rows start their standard time on a date of the
            // year they were written, not under their rule.
            const bool oneOff = (row.name == "Easter Island" && start == "20110507T220000") ||
                                (row.name == "Cairo" && start == "20101001T000000");
            EXPECT_EQ(first == start, !oneOff) << text << " first " << first;
        }
        return 1;
    };
    int displayDst = 0, tzDst = 0;
    for (const ZoneDefinition& row : displayZones()) {
        displayDst += check(row);
    }
    for (const ZoneDefinition& row : tzZones()) {
        tzDst += check(row);
    }
    EXPECT_EQ(displayDst, 31);
    // About 190 come out of tzdata 2025b with the fixed rows; the exact
    // count belongs to the generated data, which the next test pins.
    EXPECT_GT(tzDst, 150);
}

// The exceptions list names rows that exist, in the table it says.
TEST(ZoneTables, ExceptionsNameExistingRows) {
    std::set<std::string> display, tz;
    for (const ZoneDefinition& row : displayZones()) {
        display.insert(row.name);
    }
    for (const ZoneDefinition& row : tzZones()) {
        tz.insert(row.name);
    }
    const std::vector<std::string> lines = readLines(kTimezoneDir + "/data/tz_exceptions.txt");
    EXPECT_GE(lines.size(), 11u);
    for (const std::string& line : lines) {
        const size_t tab = line.find('\t');
        const std::string name = line.substr(0, tab);
        const std::string table = line.substr(tab + 1, line.find('\t', tab + 1) - tab - 1);
        EXPECT_TRUE(table == "tz" ? tz.count(name) : table == "display" && display.count(name)) << line;
    }
}

std::string installedTzdataVersion() {
    std::ifstream in("/usr/share/zoneinfo/tzdata.zi");
    std::string line;
    std::getline(in, line);
    return line.rfind("# version ", 0) == 0 ? line.substr(10) : "";
}

// With the generator's tzdata version installed, a fresh run gives the
// checked-in source and years byte for byte.
TEST(ZoneTables, GeneratorRerunMatchesCheckedInRows) {
    const std::string source = readFile(kTimezoneDir + "/TzZones.cpp");
    const std::string marker = "from tzdata ";
    const size_t at = source.find(marker);
    ASSERT_NE(at, std::string::npos);
    const std::string version = source.substr(at + marker.size(), source.find(';', at) - at - marker.size());
    const std::string installed = installedTzdataVersion();
    if (installed != version || std::system("python3 -c '' 2>/dev/null") != 0) {
        GTEST_SKIP() << "rows from tzdata " << version << ", installed: " << installed;
    }
    const testfolder::Scoped dir("tz_rows_");
    const std::string out = dir.path() + "/TzZones.cpp", years = dir.path() + "/years.txt";
    const std::string command =
        "python3 '" + kTimezoneDir + "/tools/gen_tz_rows.py' --output '" + out + "' --years '" + years + "'";
    ASSERT_EQ(std::system(command.c_str()), 0) << command;
    EXPECT_TRUE(readFile(out) == source)
        << "rerun differs: diff " << out << " " << kTimezoneDir << "/TzZones.cpp";
    EXPECT_TRUE(readFile(years) == readFile(kTimezoneDir + "/tests/data/tz_row_years.txt"));
}

ptrdiff_t naiveFind(const std::string& text, const std::string& pattern) {
    for (size_t pos = 0; pos + pattern.size() <= text.size(); ++pos) {
        size_t i = 0;
        while (i < pattern.size() && std::tolower(static_cast<unsigned char>(text[pos + i])) ==
                                         std::tolower(static_cast<unsigned char>(pattern[i]))) {
            ++i;
        }
        if (i == pattern.size()) {
            return static_cast<ptrdiff_t>(pos);
        }
    }
    return -1;
}

// Small alphabets with case pairs and bytes above 127 make many borders.
TEST(ZoneSearch, MatchesANaiveSearchOnRandomStrings) {
    std::mt19937 random(16);
    const std::string alphabet = "aAbB\xC4\xE4-";
    auto make = [&](size_t n) {
        std::string s;
        for (size_t i = 0; i < n; ++i) {
            s += alphabet[random() % alphabet.size()];
        }
        return s;
    };
    int found = 0;
    for (int round = 0; round < 20000; ++round) {
        const std::string pattern = make(1 + random() % 6);
        const std::string text = make(random() % 40);
        const std::unique_ptr<int[]> table = buildFailureTable(pattern);
        ASSERT_TRUE(table);
        const ptrdiff_t expected = naiveFind(text, pattern);
        ASSERT_EQ(findIgnoringCase(text, pattern, table.get()), expected) << text << " / " << pattern;
        found += expected >= 0;
    }
    EXPECT_GT(found, 1000);
    // The table: entry i is the longest proper border of the first i
    // characters, case ignored.
    const std::unique_ptr<int[]> table = buildFailureTable("abAbaB");
    EXPECT_EQ(std::vector<int>(table.get(), table.get() + 7), (std::vector<int>{-1, 0, 0, 1, 2, 3, 4}));
    EXPECT_EQ(findIgnoringCase("anything", "", buildFailureTable("").get()), 0);
}

TEST(ZoneSearch, FindByNameVectors) {
    const ZoneRegistry& registry = ZoneRegistry::instance();
    auto tzIndex = [&](const std::string& name) {
        for (size_t i = 0; i < registry.tzZones.size(); ++i) {
            if (registry.tzZones[i].name == name) {
                return static_cast<int>(i);
            }
        }
        return -2;
    };
    struct Case {
        const char* query;
        bool tz;
        int expected;
    };
    const Case cases[] = {
        {"Pacific Time (US & Canada), Tijuana", false, 7},
        {"Greenland then Greenland (Pituffik)", false, 21},
        {"Greenland (Danmarkshavn)", false, 32},
        {"GREENLAND", false, 27},
        {"Hawaii Alaska", false, 2},  // equally long: the earlier row
        {"America/Caracas", false, 20},
        {"(UTC) Universal Coordinated Time", false, 84},
        {"", false, -1},
        {"Nowhere", false, -1},
        {"\xFF\xFEHawaii\x80", false, 2},
        {"MEXICO/GENERAL", true, tzIndex("Mexico/General")},
        {"US/Pacific-New", true, tzIndex("US/Pacific-New")},
        {"Etc/GMT+12", true, tzIndex("Etc/GMT+12")},
        {"europe/london", true, tzIndex("Europe/London")},
        {"", true, -1},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(ZoneRegistry::findByName(c.tz ? registry.tzZones : registry.displayZones, c.query),
                  c.expected)
            << c.query;
    }
}

}  // namespace
