// Threads: creation, suspended start, counted suspend of a running thread,
// exit codes, ids, priorities, names, ExitThread and injected failures.
#include <gtest/gtest.h>
#include <pthread.h>

#include <atomic>
#include <cstring>
#include <thread>

#include "winplat/inject.h"
#include "winplat/kernel.h"

namespace {

// Bounded wait for tests: a hang fails the test instead of the run.
constexpr DWORD kBound = 20000;

#if defined(__SANITIZE_THREAD__)
constexpr bool kTsan = true;
#elif defined(__has_feature)
#if __has_feature(thread_sanitizer)
constexpr bool kTsan = true;
#else
constexpr bool kTsan = false;
#endif
#else
constexpr bool kTsan = false;
#endif

struct Counter {
    std::atomic<uint64_t> count{0};
    std::atomic<bool> stop{false};
    std::atomic<DWORD> seenId{0};
};

unsigned countUntilStopped(void* p) {
    auto* c = static_cast<Counter*>(p);
    c->seenId.store(GetCurrentThreadId());
    while (!c->stop.load()) {
        c->count.fetch_add(1);
    }
    return 7;
}

// Waits (bounded) until the counter has moved past `from`.
bool advancesFrom(const Counter& c, uint64_t from) {
    for (int i = 0; i < 20000; ++i) {
        if (c.count.load() > from + 1000) {
            return true;
        }
        Sleep(1);
    }
    return false;
}

// True when the counter stands still over `rounds` yields and short sleeps.
bool standsStill(const Counter& c, int rounds = 50) {
    const uint64_t at = c.count.load();
    for (int i = 0; i < rounds; ++i) {
        Sleep(1);
        if (c.count.load() != at) {
            return false;
        }
    }
    return true;
}

HANDLE startCounter(Counter& c, unsigned flags, unsigned* id) {
    return reinterpret_cast<HANDLE>(_beginthreadex(nullptr, 0, countUntilStopped, &c, flags, id));
}

void finishCounter(Counter& c, HANDLE h) {
    c.stop.store(true);
    ASSERT_EQ(WaitForSingleObject(h, kBound), WAIT_OBJECT_0);
    DWORD code = 0;
    EXPECT_TRUE(GetExitCodeThread(h, &code));
    EXPECT_EQ(code, 7u);
    EXPECT_TRUE(CloseHandle(h));
}

TEST(KernelThread, HandleIsSignalledAtTheEndAndCarriesTheExitCode) {
    Counter c;
    unsigned id = 0;
    HANDLE h = startCounter(c, 0, &id);
    ASSERT_NE(h, nullptr);
    ASSERT_TRUE(advancesFrom(c, 0));
    DWORD code = 0;
    EXPECT_TRUE(GetExitCodeThread(h, &code));
    EXPECT_EQ(code, STILL_ACTIVE);
    EXPECT_EQ(WaitForSingleObject(h, 0), WAIT_TIMEOUT);
    finishCounter(c, h);
    // The id the creator got is the one the thread saw.
    EXPECT_EQ(c.seenId.load(), id);
    EXPECT_NE(id, GetCurrentThreadId());
}

TEST(KernelThread, CreatedSuspendedRunsNothingUntilTheCountReachesZero) {
    Counter c;
    unsigned id = 0;
    HANDLE h = startCounter(c, CREATE_SUSPENDED, &id);
    ASSERT_NE(h, nullptr);
    EXPECT_NE(id, 0u);
    EXPECT_EQ(SuspendThread(h), 1u);  // count 2
    EXPECT_EQ(ResumeThread(h), 2u);   // count 1: still held
    EXPECT_TRUE(standsStill(c));
    EXPECT_EQ(c.seenId.load(), 0u);
    EXPECT_EQ(ResumeThread(h), 1u);  // count 0: runs
    ASSERT_TRUE(advancesFrom(c, 0));
    EXPECT_EQ(ResumeThread(h), 0u);  // not suspended: nothing changes
    finishCounter(c, h);
    EXPECT_EQ(c.seenId.load(), id);
}

TEST(KernelThread, SuspendStopsARunningThreadAndResumeRestartsIt) {
    Counter c;
    HANDLE h = startCounter(c, 0, nullptr);
    ASSERT_NE(h, nullptr);
    ASSERT_TRUE(advancesFrom(c, 0));
    for (int round = 0; round < 3; ++round) {
        EXPECT_EQ(SuspendThread(h), 0u);
        EXPECT_TRUE(standsStill(c));
        EXPECT_EQ(ResumeThread(h), 1u);
        ASSERT_TRUE(advancesFrom(c, c.count.load()));
    }
    finishCounter(c, h);
}

TEST(KernelThread, SuspendCountsNest) {
    Counter c;
    HANDLE h = startCounter(c, 0, nullptr);
    ASSERT_NE(h, nullptr);
    ASSERT_TRUE(advancesFrom(c, 0));
    EXPECT_EQ(SuspendThread(h), 0u);
    EXPECT_EQ(SuspendThread(h), 1u);
    EXPECT_EQ(ResumeThread(h), 2u);
    EXPECT_TRUE(standsStill(c));  // one suspend still holds it
    EXPECT_EQ(ResumeThread(h), 1u);
    ASSERT_TRUE(advancesFrom(c, c.count.load()));
    finishCounter(c, h);
}

unsigned waitOnEvent(void* p) {
    return WaitForSingleObject(static_cast<HANDLE>(p), INFINITE) == WAIT_OBJECT_0 ? 3 : 4;
}

TEST(KernelThread, ASuspendedThreadDoesNotEndAndHoldsNoPlatformLock) {
    HANDLE event = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    ASSERT_NE(event, nullptr);
    HANDLE h = reinterpret_cast<HANDLE>(_beginthreadex(nullptr, 0, waitOnEvent, event, 0, nullptr));
    ASSERT_NE(h, nullptr);
    EXPECT_EQ(SuspendThread(h), 0u);  // stops it inside its wait
    // The platform stays usable by others while it is stopped.
    EXPECT_TRUE(SetEvent(event));
    EXPECT_EQ(WaitForSingleObject(event, 0), WAIT_OBJECT_0);
    EXPECT_EQ(WaitForSingleObject(h, 30), WAIT_TIMEOUT);
    EXPECT_EQ(ResumeThread(h), 1u);
    ASSERT_EQ(WaitForSingleObject(h, kBound), WAIT_OBJECT_0);
    DWORD code = 0;
    EXPECT_TRUE(GetExitCodeThread(h, &code));
    EXPECT_EQ(code, 3u);
    EXPECT_EQ(SuspendThread(h), static_cast<DWORD>(-1));  // it has ended
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
    CloseHandle(h);
    CloseHandle(event);
}

struct Contender {
    CRITICAL_SECTION cs;
    std::atomic<int> stage{0};
};

unsigned enterAndCount(void* p) {
    auto* c = static_cast<Contender*>(p);
    c->stage.store(1);
    EnterCriticalSection(&c->cs);
    c->stage.store(2);
    LeaveCriticalSection(&c->cs);
    return 0;
}

// A thread blocked on a lock that its suspender holds is stopped too, and
// stays stopped when the lock comes free.
TEST(KernelThread, SuspendAThreadBlockedOnACriticalSection) {
    Contender c;
    InitializeCriticalSection(&c.cs);
    EnterCriticalSection(&c.cs);
    HANDLE h = reinterpret_cast<HANDLE>(_beginthreadex(nullptr, 0, enterAndCount, &c, 0, nullptr));
    ASSERT_NE(h, nullptr);
    // Suspended only once it is queued on the lock (held with waiters).
    while (__atomic_load_n(&c.cs.LockCount, __ATOMIC_ACQUIRE) != 2) {
        Sleep(1);
    }
    EXPECT_EQ(c.stage.load(), 1);
    EXPECT_EQ(SuspendThread(h), 0u);
    LeaveCriticalSection(&c.cs);
    EXPECT_EQ(WaitForSingleObject(h, 30), WAIT_TIMEOUT);
    EXPECT_EQ(c.stage.load(), 1);
    EXPECT_EQ(ResumeThread(h), 1u);
    ASSERT_EQ(WaitForSingleObject(h, kBound), WAIT_OBJECT_0);
    EXPECT_EQ(c.stage.load(), 2);
    CloseHandle(h);
    DeleteCriticalSection(&c.cs);
}

struct SelfSuspend {
    std::atomic<int> stage{0};
};

unsigned suspendSelf(void* p) {
    auto* s = static_cast<SelfSuspend*>(p);
    s->stage.store(1);
    const DWORD previous = SuspendThread(GetCurrentThread());
    s->stage.store(2);
    return previous;
}

TEST(KernelThread, AThreadCanSuspendItself) {
    SelfSuspend s;
    HANDLE h = reinterpret_cast<HANDLE>(_beginthreadex(nullptr, 0, suspendSelf, &s, 0, nullptr));
    ASSERT_NE(h, nullptr);
    // Resume until the count it took is given back (it may not have
    // suspended itself yet at the first tries).
    DWORD previous = 0;
    for (int i = 0; i < 20000 && previous == 0; ++i) {
        previous = ResumeThread(h);
        if (previous == 0) {
            Sleep(1);
        }
    }
    EXPECT_EQ(previous, 1u);
    ASSERT_EQ(WaitForSingleObject(h, kBound), WAIT_OBJECT_0);
    EXPECT_EQ(s.stage.load(), 2);
    DWORD code = 99;
    EXPECT_TRUE(GetExitCodeThread(h, &code));
    EXPECT_EQ(code, 0u);
    CloseHandle(h);
}

unsigned stressBody(void* p) {
    auto* c = static_cast<Counter*>(p);
    for (int i = 0; i < 2000 && !c->stop.load(); ++i) {
        c->count.fetch_add(1);
        HANDLE e = CreateEventW(nullptr, FALSE, TRUE, nullptr);  // platform locks too
        WaitForSingleObject(e, 0);
        CloseHandle(e);
    }
    return 5;
}

// Suspends racing with the end of the thread: every SuspendThread either
// stops the thread or fails because it has ended; the handle is signalled
// only once no suspend holds it.
TEST(KernelThread, SuspendRacingWithTheEndOfTheThread) {
    for (int round = 0; round < (kTsan ? 10 : 50); ++round) {
        Counter c;
        HANDLE h = reinterpret_cast<HANDLE>(_beginthreadex(nullptr, 0, stressBody, &c, 0, nullptr));
        ASSERT_NE(h, nullptr);
        for (;;) {
            const DWORD previous = SuspendThread(h);
            if (previous == static_cast<DWORD>(-1)) {
                break;
            }
            ASSERT_EQ(previous, 0u);
            const uint64_t at = c.count.load();
            EXPECT_EQ(c.count.load(), at);
            EXPECT_EQ(WaitForSingleObject(h, 0), WAIT_TIMEOUT);
            ASSERT_EQ(ResumeThread(h), 1u);
        }
        ASSERT_EQ(WaitForSingleObject(h, kBound), WAIT_OBJECT_0);
        DWORD code = 0;
        EXPECT_TRUE(GetExitCodeThread(h, &code));
        EXPECT_EQ(code, 5u);
        CloseHandle(h);
    }
}

TEST(KernelThread, DuplicateKeepsTheThreadObjectAfterTheOriginalIsClosed) {
    Counter c;
    HANDLE h = startCounter(c, 0, nullptr);
    ASSERT_NE(h, nullptr);
    HANDLE dup = nullptr;
    ASSERT_TRUE(
        DuplicateHandle(GetCurrentProcess(), h, GetCurrentProcess(), &dup, 0, FALSE, DUPLICATE_SAME_ACCESS));
    ASSERT_NE(dup, h);
    EXPECT_TRUE(CloseHandle(h));
    c.stop.store(true);
    ASSERT_EQ(WaitForSingleObject(dup, kBound), WAIT_OBJECT_0);
    DWORD code = 0;
    EXPECT_TRUE(GetExitCodeThread(dup, &code));
    EXPECT_EQ(code, 7u);
    EXPECT_FALSE(GetExitCodeThread(h, &code));  // the closed one is gone
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
    EXPECT_TRUE(CloseHandle(dup));
}

TEST(KernelThread, PriorityIsStoredAndReported) {
    Counter c;
    HANDLE h = startCounter(c, CREATE_SUSPENDED, nullptr);
    ASSERT_NE(h, nullptr);
    EXPECT_EQ(GetThreadPriority(h), THREAD_PRIORITY_NORMAL);
    EXPECT_TRUE(SetThreadPriority(h, THREAD_PRIORITY_HIGHEST));
    EXPECT_EQ(GetThreadPriority(h), THREAD_PRIORITY_HIGHEST);
    EXPECT_TRUE(SetThreadPriority(h, THREAD_PRIORITY_IDLE));
    EXPECT_EQ(GetThreadPriority(h), THREAD_PRIORITY_IDLE);
    EXPECT_FALSE(SetThreadPriority(h, 7));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
    EXPECT_EQ(GetThreadPriority(h), THREAD_PRIORITY_IDLE);
    EXPECT_EQ(GetThreadPriority(nullptr), THREAD_PRIORITY_ERROR_RETURN);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
    ResumeThread(h);
    finishCounter(c, h);
}

unsigned exitEarly(void* p) {
    *static_cast<int*>(p) = 1;
    ExitThread(42);
}

TEST(KernelThread, ExitThreadEndsTheThreadWithItsCode) {
    int reached = 0;
    HANDLE h = reinterpret_cast<HANDLE>(_beginthreadex(nullptr, 0, exitEarly, &reached, 0, nullptr));
    ASSERT_NE(h, nullptr);
    ASSERT_EQ(WaitForSingleObject(h, kBound), WAIT_OBJECT_0);
    DWORD code = 0;
    EXPECT_TRUE(GetExitCodeThread(h, &code));
    EXPECT_EQ(code, 42u);
    EXPECT_EQ(reached, 1);
    CloseHandle(h);
}

TEST(KernelThread, CurrentThreadHandleOfAForeignThreadIsSignalledWhenItEnds) {
    HANDLE dup = nullptr;
    DWORD id = 0;
    std::thread t([&] {
        id = GetCurrentThreadId();
        DuplicateHandle(GetCurrentProcess(), GetCurrentThread(), GetCurrentProcess(), &dup, 0, FALSE,
                        DUPLICATE_SAME_ACCESS);
        EXPECT_TRUE(SetThreadPriority(GetCurrentThread(), THREAD_PRIORITY_LOWEST));
    });
    t.join();
    ASSERT_NE(dup, nullptr);
    EXPECT_NE(id, GetCurrentThreadId());
    EXPECT_EQ(WaitForSingleObject(dup, kBound), WAIT_OBJECT_0);
    EXPECT_EQ(GetThreadPriority(dup), THREAD_PRIORITY_LOWEST);
    CloseHandle(dup);
}

struct NameProbe {
    std::atomic<bool> named{false};
    std::atomic<bool> done{false};
    char systemName[32] = {};
};

unsigned announceName(void* p) {
    auto* probe = static_cast<NameProbe*>(p);
    struct {
        DWORD type;
        const char* name;
        DWORD threadId;
        DWORD flags;
    } record{0x1000, "ClientWatcher<Session>", 0xFFFFFFFFu, 0};
    RaiseException(0x406D1388, 0, sizeof record / sizeof(ULONG_PTR),
                   reinterpret_cast<const ULONG_PTR*>(&record));
    pthread_getname_np(pthread_self(), probe->systemName, sizeof probe->systemName);
    probe->named.store(true);
    return 0;
}

TEST(KernelThread, ThreadNameExceptionNamesTheThreadAndReturns) {
    NameProbe probe;
    unsigned id = 0;
    HANDLE h = reinterpret_cast<HANDLE>(_beginthreadex(nullptr, 0, announceName, &probe, 0, &id));
    ASSERT_NE(h, nullptr);
    ASSERT_EQ(WaitForSingleObject(h, kBound), WAIT_OBJECT_0);
    EXPECT_TRUE(probe.named.load());
    EXPECT_STREQ(probe.systemName, "ClientWatcher<S");  // the system keeps 15 bytes
    EXPECT_EQ(winplat::kernel::announcedThreadName(id), "ClientWatcher<Session>");
    CloseHandle(h);
}

TEST(KernelThreadDeathTest, AnyOtherExceptionStopsTheProcess) {
    EXPECT_DEATH(RaiseException(0xC0000005u, 0, 0, nullptr), "exception 0xC0000005 .*not supported");
}

TEST(KernelThread, DebuggerPresenceFollowsTheTracerAndTheOverride) {
    EXPECT_FALSE(IsDebuggerPresent());  // tests do not run under a tracer
    winplat::kernel::setDebuggerPresentOverride(1);
    EXPECT_TRUE(IsDebuggerPresent());
    winplat::kernel::setDebuggerPresentOverride(-1);
    EXPECT_FALSE(IsDebuggerPresent());
}

TEST(KernelThread, InjectedFailureOfBeginthreadexCreatesNothing) {
    winplat::inject::Scope scope;
    winplat::inject::arm("_beginthreadex", ERROR_NOT_ENOUGH_MEMORY);
    const size_t handles = winplat::kernel::openHandleCount();
    Counter c;
    unsigned id = 123;
    EXPECT_EQ(_beginthreadex(nullptr, 0, countUntilStopped, &c, 0, &id), 0u);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NOT_ENOUGH_MEMORY));
    EXPECT_EQ(id, 123u);
    EXPECT_EQ(winplat::kernel::openHandleCount(), handles);
    EXPECT_TRUE(standsStill(c, 5));
    EXPECT_EQ(c.seenId.load(), 0u);
}

TEST(KernelThread, InvalidHandlesFailEveryThreadCall) {
    HANDLE bogus = reinterpret_cast<HANDLE>(static_cast<uintptr_t>(0x7FFFFFF0));
    EXPECT_EQ(SuspendThread(bogus), static_cast<DWORD>(-1));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
    EXPECT_EQ(ResumeThread(bogus), static_cast<DWORD>(-1));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
    HANDLE event = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    EXPECT_EQ(SuspendThread(event), static_cast<DWORD>(-1));  // not a thread
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
    CloseHandle(event);
}

}  // namespace
