// The registry beside a careless or hostile neighbour, one who may write the
// folder or the journal: links planted where the lock file and the journal
// stand, a journal others may read once the file is narrowed, a journal cut
// and written again from outside, rights taken away while a writer waits.
// Nothing but the registry's own files is ever changed, no record goes
// where the file's rights do not reach, and what was acknowledged after
// damage from outside is never lost.
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <set>

#include "registry_children.h"
#include "registry_fixture.h"
#include "winplat/console.h"
#include "winplat/utf16.h"

using namespace regtest;

namespace {

constexpr uid_t kOwner = 65534;      // the registry's owner, not the test's user (root)
constexpr uid_t kNeighbour = 65533;  // another user who may write the folder
const std::string kOwnerUid = std::to_string(kOwner);
const std::string kNeighbourUid = std::to_string(kNeighbour);

LSTATUS setDword(const std::string& name, DWORD v) {
    return regtest::setDword(winplat::utf8ToUtf16(name), v);
}

// A REG_SZ value of HKCU\Software\Concurrent, where reg_writer's "values"
// and "leave" write ("" when it cannot be read).
std::string concurrentValue(const std::string& name) {
    KeyHolder key;
    DWORD type = 0;
    std::vector<BYTE> data;
    if (RegOpenKeyExW(HKEY_CURRENT_USER, L"Software\\Concurrent", 0, KEY_READ, key.out()) != ERROR_SUCCESS ||
        queryRaw(key, winplat::utf8ToUtf16(name).c_str(), type, data) != ERROR_SUCCESS) {
        return "";
    }
    return winplat::utf16ToUtf8(reinterpret_cast<const WCHAR*>(data.data()));
}

struct stat lstatOf(const std::string& path) {
    struct stat st {};
    ::lstat(path.c_str(), &st);
    return st;
}

// Where each whole record of a journal ends, read as the journal's format
// lays them out: a 64-byte header, then per record its payload's length,
// a checksum and the payload.
std::vector<size_t> recordEnds(const std::string& journal) {
    std::vector<size_t> ends;
    size_t at = 64;
    while (journal.size() >= at + 16) {
        uint64_t length;
        std::memcpy(&length, journal.data() + at, sizeof length);
        if (length > journal.size() - at - 16) {
            break;
        }
        at += 16 + length;
        ends.push_back(at);
    }
    return ends;
}

class RegistryNeighbourTest : public RegistryTest {
  protected:
    void TearDown() override {
        ::chmod(dir_.c_str(), 0700);
        RegistryTest::TearDown();
    }

