// The registry beside a careless or hostile neighbour, one who may write the
// folder or the journal: links planted where the lock file and the journal
// stand, a journal others may read once the file is narrowed, a journal cut
// and written again from outside, rights taken away while a writer waits.
// Nothing but the registry's own files is ever changed, no record goes
// where the file's rights do not reach, and what was acknowledged after
// damage from outside is never lost.
#include <fcntl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <memory>
#include <set>

#include "needs_root.h"
#include "registry_children.h"
#include "registry_fixture.h"
#include "winplat/console.h"
#include "winplat/utf16.h"

using namespace regtest;

namespace {

constexpr uid_t kOwner = 65534;      // the registry's owner, not the test's user (root)
constexpr uid_t kNeighbour = 65533;  // another user who may write the folder
constexpr uid_t kThird = 65532;      // a user whose files the neighbour links to
const std::string kOwnerUid = std::to_string(kOwner);
const std::string kNeighbourUid = std::to_string(kNeighbour);

// Who writes in a row: root, or the owner's own process.
enum class Writer { Root, Owner };
const char* nameOf(Writer w) {
    return w == Writer::Root ? "root writing" : "the owner writing";
}
uid_t uidOf(Writer w) {
    return w == Writer::Root ? 0 : kOwner;
}
// reg_writer's arguments for `args` run as the writer.
std::vector<std::string> as(Writer w, std::vector<std::string> args) {
    if (w == Writer::Owner) {
        args.insert(args.begin(), {"as", kOwnerUid});
    }
    return args;
}

// A DWORD value as a record or a .reg file holds it: its name as UTF-16LE or
// quoted, or its four bytes.
bool holdsValue(const std::string& bytes, const std::string& name, DWORD v) {
    std::string utf16;
    for (const char ch : name) {
        utf16 += {ch, '\0'};
    }
    const std::string raw(reinterpret_cast<const char*>(&v), sizeof v);
    return bytes.find(utf16) != std::string::npos || bytes.find(raw) != std::string::npos ||
           bytes.find("\"" + name + "\"") != std::string::npos;
}

// Whether the process `pid` holds the file `st` open.
bool holdsOpen(pid_t pid, const struct stat& st) {
    const std::filesystem::path fds = "/proc/" + std::to_string(pid) + "/fd";
    for (const auto& e : std::filesystem::directory_iterator(fds)) {
        struct stat open {};
        if (::stat(e.path().c_str(), &open) == 0 && open.st_dev == st.st_dev && open.st_ino == st.st_ino) {
            return true;
        }
    }
    return false;
}

// What a file is: type, owner, group, mode, links and bytes, to tell that
// nothing changed it.
std::string describe(const std::string& path) {
    struct stat st {};
    if (::lstat(path.c_str(), &st) != 0) {
        return "absent";
    }
    std::string d = std::to_string(st.st_mode) + " " + std::to_string(st.st_uid) + ":" +
                    std::to_string(st.st_gid) + " links " + std::to_string(st.st_nlink);
    return S_ISREG(st.st_mode) ? d + " [" + readBytes(path) + "]" : d;
}

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

// A process that reads and writes a user's registry, where a neighbour put
// something else in place of the lock file or the journal: a link to a file
// of the writer's own, a folder, a socket, a file of the neighbour's, or the
// writer's own private file renamed there. It opens none of them for use,
// says so, refuses the change, and what was planted keeps its owner, mode
// and bytes. A journal of the writer's or the file's owner's that holds no
// journal cannot be told from damage: it is set aside, unread and as it
// was, and the change goes to a journal of the writer's own.
TEST_F(RegistryNeighbourTest, APlantedFileIsNeverUsedAndTheChangeIsRefused) {
    NEEDS_ROOT(needsroot::kFileAndProcess);
    enum class Plant { SymbolicLink, HardLink, Folder, Socket, PrivateFile, NeighboursFile };
    const std::string privateBytes = "the writer's only\n";
    // A private file as long as a lock file and more, which only the mark
    // tells from one; and a lock file of the build before the mark, its two
    // counters alone.
    const std::string aLockFilesLength(64, 'p');
    const std::string earlierLock("\x05\0\0\0\0\0\0\0\x02\0\0\0\0\0\0\0", 16);
    struct Case {
        const char* beside;  // ".lock" or ".journal"
        Plant plant;
        const char* said;                    // what it is said to be
        const std::string* bytes = nullptr;  // a private file's, else privateBytes
        bool setAside = false;               // a trusted journal: set aside, the change made
    } const cases[] = {
        {".journal", Plant::SymbolicLink, "a symbolic link"},
        {".lock", Plant::SymbolicLink, "a symbolic link"},
        {".journal", Plant::HardLink, "a file with other names (a hard link)"},
        {".lock", Plant::HardLink, "a file with other names (a hard link)"},
        {".journal", Plant::Folder, "a folder"},
        {".lock", Plant::Folder, "a folder"},
        {".journal", Plant::Socket, "a socket"},
        {".lock", Plant::Socket, "a socket"},
        {".journal", Plant::PrivateFile, "a file with other content", nullptr, true},
        {".lock", Plant::PrivateFile, "a file with other content"},
        {".lock", Plant::PrivateFile, "a file with other content", &aLockFilesLength},
        {".journal", Plant::PrivateFile, "a file with other content", &aLockFilesLength, true},
        {".journal", Plant::NeighboursFile, "a file with other content"},
        {".lock", Plant::NeighboursFile, "a file with other content"},
        {".lock", Plant::PrivateFile,
         "a lock file of an earlier build; remove it once no process of that build runs", &earlierLock},
    };
    const std::string secret = (dir_ / "secret").string();
    for (const Writer writer : {Writer::Root, Writer::Owner}) {
        for (const Case& c : cases) {
            SCOPED_TRACE(std::string(nameOf(writer)) + ", planted as " + c.beside + ": " + c.said + " of " +
                         std::to_string((c.bytes ? *c.bytes : privateBytes).size()) + " bytes");
            ownersRegistry(0644, 0777);
            // The user's own lock file and journal, which the neighbour then replaces.
            ASSERT_EQ(run({"as", kOwnerUid, "set", "First", "1"}), 0);
            writeBytes(secret, c.bytes ? *c.bytes : privateBytes);
            ASSERT_EQ(::chown(secret.c_str(), uidOf(writer), uidOf(writer)), 0);
            ASSERT_EQ(::chmod(secret.c_str(), 0600), 0);
            const std::string planted = file_ + c.beside;
            std::filesystem::remove(planted);
            switch (c.plant) {
                case Plant::SymbolicLink:
                    ASSERT_EQ(::symlink("secret", planted.c_str()), 0);
                    break;
                case Plant::HardLink:
                    ASSERT_EQ(::link(secret.c_str(), planted.c_str()), 0);
                    break;
                case Plant::Folder:
                    ASSERT_EQ(::mkdir(planted.c_str(), 0777), 0);
                    break;
                case Plant::Socket: {
                    const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
                    sockaddr_un addr{};
                    addr.sun_family = AF_UNIX;
                    ASSERT_LT(planted.size(), sizeof addr.sun_path);
                    std::strcpy(addr.sun_path, planted.c_str());
                    ASSERT_EQ(::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
                    ::close(fd);
                    break;
                }
                case Plant::PrivateFile:
                    ASSERT_EQ(::rename(secret.c_str(), planted.c_str()), 0);
                    break;
                case Plant::NeighboursFile:
                    writeBytes(planted, privateBytes);
                    ASSERT_EQ(::chmod(planted.c_str(), 0644), 0);
                    break;
            }
            if (c.plant != Plant::HardLink && c.plant != Plant::PrivateFile) {
                ASSERT_EQ(::lchown(planted.c_str(), kNeighbour, kNeighbour), 0);  // what the neighbour made
            }
            const std::string plantedBefore = describe(planted);
            const std::string secretBefore = describe(secret);
            const std::string fileBefore = readBytes(file_);
            const std::set<std::string> filesBefore = folderFiles();

            const std::string atLoad =
                std::string(c.beside) == ".lock"
                    ? "winplat: the registry lock file " + planted + " cannot be opened (" + c.said +
                          "); this process reads without it and may see changes up to 10 ms late.\n"
                    : "winplat: the registry journal " + planted + " cannot be read (" + c.said +
                          "); changes other processes made since the file was last written are not seen.\n";
            const std::string refused = "winplat: the registry's " + planted + " cannot be used (" + c.said +
                                        "); it is left as it is and changes are refused.\n";
            // Where a trusted journal is set aside: the one name beside the
            // file that was not there before.
            const auto setAside = [&] {
                std::string aside;
                for (const std::string& f : folderFiles()) {
                    if (!filesBefore.count(f) && f.rfind("registry.reg.journal.set-aside.", 0) == 0) {
                        aside = (dir_ / f).string();
                    }
                }
                return aside;
            };
            const auto setAsideSaid = [&](const std::string& aside) {
                return "winplat: the registry journal " + planted + " holds no journal (" + c.said +
                       "); it is set aside, unread, in " + aside + ", and a new journal is started.\n";
            };
            std::string said;
            // This process says each text once: rows whose texts an earlier
            // row said run in a process of their own.
            if (writer == Writer::Root && !c.bytes && c.plant != Plant::NeighboursFile) {
                winplat::console::Capture capture;
                ASSERT_EQ(winplat::registry::reload(), ERROR_SUCCESS);
                EXPECT_EQ(dwordOf(L"First"), 1);
                if (c.setAside) {
                    EXPECT_EQ(setDword("Root", 2), ERROR_SUCCESS);
                    EXPECT_EQ(setDword("Root", 3), ERROR_SUCCESS) << "and again";
                } else {
                    EXPECT_EQ(setDword("Root", 2), ERROR_ACCESS_DENIED);
                    EXPECT_EQ(setDword("Root", 2), ERROR_ACCESS_DENIED) << "and again";
                }
                said = capture.err();
                EXPECT_EQ(dwordOf(L"Root"), c.setAside ? 3 : -1);
            } else {
                const Ran ran = runCaught(as(writer, {"set", "Root", c.setAside ? "3" : "2"}));
                EXPECT_EQ(ran.status, c.setAside ? 0 : 5);
                said = ran.err;
            }
            EXPECT_EQ(run({"check", "Root", c.setAside ? "3" : "-1"}), 0);
            if (c.setAside) {
                const std::string aside = setAside();
                EXPECT_NE(aside, "") << "nothing set aside";
                EXPECT_EQ(said, atLoad + setAsideSaid(aside));
                EXPECT_EQ(describe(aside), plantedBefore) << "set aside as it was";
                EXPECT_EQ(readBytes(planted).rfind("wpregj2", 0), 0u) << "a journal in its place";
                std::filesystem::remove(aside);
            } else {
                EXPECT_EQ(said, atLoad + refused);
                EXPECT_EQ(describe(planted), plantedBefore);
                EXPECT_EQ(readBytes(file_), fileBefore);
                EXPECT_EQ(folderFiles(), filesBefore);
            }
            EXPECT_EQ(describe(secret), secretBefore);
            std::filesystem::remove_all(planted);
            std::filesystem::remove(secret);
        }
    }
}

// The neighbour moves the owner's file aside and puts one of its own, open
// to all, in its place. The writer's next change does not load it; the lock
// file and the journal, which holds the owner's secret, keep the rights of
// the file version the writer read, so the neighbour reads nothing of it.
TEST_F(RegistryNeighbourTest, TheLockAndJournalTakeRightsOnlyFromAFileVersionRead) {
    NEEDS_ROOT(needsroot::kFileAndProcess);
    constexpr DWORD kSecret = 0x5EC12E7;
    for (const Writer writer : {Writer::Root, Writer::Owner}) {
        SCOPED_TRACE(nameOf(writer));
        ownersRegistry(0600, 0777);
        // Killed in its rewrite at exit: the secret stays in the journal.
        ASSERT_EQ(run(as(writer,
                         {"at", "RegistryBeforeRename", "9", "0", "set", "Secret", std::to_string(kSecret)})),
                  128 + SIGKILL);
        const std::string journal = file_ + ".journal";
        const std::string lock = file_ + ".lock";
        ASSERT_TRUE(holdsValue(readBytes(journal), "Secret", kSecret));
        const std::string journalBefore = describe(journal);
        const std::string lockBefore = describe(lock);
        ASSERT_EQ(statOf(journal).st_mode & 07777, 0600u);

        ASSERT_EQ(::rename(file_.c_str(), (file_ + ".aside").c_str()), 0);
        writeBytes(file_, "not a registry\n");
        ASSERT_EQ(::chown(file_.c_str(), kNeighbour, kNeighbour), 0);
        ASSERT_EQ(::chmod(file_.c_str(), 0666), 0);
        const Ran ran = runCaught(as(writer, {"set", "Other", "1"}));
        EXPECT_EQ(ran.status, 1);
        EXPECT_NE(ran.err.find("reg_writer: set failed with 1009"), std::string::npos) << ran.err;
        EXPECT_EQ(describe(journal), journalBefore);
        EXPECT_EQ(describe(lock), lockBefore);
        for (const std::string& f : folderFiles()) {
            const std::string path = (dir_ / f).string();
            if (run({"as", kNeighbourUid, "open", path}) == 0) {
                EXPECT_FALSE(holdsValue(readBytes(path), "Secret", kSecret))
                    << f << ", which the neighbour may read";
            }
        }
    }
}

// The neighbour renames a hard link to a third user's lock file or journal,
// open to all, over the registry's, and an empty file of its own over it
// just after the writer opened the name: the link count the writer then
// reads is one, but the name no longer names the file it opened. The third
// user's file keeps its owner, mode and bytes.
TEST_F(RegistryNeighbourTest, AFileWhoseNameMovedWhileItWasOpenedIsNotTaken) {
    NEEDS_ROOT(needsroot::kFileAndProcess);
    struct Case {
        const char* beside;
        int skip;    // opens of files beside the registry before the planted one, at load
        int status;  // the writer's: an empty journal is replaced, an empty lock file refused
    } const cases[] = {{".lock", 0, 5}, {".journal", 1, 0}};
    for (const Writer writer : {Writer::Root, Writer::Owner}) {
        for (const Case& c : cases) {
            SCOPED_TRACE(std::string(nameOf(writer)) + ", as " + c.beside);
            ownersRegistry(0644, 0777);
            ASSERT_EQ(run({"as", kOwnerUid, "set", "First", "1"}), 0);
            const std::filesystem::path third = dir_ / "third";
            std::filesystem::create_directory(third);
            const std::string theirs = (third / "file").string();
            // A real one of its kind, which only the name's identity tells
            // from the registry's own.
            writeBytes(theirs, readBytes(file_ + c.beside));
            for (const std::string& f : {third.string(), theirs}) {
                ASSERT_EQ(::chown(f.c_str(), kThird, kThird), 0);
            }
            ASSERT_EQ(::chmod(theirs.c_str(), 0666), 0);
            const std::string name = file_ + c.beside;
            const std::string link = (dir_ / "link").string();
            ASSERT_EQ(::link(theirs.c_str(), link.c_str()), 0);
            ASSERT_EQ(::rename(link.c_str(), name.c_str()), 0);

            const Child child = spawnChild(as(writer, {"at", "RegistryBesideOpen", std::to_string(SIGSTOP),
                                                       std::to_string(c.skip), "set", "Mine", "2"}),
                                           true);
            ASSERT_GT(child.pid, 0);
            ASSERT_TRUE(waitStopped(child.pid, std::chrono::seconds(60)))
                << "the writer never opened the name";
            EXPECT_TRUE(holdsOpen(child.pid, statOf(theirs))) << "stopped with the third user's file open";
            const std::string empty = (dir_ / "empty").string();
            writeBytes(empty, "");
            ASSERT_EQ(::chown(empty.c_str(), kNeighbour, kNeighbour), 0);
            ASSERT_EQ(::rename(empty.c_str(), name.c_str()), 0);
            const std::string theirsBefore = describe(theirs);
            EXPECT_EQ(statOf(theirs).st_nlink, 1u);
            kill(child.pid, SIGCONT);
            const std::string err = drain(child.err);
            drain(child.out);
            EXPECT_EQ(waitBounded(child.pid, std::chrono::seconds(60)), c.status) << err;
            EXPECT_EQ(describe(theirs), theirsBefore);
            std::filesystem::remove(name);
            EXPECT_EQ(run({"check", "First", "1", "Mine", c.status == 0 ? "2" : "-1"}), 0);
            std::filesystem::remove_all(third);
        }
    }
}

// The folder gives what is made in it the owner's group, so a journal the
// neighbour made there first is of the file's group. It is trusted by no
// one: a fresh process of the owner's does not read the record forged in it,
// and a change goes to a journal of the writer's own, put in its place,
// never to it.
TEST_F(RegistryNeighbourTest, AJournalOfTheFilesGroupButAnotherOwnerIsNotTrusted) {
    NEEDS_ROOT(needsroot::kFileAndProcess);
    for (const Writer writer : {Writer::Root, Writer::Owner}) {
        SCOPED_TRACE(nameOf(writer));
        ownersRegistry(0660, 02777);
        ASSERT_EQ(::chown(dir_.c_str(), kOwner, kOwner), 0);
        ASSERT_EQ(::chmod(dir_.c_str(), 02777), 0);
        // A journal with a sound record, killed before it went into the
        // file, then made the neighbour's: what a forger could leave.
        ASSERT_EQ(run({"at", "RegistryBeforeRename", "9", "0", "set", "Secret2", "666"}), 128 + SIGKILL);
        const std::string journal = file_ + ".journal";
        ASSERT_EQ(::chown(journal.c_str(), kNeighbour, kOwner), 0);
        ASSERT_EQ(::chmod(journal.c_str(), 0660), 0);
        EXPECT_EQ(run({"as", kOwnerUid, "check", "Secret2", "-1"}), 0) << "the forged record was read";

        const int held = ::open(journal.c_str(), O_RDONLY | O_CLOEXEC);
        ASSERT_GE(held, 0);
        const std::string heldBefore = readBytes("/proc/self/fd/" + std::to_string(held));
        ASSERT_EQ(run(as(writer, {"set", "Secret2", "7"})), 0);
        EXPECT_EQ(readBytes("/proc/self/fd/" + std::to_string(held)), heldBefore)
            << "written on the neighbour's";
        ::close(held);
        EXPECT_NE(statOf(journal).st_uid, kNeighbour);
        EXPECT_EQ(run({"as", kOwnerUid, "check", "Secret2", "7"}), 0);
    }
}

// A reader has the lock file mapped when it is cut to nothing and then
// removed: the reader does not die of it, and sees the next change, made
// beside a new lock file.
TEST_F(RegistryNeighbourTest, AReaderWhoseLockFileIsCutGoesOnAndSeesLaterChanges) {
    NEEDS_ROOT(needsroot::kFileAndProcess);
    ownersRegistry(0644, 0755);
    ASSERT_EQ(setDword("First", 1), ERROR_SUCCESS);
    const std::string lock = file_ + ".lock";
    const Child reader = spawnChild({"as", kOwnerUid, "await", "First", "Next"}, true);
    ASSERT_GT(reader.pid, 0);
    char line[7] = {};
    ASSERT_EQ(read(reader.out, line, 6), 6) << "the reader never loaded";
    // Cut once its name is gone, so that no one ever finds it empty by name.
    const int fd = ::open(lock.c_str(), O_RDWR | O_CLOEXEC);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(::unlink(lock.c_str()), 0);
    ASSERT_EQ(::ftruncate(fd, 0), 0);
    ::close(fd);
    ASSERT_EQ(setDword("Next", 2), ERROR_SUCCESS);
    const std::string err = drain(reader.err);
    drain(reader.out);
    EXPECT_EQ(waitBounded(reader.pid, std::chrono::seconds(60)), 0) << err;
    EXPECT_EQ(err, "");
}

// A member of the file's group writes and is killed at its exit. Its
// journal would be trusted by no one else, so its change went into the
// file: root's next change, which replaces that journal, keeps it.
TEST_F(RegistryNeighbourTest, AGroupMembersChangeOutlivesItsUntrustedJournal) {
    NEEDS_ROOT(needsroot::kFileAndProcess);
    ownersRegistry(0660, 0777);
    ASSERT_EQ(::chown(file_.c_str(), kOwner, kThird), 0);
    ASSERT_EQ(::chmod(file_.c_str(), 0660), 0);
    // Its change went into the file at once: nothing is left for its exit.
    EXPECT_EQ(run({"as", std::to_string(kThird), "at", "RegistryAtExit", "9", "0", "set", "Member", "5"}), 0);
    ASSERT_EQ(statOf(file_ + ".journal").st_uid, kThird);
    ASSERT_EQ(run({"set", "Root", "6"}), 0);
    EXPECT_EQ(run({"check", "Member", "5", "Root", "6"}), 0);
}

// A journal this process trusted and wrote is opened to all afterwards (its
// owner may): the next change sees it at once, and its record goes to a
// journal put in its place, never named when it cannot be put on disk.
TEST_F(RegistryNeighbourTest, AJournalOpenedToAllAfterThisProcessLookedGetsNoRecord) {
    NEEDS_ROOT(needsroot::kFile);
    ownersRegistry(0660, 0770);
    ASSERT_EQ(setDword("First", 1), ERROR_SUCCESS);
    const std::string journal = file_ + ".journal";
    ASSERT_EQ(statOf(journal).st_uid, kOwner);
    ASSERT_EQ(::chmod(journal.c_str(), 0666), 0);
    const int held = ::open(journal.c_str(), O_RDONLY | O_CLOEXEC);
    ASSERT_GE(held, 0);
    const std::string heldBefore = readBytes("/proc/self/fd/" + std::to_string(held));
    // The journal to take its place cannot be put on disk: it is not
    // named, and the change, which went into the file, holds.
    winplat::inject::arm("RegistryFlushJournal", EIO);
    ASSERT_EQ(setDword("Secret2", 2), ERROR_SUCCESS);
    EXPECT_EQ(winplat::inject::calls("RegistryFlushJournal"), 1);
    EXPECT_EQ(statOf(journal).st_ino, statOf("/proc/self/fd/" + std::to_string(held)).st_ino)
        << "not replaced";
    EXPECT_TRUE(holdsValue(readBytes(file_), "Secret2", 2));
    EXPECT_EQ(strayFiles(), std::vector<std::string>{});
    ASSERT_EQ(setDword("Secret3", 3), ERROR_SUCCESS);
    EXPECT_EQ(readBytes("/proc/self/fd/" + std::to_string(held)), heldBefore);
    ::close(held);
    EXPECT_EQ(statOf(journal).st_mode & 07777, 0660u);
    EXPECT_EQ(run({"check", "First", "1", "Secret2", "2", "Secret3", "3"}), 0);
}

// The neighbour made the lock file while the file was open to all, and cuts
// it to nothing while a writer has it mapped: the writer's change goes on
// and is kept; its next call finds a lock file it may not use and says it
// reads without it, and its next change is refused. It never dies of the cut.
TEST_F(RegistryNeighbourTest, ALockFileCutUnderItsMappingNeverCrashesAProcess) {
    NEEDS_ROOT(needsroot::kFileAndProcess);
    for (const Writer writer : {Writer::Root, Writer::Owner}) {
        SCOPED_TRACE(nameOf(writer));
        ownersRegistry(0666, 0777);
        // Killed in its rewrite at exit, so the file stays the owner's.
        ASSERT_EQ(run({"as", kNeighbourUid, "at", "RegistryBeforeRename", "9", "0", "set", "Shared", "1"}),
                  128 + SIGKILL);
        const std::string lock = file_ + ".lock";
        ASSERT_EQ(statOf(lock).st_uid, kNeighbour);
        ASSERT_EQ(::chmod(file_.c_str(), 0600), 0);
        const Child child = spawnChild(
            as(writer, {"at", "RegistryBeforeLock", std::to_string(SIGSTOP), "0", "values", "Mine", "1"}),
            true);
        ASSERT_GT(child.pid, 0);
        ASSERT_TRUE(waitStopped(child.pid, std::chrono::seconds(60))) << "the writer never reached the lock";
        ASSERT_EQ(::truncate(lock.c_str(), 0), 0);
        kill(child.pid, SIGCONT);
        const std::string err = drain(child.err);
        drain(child.out);
        EXPECT_EQ(waitBounded(child.pid, std::chrono::seconds(60)), 1) << err;
        // The neighbour's journal, trusted by no one now, holds its record.
        std::string aside;
        for (const std::string& f : folderFiles()) {
            if (f.rfind("registry.reg.journal.set-aside.", 0) == 0) {
                aside = (dir_ / f).string();
            }
        }
        EXPECT_EQ(
            err, "winplat: the registry journal " + file_ + ".journal is trusted by no one (its owner, uid " +
                     kNeighbourUid +
                     ", is neither the file's nor root), so its records were not read; they are " +
                     "set aside in " + aside + ".\n" + "winplat: the registry lock file " + lock +
                     " cannot be opened (an empty file); this process reads without it and may see changes "
                     "up to 10 ms late.\n"
                     "winplat: the registry's " +
                     lock +
                     " cannot be used (an empty file); it is left as it is and changes are refused.\n"
                     "reg_writer: RegSetValueExW failed with 5\n");
        EXPECT_EQ(statOf(lock).st_size, 0);
        ASSERT_EQ(::unlink(lock.c_str()), 0);
        ASSERT_EQ(winplat::registry::reload(), ERROR_SUCCESS);
        KeyHolder key;
        EXPECT_EQ(RegOpenKeyExW(HKEY_CURRENT_USER, L"Software\\Concurrent", 0, KEY_READ, key.out()),
                  ERROR_SUCCESS)
            << "the change made before the cut is kept";
        EXPECT_EQ(concurrentValue("Mine_0"), "");
        EXPECT_EQ(run({"check", "Shared", "-1"}), 0) << "the neighbour's journal is not trusted";
    }
}

// A neighbour made the lock file and the journal while the file was open to
// all; the owner then narrows the file and writes a secret. No record of it
// goes where the neighbour can read: once the file is the owner's alone, the
// neighbour's journal is trusted by no one, whether the writer (the owner's
// process, or root's) may write it or not, and one of the owner's takes its
// place. The neighbour, who still holds the old journal open, reads nothing
// of it; and the neighbour's record, which anyone might have forged, is read
// by no one either.
TEST_F(RegistryNeighbourTest, AJournalOthersMayReadGetsNoRecordOnceTheFileIsNarrowed) {
    NEEDS_ROOT(needsroot::kFileAndProcess);
    constexpr DWORD kSecret = 0x5EC12E7;
    struct Case {
        const char* name;
        mode_t neighboursJournal;  // the mode the neighbour leaves its journal with
        bool root;                 // the secret is written by root, else by the owner
        uid_t maker = kNeighbour;  // whose the journal is: the owner's is trusted, and read
    } const cases[] = {
        {"a journal open to all, the owner writing", 0666, false},
        {"a journal open to all, root writing", 0666, true},
        {"a journal only its maker may write, the owner writing", 0644, false},
        // Trusted, so only its rights, taken before they were narrowed,
        // tell that whoever opened it then still can read it.
        {"the owner's own journal open to all, the owner writing", 0666, false, kOwner},
    };
    const auto holdsSecret = [&](const std::string& bytes) { return holdsValue(bytes, "Secret", kSecret); };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ownersRegistry(0666, 0777);
        // Killed in its rewrite at exit, so the file stays the owner's.
        EXPECT_EQ(run({"as", std::to_string(c.maker), "at", "RegistryBeforeRename", "9", "0", "set", "Shared",
                       "1"}),
                  128 + SIGKILL);
        const std::string journal = file_ + ".journal";
        ASSERT_EQ(statOf(journal).st_uid, c.maker);
        ASSERT_EQ(::chmod(journal.c_str(), c.neighboursJournal), 0);
        const int held = ::open(journal.c_str(), O_RDONLY | O_CLOEXEC);
        ASSERT_GE(held, 0);

        ASSERT_EQ(::chmod(file_.c_str(), 0600), 0);
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
        EXPECT_EQ(WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status), 0);
        EXPECT_FALSE(holdsSecret(seen)) << "in the journal the neighbour holds open";
        for (const std::string& f : folderFiles()) {
            const std::string path = (dir_ / f).string();
            if (run({"as", kNeighbourUid, "open", path}) == 0) {
                EXPECT_FALSE(holdsSecret(readBytes(path))) << f << ", which the neighbour may read";
            }
        }
        EXPECT_EQ(run({"as", kOwnerUid, "check", "Secret", std::to_string(kSecret), "Shared",
                       c.maker == kOwner ? "1" : "-1"}),
                  0);
        const struct stat st = statOf(journal);
        EXPECT_EQ(st.st_uid, kOwner);
        EXPECT_EQ(st.st_mode & 07777, 0600u);
    }
}

