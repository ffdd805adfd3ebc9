// Zone lookup by name and offset, the row summaries, and the machine zone
// (detected once per process: the pinned-zone cases run in child processes
// that ctest starts with TZ set).
#include <gtest/gtest.h>

#include <boost/make_shared.hpp>

#include <atomic>
#include <cctype>
#include <chrono>
#include <cstdlib>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include "timezone/XTimeZone.h"
#include "timezone/ZoneRegistry.h"
#include "timezone/ZoneSummary.h"

using namespace tavlo::timezone;

TEST(FindByName, Vectors) {
    const XTimeZone machine = XTimeZone::local();
    const int64_t machineStandard =
        machine.standard().valid != 0 ? machine.standard().offsetTo.seconds() : -1;
    const std::string utcRow = "(UTC) Universal Coordinated Time";
    const bool haveTzRows = !ZoneRegistry::instance().tzZones.empty();
    const std::tuple<std::string, std::string, bool> cases[] = {
        {"", machine.getName(), false},
        {"server", machine.getName(), false},
        {"SeRvEr", machine.getName(), false},
        {"(GMT-05:00) Eastern Time (US & Canada)", "Eastern Time (US & Canada)", false},
        {"Greenland (Pituffik) or Greenland", "Greenland (Pituffik)", false},
        {"America/Caracas", "Caracas", false},
        {"Asia/Kabul", "Kabul", false},
        {"Australia/Perth", "Perth", false},
        {"America/New_York", "America/New_York", true},
        {"MEXICO/GENERAL", "Mexico/General", true},
        {"nowhere at all", utcRow, false},
        {"-", utcRow, false},
        {"\xFF\xFE\x80", utcRow, false},
        {"+0530", utcRow, false},  // 530 seconds: no row has it
        {"3600", "Amsterdam, Belgrade, Berlin, Brussels, Budapest, Madrid, Paris, Prague, Stockholm", false},
        {"+3600", "Amsterdam, Belgrade, Berlin, Brussels, Budapest, Madrid, Paris, Prague, Stockholm", false},
        {"3600abc", "Amsterdam, Belgrade, Berlin, Brussels, Budapest, Madrid, Paris, Prague, Stockholm",
         false},
        {"-18000", "Bogota, Lima, Quito, Navassa Is.", false},
        {"99999999999999999999", utcRow, false},
    };
    for (const auto& [query, expected, needsTzRows] : cases) {
        if (needsTzRows && !haveTzRows) {
            continue;
        }
        const int64_t number = std::atoll(query.c_str());
        const bool numeric = !query.empty() && query != "-" &&
                             (std::isdigit(static_cast<unsigned char>(query[0])) ||
                              std::isdigit(static_cast<unsigned char>(query[1])));
        // A number equal to the machine zone's standard offset names the machine zone.
        const std::string want = numeric && number == machineStandard ? machine.getName() : expected;
        const XTimeZone zone = XTimeZone::findByName(query);
        EXPECT_EQ(zone.getName(), want) << query;
        EXPECT_TRUE(zone.isValid() || want.empty()) << query;
    }
    EXPECT_FALSE(XTimeZone::findInTzZones("nowhere at all").isValid());
    EXPECT_TRUE(XTimeZone::findInTzZones("").getName().empty());
}

TEST(ZoneSummaries, EqualTheRowsZones) {
    const ZoneRegistry& registry = ZoneRegistry::instance();
    const std::vector<ZoneSummary>& all = zoneSummaries();
    const std::vector<ZoneSummary>& display = displayZoneSummaries();
    ASSERT_EQ(display.size(), registry.displayZones.size());
    ASSERT_EQ(all.size(), registry.displayZones.size() + registry.tzZones.size());
    for (size_t i = 0; i < all.size(); ++i) {
        const bool isDisplay = i < display.size();
        const auto& rows = isDisplay ? registry.displayZones : registry.tzZones;
        const int row = static_cast<int>(isDisplay ? i : i - display.size());
        XTimeZone made = XTimeZone::fromTableRow(row, rows);
        const ZonePtr fromSummary = all[i].toZone();
        EXPECT_EQ(std::make_tuple(fromSummary->getName(), fromSummary->zoneIds(), fromSummary->fingerprint()),
                  std::make_tuple(made.getName(), made.zoneIds(), made.fingerprint()));
        EXPECT_EQ(all[i].daylight.valid != 0, !rows[static_cast<size_t>(row)].daylight.empty());
        EXPECT_TRUE(all[i].value.isUnknown());
        if (isDisplay) {
            EXPECT_EQ(display[i].name, all[i].name);
        }
    }
    ZoneSummary blank;
    blank.name = "Blank";
    EXPECT_FALSE(blank.toZone()->isValid());
}

// Runs in child processes with TZ pinned; see the CMake list.
TEST(MachineZone, DetectsThePinnedZone) {
    const char* expected = std::getenv("TIMEZONE_EXPECTED_MACHINE_ZONE");
    if (expected == nullptr) {
        GTEST_SKIP() << "runs with TZ pinned in its own process";
    }
    // The first detection races with lookups and cached offsets elsewhere.
    std::atomic<int> finished{0}, wrong{0};
    std::vector<std::thread> threads;
    for (int k = 0; k < 8; ++k) {
        threads.emplace_back([&, k] {
            const XTimeZone zone = k % 2 == 0 ? XTimeZone::local() : XTimeZone::findByName("server");
            if (zone.getName() != expected) {
                ++wrong;
            }
            DateTime t(1700000000 + k * 86400 * 40);
            t.attachZone(boost::make_shared<XTimeZone>(XTimeZone::findByName("Eastern Time (US & Canada)")));
            if (t.offset().isUnknown()) {
                ++wrong;
            }
            ++finished;
        });
    }
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(90);
    while (finished.load() < 8) {
        if (std::chrono::steady_clock::now() > deadline) {
            ADD_FAILURE() << "detection did not finish";
            std::abort();
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    for (std::thread& t : threads) {
        t.join();
    }
    EXPECT_EQ(wrong.load(), 0);
    const XTimeZone local = XTimeZone::local();
    EXPECT_EQ(local.getName(), expected);
    // The machine zone's standard offset, written as a number, names it.
    EXPECT_EQ(XTimeZone::findByName(std::to_string(local.standard().offsetTo.seconds())).getName(), expected);
}
