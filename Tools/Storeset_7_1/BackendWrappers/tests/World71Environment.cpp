// Calling threads of the 7.1 build start MAPI, imported from the system's
// MAPI32.dll: every test runs in a 7.1 world laid out once, with the
// imports bound before the call layer is first made, so that the MAPI
// stand-in outlives the pool that the process ends with.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>

#include "Tools/Storeset_7_1/MapiImports71.h"
#include "demo/World.h"

namespace {

// The world's folder; removed when the process ends (a death test's child
// process ends without tearing down).
std::string& root() {
    static std::string folder;
    return folder;
}

class World71 : public ::testing::Environment {
  public:
    void SetUp() override {
        root() = world::freshTempFolder("backendwrappers71-");
        std::atexit([] { std::filesystem::remove_all(root()); });
        world::layOutDemo(root(), STORESET_SOURCE_DIR, world::standinFolder(), world::Build::v71);
        uint32_t status = 0;
        std::string message;
        ASSERT_TRUE(mapiImports::bind(&status, &message)) << message;
    }
};

[[maybe_unused]] ::testing::Environment* const world71 = ::testing::AddGlobalTestEnvironment(new World71);

}  // namespace
