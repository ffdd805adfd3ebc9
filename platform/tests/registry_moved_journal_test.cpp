// A journal that another process moves from its name while others hold it:
// set aside because it was damaged in place and so held no journal. Every
// process that holds it sees the move at its next call, none writes into the
// file set aside, and every acknowledged change survives, whoever ends first.
#include <fcntl.h>
#include <unistd.h>

#include <cstring>
#include <functional>

#include "registry_children.h"
#include "registry_fixture.h"
#include "winplat/console.h"

using namespace regtest;

namespace {

class RegistryMovedJournalTest : public RegistryTest {
  protected:
    std::vector<std::string> setAsideFiles() const {
        std::vector<std::string> found;
        for (const std::string& f : folderFiles()) {
            if (f.rfind("registry.reg.journal.set-aside.", 0) == 0) {
                found.push_back((dir_ / f).string());
            }
        }
        return found;
    }

    // The registry file holds `name` as the dword `v`, on its own.
    bool fileHolds(const std::string& name, DWORD v) const {
        char text[64];
        std::snprintf(text, sizeof text, "\"%s\"=dword:%08x\n", name.c_str(), static_cast<unsigned>(v));
        return readBytes(file_).find(text) != std::string::npos;
    }
};

// Reads the child's stdout until it says `word` (or ends).
bool saw(int fd, const std::string& word) {
    std::string got;
    char c;
    while (got.find(word) == std::string::npos && ::read(fd, &c, 1) == 1) {
        got.push_back(c);
    }
    return got.find(word) != std::string::npos;
}

TEST_F(RegistryMovedJournalTest, AJournalSetAsideReachesEveryProcessThatHoldsIt) {
    struct Damage {
        const char* name;
        std::function<void(const std::string&)> apply;  // in place: the journal keeps its inode
    } const damages[] = {
        {"a text copied over it",
         [](const std::string& j) {
             writeBytes(j, "Windows Registry Editor Version 5.00\n\n; not a journal\n");
         }},
        {"its header zeroed",
         [](const std::string& j) {
             const int fd = ::open(j.c_str(), O_WRONLY | O_CLOEXEC);
             const std::string zeros(64, '\0');
             ASSERT_EQ(::pwrite(fd, zeros.data(), zeros.size(), 0), 64);
             ::close(fd);
         }},
    };
    // Who ends first once both changed, or that the other ended before this
    // process changed again (its file then lacks this process's change).
    enum class Order { ThisFirst, OtherFirst, OtherBeforeThisChanges };
    const Order orders[] = {Order::ThisFirst, Order::OtherFirst, Order::OtherBeforeThisChanges};
    const std::string journal = file_ + ".journal";

    const std::string madeGood = "winplat: the registry journal " + journal + " was set aside in ";
    for (const Damage& damage : damages) {
        for (const Order order : orders) {
            for (const bool withReader : {false, true}) {
                SCOPED_TRACE(std::string(damage.name) +
                             (order == Order::ThisFirst    ? ", this process ends first"
                              : order == Order::OtherFirst ? ", the other ends first"
                                                           : ", the other ends at once") +
                             (withReader ? ", a reader" : ""));
                for (const std::string& f : folderFiles()) {
                    std::filesystem::remove(dir_ / f);
                }
                ASSERT_EQ(load(kBase), ERROR_SUCCESS);
                // This process's change, acknowledged, in the journal alone.
                ASSERT_EQ(setDword(L"Mine", 1), ERROR_SUCCESS);
                const struct stat held = statOf(journal);
                // A reader that read it, and must keep it while it sees the next.
                Child reader;
                if (withReader) {
                    reader = spawnChild({"await", "Mine", "Theirs"}, true);
                    ASSERT_GT(reader.pid, 0);
                    ASSERT_TRUE(saw(reader.out, "loaded"));
                }

                damage.apply(journal);
                const std::string damaged = readBytes(journal);
                ASSERT_EQ(statOf(journal).st_ino, held.st_ino);

                Child other;
                std::string otherErr;
                if (order == Order::OtherBeforeThisChanges) {
                    const Ran ran = runCaught({"set", "Theirs", "2"});
                    ASSERT_EQ(ran.status, 0) << ran.err;
                    otherErr = ran.err;
                } else {
                    other = spawnChild({"keep", "Theirs", "2"}, true);
                    ASSERT_GT(other.pid, 0);
                    ASSERT_TRUE(saw(other.out, "set"));
                }
                const std::vector<std::string> aside = setAsideFiles();
                ASSERT_EQ(aside.size(), 1u);
                EXPECT_EQ(readBytes(aside[0]), damaged);

                // The reader sees the other's change without losing this one's,
                // and, as it may write, makes this one's good at its exit.
                if (withReader) {
                    const std::string readerErr = drain(reader.err);
                    drain(reader.out);
                    EXPECT_EQ(waitBounded(reader.pid, std::chrono::seconds(60)), 0) << readerErr;
                    EXPECT_EQ(readerErr, madeGood + aside[0] +
                                             " by another process, which did not read it; the changes this "
                                             "process read from it are written into " +
                                             file_ + ".\n");
                    EXPECT_TRUE(fileHolds("Mine", 1) && fileHolds("Theirs", 2));
                    // A later change elsewhere of the value this process
                    // still holds as it made it: its next call keeps that.
                    ASSERT_EQ(run({"set", "Mine", "7"}), 0);
                }
                const DWORD mine = withReader ? 7 : 1;

                std::string err;
                {
                    winplat::console::Capture capture;
                    EXPECT_EQ(dwordOf(L"Theirs"), 2);
                    EXPECT_EQ(dwordOf(L"Mine"), mine);
                    ASSERT_EQ(setDword(L"Later", 3), ERROR_SUCCESS);
                    err = capture.err();
                }
                EXPECT_EQ(err,
                          madeGood + aside[0] +
                              " by another process, which did not read it; the changes this process read "
                              "from it are written into " +
                              file_ + ".\n");
                EXPECT_EQ(readBytes(aside[0]), damaged) << "never written once set aside";
                EXPECT_TRUE(fileHolds("Mine", mine) && fileHolds("Theirs", 2));

                const auto endThis = [&] {
                    winplat::console::Capture capture;
                    unsetenv("WINPLAT_REGISTRY");
                    EXPECT_EQ(winplat::registry::reload(), ERROR_SUCCESS);
                    EXPECT_EQ(capture.err(), "");
                    setenv("WINPLAT_REGISTRY", file_.c_str(), 1);
                };
                const auto endOther = [&] {
                    if (other.pid <= 0) {
                        return;
                    }
                    ASSERT_EQ(run({"set", "Stop", "1"}), 0);
                    otherErr = drain(other.err);
                    drain(other.out);
                    EXPECT_EQ(waitBounded(other.pid, std::chrono::seconds(60)), 0) << otherErr;
                };
                if (order == Order::ThisFirst) {
                    endThis();
                    endOther();
                } else {
                    endOther();
                    endThis();
                }
                // It read without the journal, then set it aside for its change.
                EXPECT_EQ(otherErr,
                          "winplat: the registry journal " + journal +
                              " cannot be read (a file with other content); changes other processes "
                              "made since the file was last written are not seen.\n"
                              "winplat: the registry journal " +
                              journal +
                              " holds no journal (a file with other content); it is set aside, unread, "
                              "in " +
                              aside[0] + ", and a new journal is started.\n");
                // Both ended: the file holds every acknowledged change on its own.
                EXPECT_TRUE(fileHolds("Mine", mine)) << readBytes(file_);
                EXPECT_TRUE(fileHolds("Theirs", 2)) << readBytes(file_);
                EXPECT_TRUE(fileHolds("Later", 3)) << readBytes(file_);
                EXPECT_EQ(readBytes(aside[0]), damaged);
                EXPECT_EQ(setAsideFiles(), aside);
                ASSERT_EQ(winplat::registry::reload(), ERROR_SUCCESS);
            }
        }
    }
}

}  // namespace

