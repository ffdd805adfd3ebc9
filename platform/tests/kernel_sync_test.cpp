// Handles, events, waits, critical sections, interlocked operations and TLS.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

#include "winplat/inject.h"
#include "winplat/kernel.h"

namespace {

constexpr DWORD kBound = 20000;

HANDLE manualEvent(bool set = false) {
    return CreateEventW(nullptr, TRUE, set ? TRUE : FALSE, nullptr);
}
HANDLE autoEvent(bool set = false) {
    return CreateEventW(nullptr, FALSE, set ? TRUE : FALSE, nullptr);
}

// The section's lock word, read while another thread changes it: 0 free,
// 1 held, 2 held with a thread queued.
LONG lockWord(const CRITICAL_SECTION& cs) {
    return __atomic_load_n(&cs.LockCount, __ATOMIC_ACQUIRE);
}

TEST(KernelHandles, CloseAndDuplicateShareOneObject) {
    const size_t before = winplat::kernel::openHandleCount();
    HANDLE e = manualEvent();
    ASSERT_NE(e, nullptr);
    HANDLE dup = nullptr;
    ASSERT_TRUE(
        DuplicateHandle(GetCurrentProcess(), e, GetCurrentProcess(), &dup, 0, FALSE, DUPLICATE_SAME_ACCESS));
    EXPECT_EQ(winplat::kernel::openHandleCount(), before + 2);
    EXPECT_TRUE(CloseHandle(e));
    // The event lives on behind the duplicate and keeps its state.
    EXPECT_TRUE(SetEvent(dup));
    EXPECT_EQ(WaitForSingleObject(dup, 0), WAIT_OBJECT_0);
    EXPECT_FALSE(SetEvent(e));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
    EXPECT_FALSE(CloseHandle(e));  // a second close fails
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
    EXPECT_TRUE(CloseHandle(dup));
    EXPECT_EQ(winplat::kernel::openHandleCount(), before);
    EXPECT_FALSE(CloseHandle(nullptr));
}

TEST(KernelHandles, DuplicateCloseSourceMovesTheHandle) {
    const size_t before = winplat::kernel::openHandleCount();
    HANDLE e = autoEvent(true);
    HANDLE moved = nullptr;
    ASSERT_TRUE(DuplicateHandle(GetCurrentProcess(), e, GetCurrentProcess(), &moved, 0, FALSE,
                                DUPLICATE_SAME_ACCESS | DUPLICATE_CLOSE_SOURCE));
    EXPECT_EQ(winplat::kernel::openHandleCount(), before + 1);
    EXPECT_EQ(WaitForSingleObject(moved, 0), WAIT_OBJECT_0);
    EXPECT_EQ(WaitForSingleObject(e, 0), WAIT_FAILED);
    CloseHandle(moved);
}

TEST(KernelHandles, InjectedDuplicateFailureLeavesTheSource) {
    winplat::inject::Scope scope;
    winplat::inject::arm("DuplicateHandle", ERROR_ACCESS_DENIED);
    HANDLE e = manualEvent();
    const size_t before = winplat::kernel::openHandleCount();
    HANDLE dup = reinterpret_cast<HANDLE>(1);
    EXPECT_FALSE(
        DuplicateHandle(GetCurrentProcess(), e, GetCurrentProcess(), &dup, 0, FALSE, DUPLICATE_SAME_ACCESS));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
    EXPECT_EQ(winplat::kernel::openHandleCount(), before);
    EXPECT_TRUE(SetEvent(e));
    EXPECT_TRUE(CloseHandle(e));
    HANDLE bogus = reinterpret_cast<HANDLE>(static_cast<uintptr_t>(0x7FFFFFF0));
    EXPECT_FALSE(DuplicateHandle(GetCurrentProcess(), bogus, GetCurrentProcess(), &dup, 0, FALSE,
                                 DUPLICATE_SAME_ACCESS));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
}

TEST(KernelEvents, ManualResetReleasesEveryWaitUntilReset) {
    HANDLE e = manualEvent();
    EXPECT_EQ(WaitForSingleObject(e, 0), WAIT_TIMEOUT);
    EXPECT_TRUE(SetEvent(e));
    EXPECT_EQ(WaitForSingleObject(e, 0), WAIT_OBJECT_0);
    EXPECT_EQ(WaitForSingleObject(e, INFINITE), WAIT_OBJECT_0);
    EXPECT_TRUE(ResetEvent(e));
    EXPECT_EQ(WaitForSingleObject(e, 10), WAIT_TIMEOUT);
    CloseHandle(e);
    HANDLE on = manualEvent(true);
    EXPECT_EQ(WaitForSingleObject(on, 0), WAIT_OBJECT_0);
    CloseHandle(on);
}

TEST(KernelEvents, AutoResetReleasesOneWaitPerSignal) {
    HANDLE e = autoEvent(true);
    EXPECT_EQ(WaitForSingleObject(e, 0), WAIT_OBJECT_0);
    EXPECT_EQ(WaitForSingleObject(e, 0), WAIT_TIMEOUT);  // consumed
    EXPECT_TRUE(SetEvent(e));
    EXPECT_TRUE(SetEvent(e));  // signals do not add up
    EXPECT_EQ(WaitForSingleObject(e, 0), WAIT_OBJECT_0);
    EXPECT_EQ(WaitForSingleObject(e, 0), WAIT_TIMEOUT);
    CloseHandle(e);
}

TEST(KernelEvents, AutoResetWakesExactlyOneOfManyWaiters) {
    HANDLE e = autoEvent();
    std::atomic<int> woken{0};
    std::vector<std::thread> threads;
    for (int i = 0; i < 4; ++i) {
        threads.emplace_back([&] {
            if (WaitForSingleObject(e, kBound) == WAIT_OBJECT_0) {
                woken.fetch_add(1);
            }
        });
    }
    for (int i = 1; i <= 4; ++i) {
        ASSERT_TRUE(SetEvent(e));
        for (int spin = 0; spin < 20000 && woken.load() < i; ++spin) {
            Sleep(1);
        }
        EXPECT_EQ(woken.load(), i);
    }
    for (auto& t : threads) {
        t.join();
    }
    EXPECT_EQ(WaitForSingleObject(e, 0), WAIT_TIMEOUT);
    CloseHandle(e);
}

TEST(KernelEvents, NamedEventsAndInjectedFailures) {
    EXPECT_EQ(CreateEventW(nullptr, TRUE, FALSE, L"Global\\x"), nullptr);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NOT_SUPPORTED));
    winplat::inject::Scope scope;
    winplat::inject::arm("CreateEventW", ERROR_NOT_ENOUGH_MEMORY, 1, 1);
    const size_t before = winplat::kernel::openHandleCount();
    HANDLE first = manualEvent();  // skipped
    EXPECT_NE(first, nullptr);
    EXPECT_EQ(manualEvent(), nullptr);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NOT_ENOUGH_MEMORY));
    EXPECT_EQ(winplat::kernel::openHandleCount(), before + 1);
    HANDLE third = manualEvent();
    EXPECT_NE(third, nullptr);
    CloseHandle(first);
    CloseHandle(third);
}

