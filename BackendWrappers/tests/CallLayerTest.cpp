// The call layer: where calls run, how the pool grows, and what a call
// returns when a thread cannot start or a callee throws.
#include <gtest/gtest.h>

#include <atomic>
#include <iterator>
#include <latch>
#include <thread>

#include "BackendWrappers/OutOfThreadCaller.h"
#include "Watchdog.h"
#include "winplat/com.h"
#include "winplat/inject.h"

namespace {

using BackendWrappers::CallingThread;
using BackendWrappers::OutOfThreadCaller;

struct Where {
    DWORD thread = 0;
    winplat::com::Apartment apartment = winplat::com::Apartment::None;
};

HRESULT recordWhere(Where* where, HRESULT result = S_FALSE) {
    where->thread = GetCurrentThreadId();
    where->apartment = winplat::com::currentApartment();
    return result;
}

TEST(CallLayer, DirectRunsInPlaceAndPostedRunsOnOnePooledThreadInItsOwnApartment) {
    Watchdog watchdog;
    auto caller = OutOfThreadCaller::instance();
    Where direct, first, second;
    EXPECT_EQ(caller->call(true, [&] { return recordWhere(&direct); }), S_FALSE);
    EXPECT_EQ(direct.thread, GetCurrentThreadId());
    EXPECT_EQ(caller->pool().size(), 0u);
    EXPECT_EQ(caller->call(false, [&] { return recordWhere(&first); }), S_FALSE);
    EXPECT_EQ(caller->call(false, [&] { return recordWhere(&second, E_ACCESSDENIED); }), E_ACCESSDENIED);
    EXPECT_NE(first.thread, GetCurrentThreadId());
    EXPECT_EQ(first.thread, second.thread);
    EXPECT_EQ(first.apartment, winplat::com::Apartment::SingleThreaded);
    EXPECT_EQ(caller->pool().size(), 1u);
    EXPECT_EQ(caller->pool().execute(nullptr), E_INVALIDARG);
}

TEST(CallLayer, AThreadThatCouldNotStartAnswersEveryPostWithItsFailure) {
    Watchdog watchdog;
    winplat::inject::Scope scope;
    winplat::inject::arm("CoInitializeEx", static_cast<int64_t>(0x80004005u));
    CallingThread thread;
    EXPECT_EQ(thread.startResult(), E_FAIL);
    BackendWrappers::BoundCall fn = [] { return S_OK; };
    BackendWrappers::detail::Callee callee(&fn);
    EXPECT_EQ(thread.post(&callee), E_FAIL);
}

// New threads go to the end of the pool and the search for an idle one runs
// from the front: the oldest idle thread serves.
TEST(CallLayer, NewThreadsGoToTheEndAndTheOldestIdleThreadServes) {
    Watchdog watchdog;
    BackendWrappers::CallingThreadPool pool;
    auto first = pool.acquireThread();
    auto second = pool.acquireThread();
    auto third = pool.acquireThread();
    EXPECT_EQ(std::next(first), second);
    EXPECT_EQ(std::next(second), third);
    pool.releaseThread(third);
    pool.releaseThread(second);
    EXPECT_EQ(pool.acquireThread(), second);
    pool.releaseThread(second);
    pool.releaseThread(first);
}

// A post to a thread still holding another poster's callee is refused as
// busy, runs nothing, and leaves the running call and the thread as they were.
TEST(CallLayer, APostToAThreadStillHoldingACalleeIsBusy) {
    Watchdog watchdog;
    CallingThread thread;
    std::latch inside(1);
    std::latch leave(1);
    BackendWrappers::BoundCall blocking = [&] {
        inside.count_down();
        leave.wait();
        return S_FALSE;
    };
    BackendWrappers::detail::Callee held(&blocking);
    HRESULT heldResult = E_UNEXPECTED;
    std::thread poster([&] { heldResult = thread.post(&held); });
    inside.wait();
    bool ran = false;
    BackendWrappers::BoundCall other = [&] {
        ran = true;
        return S_OK;
    };
    BackendWrappers::detail::Callee refused(&other);
    EXPECT_EQ(thread.post(&refused), static_cast<HRESULT>(0x800700AAu));
    leave.count_down();
    poster.join();
    EXPECT_EQ(heldResult, S_FALSE);
    EXPECT_FALSE(ran);
    EXPECT_EQ(thread.post(&refused), S_OK);
    EXPECT_TRUE(ran);
}

// A calling thread leaves the apartment it entered when it ends, whichever
// apartment that was; one that entered none leaves none.
TEST(CallLayer, AThreadLeavesItsApartmentWhenItEnds) {
    Watchdog watchdog;
    struct Case {
        int64_t coInitialize;  // what the first CoInitializeEx answers; 0: not injected
        int64_t entered;
    };
    const Case cases[] = {{0, 1},
                          {static_cast<int64_t>(static_cast<uint32_t>(RPC_E_CHANGED_MODE)), 1},
                          {static_cast<int64_t>(static_cast<uint32_t>(E_OUTOFMEMORY)), 0}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.coInitialize);
        winplat::inject::Scope scope;
        if (c.coInitialize != 0) {
            winplat::inject::arm("CoInitializeEx", c.coInitialize);
        }
        const int64_t before = winplat::com::liveApartmentCount();
        {
            CallingThread thread;
            EXPECT_EQ(winplat::com::liveApartmentCount(), before + c.entered);
        }
        EXPECT_EQ(winplat::com::liveApartmentCount(), before);
    }
}

TEST(CallLayer, ChangedModeFallsBackToTheMultithreadedApartment) {
    Watchdog watchdog;
    winplat::inject::Scope scope;
    winplat::inject::arm("CoInitializeEx", static_cast<int64_t>(static_cast<uint32_t>(RPC_E_CHANGED_MODE)));
    auto caller = OutOfThreadCaller::instance();
    Where where;
    EXPECT_EQ(caller->call(false, [&] { return recordWhere(&where); }), S_FALSE);
    EXPECT_EQ(where.apartment, winplat::com::Apartment::MultiThreaded);
}

TEST(CallLayer, TheInstanceEndsWithItsLastHolderAndRacingRecreatorsShareTheNewOne) {
    Watchdog watchdog;
    OutOfThreadCaller* old = nullptr;
    {
        auto caller = OutOfThreadCaller::instance();
        old = caller.get();
        EXPECT_EQ(OutOfThreadCaller::instance().get(), old);
        caller->call(false, [] { return S_OK; });
    }
    boost::shared_ptr<OutOfThreadCaller> a, b;
    std::latch start(2);
    std::thread t1([&] {
        start.arrive_and_wait();
        a = OutOfThreadCaller::instance();
    });
    std::thread t2([&] {
        start.arrive_and_wait();
        b = OutOfThreadCaller::instance();
    });
    t1.join();
    t2.join();
    EXPECT_EQ(a.get(), b.get());
    EXPECT_EQ(a->pool().size(), 0u);
}

}  // namespace
