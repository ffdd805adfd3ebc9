// The journal beside the registry file under processes killed at any point
// of a write, run in any order, and without the right to write: one history
// that every process sees, and nothing acknowledged is ever lost.
#include <poll.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <cwctype>
#include <fstream>
#include <functional>
#include <map>
#include <mutex>
#include <random>
#include <set>

#include "needs_root.h"
#include "registry_children.h"
#include "registry_fixture.h"
#include "winplat/console.h"
#include "winplat/utf16.h"

using namespace regtest;

namespace {

constexpr uid_t kOther = 65534;  // a user other than the test's (root)
const std::string kOtherUid = std::to_string(kOther);

// The text of the registry file alone, in its canonical form.
std::string canonicalFile(const std::string& path) {
    const std::string bytes = readBytes(path);
    std::string canonical;
    return winplat::registry::parseText(bytes.data(), bytes.size(), nullptr, &canonical) ? canonical : "";
}

std::string dwordLine(const std::string& name, DWORD v) {
    char buf[16];
    std::snprintf(buf, sizeof buf, "%08x", v);
    return "\"" + name + "\"=dword:" + buf + "\n";
}

class RegistryJournalTest : public RegistryTest {
  protected:
    // The folder open to the other user, as a home folder is to its owner.
    void openFolder() { ASSERT_EQ(::chmod(dir_.c_str(), 0755), 0); }
};

// A writer killed right after its record, or in the rewrite at its exit on
// either side of the rename, with an older process (this one) and a newer
// one writing after it in either order: every record is in the one history.
TEST_F(RegistryJournalTest, AWriterKilledInItsWriteOrRewriteLosesNothingWhoeverGoesOn) {
    const char* const points[] = {"RegistryAfterRecord", "RegistryBeforeRename", "RegistryAfterRename"};
    for (const char* point : points) {
        for (const bool olderFirst : {true, false}) {
            SCOPED_TRACE(std::string(point) +
                         (olderFirst ? ", the older process first" : ", the newer first"));
            ASSERT_EQ(load(kBase), ERROR_SUCCESS);
            ASSERT_EQ(setDword(L"Old1", 1), ERROR_SUCCESS);
            // Its record is whole; after the record, its call has even returned.
            EXPECT_EQ(run({"at", point, "9", "0", "set", "Dead", "7"}), 128 + SIGKILL);
            if (olderFirst) {
                ASSERT_EQ(setDword(L"Old2", 2), ERROR_SUCCESS);
                EXPECT_EQ(run({"set", "New", "3"}), 0);
            } else {
                EXPECT_EQ(run({"set", "New", "3"}), 0);
                ASSERT_EQ(setDword(L"Old2", 2), ERROR_SUCCESS);
            }
            const std::map<std::string, DWORD> expected = {
                {"Base", 1}, {"Old1", 1}, {"Dead", 7}, {"Old2", 2}, {"New", 3}};
            for (const auto& [name, v] : expected) {
                EXPECT_EQ(dwordOf(winplat::utf8ToUtf16(name)), v) << name << " in this process";
                EXPECT_EQ(run({"check", name, std::to_string(v)}), 0) << name << " in a new process";
            }
            // Once folded in, the file alone holds it all.
            const std::string text = fileText();
            const std::string canonical = canonicalFile(file_);
            EXPECT_EQ(canonical, winplat::registry::exportText());
            for (const auto& [name, v] : expected) {
                EXPECT_NE(canonical.find(dwordLine(name, v)), std::string::npos) << name << " in the file";
            }
        }
    }
}

// Two processes make the lock file at once. Where the file system renames
// without replacing, the second one's rename finds the first's lock file,
// whether the first is done or holds the lock in its first write, and takes
// it; where it cannot (NFS, many FUSE file systems), each makes it in place
// and the first to lock it fills it; the second, finding it filled under
// the lock, leaves the counters that a reader of the first's change holds.
// A process killed after making it, lock file or journal, leaves a blank one
// that the next change makes whole.
TEST_F(RegistryJournalTest, TwoProcessesMakingTheLockFileShareOne) {
    enum class First { Done, HoldsTheLock, Killed };
    const std::vector<std::string> noReplace = {"fail", "RegistryRenameNoReplace", std::to_string(EINVAL)};
    struct Case {
        const char* name;
        const char* secondStopsAt;  // where the second stops while the first goes
        int skip;                   // passes of that point before
        bool inPlace;               // the file system cannot rename without replacing
        First first;
        bool readBetween = false;  // this process reads the first's change, then the second's
    } const cases[] = {
        {"made in place, the first done and read meanwhile", "RegistryBesideMade", 0, true, First::Done,
         true},
        {"renamed into place, the first done meanwhile", "RegistryBesideCreate", 0, false, First::Done},
        {"renamed into place, the first holding the lock", "RegistryBesideCreate", 0, false,
         First::HoldsTheLock},
        {"made in place, the first done meanwhile", "RegistryBesideMade", 0, true, First::Done},
        {"made in place, the first holding the lock", "RegistryBesideMade", 0, true, First::HoldsTheLock},
        {"made in place, the second killed after the lock file", "RegistryBesideMade", 0, true,
         First::Killed},
        {"made in place, the second killed after the journal", "RegistryBesideMade", 1, true, First::Killed},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        for (const char* f : {"", ".lock", ".journal"}) {
            std::filesystem::remove(file_ + f);
        }
        ASSERT_EQ(winplat::registry::reload(), ERROR_SUCCESS);
        const std::vector<std::string> fs = c.inPlace ? noReplace : std::vector<std::string>{};
        const auto args = [&](std::vector<std::string> at, std::vector<std::string> set) {
            at.insert(at.end(), fs.begin(), fs.end());
            at.insert(at.end(), set.begin(), set.end());
            return at;
        };
        const int signal = c.first == First::Killed ? SIGKILL : SIGSTOP;
        const Child second =
            spawnChild(args({"at", c.secondStopsAt, std::to_string(signal), std::to_string(c.skip)},
                            {"set", "Second", "2", "Third", "3"}),
                       true);
        ASSERT_GT(second.pid, 0);
        if (c.first == First::Killed) {
            drain(second.out);
            drain(second.err);
            ASSERT_EQ(waitBounded(second.pid, std::chrono::seconds(60)), 128 + SIGKILL);
            const Ran next = runCaught(args({}, {"set", "First", "1"}));
            EXPECT_EQ(next.status, 0);
            EXPECT_EQ(next.err, "");
            EXPECT_EQ(run({"check", "First", "1"}), 0);
            EXPECT_EQ(readBytes(file_ + ".lock").find("wpreglk"), 16u) << "the lock file made whole";
            EXPECT_EQ(readBytes(file_ + ".journal").rfind("wpregj2", 0), 0u) << "the journal made whole";
            EXPECT_EQ(strayFiles(), std::vector<std::string>{});
            continue;
        }
        ASSERT_TRUE(waitStopped(second.pid, std::chrono::seconds(60))) << "it never made its lock file";
        Child first{};
        if (c.first == First::Done) {
            EXPECT_EQ(run(args({}, {"set", "First", "1"})), 0);
            if (c.readBetween) {
                passOutsideCheckInterval();  // loaded before there was a lock file
                EXPECT_EQ(dwordOf(L"First"), 1);
            }
        } else {
            first = spawnChild(
                args({"at", "RegistryBeforeRename", std::to_string(SIGSTOP), "0"}, {"set", "First", "1"}),
                true);
            ASSERT_GT(first.pid, 0);
            ASSERT_TRUE(waitStopped(first.pid, std::chrono::seconds(60)))
                << "the first never reached its rename";
        }
        kill(second.pid, SIGCONT);
        if (c.first == First::HoldsTheLock) {
            // Either it waits for the first's lock, or, had it taken one of
            // its own, it is done: the first goes on only then.
            for (int i = 0; i < 60000 && !endedOrWaitsForALock(second.pid); ++i) {
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
            }
            kill(first.pid, SIGCONT);
            const std::string err = drain(first.err);
            drain(first.out);
            EXPECT_EQ(waitBounded(first.pid, std::chrono::seconds(60)), 0) << err;
            EXPECT_EQ(err, "");
        }
        const std::string err = drain(second.err);
        drain(second.out);
        EXPECT_EQ(waitBounded(second.pid, std::chrono::seconds(60)), 0) << err;
        EXPECT_EQ(err, "");
        EXPECT_EQ(run({"check", "First", "1", "Second", "2", "Third", "3"}), 0);
        if (c.readBetween) {
            EXPECT_EQ(dwordOf(L"Second"), 2) << "seen by the reader of the first's change";
            EXPECT_EQ(dwordOf(L"Third"), 3);
        }
        EXPECT_EQ(strayFiles(), std::vector<std::string>{});
    }
}

// Where the file system cannot rename without replacing, eight processes
// making the lock file and the journal at once, round after round: every
// change goes through, none is refused.
TEST_F(RegistryJournalTest, WithoutARenameThatKeepsAFileNoFirstChangeIsRefused) {
    constexpr int kRounds = 30;
    constexpr int kProcesses = 8;
    for (int round = 0; round < kRounds; ++round) {
        SCOPED_TRACE("round " + std::to_string(round));
        for (const char* f : {"", ".lock", ".journal"}) {
            std::filesystem::remove(file_ + f);
        }
        std::vector<Child> children;
        for (int i = 0; i < kProcesses; ++i) {
            children.push_back(spawnChild({"fail", "RegistryRenameNoReplace", std::to_string(EINVAL), "set",
                                           "P" + std::to_string(i), "1"},
                                          true));
            ASSERT_GT(children.back().pid, 0);
        }
        for (const Child& child : children) {
            const std::string err = drain(child.err);
            drain(child.out);
            EXPECT_EQ(waitBounded(child.pid, std::chrono::seconds(60)), 0) << err;
            EXPECT_EQ(err, "");
        }
        std::vector<std::string> check = {"check"};
        for (int i = 0; i < kProcesses; ++i) {
            check.insert(check.end(), {"P" + std::to_string(i), "1"});
        }
        ASSERT_EQ(run(check), 0);
    }
}

// Where the file system cannot rename without replacing, a lock file or a
// journal made in place whose fill cannot be flushed refuses the change with
// the reason, as one made under a temporary name does; the next change uses
// it, or heals it where a power cut left it blank.
TEST_F(RegistryJournalTest, AFileMadeInPlaceWhoseFillCannotBeFlushedRefusesTheChange) {
    struct Case {
        const char* beside;
        const char* what;
        int skip;  // flushes before the fill's: the lock file's own come first
    } const cases[] = {{".lock", "lock file", 1}, {".journal", "journal", 3}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.beside);
        for (const char* f : {"", ".lock", ".journal"}) {
            std::filesystem::remove(file_ + f);
        }
        ASSERT_EQ(load(kBase), ERROR_SUCCESS);
        winplat::inject::arm("RegistryRenameNoReplace", EINVAL, -1);
        winplat::inject::arm("RegistryFlushBeside", EIO, 1, c.skip);
        std::string err;
        LSTATUS rc;
        {
            winplat::console::Capture capture;
            rc = setDword(L"First", 1);
            err = capture.err();
        }
        EXPECT_EQ(rc, ERROR_CANTWRITE);
        EXPECT_EQ(err, "winplat: the registry " + std::string(c.what) + " " + file_ + c.beside +
                           " cannot be written (" + std::strerror(EIO) + "); changes are refused.\n");
        EXPECT_EQ(dwordOf(L"First"), -1);
        EXPECT_EQ(readBytes(file_), kBase);
        winplat::inject::reset();
        EXPECT_EQ(setDword(L"First", 1), ERROR_SUCCESS);
        EXPECT_EQ(run({"check", "First", "1"}), 0);
    }
}

