// The call layer: where calls run, how the pool grows, and what a call
// returns when a thread cannot start or a callee throws.
#include <gtest/gtest.h>

#include <atomic>
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

TEST(CallLayer, TwoBlockedCallersGetTwoThreads) {
    Watchdog watchdog;
    auto caller = OutOfThreadCaller::instance();
    std::latch bothInside(2);
    Where a, b;
    std::thread other([&] {
        caller->call(false, [&] {
            bothInside.arrive_and_wait();
            return recordWhere(&a);
        });
    });
    caller->call(false, [&] {
        bothInside.arrive_and_wait();
        return recordWhere(&b);
    });
    other.join();
    EXPECT_NE(a.thread, b.thread);
    EXPECT_EQ(caller->pool().size(), 2u);
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
