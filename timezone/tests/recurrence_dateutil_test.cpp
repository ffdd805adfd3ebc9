// The expansion against python-dateutil on the RFC-conforming subset: the
// checked-in golden file, and a fresh run of its generator when dateutil can
// be imported.
#include <gtest/gtest.h>


#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "RecurrencePeers.h"
#include "platform/tests/test_folder.h"

using namespace recurrence_peers;

namespace {

// The golden file's expansions are dateutil's.
int compareAll(const std::vector<GoldenCase>& cases) {
    return compareWithPeer("dateutil", cases, [](const GoldenCase& c) { return c.occurrences; });
}

}  // namespace

TEST(RecurrenceDateutil, GoldenFile) {
    std::string version;
    const auto cases = readGolden(kDir + "/data/rrule_golden.txt", &version);
    ASSERT_GE(cases.size(), 2000u);
    EXPECT_FALSE(version.empty());
    EXPECT_GT(compareAll(cases), static_cast<int>(cases.size()) - 10);
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
    const testfolder::Scoped dir("rrule_live_");
    const std::string path = dir.path() + "/rrule_live.txt";
    const std::string command = python + " '" + kDir + "/rrule_golden.py' '" + kDir +
                                "/data/rfc5545_examples.txt," + kDir + "/data/rrule_boundaries.txt' '" +
                                path + "' 2000";
    ASSERT_EQ(std::system(command.c_str()), 0);
    std::string golden, live;
    readGolden(kDir + "/data/rrule_golden.txt", &golden);
    const auto cases = readGolden(path, &live);
    if (live != golden) {
        std::printf("dateutil %s differs from the golden file's %s\n", live.c_str(), golden.c_str());
    }
    ASSERT_GE(cases.size(), 2000u);
    EXPECT_GT(compareAll(cases), static_cast<int>(cases.size()) - 10);
}
