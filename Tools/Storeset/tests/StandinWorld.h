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
#include "demo/WorldTest.h"
#include "winplat/com.h"
#include "winplat/console.h"
#include "winplat/inject.h"
#include "winplat/mapi.h"
#include "winplat/modules.h"
#include "winplat/oleauto.h"
#include "winplat/registry.h"

inline Standin& runtime() {
    return runtime(world::Build::v74);
}

class WorldTest : public StandinWorldTest {
  protected:
    WorldTest() : StandinWorldTest(world::Build::v74) {}

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
};