    // The registry file of kBase, with the folder and the file the owner's.
    void ownersRegistry(mode_t fileMode, mode_t folderMode) {
        unsetenv("WINPLAT_REGISTRY");
        ASSERT_EQ(winplat::registry::reload(), ERROR_SUCCESS);
        for (const auto& e : std::filesystem::directory_iterator(dir_)) {
            std::filesystem::remove(e.path());
        }
        writeBytes(file_, kBase);
        for (const std::string& f : {file_, dir_.string()}) {
            ASSERT_EQ(::chown(f.c_str(), kOwner, kOwner), 0);
        }
        ASSERT_EQ(::chmod(file_.c_str(), fileMode), 0);
        ASSERT_EQ(::chmod(dir_.c_str(), folderMode), 0);
        setenv("WINPLAT_REGISTRY", file_.c_str(), 1);
        ASSERT_EQ(winplat::registry::reload(), ERROR_SUCCESS);
    }
};

// A root process that reads and writes a user's registry, where the user
// put a link to a file only root may read in place of the lock file or the
// journal: it opens neither through the link, says so, refuses the change,
// and the linked file keeps its owner, mode and bytes.
TEST_F(RegistryNeighbourTest, APlantedLinkIsNeverFollowedAndTheChangeIsRefused) {
    struct Case {
        const char* beside;  // ".lock" or ".journal"
        bool hard;           // a hard link, else a symbolic one
        const char* said;    // what it is said to be
    } const cases[] = {
        {".journal", false, "a symbolic link"},
        {".lock", false, "a symbolic link"},
        {".journal", true, "a file with other names (a hard link)"},
        {".lock", true, "a file with other names (a hard link)"},
    };
    const std::string secret = (dir_ / "secret").string();
    const std::string secretBytes = "root only\n";
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.hard ? "a hard link as " : "a symbolic link as ") + c.beside);
        ownersRegistry(0644, 0755);
        // The user's own lock file and journal, which the user then replaces.
        ASSERT_EQ(run({"as", kOwnerUid, "set", "First", "1"}), 0);
        writeBytes(secret, secretBytes);
        ASSERT_EQ(::chown(secret.c_str(), 0, 0), 0);
        ASSERT_EQ(::chmod(secret.c_str(), 0600), 0);
        const std::string planted = file_ + c.beside;
        std::filesystem::remove(planted);
        if (c.hard) {
            ASSERT_EQ(::link(secret.c_str(), planted.c_str()), 0);
        } else {
            ASSERT_EQ(::symlink("secret", planted.c_str()), 0);
        }
        const std::string fileBefore = readBytes(file_);
        const std::set<std::string> filesBefore = folderFiles();

        winplat::console::Capture capture;
        ASSERT_EQ(winplat::registry::reload(), ERROR_SUCCESS);
        EXPECT_EQ(dwordOf(L"First"), 1);
        EXPECT_EQ(setDword("Root", 2), ERROR_ACCESS_DENIED);
        EXPECT_EQ(setDword("Root", 2), ERROR_ACCESS_DENIED) << "and again";
        winplat::registry::flush();
        const std::string atLoad =
            std::string(c.beside) == ".lock"
                ? "winplat: the registry lock file " + planted + " cannot be opened (" + c.said +
                      "); this process reads without it and may see changes up to 10 ms late.\n"
                : "winplat: the registry journal " + planted + " cannot be read (" + c.said +
                      "); changes other processes made since the file was last written are not seen.\n";
        EXPECT_EQ(capture.err(), atLoad + "winplat: the registry's " + planted + " cannot be used (" +
                                     c.said + "); it is left as it is and changes are refused.\n");
        EXPECT_EQ(dwordOf(L"Root"), -1);

        const struct stat st = lstatOf(secret);
        EXPECT_EQ(st.st_uid, 0u);
        EXPECT_EQ(st.st_gid, 0u);
        EXPECT_EQ(st.st_mode & 07777, 0600u);
        EXPECT_EQ(readBytes(secret), secretBytes);
        EXPECT_EQ(c.hard ? lstatOf(planted).st_nlink == 2 : S_ISLNK(lstatOf(planted).st_mode), true);
        EXPECT_EQ(readBytes(file_), fileBefore);
        EXPECT_EQ(folderFiles(), filesBefore);
    }
}

