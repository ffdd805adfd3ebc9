#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "winplat/windows.h"
#include "winplat/inject.h"
#include "Threads/Thread.h"
#include "thread_test_util.h"

namespace {

using thread_test::eventually;
using thread_test::kWaitMs;
using thread_test::LambdaThread;
using thread_test::runToEnd;
using thread_test::signalled;

// A body that runs until told to stop through plain atomics, so that it holds
// no lock at any moment it may be suspended.
struct Spinner {
    std::atomic<long> count{0};
    std::atomic<bool> stop{false};
    void operator()(LambdaThread&) {
        while (!stop.load()) {
            count.fetch_add(1);
        }
    }
};

// Whether the counter stays still while the test gives the thread plenty of
// chances to run.
bool staysStill(const std::atomic<long>& count) {
    const long before = count.load();
    for (int i = 0; i < 50; ++i) {
        Sleep(2);
        if (count.load() != before) {
            return false;
        }
    }
    return true;
}

bool advances(const std::atomic<long>& count) {
    const long before = count.load();
    return eventually([&] { return count.load() > before; });
}

TEST(ThreadTest, NothingRunsBeforeRunAndRunStartsTheCreatedThread) {
    std::atomic<int> runs{0};
    std::atomic<DWORD> bodyId{0};
    LambdaThread thread([&](LambdaThread&) {
        bodyId = GetCurrentThreadId();
        ++runs;
    });
    EXPECT_EQ(thread.getId(), 0u);
    EXPECT_EQ(thread.getHandle(), nullptr);
    EXPECT_TRUE(thread.isSuspended());

    ASSERT_TRUE(thread.create());
    const unsigned id = thread.getId();
    EXPECT_NE(id, 0u);
    EXPECT_FALSE(thread.create());
    EXPECT_EQ(thread.getId(), id);
    HANDLE handle = thread.getHandle();
    ASSERT_NE(handle, nullptr);
    // Created suspended: the body does not run, the handle is not signalled.
    EXPECT_EQ(WaitForSingleObject(handle, 100), WAIT_TIMEOUT);
    EXPECT_EQ(runs.load(), 0);
    EXPECT_TRUE(thread.isSuspended());

    ASSERT_TRUE(thread.run());
    EXPECT_TRUE(signalled(handle));
    EXPECT_EQ(runs.load(), 1);
    EXPECT_EQ(thread.getId(), id);
    EXPECT_EQ(bodyId.load(), id);
    EXPECT_FALSE(thread.isSuspended());
    EXPECT_FALSE(thread.run());
    EXPECT_FALSE(thread.create());
    EXPECT_EQ(runs.load(), 1);
    CloseHandle(handle);
}

TEST(ThreadTest, SuspendAndResumeStopAndRestartARunningThread) {
    Spinner spinner;
    LambdaThread thread(std::ref(spinner));
    // Before run there is nothing to suspend or resume.
    thread.suspend();
    thread.resume();
    EXPECT_TRUE(thread.isSuspended());
    ASSERT_TRUE(thread.run());
    ASSERT_TRUE(advances(spinner.count));

    thread.suspend();
    EXPECT_TRUE(thread.isSuspended());
    EXPECT_TRUE(staysStill(spinner.count));
    thread.resume();
    EXPECT_FALSE(thread.isSuspended());
    EXPECT_TRUE(advances(spinner.count));

    // Suspends are not counted by the object but by the thread: two need two resumes.
    thread.setSuspended(true);
    thread.setSuspended(true);
    EXPECT_TRUE(staysStill(spinner.count));
    thread.setSuspended(false);
    EXPECT_TRUE(staysStill(spinner.count));
    thread.resume();
    EXPECT_TRUE(advances(spinner.count));

    // Once told to terminate, suspend and resume do nothing.
    thread.setTerminated(true);
    thread.suspend();
    EXPECT_FALSE(thread.isSuspended());
    EXPECT_TRUE(advances(spinner.count));

    spinner.stop = true;
    HANDLE handle = thread.getHandle();
    EXPECT_TRUE(signalled(handle));
    CloseHandle(handle);
}

TEST(ThreadTest, SetTerminatedChangesNothingWhileSuspended) {
    HANDLE release = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    std::atomic<bool> started{false};
    LambdaThread thread([&](LambdaThread& self) {
        started = true;
        HANDLE both[] = {self.getTerminationEvent(), release};
        WaitForMultipleObjects(2, both, FALSE, INFINITE);
    });
    HANDLE termination = thread.getTerminationEvent();

    thread.setTerminated(true);
    EXPECT_FALSE(thread.isTerminated());
    EXPECT_EQ(WaitForSingleObject(termination, 0), WAIT_TIMEOUT);

    ASSERT_TRUE(thread.create());
    thread.setTerminated(true);
    EXPECT_FALSE(thread.isTerminated());
    EXPECT_EQ(WaitForSingleObject(termination, 0), WAIT_TIMEOUT);

    ASSERT_TRUE(thread.run());
    ASSERT_TRUE(eventually([&] { return started.load(); }));
    thread.suspend();
    thread.setTerminated(true);
    EXPECT_FALSE(thread.isTerminated());
    EXPECT_EQ(WaitForSingleObject(termination, 0), WAIT_TIMEOUT);
    thread.resume();

    // Running: true sets flag and event, false resets both.
    thread.setTerminated(true);
    EXPECT_TRUE(thread.isTerminated());
    EXPECT_EQ(WaitForSingleObject(termination, 0), WAIT_OBJECT_0);
    thread.setTerminated(false);
    EXPECT_FALSE(thread.isTerminated());
    EXPECT_EQ(WaitForSingleObject(termination, 0), WAIT_TIMEOUT);

    SetEvent(release);
    thread.waitFor();
    CloseHandle(release);
}

TEST(ThreadTest, ShutDownEndsABodyWaitingOnTheTerminationEvent) {
    std::atomic<bool> sawTerminated{false};
    auto thread = std::make_unique<LambdaThread>([&](LambdaThread& self) {
        WaitForSingleObject(self.getTerminationEvent(), INFINITE);
        sawTerminated = self.isTerminated();
    });
    // Without a thread there is nothing to wait for.
    thread->shutDown();
    thread->waitFor();
    ASSERT_TRUE(thread->run());
    thread->shutDown();
    EXPECT_TRUE(sawTerminated.load());
    EXPECT_TRUE(thread->isTerminated());
    thread.reset();
}

TEST(ThreadTest, FinalEventsAreSignalledOnceAfterTheBody) {
    HANDLE release = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    std::atomic<bool> bodyDone{false};
    LambdaThread thread([&](LambdaThread&) {
        WaitForSingleObject(release, INFINITE);
        bodyDone = true;
    });
    HANDLE first = thread.registerFinalEvent();
    HANDLE second = thread.registerFinalEvent();
    ASSERT_NE(first, nullptr);
    ASSERT_NE(second, nullptr);
    ASSERT_TRUE(thread.run());
    EXPECT_EQ(WaitForSingleObject(first, 50), WAIT_TIMEOUT);

    SetEvent(release);
    ASSERT_TRUE(signalled(first));
    EXPECT_TRUE(bodyDone.load());
    ASSERT_TRUE(signalled(second));
    thread.waitFor();
    // Auto-reset and signalled once: nothing is left for a second waiter.
    EXPECT_EQ(WaitForSingleObject(first, 0), WAIT_TIMEOUT);
    EXPECT_EQ(WaitForSingleObject(second, 0), WAIT_TIMEOUT);

    HANDLE late = thread.registerFinalEvent();
    ASSERT_NE(late, nullptr);
    EXPECT_EQ(WaitForSingleObject(late, 0), WAIT_TIMEOUT);
    for (HANDLE h : {first, second, late, release}) {
        CloseHandle(h);
    }
}

TEST(ThreadTest, FinalEventRegistrationFailureRegistersNothing) {
    winplat::inject::Scope scope;
    LambdaThread thread([](LambdaThread&) {});
    const size_t before = winplat::kernel::openHandleCount();
    winplat::inject::arm("CreateEventW", ERROR_NOT_ENOUGH_MEMORY);
    EXPECT_EQ(thread.registerFinalEvent(), nullptr);
    EXPECT_EQ(winplat::kernel::openHandleCount(), before);
}

TEST(ThreadTest, ResultIsTheExitCodeAndHandlesOutliveTheObject) {
    auto thread = std::make_unique<LambdaThread>([](LambdaThread& self) { self.setThreadResult(0xC0FFEE); });
    EXPECT_EQ(thread->getThreadResult(), 0u);
    ASSERT_TRUE(thread->run());
    HANDLE handle = thread->getHandle();
    HANDLE again = Thread::duplicateHandle(handle);
    ASSERT_NE(handle, nullptr);
    ASSERT_NE(again, nullptr);
    thread->waitFor();
    EXPECT_EQ(thread->getThreadResult(), 0xC0FFEEu);
    thread.reset();

    EXPECT_EQ(WaitForSingleObject(handle, 0), WAIT_OBJECT_0);
    DWORD code = 0;
    EXPECT_TRUE(GetExitCodeThread(again, &code));
    EXPECT_EQ(code, 0xC0FFEEu);
    EXPECT_TRUE(CloseHandle(handle));
    EXPECT_TRUE(CloseHandle(again));
    EXPECT_EQ(Thread::duplicateHandle(nullptr), nullptr);
}

TEST(ThreadTest, PriorityIsStoredUntilRunAppliesIt) {
    std::atomic<int> seen{99};
    LambdaThread thread([&](LambdaThread&) { seen = GetThreadPriority(GetCurrentThread()); });
    EXPECT_EQ(thread.getPriority(), THREAD_PRIORITY_NORMAL);
    thread.setPriority(THREAD_PRIORITY_ABOVE_NORMAL);
    EXPECT_EQ(thread.getPriority(), THREAD_PRIORITY_ABOVE_NORMAL);
    ASSERT_TRUE(thread.create());
    // Created but not started: the thread's own priority is still the default.
    EXPECT_EQ(thread.getPriority(), THREAD_PRIORITY_NORMAL);
    ASSERT_TRUE(runToEnd(thread));
    EXPECT_EQ(seen.load(), THREAD_PRIORITY_ABOVE_NORMAL);
    thread.setPriority(THREAD_PRIORITY_LOWEST);
    EXPECT_EQ(thread.getPriority(), THREAD_PRIORITY_LOWEST);
}

TEST(ThreadTest, CreationFailureChangesNothing) {
    winplat::inject::Scope scope;
    std::atomic<int> runs{0};
    LambdaThread thread([&](LambdaThread&) { ++runs; });
    winplat::inject::arm("_beginthreadex", ERROR_NOT_ENOUGH_MEMORY, 2);
    EXPECT_FALSE(thread.create());
    EXPECT_FALSE(thread.run());
    EXPECT_EQ(thread.getId(), 0u);
    EXPECT_EQ(thread.getHandle(), nullptr);
    EXPECT_TRUE(thread.isSuspended());
    // The failure left the object as new: a later run works.
    ASSERT_TRUE(runToEnd(thread));
    EXPECT_EQ(runs.load(), 1);
}

// Records where and when it was destroyed.
struct Destruction {
    std::atomic<DWORD> threadId{0};
    std::atomic<bool> finalEventWasOut{false};
    HANDLE finalEvent = nullptr;
    HANDLE done = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    ~Destruction() { CloseHandle(done); }
};

class SelfDeleting : public Thread {
  public:
    explicit SelfDeleting(Destruction& record) : Thread(true), record_(record) {}
    ~SelfDeleting() override {
        record_.threadId = GetCurrentThreadId();
        record_.finalEventWasOut = WaitForSingleObject(record_.finalEvent, 0) == WAIT_OBJECT_0;
        SetEvent(record_.done);
    }

