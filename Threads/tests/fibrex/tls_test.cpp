#include <gtest/gtest.h>

#include <dlfcn.h>

#include <atomic>
#include <cstdint>
#include <memory>
#include <thread>
#include <vector>

#include "winplat/windows.h"
#include "winplat/inject.h"
#include "Threads/ThreadLocalStorageHelper.h"
#include "thread_test_util.h"

struct ThreadLocalStorageHelperTestAccess {
    static std::unique_ptr<ThreadLocalStorageHelper> make() {
        return std::unique_ptr<ThreadLocalStorageHelper>(new ThreadLocalStorageHelper());
    }
    static DWORD myThread(const ThreadLocalStorageHelper& helper) { return helper.myThread_; }
    static size_t keyCount(const ThreadLocalStorageHelper& helper) { return helper.keys_.size(); }
    static DWORD index(const ThreadLocalStorageHelper& helper, const GUID& key) {
        auto found = helper.keys_.find(key);
        return found == helper.keys_.end() ? TLS_OUT_OF_INDEXES : found->second;
    }
};

namespace {

using Access = ThreadLocalStorageHelperTestAccess;
using thread_test::LambdaThread;
using thread_test::runToEnd;

GUID key(uint8_t last, uint8_t first = 0x42) {
    return GUID{0x11223344u + first, 0x5566, 0x7788, {0x99, 0xAA, 0xBB, 0xCC, 0xDD, 0xEE, 0xF0, last}};
}

int valueA, valueB, valueC;

// Whether `index` is an allocated slot right now.
bool allocated(DWORD index) {
    SetLastError(ERROR_INVALID_FUNCTION);
    TlsGetValue(index);
    return GetLastError() == ERROR_SUCCESS;
}

TEST(TlsHelperTest, ValuesArePerThreadAndPerKey) {
    auto helper = Access::make();
    const GUID first = key(1);
    const GUID second = key(2);  // differs only in its last byte
    EXPECT_TRUE(helper->fillKeyValue(first, &valueA));
    EXPECT_TRUE(helper->fillKeyValue(second, &valueB));
    EXPECT_NE(Access::index(*helper, first), Access::index(*helper, second));
    EXPECT_EQ(helper->getKeyValue(first), &valueA);
    EXPECT_EQ(helper->getKeyValue(second), &valueB);

    const DWORD firstSlot = Access::index(*helper, first);
    std::thread other([&] {
        // Filled by the main thread only: nothing here yet.
        EXPECT_EQ(helper->getKeyValue(first), nullptr);
        EXPECT_TRUE(helper->fillKeyValue(first, &valueC));
        EXPECT_EQ(helper->getKeyValue(first), &valueC);
    });
    other.join();
    EXPECT_EQ(Access::index(*helper, first), firstSlot);
    EXPECT_EQ(Access::keyCount(*helper), 2u);
    EXPECT_EQ(helper->getKeyValue(first), &valueA);

    helper->resetKeyValue(first);
    EXPECT_EQ(helper->getKeyValue(first), nullptr);
    EXPECT_EQ(helper->getKeyValue(second), &valueB);
    EXPECT_TRUE(helper->fillKeyValue(first, &valueB));
    EXPECT_EQ(helper->getKeyValue(first), &valueB);
}

TEST(TlsHelperTest, AbsentKeysReadNullAndResetAllocatesNothing) {
    winplat::inject::Scope scope;
    auto helper = Access::make();
    const int64_t allocations = winplat::inject::calls("TlsAlloc");
    EXPECT_EQ(helper->getKeyValue(key(7)), nullptr);
    helper->resetKeyValue(key(7));
    EXPECT_EQ(winplat::inject::calls("TlsAlloc"), allocations);
    EXPECT_EQ(Access::keyCount(*helper), 0u);
}

TEST(TlsHelperTest, FailedSlotAllocationLeavesTheKeyAbsent) {
    winplat::inject::Scope scope;
    auto helper = Access::make();
    winplat::inject::arm("TlsAlloc", ERROR_NO_MORE_ITEMS);
    EXPECT_FALSE(helper->fillKeyValue(key(3), &valueA));
    EXPECT_EQ(Access::keyCount(*helper), 0u);
    EXPECT_EQ(helper->getKeyValue(key(3)), nullptr);
    // The next call tries again.
    EXPECT_TRUE(helper->fillKeyValue(key(3), &valueA));
    EXPECT_EQ(helper->getKeyValue(key(3)), &valueA);
}

TEST(TlsHelperTest, WithoutAMyThreadSlotNoThreadIsMarked) {
    winplat::inject::Scope scope;
    winplat::inject::arm("TlsAlloc", ERROR_NO_MORE_ITEMS);
    auto helper = Access::make();
    EXPECT_EQ(Access::myThread(*helper), TLS_OUT_OF_INDEXES);
    helper->fillMyThread();
    EXPECT_FALSE(helper->isMyThread());
    // Keys still work.
    EXPECT_TRUE(helper->fillKeyValue(key(4), &valueA));
}

TEST(TlsHelperTest, ClearIndexesFreesEverySlotAndForgetsEveryKey) {
    winplat::inject::Scope scope;
    auto helper = Access::make();
    helper->fillMyThread();
    EXPECT_TRUE(helper->isMyThread());
    const DWORD mine = Access::myThread(*helper);
    ASSERT_TRUE(helper->fillKeyValue(key(5), &valueA));
    ASSERT_TRUE(helper->fillKeyValue(key(6), &valueB));
    const DWORD first = Access::index(*helper, key(5));
    const DWORD second = Access::index(*helper, key(6));

    helper->clearIndexes();
    EXPECT_FALSE(allocated(mine));
    EXPECT_FALSE(allocated(first));
    EXPECT_FALSE(allocated(second));
    EXPECT_EQ(Access::myThread(*helper), TLS_OUT_OF_INDEXES);
    EXPECT_FALSE(helper->isMyThread());
    EXPECT_EQ(Access::keyCount(*helper), 0u);
    EXPECT_EQ(helper->getKeyValue(key(5)), nullptr);

    // The next fill allocates a fresh slot.
    const int64_t allocations = winplat::inject::calls("TlsAlloc");
    ASSERT_TRUE(helper->fillKeyValue(key(5), &valueC));
    EXPECT_EQ(winplat::inject::calls("TlsAlloc"), allocations + 1);
    EXPECT_EQ(helper->getKeyValue(key(5)), &valueC);
    // A second clear, and the destructor after it, free nothing twice.
    helper->clearIndexes();
    helper.reset();
}

TEST(TlsHelperTest, ClearIndexesFreesAMyThreadSlotOfIndexZero) {
    const DWORD lowest = TlsAlloc();
    ASSERT_NE(lowest, TLS_OUT_OF_INDEXES);
    TlsFree(lowest);
    if (lowest != 0) {
        GTEST_SKIP() << "slot 0 is taken in this process; the test needs a process of its own";
    }
    auto helper = Access::make();
    ASSERT_EQ(Access::myThread(*helper), 0u);
    helper->clearIndexes();
    EXPECT_FALSE(allocated(0));
    EXPECT_EQ(Access::myThread(*helper), TLS_OUT_OF_INDEXES);
}

TEST(TlsHelperTest, CopiesShareTheSlotsAndOnlyTheLastFreesThem) {
    auto helper = Access::make();
    ASSERT_TRUE(helper->fillKeyValue(key(8), &valueA));
    const DWORD mine = Access::myThread(*helper);
    const DWORD slot = Access::index(*helper, key(8));

    auto copy = std::make_unique<ThreadLocalStorageHelper>(*helper);
    EXPECT_EQ(Access::myThread(*copy), mine);
    EXPECT_EQ(Access::index(*copy, key(8)), slot);
    // A slot the copy allocates later is shared too.
    ASSERT_TRUE(copy->fillKeyValue(key(9), &valueB));
    const DWORD later = Access::index(*copy, key(9));

    helper.reset();
    EXPECT_TRUE(allocated(mine));
    EXPECT_TRUE(allocated(slot));
    EXPECT_TRUE(allocated(later));
    EXPECT_EQ(copy->getKeyValue(key(8)), &valueA);

    // Someone else's slot must survive the last copy's going.
    const DWORD foreign = TlsAlloc();
    ASSERT_NE(foreign, TLS_OUT_OF_INDEXES);
    EXPECT_NE(foreign, slot);
    copy.reset();
    EXPECT_FALSE(allocated(mine));
    EXPECT_FALSE(allocated(slot));
    EXPECT_FALSE(allocated(later));
    EXPECT_TRUE(allocated(foreign));
    TlsFree(foreign);
}

TEST(TlsHelperTest, AssignmentJoinsTheSourceAndGivesUpTheOldSlots) {
    auto source = Access::make();
    auto target = Access::make();
    ASSERT_TRUE(source->fillKeyValue(key(10), &valueA));
    ASSERT_TRUE(target->fillKeyValue(key(11), &valueB));
    const DWORD oldMine = Access::myThread(*target);
    const DWORD oldSlot = Access::index(*target, key(11));
    const DWORD slot = Access::index(*source, key(10));

    *target = *source;
    // The target was the only owner of its old slots.
    EXPECT_FALSE(allocated(oldMine));
    EXPECT_FALSE(allocated(oldSlot));
    EXPECT_EQ(Access::myThread(*target), Access::myThread(*source));
    EXPECT_EQ(target->getKeyValue(key(10)), &valueA);
    EXPECT_EQ(target->getKeyValue(key(11)), nullptr);

    ThreadLocalStorageHelper& alias = *target;
    *target = alias;
    EXPECT_EQ(Access::keyCount(*target), 1u);
    EXPECT_EQ(target->getKeyValue(key(10)), &valueA);

    source.reset();
    EXPECT_TRUE(allocated(slot));
    target.reset();
    EXPECT_FALSE(allocated(slot));
}

TEST(TlsHelperTest, OneKeyFilledFromManyThreadsGetsOneSlot) {
    auto helper = Access::make();
    std::atomic<bool> go{false};
    std::vector<std::thread> threads;
    std::atomic<int> good{0};
    for (int i = 0; i < 8; ++i) {
        threads.emplace_back([&, i] {
            while (!go.load()) {
                std::this_thread::yield();
            }
            int mine = i;
            if (helper->fillKeyValue(key(12), &mine) && helper->getKeyValue(key(12)) == &mine) {
                ++good;
            }
        });
    }
    go = true;
    for (auto& thread : threads) {
        thread.join();
    }
    EXPECT_EQ(good.load(), 8);
    EXPECT_EQ(Access::keyCount(*helper), 1u);
}

TEST(TlsHelperTest, ManyFirstCallersGetOneHelper) {
    std::atomic<bool> go{false};
    std::vector<std::thread> threads;
    std::vector<ThreadLocalStorageHelper*> seen(16, nullptr);
    for (size_t i = 0; i < seen.size(); ++i) {
        threads.emplace_back([&, i] {
            while (!go.load()) {
                std::this_thread::yield();
            }
            seen[i] = &threadLocalStorageHelper();
        });
    }
    go = true;
    for (auto& thread : threads) {
        thread.join();
    }
    ThreadLocalStorageHelper* helper = &threadLocalStorageHelper();
    for (ThreadLocalStorageHelper* one : seen) {
        EXPECT_EQ(one, helper);
    }

    // The exported statics describe that one helper.
    void* inner =
        dlsym(RTLD_DEFAULT, "_ZZ24threadLocalStorageHelpervE36__safeStaticInner_threadLocalStorage");
    auto** pointer = static_cast<ThreadLocalStorageHelper**>(
        dlsym(RTLD_DEFAULT, "_ZZ24threadLocalStorageHelpervE34__safeStaticPtr_threadLocalStorage"));
    auto* guard = static_cast<uint64_t*>(
        dlsym(RTLD_DEFAULT, "_ZGVZ24threadLocalStorageHelpervE36__safeStaticInner_threadLocalStorage"));
    ASSERT_NE(inner, nullptr);
    ASSERT_NE(pointer, nullptr);
    ASSERT_NE(guard, nullptr);
    EXPECT_EQ(inner, static_cast<void*>(helper));
    EXPECT_EQ(*pointer, helper);
    EXPECT_EQ(*guard & 1, 1u);
}

unsigned plainThreadProc(void* result) {
    *static_cast<bool*>(result) = threadLocalStorageHelper().isMyThread();
    return 0;
}

TEST(TlsHelperTest, OnlyTheLibrarysThreadsAreMarked) {
    std::atomic<bool> marked{false};
    LambdaThread library([&](LambdaThread&) { marked = threadLocalStorageHelper().isMyThread(); });
    ASSERT_TRUE(runToEnd(library));
    EXPECT_TRUE(marked.load());

    EXPECT_FALSE(threadLocalStorageHelper().isMyThread());
    bool standard = true;
    std::thread([&] { standard = threadLocalStorageHelper().isMyThread(); }).join();
    EXPECT_FALSE(standard);

    bool platform = true;
    unsigned id = 0;
    HANDLE handle = reinterpret_cast<HANDLE>(_beginthreadex(nullptr, 0, &plainThreadProc, &platform, 0, &id));
    ASSERT_NE(handle, nullptr);
    ASSERT_TRUE(thread_test::signalled(handle));
    CloseHandle(handle);
    EXPECT_FALSE(platform);
}

}  // namespace