// A neighbour made the lock file and the journal while the file was open to
// all; the owner then narrows the file and writes a secret. No record of it
// goes where the neighbour can read: a journal the writer can write (the
// owner's process, or root's) is replaced by one of the owner's, one the
// owner cannot write refuses the change. The neighbour, who still holds the
// old journal open, reads nothing of it; and once the file is the owner's
// alone, the neighbour's journal is trusted by no one, so its record, which
// anyone might have forged, is read by no one either.
TEST_F(RegistryNeighbourTest, AJournalOthersMayReadGetsNoRecordOnceTheFileIsNarrowed) {
    constexpr DWORD kSecret = 0x5EC12E7;
    struct Case {
        const char* name;
        mode_t neighboursJournal;  // the mode the neighbour leaves its journal with
        bool root;                 // the secret is written by root, else by the owner
        int ownerStatus;           // reg_writer's: 0 written, 5 refused
    } const cases[] = {
        {"a journal open to all, the owner writing", 0666, false, 0},
        {"a journal open to all, root writing", 0666, true, 0},
        {"a journal only its maker may write, the owner writing", 0644, false, 5},
    };
    std::string secretName;  // as a record names it: UTF-16LE
    for (const char ch : std::string("Secret")) {
        secretName += {ch, '\0'};
    }
    const std::string secretBytes(reinterpret_cast<const char*>(&kSecret), sizeof kSecret);
    const auto holdsSecret = [&](const std::string& bytes) {
        return bytes.find(secretName) != std::string::npos || bytes.find(secretBytes) != std::string::npos ||
               bytes.find("\"Secret\"") != std::string::npos;
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ownersRegistry(0666, 0777);
        // Killed in its rewrite at exit, so the file stays the owner's.
        EXPECT_EQ(run({"as", kNeighbourUid, "at", "RegistryBeforeRename", "9", "0", "set", "Shared", "1"}),
                  128 + SIGKILL);
        const std::string journal = file_ + ".journal";
        ASSERT_EQ(statOf(journal).st_uid, kNeighbour);
        ASSERT_EQ(::chmod(journal.c_str(), c.neighboursJournal), 0);
        const int held = ::open(journal.c_str(), O_RDONLY | O_CLOEXEC);
        ASSERT_GE(held, 0);
        const std::string journalBefore = readBytes(journal);

        ASSERT_EQ(::chmod(file_.c_str(), 0600), 0);
        const std::string fileBefore = readBytes(file_);
        // Stopped at its exit, before a write at exit would empty the
        // journal again, when it has one to do.
        std::vector<std::string> write = {"at",  "RegistryAtExit", std::to_string(SIGSTOP), "0",
                                          "set", "Secret",         std::to_string(kSecret)};
        if (!c.root) {
            write.insert(write.begin(), {"as", kOwnerUid});
        }
        const pid_t writer = spawnWriter(write);
        ASSERT_GT(writer, 0);
        int status = 0;
        ASSERT_EQ(waitpid(writer, &status, WUNTRACED), writer);
        std::string seen(1 << 16, '\0');
        const ssize_t n = ::pread(held, seen.data(), seen.size(), 0);
        ::close(held);
        seen.resize(n > 0 ? static_cast<size_t>(n) : 0);
        if (WIFSTOPPED(status)) {
            kill(writer, SIGCONT);
            ASSERT_EQ(waitpid(writer, &status, 0), writer);
        }
        EXPECT_EQ(WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status), c.ownerStatus);
        EXPECT_FALSE(holdsSecret(seen)) << "in the journal the neighbour holds open";
        for (const std::string& f : folderFiles()) {
            const std::string path = (dir_ / f).string();
            if (run({"as", kNeighbourUid, "open", path}) == 0) {
                EXPECT_FALSE(holdsSecret(readBytes(path))) << f << ", which the neighbour may read";
            }
        }
        if (c.ownerStatus == 0) {
            EXPECT_EQ(run({"as", kOwnerUid, "check", "Secret", std::to_string(kSecret), "Shared", "-1"}), 0);
            const struct stat st = statOf(journal);
            EXPECT_EQ(st.st_uid, kOwner);
            EXPECT_EQ(st.st_mode & 07777, 0600u);
        } else {
            EXPECT_EQ(readBytes(file_), fileBefore);
            EXPECT_EQ(readBytes(journal), journalBefore);
            EXPECT_EQ(run({"as", kOwnerUid, "check", "Secret", "-1", "Shared", "-1"}), 0);
        }
    }
}

