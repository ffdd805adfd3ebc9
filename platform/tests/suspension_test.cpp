// Suspension inside platform calls: a thread suspended again and again while
// it makes one kind of call never keeps another thread from making the same
// kind of call, and two threads that suspend each other can both be resumed.
#include <gtest/gtest.h>
#include <sched.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <string>
#include <thread>

#include "registry_fixture.h"
#include "winplat/com.h"
#include "winplat/files.h"
#include "winplat/kernel.h"
#include "winplat/modules.h"
#include "winplat/text.h"

namespace {

// A call that needs longer than this is taken for a hang.
constexpr int kBoundMs = 10000;
// Suspensions per kind of call; sanitized builds are slower per round.
#if defined(__SANITIZE_THREAD__) || defined(__SANITIZE_ADDRESS__)
constexpr int kRounds = 15;
#else
constexpr int kRounds = 40;
#endif

// Calls a worker makes before the first suspension.
constexpr uint64_t kSettleRounds = 200;

// Runs `op` in a platform thread until told to stop.
struct Worker {
    std::function<void()> op;
    std::atomic<bool> stop{false};
    std::atomic<uint64_t> rounds{0};
    HANDLE handle = nullptr;

    static unsigned run(void* p) {
        auto* w = static_cast<Worker*>(p);
        CoInitializeEx(nullptr, COINIT_MULTITHREADED);
        while (!w->stop.load()) {
            w->op();
            w->rounds.fetch_add(1);
        }
        CoUninitialize();
        return 0;
    }
    void start() { handle = reinterpret_cast<HANDLE>(_beginthreadex(nullptr, 0, run, this, 0, nullptr)); }
    void finish() {
        stop.store(true);
        while (ResumeThread(handle) > 1) {
        }
        EXPECT_EQ(WaitForSingleObject(handle, kBoundMs), WAIT_OBJECT_0);
        CloseHandle(handle);
    }
};

// Frees a call wedged behind a suspended thread by resuming that thread. Its
// own thread is started before anything is suspended: a thread that starts
// while another is stopped inside the allocator would wait for it.
class Watchdog {
  public:
    Watchdog()
        : thread_([this] {
              uint64_t seen = 0;
              for (int waited = 0; !quit_.load(); std::this_thread::sleep_for(std::chrono::milliseconds(1))) {
                  const uint64_t generation = generation_.load();
                  HANDLE target = target_.load();
                  waited = (generation == seen && target != nullptr) ? waited + 1 : 0;
                  seen = generation;
                  if (waited == kBoundMs) {
                      rescued_.store(true);
                      ResumeThread(target);
                  }
              }
          }) {}
    ~Watchdog() {
        quit_.store(true);
        thread_.join();
    }

    // Runs `op` on this thread; false when the watchdog had to resume
    // `suspended` for it to finish.
    bool completesWhileSuspended(const std::function<void()>& op, HANDLE suspended) {
        rescued_.store(false);
        target_.store(suspended);
        generation_.fetch_add(1);
        op();
        target_.store(nullptr);
        generation_.fetch_add(1);
        return !rescued_.load();
    }

