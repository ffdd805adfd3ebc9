#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

#include "Threads/CLock.h"

struct CLockTestAccess {
    static CLockRecord* record(const CLock& lock) { return lock.record_; }
    static LONG count(const CLock& lock) { return __atomic_load_n(&lock.record_->count, __ATOMIC_SEQ_CST); }
    static bool isDefault(const CLock& lock) { return lock.record_ == clock_detail::defaultRecord(); }
    // Whether a thread is queued on the lock (its section held with waiters).
    static bool hasWaiter(const CLock& lock) {
        return __atomic_load_n(&lock.record_->section.LockCount, __ATOMIC_ACQUIRE) == 2;
    }
    // Whether another thread could enter the lock right now.
    static bool freeForOthers(const CLock& lock) {
        bool entered = false;
        std::thread other([&] {
            entered = TryEnterCriticalSection(&lock.record_->section) != FALSE;
            if (entered) {
                LeaveCriticalSection(&lock.record_->section);
            }
        });
        other.join();
        return entered;
    }
};

namespace {

using Access = CLockTestAccess;

TEST(CLockTest, CopiesShareOneCountedRecord) {
    CLock a(true);
    EXPECT_FALSE(Access::isDefault(a));
    EXPECT_EQ(Access::count(a), 1);
    {
        CLock b(a);
        EXPECT_EQ(Access::record(b), Access::record(a));
        EXPECT_EQ(Access::count(a), 2);
        CLock c(false);
        c = b;
        EXPECT_EQ(Access::record(c), Access::record(a));
        EXPECT_EQ(Access::count(a), 3);
    }
    EXPECT_EQ(Access::count(a), 1);
}

TEST(CLockTest, DefaultRecordIsSharedAndNeverCounted) {
    CLock a(false);
    CLock b(false);
    EXPECT_TRUE(Access::isDefault(a));
    EXPECT_EQ(Access::record(a), Access::record(b));
    EXPECT_EQ(Access::count(a), 1);
    {
        CLock c(a);
        CLock d(true);
        d = b;
        EXPECT_EQ(Access::record(c), Access::record(a));
        EXPECT_EQ(Access::record(d), Access::record(a));
        EXPECT_EQ(Access::count(a), 1);
    }
    EXPECT_EQ(Access::count(a), 1);
    // Still a working lock after all of that.
    {
        CLockGuard guard(a);
        EXPECT_FALSE(Access::freeForOthers(b));
    }
    EXPECT_TRUE(Access::freeForOthers(b));
}

TEST(CLockTest, AssignmentBetweenSharersKeepsTheCount) {
    CLock a(true);
    CLock b(a);
    EXPECT_EQ(Access::count(a), 2);
    b = a;
    a = b;
    EXPECT_EQ(Access::record(a), Access::record(b));
    EXPECT_EQ(Access::count(a), 2);
}

TEST(CLockTest, SelfAssignmentOfTheOnlyHandleKeepsItsRecord) {
    CLock a(true);
    CLockRecord* before = Access::record(a);
    CLock& alias = a;
    a = alias;
    EXPECT_EQ(Access::record(a), before);
    EXPECT_EQ(Access::count(a), 1);
    CLockGuard guard(a);
    EXPECT_FALSE(Access::freeForOthers(a));
}

TEST(CLockTest, AssigningAwayTheLastHandleFreesOnlyThatRecord) {
    CLock a(true);
    CLock keep(true);
    CLock other(keep);
    // a held the last handle on its record: under ASan a record not freed
    // here is reported as a leak, one freed twice as a double free.
    a = CLock(false);
    EXPECT_TRUE(Access::isDefault(a));
    a = other;
    EXPECT_EQ(Access::count(keep), 3);
}

TEST(CLockTest, DroppingTheFirstHandleKeepsTheLockThroughACopy) {
    auto* first = new CLock(true);
    CLock copy(*first);
    delete first;
    EXPECT_EQ(Access::count(copy), 1);
    CLockGuard guard(copy);
    EXPECT_FALSE(Access::freeForOthers(copy));
}

TEST(CLockTest, CopiesExcludeEachOther) {
    CLock a(true);
    CLock b(a);
    EXPECT_TRUE(Access::freeForOthers(b));
    a.lock();
    EXPECT_FALSE(Access::freeForOthers(b));
    a.unlock();
    EXPECT_TRUE(Access::freeForOthers(b));

    // A thread entering through its own copy waits until the holder leaves.
    std::atomic<bool> inside{false};
    a.lock();
    std::thread other([&, copy = b] {
        CLockGuard guard(copy);
        inside = true;
    });
    while (!Access::hasWaiter(a)) {
        std::this_thread::yield();
    }
    EXPECT_FALSE(inside.load());
    a.unlock();
    other.join();
    EXPECT_TRUE(inside.load());
}

TEST(CLockTest, ReentryNeedsAsManyLeaves) {
    CLock a(true);
    {
        CLockGuard outer(a);
        {
            CLockGuard inner(&a);
            EXPECT_FALSE(Access::freeForOthers(a));
        }
        EXPECT_FALSE(Access::freeForOthers(a));
    }
    EXPECT_TRUE(Access::freeForOthers(a));
}

TEST(CLockTest, GuardLeavesWhenAnExceptionPasses) {
    CLock a(true);
    try {
        CLockGuard guard(a);
        throw 1;
    } catch (int) {
    }
    EXPECT_TRUE(Access::freeForOthers(a));
}

TEST(CLockTest, ConcurrentCopiesAndDropsCountExactly) {
    CLock shared(true);
    std::vector<std::thread> threads;
    for (int t = 0; t < 8; ++t) {
        threads.emplace_back([mine = shared] {
            for (int i = 0; i < 5000; ++i) {
                CLock copy(mine);
                CLock assigned(false);
                assigned = copy;
                CLockGuard guard(assigned);
            }
        });
    }
    for (auto& thread : threads) {
        thread.join();
    }
    EXPECT_EQ(Access::count(shared), 1);
}

}  // namespace