// The write at exit that fails (the folder made read-only) is reported,
// whether or not the journal was cut from outside before it: with the cut,
// what it says is that the values past the cut are lost.
TEST_F(RegistryNeighbourTest, AWriteAtExitThatFailsIsReportedAlsoAfterACut) {
    constexpr int kValues = 6;
    for (const bool cut : {false, true}) {
        SCOPED_TRACE(cut ? "cut from outside" : "not cut");
        ownersRegistry(0644, 0755);
        const Child writer = spawnChild({"as", kOwnerUid, "at", "RegistryAtExit", std::to_string(SIGSTOP),
                                         "0", "values", "V", std::to_string(kValues)},
                                        true);
        ASSERT_GT(writer.pid, 0);
        ASSERT_TRUE(waitStopped(writer.pid, std::chrono::seconds(60))) << "the writer never reached its exit";
        const std::string journal = file_ + ".journal";
        const std::vector<size_t> ends = recordEnds(readBytes(journal));
        ASSERT_EQ(ends.size(), static_cast<size_t>(kValues + 1)) << "the key, then each value";
        if (cut) {
            ASSERT_EQ(::truncate(journal.c_str(), static_cast<off_t>(ends[3])), 0);  // after V_2
        }
        ASSERT_EQ(::chmod(dir_.c_str(), 0555), 0);
        kill(writer.pid, SIGCONT);
        const std::string err = drain(writer.err);
        drain(writer.out);
        EXPECT_EQ(waitBounded(writer.pid, std::chrono::seconds(60)), 0);
        EXPECT_EQ(err, "winplat: the registry file " + file_ + " could not be rewritten (" +
                           std::strerror(EACCES) + "); " +
                           (cut ? "the changes this process read from " + journal +
                                      " past where it was cut from outside are lost.\n"
                                : "its changes are kept in " + journal + " and read from there.\n"));
        ASSERT_EQ(::chmod(dir_.c_str(), 0755), 0);
        ASSERT_EQ(winplat::registry::reload(), ERROR_SUCCESS);
        for (int i = 0; i < kValues; ++i) {
            EXPECT_EQ(concurrentValue("V_" + std::to_string(i)),
                      !cut || i < 3 ? "V:" + std::to_string(i) : std::string())
                << i;
        }
    }
}

// A file made read-only while its owner's writer waits for the lock is not
// written: the right to write is checked again under the lock.
TEST_F(RegistryNeighbourTest, AFileMadeReadOnlyWhileAWriterWaitsForTheLockIsNotWritten) {
    ownersRegistry(0644, 0755);
    ASSERT_EQ(run({"as", kOwnerUid, "set", "First", "1"}), 0);
    const Child writer = spawnChild(
        {"as", kOwnerUid, "at", "RegistryBeforeLock", std::to_string(SIGSTOP), "0", "set", "Late", "2"},
        true);
    ASSERT_GT(writer.pid, 0);
    ASSERT_TRUE(waitStopped(writer.pid, std::chrono::seconds(60))) << "the writer never reached the lock";
    ASSERT_EQ(::chmod(file_.c_str(), 0444), 0);
    const std::string fileBefore = readBytes(file_);
    const std::string journalBefore = readBytes(file_ + ".journal");
    const std::set<std::string> filesBefore = folderFiles();
    kill(writer.pid, SIGCONT);
    const std::string err = drain(writer.err);
    drain(writer.out);
    EXPECT_EQ(waitBounded(writer.pid, std::chrono::seconds(60)), 5) << err;
    EXPECT_EQ(readBytes(file_), fileBefore);
    EXPECT_EQ(readBytes(file_ + ".journal"), journalBefore);
    EXPECT_EQ(folderFiles(), filesBefore);
    EXPECT_EQ(statOf(file_).st_mode & 07777, 0444u);
    EXPECT_EQ(run({"check", "First", "1", "Late", "-1"}), 0);
}

