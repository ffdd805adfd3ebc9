// The 7.1 call layer: threads start MAPI (and end it only after a start that
// succeeded), new threads go to the front of the pool, the call layer stays
// until the process ends, and a thread or event that cannot be made fails the
// call at once instead of leaving the poster waiting.
#include <gtest/gtest.h>

#include <cstdlib>
#include <latch>
#include <thread>

#include "BackendWrappers/OutOfThreadCaller.h"
#include "Watchdog.h"
#include "standins/common/StandinProbe.h"
#include "winplat/inject.h"

namespace {

using namespace BackendWrappers;

Standin& mapi() {
    static Standin s(L"MAPI32.dll");
    return s;
}

struct MapiCounts {
    int64_t init = mapi().counter("initCalls");
    int64_t uninit = mapi().counter("uninitCalls");
    int64_t unbalanced = mapi().counter("unbalancedUninitialize");
};

TEST(CallLayer71, NewestIdleThreadFirstAndPositionsStayRightWhileOthersInsert) {
    Watchdog watchdog;
    MapiCounts before;
    {
        CallingThreadPool pool;
        CallingThreadPool::Position first = pool.acquireThread();
        CallingThreadPool::Position second = pool.acquireThread();
        CallingThreadPool::Position third = pool.acquireThread();
        // Each new thread went in front of the ones before it.
        EXPECT_EQ(std::next(third), second);
        EXPECT_EQ(std::next(second), first);
        pool.releaseThread(second);
        EXPECT_TRUE((*second)->idle);
        EXPECT_FALSE((*first)->idle);
        EXPECT_FALSE((*third)->idle);
        pool.releaseThread(first);
        pool.releaseThread(third);
        // The search runs from the front: the newest idle thread.
        CallingThreadPool::Position again = pool.acquireThread();
        EXPECT_EQ(again, third);
        pool.releaseThread(again);
        // Each thread started MAPI once, on itself.
        EXPECT_EQ(mapi().counter("initCalls") - before.init, 3);
        EXPECT_EQ(pool.size(), 3u);
    }
    EXPECT_EQ(mapi().counter("uninitCalls") - before.uninit, 3);
    EXPECT_EQ(mapi().counter("unbalancedUninitialize"), before.unbalanced);
}

TEST(CallLayer71, AThreadWhoseMapiDidNotStartServesAndNeverShutsMapiDown) {
    Watchdog watchdog;
    winplat::inject::Scope scope;
    MapiCounts before;
    {
        OutOfThreadCaller caller;
        winplat::inject::arm("olmapi32!MAPIInitialize", static_cast<int64_t>(static_cast<uint32_t>(E_FAIL)));
        DWORD ranOn = 0;
        EXPECT_EQ(caller.call(false,
                              [&] {
                                  ranOn = GetCurrentThreadId();
                                  return S_FALSE;
                              }),
                  S_FALSE);
        EXPECT_NE(ranOn, 0u);
        EXPECT_NE(ranOn, GetCurrentThreadId());
    }
    EXPECT_EQ(mapi().counter("initCalls"), before.init);
    EXPECT_EQ(mapi().counter("uninitCalls"), before.uninit);
    EXPECT_EQ(mapi().counter("unbalancedUninitialize"), before.unbalanced);
}

TEST(CallLayer71, TheInstanceIsKeptWhenNobodyHoldsIt) {
    Watchdog watchdog;
    OutOfThreadCaller* first = OutOfThreadCaller::instance().get();
    size_t threads = 0;
    {
        auto caller = OutOfThreadCaller::instance();
        caller->call(false, [] { return S_OK; });
        threads = caller->pool().size();
    }
    auto again = OutOfThreadCaller::instance();
    EXPECT_EQ(again.get(), first);
    EXPECT_EQ(again->pool().size(), threads);
    EXPECT_GE(threads, 1u);
}

// The pool ends with the process: its threads shut MAPI down while the
// process exits, and nothing is left behind or reported.
TEST(CallLayer71DeathTest, AProcessThatMadeACallExitsCleanly) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(
        {
            OutOfThreadCaller::instance()->call(false, [] { return S_OK; });
            std::exit(0);
        },
        ::testing::ExitedWithCode(0), "");
}

// A calling thread destroyed on itself would wait for itself: the misuse
// trap stops the process from a thread of its own.
TEST(CallLayer71DeathTest, ACallingThreadDestroyedOnItselfIsStoppedByTheMisuseTrap) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_DEATH(
        {
            setThreadMisuseRunner(runInCrasherThread);
            auto* thread = new CallingThread;
            BoundCall destroy = [thread] {
                delete thread;
                return S_OK;
            };
            detail::Callee callee(&destroy);
            thread->post(&callee);
        },
        "Thread misuse: waitFor or shutDown called on the thread itself");
}

}  // namespace
