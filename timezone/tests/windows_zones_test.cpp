// Windows time-zone records: byte layouts against golden bytes, record dates
// of rules, the machine's record and the registry's zones over a fixture.
#include <gtest/gtest.h>

#include <cstring>
#include <utility>
#include <vector>
#include <string>
#include <tuple>

#include "ScopedTz.h"
#include "platform/tests/registry_fixture.h"
#include "timezone/DateTimeFunctions.h"
#include "timezone/WindowsZones.h"
#include "winplat/inject.h"

using namespace tavlo::timezone;

namespace {

SYSTEMTIME yearlyRule(int month, int weekday, int occurrence, int hour) {
    SYSTEMTIME r{};
    r.wMonth = static_cast<WORD>(month);
    r.wDayOfWeek = static_cast<WORD>(weekday);
    r.wDay = static_cast<WORD>(occurrence);
    r.wHour = static_cast<WORD>(hour);
    return r;
}

RegistryTzi regTzi(LONG bias, LONG daylightBias, SYSTEMTIME standard, SYSTEMTIME daylight) {
    return RegistryTzi{bias, 0, daylightBias, standard, daylight};
}

const RegistryTzi kEastern = regTzi(300, -60, yearlyRule(11, 0, 1, 2), yearlyRule(3, 0, 2, 2));
const RegistryTzi kSydney = regTzi(-600, -60, yearlyRule(4, 0, 1, 3), yearlyRule(10, 0, 1, 2));
const RegistryTzi kIndia = regTzi(-330, 0, SYSTEMTIME{}, SYSTEMTIME{});

// The blob of kEastern as written by the calendar.
const unsigned char kEasternBlob[48] = {
    0x2c, 0x01, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0xc4, 0xff, 0xff, 0xff, 0x00, 0x00, 0x00, 0x00,
    0x0b, 0x00, 0x00, 0x00, 0x01, 0x00, 0x02, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,
    0x00, 0x00, 0x03, 0x00, 0x00, 0x00, 0x02, 0x00, 0x02, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00};

// A name map with its records as blob bytes, which compare.
template <typename Names>
std::vector<std::pair<std::string, std::wstring>> entries(const Names& names) {
    std::vector<std::pair<std::string, std::wstring>> out;
    for (const auto& [tzi, name] : names) {
        out.emplace_back(regTziToMapiBlob(tzi), name);
    }
    return out;
}

bool sameRecord(const RegistryTzi& a, const RegistryTzi& b) {
    return std::memcmp(&a, &b, sizeof(a)) == 0;
}

TIME_ZONE_INFORMATION filled() {
    TIME_ZONE_INFORMATION z;
    std::memset(&z, 0x5a, sizeof(z));
    return z;
}

}  // namespace

TEST(ZoneRecords, BlobLayoutsAndGoldenBytes) {
    const std::string golden(reinterpret_cast<const char*>(kEasternBlob), sizeof(kEasternBlob));
    EXPECT_EQ(regTziToMapiBlob(kEastern), golden);

    // Other lengths are refused with a zeroed record; 48 bytes are read at
    // their offsets, the year words (12-13, 30-31) ignored.
    for (size_t size : {0, 47, 49}) {
        TIME_ZONE_INFORMATION z = filled();
        std::string blob = golden;
        blob.resize(size, '\x07');
        EXPECT_FALSE(mapiBlobToTzi(blob, &z)) << size;
        EXPECT_TRUE(isTziEmpty(&z)) << size;
    }
    std::string withYears = golden;
    withYears[12] = withYears[13] = withYears[30] = withYears[31] = '\x7e';
    TIME_ZONE_INFORMATION z = filled();
    ASSERT_TRUE(mapiBlobToTzi(withYears, &z));
    EXPECT_TRUE(sameRecord(tziToRegTzi(z), kEastern));
    EXPECT_EQ(z.StandardName[0], 0);
    EXPECT_EQ(z.DaylightName[0], 0);
    EXPECT_EQ(regTziToMapiBlob(tziToRegTzi(z)), golden);
    EXPECT_TRUE(sameRecord(tziToRegTzi(regTziToTzi(kSydney)), kSydney));

    // Records order as their bytes do (the bias's low byte first), not by value.
    EXPECT_TRUE(regTziLess(kEastern, kIndia));
    EXPECT_TRUE(regTziLess(kSydney, kIndia));
    EXPECT_FALSE(regTziLess(kIndia, kSydney));
    EXPECT_FALSE(regTziLess(kEastern, kEastern));
}

