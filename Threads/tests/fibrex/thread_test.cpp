// The library build of Thread, used from another module through its exports.
#include <gtest/gtest.h>

#include <atomic>
#include <memory>

#include "winplat/windows.h"
#include "Threads/Thread.h"
#include "thread_test_util.h"

namespace {

using thread_test::LambdaThread;
using thread_test::signalled;

TEST(FibrexThreadTest, RunsABodyDefinedInAnotherModule) {
    std::atomic<int> runs{0};
    auto thread = std::make_unique<LambdaThread>([&](LambdaThread& self) {
        CLockGuard guard(self.getLock());
        ++runs;
        self.setThreadResult(7);
    });
    HANDLE finished = thread->registerFinalEvent();
    ASSERT_TRUE(thread->run());
    ASSERT_TRUE(signalled(finished));
    thread->waitFor();
    EXPECT_EQ(runs.load(), 1);
    EXPECT_EQ(thread->getThreadResult(), 7u);
    // A subclass in this module is still a Thread to the library's type information.
    Thread* base = thread.get();
    EXPECT_NE(dynamic_cast<LambdaThread*>(base), nullptr);
    thread.reset();
    CloseHandle(finished);
}

TEST(FibrexThreadMisuseTest, MisuseStopsOnTheDetectingThread) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_DEATH(
        {
            LambdaThread thread([](LambdaThread& self) { self.waitFor(); });
            thread.run();
            Sleep(thread_test::kWaitMs);
        },
        "waitFor or shutDown called on the thread itself");
    EXPECT_DEATH(
        {
            LambdaThread thread([](LambdaThread&) {});
            thread.create();
        },
        "thread object destroyed before its thread finished");
}

}  // namespace