  private:
    std::atomic<HANDLE> target_{nullptr};
    std::atomic<uint64_t> generation_{0};
    std::atomic<bool> rescued_{false};
    std::atomic<bool> quit_{false};
    std::thread thread_;
};

class Suspension : public regtest::RegistryTest {};

TEST_F(Suspension, ASuspendedCallNeverBlocksTheSameKindOfCallElsewhere) {
    HKEY key = nullptr;
    ASSERT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, L"Software\\Suspend", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                              &key, nullptr),
              ERROR_SUCCESS);
    ASSERT_EQ(regtest::setString(key, L"v", L"start"), ERROR_SUCCESS);
    const std::wstring file = std::wstring(dir_.wstring()) + L"/scratch.bin";
    HANDLE event = CreateEventW(nullptr, TRUE, TRUE, nullptr);
    const GUID unknownClass{0x12345678, 0x1, 0x2, {1, 2, 3, 4, 5, 6, 7, 8}};
    struct Kind {
        const char* name;
        std::function<void()> op;
    };
    const Kind kinds[] = {
        {"registry read",
         [&] {
             DWORD type = 0, cb = 0;
             RegQueryValueExW(key, L"v", nullptr, &type, nullptr, &cb);
         }},
        {"registry write", [&] { regtest::setString(key, L"w", L"x"); }},
        {"text",
         [] {
             wchar_t out[16];
             MultiByteToWideChar(932, 0, "abc", 3, out, 16);
             WideCharToMultiByte(1252, 0, L"abc", 3, reinterpret_cast<char*>(out), 16, nullptr, nullptr);
         }},
        {"modules",
         [] {
             GetModuleHandleW(L"no-such-module");
             LoadLibraryW(L"no-such-module.dll");
         }},
        {"environment",
         [] {
             wchar_t buf[32];
             SetEnvironmentVariableW(L"WINPLAT_SUSPEND_TEST", L"1");
             GetEnvironmentVariableW(L"WINPLAT_SUSPEND_TEST", buf, 32);
         }},
        {"files",
         [&] {
             HANDLE f = CreateFileW(file.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                    OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
             DWORD written = 0;
             WriteFile(f, "x", 1, &written, nullptr);
             CloseHandle(f);
         }},
        {"COM",
         [&] {
             IUnknown* unknown = nullptr;
             CoCreateInstance(unknownClass, nullptr, CLSCTX_INPROC_SERVER, IID_IUnknown,
                              reinterpret_cast<void**>(&unknown));
         }},
        {"waits",
         [&] {
             SetEvent(event);
             WaitForSingleObject(event, 0);
         }},
    };
    ASSERT_EQ(CoInitializeEx(nullptr, COINIT_MULTITHREADED), S_OK);
    Watchdog watchdog;
    for (const Kind& kind : kinds) {
        SCOPED_TRACE(kind.name);
        Worker worker;
        worker.op = kind.op;
        worker.start();
        ASSERT_NE(worker.handle, nullptr);
        // A new thread's allocator caches are empty, and filling them takes a
        // lock the C library shares between threads (always so under ASan):
        // let the worker settle so a suspension finds it in the platform call,
        // not inside the allocator.
        while (worker.rounds.load() < kSettleRounds) {
            std::this_thread::yield();
        }
        int wedged = 0;
        for (int i = 0; i < kRounds; ++i) {
            const uint64_t before = worker.rounds.load();
            while (worker.rounds.load() == before) {
                std::this_thread::yield();  // suspend it in the middle of a call
            }
            ASSERT_EQ(SuspendThread(worker.handle), 0u);
            wedged += watchdog.completesWhileSuspended(kind.op, worker.handle) ? 0 : 1;
            ResumeThread(worker.handle);
        }
        worker.finish();
        EXPECT_EQ(wedged, 0);
    }
    CoUninitialize();
    CloseHandle(event);
    RegCloseKey(key);
}

struct Pair {
    HANDLE threads[2] = {nullptr, nullptr};
    std::atomic<int> ready{0};
    std::atomic<int> done{0};
};
struct Side {
    Pair* pair;
    int index;
};

unsigned suspendTheOther(void* p) {
    auto* side = static_cast<Side*>(p);
    Pair& pair = *side->pair;
    pair.ready.fetch_add(1);
    while (pair.ready.load() < 2) {
    }
    SuspendThread(pair.threads[1 - side->index]);
    pair.done.fetch_add(1);
    return 0;
}

// Two threads that suspend each other at once end both suspended (unless one
// stopped the other first), and a third thread resumes them. Whether a round
// ends with both stopped is up to the scheduler: rounds go on until one has,
// which takes two processors running the pair at the same moment.
TEST(SuspensionPair, ThreadsSuspendingEachOtherCanBothBeResumed) {
    cpu_set_t allowed;
    ASSERT_EQ(sched_getaffinity(0, sizeof allowed, &allowed), 0);
    const bool pairCanRunAtOnce = CPU_COUNT(&allowed) >= 2;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    int bothStopped = 0;
    for (int round = 0;
         round < 50 || (pairCanRunAtOnce && bothStopped == 0 && std::chrono::steady_clock::now() < deadline);
         ++round) {
        Pair pair;
        Side sides[2] = {{&pair, 0}, {&pair, 1}};
        for (int i = 0; i < 2; ++i) {
            pair.threads[i] = reinterpret_cast<HANDLE>(
                _beginthreadex(nullptr, 0, suspendTheOther, &sides[i], CREATE_SUSPENDED, nullptr));
            ASSERT_NE(pair.threads[i], nullptr);
        }
        ResumeThread(pair.threads[0]);
        ResumeThread(pair.threads[1]);
        int waited = 0;
        while (pair.done.load() < 2) {
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
            ASSERT_LT(++waited, kBoundMs) << "the pair hangs";
            if (waited % 10 == 0) {
                // Each resume returns at once, whatever the pair is doing.
                const bool neitherReturned = pair.done.load() == 0;
                const DWORD counts[2] = {ResumeThread(pair.threads[0]), ResumeThread(pair.threads[1])};
                bothStopped += neitherReturned && counts[0] == 1 && counts[1] == 1 ? 1 : 0;
            }
        }
        for (HANDLE h : pair.threads) {
            while (ResumeThread(h) > 0) {
            }
            EXPECT_EQ(WaitForSingleObject(h, kBoundMs), WAIT_OBJECT_0);
            CloseHandle(h);
        }
    }
    if (!pairCanRunAtOnce) {
        GTEST_SKIP() << "one processor: the pair never suspends each other at once";
    }
    EXPECT_GT(bothStopped, 0);
}

}  // namespace
