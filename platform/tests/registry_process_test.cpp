// The registry file shared with other processes: a writer killed at any
// moment never leaves a file that does not load, and writers in several
// processes lose nothing of each other's.
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstring>
#include <functional>
#include <map>
#include <random>
#include <thread>

#include "registry_children.h"
#include "registry_fixture.h"
#include "winplat/utf16.h"

using namespace regtest;

namespace {

// The round the file holds (0: none yet, or the file cannot be read); the
// writer's changes are seen as soon as they are made.
DWORD roundOnDisk() {
    KeyHolder key;
    DWORD round = 0, cb = sizeof round;
    if (RegOpenKeyExW(HKEY_CURRENT_USER, L"Software\\Crash", 0, KEY_READ, key.out()) != ERROR_SUCCESS ||
        RegQueryValueExW(key, L"Round", nullptr, nullptr, reinterpret_cast<BYTE*>(&round), &cb) !=
            ERROR_SUCCESS) {
        return 0;
    }
    return round;
}

// A writer killed at random moments: the file always loads and holds every
// round written before, and the round in flight whole or not at all.
TEST_F(RegistryTest, WriterKilledAtRandomMomentsLosesNothingWritten) {
#if defined(__SANITIZE_THREAD__) || defined(__SANITIZE_ADDRESS__)
    constexpr int kKills = 25;  // a sanitized writer takes long to start
#else
    constexpr int kKills = 200;
#endif
    int killedWhileWriting = 0;
    DWORD lastRound = 0;
    std::minstd_rand random(12345);
    for (int i = 0; i < kKills; ++i) {
        const pid_t pid = spawnWriter({"loop"});
        ASSERT_GT(pid, 0);
        // Let it reach a new round, however long it takes to start, then
        // kill it a random while later.
        int status = 0;
        while (waitpid(pid, &status, WNOHANG) == 0 && roundOnDisk() <= lastRound) {
            std::this_thread::sleep_for(std::chrono::microseconds(200));
        }
        std::this_thread::sleep_for(std::chrono::microseconds(random() % 2000));
        killedWhileWriting += !strayFiles().empty();
        kill(pid, SIGKILL);
        waitpid(pid, &status, 0);
        ASSERT_TRUE(WIFSIGNALED(status)) << "the writer stopped by itself: " << status;

        ASSERT_EQ(winplat::registry::reload(), ERROR_SUCCESS) << winplat::registry::lastLoadError();
        KeyHolder key;
        ASSERT_EQ(RegOpenKeyExW(HKEY_CURRENT_USER, L"Software\\Crash", 0, KEY_READ, key.out()),
                  ERROR_SUCCESS);
        DWORD type = 0;
        std::vector<BYTE> payload, round;
        ASSERT_EQ(queryRaw(key, L"Payload", type, payload), ERROR_SUCCESS);
        ASSERT_EQ(payload.size(), 32u * 1024u);
        EXPECT_EQ(std::count(payload.begin(), payload.end(), payload[0]), static_cast<long>(payload.size()));
        ASSERT_EQ(queryRaw(key, L"Round", type, round), ERROR_SUCCESS);
        ASSERT_EQ(round.size(), 4u);
        DWORD r;
        std::memcpy(&r, round.data(), 4);
        // "Payload" and "R<r>" of round r are written before "Round" = r.
        EXPECT_TRUE(static_cast<BYTE>(r) == payload[0] || static_cast<BYTE>(r + 1) == payload[0]) << r;
        ASSERT_GT(r, lastRound);
        for (DWORD k = lastRound + 1; k <= r; ++k) {
            DWORD v = 0, cb = sizeof v;
            ASSERT_EQ(RegQueryValueExW(key, (L"R" + std::to_wstring(k)).c_str(), nullptr, nullptr,
                                       reinterpret_cast<BYTE*>(&v), &cb),
                      ERROR_SUCCESS)
                << k;
            ASSERT_EQ(v, k);
        }
        lastRound = r;
    }
    RecordProperty("killed_while_writing", killedWhileWriting);

    // Temporary files left by the killed writers go with the next change,
    // and the journal they left is folded into the file whole.
    ASSERT_EQ(setString(HKEY_CURRENT_USER, L"after", L"crashes"), ERROR_SUCCESS);
    EXPECT_TRUE(strayFiles().empty());
    const std::string text = fileText();
    std::string canonical;
    ASSERT_TRUE(winplat::registry::parseText(text.data(), text.size(), nullptr, &canonical));
    EXPECT_EQ(canonical, winplat::registry::exportText());
    ASSERT_EQ(winplat::registry::reload(), ERROR_SUCCESS);
}

// Four writers and a reader, each killed every 0 to 50 ms and started
// again: no value a writer was told was written is ever lost, and the reader
// never sees a counter go back or vanish. Two of the writers are killed only
// once they have written a value, however slowly they start. WINPLAT_KILL_RUN_SECONDS sets how
// long (3 s unless set), TMPDIR where (a disk or a tmpfs).
TEST_F(RegistryTest, WritersAndAReaderKilledAtRandomLoseNothingAndNeverSeeAValueGoBack) {
    const char* seconds = std::getenv("WINPLAT_KILL_RUN_SECONDS");
    const auto runFor = std::chrono::seconds(seconds ? std::atoi(seconds) : 3);
    constexpr int kWriters = 4;
    ASSERT_EQ(load(kBase), ERROR_SUCCESS);
    struct Slot {
        Child child;
        std::string tag;  // the writer's, "" for the reader
        std::string pending;
        std::chrono::steady_clock::time_point killAt;
        bool waitsForAValue = false;
    };
    std::map<std::string, long long> acked;  // the last i each writer's stdout told of
    std::minstd_rand random(20261210);
    int incarnation = 0;
    int killed = 0;
    const auto start = [&](Slot& slot, bool writer) {
        slot.tag = writer ? "w" + std::to_string(incarnation++) : "";
        slot.child = spawnChild(
            writer ? std::vector<std::string>{"stress", slot.tag} : std::vector<std::string>{"watch"}, true);
        slot.pending.clear();
        slot.killAt = std::chrono::steady_clock::now() + std::chrono::milliseconds(random() % 51);
        if (writer) {
            acked.emplace(slot.tag, -1);
        }
    };
    const auto take = [&](Slot& slot, const char* p, size_t n) {
        slot.pending.append(p, n);
        while (slot.pending.size() >= sizeof(DWORD)) {
            DWORD i;
            std::memcpy(&i, slot.pending.data(), sizeof i);
            acked[slot.tag] = i;
            slot.pending.erase(0, sizeof i);
        }
    };
    // Kills it and takes what it said before: a value it printed was acknowledged.
    const auto end = [&](Slot& slot) {
        kill(slot.child.pid, SIGKILL);
        const std::string out = drain(slot.child.out);
        take(slot, out.data(), out.size());
        const std::string err = drain(slot.child.err);
        const int status = waitBounded(slot.child.pid, std::chrono::seconds(60));
        ++killed;
        return status == 128 + SIGKILL ? std::string()
                                       : (slot.tag.empty() ? "the reader" : slot.tag) + " ended by itself (" +
                                             std::to_string(status) + "): " + err;
    };
    std::vector<Slot> slots(kWriters + 1);
    slots[0].waitsForAValue = slots[1].waitsForAValue = true;
    const auto due = [&](const Slot& slot) {
        return std::chrono::steady_clock::now() >= slot.killAt &&
               (!slot.waitsForAValue || acked[slot.tag] >= 0);
    };
    for (size_t k = 0; k < slots.size(); ++k) {
        start(slots[k], k < kWriters);
    }
    const auto until = std::chrono::steady_clock::now() + runFor;
    std::string failure;
    while (failure.empty() && std::chrono::steady_clock::now() < until) {
        auto next = until;
        std::vector<pollfd> fds;
        for (const Slot& slot : slots) {
            if (!slot.waitsForAValue || acked[slot.tag] >= 0) {
                next = std::min(next, slot.killAt);  // else its first value wakes the poll
            }
            fds.push_back({slot.child.out, POLLIN, 0});
        }
        const auto wait =
            std::chrono::duration_cast<std::chrono::milliseconds>(next - std::chrono::steady_clock::now());
        ::poll(fds.data(), fds.size(), static_cast<int>(std::max<long long>(0, wait.count())));
        for (size_t k = 0; k < slots.size(); ++k) {
            if (fds[k].revents & POLLIN) {
                char buf[4096];
                const ssize_t n = ::read(slots[k].child.out, buf, sizeof buf);
                if (n > 0) {
                    take(slots[k], buf, static_cast<size_t>(n));
                }
            }
            if (due(slots[k])) {
                failure = end(slots[k]);
                start(slots[k], k < kWriters);
            }
        }
    }
    for (Slot& slot : slots) {
        const std::string ended = end(slot);
        failure = failure.empty() ? ended : failure;
    }
    EXPECT_EQ(failure, "");
    RecordProperty("processes_killed", killed);

    ASSERT_EQ(winplat::registry::reload(), ERROR_SUCCESS);
    long long values = 0;
    for (const auto& [tag, last] : acked) {
        if (last >= 0) {
            EXPECT_GE(dwordOf(winplat::utf8ToUtf16("N_" + tag)), last) << tag;
        }
        for (long long i = 0; i <= last; ++i, ++values) {
            ASSERT_EQ(dwordOf(winplat::utf8ToUtf16("V_" + tag + "_" + std::to_string(i))), i) << tag;
        }
    }
    RecordProperty("values_acknowledged", static_cast<int>(values));
    EXPECT_GT(values, 0) << "no writer got as far as one value";
}

// Processes and threads counting, creating keys and deleting their parents
// at once, with file times of a coarse tick: no counter goes back or loses a
// step, and no key created and written is lost.
TEST_F(RegistryTest, ProcessesAndThreadsRacingLoseNothingEvenWithCoarseFileTimes) {
    constexpr int kEach = 120;
    const std::wstring counterNames[] = {L"C", L"D", L"E"};
    const std::string n = std::to_string(kEach);
    const std::vector<std::vector<std::vector<std::string>>> phases = {
        // Files of one size one after the other: only a generation tells them apart.
        {{"count", "C", n}, {"count", "D", n}, {"count", "E", n}},
        // Creators (and two threads here) and a deleter of their parents.
        {{"nest", "A", n}, {"nest", "B", n}, {"prune", std::to_string(4 * kEach)}},
    };
    winplat::inject::arm("RegistryCoarseFileTimes", 2000, -1);
    // A reader sees each counter only go up.
    std::atomic<bool> running{true};
    DWORD seen[3] = {0, 0, 0};
    int rollbacks = 0;
    std::thread reader([&] {
        while (running.load()) {
            KeyHolder k;
            if (RegOpenKeyExW(HKEY_CURRENT_USER, L"Software\\Race\\Counters", 0, KEY_READ, k.out()) !=
                ERROR_SUCCESS) {
                continue;
            }
            for (int c = 0; c < 3; ++c) {
                DWORD v = 0, cb = sizeof v;
                if (RegQueryValueExW(k, counterNames[c].c_str(), nullptr, nullptr,
                                     reinterpret_cast<BYTE*>(&v), &cb) == ERROR_SUCCESS) {
                    rollbacks += v < seen[c];
                    seen[c] = std::max(seen[c], v);
                }
            }
        }
    });
    for (size_t phase = 0; phase < phases.size(); ++phase) {
        std::vector<pid_t> children;
        for (std::vector<std::string> args : phases[phase]) {
            args.insert(args.begin(), "coarse");
            children.push_back(spawnWriter(args));
            ASSERT_GT(children.back(), 0);
        }
        std::vector<std::thread> creators;
        for (const wchar_t* tag : {L"T", L"U"}) {
            creators.emplace_back([tag, phase] {
                for (int i = 0; phase == 1 && i < kEach / 2; ++i) {
                    KeyHolder k;
                    const std::wstring path = L"Software\\Race\\P" + std::to_wstring(i % 4) + L"\\" + tag +
                                              L"_" + std::to_wstring(i);
                    ASSERT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS,
                                              nullptr, k.out(), nullptr),
                              ERROR_SUCCESS);
                    const DWORD v = static_cast<DWORD>(i);
                    ASSERT_EQ(
                        RegSetValueExW(k, L"v", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&v), sizeof v),
                        ERROR_SUCCESS);
                }
            });
        }
        for (pid_t pid : children) {
            EXPECT_EQ(waitBounded(pid, std::chrono::seconds(120)), 0);
        }
        for (std::thread& t : creators) {
            t.join();
        }
    }
    running.store(false);
    reader.join();
    EXPECT_EQ(rollbacks, 0);

    ASSERT_EQ(winplat::registry::reload(), ERROR_SUCCESS);
    KeyHolder counters;
    ASSERT_EQ(RegOpenKeyExW(HKEY_CURRENT_USER, L"Software\\Race\\Counters", 0, KEY_READ, counters.out()),
              ERROR_SUCCESS);
    for (const std::wstring& c : counterNames) {
        DWORD v = 0, cb = sizeof v;
        ASSERT_EQ(RegQueryValueExW(counters, c.c_str(), nullptr, nullptr, reinterpret_cast<BYTE*>(&v), &cb),
                  ERROR_SUCCESS);
        EXPECT_EQ(v, static_cast<DWORD>(kEach));
    }
    int lost = 0;
    for (const auto& [tag, count] :
         {std::pair{L"A", kEach}, {L"B", kEach}, {L"T", kEach / 2}, {L"U", kEach / 2}}) {
        for (int i = 0; i < count; ++i) {
            const std::wstring path =
                L"Software\\Race\\P" + std::to_wstring(i % 4) + L"\\" + tag + L"_" + std::to_wstring(i);
            KeyHolder k;
            DWORD v = 0, cb = sizeof v;
            const bool kept =
                RegOpenKeyExW(HKEY_CURRENT_USER, path.c_str(), 0, KEY_READ, k.out()) == ERROR_SUCCESS &&
                RegQueryValueExW(k, L"v", nullptr, nullptr, reinterpret_cast<BYTE*>(&v), &cb) ==
                    ERROR_SUCCESS &&
                v == static_cast<DWORD>(i);
            lost += !kept;
        }
    }
    EXPECT_EQ(lost, 0);
}

