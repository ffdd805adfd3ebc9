// Posting calls, in either build: a thread or event that cannot be made
// fails the call at once instead of leaving the poster waiting, and nothing a
// callee throws leaves a call.
#include <gtest/gtest.h>

#include <new>

#include "BackendWrappers/OutOfThreadCaller.h"
#include "CommonBase/HResultException.h"
#include "Watchdog.h"
#include "winplat/inject.h"

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