  protected:
    void threadBody() override {}

  private:
    Destruction& record_;
};

TEST(ThreadTest, FreeOnTerminateDeletesOnItsOwnThreadAfterTheFinalEvents) {
    Destruction record;
    auto* thread = new SelfDeleting(record);
    EXPECT_TRUE(thread->isFreeOnTerminate());
    record.finalEvent = thread->registerFinalEvent();
    ASSERT_TRUE(thread->create());
    const DWORD id = thread->getId();
    HANDLE handle = thread->getHandle();
    ASSERT_TRUE(thread->run());
    ASSERT_TRUE(signalled(record.done));
    EXPECT_EQ(record.threadId.load(), id);
    EXPECT_TRUE(record.finalEventWasOut.load());
    ASSERT_TRUE(signalled(handle));
    CloseHandle(handle);
    CloseHandle(record.finalEvent);
}

TEST(ThreadTest, OwnerMayDeleteAsSoonAsAFinalEventFires) {
    // The thread procedure must be done with the object (and its lock) by the
    // time the owner's destructor gets past the lock; ASan and TSan see any
    // touch after that. Several owners at once make the procedure lose the
    // processor at the worst moment more often.
    std::vector<std::thread> owners;
    std::atomic<int> failures{0};
    for (int owner = 0; owner < 4; ++owner) {
        owners.emplace_back([&failures] {
            for (int i = 0; i < 150; ++i) {
                auto* thread = new LambdaThread([i](LambdaThread& self) { self.setThreadResult(i); });
                HANDLE finished = thread->registerFinalEvent();
                HANDLE handle = nullptr;
                if (!thread->create() || !(handle = thread->getHandle()) || !thread->run()) {
                    ++failures;
                    return;
                }
                // Spin rather than block, to be in the destructor as early as possible.
                while (WaitForSingleObject(finished, 0) != WAIT_OBJECT_0) {
                }
                delete thread;
                DWORD code = 0;
                if (!signalled(handle) || !GetExitCodeThread(handle, &code) ||
                    code != static_cast<DWORD>(i)) {
                    ++failures;
                }
                CloseHandle(handle);
                CloseHandle(finished);
            }
        });
    }
    for (auto& owner : owners) {
        owner.join();
    }
    EXPECT_EQ(failures.load(), 0);
}

TEST(ThreadTest, FreeOnTerminateCanBeSwitchedBeforeTheEnd) {
    HANDLE release = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    auto* thread = new LambdaThread([&](LambdaThread&) { WaitForSingleObject(release, INFINITE); }, true);
    ASSERT_TRUE(thread->run());
    thread->setFreeOnTerminate(false);
    EXPECT_FALSE(thread->isFreeOnTerminate());
    SetEvent(release);
    thread->waitFor();
    delete thread;  // ours to delete now; a self-delete as well would be a double free
    CloseHandle(release);
}

// Debugger names are announced only while a debugger is attached.
class CallingThread : public Thread {
  public:
    CallingThread() : Thread(false) {}

