// The expansion beside other implementations: the generated rules of the
// golden file, and the comparison of one rule's occurrences with a peer's.
// Compared on wall clocks from a start at offset 0.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "timezone/RecurrenceIterator.h"

namespace recurrence_peers {

using namespace tavlo::timezone;

inline const std::string kDir = TIMEZONE_TEST_DATA;

struct GoldenCase {
    std::string rule, start;
    std::vector<std::string> occurrences;
};

inline std::vector<std::string> split(const std::string& text, char separator) {
    std::vector<std::string> parts;
    std::stringstream in(text);
    for (std::string part; std::getline(in, part, separator);) {
        parts.push_back(part);
    }
    return parts;
}

inline std::vector<GoldenCase> readGolden(const std::string& path, std::string* version) {
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

inline std::vector<std::string> expand(const std::string& text, const std::string& start) {
    RecurrenceRule rule;
    rule.parse(text);
    // Eight digits are a date.
    const DateTime s = DateTime::parse(start.size() == 8 ? start : start + "Z", nullptr);
    std::vector<std::string> out;
    for (RecurrenceIterator it(rule, s, true), end; !it.equals(end) && out.size() < 1000; it.advance()) {
        out.push_back(it.current().format(FormatNoZ | FormatNoOffset));
    }
    return out;
}

// Empty when the walk agrees with the peer's occurrences, else both lists. A
// start the rule does not produce comes first, on top of what COUNT allows
// the rule's first period, and counts towards COUNT after that
// (RecurrenceIterator.h): it is taken off the walk's list and the peer's is
// cut to the same length; the rest follows the rule.
inline std::string difference(const std::string& rule, const std::string& start,
                              std::vector<std::string> peer) {
    auto got = expand(rule, start);
    if (peer.empty() || peer.front() != start) {
        if (!got.empty() && got.front() == start) {
            got.erase(got.begin());
            peer.resize(std::min(peer.size(), got.size()));
        } else {
            got.insert(got.begin(), "(start missing)");
        }
    }
    if (got == peer) {
        return std::string();
    }
    return rule + " from " + start + "\n  got  " + testing::PrintToString(got) + "\n  peer " +
           testing::PrintToString(peer);
}

// A rule's parts by name ("FREQ" -> "DAILY", "BYHOUR" -> "9,17").
inline std::map<std::string, std::string> ruleParts(const std::string& rule) {
    std::map<std::string, std::string> parts;
    for (const std::string& part : split(rule, ';')) {
        const size_t eq = part.find('=');
        if (eq != std::string::npos) {
            parts[part.substr(0, eq)] = part.substr(eq + 1);
        }
    }
    return parts;
}

// Where a peer reads a rule otherwise than this walk does, on purpose or by
// the peer's own choice. This is the one list of them: the rules a peer is
// compared on either agree, or match a line of it (and each line is met by
// at least one rule that departs). A line without a test is kept out of the
// generated rules instead (rrule_golden.py), or evened out by difference().
struct Departure {
    const char* peer;
    const char* why;
    bool (*applies)(const std::map<std::string, std::string>& parts,
                    const std::string& start);  // null: kept out
};

// A date start with a time list: RFC 5545 ignores the list, both peers expand it.
inline bool dateStartWithTimes(const std::map<std::string, std::string>& p, const std::string& start) {
    return start.size() == 8 && (p.count("BYHOUR") + p.count("BYMINUTE") + p.count("BYSECOND")) != 0;
}

inline const std::vector<Departure>& departures() {
    using Parts = std::map<std::string, std::string>;
    static const std::vector<Departure> list = {
        {"dateutil",
         "a start the rule does not produce: delivered first here, on top of what COUNT allows the first "
         "period, and counted towards COUNT after that; the peers leave it out (evened out by difference())",
         nullptr},
        {"dateutil", "expanded duplicates (BYMONTHDAY=1,1) are kept here, dateutil delivers each once",
         nullptr},
        {"dateutil",
         "BYWEEKNO beside INTERVAL or BYSETPOS, and weeks that cross New Year: the periods here follow the "
         "weeks' own years",
         nullptr},
        {"dateutil", "gaps of eight years or more between occurrences: the search here gives up", nullptr},
        {"dateutil",
         "a time list expanded from the day visits every hour here; one that would expand from the year ends "
         "the walk",
         nullptr},
        {"dateutil", "a date start: time lists are ignored here, dateutil expands them into times",
         dateStartWithTimes},
        {"libical", "a date start: time lists are ignored here, libical gives the date once for each time",
         dateStartWithTimes},
        {"libical", "a negative BYMONTHDAY of a DAILY rule: libical 3.0 produces nothing",
         [](const Parts& p, const std::string&) {
             return p.at("FREQ") == "DAILY" && p.count("BYMONTHDAY") != 0 &&
                    p.at("BYMONTHDAY").find('-') != std::string::npos;
         }},
        {"libical",
         "a YEARLY BYMONTHDAY without BYMONTH: libical keeps to the start's month, RFC 5545 expands every "
         "month",
         [](const Parts& p, const std::string&) {
             return p.at("FREQ") == "YEARLY" && p.count("BYMONTHDAY") != 0 && p.count("BYMONTH") == 0;
         }},
        {"libical",
         "more than one hour or minute: libical gives a day's times in the order the list names them, not in "
         "time order, so COUNT keeps other times",
         [](const Parts& p, const std::string&) {
             for (const char* key : {"BYHOUR", "BYMINUTE"}) {
                 if (p.count(key) != 0 && p.at(key).find(',') != std::string::npos) {
                     return true;
                 }
             }
             return false;
         }},
    };
    return list;
}

// The departure of peer that rule meets; null when none.
inline const Departure* departureFor(const std::string& peer, const std::string& rule,
                                     const std::string& start) {
    const auto parts = ruleParts(rule);
    for (const Departure& d : departures()) {
        if (peer == d.peer && d.applies != nullptr && d.applies(parts, start)) {
            return &d;
        }
    }
    return nullptr;
}

// Compares every case with the peer's expansion: a case agrees, or departs
// as a line of the list says. Prints and returns the agreement count.
template <typename Expand>
int compareWithPeer(const std::string& peer, const std::vector<GoldenCase>& cases, Expand peerExpand) {
    int agreed = 0, unlisted = 0;
    std::map<const Departure*, int> met;
    for (const GoldenCase& c : cases) {
        const std::string diff = difference(c.rule, c.start, peerExpand(c));
        const Departure* listed = departureFor(peer, c.rule, c.start);
        if (diff.empty()) {
            ++agreed;
        } else if (listed != nullptr) {
            ++met[listed];
        } else if (++unlisted <= 10) {
            ADD_FAILURE() << peer << ": " << diff;
        }
    }
    for (const Departure& d : departures()) {
        EXPECT_TRUE(d.peer != peer || d.applies == nullptr || met[&d] > 0)
            << peer << " no longer departs: " << d.why;
    }
    EXPECT_EQ(unlisted, 0);
    std::printf("%s agrees on %d of %zu rules; listed departures on %zu shapes\n", peer.c_str(), agreed,
                cases.size(), met.size());
    return agreed;
}

}  // namespace recurrence_peers
