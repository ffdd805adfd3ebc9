// The registry's files changed around running processes: the process moves
// to another folder, a link on the way is switched, the journal cannot be
// read or is cut short. Nothing acknowledged is lost, nothing read goes
// back, and a call that cannot be done safely fails changing nothing.
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <map>

#include "registry_children.h"
#include "registry_fixture.h"
#include "winplat/console.h"
#include "winplat/utf16.h"

using namespace regtest;

namespace {

LSTATUS setDword(const std::string& name, DWORD v) {
    return regtest::setDword(winplat::utf8ToUtf16(name), v);
}

// Each value as this process and as a new process read it.
std::string misread(const std::map<std::string, long long>& expected) {
    std::string out;
    for (const auto& [name, v] : expected) {
        if (dwordOf(winplat::utf8ToUtf16(name)) != v) {
            out += " " + name + " here";
        }
        if (run({"check", name, std::to_string(v)}) != 0) {
            out += " " + name + " in a new process";
        }
    }
    return out;
}

class RegistryOutsideTest : public RegistryTest {
  protected:
    void TearDown() override {
        if (!cwd_.empty()) {
            EXPECT_EQ(::chdir(cwd_.c_str()), 0);
        }
        RegistryTest::TearDown();
    }

    // A new file of these bytes without a journal: the journal of an earlier
    // case would go on with a file written again with the same bytes.
    void fresh(const std::string& bytes) {
        std::filesystem::remove(file_);
        std::filesystem::remove(file_ + ".journal");
        ASSERT_EQ(winplat::registry::reload(), ERROR_SUCCESS);
        ASSERT_EQ(load(bytes), ERROR_SUCCESS);
    }

    // Goes to `folder`, coming back when the test ends.
    void moveTo(const std::filesystem::path& folder) {
        if (cwd_.empty()) {
            cwd_ = std::filesystem::current_path().string();
        }
        ASSERT_EQ(::chdir(folder.c_str()), 0);
    }

    std::string cwd_;
};

const std::string kElsewhere =
    "Windows Registry Editor Version "
    "5.00\n\n[HKEY_CURRENT_USER\\Software\\Journal]\n\"Base\"=dword:00000002\n";

// A registry named by a relative path, by a process that then changes its
// folder, while another process writes: it goes on with the file it loaded,
// under the same lock and journal as the other.
TEST_F(RegistryOutsideTest, ARelativePathKeepsToTheFolderItWasLoadedIn) {
    ASSERT_EQ(load(kBase), ERROR_SUCCESS);
    const std::filesystem::path elsewhere = dir_ / "elsewhere";
    std::filesystem::create_directory(elsewhere);
    writeBytes((elsewhere / "registry.reg").string(), kElsewhere);  // the same name where it goes
    moveTo(dir_);
    setenv("WINPLAT_REGISTRY", "registry.reg", 1);
    ASSERT_EQ(winplat::registry::reload(), ERROR_SUCCESS);
    setenv("WINPLAT_REGISTRY", file_.c_str(), 1);  // the other processes name it in full
    ASSERT_EQ(setDword("Mine", 1), ERROR_SUCCESS);
    moveTo(elsewhere);
    EXPECT_EQ(run({"set", "Theirs", "2"}), 0);
    EXPECT_EQ(dwordOf(L"Base"), 1);
    ASSERT_EQ(setDword("Later", 3), ERROR_SUCCESS);
    EXPECT_EQ(misread({{"Base", 1}, {"Mine", 1}, {"Theirs", 2}, {"Later", 3}}), "");
    EXPECT_EQ(readBytes((elsewhere / "registry.reg").string()), kElsewhere);
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(elsewhere), {}), 1);
}