  protected:
    void threadBody() override {}
};

namespace detail {
template <int N>
class ClientWatcher : public Thread {
  public:
    ClientWatcher() : Thread(false) {}

  protected:
    void threadBody() override {}
};
}  // namespace detail

struct DebuggerOverride {
    explicit DebuggerOverride(int present) { winplat::kernel::setDebuggerPresentOverride(present); }
    ~DebuggerOverride() { winplat::kernel::setDebuggerPresentOverride(-1); }
};

std::string announcedName(Thread& thread) {
    EXPECT_TRUE(runToEnd(thread));
    return winplat::kernel::announcedThreadName(thread.getId());
}

TEST(ThreadTest, DebuggerSeesTheNameOrTheBareClassName) {
    DebuggerOverride attached(1);
    CallingThread calling;
    EXPECT_EQ(announcedName(calling), "CallingThread");
    detail::ClientWatcher<1> watcher;
    EXPECT_EQ(announcedName(watcher), "ClientWatcher<1>");
    LambdaThread named([](LambdaThread&) {}, false, "storeset worker thread");
    EXPECT_EQ(announcedName(named), "storeset worker thread");
}

TEST(ThreadTest, NothingIsAnnouncedWithoutADebugger) {
    DebuggerOverride detached(0);
    CallingThread calling;
    EXPECT_EQ(announcedName(calling), "");
}

// Misuse stops the process with a message naming the condition.
class ThreadMisuseTest : public ::testing::Test {
  protected:
    void SetUp() override {
        GTEST_FLAG_SET(death_test_style, "threadsafe");
        // Destroying a running thread object is the misuse under test and races
        // with the thread by nature; a race detector that halts on its report
        // would end the child before the misuse message comes out.
        const char* current = std::getenv("TSAN_OPTIONS");
        saved_ = current != nullptr ? std::optional<std::string>(current) : std::nullopt;
        const std::string options = saved_.value_or("") + ":halt_on_error=0";
        setenv("TSAN_OPTIONS", options.c_str(), 1);
    }
    void TearDown() override {
        if (saved_) {
            setenv("TSAN_OPTIONS", saved_->c_str(), 1);
        } else {
            unsetenv("TSAN_OPTIONS");
        }
    }

