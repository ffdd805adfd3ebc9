// A journal that another process moves from its name while others hold it:
// set aside because it was damaged in place and so held no journal. Every
// process that holds it sees the move at its next call, none writes into the
// file set aside, and no record of it comes back into the registry.
#include <fcntl.h>
#include <unistd.h>

#include <cstring>
#include <functional>
#include <memory>

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

// Every holder of a journal damaged in place sees its move at its next call:
// it is told its changes were set aside, and where, and from then on reads
// what every other process reads; no one writes them back over later
// changes, whoever ends first or is killed.
TEST_F(RegistryMovedJournalTest, AJournalSetAsideIsLeftThereAndEveryHolderIsTold) {
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
    // How the holder and the other end, once the other changed: the holder
    // first, the other first, the other before the holder's next change, or
    // the holder killed before it.
    enum class Order { HolderFirst, OtherFirst, OtherBeforeHolderChanges, HolderKilled };
    const char* const orderNames[] = {"the holder ends first", "the other ends first",
                                      "the other ends before the holder changes", "the holder is killed"};
    const std::string journal = file_ + ".journal";
    const std::string cannotRead = "winplat: the registry journal " + journal +
                                   " cannot be read (a file with other content); changes other processes "
                                   "made since the file was last written are not seen.\n";
    const auto told = [&](const char* how, const std::string& aside) {
        return "winplat: changes this process " + std::string(how) + " the registry " + file_ +
               " were set aside in " + aside +
               " by another process, which found the journal they were written to damaged; they are not in "
               "the registry.\n";
    };
    unsetenv("WINPLAT_REGISTRY");
    ASSERT_EQ(winplat::registry::reload(), ERROR_SUCCESS);
    setenv("WINPLAT_REGISTRY", file_.c_str(), 1);  // for the other processes alone
    for (const Damage& damage : damages) {
        for (const Order order :
             {Order::HolderFirst, Order::OtherFirst, Order::OtherBeforeHolderChanges, Order::HolderKilled}) {
            for (const bool withReader : {false, true}) {
                SCOPED_TRACE(std::string(damage.name) + ", " + orderNames[static_cast<int>(order)] +
                             (withReader ? ", a reader" : ""));
                for (const std::string& f : folderFiles()) {
                    std::filesystem::remove(dir_ / f);
                }
                writeBytes(file_, kBase + "\"X\"=dword:00000001\n");
                // The holder's changes, acknowledged, in the journal alone.
                Scripted holder;
                ASSERT_EQ(holder.ask("set Mine 1").result, 0);
                ASSERT_EQ(holder.ask("set X 2").result, 0);
                const struct stat held = statOf(journal);
                // A reader that read them.
                std::unique_ptr<Scripted> reader;
                if (withReader) {
                    reader = std::make_unique<Scripted>();
                    ASSERT_EQ(reader->get("Mine"), 1);
                    ASSERT_EQ(reader->get("X"), 2);
                }

                damage.apply(journal);
                const std::string damaged = readBytes(journal);
                ASSERT_EQ(statOf(journal).st_ino, held.st_ino);

                // The other reads without the journal and sets it aside for
                // its change; then changes X and changes it back.
                Scripted other;
                const Scripted::Answer theirs = other.ask("set Theirs 2");
                ASSERT_EQ(theirs.result, 0) << theirs.said;
                const std::vector<std::string> aside = setAsideFiles();
                ASSERT_EQ(aside.size(), 1u);
                EXPECT_EQ(theirs.said, cannotRead + "winplat: the registry journal " + journal +
                                           " holds no journal (a file with other content); it is set aside, "
                                           "unread, in " +
                                           aside[0] + ", and a new journal is started.\n");
                EXPECT_EQ(other.ask("set X 3").said, "");
                EXPECT_EQ(other.ask("set X 1").said, "");
                if (order == Order::OtherBeforeHolderChanges) {
                    EXPECT_EQ(other.end(), 0);
                    EXPECT_EQ(other.err(), "");
                }
                EXPECT_EQ(readBytes(aside[0]), damaged);

                if (withReader) {
                    const Scripted::Answer x = reader->ask("get X");
                    EXPECT_EQ(x.result, 1) << "the reader reads what others read";
                    EXPECT_EQ(x.said, told("read from", aside[0]));
                    EXPECT_EQ(reader->get("Mine"), -1);
                    EXPECT_EQ(reader->get("Theirs"), 2);
                    // It says so again at its exit, and writes nothing:
                    // it made no change.
                    const std::string file = readBytes(file_);
                    EXPECT_EQ(reader->end(), 0);
                    EXPECT_EQ(reader->err(), told("read from", aside[0]));
                    EXPECT_EQ(readBytes(file_), file);
                }
                if (order == Order::HolderKilled) {
                    ::kill(holder.pid(), SIGKILL);
                    EXPECT_EQ(holder.end(), 128 + SIGKILL);
                } else {
                    const Scripted::Answer later = holder.ask("set Later 3");
                    EXPECT_EQ(later.result, 0);
                    EXPECT_EQ(later.said, told("made to", aside[0]));
                    EXPECT_EQ(holder.get("X"), 1) << "the later acknowledged change wins";
                    EXPECT_EQ(holder.get("Mine"), -1);
                    EXPECT_EQ(holder.get("Theirs"), 2);
                }
                const auto endHolder = [&] {
                    if (order != Order::HolderKilled) {
                        EXPECT_EQ(holder.end(), 0);
                        EXPECT_EQ(holder.err(), told("made to", aside[0])) << "said again at its exit";
                    }
                };
                const auto endOther = [&] {
                    if (order != Order::OtherBeforeHolderChanges) {
                        EXPECT_EQ(other.end(), 0);
                        EXPECT_EQ(other.err(), "");
                    }
                };
                if (order == Order::OtherFirst) {
                    endOther();
                    endHolder();
                } else {
                    endHolder();
                    endOther();
                }
                // All ended: the file holds on its own what was acknowledged
                // outside the set-aside journal, and nothing of it.
                const std::string later = order == Order::HolderKilled ? "-1" : "3";
                EXPECT_EQ(run({"check", "X", "1", "Theirs", "2", "Mine", "-1", "Later", later}), 0);
                EXPECT_TRUE(fileHolds("X", 1)) << readBytes(file_);
                EXPECT_TRUE(fileHolds("Theirs", 2)) << readBytes(file_);
                EXPECT_EQ(readBytes(file_).find("Mine"), std::string::npos) << readBytes(file_);
                EXPECT_EQ(readBytes(aside[0]), damaged) << "never written once set aside";
                EXPECT_EQ(setAsideFiles(), aside);
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
        // Killed before its exit: its change is in the journal alone, and a
        // reader holds it.
        ASSERT_EQ(run({"at", "RegistryAtExit", std::to_string(SIGKILL), "0", "set", "Held", "1"}),
                  128 + SIGKILL);
        Scripted reader;
        ASSERT_EQ(reader.get("Held"), 1);
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
        // Whether the setter's change went through or not, the reader is
        // told, and reads what the others read.
        const Scripted::Answer held = reader.ask("get Held");
        EXPECT_EQ(held.result, -1);
        EXPECT_EQ(held.said,
                  "winplat: changes this process read from the registry " + file_ + " were set aside in " +
                      aside[0] +
                      " by another process, which found the journal they were written to damaged; they "
                      "are not in the registry.\n");
        EXPECT_EQ(reader.end(), 0);
        if (stops) {
            EXPECT_EQ(status, 0) << err;
            EXPECT_EQ(err, cannotRead + holdsNone + aside[0] + ", and a new journal is started.\n");
            EXPECT_EQ(statOf(aside[0]).st_size, 0);
            EXPECT_EQ(run({"check", "First", "1", "Second", "2", "Held", "-1"}), 0);
        } else {
            EXPECT_EQ(status, 1) << err;
            EXPECT_EQ(err.substr(0, err.find("reg_writer:")),
                      cannotRead + holdsNone + aside[0] + ".\nwinplat: the registry journal " + journal +
                          " cannot be made in " + dir_.string() + " (" + std::strerror(EIO) +
                          "); changes are refused.\n");
            EXPECT_EQ(readBytes(aside[0]), "not a journal\n");
            EXPECT_FALSE(std::filesystem::exists(journal));
            EXPECT_EQ(run({"check", "First", "1", "Second", "-1", "Held", "-1"}), 0);
        }
    }
}