// A writer killed right after its record had moved the shared generation
// before writing it: an older process that only reads sees the record once
// a newer process has, rather than keeping to the file it read.
TEST_F(RegistryJournalTest, AnOlderReaderSeesTheRecordOfAWriterKilledAfterIt) {
    ASSERT_EQ(load(kBase), ERROR_SUCCESS);
    EXPECT_EQ(run({"set", "First", "1"}), 0);
    // Loaded before there was a lock file, this process looks for one at
    // most every 10 ms.
    passOutsideCheckInterval();
    EXPECT_EQ(dwordOf(L"First"), 1);  // read with the lock file the writer made
    EXPECT_EQ(run({"at", "RegistryAfterRecord", "9", "0", "set", "Dead", "7"}), 128 + SIGKILL);
    EXPECT_EQ(run({"check", "Dead", "7"}), 0) << "in a newer process";
    EXPECT_EQ(dwordOf(L"Dead"), 7) << "in this older process, which only reads";
}

// A process that loads while a writer stands between putting its new file
// in place and starting the journal for it (here: one that cannot take the
// lock and reads without it) reads the new file and goes on to read the
// records written after it.
TEST_F(RegistryJournalTest, ALoadBetweenTheRenameAndTheNewJournalSeesEveryLaterRecord) {
    NEEDS_ROOT(needsroot::kProcess);
    openFolder();
    ASSERT_EQ(load(kBase), ERROR_SUCCESS);
    const Child writer =
        spawnChild({"at", "RegistryAfterRename", std::to_string(SIGSTOP), "0", "set", "A", "1"});
    ASSERT_GT(writer.pid, 0);
    ASSERT_TRUE(waitStopped(writer.pid, std::chrono::seconds(60))) << "the writer never reached the rename";
    ASSERT_EQ(::chmod((file_ + ".lock").c_str(), 0600), 0);
    const Child reader = spawnChild({"as", kOtherUid, "await", "A", "B"}, true);
    ASSERT_GT(reader.pid, 0);
    struct pollfd p = {reader.out, POLLIN, 0};
    ASSERT_EQ(poll(&p, 1, 60000), 1) << "the reader never loaded";
    char line[7] = {};
    EXPECT_EQ(read(reader.out, line, 6), 6);
    EXPECT_STREQ(line, "loaded");
    kill(writer.pid, SIGCONT);
    EXPECT_EQ(waitBounded(writer.pid, std::chrono::seconds(60)), 0);
    ASSERT_EQ(setDword(L"B", 2), ERROR_SUCCESS);
    const int status = waitBounded(reader.pid, std::chrono::seconds(60));
    const std::string said = drain(reader.err);
    drain(reader.out);
    EXPECT_EQ(status, 0) << said;
}

