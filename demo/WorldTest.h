// A fresh demo world per test, the stand-ins' records, and the checks that
// every run leaves nothing behind; for the tests of both builds of the tool.
// The including test binary defines STORESET_SOURCE_DIR.
#pragma once

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <optional>
#include <regex>
#include <string>
#include <vector>

#include "demo/World.h"
#include "platform/tests/test_folder.h"
#include "standins/common/StandinProbe.h"
#include "winplat/com.h"
#include "winplat/inject.h"
#include "winplat/kernel.h"
#include "winplat/oleauto.h"
#include "winplat/registry.h"

// The demo profile's sections: the connector's, and those of the primary
// and the public store.
inline const std::wstring ServiceSection = world::ServiceSectionW;
inline const std::wstring PrimarySection = L"1e2f3a4b5c6d7e8f9a0b1c2d3e4f5a6b";
inline const std::wstring PublicSection = L"2f3a4b5c6d7e8f9a0b1c2d3e4f5a6b7c";

// A store's three values as the adoption writes them.
inline void expectAdopted(world::ProfileSnapshot& expected, const std::wstring& section, int store) {
    expected[section][L"01020ff9"] = {REG_BINARY, storeBytes(store)};
    expected[section][L"01020ffa"] = {REG_BINARY, storeBytes(store)};
    expected[section][L"01020fff"] = {REG_BINARY, wrappedEntryId(storeBytes(store))};
}

// The server property as the run leaves it: the server unavailable.
inline void expectMarker(world::ProfileSnapshot& expected) {
    expected[ServiceSection][L"001e660c"] = {REG_BINARY,
                                             std::string("{B19C9E26-B196-42b9-B3D1-1AC0942D3000}") + '\0'};
}

// The MAPI runtime under the name the world installs it by.
inline Standin& runtime(world::Build build) {
    static Standin v74(L"olmapi32.dll");
    static Standin v71(L"MAPI32.dll");
    return build == world::Build::v71 ? v71 : v74;
}
inline Standin& server() {
    static Standin s(L"Hollomar.dll");
    return s;
}
inline Standin& proxyStub() {
    static Standin s(L"HollomarPS.dll");
    return s;
}

// The location's line number is the source's business; everything else of
// an error text is compared byte for byte.
inline std::string withoutLines(const std::string& text) {
    return std::regex_replace(text, std::regex("\\(([0-9]+)\\), "), "(N), ");
}

// The ways a database can fail to be read, with their names for test rows:
// the profile names none (its name is empty), or the file it names is
// absent, a folder or one whose reads fail.
enum class Unreadable { EmptyName, Missing, Folder, ReadFails };
inline const Unreadable EveryUnreadable[] = {Unreadable::EmptyName, Unreadable::Missing, Unreadable::Folder,
                                             Unreadable::ReadFails};
inline const char* nameOf(Unreadable how) {
    const char* const names[] = {"EmptyName", "Missing", "Folder", "ReadFails"};
    return names[static_cast<int>(how)];
}
inline std::string rowName(const ::testing::TestParamInfo<Unreadable>& row) {
    return nameOf(row.param);
}
inline void PrintTo(Unreadable how, std::ostream* os) {
    *os << nameOf(how);
}
// The tool's line of the database name it read.
inline std::string namedDatabase(Unreadable how) {
    return std::string("Database name is '") +
           (how == Unreadable::EmptyName ? "" : "C:\\ProgramData\\Connector\\Demo.db") + "'\n";
}
// What the server says of each on the error stream: that the name is empty,
// or the file and the C library's reason.
inline std::string unreadableComplaint(Unreadable how) {
    if (how == Unreadable::EmptyName) {
        return "Hollomar: the store database name is empty\n";
    }
    const char* const reasons[] = {"", "No such file or directory", "Is a directory", "Input/output error"};
    return std::string("Hollomar: store database C:\\ProgramData\\Connector\\Demo.db, cannot be read: ") +
           reasons[static_cast<int>(how)] + "\n";
}