TEST(ZoneRecords, EmptyAndGreenlandRecords) {
    TIME_ZONE_INFORMATION zero{};
    TIME_ZONE_INFORMATION onlyDaylightBias{};
    onlyDaylightBias.DaylightBias = -60;
    EXPECT_FALSE(isTziEmpty(nullptr));
    EXPECT_TRUE(isTziEmpty(&zero));
    EXPECT_FALSE(isTziEmpty(&onlyDaylightBias));

    const TIME_ZONE_INFORMATION& g = greenlandTzi();
    EXPECT_EQ(std::make_tuple(g.Bias, g.StandardBias, g.DaylightBias), std::make_tuple(180, 0, -60));
    EXPECT_TRUE(systemTimeEqual(g.StandardDate, yearlyRule(10, 0, 5, 2)));
    EXPECT_TRUE(systemTimeEqual(g.DaylightDate, yearlyRule(4, 0, 1, 2)));
    EXPECT_TRUE(isGreenlandTzi(g));
    // Names do not take part; every other field does.
    TIME_ZONE_INFORMATION named = g;
    named.StandardName[0] = L'W';
    EXPECT_TRUE(isGreenlandTzi(named));
    for (int field = 0; field < 5; ++field) {
        TIME_ZONE_INFORMATION other = g;
        switch (field) {
            case 0:
                other.Bias = 120;
                break;
            case 1:
                other.StandardBias = 1;
                break;
            case 2:
                other.DaylightBias = -30;
                break;
            case 3:
                other.StandardDate.wMinute = 1;
                break;
            default:
                other.DaylightDate.wDay = 2;
                break;
        }
        EXPECT_FALSE(isGreenlandTzi(other)) << field;
    }
}

TEST(ZoneRecords, RuleDates) {
    struct Case {
        const char* rule;
        bool ok;
        int month, weekday, occurrence;
    };
    const Case cases[] = {
        {"FREQ=YEARLY;BYMONTH=3;BYDAY=2SU", true, 3, 0, 2},
        {"FREQ=YEARLY;BYMONTH=11;BYDAY=1SU", true, 11, 0, 1},
        {"FREQ=YEARLY;BYMONTH=10;BYDAY=-1SU", true, 10, 0, 5},
        {"FREQ=YEARLY;BYMONTH=3;BYDAY=-1SA", true, 3, 6, 5},
        {"FREQ=YEARLY;BYMONTH=5;BYDAY=4MO", true, 5, 1, 4},
        {"FREQ=YEARLY;BYMONTH=5;BYDAY=5SU", false, 0, 0, 0},
        {"FREQ=YEARLY;BYMONTH=5;BYDAY=-2SU", false, 0, 0, 0},
        {"FREQ=YEARLY;BYMONTH=5;BYDAY=SU", false, 0, 0, 0},
        {"FREQ=YEARLY;BYMONTH=5;BYDAY=1SU,2SU", false, 0, 0, 0},
        {"FREQ=YEARLY;BYMONTH=3,4;BYDAY=1SU", false, 0, 0, 0},
        {"FREQ=YEARLY;BYMONTH=13;BYDAY=1SU", false, 0, 0, 0},
        {"FREQ=YEARLY;BYDAY=1SU", false, 0, 0, 0},
        {"FREQ=MONTHLY;BYMONTH=3;BYDAY=1SU", false, 0, 0, 0},
        {"BYMONTH=3;BYDAY=1SU", false, 0, 0, 0},
        // A fixed day of the month has no record form.
        {"FREQ=YEARLY;BYMONTH=10;BYMONTHDAY=2", false, 0, 0, 0},
        {"FREQ=YEARLY;BYMONTH=7;BYMONTHDAY=31", false, 0, 0, 0},
        {"FREQ=YEARLY;BYMONTH=4", false, 0, 0, 0},
    };
    for (const Case& c : cases) {
        RecurrenceRule r;
        r.parse(c.rule);
        SYSTEMTIME out = yearlyRule(0, 0, 0, 7);
        out.wMinute = 45;
        const SYSTEMTIME before = out;
        ASSERT_EQ(ruleToTziDate(r, &out), c.ok) << c.rule;
        if (!c.ok) {
            EXPECT_TRUE(systemTimeEqual(out, before)) << c.rule;
            continue;
        }
        EXPECT_EQ(std::make_tuple(out.wMonth, out.wDayOfWeek, out.wDay, out.wHour, out.wMinute),
                  std::make_tuple(c.month, c.weekday, c.occurrence, 7, 45))
            << c.rule;
    }
}