// The write at exit that fails (the folder or the file made read-only) is
// reported, whether or not the journal was cut or removed from outside
// before it: then what it says is that the values past the cut are lost,
// also when the writer could not look at the journal under the lock. A
// journal another process started again, having written every record into
// the file, is no cut: nothing is lost, and nothing is said.
TEST_F(RegistryNeighbourTest, AWriteAtExitThatFailsIsReportedAlsoAfterACut) {
    NEEDS_ROOT(needsroot::kFileAndProcess);
    constexpr int kValues = 6;
    enum class Damage { None, Cut, Removed, RewrittenByAnother };
    struct Case {
        Damage damage;
        bool fileReadOnly;  // else the folder
    } const cases[] = {{Damage::None, false}, {Damage::Cut, false},     {Damage::None, true},
                       {Damage::Cut, true},   {Damage::Removed, false}, {Damage::RewrittenByAnother, true}};
    const char* const damageNames[] = {"not cut", "cut from outside", "removed from outside",
                                       "started again by another's rewrite"};
    for (const Case& c : cases) {
        const bool cut = c.damage == Damage::Cut || c.damage == Damage::Removed;
        SCOPED_TRACE(std::string(damageNames[static_cast<int>(c.damage)]) +
                     (c.fileReadOnly ? ", the file read-only" : ", the folder read-only"));
        ownersRegistry(0644, 0755);
        const Child writer = spawnChild({"as", kOwnerUid, "at", "RegistryAtExit", std::to_string(SIGSTOP),
                                         "0", "values", "V", std::to_string(kValues)},
                                        true);
        ASSERT_GT(writer.pid, 0);
        ASSERT_TRUE(waitStopped(writer.pid, std::chrono::seconds(60))) << "the writer never reached its exit";
        const std::string journal = file_ + ".journal";
        const std::vector<size_t> ends = recordEnds(readBytes(journal));
        ASSERT_EQ(ends.size(), static_cast<size_t>(kValues + 1)) << "the key, then each value";
        switch (c.damage) {
            case Damage::Cut:
                ASSERT_EQ(::truncate(journal.c_str(), static_cast<off_t>(ends[3])), 0);  // after V_2
                break;
            case Damage::Removed:
                ASSERT_EQ(::unlink(journal.c_str()), 0);
                break;
            case Damage::RewrittenByAnother:
                ASSERT_EQ(run({"as", kOwnerUid, "set", "Other", "1"}), 0);
                break;
            case Damage::None:
                break;
        }
        ASSERT_EQ(::chmod(c.fileReadOnly ? file_.c_str() : dir_.c_str(), c.fileReadOnly ? 0444 : 0555), 0);
        kill(writer.pid, SIGCONT);
        const std::string err = drain(writer.err);
        drain(writer.out);
        EXPECT_EQ(waitBounded(writer.pid, std::chrono::seconds(60)), 0);
        const std::string failed = "winplat: the registry file " + file_ + " could not be rewritten (" +
                                   std::strerror(EACCES) + "); ";
        EXPECT_EQ(err, c.damage == Damage::RewrittenByAnother ? ""
                       : cut ? failed + "the changes this process read from " + journal +
                                   " past where it was cut from outside are lost.\n"
                             : failed + "its changes are kept in " + journal + " and read from there.\n");
        ASSERT_EQ(::chmod(dir_.c_str(), 0755), 0);
        ASSERT_EQ(::chmod(file_.c_str(), 0644), 0);
        ASSERT_EQ(winplat::registry::reload(), ERROR_SUCCESS);
        // The file was never written, so a journal removed took every value with it.
        const int kept = c.damage == Damage::Cut ? 3 : c.damage == Damage::Removed ? 0 : kValues;
        for (int i = 0; i < kValues; ++i) {
            EXPECT_EQ(concurrentValue("V_" + std::to_string(i)),
                      i < kept ? "V:" + std::to_string(i) : std::string())
                << i;
        }
    }
}