// What the process that sets a journal aside says is what it did, and the
// file it named stays where it said, whatever is done to it meanwhile.
TEST_F(RegistryMovedJournalTest, TheSetterSaysWhatItDidAndLeavesTheFileItNamed) {
    const std::string journal = file_ + ".journal";
    const std::string cannotRead =
        "winplat: the registry journal " + journal +
        " cannot be read (a file with other content); changes other processes made "
        "since the file was last written are not seen.\n";
    const std::string holdsNone = "winplat: the registry journal " + journal +
                                  " holds no journal (a file with other content); it is set " +
                                  "aside, unread, in ";
    struct Case {
        const char* name;
        std::vector<std::string> options;  // reg_writer's, before its change
    } const cases[] = {
        {"no new journal can be made", {"fail", "RegistryFlushBeside", std::to_string(EIO)}},
        {"emptied from outside before the setter's sweep", {"at", "RegistryAfterRecord", "19", "0"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        unsetenv("WINPLAT_REGISTRY");
        ASSERT_EQ(winplat::registry::reload(), ERROR_SUCCESS);
        for (const std::string& f : folderFiles()) {
            std::filesystem::remove(dir_ / f);
        }
        writeBytes(file_, kBase);
        setenv("WINPLAT_REGISTRY", file_.c_str(), 1);  // for the other processes alone
        ASSERT_EQ(run({"set", "First", "1"}), 0);
        writeBytes(journal, "not a journal\n");
        std::vector<std::string> args = c.options;
        args.insert(args.end(), {"set", "Second", "2"});
        const Child setter = spawnChild(args, true);
        ASSERT_GT(setter.pid, 0);
        const bool stops = c.options[0] == "at";
        if (stops) {
            ASSERT_TRUE(waitStopped(setter.pid, std::chrono::seconds(60)));
            const std::vector<std::string> aside = setAsideFiles();
            ASSERT_EQ(aside.size(), 1u);
            ASSERT_EQ(::truncate(aside[0].c_str(), 0), 0);
            ::kill(setter.pid, SIGCONT);
        }
        const std::string err = drain(setter.err);
        drain(setter.out);
        const int status = waitBounded(setter.pid, std::chrono::seconds(60));
        const std::vector<std::string> aside = setAsideFiles();
        ASSERT_EQ(aside.size(), 1u) << "the file it named is left where it said";
        if (stops) {
            EXPECT_EQ(status, 0) << err;
            EXPECT_EQ(err, cannotRead + holdsNone + aside[0] + ", and a new journal is started.\n");
            EXPECT_EQ(statOf(aside[0]).st_size, 0);
            EXPECT_EQ(run({"check", "First", "1", "Second", "2"}), 0);
        } else {
            EXPECT_EQ(status, 1) << err;
            EXPECT_EQ(err.substr(0, err.find("reg_writer:")),
                      cannotRead + holdsNone + aside[0] + ".\nwinplat: the registry journal " + journal +
                          " cannot be made in " + dir_.string() + " (" + std::strerror(EIO) +
                          "); changes are refused.\n");
            EXPECT_EQ(readBytes(aside[0]), "not a journal\n");
            EXPECT_FALSE(std::filesystem::exists(journal));
            EXPECT_EQ(run({"check", "First", "1", "Second", "-1"}), 0);
        }
    }
}