// A link to a folder on the registry's path switched to another folder
// while processes run: those that loaded before keep to the folder they
// loaded from, one history among them; the other folder is left alone.
TEST_F(RegistryOutsideTest, ALinkOnThePathSwitchedLeavesRunningProcessesWhereTheyLoaded) {
    for (const char* folder : {"A", "B"}) {
        std::filesystem::create_directory(dir_ / folder);
    }
    writeBytes((dir_ / "A" / "registry.reg").string(), kBase);
    writeBytes((dir_ / "B" / "registry.reg").string(), kElsewhere);
    std::filesystem::create_directory_symlink("A", dir_ / "current");
    const std::string named = (dir_ / "current" / "registry.reg").string();
    setenv("WINPLAT_REGISTRY", named.c_str(), 1);
    ASSERT_EQ(winplat::registry::reload(), ERROR_SUCCESS);
    ASSERT_EQ(setDword("Mine", 1), ERROR_SUCCESS);
    // Reads Base at once and keeps reading it, unchanged, until New comes.
    const Child reader = spawnChild({"await", "Base", "New"}, true);
    ASSERT_GT(reader.pid, 0);
    struct pollfd p = {reader.out, POLLIN, 0};
    ASSERT_EQ(poll(&p, 1, 60000), 1) << "the reader never loaded";

    std::filesystem::create_directory_symlink("B", dir_ / "next");
    std::filesystem::rename(dir_ / "next", dir_ / "current");
    ASSERT_EQ(setDword("New", 3), ERROR_SUCCESS);
    const int status = waitBounded(reader.pid, std::chrono::seconds(60));
    const std::string said = drain(reader.err);
    drain(reader.out);
    EXPECT_EQ(status, 0) << said;
    for (const auto& [name, v] : std::map<std::string, long long>{{"Base", 1}, {"Mine", 1}, {"New", 3}}) {
        EXPECT_EQ(dwordOf(winplat::utf8ToUtf16(name)), v) << name;
    }
    winplat::registry::flush();
    const std::string text = readBytes((dir_ / "A" / "registry.reg").string());
    EXPECT_NE(text.find("\"Mine\"=dword:00000001"), std::string::npos) << text;
    EXPECT_NE(text.find("\"New\"=dword:00000003"), std::string::npos) << text;
    EXPECT_EQ(readBytes((dir_ / "B" / "registry.reg").string()), kElsewhere);
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir_ / "B"), {}), 1);
}

// A read of the journal that fails (an I/O error) is not its end: a change
// fails with ERROR_CANTREAD, and neither a change nor a flush writes over
// records it could not read; reads go on with the tree last read, also when
// the file they would have read with it is new. Once the journal reads
// again every record is there. EINTR is only read again.
TEST_F(RegistryOutsideTest, AJournalThatCannotBeReadFailsChangesAndKeepsWhatWasRead) {
    enum class Call { Change, Read, Flush };
    struct Case {
        const char* name;
        int skip;  // journal reads let through: 0 fails the header, 1 the records
        int error;
        Call call;
        bool rewritten;  // the other writer ends, putting a new file in place
    } const cases[] = {
        {"a change, the header failing", 0, EIO, Call::Change, false},
        {"a change, the records failing", 1, EIO, Call::Change, false},
        {"a read, the header failing", 0, EIO, Call::Read, false},
        {"a read, the records failing", 1, EIO, Call::Read, false},
        {"a flush, the header failing", 0, EIO, Call::Flush, false},
        {"a flush, the records failing", 1, EIO, Call::Flush, false},
        {"a read of a new file, the header failing", 0, EIO, Call::Read, true},
        {"a change on a new file, the records failing", 1, EIO, Call::Change, true},
        {"a change, the header interrupted", 0, EINTR, Call::Change, false},
        {"a change, the records interrupted", 1, EINTR, Call::Change, false},
    };
    const std::string journal = file_ + ".journal";
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        fresh(kBase);
        ASSERT_EQ(setDword("Old", 1), ERROR_SUCCESS);
        // Unread here: in the journal only when the writer is killed in its rewrite at exit.
        if (c.rewritten) {
            EXPECT_EQ(run({"set", "Left", "4"}), 0);
        } else {
            EXPECT_EQ(run({"at", "RegistryBeforeRename", "9", "0", "set", "Left", "4"}), 128 + SIGKILL);
        }
        const std::string fileBefore = readBytes(file_);
        const std::string journalBefore = readBytes(journal);
        const bool fails = c.error != EINTR;
        winplat::inject::reset();  // counts the journal's reads from here
        winplat::inject::arm("RegistryJournalRead", c.error, fails ? -1 : 1, c.skip);
        switch (c.call) {
            case Call::Change:
                EXPECT_EQ(setDword("Mine", 5), fails ? ERROR_CANTREAD : ERROR_SUCCESS);
                break;
            case Call::Read:
                EXPECT_EQ(dwordOf(L"Left"), fails ? -1 : 4);
                break;
            case Call::Flush:
                winplat::registry::flush();
                break;
        }
        EXPECT_GT(winplat::inject::calls("RegistryJournalRead"), c.skip) << "the journal was not read";
        if (fails) {
            EXPECT_EQ(dwordOf(L"Old"), 1) << "the tree last read";
            EXPECT_EQ(dwordOf(L"Left"), -1) << "the tree last read";
            EXPECT_EQ(readBytes(file_), fileBefore);
            EXPECT_EQ(readBytes(journal), journalBefore);
        }
        winplat::inject::reset();
        const bool wrote = !fails && c.call == Call::Change;
        EXPECT_EQ(misread({{"Base", 1}, {"Old", 1}, {"Left", 4}, {"Mine", wrote ? 5 : -1}}), "");
        ASSERT_EQ(setDword("Next", 6), ERROR_SUCCESS);
        EXPECT_EQ(misread({{"Left", 4}, {"Next", 6}}), "");
    }
}