TEST(ZoneRecords, MachineRecord) {
    winplat::inject::Scope injections;
    {
        ScopedTz tz("America/New_York");
        const RegistryTzi got = tziToRegTzi(currentTzi());
        EXPECT_TRUE(sameRecord(got, kEastern));
    }
    {
        ScopedTz tz("Asia/Kolkata");
        EXPECT_TRUE(sameRecord(tziToRegTzi(currentTzi()), kIndia));
    }
    winplat::inject::arm("GetTimeZoneInformation", ERROR_INVALID_PARAMETER);
    const TIME_ZONE_INFORMATION failed = currentTzi();
    EXPECT_TRUE(isTziEmpty(&failed));
}

class RegistryZones : public regtest::RegistryTest {
  protected:
    void SetUp() override {
        RegistryTest::SetUp();
        ASSERT_EQ(load(regtest::readBytes(TIMEZONE_TEST_DATA "/data/time_zones.reg")), ERROR_SUCCESS);
        before_ = regtest::readBytes(file_);
    }
    void TearDown() override {
        EXPECT_EQ(regtest::readBytes(file_), before_) << "the registry was changed";
        RegistryTest::TearDown();
    }
    std::string before_;
};

TEST_F(RegistryZones, DisplayAndStandardNames) {
    // Left out: a zone without "Display", a text TZI, a 45-byte TZI and a
    // display name that is no string; the second zone of a record loses.
    const std::vector<std::pair<std::string, std::wstring>> display = {
        {regTziToMapiBlob(kEastern), L"(UTC-05:00) Eastern Time (US & Canada)"},
        {regTziToMapiBlob(kSydney), L"(UTC+10:00) Canberra, Melbourne, Sydney"}};
    EXPECT_EQ(entries(registryDisplayNames()), display);

    // Every zone with a standard name, in record order, then registry order.
    const RegistryZoneNameList standard = registryStandardNames();
    const RegistryTzi london = regTzi(0, -60, yearlyRule(10, 0, 5, 2), yearlyRule(3, 0, 5, 1));
    const std::vector<std::pair<std::string, std::wstring>> standardNames = {
        {regTziToMapiBlob(london), L"GMT Standard Time"},
        {regTziToMapiBlob(kEastern), L"Eastern Standard Time"},
        {regTziToMapiBlob(kEastern), L"US Eastern Standard Time"},
        {regTziToMapiBlob(kSydney), L"AUS Eastern Standard Time"},
        {regTziToMapiBlob(kIndia), L"Word Name Time"}};
    EXPECT_EQ(entries(standard), standardNames);
    EXPECT_EQ(standard.count(kEastern), 2u);
    EXPECT_EQ(standard.find(kEastern)->second, L"Eastern Standard Time");
    EXPECT_TRUE(readRegistryZones(L"NoSuchValue").empty());

    EXPECT_EQ(displayNameOfTzi(kEastern), L"(UTC-05:00) Eastern Time (US & Canada)");
    EXPECT_EQ(displayNameOfTzi(kIndia), L"");
}

TEST_F(RegistryZones, EnumerationEndsAtTheFirstFailure) {
    winplat::inject::arm("RegEnumKeyExW", ERROR_INVALID_PARAMETER, 1, 2);
    const RegistryZoneNameList standard = registryStandardNames();
    ASSERT_EQ(standard.size(), 2u);
    EXPECT_EQ(standard.find(kSydney)->second, L"AUS Eastern Standard Time");
    EXPECT_EQ(standard.find(kEastern)->second, L"Eastern Standard Time");

    winplat::inject::arm("RegOpenKeyExW", ERROR_ACCESS_DENIED, 1, 0);
    EXPECT_TRUE(registryDisplayNames().empty());
    // A subkey that cannot be opened is passed over.
    winplat::inject::arm("RegOpenKeyExW", ERROR_ACCESS_DENIED, 1, 1);
    EXPECT_EQ(registryDisplayNames().count(kSydney), 0u);
    EXPECT_EQ(registryDisplayNames().count(kEastern), 1u);
}