// Who may write what decides whether a change is made: one that cannot
// append to the journal, or write the lock, the file or anything in the
// folder, is refused with ERROR_ACCESS_DENIED and changes nothing, and every
// process that may read sees the records a killed writer left.
TEST_F(RegistryJournalTest, ProcessesWithoutWriteRightsSeeTheJournalAndChangeNothing) {
    NEEDS_ROOT(needsroot::kFileAndProcess);
    struct Case {
        const char* name;
        std::vector<std::string> othersFiles;  // owned by the other user; the rest by root
        bool folderIsOthers;
        bool lockRemoved;
        mode_t fileMode;
        int writeStatus;  // reg_writer's: 0 written, 5 access denied
    } const cases[] = {
        {"all the other user's",
         {"registry.reg", "registry.reg.lock", "registry.reg.journal"},
         true,
         false,
         0644,
         0},
        {"a journal it cannot write", {"registry.reg", "registry.reg.lock"}, true, false, 0644, 5},
        {"a lock it cannot write", {"registry.reg", "registry.reg.journal"}, true, false, 0644, 5},
        {"a folder it cannot write", {}, false, true, 0644, 5},
        // Its own folder would let it replace the file, and there is no lock file yet.
        {"a file it made read-only", {"registry.reg", "registry.reg.journal"}, true, true, 0444, 5},
    };
    openFolder();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ASSERT_EQ(load(kBase), ERROR_SUCCESS);
        // Acknowledged, then killed in the rewrite at exit: the value is in the journal only.
        EXPECT_EQ(run({"at", "RegistryBeforeRename", "9", "0", "set", "Left", "4"}), 128 + SIGKILL);
        for (const char* f : {"registry.reg", "registry.reg.lock", "registry.reg.journal"}) {
            const uid_t owner = std::count(c.othersFiles.begin(), c.othersFiles.end(), f) ? kOther : 0;
            ASSERT_EQ(::chown((dir_ / f).c_str(), owner, owner), 0) << f;
        }
        ASSERT_EQ(::chown(dir_.c_str(), c.folderIsOthers ? kOther : 0, c.folderIsOthers ? kOther : 0), 0);
        ASSERT_EQ(::chmod(file_.c_str(), c.fileMode), 0);
        if (c.lockRemoved) {
            std::filesystem::remove(dir_ / "registry.reg.lock");
        }
        const std::string before = readBytes(file_);
        const std::string journalBefore = readBytes(file_ + ".journal");
        const std::set<std::string> files = folderFiles();
        EXPECT_EQ(run({"as", kOtherUid, "check", "Left", "4"}), 0);
        EXPECT_EQ(run({"as", kOtherUid, "set", "Other", "5"}), c.writeStatus);
        EXPECT_EQ(run({"as", kOtherUid, "check", "Other", c.writeStatus == 0 ? "5" : "-1"}), 0);
        EXPECT_EQ(run({"as", kOtherUid, "check", "Left", "4"}), 0);
        if (c.writeStatus != 0) {
            EXPECT_EQ(readBytes(file_), before);
            EXPECT_EQ(readBytes(file_ + ".journal"), journalBefore);
            EXPECT_EQ(folderFiles(), files);
            EXPECT_EQ(statOf(file_).st_mode & 07777, c.fileMode);
        }
        ASSERT_EQ(::chown(dir_.c_str(), 0, 0), 0);
        ASSERT_EQ(winplat::registry::reload(), ERROR_SUCCESS);
        EXPECT_EQ(dwordOf(L"Left"), 4);
    }
}

