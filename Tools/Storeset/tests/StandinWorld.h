// A fresh demo world per test, the stand-ins' records, and the checks that
// every run leaves nothing behind.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <regex>
#include <string>
#include <unistd.h>
#include <vector>

#include "MapiProvider/Utilities/MapiLoader.h"
#include "Tools/Storeset/Storeset.h"
#include "demo/World.h"
#include "winplat/com.h"
#include "winplat/console.h"
#include "winplat/inject.h"
#include "winplat/mapi.h"
#include "winplat/modules.h"
#include "winplat/oleauto.h"
#include "winplat/registry.h"

// A stand-in module's record, reached through its handle (all zero while it
// is not loaded).
class Standin {
  public:
    explicit Standin(const wchar_t* name) : name_(name) {}

    int64_t counter(const char* name) const {
        auto fn = proc<int64_t (*)(const char*)>("standinCounter");
        return fn ? fn(name) : 0;
    }
    std::vector<std::string> calls() const {
        std::vector<std::string> out;
        if (auto fn = proc<void (*)(std::vector<std::string>*)>("standinCalls")) {
            fn(&out);
        }
        return out;
    }
    void reset() const {
        if (auto fn = proc<void (*)()>("standinReset")) {
            fn();
        }
    }
    bool loaded() const { return GetModuleHandleW(name_) != nullptr; }

  private:
    template <class Fn>
    Fn proc(const char* name) const {
        HMODULE m = GetModuleHandleW(name_);
        return m ? reinterpret_cast<Fn>(reinterpret_cast<void (*)()>(GetProcAddress(m, name))) : nullptr;
    }

    const wchar_t* name_;
};

inline Standin& runtime() {
    static Standin s(L"olmapi32.dll");
    return s;
}
inline Standin& server() {
    static Standin s(L"Hollomar.dll");
    return s;
}
inline Standin& proxyStub() {
    static Standin s(L"HollomarPS.dll");
    return s;
}

// Bytes of a GUID in memory order.
inline std::string guidBytes(const GUID& g) {
    return std::string(reinterpret_cast<const char*>(&g), sizeof(g));
}

inline std::string fromHex(const std::string& hex) {
    std::string out;
    for (size_t i = 0; i + 1 < hex.size(); i += 2) {
        out += static_cast<char>(std::stoi(hex.substr(i, 2), nullptr, 16));
    }
    return out;
}

// The location's line number is the source's business; everything else of
// an error text is compared byte for byte.
inline std::string withoutLines(const std::string& text) {
    return std::regex_replace(text, std::regex("\\(([0-9]+)\\), "), "(N), ");
}

class WorldTest : public ::testing::Test {
  protected:
    static constexpr const char* Profile = "Demo";

    void SetUp() override {
        winplat::inject::reset();
        // One root per process: modules loaded from it stay loaded, and a
        // fresh world at the same paths finds them again.
        root_ = (std::filesystem::temp_directory_path() / ("storeset-world-" + std::to_string(getpid())))
                    .string();
        world_ = world::layOutDemo(root_, STORESET_SOURCE_DIR, world::standinFolder());
        for (Standin* s : {&runtime(), &server(), &proxyStub()}) {
            s->reset();
        }
        keysBefore_ = winplat::registry::openKeyCount();
        bstrsBefore_ = winplat::com::liveBstrCount();
        before_ = world::snapshotProfile(Profile);
    }

    void TearDown() override {
        winplat::inject::reset();
        if (::testing::Test::HasFailure()) {
            return;  // keep the world for a look
        }
        std::filesystem::remove_all(root_);
    }

    void rewriteDatabase(const std::string& lines) {
        world::writeFile(world_.posix("C:\\ProgramData\\Connector\\Demo.db"), lines);
    }

    struct Run {
        int result;
        std::string out;
        std::string err;
    };

    Run run(std::vector<std::wstring> arguments = {L"/p", L"Demo"}) {
        arguments.insert(arguments.begin(), L"Storeset");
        std::vector<wchar_t*> argv;
        for (auto& a : arguments) {
            argv.push_back(a.data());
        }
        winplat::console::Capture capture;
        int result = wmain(static_cast<int>(argv.size()), argv.data());
        return Run{result, capture.out(), capture.err()};
    }

    // Everything the run made is gone again and MAPI was left as found.
    void expectAllReleased() {
        EXPECT_EQ(runtime().counter("liveObjects"), 0);
        EXPECT_EQ(runtime().counter("liveBlocks"), 0);
        EXPECT_EQ(runtime().counter("badFrees"), 0);
        EXPECT_EQ(runtime().counter("badAllocateMore"), 0);
        EXPECT_EQ(runtime().counter("unbalancedUninitialize"), 0);
        EXPECT_EQ(runtime().counter("initCalls"), runtime().counter("uninitCalls"));
        EXPECT_EQ(server().counter("liveObjects"), 0);
        EXPECT_EQ(winplat::registry::openKeyCount(), keysBefore_);
        EXPECT_EQ(winplat::com::liveBstrCount(), bstrsBefore_);
        EXPECT_EQ(winplat::com::currentApartment(), winplat::com::Apartment::None);
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

    std::string root_;
    world::World world_;
    world::ProfileSnapshot before_;
    size_t keysBefore_ = 0;
    int64_t bstrsBefore_ = 0;
};
