// The real program in its own process: without a MAPI32.dll it can load, or
// with one that lacks an import's ordinal, it stops before its main with the
// loader's status (as an exit status, its low byte) and says what is missing
// or why the module would not load, the C library's reason for one it cannot
// read.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "demo/World.h"
#include "platform/tests/test_folder.h"

namespace {

struct Outcome {
    int status;
    std::string err;
    std::string out;
};

// Runs the program in the world `root`; `other` runs it as a user other
// than root, to whom a file of mode 000 is closed (root reads any file).
Outcome runProgram(const std::string& root, bool other = false) {
    const std::string as =
        other && geteuid() == 0 ? "setpriv --reuid=65534 --regid=65534 --clear-groups " : "";
    std::string command = "WINPLAT_ROOT='" + root + "' WINPLAT_REGISTRY='" + root + "/registry.reg' " + as +
                          "'" + STORESET71_PROGRAM + "' /profile=Demo >'" + root + "/out' 2>'" + root +
                          "/err'";
    int raw = std::system(command.c_str());
    return {WIFEXITED(raw) ? WEXITSTATUS(raw) : -1, world::readFile(root + "/err"),
            world::readFile(root + "/out")};
}

// A module whose first needed library no system has: the stand-in with that
// name rewritten in place (same length, so nothing else moves).
std::string withMissingDependency(std::string module) {
    const std::string needed = std::string("libwinplat.so") + '\0';
    const std::string missing = std::string("libnowhere.so") + '\0';
    size_t at = module.find(needed);
    EXPECT_NE(at, std::string::npos);
    for (; at != std::string::npos; at = module.find(needed, at)) {
        module.replace(at, needed.size(), missing);
    }
    return module;
}

}  // namespace

TEST(MissingMapi, TheProgramStopsBeforeMainSayingWhatIsMissingOrWhyItWouldNotLoad) {
    namespace fs = std::filesystem;
    const testfolder::Scoped folder("storeset71-nomapi-");
    const std::string& root = folder.path();
    const std::string mapi = root + "/c/windows/system32/MAPI32.dll";
    const std::string standins = world::standinFolder();
    const std::string cannot = "The program can't start because MAPI32.dll could not be loaded: ";
    // How MAPI32.dll is put there: its bytes (none when empty); a link to a
    // file that opens but whose reads fail (/proc/self/mem at offset 0, for
    // root too); its bytes closed to the program's user (mode 000).
    enum class Put { Bytes, ReadFails, Closed };
    const struct {
        const char* what;
        std::string module;
        int status;
        std::string err;
        Put put = Put::Bytes;
    } rows[] = {
        {"none", "", 0x35 /* 0xC0000135 */, "The program can't start because MAPI32.dll is missing.\n"},
        {"no module", "MZ: a file of another system\n", 0x7B /* 0xC000007B */,
         cannot + mapi + ": not a loadable module\n"},
        {"a library it needs is missing",
         withMissingDependency(world::readFile(standins + "/HollomarPS.dll")), 0x35,
         cannot + "libnowhere.so: cannot open shared object file: No such file or directory\n"},
        {"a symbol it imports is missing", world::readFile(UNRESOLVED_MODULE), 0x39 /* 0xC0000139 */,
         cannot + mapi + ": undefined symbol: winplatTestFunctionNobodyExports\n"},
        {"no ordinals", world::readFile(standins + "/HollomarPS.dll"), 0x38 /* 0xC0000138 */,
         "The ordinal 13 could not be located in the dynamic link library MAPI32.dll.\n"},
        {"a read that fails", "", 0x7B, cannot + mapi + ": Input/output error\n", Put::ReadFails},
        {"closed to its user", world::readFile(standins + "/olmapi32.dll"), 0x7B,
         cannot + mapi + ": Permission denied\n", Put::Closed},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.what);
        if (row.put == Put::Closed && geteuid() == 0 && std::system("command -v setpriv >/dev/null") != 0) {
            std::printf("SKIPPED %s: no setpriv to run the program as a user root's file is closed to\n",
                        row.what);
            continue;
        }
        for (const fs::directory_entry& entry : fs::directory_iterator(root)) {
            fs::remove_all(entry.path());
        }
        fs::create_directories(root + "/c/windows/system32");
        for (const char* folder : {"", "/c", "/c/windows", "/c/windows/system32"}) {
            fs::permissions(root + folder, fs::perms::owner_all | fs::perms::group_read |
                                               fs::perms::group_exec | fs::perms::others_read |
                                               fs::perms::others_exec);
        }
        world::writeFile(root + "/registry.reg", "Windows Registry Editor Version 5.00\n");
        if (row.put == Put::ReadFails) {
            fs::create_symlink("/proc/self/mem", mapi);
        } else if (!row.module.empty()) {
            world::writeFile(mapi, row.module);
        }
        if (row.put == Put::Closed) {
            fs::permissions(mapi, fs::perms::none);
        }
        const Outcome o = runProgram(root, row.put == Put::Closed);
        EXPECT_EQ(o.status, row.status);
        EXPECT_EQ(o.err, row.err);
        EXPECT_EQ(o.out, "");
        EXPECT_EQ(world::readFile(root + "/registry.reg"), "Windows Registry Editor Version 5.00\n");
    }
}