// A root process that only reads another user's registry leaves nothing
// beside it; the files it makes when it writes are the user's, so the user
// goes on writing.
TEST_F(RegistryJournalTest, RootReadingOrWritingAUsersRegistryLeavesItTheUsers) {
    NEEDS_ROOT(needsroot::kFileAndProcess);
    openFolder();
    writeBytes(file_, kBase);
    ASSERT_EQ(::chown(dir_.c_str(), kOther, kOther), 0);
    ASSERT_EQ(::chown(file_.c_str(), kOther, kOther), 0);
    ASSERT_EQ(::chmod(file_.c_str(), 0600), 0);
    ASSERT_EQ(winplat::registry::reload(), ERROR_SUCCESS);
    EXPECT_EQ(dwordOf(L"Base"), 1);
    EXPECT_EQ(folderFiles(), std::set<std::string>{"registry.reg"});

    ASSERT_EQ(setDword(L"Root", 1), ERROR_SUCCESS);
    winplat::registry::flush();  // the file itself rewritten too
    for (const char* f : {"registry.reg", "registry.reg.lock", "registry.reg.journal"}) {
        const struct stat st = statOf((dir_ / f).string());
        EXPECT_EQ(st.st_uid, kOther) << f;
        EXPECT_EQ(st.st_gid, kOther) << f;
        EXPECT_EQ(st.st_mode & 07777, 0600u) << f;
    }
    EXPECT_EQ(run({"as", kOtherUid, "set", "Owner", "2"}), 0);
    EXPECT_EQ(run({"as", kOtherUid, "check", "Root", "1"}), 0);
    EXPECT_EQ(dwordOf(L"Owner"), 2);
}

// The lock file and the journal have the registry file's mode and owner:
// made so with a new registry, and brought to them by the next writer (this
// process, a new one, the owner) when the file's mode or owner changed after
// them. A reader of another user then takes the lock and reads the journal.
TEST_F(RegistryJournalTest, TheLockAndJournalFollowTheFilesModeAndOwner) {
    NEEDS_ROOT(needsroot::kFileAndProcess);
    enum class Next { ThisProcess, NewProcess, Owner };
    struct Case {
        const char* name;
        bool fileFirst;  // else the first change makes the registry
        mode_t mode, laterMode;
        uid_t owner, laterOwner;
        Next next;
    } const cases[] = {
        {"a registry made anew", false, 0644, 0644, 0, 0, Next::ThisProcess},
        {"widened, this process writes next", true, 0600, 0644, 0, 0, Next::ThisProcess},
        {"widened, a new process writes next", true, 0600, 0644, 0, 0, Next::NewProcess},
        {"given to the other user, this process writes next", true, 0600, 0600, 0, kOther, Next::ThisProcess},
        {"given to the other user, a new process writes next", true, 0600, 0600, 0, kOther, Next::NewProcess},
        {"made writable by its owner, who writes next", true, 0444, 0644, kOther, kOther, Next::Owner},
    };
    openFolder();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        // This process lets go of the files of the row before, then they go.
        unsetenv("WINPLAT_REGISTRY");
        ASSERT_EQ(winplat::registry::reload(), ERROR_SUCCESS);
        for (const char* f : {"registry.reg", "registry.reg.lock", "registry.reg.journal"}) {
            std::filesystem::remove(dir_ / f);
        }
        if (c.fileFirst) {
            writeBytes(file_, kBase);
            ASSERT_EQ(::chown(file_.c_str(), c.owner, c.owner), 0);
            ASSERT_EQ(::chmod(file_.c_str(), c.mode), 0);
        }
        setenv("WINPLAT_REGISTRY", file_.c_str(), 1);
        ASSERT_EQ(winplat::registry::reload(), ERROR_SUCCESS);
        {
            // One change: where there is no registry yet, the one that makes it.
            KeyHolder key;
            ASSERT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, L"Software\\Journal\\Sub", 0, nullptr, 0,
                                      KEY_ALL_ACCESS, nullptr, key.out(), nullptr),
                      ERROR_SUCCESS);
        }
        EXPECT_EQ(statOf(file_ + ".lock").st_mode & 07777, c.mode) << "made with the file's mode";
        ASSERT_EQ(setDword(L"First", 1), ERROR_SUCCESS);
        for (const std::string& f : {file_, dir_.string()}) {
            ASSERT_EQ(::chown(f.c_str(), c.laterOwner, c.laterOwner), 0);
        }
        ASSERT_EQ(::chmod(file_.c_str(), c.laterMode), 0);
        std::vector<std::string> next = {"at", "RegistryBeforeRename", "9", "0", "set", "Next", "2"};
        if (c.next == Next::Owner) {
            next.insert(next.begin(), {"as", std::to_string(c.laterOwner)});
        }
        if (c.next == Next::ThisProcess) {
            ASSERT_EQ(setDword(L"Next", 2), ERROR_SUCCESS);
        } else {
            // Killed in its rewrite at exit: its value is in the journal only.
            EXPECT_EQ(run(next), 128 + SIGKILL);
        }
        for (const char* f : {"", ".lock", ".journal"}) {
            const struct stat st = statOf(file_ + f);
            EXPECT_EQ(st.st_mode & 07777, c.laterMode) << f;
            EXPECT_EQ(st.st_uid, c.laterOwner) << f;
            EXPECT_EQ(st.st_gid, c.laterOwner) << f;
        }
        EXPECT_EQ(readBytes(file_).find("\"Next\""), std::string::npos) << "in the journal only";
        EXPECT_EQ(run({"as", kOtherUid, "open", file_ + ".lock"}), 0);
        EXPECT_EQ(run({"as", kOtherUid, "check", "First", "1"}), 0);
        EXPECT_EQ(run({"as", kOtherUid, "check", "Next", "2"}), 0);
    }
}