// A writer's changes wait in the journal beside the file: another process
// reads them while the writer runs, and they reach the file itself when the
// writer ends, or, when it was killed, when the next process that wrote ends.
TEST_F(RegistryTest, AWritersJournalIsReadAtOnceAndFoldedInWhenAWriterEnds) {
    constexpr int kValues = 40;
    for (const bool killed : {true, false}) {
        SCOPED_TRACE(killed ? "killed" : "ends");
        const std::string tag = killed ? "K" : "E";
        const pid_t pid = spawnWriter({"hold", tag, std::to_string(kValues)});
        ASSERT_GT(pid, 0);
        const std::wstring wtag(1, static_cast<wchar_t>(tag[0]));
        const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(60);
        DWORD type = 0;
        std::vector<BYTE> data;
        KeyHolder key;
        while (!key.key && RegOpenKeyExW(HKEY_CURRENT_USER, L"Software\\Concurrent", 0, KEY_ALL_ACCESS,
                                         key.out()) != ERROR_SUCCESS) {
            ASSERT_LT(std::chrono::steady_clock::now(), end) << "the writer's key never came";
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        while (queryRaw(key, (wtag + L"_" + std::to_wstring(kValues - 1)).c_str(), type, data) !=
               ERROR_SUCCESS) {
            ASSERT_LT(std::chrono::steady_clock::now(), end) << "the writer's values never came";
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        for (int i = 0; i < kValues; ++i) {
            ASSERT_EQ(queryRaw(key, (wtag + L"_" + std::to_wstring(i)).c_str(), type, data), ERROR_SUCCESS);
            EXPECT_EQ(std::wstring(reinterpret_cast<const WCHAR*>(data.data())),
                      wtag + L":" + std::to_wstring(i));
        }
        const std::string lastInFile = "\"" + tag + "_" + std::to_string(kValues - 1) + "\"";
        EXPECT_EQ(readBytes(file_).find(lastInFile), std::string::npos) << "still in the journal";
        if (killed) {
            kill(pid, SIGKILL);
            EXPECT_EQ(waitBounded(pid, std::chrono::seconds(60)), 128 + SIGKILL);
            EXPECT_EQ(readBytes(file_).find(lastInFile), std::string::npos);
            // The next writer to end takes the killed one's records into the file.
            EXPECT_EQ(waitBounded(spawnWriter({"values", "N", "1"}), std::chrono::seconds(60)), 0);
        } else {
            ASSERT_EQ(setString(key, L"Stop", L"now"), ERROR_SUCCESS);
            EXPECT_EQ(waitBounded(pid, std::chrono::seconds(60)), 0);
        }
        // The file alone, as another program reads it, holds everything.
        const std::string text = readBytes(file_);
        EXPECT_NE(text.find(lastInFile), std::string::npos);
        std::string canonical;
        ASSERT_TRUE(winplat::registry::parseText(text.data(), text.size(), nullptr, &canonical));
        ASSERT_EQ(winplat::registry::reload(), ERROR_SUCCESS);
        EXPECT_EQ(canonical, winplat::registry::exportText());
    }
}

// A journal that a writer killed mid-record, or the disk, damaged keeps the
// records before the damage; the next change and fold go on from there.
TEST_F(RegistryTest, ADamagedJournalKeepsTheRecordsBeforeTheDamage) {
    constexpr int kRecords = 5;
    struct Case {
        const char* name;
        std::function<void(std::string& journal, const std::string& file)> damage;
        int kept;  // records still read
    } const cases[] = {
        {"intact", [](std::string&, const std::string&) {}, kRecords},
        {"junk after the last record",
         [](std::string& j, const std::string&) { j += "junk of a killed writer"; }, kRecords},
        {"the last record cut short", [](std::string& j, const std::string&) { j.resize(j.size() - 5); },
         kRecords - 1},
        {"a byte of the last record changed", [](std::string& j, const std::string&) { j.back() ^= 1; },
         kRecords - 1},
        {"a byte of the first record changed", [](std::string& j, const std::string&) { j[64 + 20] ^= 1; },
         0},
        {"the header changed", [](std::string& j, const std::string&) { j[20] ^= 1; }, 0},
        {"gone", [](std::string& j, const std::string&) { j.clear(); }, 0},
        {"the file touched",
         [](std::string&, const std::string& f) {
             std::filesystem::last_write_time(f,
                                              std::filesystem::last_write_time(f) + std::chrono::seconds(5));
         },
         kRecords},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ASSERT_EQ(load("Windows Registry Editor Version 5.00\n\n[HKEY_CURRENT_USER\\Software\\Concurrent]\n"
                       "\"base\"=\"0\"\n"),
                  ERROR_SUCCESS);
        // Every change goes to the journal beside the file.
        ASSERT_EQ(
            waitBounded(spawnWriter({"leave", "J", std::to_string(kRecords)}), std::chrono::seconds(60)), 0);
        EXPECT_EQ(readBytes(file_).find("\"J_0\""), std::string::npos) << "the records are in the journal";
        std::string bytes = readBytes(file_ + ".journal");
        c.damage(bytes, file_);
        writeBytes(file_ + ".journal", bytes);
        ASSERT_EQ(winplat::registry::reload(), ERROR_SUCCESS);
        KeyHolder key;
        ASSERT_EQ(RegOpenKeyExW(HKEY_CURRENT_USER, L"Software\\Concurrent", 0, KEY_ALL_ACCESS, key.out()),
                  ERROR_SUCCESS);
        for (int round = 0; round < 2; ++round) {
            for (int i = 0; i < kRecords; ++i) {
                DWORD type = 0;
                std::vector<BYTE> data;
                EXPECT_EQ(queryRaw(key, (L"J_" + std::to_wstring(i)).c_str(), type, data),
                          i < c.kept ? ERROR_SUCCESS : ERROR_FILE_NOT_FOUND)
                    << i;
            }
            if (round == 0) {
                ASSERT_EQ(setString(key, L"after", L"damage"), ERROR_SUCCESS);
                // The file once folded holds what this process sees.
                const std::string text = fileText();
                std::string canonical;
                ASSERT_TRUE(winplat::registry::parseText(text.data(), text.size(), nullptr, &canonical));
                EXPECT_EQ(canonical, winplat::registry::exportText());
                ASSERT_EQ(winplat::registry::reload(), ERROR_SUCCESS);
            }
        }
        DWORD type = 0;
        std::vector<BYTE> data;
        EXPECT_EQ(queryRaw(key, L"base", type, data), ERROR_SUCCESS);
        EXPECT_EQ(queryRaw(key, L"after", type, data), ERROR_SUCCESS);
    }
}

TEST_F(RegistryTest, TwoProcessesWritingTogetherLoseNothing) {
    constexpr int kEach = 150;
    const pid_t a = spawnWriter({"values", "A", std::to_string(kEach)});
    const pid_t b = spawnWriter({"values", "B", std::to_string(kEach)});
    ASSERT_GT(a, 0);
    ASSERT_GT(b, 0);
    // This process writes too, through its own tree.
    for (int i = 0; i < 20; ++i) {
        KeyHolder key;
        ASSERT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, L"Software\\Concurrent", 0, nullptr, 0, KEY_ALL_ACCESS,
                                  nullptr, key.out(), nullptr),
                  ERROR_SUCCESS);
        ASSERT_EQ(setString(key, (L"T_" + std::to_wstring(i)).c_str(), L"T"), ERROR_SUCCESS);
    }
    EXPECT_EQ(waitBounded(a, std::chrono::seconds(90)), 0);
    EXPECT_EQ(waitBounded(b, std::chrono::seconds(90)), 0);

    ASSERT_EQ(winplat::registry::reload(), ERROR_SUCCESS);
    KeyHolder key;
    ASSERT_EQ(RegOpenKeyExW(HKEY_CURRENT_USER, L"Software\\Concurrent", 0, KEY_READ, key.out()),
              ERROR_SUCCESS);
    DWORD values = 0;
    ASSERT_EQ(RegQueryInfoKeyW(key, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, &values, nullptr,
                               nullptr, nullptr, nullptr),
              ERROR_SUCCESS);
    EXPECT_EQ(values, static_cast<DWORD>(2 * kEach + 20))
        << "seen:\n"
        << winplat::registry::exportKey(HKEY_CURRENT_USER, L"Software\\Concurrent");
    for (const char* tag : {"A", "B"}) {
        for (int i = 0; i < kEach; ++i) {
            const std::wstring name = std::wstring(1, tag[0]) + L"_" + std::to_wstring(i);
            const std::wstring expected = std::wstring(1, tag[0]) + L":" + std::to_wstring(i);
            DWORD type = 0;
            std::vector<BYTE> data;
            ASSERT_EQ(queryRaw(key, name.c_str(), type, data), ERROR_SUCCESS) << tag << i;
            EXPECT_EQ(std::wstring(reinterpret_cast<const WCHAR*>(data.data())), expected);
        }
    }
}

}  // namespace