  private:
    std::optional<std::string> saved_;
};

TEST_F(ThreadMisuseTest, WaitingOnItselfStops) {
    EXPECT_DEATH(
        {
            LambdaThread thread([](LambdaThread& self) { self.waitFor(); });
            thread.run();
            Sleep(kWaitMs);
        },
        "waitFor or shutDown called on the thread itself");
    EXPECT_DEATH(
        {
            LambdaThread thread([](LambdaThread& self) { self.shutDown(); });
            thread.run();
            Sleep(kWaitMs);
        },
        "waitFor or shutDown called on the thread itself");
}

TEST_F(ThreadMisuseTest, DestroyingAnUnfinishedThreadStops) {
    EXPECT_DEATH(
        {
            LambdaThread thread([](LambdaThread&) {});
            thread.create();
        },
        "thread object destroyed before its thread finished");
    EXPECT_DEATH(
        {
            // Destroyed once the body has started, so the destruction races with it.
            HANDLE started = CreateEventW(nullptr, TRUE, FALSE, nullptr);
            LambdaThread thread([started](LambdaThread& self) {
                SetEvent(started);
                WaitForSingleObject(self.getTerminationEvent(), INFINITE);
            });
            thread.run();
            WaitForSingleObject(started, kWaitMs);
        },
        "thread object destroyed before its thread finished");
}

TEST_F(ThreadMisuseTest, DestroyingAStartedSelfDeletingThreadFromOutsideStops) {
    EXPECT_DEATH(
        {
            HANDLE started = CreateEventW(nullptr, TRUE, FALSE, nullptr);
            auto* thread = new LambdaThread(
                [started](LambdaThread& self) {
                    SetEvent(started);
                    WaitForSingleObject(self.getTerminationEvent(), INFINITE);
                },
                true);
            thread->run();
            WaitForSingleObject(started, kWaitMs);
            delete thread;
        },
        "started free-on-terminate thread destroyed from another thread");
}

TEST(ThreadTest, ObjectsThatNeverStartedGoQuietly) {
    // No OS thread, and free-on-terminate without a start: both are fine to destroy.
    auto* never = new LambdaThread([](LambdaThread&) {}, true);
    delete never;
    LambdaThread finished([](LambdaThread&) {});
    EXPECT_TRUE(runToEnd(finished));
}

// The tool build hands the misuse action to the installed runner.
void runOnAnotherThread(ThreadMisuseAction action) {
    const DWORD detecting = GetCurrentThreadId();
    std::thread other([&] {
        winplat::console::writeErrNarrow(GetCurrentThreadId() != detecting ? "runner: on another thread\n"
                                                                           : "runner: same thread\n");
        action();
    });
    other.join();
}

void runNothing(ThreadMisuseAction) {
    winplat::console::writeErrNarrow("runner: declined\n");
}

TEST_F(ThreadMisuseTest, TheRunnerRunsTheActionOnAnotherThread) {
    EXPECT_DEATH(
        {
            setThreadMisuseRunner(&runOnAnotherThread);
            LambdaThread thread([](LambdaThread&) {});
            thread.create();
        },
        "runner: on another thread\n.*thread object destroyed before its thread finished");
}

TEST_F(ThreadMisuseTest, ARunnerThatReturnsStillStopsTheProcess) {
    EXPECT_DEATH(
        {
            setThreadMisuseRunner(&runNothing);
            LambdaThread thread([](LambdaThread& self) { self.waitFor(); });
            thread.run();
            Sleep(kWaitMs);
        },
        "runner: declined");
}

}  // namespace
