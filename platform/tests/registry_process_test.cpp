// The registry file shared with other processes: a writer killed mid-write
// never leaves a file that does not load, and writers in two processes lose
// nothing of each other's.
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <thread>

#include "registry_fixture.h"

extern char** environ;

using namespace regtest;

namespace {

const std::string kWriter = std::string(WINPLAT_HELPER_DIR) + "/winplat_reg_writer";

pid_t spawnWriter(std::vector<std::string> args) {
    args.insert(args.begin(), kWriter);
    std::vector<char*> argv;
    for (std::string& a : args) {
        argv.push_back(a.data());
    }
    argv.push_back(nullptr);
    pid_t pid = -1;
    if (posix_spawn(&pid, kWriter.c_str(), nullptr, nullptr, argv.data(), environ) != 0) {
        return -1;
    }
    return pid;
}

// The child's exit status, or -1 when it has not ended within the bound
// (it is then killed).
int waitBounded(pid_t pid, std::chrono::seconds bound) {
    const auto end = std::chrono::steady_clock::now() + bound;
    int status = 0;
    while (waitpid(pid, &status, WNOHANG) == 0) {
        if (std::chrono::steady_clock::now() > end) {
            kill(pid, SIGKILL);
            waitpid(pid, &status, 0);
            return -1;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

// The round the file holds (0: none yet, or the file cannot be read).
DWORD roundOnDisk() {
    if (winplat::registry::reload() != ERROR_SUCCESS) {
        return 0;
    }
    KeyHolder key;
    DWORD round = 0, cb = sizeof round;
    if (RegOpenKeyExW(HKEY_CURRENT_USER, L"Software\\Crash", 0, KEY_READ, key.out()) != ERROR_SUCCESS ||
        RegQueryValueExW(key, L"Round", nullptr, nullptr, reinterpret_cast<BYTE*>(&round), &cb) !=
            ERROR_SUCCESS) {
        return 0;
    }
    return round;
}

TEST_F(RegistryTest, WriterKilledMidWriteLeavesAFileThatLoads) {
    constexpr int kRounds = 15;
    int killedWhileWriting = 0;
    DWORD lastRound = 0;
    for (int i = 0; i < kRounds; ++i) {
        const pid_t pid = spawnWriter({"loop"});
        ASSERT_GT(pid, 0);
        // Wait for a new round to be on disk, then for the writer to be in the
        // middle of its next file (its temporary file exists), and kill it.
        const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(20);
        bool writing = false;
        int status = 0;
        while (std::chrono::steady_clock::now() < end && waitpid(pid, &status, WNOHANG) == 0 &&
               roundOnDisk() <= lastRound) {
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        while (std::chrono::steady_clock::now() < end && !writing) {
            writing = !strayFiles().empty();
        }
        kill(pid, SIGKILL);
        waitpid(pid, &status, 0);
        ASSERT_TRUE(WIFSIGNALED(status)) << "the writer stopped by itself: " << status;
        killedWhileWriting += writing;

        // Whatever the moment, the file loads and holds whole values.
        ASSERT_EQ(winplat::registry::reload(), ERROR_SUCCESS) << winplat::registry::lastLoadError();
        KeyHolder key;
        ASSERT_EQ(RegOpenKeyExW(HKEY_CURRENT_USER, L"Software\\Crash", 0, KEY_READ, key.out()),
                  ERROR_SUCCESS);
        DWORD type = 0;
        std::vector<BYTE> payload, round;
        ASSERT_EQ(queryRaw(key, L"Payload", type, payload), ERROR_SUCCESS);
        ASSERT_EQ(payload.size(), 256u * 1024u);
        EXPECT_EQ(std::count(payload.begin(), payload.end(), payload[0]), static_cast<long>(payload.size()));
        ASSERT_EQ(queryRaw(key, L"Round", type, round), ERROR_SUCCESS);
        ASSERT_EQ(round.size(), 4u);
        DWORD r;
        std::memcpy(&r, round.data(), 4);
        // "Payload" of round r is written before "Round" = r.
        EXPECT_TRUE(static_cast<BYTE>(r) == payload[0] || static_cast<BYTE>(r + 1) == payload[0]) << r;
        EXPECT_GT(r, lastRound);
        lastRound = r;
    }
    RecordProperty("killed_while_writing", killedWhileWriting);

    // Temporary files left by the killed writers go with the next change.
    ASSERT_EQ(setString(HKEY_CURRENT_USER, L"after", L"crashes"), ERROR_SUCCESS);
    EXPECT_TRUE(strayFiles().empty());
    ASSERT_EQ(winplat::registry::reload(), ERROR_SUCCESS);
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
    EXPECT_EQ(values, static_cast<DWORD>(2 * kEach + 20));
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