TEST(KernelWait, WaitAnyReturnsTheLowestSignalledIndex) {
    HANDLE h[3] = {manualEvent(), manualEvent(true), autoEvent(true)};
    EXPECT_EQ(WaitForMultipleObjects(3, h, FALSE, 0), WAIT_OBJECT_0 + 1);
    EXPECT_EQ(WaitForMultipleObjects(3, h, FALSE, 0), WAIT_OBJECT_0 + 1);
    SetEvent(h[0]);
    EXPECT_EQ(WaitForMultipleObjects(3, h, FALSE, 0), WAIT_OBJECT_0);
    ResetEvent(h[0]);
    ResetEvent(h[1]);
    // Only the winner is consumed: the auto event at 2 kept its signal.
    EXPECT_EQ(WaitForMultipleObjects(3, h, FALSE, 0), WAIT_OBJECT_0 + 2);
    EXPECT_EQ(WaitForMultipleObjects(3, h, FALSE, 5), WAIT_TIMEOUT);
    for (HANDLE x : h) {
        CloseHandle(x);
    }
}

// An injected failure of WaitForMultipleObjects consumes no signal; the
// single-object wait is not the same call and does not fail with it.
TEST(KernelWait, InjectedWaitFailureConsumesNothing) {
    winplat::inject::Scope scope;
    HANDLE h[2] = {manualEvent(), autoEvent(true)};
    winplat::inject::arm("WaitForMultipleObjects", ERROR_INVALID_HANDLE);
    EXPECT_EQ(WaitForSingleObject(h[0], 0), WAIT_TIMEOUT);
    EXPECT_EQ(WaitForMultipleObjects(2, h, FALSE, INFINITE), WAIT_FAILED);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
    EXPECT_EQ(WaitForMultipleObjects(2, h, FALSE, 0), WAIT_OBJECT_0 + 1);
    for (HANDLE x : h) {
        CloseHandle(x);
    }
}