// A reader that may read the file but not the journal beside it says so
// once, naming the journal and why, and goes on with the file alone.
TEST_F(RegistryJournalTest, AJournalThatCannotBeReadIsSaidOnceAndTheFileIsRead) {
    NEEDS_ROOT(needsroot::kProcess);
    openFolder();
    ASSERT_EQ(load(kBase), ERROR_SUCCESS);
    EXPECT_EQ(run({"at", "RegistryBeforeRename", "9", "0", "set", "Left", "4"}), 128 + SIGKILL);
    ASSERT_EQ(::chmod((file_ + ".journal").c_str(), 0600), 0);
    const std::string journalBefore = readBytes(file_ + ".journal");
    const Child reader = spawnChild({"as", kOtherUid, "check", "Left", "-1"}, true);
    ASSERT_GT(reader.pid, 0);
    const std::string err = drain(reader.err);
    drain(reader.out);
    EXPECT_EQ(waitBounded(reader.pid, std::chrono::seconds(60)), 0);
    EXPECT_EQ(err, "winplat: the registry journal " + file_ + ".journal cannot be read (" +
                       std::strerror(EACCES) +
                       "); changes other processes made since the file was last written are not seen.\n");
    EXPECT_EQ(run({"as", kOtherUid, "check", "Base", "1"}), 0);
    EXPECT_EQ(readBytes(file_), kBase);
    EXPECT_EQ(readBytes(file_ + ".journal"), journalBefore);
}

// A rewrite at exit that the disk refuses says so, naming the file and why,
// and the journal keeps every change for the next process.
TEST_F(RegistryJournalTest, ARewriteAtExitThatFailsSaysSoAndKeepsTheJournal) {
    ASSERT_EQ(load(kBase), ERROR_SUCCESS);
    const Child writer = spawnChild({"fsize", "4096", "values", "F", "300"}, true);
    ASSERT_GT(writer.pid, 0);
    const std::string err = drain(writer.err);
    drain(writer.out);
    EXPECT_EQ(waitBounded(writer.pid, std::chrono::seconds(60)), 0);
    EXPECT_EQ(err, "winplat: the registry file " + file_ + " could not be rewritten (" +
                       std::strerror(EFBIG) + "); its changes are kept in " + file_ +
                       ".journal and read from there.\n");
    EXPECT_EQ(readBytes(file_), kBase);
    ASSERT_EQ(winplat::registry::reload(), ERROR_SUCCESS);
    KeyHolder key;
    ASSERT_EQ(RegOpenKeyExW(HKEY_CURRENT_USER, L"Software\\Concurrent", 0, KEY_READ, key.out()),
              ERROR_SUCCESS);
    for (int i = 0; i < 300; i += 299) {
        DWORD type = 0;
        std::vector<BYTE> data;
        EXPECT_EQ(queryRaw(key, (L"F_" + std::to_wstring(i)).c_str(), type, data), ERROR_SUCCESS) << i;
    }
}

