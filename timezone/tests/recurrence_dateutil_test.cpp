// The expansion against python-dateutil on the RFC-conforming subset: the
// checked-in golden file, and a fresh run of its generator when dateutil can
// be imported. Compared on wall clocks from a start at offset 0.
#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdio>
#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "timezone/RecurrenceIterator.h"

using namespace tavlo::timezone;

namespace {

const std::string kDir = TIMEZONE_TEST_DATA;

struct GoldenCase {
    std::string rule, start;
    std::vector<std::string> occurrences;
};

std::vector<std::string> split(const std::string& text, char separator) {
    std::vector<std::string> parts;
    std::stringstream in(text);
    for (std::string part; std::getline(in, part, separator);) {
        parts.push_back(part);
    }
    return parts;
}

std::vector<GoldenCase> readGolden(const std::string& path, std::string* version) {
    std::ifstream in(path);
    std::vector<GoldenCase> cases;
    for (std::string line; std::getline(in, line);) {
        if (line.rfind("# dateutil ", 0) == 0) {
            *version = line.substr(11);
            continue;
        }
        const auto fields = split(line, '|');
        if (fields.size() == 3) {
            cases.push_back({fields[0], fields[1], split(fields[2], ',')});
        }
    }
    return cases;
}

// The wall clock of a value at offset 0, in the basic form without "Z".
std::string clock(const DateTime& d) {
    return d.format(FormatNoZ | FormatNoOffset);
}

std::vector<std::string> expand(const std::string& text, const std::string& start) {
    RecurrenceRule rule;
    rule.parse(text);
    DateTime s = DateTime::parse(start + "Z", nullptr);
    std::vector<std::string> out;
    for (RecurrenceIterator it(rule, s, true), end; !it.equals(end) && out.size() < 1000; it.advance()) {
        out.push_back(clock(it.current()));
    }
    return out;
}

int compareAll(const std::vector<GoldenCase>& cases) {
    int failures = 0;
    for (const GoldenCase& c : cases) {
        std::vector<std::string> expected = c.occurrences;
        auto got = expand(c.rule, c.start);
        // A start the rule does not produce is delivered first and counts
        // towards COUNT; the rest follows the rule.
        if (expected.empty() || expected.front() != c.start) {
            if (!got.empty() && got.front() == c.start) {
                got.erase(got.begin());
                expected.resize(std::min(expected.size(), got.size()));
            } else {
                got.insert(got.begin(), "(start missing)");
            }
        }
        if (got != expected && ++failures <= 10) {
            ADD_FAILURE() << c.rule << " from " << c.start << "\n  got      " << testing::PrintToString(got)
                          << "\n  expected " << testing::PrintToString(expected);
        }
    }
    return failures;
}

}  // namespace

TEST(RecurrenceDateutil, GoldenFile) {
    std::string version;
    const auto cases = readGolden(kDir + "/data/rrule_golden.txt", &version);
    ASSERT_GE(cases.size(), 2000u);
    EXPECT_FALSE(version.empty());
    EXPECT_EQ(compareAll(cases), 0);
}

TEST(RecurrenceDateutil, LiveGenerator) {
    // The first interpreter that has dateutil: the one on the path, else the
    // system's, where the Debian package puts it.
    std::string python;
    for (const char* candidate : {"python3", "/usr/bin/python3"}) {
        if (std::system((std::string(candidate) + " -c 'import dateutil' >/dev/null 2>&1").c_str()) == 0) {
            python = candidate;
            break;
        }
    }
    if (python.empty()) {
        GTEST_SKIP() << "no python3 can import dateutil";
    }
    char path[] = "/tmp/rrule_liveXXXXXX";
    const int fd = mkstemp(path);
    ASSERT_GE(fd, 0);
    close(fd);
    const std::string command = python + " '" + kDir + "/rrule_golden.py' '" + kDir +
                                "/data/rfc5545_examples.txt' '" + path + "' 2000";
    ASSERT_EQ(std::system(command.c_str()), 0);
    std::string golden, live;
    readGolden(kDir + "/data/rrule_golden.txt", &golden);
    const auto cases = readGolden(path, &live);
    std::remove(path);
    if (live != golden) {
        std::printf("dateutil %s differs from the golden file's %s\n", live.c_str(), golden.c_str());
    }
    ASSERT_GE(cases.size(), 2000u);
    EXPECT_EQ(compareAll(cases), 0);
}