TEST(KernelWait, WaitAllTakesEveryObjectAtOnce) {
    HANDLE h[2] = {autoEvent(true), manualEvent()};
    EXPECT_EQ(WaitForMultipleObjects(2, h, TRUE, 0), WAIT_TIMEOUT);
    // A wait-all that is not satisfied consumes nothing.
    EXPECT_EQ(WaitForSingleObject(h[0], 0), WAIT_OBJECT_0);
    SetEvent(h[0]);
    SetEvent(h[1]);
    EXPECT_EQ(WaitForMultipleObjects(2, h, TRUE, 0), WAIT_OBJECT_0);
    EXPECT_EQ(WaitForSingleObject(h[0], 0), WAIT_TIMEOUT);   // auto one consumed
    EXPECT_EQ(WaitForSingleObject(h[1], 0), WAIT_OBJECT_0);  // manual one kept
    // The same object twice in a wait-all is refused.
    HANDLE twice[2] = {h[1], h[1]};
    EXPECT_EQ(WaitForMultipleObjects(2, twice, TRUE, 0), WAIT_FAILED);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
    EXPECT_EQ(WaitForMultipleObjects(2, twice, FALSE, 0), WAIT_OBJECT_0);
    for (HANDLE x : h) {
        CloseHandle(x);
    }
}

TEST(KernelWait, BlockedWaitAllWakesOnlyWhenAllAreSignalled) {
    HANDLE h[2] = {autoEvent(), autoEvent()};
    HANDLE other = autoEvent();
    std::atomic<DWORD> result{0xDEAD};
    std::thread waiter([&] { result.store(WaitForMultipleObjects(2, h, TRUE, kBound)); });
    SetEvent(h[0]);
    // A competing wait-any may still take h[0] while the wait-all lacks h[1].
    HANDLE any[2] = {other, h[0]};
    for (int i = 0; i < 20000 && WaitForMultipleObjects(2, any, FALSE, 0) != WAIT_OBJECT_0 + 1; ++i) {
        Sleep(1);
    }
    EXPECT_EQ(result.load(), 0xDEADu);
    SetEvent(h[1]);
    SetEvent(h[0]);
    waiter.join();
    EXPECT_EQ(result.load(), WAIT_OBJECT_0);
    EXPECT_EQ(WaitForSingleObject(h[0], 0), WAIT_TIMEOUT);
    EXPECT_EQ(WaitForSingleObject(h[1], 0), WAIT_TIMEOUT);
    CloseHandle(h[0]);
    CloseHandle(h[1]);
    CloseHandle(other);
}

TEST(KernelWait, BlockedWaitAnyWakesOnASignalFromAnotherThread) {
    HANDLE h[2] = {manualEvent(), autoEvent()};
    std::atomic<DWORD> result{0xDEAD};
    std::thread waiter([&] { result.store(WaitForMultipleObjects(2, h, FALSE, INFINITE)); });
    SetEvent(h[1]);
    waiter.join();
    EXPECT_EQ(result.load(), WAIT_OBJECT_0 + 1);
    EXPECT_EQ(WaitForSingleObject(h[1], 0), WAIT_TIMEOUT);
    CloseHandle(h[0]);
    CloseHandle(h[1]);
}

TEST(KernelWait, LimitsAndBadHandles) {
    std::vector<HANDLE> many;
    for (int i = 0; i < 65; ++i) {
        many.push_back(manualEvent());
    }
    SetEvent(many[63]);
    EXPECT_EQ(WaitForMultipleObjects(MAXIMUM_WAIT_OBJECTS, many.data(), FALSE, 0), WAIT_OBJECT_0 + 63);
    SetLastError(0);
    EXPECT_EQ(WaitForMultipleObjects(65, many.data(), FALSE, 0), WAIT_FAILED);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
    EXPECT_EQ(WaitForMultipleObjects(0, many.data(), FALSE, 0), WAIT_FAILED);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
    HANDLE mixed[2] = {many[63], reinterpret_cast<HANDLE>(static_cast<uintptr_t>(0x7FFFFFF0))};
    EXPECT_EQ(WaitForMultipleObjects(2, mixed, FALSE, 0), WAIT_FAILED);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
    EXPECT_EQ(WaitForSingleObject(nullptr, 0), WAIT_FAILED);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
    for (HANDLE x : many) {
        CloseHandle(x);
    }
}