// Writers killed at random moments, some of them by injection points right
// after a record and on either side of a rewrite's rename, while this
// process reads and writes: no value read ever goes back, and every value
// whose call returned is there at the end, through the calls and in the
// file alone.
TEST_F(RegistryJournalTest, WritersKilledAnywhereLoseNothingAcknowledged) {
#if defined(__SANITIZE_THREAD__) || defined(__SANITIZE_ADDRESS__)
    constexpr int kRounds = 6;
#else
    constexpr int kRounds = 20;
#endif
    constexpr int kWriters = 3;
    ASSERT_EQ(load(kBase), ERROR_SUCCESS);
    std::atomic<bool> running{true};
    std::atomic<int> wentBack{0};
    std::map<std::string, DWORD> acked;  // tag: the last i acknowledged (all below too)
    std::mutex ackedMutex;
    // This process reads every counter, and writes its own.
    std::thread reader([&] {
        std::map<std::string, long long> seen;
        DWORD own = 0;
        while (running.load()) {
            std::vector<std::string> tags;
            {
                std::lock_guard<std::mutex> g(ackedMutex);
                for (const auto& [tag, last] : acked) {
                    if (tag != "T") {  // this process's own values have no counter
                        tags.push_back(tag);
                    }
                }
            }
            for (const std::string& tag : tags) {
                const long long v = dwordOf(winplat::utf8ToUtf16("N_" + tag));
                wentBack += v < seen[tag];
                seen[tag] = std::max(seen[tag], v);
            }
            if (setDword(L"V_T_" + std::to_wstring(own), own) == ERROR_SUCCESS) {
                std::lock_guard<std::mutex> g(ackedMutex);
                acked["T"] = own++;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
    });
    // Stopped however the test ends, so that a failed assertion never leaves it running.
    struct Stop {
        std::atomic<bool>& running;
        std::thread& reader;
        ~Stop() {
            running.store(false);
            if (reader.joinable()) {
                reader.join();
            }
        }
    } stop{running, reader};
    std::minstd_rand random(2024);
    const char* const points[] = {"RegistryAfterRecord", "RegistryBeforeRename", "RegistryAfterRename"};
    for (int round = 0; round < kRounds; ++round) {
        std::vector<Child> writers;
        for (int w = 0; w < kWriters; ++w) {
            const std::string tag = std::to_string(round) + "x" + std::to_string(w);
            std::vector<std::string> args;
            if (w == 0) {
                // A record is killed after one of its first few; a rewrite, at its first.
                const int skip = round % 3 == 0 ? static_cast<int>(random() % 40) : 0;
                args = {"at", points[round % 3], "9", std::to_string(skip)};
            }
            args.insert(args.end(), {"stress", tag});
            writers.push_back(spawnChild(args, true));
            ASSERT_GT(writers.back().pid, 0);
        }
        // Each is killed once it has acknowledged a value (or ended), a
        // random while later.
        std::vector<std::string> outs(kWriters);
        for (int w = 0; w < kWriters; ++w) {
            struct pollfd p = {writers[w].out, POLLIN, 0};
            ASSERT_EQ(poll(&p, 1, 60000), 1) << "writer " << w << " of round " << round << " never wrote";
            char buf[4096];
            const ssize_t n = read(writers[w].out, buf, sizeof buf);
            outs[w].assign(buf, n > 0 ? static_cast<size_t>(n) : 0);
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(random() % 60));
        for (int w = 0; w < kWriters; ++w) {
            kill(writers[w].pid, SIGKILL);
            const std::string out = outs[w] + drain(writers[w].out);
            const std::string err = drain(writers[w].err);
            EXPECT_EQ(waitBounded(writers[w].pid, std::chrono::seconds(60)), 128 + SIGKILL) << err;
            if (out.size() >= sizeof(DWORD)) {
                DWORD last;
                std::memcpy(&last, out.data() + out.size() / sizeof last * sizeof last - sizeof last,
                            sizeof last);
                std::lock_guard<std::mutex> g(ackedMutex);
                acked[std::to_string(round) + "x" + std::to_string(w)] = last;
            }
        }
    }
    running.store(false);
    if (reader.joinable()) {
        reader.join();
    }
    EXPECT_EQ(wentBack.load(), 0);
    size_t values = 0;
    for (const auto& [tag, last] : acked) {
        values += last + 1;
    }
    RecordProperty("acknowledged_writers", static_cast<int>(acked.size()));
    RecordProperty("acknowledged_values", static_cast<int>(values));
    EXPECT_GE(acked.size(), static_cast<size_t>(kRounds));

    const auto missing = [&](const std::string& where) {
        std::string lost;
        for (const auto& [tag, last] : acked) {
            for (DWORD i = 0; i <= last; ++i) {
                if (dwordOf(winplat::utf8ToUtf16("V_" + tag + "_" + std::to_string(i))) != i) {
                    lost += " V_" + tag + "_" + std::to_string(i);
                }
            }
        }
        return lost.empty() ? "" : where + ":" + lost;
    };
    EXPECT_EQ(missing("in this process"), "");
    ASSERT_EQ(winplat::registry::reload(), ERROR_SUCCESS);
    EXPECT_EQ(missing("loaded again"), "");
    // The file alone, once folded in, is what every process sees.
    fileText();
    const std::string alone = canonicalFile(file_);
    EXPECT_EQ(alone, winplat::registry::exportText());
    std::string lost;
    for (const auto& [tag, last] : acked) {
        if (alone.find(dwordLine("V_" + tag + "_" + std::to_string(last), last)) == std::string::npos) {
            lost += " V_" + tag + "_" + std::to_string(last);
        }
    }
    EXPECT_EQ(lost, "") << "not in the file alone";
}

}  // namespace

namespace {

// A key of many values: names found in any case through its index, kept
// in their places across changes and removals, and a change of one value
// adds that value to the journal, not the key.
TEST_F(RegistryJournalTest, AKeyOfManyValuesFindsEachAndJournalsOnlyTheChange) {
    constexpr DWORD kValues = 2000;
    ASSERT_EQ(load(kBase), ERROR_SUCCESS);
    KeyHolder key;
    ASSERT_EQ(RegOpenKeyExW(HKEY_CURRENT_USER, L"Software\\Journal", 0, KEY_ALL_ACCESS, key.out()),
              ERROR_SUCCESS);
    for (DWORD i = 0; i < kValues; ++i) {
        ASSERT_EQ(setDword(L"Value" + std::to_wstring(i), i), ERROR_SUCCESS);
    }
    const auto journalSize = [&] { return std::filesystem::file_size(file_ + ".journal"); };
    const uintmax_t before = journalSize();
    ASSERT_EQ(setDword(L"VALUE1000", 7), ERROR_SUCCESS);  // another spelling of an existing name
    EXPECT_LT(journalSize() - before, 200u) << "a change journals its value only";
    ASSERT_EQ(RegDeleteValueW(key, L"value5"), ERROR_SUCCESS);
    ASSERT_EQ(setDword(L"Late", 9), ERROR_SUCCESS);
    struct Expect {
        const wchar_t* name;
        long long value;
        DWORD index;  // where enumeration finds it
    } const table[] = {
        {L"Base", 1, 0},       {L"value0", 0, 1},       {L"VALUE4", 4, 5},          {L"Value5", -1, 0},
        {L"vAlUe6", 6, 6},     {L"value1000", 7, 1000}, {L"Value1999", 1999, 1999}, {L"late", 9, kValues},
        {L"Value2000", -1, 0},
    };
    for (const bool reloaded : {false, true}) {
        if (reloaded) {
            ASSERT_EQ(winplat::registry::reload(), ERROR_SUCCESS);
        }
        for (const Expect& e : table) {
            SCOPED_TRACE(winplat::utf16ToUtf8(e.name) + (reloaded ? " after a reload" : ""));
            EXPECT_EQ(dwordOf(e.name), e.value);
            if (e.value < 0) {
                continue;
            }
            wchar_t name[64];
            DWORD chars = 64;
            ASSERT_EQ(RegEnumValueW(key, e.index, name, &chars, nullptr, nullptr, nullptr, nullptr),
                      ERROR_SUCCESS);
            std::wstring got = name, want = e.name;
            for (std::wstring* w : {&got, &want}) {
                std::transform(w->begin(), w->end(), w->begin(), [](wchar_t c) { return std::towupper(c); });
            }
            EXPECT_EQ(got, want);
        }
    }
}

// A journal as the previous build left it, written by hand: a header naming
// the file version by device, inode, size and a hash of its bytes, then
// records each seeded with the journal's number, each setting a key's whole
// value list ('S') or removing a key ('D').
class PreviousJournal {
  public:
    PreviousJournal(const struct stat& st, const std::string& fileBytes, uint64_t number) : number_(number) {
        bytes_ = "wpregj1\n";
        for (uint64_t v : {static_cast<uint64_t>(st.st_dev), static_cast<uint64_t>(st.st_ino),
                           static_cast<uint64_t>(st.st_size), contentHash(fileBytes), uint64_t{0}, number}) {
            put(bytes_, v);
        }
        put(bytes_, checksum(0, bytes_));
    }
    void set(const std::vector<std::wstring>& path,
             const std::vector<std::pair<std::wstring, DWORD>>& values) {
        std::string p = "S" + pathBytes(path);
        put(p, static_cast<uint32_t>(values.size()));
        for (const auto& [name, v] : values) {
            putName(p, name);
            put(p, static_cast<uint32_t>(REG_DWORD));
            put(p, static_cast<uint32_t>(sizeof v));
            put(p, v);
        }
        record(p);
    }
    void remove(const std::vector<std::wstring>& path) { record("D" + pathBytes(path)); }
    std::string& bytes() { return bytes_; }
    // Where the checksum of the record that begins at `at` is.
    static size_t checksumAt(size_t at) { return at + 8; }

  private:
    template <typename T>
    static void put(std::string& out, T v) {
        out.append(reinterpret_cast<const char*>(&v), sizeof v);
    }
    static void putName(std::string& out, const std::wstring& name) {
        put(out, static_cast<uint32_t>(name.size()));
        for (wchar_t c : name) {
            put(out, static_cast<uint16_t>(c));
        }
    }
    static std::string pathBytes(const std::vector<std::wstring>& path) {
        std::string out;
        put(out, static_cast<uint32_t>(path.size()));
        for (const std::wstring& part : path) {
            putName(out, part);
        }
        return out;
    }
    static uint64_t checksum(uint64_t seed, const std::string& b) {
        uint64_t h = 14695981039346656037ull ^ seed;
        for (char c : b) {
            h = (h ^ static_cast<uint8_t>(c)) * 1099511628211ull;
        }
        return h;
    }
    static uint64_t contentHash(std::string b) {
        const uint64_t size = b.size();
        b.resize((b.size() + 7) / 8 * 8, '\0');
        uint64_t h = 0x6A09E667F3BCC908ull;
        for (size_t i = 0; i < b.size(); i += 8) {
            uint64_t w;
            std::memcpy(&w, b.data() + i, sizeof w);
            h = (h ^ w) * 0x9E3779B97F4A7C15ull;
            h ^= h >> 31;
        }
        return h ^ size;
    }
    void record(const std::string& payload) {
        put(bytes_, static_cast<uint64_t>(payload.size()));
        put(bytes_, checksum(number_, payload));
        bytes_ += payload;
    }
    uint64_t number_;
    std::string bytes_;
};

// A journal the previous build left beside the file version it goes with is
// read up to its first record cut short or failing its checksum, and the
// first writer puts those records into the file before its own journal
// starts over them, whether it exits or is killed right after its rename;
// one that goes with another version of the file is ignored.
TEST_F(RegistryJournalTest, APreviousFormatJournalIsReadAndFoldedInOnlyBesideItsFile) {
    enum class Damage { LastCutShort, ThirdBadChecksum, OtherBytes, OtherInode };
    struct Case {
        const char* name;
        Damage damage;
        long long old1, old2;  // as the file and the journal's whole records give them
        bool subGone;
    } const cases[] = {
        {"the last record cut short", Damage::LastCutShort, 11, 12, true},
        {"the third record failing its checksum", Damage::ThirdBadChecksum, 11, -1, true},
        {"a journal for other bytes", Damage::OtherBytes, -1, -1, false},
        {"a journal for another inode", Damage::OtherInode, -1, -1, false},
    };
    struct Writer {
        const char* name;
        std::vector<std::string> args;
        int status;
        bool setsNew;  // New=3, in the file once the writer is gone
    } const writers[] = {
        {"exits", {"set", "New", "3"}, 0, true},
        {"is killed after its rename",
         {"at", "RegistryAfterRename", "9", "0", "set", "New", "3"},
         128 + SIGKILL,
         true},
        // Its first change (creating a key) is written whole, or is the record it is killed after.
        {"is killed after its first record",
         {"at", "RegistryAfterRecord", "9", "0", "values", "Late", "2"},
         128 + SIGKILL,
         false},
        {"is this process, asked to flush", {}, 0, false},
    };
    const std::string file = kBase + "\n[HKEY_CURRENT_USER\\Software\\Journal\\Sub]\n\"S\"=dword:00000005\n";
    const std::vector<std::wstring> key = {L"HKEY_CURRENT_USER", L"Software", L"Journal"};
    const std::string journal = file_ + ".journal";
    for (const Case& c : cases) {
        for (const Writer& w : writers) {
            SCOPED_TRACE(std::string(c.name) + ", a writer that " + w.name);
            std::filesystem::remove(file_);
            std::filesystem::remove(journal);
            ASSERT_EQ(winplat::registry::reload(), ERROR_SUCCESS);
            writeBytes(file_, file);
            struct stat st = statOf(file_);
            std::string named = file;
            if (c.damage == Damage::OtherBytes) {
                named.back() = ' ';  // same size, other bytes
            } else if (c.damage == Damage::OtherInode) {
                ++st.st_ino;
            }
            PreviousJournal j(st, named, 0x5EED);
            j.set(key, {{L"Base", 1}, {L"Old1", 11}});
            j.remove({L"HKEY_CURRENT_USER", L"Software", L"Journal", L"Sub"});
            const size_t third = j.bytes().size();
            j.set(key, {{L"Base", 1}, {L"Old1", 11}, {L"Old2", 12}});
            j.set(key, {{L"Base", 1}, {L"Old1", 11}, {L"Old2", 12}, {L"Cut", 13}});
            if (c.damage == Damage::LastCutShort) {
                j.bytes().resize(j.bytes().size() - 3);
            } else if (c.damage == Damage::ThirdBadChecksum) {
                j.bytes()[PreviousJournal::checksumAt(third)] ^= 1;
            }
            writeBytes(journal, j.bytes());

            const std::map<std::string, long long> read = {
                {"Base", 1}, {"Old1", c.old1}, {"Old2", c.old2}, {"Cut", -1}};
            std::vector<std::string> check = {"check"};
            for (const auto& [name, v] : read) {
                check.insert(check.end(), {name, std::to_string(v)});
            }
            EXPECT_EQ(run(check), 0) << "in a reader";
            ASSERT_EQ(winplat::registry::reload(), ERROR_SUCCESS);
            for (const auto& [name, v] : read) {
                EXPECT_EQ(dwordOf(winplat::utf8ToUtf16(name)), v) << name << " in this process";
            }
            KeyHolder sub;
            EXPECT_EQ(RegOpenKeyExW(HKEY_CURRENT_USER, L"Software\\Journal\\Sub", 0, KEY_READ, sub.out()),
                      c.subGone ? ERROR_FILE_NOT_FOUND : ERROR_SUCCESS);
            EXPECT_EQ(readBytes(file_), file) << "readers leave the file as it is";
            EXPECT_EQ(readBytes(journal), j.bytes()) << "readers leave the journal as it is";

            if (w.args.empty()) {
                winplat::registry::flush();
            } else {
                EXPECT_EQ(run(w.args), w.status);
            }
            const std::string canonical = canonicalFile(file_);
            for (const auto& [name, v] : read) {
                EXPECT_EQ(canonical.find(dwordLine(name, static_cast<DWORD>(v))) != std::string::npos, v >= 0)
                    << name << " in the file alone";
            }
            EXPECT_EQ(canonical.find(dwordLine("New", 3)) != std::string::npos, w.setsNew) << canonical;
            EXPECT_EQ(canonical.find("Journal\\Sub]") == std::string::npos, c.subGone) << canonical;
            EXPECT_EQ(run({"check", "Old1", std::to_string(c.old1), "New", w.setsNew ? "3" : "-1"}), 0)
                << "in a later reader";
        }
    }
}

}  // namespace
