// Posting calls, in either build: a thread or event that cannot be made, or
// a calling thread whose wait failed, fails the call at once instead of
// leaving the poster waiting; concurrent callers never share a thread; and
// nothing a callee throws leaves a call.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <future>
#include <mutex>
#include <new>
#include <string>
#include <thread>
#include <vector>

#include "BackendWrappers/OutOfThreadCaller.h"
#include "CommonBase/HResultException.h"
#include "Watchdog.h"
#include "winplat/inject.h"

namespace BackendWrappers {

struct CallingThreadTestAccess {
    static const CLock& lock(const CallingThread& thread) { return *thread.getLock(); }
    static HANDLE request(const CallingThread& thread) { return thread.request_; }
};

}  // namespace BackendWrappers

namespace {

using namespace BackendWrappers;

// A thread that cannot be made is never handed out: the failure is the
// call's result at once, the pool stays as it was and the next call works.
struct StartFailure {
    const char* call;
    int64_t code;
    int skip;
    HRESULT expected;
};

class ThreadStart : public ::testing::TestWithParam<StartFailure> {};

TEST_P(ThreadStart, FailureIsReturnedPromptlyAndThePoolIsUnchanged) {
    Watchdog watchdog;
    winplat::inject::Scope scope;
    const StartFailure& f = GetParam();
    OutOfThreadCaller caller;
    winplat::inject::arm(f.call, f.code, 1, f.skip);
    bool ran = false;
    EXPECT_EQ(caller.call(false,
                          [&] {
                              ran = true;
                              return S_OK;
                          }),
              f.expected);
    EXPECT_FALSE(ran);
    EXPECT_EQ(caller.pool().size(), 0u);
    EXPECT_EQ(caller.call(false, [] { return S_FALSE; }), S_FALSE);
    EXPECT_EQ(caller.pool().size(), 1u);
}

INSTANTIATE_TEST_SUITE_P(
    Injected, ThreadStart,
    ::testing::Values(StartFailure{"_beginthreadex", ERROR_NOT_ENOUGH_MEMORY, 0, HRESULT_FROM_WIN32(8)},
                      StartFailure{"CreateEventW", ERROR_ACCESS_DENIED, 0, E_ACCESSDENIED},
                      StartFailure{"CreateEventW", ERROR_ACCESS_DENIED, 2, E_ACCESSDENIED},
                      StartFailure{"CreateEventW", 0, 1, E_FAIL}));

// A calling thread whose wait for calls fails has ended: a post waiting when
// the wait fails, the post that finds it so, and every later one get the
// wait's failure without running the callee, and the thread can still be
// destroyed. Armed before the thread starts, the failure hits the wait after
// `served` calls. For a waiting post a holder keeps the thread on its lock,
// between its last call and that wait, until the post has signalled; else
// the thread has ended before the post.
struct WaitFailureCase {
    int served;
    bool pending;
};

class WaitFailure : public ::testing::TestWithParam<WaitFailureCase> {};

TEST_P(WaitFailure, EndsTheThreadAndEveryPostGetsTheFailure) {
    using Access = CallingThreadTestAccess;
    Watchdog watchdog;
    winplat::inject::Scope scope;
    const auto [served, pending] = GetParam();
    winplat::inject::arm("WaitForMultipleObjects", ERROR_INVALID_HANDLE, 1, served);
    CallingThread thread;
    ASSERT_EQ(thread.startResult(), S_OK);
    std::promise<void> held;
    std::thread holder;
    int ran = 0;
    BoundCall counted = [&] {
        if (++ran == served && pending) {
            holder = std::thread([&] {
                const CLock& lock = Access::lock(thread);
                lock.lock();
                held.set_value();
                WaitForSingleObject(Access::request(thread), INFINITE);
                lock.unlock();
            });
            held.get_future().wait();
        }
        return S_FALSE;
    };
    detail::Callee callee(&counted);
    for (int i = 0; i < served; ++i) {
        EXPECT_EQ(thread.post(&callee), S_FALSE);
    }
    if (!pending) {
        HANDLE handle = thread.getHandle();
        ASSERT_NE(handle, nullptr);
        EXPECT_EQ(WaitForSingleObject(handle, INFINITE), WAIT_OBJECT_0);
        CloseHandle(handle);
    }
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(thread.post(&callee), HRESULT_FROM_WIN32(ERROR_INVALID_HANDLE));
    }
    if (holder.joinable()) {
        holder.join();
    }
    EXPECT_EQ(ran, served);
}

INSTANTIATE_TEST_SUITE_P(AfterCalls, WaitFailure,
                         ::testing::Values(WaitFailureCase{0, false}, WaitFailureCase{2, false},
                                           WaitFailureCase{1, true}, WaitFailureCase{2, true}),
                         [](const auto& info) {
                             return std::to_string(info.param.served) +
                                    (info.param.pending ? "_WhileAPostWaits" : "_BeforeThePost");
                         });

// Two callers at once each get a thread of their own, whether the pool has
// none idle, one or two: each call waits (boundedly) until the other is
// inside its own, which two calls on one thread never are.
class ConcurrentCallers : public ::testing::TestWithParam<size_t> {};

TEST_P(ConcurrentCallers, GetThreadsOfTheirOwn) {
    Watchdog watchdog;
    const size_t idle = GetParam();
    OutOfThreadCaller caller;
    std::vector<CallingThreadPool::Position> made;
    for (size_t i = 0; i < idle; ++i) {
        made.push_back(caller.pool().acquireThread());
    }
    for (auto position : made) {
        caller.pool().releaseThread(position);
    }
    std::mutex mutex;
    std::condition_variable changed;
    int inside = 0;
    auto meet = [&](DWORD* where) {
        *where = GetCurrentThreadId();
        std::unique_lock<std::mutex> lock(mutex);
        ++inside;
        changed.notify_all();
        return changed.wait_for(lock, std::chrono::seconds(5), [&] { return inside == 2; }) ? S_OK : E_FAIL;
    };
    DWORD a = 0;
    DWORD b = 0;
    HRESULT first = E_UNEXPECTED;
    std::thread other([&] { first = caller.call(false, [&] { return meet(&a); }); });
    const HRESULT second = caller.call(false, [&] { return meet(&b); });
    other.join();
    EXPECT_EQ(first, S_OK);
    EXPECT_EQ(second, S_OK);
    EXPECT_NE(a, b);
    EXPECT_EQ(caller.pool().size(), std::max<size_t>(idle, 2));
}

INSTANTIATE_TEST_SUITE_P(IdleThreads, ConcurrentCallers, ::testing::Values(0u, 1u, 2u));

// Nothing thrown leaves a call, posted or in place, and the thread goes on.
TEST(Posting, ThrowingCalleesGiveAnHResultAndLeaveTheThreadUsable) {
    Watchdog watchdog;
    OutOfThreadCaller caller;
    const std::pair<BoundCall, HRESULT> cases[] = {
        {[]() -> HRESULT { raiseHResult(E_ACCESSDENIED, 2, "test", 1, "test", nullptr); }, E_ACCESSDENIED},
        {[]() -> HRESULT { throw std::bad_alloc(); }, E_OUTOFMEMORY},
        {[]() -> HRESULT { throw 7; }, E_UNEXPECTED},
        {BoundCall(), E_UNEXPECTED},
        {[] { return S_FALSE; }, S_FALSE},
    };
    for (bool direct : {false, true}) {
        for (const auto& [fn, expected] : cases) {
            EXPECT_EQ(caller.call(direct, fn), expected) << (direct ? "direct" : "posted");
        }
    }
    EXPECT_EQ(caller.pool().size(), 1u);
}

}  // namespace