// Database lines the server cannot read, each after lines it can, and what
// the server says of each on the error stream.
struct BadDatabaseLine {
    std::string database;
    std::string complaint;
};
inline std::vector<BadDatabaseLine> badDatabaseLines() {
    const std::string first = "{0A1B2C3D-4E5F-4A6B-8C7D-8E9FA0B1C201} primary\n";
    const std::string kinds = "(primary, public, delegate, other, noprovider or shortprovider)";
    const std::string at = "Hollomar: store database C:\\ProgramData\\Connector\\Demo.db, ";
    return {
        {"{0A1B2C3D-4E5F-4A6B-8C7D-8E9FA0B1C201} Primary\n",
         at + "line 1: unknown kind 'Primary' " + kinds +
             ": {0A1B2C3D-4E5F-4A6B-8C7D-8E9FA0B1C201} Primary\n"},
        {"# stores\n\n" + first + "{0A1B2C3D-4E5F-4A6B-8C7D-8E9FA0B1C202} pubic\r\n",
         at + "line 4: unknown kind 'pubic' " + kinds + ": {0A1B2C3D-4E5F-4A6B-8C7D-8E9FA0B1C202} pubic\n"},
        {first + "{0A1B2C3D-4E5F-4A6B-8C7D-8E9FA0B1C201}  primary\n",
         at + "line 2: unknown kind ' primary' " + kinds +
             ": {0A1B2C3D-4E5F-4A6B-8C7D-8E9FA0B1C201}  primary\n"},
        {first + "{0A1B2C3D-4E5F-4A6B-8C7D-8E9FA0B1C20} primary\n",
         at + "line 2: '{0A1B2C3D-4E5F-4A6B-8C7D-8E9FA0B1C20}' is not a GUID in braces: "
              "{0A1B2C3D-4E5F-4A6B-8C7D-8E9FA0B1C20} primary\n"},
        {"0A1B2C3D-4E5F-4A6B-8C7D-8E9FA0B1C201 primary\n",
         at + "line 1: '0A1B2C3D-4E5F-4A6B-8C7D-8E9FA0B1C201' is not a GUID in braces: "
              "0A1B2C3D-4E5F-4A6B-8C7D-8E9FA0B1C201 primary\n"},
        {first + " # stores\n", at + "line 2: '' is not a GUID in braces:  # stores\n"},
        {"{0A1B2C3D-4E5F-4A6B-8C7D-8E9FA0B1C201}\tprimary\n",
         at + "line 1: not \"{GUID} kind\": {0A1B2C3D-4E5F-4A6B-8C7D-8E9FA0B1C201}\tprimary\n"},
        // A byte-order mark is nothing only at the start of the file.
        {first + "\xEF\xBB\xBF{0A1B2C3D-4E5F-4A6B-8C7D-8E9FA0B1C202} public\n",
         at + "line 2: '\xEF\xBB\xBF{0A1B2C3D-4E5F-4A6B-8C7D-8E9FA0B1C202}' is not a GUID in braces: "
              "\xEF\xBB\xBF{0A1B2C3D-4E5F-4A6B-8C7D-8E9FA0B1C202} public\n"},
    };
}

class StandinWorldTest : public ::testing::Test {
  protected:
    explicit StandinWorldTest(world::Build build) : build_(build) {}

    static constexpr const char* Profile = "Demo";

    void SetUp() override {
        winplat::inject::reset();
        // One root per process: modules loaded from it stay loaded, and a
        // fresh world at the same paths finds them again. Made afresh, so a
        // world an earlier process left (one killed mid-test) is never
        // taken up by a later one with the same process id.
        static const std::string root = testfolder::fresh("storeset-world-");
        root_ = root;
        world_ = world::layOutDemo(root_, STORESET_SOURCE_DIR, world::standinFolder(), build_);
        for (Standin* s : {&runtime(build_), &server(), &proxyStub()}) {
            s->reset();
        }
        keysBefore_ = winplat::registry::openKeyCount();
        bstrsBefore_ = winplat::com::liveBstrCount();
        handlesBefore_ = winplat::kernel::openHandleCount();
        before_ = world::snapshotProfile(Profile);
    }

    void TearDown() override {
        winplat::inject::reset();
        testfolder::removeAll(root_);
    }

    void rewriteDatabase(const std::string& lines) {
        world::writeFile(world_.posix("C:\\ProgramData\\Connector\\Demo.db"), lines);
    }