// A file made read-only while its owner's writer waits for the lock is not
// written: the right to write is checked again under the lock.
TEST_F(RegistryNeighbourTest, AFileMadeReadOnlyWhileAWriterWaitsForTheLockIsNotWritten) {
    NEEDS_ROOT(needsroot::kFileAndProcess);
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

// The journal is cut just before the last record this process read, and
// another process writes one record there, where that one stood. The
// record is told from this process's by its header alone: it survives this
// process's next change, and a new process sees it.
TEST_F(RegistryNeighbourTest, ARecordWrittenWhereTheLastOneReadWasCutIsKept) {
    const std::string journal = file_ + ".journal";
    ASSERT_EQ(load(kBase), ERROR_SUCCESS);
    for (int i = 0; i < 4; ++i) {
        ASSERT_EQ(setDword("V" + std::to_string(i), static_cast<DWORD>(i)), ERROR_SUCCESS);
    }
    const std::vector<size_t> ends = recordEnds(readBytes(journal));
    ASSERT_EQ(ends.size(), 4u);
    ASSERT_EQ(::truncate(journal.c_str(), static_cast<off_t>(ends[2])), 0);
    // One value of the same key, the same size as V3's record, killed at its
    // exit so that it stays in the journal.
    ASSERT_EQ(run({"at", "RegistryAtExit", "9", "0", "set", "W3", "7"}), 128 + SIGKILL);
    ASSERT_EQ(recordEnds(readBytes(journal)), ends) << "not written where V3 stood";

    winplat::console::Capture capture;
    EXPECT_EQ(setDword("After", 9), ERROR_SUCCESS);
    EXPECT_EQ(capture.err(), "winplat: the registry journal " + journal +
                                 " was cut and written again from outside; it is read again whole, and "
                                 "values past the cut may be lost.\n");
    EXPECT_EQ(dwordOf(L"W3"), 7);
    EXPECT_EQ(dwordOf(L"V3"), -1);
    EXPECT_EQ(run({"check", "V2", "2", "W3", "7", "V3", "-1", "After", "9"}), 0) << "in a new process";
}

// A reader that may not open the lock file reads without it, and says so
// once however often it looks for it again.
TEST_F(RegistryNeighbourTest, AReaderThatCannotOpenTheLockFileSaysSoOnce) {
    NEEDS_ROOT(needsroot::kProcess);
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

// What a crash or a power cut leaves of a file made beside the registry
// whose data never reached the disk: a lock file empty or of zeros, a
// journal of zeros, of any size, written or holes; and what an earlier
// build's writer killed between its link() and unlink() left: a lock file or
// journal with a second, temporary name. It is damage, not a plant: a reader
// reads on without a word, and the next change, root's or the owner's, makes
// it whole again and goes through, with no hand work; the file keeps its
// owner and rights. A blank file is healed by whoever would trust it whole:
// a neighbour's lock file beside a file open to all (what the neighbour's
// first change leaves, killed after making it in place), but not a group
// member's, nor a neighbour's beside a file that is not open to all, however
// large: those are refused, left as they are, and never read through for
// zeros (a look through them kills the process). A reader sweeping a second
// name takes no other temporary file with it: a writer's own, before its
// rename at exit, survives.
// One test for each writer, so that each stays within a test's time under
// AddressSanitizer on a loaded machine.
class RegistryNeighbourBlankTest : public RegistryNeighbourTest,
                                   public ::testing::WithParamInterface<Writer> {};

TEST_P(RegistryNeighbourBlankTest, WhatAPowerCutLeavesBlankIsMadeWholeByTheNextChange) {
    NEEDS_ROOT(needsroot::kFileAndProcess);
    constexpr size_t kSecondName = SIZE_MAX;
    constexpr size_t kLarge = size_t{4} << 20;
    constexpr uid_t kGroupMember = kThird;
    // How its zeros stand: written; all holes (cut to its length); a hole,
    // then zeros written at its end.
    enum class Zeros { Written, Holes, AfterAHole };
    // What else happens: nothing; the change is refused; a writer stands
    // before its rename; another process stops between its two looks at
    // the blank file, a reader or a writer, while the change fills it.
    enum class Then {
        Healed,
        Refused,
        Replaced,
        WriterBeforeItsRename,
        FilledWhileAReaderLooks,
        FilledWhileAWriterLooks
    };
    struct Case {
        const char* beside;
        size_t zeros;          // its length, every byte zero; kSecondName: whole, with a second name
        uid_t maker = kOwner;  // who left it blank
        mode_t fileMode = 0640;
        Then then = Then::Healed;
        mode_t blankMode = 0;  // when its maker made it: its mode, 0 for the file's
        Zeros how = Zeros::Written;
    } const cases[] = {
        {".lock", 0},
        {".lock", 32},
        {".journal", 64},
        {".journal", 0},
        {".journal", (size_t{1} << 20) + 1},
        {".lock", kLarge, kOwner, 0640, Then::Healed, 0, Zeros::Holes},
        {".journal", kLarge, kOwner, 0640, Then::Healed, 0, Zeros::Holes},
        {".lock", kLarge, kOwner, 0640, Then::Healed, 0, Zeros::AfterAHole},
        {".journal", kLarge, kOwner, 0640, Then::Healed, 0, Zeros::AfterAHole},
        {".lock", kSecondName},
        {".journal", kSecondName},
        {".lock", kSecondName, kOwner, 0640, Then::WriterBeforeItsRename},
        {".lock", 0, kNeighbour, 0666},
        {".lock", 32, kNeighbour, 0666},
        {".lock", 0, kGroupMember, 0660, Then::Refused, 0644},
        {".journal", 0, kGroupMember, 0660, Then::Replaced, 0644},
        {".lock", kLarge, kNeighbour, 0640, Then::Refused, 0644, Zeros::AfterAHole},
        {".journal", kLarge, kNeighbour, 0640, Then::Replaced, 0644, Zeros::AfterAHole},
        {".journal", kLarge, kNeighbour, 0640, Then::Replaced, 0644, Zeros::Written},
        {".lock", kLarge, kNeighbour, 0640, Then::Refused, 0644, Zeros::Written},
        {".lock", 32, kOwner, 0640, Then::FilledWhileAReaderLooks},
        {".lock", 0, kOwner, 0640, Then::FilledWhileAWriterLooks},
        {".lock", 32, kOwner, 0640, Then::FilledWhileAWriterLooks},
    };
    const Writer writer = GetParam();
    for (const Case& c : cases) {
        const char* const then[] = {"",
                                    ", refused",
                                    ", replaced",
                                    ", a writer before its rename",
                                    ", filled while a reader looks",
                                    ", filled while a writer looks"};
        const char* const how[] = {"", " (holes)", " (after a hole)"};
        SCOPED_TRACE(std::string(nameOf(writer)) + ", " + c.beside +
                     (c.zeros == kSecondName ? " with a second name"
                                             : " of " + std::to_string(c.zeros) + " zero bytes") +
                     how[static_cast<int>(c.how)] + " left by uid " + std::to_string(c.maker) +
                     then[static_cast<int>(c.then)]);
        ownersRegistry(c.fileMode, c.fileMode == 0666 ? 0777 : 0755);
        ASSERT_EQ(::chown(file_.c_str(), kOwner, c.maker == kGroupMember ? kGroupMember : kOwner), 0);
        ASSERT_EQ(run({"as", kOwnerUid, "set", "First", "1"}), 0);
        const std::string blank = file_ + c.beside;
        if (c.maker != kOwner) {
            // Made in place by its maker.
            ASSERT_EQ(::unlink(blank.c_str()), 0);
            writeBytes(blank, "");
            ASSERT_EQ(::chown(blank.c_str(), c.maker, c.maker), 0);
            ASSERT_EQ(::chmod(blank.c_str(), c.blankMode ? c.blankMode : c.fileMode), 0);
        }
        const struct stat before = statOf(blank);
        Child stopped{};
        if (c.then == Then::WriterBeforeItsRename) {
            // A writer whose rewrite at exit has its temporary file beside
            // the registry, holding the lock.
            stopped = spawnChild(as(writer, {"at", "RegistryBeforeRename", std::to_string(SIGSTOP), "0",
                                             "set", "Second", "2"}),
                                 true);
            ASSERT_GT(stopped.pid, 0);
            ASSERT_TRUE(waitStopped(stopped.pid, std::chrono::seconds(60))) << "it never reached its rename";
            ASSERT_EQ(strayFiles().size(), 1u) << "its temporary file";
        }
        if (c.zeros == kSecondName) {
            ASSERT_EQ(::link(blank.c_str(), (file_ + ".tmp.K1lled").c_str()), 0);
        } else if (c.how == Zeros::Written) {
            writeBytes(blank, std::string(c.zeros, '\0'));
        } else {
            // Its owner and mode kept, as a crash leaves them.
            const size_t written = c.how == Zeros::AfterAHole ? 4096 : 0;
            const int fd = ::open(blank.c_str(), O_WRONLY | O_TRUNC | O_CLOEXEC);
            ASSERT_GE(fd, 0);
            ASSERT_EQ(::ftruncate(fd, static_cast<off_t>(c.zeros - written)), 0);
            const std::string zeros(written, '\0');
            EXPECT_EQ(::pwrite(fd, zeros.data(), written, static_cast<off_t>(c.zeros - written)),
                      static_cast<ssize_t>(written));
            ::close(fd);
            ASSERT_EQ(statOf(blank).st_size, static_cast<off_t>(c.zeros));
        }
        const std::string planted = c.then == Then::Refused ? describe(blank) : "";

        const bool isLock = std::string(c.beside) == ".lock";
        const std::string said = c.zeros == 0 ? "an empty file" : "a file with other content";
        const std::string refused = "winplat: the registry's " + blank + " cannot be used (" + said +
                                    "); it is left as it is and changes are refused.\n";
        const std::string readWithout =
            isLock ? "winplat: the registry lock file " + blank + " cannot be opened (" + said +
                         "); this process reads without it and may see changes up to 10 ms late.\n"
                   : "winplat: the registry journal " + blank + " cannot be read (" + said +
                         "); changes other processes made since the file was last written are not seen.\n";
        // A refused file is never read through: a process that looks
        // for zeros in it is killed there. One replaced is read through
        // by the writer alone, which holds it blank and so replaces it.
        const bool unused = c.then == Then::Refused || c.then == Then::Replaced;
        const auto unscanned = [&](std::vector<std::string> args) {
            if (c.then == Then::Refused) {
                args.insert(args.begin(), {"at", "RegistryBesideScan", std::to_string(SIGKILL), "0"});
            }
            return args;
        };
        // The reader looks first at a blank file, the writer alone at a
        // second name, which whoever opens it first removes.
        const bool readerFirst = c.zeros != kSecondName || c.then == Then::WriterBeforeItsRename;
        const auto read = [&] {
            std::vector<std::string> args = {"check", "First", "1"};
            if (unused) {
                args.insert(args.begin(), {"at", "RegistryBesideScan", std::to_string(SIGKILL), "0"});
            }
            const Ran reader = runCaught(as(Writer::Owner, args));
            EXPECT_EQ(reader.status, 0);
            EXPECT_EQ(reader.err, unused ? readWithout : "");
        };
        if (c.then == Then::WriterBeforeItsRename) {
            // The reader sweeps the second name, then waits for the
            // writer's lock; the writer goes on only then.
            const Child reader = spawnChild({"as", kOwnerUid, "check", "First", "1"}, true);
            ASSERT_GT(reader.pid, 0);
            for (int i = 0; i < 60000 && statOf(blank).st_nlink != 1; ++i) {
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
            }
            EXPECT_EQ(statOf(blank).st_nlink, 1u) << "the second name swept";
            kill(stopped.pid, SIGCONT);
            const std::string err = drain(stopped.err);
            drain(stopped.out);
            EXPECT_EQ(waitBounded(stopped.pid, std::chrono::seconds(60)), 0) << err;
            EXPECT_EQ(err, "") << "its rewrite went through";
            const std::string readerErr = drain(reader.err);
            drain(reader.out);
            EXPECT_EQ(waitBounded(reader.pid, std::chrono::seconds(60)), 0) << readerErr;
            EXPECT_EQ(readerErr, "");
            EXPECT_TRUE(holdsValue(readBytes(file_), "Second", 2)) << "in the file";
        } else if (c.then == Then::FilledWhileAReaderLooks || c.then == Then::FilledWhileAWriterLooks) {
            const bool reader = c.then == Then::FilledWhileAReaderLooks;
            const Child looking =
                spawnChild({"as", kOwnerUid, "at", "RegistryBesideLook", std::to_string(SIGSTOP), "0",
                            reader ? "check" : "set", reader ? "First" : "Third", reader ? "1" : "3"},
                           true);
            ASSERT_GT(looking.pid, 0);
            ASSERT_TRUE(waitStopped(looking.pid, std::chrono::seconds(60))) << "it never looked at it";
            const Ran ran = runCaught(as(writer, {"set", "Second", "2"}));
            EXPECT_EQ(ran.status, 0);
            EXPECT_EQ(ran.err, "");
            kill(looking.pid, SIGCONT);
            const std::string err = drain(looking.err);
            drain(looking.out);
            EXPECT_EQ(waitBounded(looking.pid, std::chrono::seconds(60)), 0) << err;
            EXPECT_EQ(err, "") << "whole at its second look";
            EXPECT_EQ(run({"check", "Third", reader ? "-1" : "3"}), 0);
        } else {
            if (readerFirst) {
                read();
            }
            const Ran ran = runCaught(as(writer, unscanned({"set", "Second", "2"})));
            EXPECT_EQ(ran.status, c.then == Then::Refused ? 5 : 0);
            EXPECT_EQ(ran.err, c.then == Then::Refused    ? readWithout + refused
                               : c.then == Then::Replaced ? readWithout
                                                          : "");
            if (!readerFirst) {
                read();
            }
        }
        if (c.then == Then::Refused) {
            EXPECT_EQ(run({"as", kOwnerUid, "check", "First", "1", "Second", "-1"}), 0);
            EXPECT_EQ(describe(blank), planted) << "left as it is";
            EXPECT_EQ(strayFiles(), std::vector<std::string>{});
            continue;
        }
        EXPECT_EQ(run({"as", kOwnerUid, "check", "First", "1", "Second", "2"}), 0);
        std::string whole(64, '\0');
        {
            std::ifstream in(blank, std::ios::binary);
            whole.resize(static_cast<size_t>(in.read(whole.data(), 64).gcount()));
        }
        // A lock file keeps its length: its counters and mark are written over its first zeros.
        const size_t lockSize = c.zeros == kSecondName ? 32 : std::max<size_t>(32, c.zeros);
        EXPECT_TRUE(isLock
                        ? statOf(blank).st_size == static_cast<off_t>(lockSize) && whole.find("wpreglk") == 16
                        : whole.rfind("wpregj2", 0) == 0)
            << "made whole";
        const struct stat after = statOf(blank);
        EXPECT_EQ(after.st_nlink, 1u);
        if (c.then == Then::Replaced) {
            // A journal of the writer's own, with the file's rights.
            EXPECT_NE(after.st_ino, before.st_ino);
            EXPECT_EQ(after.st_uid, kOwner);
            EXPECT_EQ(after.st_mode & 07777, c.fileMode);
        } else {
            // Root hands it to the file's owner; the owner cannot take another's.
            EXPECT_EQ(after.st_uid, writer == Writer::Root ? kOwner : c.maker);
            EXPECT_EQ(after.st_mode & 07777, before.st_mode & 07777);
        }
        EXPECT_EQ(strayFiles(), std::vector<std::string>{});
    }
}
INSTANTIATE_TEST_SUITE_P(Writers, RegistryNeighbourBlankTest, ::testing::Values(Writer::Root, Writer::Owner),
                         [](const ::testing::TestParamInfo<Writer>& info) {
                             return std::string(info.param == Writer::Root ? "Root" : "Owner");
                         });

// A reader with no lock file it may use looks at the files beside the
// registry again at every check, but at each version of one it cannot use
// once: a blank lock file of its own, which it may not fill, is read through
// for zeros once, and a lock file or a journal of other content is looked
// at once; another version is looked at anew. A writer, about to fill a
// blank lock file under its lock, reads it through again whatever was found
// of it before; one that meets a version refused before refuses it, or
// sets it aside, unopened.
TEST_F(RegistryNeighbourTest, AFileBesideThatCannotBeUsedIsLookedAtOnceForEachVersion) {
    const std::string zeros(size_t{1} << 20, '\0');
    const std::string other = "not a file of this layer's\n";
    struct Case {
        const char* beside;
        std::string first;    // its content; then the same twice over, another version
        const char* counted;  // the looks counted
        LSTATUS change;       // what a change meets
        int changeLooks;      // the looks the change takes
    } const cases[] = {
        {".lock", zeros, "RegistryBesideScan", ERROR_SUCCESS, 1},
        {".lock", other, "RegistryBesideLook", ERROR_ACCESS_DENIED, 0},
        {".journal", other, "RegistryBesideLook", ERROR_SUCCESS, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.beside) + " of " + std::to_string(c.first.size()) + " bytes, " +
                     c.counted);
        unsetenv("WINPLAT_REGISTRY");
        ASSERT_EQ(winplat::registry::reload(), ERROR_SUCCESS);
        for (const auto& e : std::filesystem::directory_iterator(dir_)) {
            std::filesystem::remove(e.path());
        }
        writeBytes(file_, kBase);
        const std::string beside = file_ + c.beside;
        writeBytes(beside, c.first);
        setenv("WINPLAT_REGISTRY", file_.c_str(), 1);
        winplat::inject::reset();
        const auto counted = [&] { return winplat::inject::calls(c.counted); };
        const auto check = [] {
            passOutsideCheckInterval();
            EXPECT_EQ(dwordOf(L"Second"), -1);
        };
        {
            winplat::console::Capture quiet;
            ASSERT_EQ(winplat::registry::reload(), ERROR_SUCCESS);
            EXPECT_EQ(counted(), 1);
            const int64_t opens = winplat::inject::calls("RegistryBesideOpen");
            for (int i = 0; i < 3; ++i) {
                check();
            }
            EXPECT_EQ(counted(), 1) << "looked at again";
            if (std::string(c.counted) == "RegistryBesideScan") {
                EXPECT_EQ(winplat::inject::calls("RegistryBesideOpen"), opens + 3) << "opened at every check";
            }
            writeBytes(beside, c.first + c.first);
            check();
            EXPECT_EQ(counted(), 2) << "another version taken for the one looked at";
            check();
            EXPECT_EQ(counted(), 2);
            // Rewritten in place at the same length, its modification time
            // set back: only its change time tells (the checks above put
            // more than a tick of the file times between the writes).
            std::string again = c.first + c.first;
            again[0] = again[0] == '\0' ? '\0' : 'N';
            const struct stat was = statOf(beside);
            writeBytes(beside, again);
            const struct timespec times[2] = {was.st_atim, was.st_mtim};
            ASSERT_EQ(::utimensat(AT_FDCWD, beside.c_str(), times, 0), 0);
            ASSERT_EQ(statOf(beside).st_ino, was.st_ino);
            ASSERT_EQ(statOf(beside).st_size, was.st_size);
            check();
            EXPECT_EQ(counted(), 3) << "looked at again";
            check();
            EXPECT_EQ(counted(), 3);
        }
        winplat::console::Capture quiet;
        ASSERT_EQ(setDword("Second", 2), c.change);
        EXPECT_EQ(counted(), 3 + c.changeLooks);
        EXPECT_EQ(runCaught({"check", "Second", c.change == ERROR_SUCCESS ? "2" : "-1"}).status, 0);
        if (c.change == ERROR_SUCCESS) {
            const std::string now = readBytes(beside);
            EXPECT_TRUE(std::string(c.beside) == ".lock" ? now.find("wpreglk") == 16
                                                         : now.rfind("wpregj2", 0) == 0)
                << "made whole, or one of this process's own in its place";
        }
    }
}

// A change refused for what the file is makes nothing beside it: root,
// refused a user's file that does not load, a write-only file or a folder
// where the file should be, leaves no lock file that would then lock the
// owner out once the file is mended. A change refused because of a file
// beside the registry, or its folder, says which. A lock file, a journal or
// a registry file made where none stood whose data cannot be put on disk is
// never named, and the change is refused with the reason.
TEST_F(RegistryNeighbourTest, ARefusedChangeMakesNothingAndOneRefusedForAFileBesideSaysSo) {
    NEEDS_ROOT(needsroot::kFileAndProcess);
    enum class Setup {
        BadLine,
        BadLineAfterTheLastLook,
        WriteOnly,
        Folder,
        FolderClosedToAGroupMember,
        RootsLockFile,
        LockFlushFails,
        JournalFlushFails,
        FileFlushFails
    };
    const auto flushFails = [](const char* point, const char* name) {
        return std::vector<std::string>{"at", point, std::to_string(EIO), "0", "set", name, "1"};
    };
    const auto cannotBeMade = [&](const char* what, const char* beside, int error) {
        return "winplat: the registry " + std::string(what) + file_ + beside + " cannot be made in " +
               dir_.string() + " (" + std::strerror(error) + "); changes are refused.\n";
    };
    struct Case {
        const char* name;
        Setup setup;
        std::vector<std::string> change;  // as run, then its status
        int status;
        const char* said;  // the end of what it says (after winplat's first lines, if any); set below for ""
    } const cases[] = {
        {"root, a line that does not load",
         Setup::BadLine,
         {"set", "Root", "1"},
         1,
         "reg_writer: set failed with 1009\n"},
        // Written while the change stood after its last look at the file,
        // which a call trusts for 10 ms.
        {"root, a line that does not load since the change looked",
         Setup::BadLineAfterTheLastLook,
         {"at", "RegistryBeforeChange", std::to_string(SIGSTOP), "0", "set", "Root", "1"},
         1,
         "reg_writer: set failed with 1009\n"},
        {"the owner, a file only written",
         Setup::WriteOnly,
         {"as", kOwnerUid, "set", "Mine", "1"},
         1,
         "reg_writer: set failed with 1012\n"},
        {"root, a folder where the file should be",
         Setup::Folder,
         {"set", "Root", "1"},
         1,
         "reg_writer: set failed with 1012\n"},
        {"a group member, a folder it may not write",
         Setup::FolderClosedToAGroupMember,
         {"as", std::to_string(kThird), "set", "Member", "1"},
         5,
         ""},
        {"the owner, a lock file of root's it may not write",
         Setup::RootsLockFile,
         {"as", kOwnerUid, "set", "Mine", "1"},
         5,
         ""},
        {"root, a new lock file that cannot be flushed", Setup::LockFlushFails,
         flushFails("RegistryFlushBeside", "Root"), 1, ""},
        {"root, a new journal that cannot be flushed", Setup::JournalFlushFails,
         flushFails("RegistryFlushBeside", "Root"), 1, ""},
        {"root, a new registry file that cannot be flushed", Setup::FileFlushFails,
         flushFails("RegistryFlushFile", "Root"), 1, "reg_writer: set failed with 1013\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ownersRegistry(0600, 0755);
        std::string expected = c.said;
        switch (c.setup) {
            case Setup::BadLine:
                writeBytes(file_, kBase + "not a line of a registry\n");
                break;
            case Setup::BadLineAfterTheLastLook:
                break;  // once the change has looked, below
            case Setup::WriteOnly:
                ASSERT_EQ(::chmod(file_.c_str(), 0200), 0);
                break;
            case Setup::Folder:
                std::filesystem::remove(file_);
                ASSERT_EQ(::mkdir(file_.c_str(), 0755), 0);
                ASSERT_EQ(::chown(file_.c_str(), kOwner, kOwner), 0);
                break;
            case Setup::FolderClosedToAGroupMember:
                // Root's change gives the lock file the file's owner and group.
                ASSERT_EQ(::chown(file_.c_str(), kOwner, kThird), 0);
                ASSERT_EQ(::chmod(file_.c_str(), 0660), 0);
                ASSERT_EQ(run({"set", "First", "1"}), 0);
                ASSERT_EQ(::unlink((file_ + ".journal").c_str()), 0);
                expected = cannotBeMade("journal ", ".journal", EACCES);
                break;
            case Setup::LockFlushFails:
                expected = cannotBeMade("lock file ", ".lock", EIO) + "reg_writer: set failed with 1013\n";
                break;
            case Setup::JournalFlushFails:
                ASSERT_EQ(run({"set", "First", "1"}), 0);
                ASSERT_EQ(::unlink((file_ + ".journal").c_str()), 0);
                expected = cannotBeMade("journal ", ".journal", EIO) + "reg_writer: set failed with 1013\n";
                break;
            case Setup::FileFlushFails:
                // A lock file stands; the registry file is yet to be made.
                ASSERT_EQ(run({"set", "First", "1"}), 0);
                for (const char* f : {"", ".journal"}) {
                    ASSERT_EQ(::unlink((file_ + f).c_str()), 0);
                }
                break;
            case Setup::RootsLockFile:
                // Root's, as an earlier build left it beside a file that did not load.
                ASSERT_EQ(run({"set", "First", "1"}), 0);
                ASSERT_EQ(::chown((file_ + ".lock").c_str(), 0, 0), 0);
                ASSERT_EQ(::chmod((file_ + ".lock").c_str(), 0644), 0);
                expected = "winplat: the registry lock file " + file_ + ".lock cannot be written (" +
                           std::strerror(EACCES) + "); changes are refused.\n";
                break;
        }
        Ran ran{};
        Child stopped{};
        if (c.setup == Setup::BadLineAfterTheLastLook) {
            stopped = spawnChild(c.change, true);
            ASSERT_GT(stopped.pid, 0);
            ASSERT_TRUE(waitStopped(stopped.pid, std::chrono::seconds(60))) << "it never made its change";
            writeBytes(file_, kBase + "not a line of a registry\n");
        }
        const std::set<std::string> filesBefore = folderFiles();
        const std::string fileBefore = describe(file_);
        if (c.setup == Setup::BadLineAfterTheLastLook) {
            ::kill(stopped.pid, SIGCONT);
            ran.err = drain(stopped.err);
            drain(stopped.out);
            ran.status = waitBounded(stopped.pid, std::chrono::seconds(60));
        } else {
            ran = runCaught(c.change);
        }
        EXPECT_EQ(ran.status, c.status) << ran.err;
        EXPECT_TRUE(ran.err.size() >= expected.size() &&
                    ran.err.compare(ran.err.size() - expected.size(), expected.size(), expected) == 0)
            << ran.err;
        EXPECT_EQ(folderFiles(), filesBefore);
        EXPECT_EQ(describe(file_), fileBefore);
        if (c.setup == Setup::BadLine || c.setup == Setup::BadLineAfterTheLastLook ||
            c.setup == Setup::WriteOnly) {
            // Mended by its owner, the file takes the owner's changes again.
            writeBytes(file_, kBase);
            ASSERT_EQ(::chmod(file_.c_str(), 0600), 0);
            EXPECT_EQ(run({"as", kOwnerUid, "set", "Mended", "1"}), 0);
            EXPECT_EQ(run({"as", kOwnerUid, "check", "Mended", "1"}), 0);
        }
        std::filesystem::remove_all(file_);
    }
}

// A file shared by two users, 0666 in a folder open to all, is rewritten by
// the second, so it becomes theirs while the journal stays the first's; the
// first's running process sets a value. The second then narrows the file
// and changes a value: the first's journal is trusted by no one now, so its
// records are not read, but they are not destroyed either: set aside in a
// file of their own, said so by the process that set them aside, and by the
// process whose changes they are, at its next call and at its exit, however
// its calls fall around the narrowing and the set-aside. A placeholder of a
// set-aside cut short by a kill does not outlive the next change.
TEST_F(RegistryNeighbourTest, RecordsOfAJournalTrustedByNoOneAreSetAsideAndTheirWriterIsTold) {
    NEEDS_ROOT(needsroot::kFileAndProcess);
    // The first process's calls: one between the narrowing and the
    // set-aside; none between them, its next one right after; or none
    // until root changed a value too, stopped across all of it.
    enum class Calls { Between, NoneBetween, StoppedAcross };
    const char* const names[] = {"a call between the chmod and the set-aside", "no call between them",
                                 "stopped across both"};
    const std::string journal = file_ + ".journal";
    for (const Calls calls : {Calls::Between, Calls::NoneBetween, Calls::StoppedAcross}) {
        SCOPED_TRACE(names[static_cast<int>(calls)]);
        ownersRegistry(0666, 0777);
        ASSERT_EQ(run({"as", kOwnerUid, "set", "First", "1"}), 0);
        ASSERT_EQ(run({"as", kNeighbourUid, "set", "Second", "2"}), 0);
        ASSERT_EQ(statOf(file_).st_uid, kNeighbour);
        ASSERT_EQ(statOf(journal).st_uid, kOwner);

        Scripted first({"as", kOwnerUid});
        ASSERT_EQ(first.ask("set Mine 1").result, 0);
        ASSERT_TRUE(holdsValue(readBytes(journal), "Mine", 1));
        if (calls == Calls::StoppedAcross) {
            ASSERT_EQ(::kill(first.pid(), SIGSTOP), 0);  // idle, between commands: it holds no lock
        }
        ASSERT_EQ(::chmod(file_.c_str(), 0644), 0);
        if (calls == Calls::Between) {
            EXPECT_EQ(first.ask("get First").result, 1);
        }
        const auto setAside = [&] {
            std::vector<std::string> found;
            for (const std::string& f : folderFiles()) {
                if (f.rfind("registry.reg.journal.set-aside.", 0) == 0) {
                    found.push_back((dir_ / f).string());
                }
            }
            return found;
        };
        // Killed between taking the set-aside name and moving the journal
        // there, the second leaves an empty placeholder, which its next
        // change sweeps.
        EXPECT_EQ(run({"as", kNeighbourUid, "at", "RegistrySetAsideMade", "9", "0", "set", "Third", "3"}),
                  128 + SIGKILL);
        const std::vector<std::string> placeholder = setAside();
        ASSERT_EQ(placeholder.size(), 1u);
        EXPECT_EQ(statOf(placeholder[0]).st_size, 0);
        const Ran second = runCaught({"as", kNeighbourUid, "set", "Third", "3"});
        EXPECT_EQ(second.status, 0);
        const std::vector<std::string> found = setAside();
        ASSERT_EQ(found.size(), 1u) << "set aside once, the placeholder swept";
        const std::string aside = found[0];
        EXPECT_NE(aside, placeholder[0]);
        EXPECT_EQ(second.err, "winplat: the registry journal " + journal +
                                  " is trusted by no one (its owner, uid " + kOwnerUid +
                                  ", is neither the file's nor root), so its records were not read; " +
                                  "they are set aside in " + aside + ".\n");
        EXPECT_TRUE(holdsValue(readBytes(aside), "Mine", 1));
        EXPECT_EQ(statOf(aside).st_uid, kOwner);
        EXPECT_FALSE(holdsValue(readBytes(journal), "Mine", 1));
        EXPECT_FALSE(holdsValue(readBytes(file_), "Mine", 1));

        const std::string told =
            "winplat: changes this process made to the registry " + file_ + " were set aside in " + aside +
            " by another process, which does not trust the journal they were written to; they "
            "are not in the registry.\n";
        Scripted::Answer next;
        if (calls == Calls::NoneBetween) {
            next = first.ask("get Mine");
        }
        ASSERT_EQ(setDword("Root", 4), ERROR_SUCCESS);  // a record of root's in the second's journal
        if (calls == Calls::StoppedAcross) {
            ASSERT_EQ(::kill(first.pid(), SIGCONT), 0);
        }
        if (calls != Calls::NoneBetween) {
            next = first.ask("get Mine");
        }
        EXPECT_EQ(next.result, -1) << "it reads what the others read";
        EXPECT_EQ(next.said, told) << "at its next call";
        const Scripted::Answer root = first.ask("get Root");
        EXPECT_EQ(root.result, 4);
        EXPECT_EQ(root.said, "") << "said once";
        EXPECT_EQ(first.end(), 0);
        // At its exit it may not write the file, now the second's alone,
        // with root's record it read; it tells again.
        EXPECT_EQ(first.err(), "winplat: the registry file " + file_ + " could not be rewritten (" +
                                   std::strerror(EACCES) + "); its changes are kept in " + journal +
                                   " and read from there.\n" + told);
        EXPECT_EQ(run({"check", "First", "1", "Second", "2", "Third", "3", "Root", "4", "Mine", "-1"}), 0);
        EXPECT_TRUE(holdsValue(readBytes(aside), "Mine", 1)) << "kept where it was set aside";
    }
}

// The file of one user (A) and the journal of another (B), as a 0666 file
// rewritten by A leaves them; A then narrows the file to 0664, of B's group:
// B's processes may still write the file, but B's journal is trusted by no
// one, and A's next change sets it aside. Processes of B's that hold its
// records and made no call since the chmod are told at their next call, and
// read what A's do from then on: no record of the set-aside journal comes
// back, whatever A changed since, changed back, added or removed.
TEST_F(RegistryNeighbourTest, ANarrowedFilesSetAsideRecordsNeverComeBack) {
    NEEDS_ROOT(needsroot::kFileAndProcess);
    const std::string b = kOwnerUid;                // the journal's owner; the file's group once narrowed
    const std::string a = kNeighbourUid + "+" + b;  // the file's owner, a member of B's group
    struct Case {
        const char* name;
        std::vector<std::string> held;     // B's process P, while the journal is trusted
        bool secondHolder;                 // another process of B's read P's records
        std::vector<std::string> changes;  // A's, after the narrowing: the first sets the journal aside
        bool pExits;                       // P exits rather than make a change
        std::vector<std::pair<std::string, long long>> after;  // what everyone reads at the end
    } const cases[] = {
        {"P removed a key, A set a value in it",
         {"delkey K"},
         false,
         {"set K w 7"},
         false,
         {{"haskey K", 1}, {"get K w", 7}}},
        {"two of B's hold X 1 to 2, A set X 1",
         {"set X 2"},
         true,
         {"set Y 1", "set X 1"},
         false,
         {{"get X", 1}}},
        {"A set X 3, then 1 again", {"set X 2"}, false, {"set X 3", "set X 1"}, false, {{"get X", 1}}},
        {"A set X 3, then 1 again; P exits",
         {"set X 2"},
         false,
         {"set X 3", "set X 1"},
         true,
         {{"get X", 1}}},
        {"P set N, A set it and removed it",
         {"set N 1"},
         false,
         {"set N 5", "del N"},
         false,
         {{"get N", -1}}},
        {"P made a key, A made it and removed it",
         {"mkkey M"},
         false,
         {"mkkey M", "delkey M"},
         false,
         {{"haskey M", 0}}},
        {"A left X alone", {"set X 2"}, false, {"set Y 1"}, false, {{"get X", 1}}},
    };
    const std::string journal = file_ + ".journal";
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ownersRegistry(0666, 0777);
        {
            Scripted first({"as", b});
            ASSERT_EQ(first.ask("set First 1").result, 0);
        }
        {
            // A's rewrite at its exit makes the file A's; the journal stays B's.
            Scripted setup({"as", a});
            ASSERT_EQ(setup.ask("set X 1").result, 0);
            ASSERT_EQ(setup.ask("mkkey K").result, 0);
            ASSERT_EQ(setup.end(), 0);
        }
        ASSERT_EQ(statOf(file_).st_uid, kNeighbour);
        ASSERT_EQ(statOf(journal).st_uid, kOwner);

        Scripted p({"as", b});
        for (const std::string& change : c.held) {
            ASSERT_EQ(p.ask(change).result, 0) << change;
        }
        std::unique_ptr<Scripted> second;
        if (c.secondHolder) {
            second = std::make_unique<Scripted>(std::vector<std::string>{"as", b});
            ASSERT_EQ(second->get("X"), 2);
        }
        // A narrows the file to B's group; B may still write it.
        ASSERT_EQ(::chown(file_.c_str(), kNeighbour, kOwner), 0);
        ASSERT_EQ(::chmod(file_.c_str(), 0664), 0);
        std::string aside;
        {
            Scripted byA({"as", a});
            for (size_t i = 0; i < c.changes.size(); ++i) {
                const Scripted::Answer done = byA.ask(c.changes[i]);
                ASSERT_EQ(done.result, 0) << c.changes[i];
                if (i == 0) {
                    for (const std::string& f : folderFiles()) {
                        if (f.rfind("registry.reg.journal.set-aside.", 0) == 0) {
                            aside = (dir_ / f).string();
                        }
                    }
                    ASSERT_FALSE(aside.empty());
                    EXPECT_EQ(done.said, "winplat: the registry journal " + journal +
                                             " is trusted by no one (its owner, uid " + b +
                                             ", is neither the file's nor root), so its records were not "
                                             "read; they are set aside in " +
                                             aside + ".\n");
                }
                if (c.secondHolder && i == 0) {
                    // P's next change, before A's next.
                    const Scripted::Answer any = p.ask("set Any 1");
                    EXPECT_EQ(any.result, 0);
                    EXPECT_EQ(any.said, "winplat: changes this process made to the registry " + file_ +
                                            " were set aside in " + aside +
                                            " by another process, which does not trust the journal they "
                                            "were written to; they are not in the registry.\n");
                }
            }
            EXPECT_EQ(byA.end(), 0);
            EXPECT_EQ(byA.err(), "");
        }
        const std::string told = "winplat: changes this process made to the registry " + file_ +
                                 " were set aside in " + aside +
                                 " by another process, which does not trust the journal they were written "
                                 "to; they are not in the registry.\n";
        if (c.secondHolder) {
            const Scripted::Answer any = second->ask("set Other 1");
            EXPECT_EQ(any.result, 0);
            EXPECT_EQ(any.said, "winplat: changes this process read from the registry " + file_ +
                                    " were set aside in " + aside +
                                    " by another process, which does not trust the journal they were written "
                                    "to; they are not in the registry.\n");
            EXPECT_EQ(second->end(), 0);
        } else if (!c.pExits) {
            const Scripted::Answer any = p.ask("set Any 1");
            EXPECT_EQ(any.result, 0);
            EXPECT_EQ(any.said, told) << "at its next call";
        }
        if (!c.pExits) {
            for (const auto& [probe, v] : c.after) {
                EXPECT_EQ(p.ask(probe).result, v) << "P reads what A's processes read: " << probe;
            }
        }
        EXPECT_EQ(p.end(), 0);
        EXPECT_EQ(p.err(), told) << "at its exit";
        // Read by a fresh process of each user, and from the file alone.
        for (const std::string& who : {a, b}) {
            Scripted fresh({"as", who});
            for (const auto& [probe, v] : c.after) {
                EXPECT_EQ(fresh.ask(probe).result, v) << "uid " << who << ": " << probe;
            }
        }
        EXPECT_TRUE(std::filesystem::exists(aside)) << "kept where it was set aside";
    }
}

// A process making the journal in place (where the file system cannot
// rename without replacing) holds the lock until it is filled: a reader or
// a writer that arrives meanwhile waits for it and says nothing, whether the
// maker is the owner or a member of the file's group.
TEST_F(RegistryNeighbourTest, AJournalBeingMadeInPlaceIsWaitedForInSilence) {
    NEEDS_ROOT(needsroot::kFileAndProcess);
    const std::string member = std::to_string(kThird);
    for (const std::string& maker : {kOwnerUid, member}) {
        for (const bool writes : {false, true}) {
            SCOPED_TRACE("made by uid " + maker + (writes ? ", a writer waits" : ", a reader waits"));
            ownersRegistry(0660, 0770);
            for (const std::string& f : {file_, dir_.string()}) {
                ASSERT_EQ(::chown(f.c_str(), kOwner, kThird), 0);
            }
            // Root's change keeps the file's group, and gives it the lock file.
            ASSERT_EQ(run({"set", "First", "1"}), 0);
            ASSERT_EQ(::unlink((file_ + ".journal").c_str()), 0);
            const Child making =
                spawnChild({"as", maker, "at", "RegistryBesideMade", std::to_string(SIGSTOP), "0", "fail",
                            "RegistryRenameNoReplace", std::to_string(EINVAL), "set", "Second", "2"},
                           true);
            ASSERT_GT(making.pid, 0);
            ASSERT_TRUE(waitStopped(making.pid, std::chrono::seconds(60)))
                << "it never made the journal: " << drain(making.err);
            ASSERT_EQ(statOf(file_ + ".journal").st_size, 0) << "blank at its name";
            // The owner, a member of the group too: the member's rewrite
            // makes the file the member's.
            const Child waiting = spawnChild({"as", kOwnerUid + "+" + member, writes ? "set" : "check",
                                              writes ? "Third" : "First", writes ? "3" : "1"},
                                             true);
            ASSERT_GT(waiting.pid, 0);
            for (int i = 0; i < 60000 && !endedOrWaitsForALock(waiting.pid); ++i) {
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
            }
            ::kill(making.pid, SIGCONT);
            const std::string makerErr = drain(making.err);
            drain(making.out);
            EXPECT_EQ(waitBounded(making.pid, std::chrono::seconds(60)), 0) << makerErr;
            EXPECT_EQ(makerErr, "");
            const std::string err = drain(waiting.err);
            drain(waiting.out);
            EXPECT_EQ(waitBounded(waiting.pid, std::chrono::seconds(60)), 0) << err;
            EXPECT_EQ(err, "") << "nothing went wrong";
            EXPECT_EQ(run({"check", "First", "1", "Second", "2", "Third", writes ? "3" : "-1"}), 0);
        }
    }
}

// A program that ignores SIGBUS keeps ignoring the one it raises or is
// sent, once the registry's handler for its lock file's mapping is in place.
TEST_F(RegistryNeighbourTest, ASigbusTheProgramIgnoresStaysIgnored) {
    ASSERT_EQ(load(kBase), ERROR_SUCCESS);
    ASSERT_EQ(setDword("First", 1), ERROR_SUCCESS);
    EXPECT_EQ(run({"ignore-sigbus", "set", "Second", "2"}), 0);
    EXPECT_EQ(run({"set", "Third", "3"}), 0);
    EXPECT_EQ(run({"check", "Second", "2"}), 0);
}

}  // namespace
