// The expansion against libical, over the generated rules of the golden file.
#include <gtest/gtest.h>
#include <libical/ical.h>

#include <cstdio>
#include <string>
#include <vector>

#include "RecurrencePeers.h"

using namespace recurrence_peers;

namespace {

// Up to the end of the year `horizon`: no generated rule has a gap of seven
// years, so libical's search for a day it never finds can stop eight years
// after the last reference occurrence (libical takes COUNT and an UNTIL
// together when they are not read from one text).
std::vector<std::string> libicalExpand(const std::string& rule, const std::string& start, int horizon) {
    std::vector<std::string> out;
    icalrecurrencetype r = icalrecurrencetype_from_string(rule.c_str());
    if (icaltime_is_null_time(r.until)) {
        r.until = icaltime_from_string((std::to_string(horizon) + "1231T235959").c_str());
    }
    icalrecur_iterator* it = icalrecur_iterator_new(r, icaltime_from_string(start.c_str()));
    if (it == nullptr) {
        icalerror_clear_errno();
        return out;
    }
    for (icaltimetype t = icalrecur_iterator_next(it); !icaltime_is_null_time(t) && out.size() < 1000;
         t = icalrecur_iterator_next(it)) {
        out.push_back(icaltime_as_ical_string(t));
    }
    icalrecur_iterator_free(it);
    return out;
}

}  // namespace

TEST(RecurrenceLibical, GoldenRules) {
    std::string version;
    const auto cases = readGolden(kDir + "/data/rrule_golden.txt", &version);
    ASSERT_GE(cases.size(), 2000u);
    const int agreed = compareWithPeer("libical", cases, [](const GoldenCase& c) {
        return libicalExpand(c.rule, c.start, std::stoi(c.occurrences.back().substr(0, 4)) + 8);
    });
    EXPECT_GT(agreed, static_cast<int>(cases.size() * 3 / 4));
}