TEST(KernelCriticalSection, ReentrantAndExclusive) {
    CRITICAL_SECTION cs;
    InitializeCriticalSection(&cs);
    EnterCriticalSection(&cs);
    EnterCriticalSection(&cs);  // the owner enters again
    std::atomic<int> otherGotIn{-1};
    std::atomic<bool> otherHolds{false};
    std::atomic<bool> release{false};
    std::thread other([&] {
        otherGotIn.store(TryEnterCriticalSection(&cs));
        EnterCriticalSection(&cs);
        otherHolds.store(true);
        while (!release.load()) {
            Sleep(1);
        }
        LeaveCriticalSection(&cs);
    });
    while (otherGotIn.load() == -1) {
        Sleep(1);
    }
    EXPECT_EQ(otherGotIn.load(), FALSE);
    // Leave once only when the other thread is queued on the lock, so a
    // section that let go too early would be taken at once.
    while (lockWord(cs) != 2) {
        Sleep(1);
    }
    LeaveCriticalSection(&cs);
    EXPECT_EQ(lockWord(cs), 2);  // still held once
    EXPECT_EQ(cs.RecursionCount, 1);
    EXPECT_EQ(__atomic_load_n(&cs.OwningThread, __ATOMIC_RELAXED), GetCurrentThreadId());
    EXPECT_FALSE(otherHolds.load());
    LeaveCriticalSection(&cs);
    while (!otherHolds.load()) {
        Sleep(1);
    }
    EXPECT_FALSE(TryEnterCriticalSection(&cs));
    release.store(true);
    other.join();
    EXPECT_TRUE(TryEnterCriticalSection(&cs));
    LeaveCriticalSection(&cs);
    DeleteCriticalSection(&cs);
}

TEST(KernelCriticalSection, ExcludesUnderContention) {
    CRITICAL_SECTION cs;
    InitializeCriticalSectionAndSpinCount(&cs, 4000);
    long plain = 0;  // guarded only by the section
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&] {
            for (int i = 0; i < 20000; ++i) {
                EnterCriticalSection(&cs);
                EnterCriticalSection(&cs);
                ++plain;
                LeaveCriticalSection(&cs);
                ++plain;
                LeaveCriticalSection(&cs);
            }
        });
    }
    for (auto& t : threads) {
        t.join();
    }
    EXPECT_EQ(plain, 160000);
    EXPECT_TRUE(TryEnterCriticalSection(&cs));
    LeaveCriticalSection(&cs);
    DeleteCriticalSection(&cs);
}

TEST(KernelCriticalSection, StaticInitialiserIsRecursive) {
    static CRITICAL_SECTION cs = WINPLAT_CRITICAL_SECTION_STATIC_INIT;
    EnterCriticalSection(&cs);
    EXPECT_TRUE(TryEnterCriticalSection(&cs));
    LeaveCriticalSection(&cs);
    LeaveCriticalSection(&cs);
}

TEST(KernelInterlocked, ResultsFollowThePlatform) {
    volatile LONG v = 5;
    EXPECT_EQ(InterlockedIncrement(&v), 6);
    EXPECT_EQ(InterlockedDecrement(&v), 5);
    EXPECT_EQ(InterlockedExchangeAdd(&v, 10), 5);
    EXPECT_EQ(v, 15);
    EXPECT_EQ(InterlockedExchange(&v, 3), 15);
    EXPECT_EQ(InterlockedCompareExchange(&v, 9, 4), 3);  // no match: unchanged
    EXPECT_EQ(v, 3);
    EXPECT_EQ(InterlockedCompareExchange(&v, 9, 3), 3);
    EXPECT_EQ(v, 9);
    int a = 0;
    int b = 0;
    void* volatile p = &a;
    EXPECT_EQ(InterlockedCompareExchangePointer(&p, &b, nullptr), &a);
    EXPECT_EQ(InterlockedCompareExchangePointer(&p, &b, &a), &a);
    EXPECT_EQ(InterlockedExchangePointer(&p, nullptr), &b);
    EXPECT_EQ(p, nullptr);

    volatile LONG counter = 0;
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&] {
            for (int i = 0; i < 10000; ++i) {
                InterlockedIncrement(&counter);
            }
        });
    }
    for (auto& t : threads) {
        t.join();
    }
    EXPECT_EQ(counter, 40000);
}