// A journal emptied or cut from outside while this process holds the
// records it wrote: its next change writes its whole tree into the file,
// says so, and loses nothing. A file replaced as well wins, as any
// replacement does, and nothing is said.
TEST_F(RegistryOutsideTest, AJournalCutShortFromOutsideIsWrittenIntoTheFileByTheNextChange) {
    constexpr int kValues = 6;
    struct Case {
        const char* name;
        off_t keep;  // bytes of the journal left; -1: one record fewer
        bool fileReplaced;
    } const cases[] = {
        {"emptied", 0, false},
        {"cut inside its header", 10, false},
        {"cut after its header", 64, false},
        {"cut by one record", -1, false},
        {"emptied, the file replaced too", 0, true},
    };
    const std::string journal = file_ + ".journal";
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        fresh(kBase);
        std::map<std::string, long long> expected = {{"Base", 1}};
        std::vector<off_t> sizes;  // of the journal after each value
        for (int i = 0; i < kValues; ++i) {
            const std::string name = "V" + std::to_string(i);
            ASSERT_EQ(setDword(name, static_cast<DWORD>(i)), ERROR_SUCCESS);
            expected[name] = i;
            sizes.push_back(static_cast<off_t>(std::filesystem::file_size(journal)));
        }
        const off_t full = sizes.back();
        const off_t keep = c.keep < 0 ? sizes[kValues - 2] : c.keep;
        ASSERT_EQ(::truncate(journal.c_str(), keep), 0);
        if (c.fileReplaced) {
            replaceFromOutside(kElsewhere);
            expected = {{"Base", 2}};
        }
        winplat::console::Capture capture;
        ASSERT_EQ(setDword("After", 9), ERROR_SUCCESS);
        expected["After"] = 9;
        EXPECT_EQ(capture.err(),
                  c.fileReplaced
                      ? ""
                      : "winplat: the registry journal " + journal + " was cut short from outside (" +
                            std::to_string(keep) + " bytes, " + std::to_string(full) +
                            " expected); the changes read from it are written into " + file_ + ".\n");
        EXPECT_EQ(misread(expected), "");
        const std::string text = readBytes(file_);
        for (int i = 0; i < kValues; ++i) {
            EXPECT_EQ(text.find("\"V" + std::to_string(i) + "\"=") != std::string::npos, !c.fileReplaced)
                << i << " in the file alone";
        }
    }
}

}  // namespace
