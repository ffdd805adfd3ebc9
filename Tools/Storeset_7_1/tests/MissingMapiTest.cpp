// The real program in its own process: without MAPI32.dll, or with one that
// lacks an import's ordinal, it stops before its main with the loader's
// status (as an exit status, its low byte) and names what is missing.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <string>

#include "demo/World.h"

namespace {

struct Outcome {
    int status;
    std::string err;
    std::string out;
};

Outcome runProgram(const std::string& root) {
    std::string command = "WINPLAT_ROOT='" + root + "' WINPLAT_REGISTRY='" + root + "/registry.reg' '" +
                          STORESET71_PROGRAM + "' /profile=Demo >'" + root + "/out' 2>'" + root + "/err'";
    int raw = std::system(command.c_str());
    return {WIFEXITED(raw) ? WEXITSTATUS(raw) : -1, world::readFile(root + "/err"),
            world::readFile(root + "/out")};
}

}  // namespace

TEST(MissingMapi, TheProgramStopsBeforeMainNamingTheModuleOrTheOrdinal) {
    namespace fs = std::filesystem;
    const std::string root =
        (fs::temp_directory_path() / ("storeset71-nomapi-" + std::to_string(getpid()))).string();
    fs::remove_all(root);
    fs::create_directories(root + "/c/windows/system32");
    world::writeFile(root + "/registry.reg", "Windows Registry Editor Version 5.00\n");

    Outcome missing = runProgram(root);
    EXPECT_EQ(missing.status, 0x35);  // 0xC0000135
    EXPECT_EQ(missing.err, "The program can't start because MAPI32.dll is missing.\n");
    EXPECT_EQ(missing.out, "");

    // A module of that name without the ordinals.
    fs::copy_file(fs::path(world::standinFolder()) / "HollomarPS.dll",
                  root + "/c/windows/system32/MAPI32.dll");
    Outcome noOrdinal = runProgram(root);
    EXPECT_EQ(noOrdinal.status, 0x38);  // 0xC0000138
    EXPECT_EQ(noOrdinal.err, "The ordinal 13 could not be located in the dynamic link library MAPI32.dll.\n");
    EXPECT_EQ(noOrdinal.out, "");
    fs::remove_all(root);
}
