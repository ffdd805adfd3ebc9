// Calling threads of the 7.1 build start MAPI, imported from the system's
// MAPI32.dll: every test runs in a 7.1 world laid out once, with the
// imports bound before the call layer is first made, so that the MAPI
// stand-in outlives the pool that the process ends with.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>

#include "Tools/Storeset_7_1/MapiImports71.h"
#include "demo/World.h"

namespace {

class World71 : public ::testing::Environment {
  public:
    void SetUp() override {
        root_ = (std::filesystem::temp_directory_path() / ("backendwrappers71-" + std::to_string(getpid())))
                    .string();
        world::layOutDemo(root_, STORESET_SOURCE_DIR, world::standinFolder(), world::Build::v71);
        uint32_t status = 0;
        std::string message;
        ASSERT_TRUE(mapiImports::bind(&status, &message)) << message;
    }
    void TearDown() override { std::filesystem::remove_all(root_); }

  private:
    std::string root_;
};

[[maybe_unused]] ::testing::Environment* const world71 = ::testing::AddGlobalTestEnvironment(new World71);

}  // namespace
