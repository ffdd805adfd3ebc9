// Storeset_7_1 run in-process against a fresh 7.1 demo world.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "Tools/Storeset_7_1/MapiImports71.h"
#include "Tools/Storeset_7_1/Storeset71.h"
#include "demo/WorldTest.h"
#include "winplat/console.h"
#include "winplat/mapi.h"

inline Standin& runtime() {
    return runtime(world::Build::v71);
}

class World71Test : public StandinWorldTest {
  protected:
    World71Test() : StandinWorldTest(world::Build::v71) {}

    void SetUp() override {
        StandinWorldTest::SetUp();
        // What the loader does for the program: once per process, from the
        // world's system folder.
        uint32_t status = 0;
        std::string message;
        ASSERT_TRUE(mapiImports::bind(&status, &message)) << message;
    }

    struct Run {
        int result;
        std::string out;
        std::string err;
    };

    // argv as the narrow main receives it: ANSI code-page text.
    Run run(std::vector<std::string> arguments = {"/profile=Demo"}) {
        arguments.insert(arguments.begin(), "Storeset_7_1");
        std::vector<char*> argv;
        for (auto& a : arguments) {
            argv.push_back(a.data());
        }
        argv.push_back(nullptr);
        winplat::console::Capture capture;
        int result = storeset71::main(static_cast<int>(arguments.size()), argv.data());
        return Run{result, capture.out(), capture.err()};
    }
};

namespace demo71 {

inline const std::string Opening = "Opening MAPI profile 'Demo'\n";
inline const std::string Reading = "Retrieving database name from MAPI profile\n";
inline const std::string Named = "Database name is 'C:\\ProgramData\\Connector\\Demo.db'\n";
inline const std::string Connecting = "Connecting to MirtBackend\n";
inline const std::string Listing = "Retrieving list of stores\n";
inline const std::string Head = Opening + Reading + Named + Connecting + Listing;
inline const std::string Checks =
    "Searching profile section in registry\n"
    "Checking existence of PR_RECORD_KEY\n"
    "Checking existence of PR_STORE_RECORD_KEY\n"
    "Checking existence of PR_ENTRYID\n"
    "Setting new property values\n";

}  // namespace demo71