    // The database name made empty (an empty PT_UNICODE value, its
    // terminator alone), with the database left where it was; or the
    // database the profile names made absent, a folder, or a file that opens
    // but whose reads fail (/proc/self/mem at offset 0 fails for root too,
    // where permission bits would not).
    void makeUnreadable(Unreadable how) {
        if (how == Unreadable::EmptyName) {
            const std::wstring key = std::wstring(world::ProfilesKeyW) + L"\\Demo\\" + ServiceSection;
            HKEY section = nullptr;
            ASSERT_EQ(RegOpenKeyExW(HKEY_CURRENT_USER, key.c_str(), 0, KEY_WRITE, &section), ERROR_SUCCESS);
            const BYTE terminator[2] = {0, 0};
            const LSTATUS set = RegSetValueExW(section, L"001f6708", 0, REG_BINARY, terminator, 2);
            RegCloseKey(section);
            ASSERT_EQ(set, ERROR_SUCCESS);
            ASSERT_EQ(world::databaseName(Profile), std::optional<std::wstring>(L""));
            return;
        }
        const std::string path = world_.posix("C:\\ProgramData\\Connector\\Demo.db");
        std::filesystem::remove(path);
        if (how == Unreadable::Folder) {
            std::filesystem::create_directory(path);
        } else if (how == Unreadable::ReadFails) {
            std::filesystem::create_symlink("/proc/self/mem", path);
        }
        // Those two open: only their reads fail.
        ASSERT_EQ(std::ifstream(path).is_open(), how != Unreadable::Missing);
    }

    std::string registryBytes() {
        winplat::registry::flush();
        return world::readFile(world_.registryFile);
    }

    // Everything the run made is gone again and MAPI was left as found.
    void expectAllReleased() {
        EXPECT_EQ(runtime(build_).counter("liveObjects"), 0);
        EXPECT_EQ(runtime(build_).counter("liveBlocks"), 0);
        EXPECT_EQ(runtime(build_).counter("badFrees"), 0);
        EXPECT_EQ(runtime(build_).counter("badAllocateMore"), 0);
        EXPECT_EQ(runtime(build_).counter("unbalancedUninitialize"), 0);
        EXPECT_EQ(runtime(build_).counter("initCalls"), runtime(build_).counter("uninitCalls"));
        EXPECT_EQ(server().counter("liveObjects"), 0);
        EXPECT_EQ(winplat::registry::openKeyCount(), keysBefore_);
        EXPECT_EQ(winplat::com::liveBstrCount(), bstrsBefore_);
        EXPECT_EQ(winplat::kernel::openHandleCount(), handlesBefore_);
        EXPECT_EQ(winplat::com::currentApartment(), winplat::com::Apartment::None);
    }

    // The demo database adopted: its primary and public stores in their
    // sections, the server marked unavailable, nothing else changed, and
    // everything the run made released.
    void expectDemoAdopted() {
        world::ProfileSnapshot expected = before_;
        expectAdopted(expected, PrimarySection, 1);
        expectAdopted(expected, PublicSection, 2);
        expectMarker(expected);
        expectProfile(expected);
        expectAllReleased();
    }

    // The profile now holds exactly `expected`.
    void expectProfile(const world::ProfileSnapshot& expected) {
        world::ProfileSnapshot now = world::snapshotProfile(Profile);
        EXPECT_EQ(now.size(), expected.size());
        for (const auto& [section, values] : expected) {
            auto it = now.find(section);
            ASSERT_NE(it, now.end()) << "section missing";
            for (const auto& [name, value] : values) {
                auto v = it->second.find(name);
                ASSERT_NE(v, it->second.end()) << "value missing";
                EXPECT_EQ(v->second.first, value.first);
                EXPECT_EQ(v->second.second, value.second);
            }
            EXPECT_EQ(it->second.size(), values.size());
        }
    }

    world::Build build_;
    std::string root_;
    world::World world_;
    world::ProfileSnapshot before_;
    size_t keysBefore_ = 0;
    int64_t bstrsBefore_ = 0;
    size_t handlesBefore_ = 0;
};