TEST(KernelTls, ValuesArePerThreadAndPerIndex) {
    const DWORD a = TlsAlloc();
    const DWORD b = TlsAlloc();
    ASSERT_NE(a, TLS_OUT_OF_INDEXES);
    ASSERT_NE(b, TLS_OUT_OF_INDEXES);
    ASSERT_NE(a, b);
    int x = 0;
    int y = 0;
    SetLastError(77);
    EXPECT_EQ(TlsGetValue(a), nullptr);  // fresh: null
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SUCCESS));
    EXPECT_TRUE(TlsSetValue(a, &x));
    EXPECT_TRUE(TlsSetValue(b, &y));
    std::thread other([&] {
        EXPECT_EQ(TlsGetValue(a), nullptr);
        EXPECT_TRUE(TlsSetValue(a, &y));
        EXPECT_EQ(TlsGetValue(a), &y);
    });
    other.join();
    EXPECT_EQ(TlsGetValue(a), &x);
    EXPECT_EQ(TlsGetValue(b), &y);
    EXPECT_TRUE(TlsFree(a));
    EXPECT_TRUE(TlsFree(b));
    EXPECT_FALSE(TlsFree(b));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
}

TEST(KernelTls, AFreedIndexComesBackEmptyOnEveryThread) {
    const DWORD index = TlsAlloc();
    ASSERT_NE(index, TLS_OUT_OF_INDEXES);
    int x = 0;
    std::atomic<int> stage{0};
    std::atomic<void*> seen{reinterpret_cast<void*>(1)};
    std::thread other([&] {
        TlsSetValue(index, &x);
        stage.store(1);
        while (stage.load() != 2) {
            Sleep(1);
        }
        seen.store(TlsGetValue(index));
    });
    while (stage.load() != 1) {
        Sleep(1);
    }
    TlsSetValue(index, &x);
    ASSERT_TRUE(TlsFree(index));
    // The lowest free index is handed out again: the same one.
    const DWORD again = TlsAlloc();
    EXPECT_EQ(again, index);
    EXPECT_EQ(TlsGetValue(again), nullptr);
    stage.store(2);
    other.join();
    EXPECT_EQ(seen.load(), nullptr);
    TlsFree(again);
}

TEST(KernelTls, IndexZeroIsAnOrdinaryIndexAndFailuresAreInjectable) {
    // Nothing else in this program holds an index: the lowest, 0, comes first.
    const DWORD zero = TlsAlloc();
    ASSERT_EQ(zero, 0u);
    int v = 0;
    EXPECT_TRUE(TlsSetValue(zero, &v));
    EXPECT_EQ(TlsGetValue(zero), &v);
    winplat::inject::Scope scope;
    winplat::inject::arm("TlsAlloc", ERROR_NOT_ENOUGH_MEMORY);
    EXPECT_EQ(TlsAlloc(), TLS_OUT_OF_INDEXES);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NOT_ENOUGH_MEMORY));
    const DWORD next = TlsAlloc();
    EXPECT_EQ(next, 1u);
    EXPECT_TRUE(TlsFree(next));
    EXPECT_TRUE(TlsFree(zero));
}

TEST(KernelTls, OutOfIndexesWhenAllAreTaken) {
    std::vector<DWORD> held;
    for (;;) {
        const DWORD index = TlsAlloc();
        if (index == TLS_OUT_OF_INDEXES) {
            break;
        }
        held.push_back(index);
        ASSERT_LT(held.size(), 5000u);
    }
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NO_MORE_ITEMS));
    EXPECT_GE(held.size(), 64u);
    for (DWORD index : held) {
        EXPECT_TRUE(TlsFree(index));
    }
}

TEST(KernelLastError, IsPerThread) {
    SetLastError(5);
    std::thread other([] {
        EXPECT_EQ(GetLastError(), 0u);
        SetLastError(9);
    });
    other.join();
    EXPECT_EQ(GetLastError(), 5u);
}

}  // namespace