// The journal is cut from outside after this process's third value, then a
// new process writes after the cut, fewer or more records than were cut.
// Whatever this process does next, a change, a read or a flush, it reads
// the journal again whole, says so, and keeps every value written after
// the cut; its own change goes on top, and others see it.
TEST_F(RegistryNeighbourTest, ValuesWrittenAfterACutFromOutsideAreNeverLost) {
    constexpr int kOwn = 6;
    enum class Next { Change, Read, Flush };
    struct Case {
        const char* name;
        bool inHeader;  // cut inside the header: the new process starts the journal again
        int theirs;     // values the new process writes (after the key it makes)
        Next next;
    } const cases[] = {
        {"one value after the cut, then a change", false, 1, Next::Change},
        {"one value after the cut, then a read", false, 1, Next::Read},
        {"one value after the cut, then a flush", false, 1, Next::Flush},
        {"five values after the cut, then a change", false, 5, Next::Change},
        {"five values after the cut, then a read", false, 5, Next::Read},
        {"five values after the cut, then a flush", false, 5, Next::Flush},
        {"cut inside the header, one value after, then a change", true, 1, Next::Change},
        {"cut inside the header, five values after, then a read", true, 5, Next::Read},
    };
    const std::string journal = file_ + ".journal";
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::filesystem::remove(file_);
        std::filesystem::remove(journal);
        ASSERT_EQ(load(kBase), ERROR_SUCCESS);
        for (int i = 0; i < kOwn; ++i) {
            ASSERT_EQ(setDword("V" + std::to_string(i), static_cast<DWORD>(i)), ERROR_SUCCESS);
        }
        const std::vector<size_t> ends = recordEnds(readBytes(journal));
        ASSERT_EQ(ends.size(), static_cast<size_t>(kOwn));
        ASSERT_EQ(::truncate(journal.c_str(), c.inHeader ? 10 : static_cast<off_t>(ends[2])), 0);
        // It ends as if killed: its records stay in the journal, acknowledged.
        ASSERT_EQ(run({"leave", "C", std::to_string(c.theirs)}), 0);

        winplat::console::Capture capture;
        switch (c.next) {
            case Next::Change:
                EXPECT_EQ(setDword("After", 9), ERROR_SUCCESS);
                break;
            case Next::Read:
                EXPECT_EQ(concurrentValue("C_0"), "C:0");
                break;
            case Next::Flush:
                winplat::registry::flush();
                break;
        }
        EXPECT_EQ(capture.err(), "winplat: the registry journal " + journal +
                                     " was cut and written again from outside; it is read again whole, and "
                                     "values past the cut may be lost.\n");
        const std::string after = c.next == Next::Change ? "9" : "-1";
        for (const bool reloaded : {false, true}) {
            SCOPED_TRACE(reloaded ? "loaded again" : "in this process");
            if (reloaded) {
                ASSERT_EQ(winplat::registry::reload(), ERROR_SUCCESS);
            }
            for (int i = 0; i < c.theirs; ++i) {
                EXPECT_EQ(concurrentValue("C_" + std::to_string(i)), "C:" + std::to_string(i)) << i;
            }
            EXPECT_EQ(dwordOf(L"V2"), c.inHeader ? -1 : 2);
            EXPECT_EQ(dwordOf(L"After"), c.next == Next::Change ? 9 : -1);
        }
        EXPECT_EQ(run({"check", "V2", c.inHeader ? "-1" : "2", "After", after}), 0) << "in a new process";
        const std::string text = fileText();
        EXPECT_NE(text.find("\"C_" + std::to_string(c.theirs - 1) + "\"=\"C:"), std::string::npos)
            << "in the file alone";
    }
}

// A reader that may not open the lock file reads without it, and says so
// once however often it looks for it again.
TEST_F(RegistryNeighbourTest, AReaderThatCannotOpenTheLockFileSaysSoOnce) {
    ASSERT_EQ(::chmod(dir_.c_str(), 0755), 0);
    ASSERT_EQ(load(kBase), ERROR_SUCCESS);
    ASSERT_EQ(setDword("First", 1), ERROR_SUCCESS);
    ASSERT_EQ(::chmod((file_ + ".lock").c_str(), 0600), 0);
    const Child reader = spawnChild({"as", kOwnerUid, "await", "First", "Next"}, true);
    ASSERT_GT(reader.pid, 0);
    char line[7] = {};
    ASSERT_EQ(read(reader.out, line, 6), 6) << "the reader never loaded";
    // Looked for again at every read once the interval has passed.
    passOutsideCheckInterval();
    passOutsideCheckInterval();
    ASSERT_EQ(setDword("Next", 2), ERROR_SUCCESS);
    const std::string err = drain(reader.err);
    drain(reader.out);
    EXPECT_EQ(waitBounded(reader.pid, std::chrono::seconds(60)), 0) << err;
    EXPECT_EQ(err, "winplat: the registry lock file " + file_ + ".lock cannot be opened (" +
                       std::strerror(EACCES) +
                       "); this process reads without it and may see changes up to 10 ms late.\n");
}

}  // namespace
