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
#include "platform/tests/test_folder.h"

namespace {

class World71 : public ::testing::Environment {
  public:
    void SetUp() override {
        if (!GTEST_FLAG_GET(internal_run_death_test).empty()) {
            // A death test's child may end without tearing down: it takes
            // up its parent's world, which it was started in, rather than
            // lay out one that nobody would remove.
            const char* parents = std::getenv("WINPLAT_ROOT");
            ASSERT_NE(parents, nullptr);
            world::activate(parents);
        } else {
            root_ = testfolder::fresh("backendwrappers71-");
            world::layOutDemo(root_, STORESET_SOURCE_DIR, world::standinFolder(), world::Build::v71);
        }
        uint32_t status = 0;
        std::string message;
        ASSERT_TRUE(mapiImports::bind(&status, &message)) << message;
    }

    void TearDown() override {
        if (root_.empty()) {
            return;
        }
        // The registry leaves the world first, so that nothing writes into
        // it again when the process ends.
        unsetenv("WINPLAT_REGISTRY");
        winplat::registry::reload();
        std::filesystem::remove_all(root_);
    }

  private:
    std::string root_;  // the world this process laid out; empty in a death test's child
};

[[maybe_unused]] ::testing::Environment* const world71 = ::testing::AddGlobalTestEnvironment(new World71);

}  // namespace
