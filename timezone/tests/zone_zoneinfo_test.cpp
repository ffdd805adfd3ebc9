// Every zone row against Python's zoneinfo: the offset at each change from
// the row's first year under its rules to 2037 (a second before and at the
// change) and in the middle of each interval. Rows whose data departs from
// tzdata (timezone/data/tz_exceptions.txt) are checked against their own
// rules instead. With another tzdata version than the generator's, the
// differences are reported, not failed.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include <boost/make_shared.hpp>

#include "platform/tests/test_folder.h"
#include "timezone/RecurrenceIterator.h"
#include "timezone/XTimeZone.h"
#include "timezone/ZoneRegistry.h"

using namespace tavlo::timezone;

namespace {

const std::string kTimezoneDir = std::string(TIMEZONE_TEST_DATA) + "/..";
const int64_t kEnd = 2145916800;  // 2038-01-01T00:00:00Z

std::vector<std::vector<std::string>> readTable(const std::string& path) {
    std::ifstream in(path);
    std::vector<std::vector<std::string>> rows;
    for (std::string line; std::getline(in, line);) {
        if (line.empty() || line[0] == '#') {
            continue;
        }
        std::vector<std::string> cells;
        std::stringstream cellsIn(line);
        for (std::string cell; std::getline(cellsIn, cell, '\t');) {
            cells.push_back(cell);
        }
        rows.push_back(cells);
    }
    return rows;
}

int64_t yearStart(int year) {
    CalendarFields f{0, 0, 0, 1, 0, year - 1900};
    return timeFromCalendar(f);
}

int startYear(const ZoneDefinition& row) {
    int year = 1970;
    for (const std::string* start : {&row.standardStart, &row.daylightStart}) {
        if (!start->empty()) {
            year = std::max(year, std::stoi(start->substr(0, 4)));
        }
    }
    return year;
}

struct Compared {
    std::string key;
    std::string tzName;
    int firstYear;
    ZonePtr zone;
    bool daylight;
};

ZonePtr zoneOf(const ZoneDefinition& row) {
    return boost::make_shared<XTimeZone>(XTimeZone::fromDefinition(row));
}

// The offset the library answers: the per-year cache for zones with a
// daylight part, a zone-bound value's offset otherwise.
int64_t offsetOf(const Compared& c, int64_t t) {
    if (c.daylight) {
        return XTimeZone::offsetAt(t, c.zone).count();
    }
    DateTime v(t);
    v.attachZone(c.zone);
    return v.offset().count();
}

std::string generatorVersion() {
    std::ifstream in(kTimezoneDir + "/TzZones.cpp");
    std::string line;
    std::getline(in, line);
    const size_t at = line.find("from tzdata ");
    return at == std::string::npos ? "" : line.substr(at + 12, line.find(';') - at - 12);
}

// The generated and the tzdata-faithful tz rows, and the display rows with
// daylight saving whose zone keeps their rules today (by zone id; Chatham's
// id names Auckland, so it is matched by name).
std::vector<Compared> comparedRows() {
    std::map<std::string, int> years;
    for (const auto& cells : readTable(kTimezoneDir + "/tests/data/tz_row_years.txt")) {
        years[cells[0]] = std::stoi(cells[1]);
    }
    std::set<std::string> exceptions;
    for (const auto& cells : readTable(kTimezoneDir + "/data/tz_exceptions.txt")) {
        exceptions.insert(cells[0]);
    }
    std::vector<Compared> rows;
    for (const ZoneDefinition& row : tzZones()) {
        if (years.count(row.name)) {
            rows.push_back({row.name, row.name, years[row.name], zoneOf(row), !row.daylight.empty()});
        }
    }
    for (const ZoneDefinition& row : displayZones()) {
        if (row.daylight.empty() || exceptions.count(row.name)) {
            continue;
        }
        const std::string tz = row.name == "Chatham Is." ? "Pacific/Chatham" : zoneIdNames()[row.ids[0]];
        EXPECT_TRUE(years.count(tz)) << row.name << " as " << tz;
        rows.push_back({"display: " + row.name, tz, std::max(years[tz], startYear(row)), zoneOf(row), true});
    }
    return rows;
}

TEST(ZoneinfoComparison, EveryRowAtEveryChangeTo2037) {
    if (std::system("python3 -c 'import zoneinfo' 2>/dev/null") != 0) {
        GTEST_SKIP() << "python3 with zoneinfo is not installed";
    }
    const std::vector<Compared> rows = comparedRows();
    ASSERT_GT(rows.size(), 500u);
    const testfolder::Scoped dir("tz_compare_");
    const std::string request = dir.path() + "/request.txt", answer = dir.path() + "/answer.txt";
    {
        std::ofstream out(request);
        for (const Compared& c : rows) {
            out << c.key << '\t' << c.tzName << '\t' << c.firstYear << '\n';
        }
    }
    const std::string command =
        "python3 '" + kTimezoneDir + "/tests/zoneinfo_transitions.py' '" + request + "' > '" + answer + "'";
    ASSERT_EQ(std::system(command.c_str()), 0) << command;

    std::map<std::string, const Compared*> byKey;
    for (const Compared& c : rows) {
        byKey[c.key] = &c;
    }
    std::string version;
    int64_t skipped = 0, checks = 0;
    std::vector<std::string> differences;
    auto expect = [&](const Compared& c, int64_t t, int64_t want) {
        ++checks;
        const int64_t got = offsetOf(c, t);
        if (got != want) {
            differences.push_back(c.key + " at " + std::to_string(t) + ": " + std::to_string(got) +
                                  ", zoneinfo " + std::to_string(want));
        }
    };
    // The interval that ends at each change, then the last one, is checked
    // in its middle.
    const Compared* current = nullptr;
    int64_t intervalStart = 0, intervalOffset = 0;
    auto closeInterval = [&](int64_t end) {
        if (current != nullptr) {
            expect(*current, intervalStart + (end - intervalStart) / 2, intervalOffset);
        }
    };
    std::ifstream in(answer);
    for (std::string line; std::getline(in, line);) {
        if (line.rfind("# tzdata ", 0) == 0) {
            version = line.substr(9);
            continue;
        }
        std::vector<std::string> cells;
        std::stringstream cellsIn(line);
        for (std::string cell; std::getline(cellsIn, cell, '\t');) {
            cells.push_back(cell);
        }
        ASSERT_TRUE(cells.size() >= 4 && byKey.count(cells[1])) << line;
        const Compared& c = *byKey[cells[1]];
        if (cells[0] == "S") {
            closeInterval(kEnd);
            current = &c;
            skipped += std::stoll(cells[2]);
            intervalStart = yearStart(c.firstYear);
            intervalOffset = std::stoll(cells[3]);
        } else {
            ASSERT_EQ(cells.size(), 5u) << line;
            const int64_t t = std::stoll(cells[2]);
            closeInterval(t);
            expect(c, t - 1, std::stoll(cells[3]));
            expect(c, t, std::stoll(cells[4]));
            intervalStart = t;
            intervalOffset = std::stoll(cells[4]);
        }
    }
    closeInterval(kEnd);

    std::cout << "tzdata " << version << " (rows from " << generatorVersion() << "): " << rows.size()
              << " rows, " << checks << " checks, " << skipped << " changes skipped as rule not in force, "
              << differences.size() << " differences\n";
    EXPECT_GT(checks, 10000);
    if (version != generatorVersion()) {
        for (const std::string& d : differences) {
            std::cout << "  " << d << '\n';
        }
        return;
    }
    for (const std::string& d : differences) {
        ADD_FAILURE() << d;
    }
}

// The rows that depart from tzdata, against their own rules: each change of
// each year after both starts comes at the rule's local wall clock, read in
// the offset before it.
TEST(ZoneinfoComparison, ExceptionRowsFollowTheirOwnRules) {
    std::set<std::string> exceptions;
    for (const auto& cells : readTable(kTimezoneDir + "/data/tz_exceptions.txt")) {
        exceptions.insert(cells[0]);
    }
    int rowsChecked = 0;
    auto check = [&](const ZoneDefinition& row) {
        if (!exceptions.count(row.name) || row.daylight.empty()) {
            return;
        }
        SCOPED_TRACE(row.name);
        ++rowsChecked;
        const Compared c{row.name, "", startYear(row) + 1, zoneOf(row), true};
        const int64_t standard = XTimeZone::parseOffset(row.standard).count();
        const int64_t daylight = XTimeZone::parseOffset(row.daylight).count();
        struct Part {
            const std::string& start;
            const std::string& rule;
            int64_t before, after;
        };
        for (const Part& part : {Part{row.standardStart, row.standardRule, daylight, standard},
                                 Part{row.daylightStart, row.daylightRule, standard, daylight}}) {
            RecurrenceRule rule;
            rule.parse(part.rule);
            const DateTime start = DateTime::parse(part.start + "Z", nullptr);
            int changes = 0;
            for (RecurrenceIterator it(rule, start, true), end; !it.equals(end); it.advance()) {
                const int64_t t = it.current().value() - part.before;
                if (t >= kEnd) {
                    break;
                }
                if (t < yearStart(c.firstYear)) {
                    continue;
                }
                ++changes;
                EXPECT_EQ(offsetOf(c, t - 1), part.before) << it.current().format(0);
                EXPECT_EQ(offsetOf(c, t), part.after) << it.current().format(0);
            }
            EXPECT_GE(changes, 2037 - c.firstYear) << part.rule;
        }
    };
    for (const ZoneDefinition& row : tzZones()) {
        check(row);
    }
    for (const ZoneDefinition& row : displayZones()) {
        check(row);
    }
    EXPECT_EQ(rowsChecked, 8 + 12);
}

}  // namespace
