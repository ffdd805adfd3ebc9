#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "CommonBase/Holders.h"
#include "CommonBase/Locker.h"
#include "CommonBase/XMutex.h"
#include "winplat/inject.h"
#include "winplat/oleauto.h"
#include "winplat/registry.h"
#include "winplat/windows.h"

namespace {

// A free routine that records what it is given and fails on request.
std::vector<void*> freed;
void* failFor = nullptr;
ULONG STDMETHODCALLTYPE recordingFree(LPVOID block) {
    freed.push_back(block);
    return block == failFor ? static_cast<ULONG>(E_FAIL) : 0u;
}

struct CountingUnknown : IUnknown {
    int releases = 0;
    STDMETHOD(QueryInterface)(REFIID, void**) override { return E_NOINTERFACE; }
    STDMETHOD_(ULONG, AddRef)() override { return 2; }
    STDMETHOD_(ULONG, Release)() override { return static_cast<ULONG>(++releases); }
};

}  // namespace

TEST(Holders, ScopedMapiBufferAndBstr) {
    freed.clear();
    int a = 0, b = 0;
    { ScopedMapiBuffer owned(recordingFree, &a); }
    { ScopedMapiBuffer notOwned(recordingFree, &b, false); }
    { ScopedMapiBuffer none(recordingFree, nullptr); }
    { ScopedMapiBuffer noRoutine(nullptr, &b); }
    ASSERT_EQ(freed.size(), 1u);
    EXPECT_EQ(freed[0], &a);

    int64_t before = winplat::com::liveBstrCount();
    { BstrHolder h(SysAllocString(L"text")); }
    { BstrHolder empty(nullptr); }
    EXPECT_EQ(winplat::com::liveBstrCount(), before);
}

TEST(Holders, ScopedMapiArrayFreesElementsThenRecord) {
    SPropValue values[2] = {};
    _SPropValueArray record{2, values};
    freed.clear();
    failFor = nullptr;
    {
        ScopedMapiArray<_SPropValueArray> holder(recordingFree, &record);
        EXPECT_EQ(holder.release(), 0u);
        EXPECT_EQ(holder.get(), nullptr);
        EXPECT_EQ(holder.release(), 0u);  // nothing left to free
    }
    ASSERT_EQ(freed.size(), 2u);
    EXPECT_EQ(freed[0], static_cast<void*>(values));
    EXPECT_EQ(freed[1], static_cast<void*>(&record));

    // An element free that fails keeps the record and is reported.
    freed.clear();
    failFor = values;
    {
        ScopedMapiArray<_SPropValueArray> holder(recordingFree, &record);
        EXPECT_EQ(holder.release(), static_cast<ULONG>(E_FAIL));
    }
    ASSERT_EQ(freed.size(), 1u);
    EXPECT_EQ(freed[0], static_cast<void*>(values));

    // Dropping frees too; a record that is not owned is left alone.
    freed.clear();
    failFor = nullptr;
    { ScopedMapiArray<_SPropValueArray> dropped(recordingFree, &record); }
    EXPECT_EQ(freed.size(), 2u);
    freed.clear();
    { ScopedMapiArray<_SPropValueArray> notOwned(recordingFree, &record, false); }
    EXPECT_TRUE(freed.empty());
}

TEST(Holders, ScopeGuardAndRelease) {
    int runs = 0;
    {
        auto guard = ScopeGuard::make([&] { ++runs; });
    }
    EXPECT_EQ(runs, 1);
    {
        auto guard = ScopeGuard::make([&] { ++runs; });
        guard.dismiss();
    }
    EXPECT_EQ(runs, 1);
    try {
        auto guard = ScopeGuard::make([&] { ++runs; });
        throw std::runtime_error("x");
    } catch (const std::runtime_error&) {
    }
    EXPECT_EQ(runs, 2);

    CountingUnknown object;
    IUnknown* p = &object;
    releaseIfNotNull(&p);
    EXPECT_EQ(object.releases, 1);
    EXPECT_EQ(p, &object);  // the pointer is kept
    IUnknown* none = nullptr;
    releaseIfNotNull(&none);
    EXPECT_EQ(object.releases, 1);
}

class RegistryKeyTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, L"Software\\CommonBaseTest", 0, nullptr, 0,
                                  KEY_ALL_ACCESS, nullptr, key.receive(), nullptr),
                  ERROR_SUCCESS);
    }
    void TearDown() override {
        key.close();
        RegDeleteKeyW(HKEY_CURRENT_USER, L"Software\\CommonBaseTest");
    }
    void setValue(const wchar_t* name, DWORD type, const void* data, DWORD bytes) {
        ASSERT_EQ(RegSetValueExW(key.get(), name, 0, type, static_cast<const BYTE*>(data), bytes),
                  ERROR_SUCCESS);
    }

    RegistryKey key;
};

TEST_F(RegistryKeyTest, QueryStringValue) {
    const wchar_t text[] = L"hello";
    setValue(L"sz", REG_SZ, text, sizeof(text));
    wchar_t buffer[16];
    ULONG length = 16;
    EXPECT_EQ(key.queryStringValue(L"sz", buffer, &length), ERROR_SUCCESS);
    EXPECT_EQ(length, 6u);
    EXPECT_STREQ(buffer, L"hello");

    setValue(L"expand", REG_EXPAND_SZ, L"%TEMP%", 7 * sizeof(wchar_t));
    length = 16;
    EXPECT_EQ(key.queryStringValue(L"expand", buffer, &length), ERROR_SUCCESS);
    EXPECT_STREQ(buffer, L"%TEMP%");  // unexpanded

    // Measuring with a null buffer.
    length = 0;
    EXPECT_EQ(key.queryStringValue(L"sz", nullptr, &length), ERROR_SUCCESS);
    EXPECT_EQ(length, 6u);

    // Too small: the registry's error, and the length stays 0.
    length = 3;
    EXPECT_EQ(key.queryStringValue(L"sz", buffer, &length), ERROR_MORE_DATA);
    EXPECT_EQ(length, 0u);

    length = 16;
    EXPECT_EQ(key.queryStringValue(L"missing", buffer, &length), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(length, 0u);
}

TEST_F(RegistryKeyTest, QueryStringValueRefusesWhatIsNotText) {
    wchar_t buffer[16];
    ULONG length = 16;
    setValue(L"unterminated", REG_SZ, L"abc", 3 * sizeof(wchar_t));
    EXPECT_EQ(key.queryStringValue(L"unterminated", buffer, &length), ERROR_INVALID_DATA);
    EXPECT_EQ(length, 0u);

    DWORD number = 5;
    setValue(L"dword", REG_DWORD, &number, sizeof(number));
    length = 16;
    EXPECT_EQ(key.queryStringValue(L"dword", buffer, &length), ERROR_INVALID_DATA);
}

TEST_F(RegistryKeyTest, EmptyValueAndZeroCapacity) {
    setValue(L"empty", REG_SZ, L"", 0);
    wchar_t buffer[4] = {L'x', L'x', L'x', L'x'};
    ULONG length = 4;
    EXPECT_EQ(key.queryStringValue(L"empty", buffer, &length), ERROR_SUCCESS);
    EXPECT_EQ(length, 0u);
    EXPECT_EQ(buffer[0], L'\0');

    // A buffer of capacity 0 is never written, not even a terminator.
    wchar_t guard[2] = {L'g', L'g'};
    length = 0;
    EXPECT_EQ(key.queryStringValue(L"empty", guard, &length), ERROR_SUCCESS);
    EXPECT_EQ(length, 0u);
    EXPECT_EQ(guard[0], L'g');
}

TEST(Holders, RegistryKeyCloseTwice) {
    RegistryKey key;
    ASSERT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, L"Software\\CommonBaseClose", 0, nullptr, 0, KEY_ALL_ACCESS,
                              nullptr, key.receive(), nullptr),
              ERROR_SUCCESS);
    EXPECT_EQ(key.close(), ERROR_SUCCESS);
    EXPECT_EQ(key.get(), nullptr);
    EXPECT_EQ(key.close(), ERROR_SUCCESS);
    RegDeleteKeyW(HKEY_CURRENT_USER, L"Software\\CommonBaseClose");
}

TEST(Holders, InvalidParameterGuard) {
    EXPECT_TRUE(InvalidParameterGuard::ensure());
    EXPECT_EQ(InvalidParameterGuard::instance(), InvalidParameterGuard::instance());
}

namespace {

class CountingMutex : public tavlo::tiny::XMutex {
  public:
    int locks = 0, tries = 0, unlocks = 0;
    void lock() override {
        ++locks;
        XMutex::lock();
    }
    bool tryLock() override {
        ++tries;
        return XMutex::tryLock();
    }
    void unlock() override {
        ++unlocks;
        XMutex::unlock();
    }
};

}  // namespace

TEST(XMutex, ForwardersGoThroughTheOverrides) {
    CountingMutex m;
    m.lockShared();
    m.lockUpgradable();
    m.lockUpgrade();
    EXPECT_TRUE(m.tryLockShared());
    EXPECT_TRUE(m.tryLockUpgradable());
    for (int i = 0; i < 4; ++i)
        m.unlockShared();
    m.unlock();
    EXPECT_EQ(m.locks, 3);
    EXPECT_EQ(m.tries, 2);
    EXPECT_EQ(m.unlocks, 5);
}

TEST(XMutex, TryLockFromAnotherThreadFailsWhileHeld) {
    tavlo::tiny::XMutex m;
    m.lock();
    m.lock();  // recursive
    bool other = true;
    std::thread([&] { other = m.tryLock(); }).join();
    EXPECT_FALSE(other);
    m.unlock();
    m.unlock();
    std::thread([&] {
        other = m.tryLock();
        if (other)
            m.unlock();
    }).join();
    EXPECT_TRUE(other);
}

TEST(XMutex, CreationWithoutMemory) {
    winplat::inject::Scope scope;
    winplat::inject::arm("XMutex::XMutex", 0xC0000017);
    try {
        tavlo::tiny::XMutex m;
        FAIL() << "no error";
    } catch (const std::runtime_error& e) {
        EXPECT_STREQ(e.what(), "Insufficient memory exists to initialize the mutex.");
    }
    tavlo::tiny::XMutex fine;  // one failure only
}

TEST(XMutex, MutualExclusionUnderContention) {
    tavlo::tiny::XMutex m;
    Utilities::Locker locker;
    long counter = 0, lockerCounter = 0;
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t)
        threads.emplace_back([&] {
            for (int i = 0; i < 5000; ++i) {
                tavlo::tiny::XMutexGuard guard(m);
                ++counter;
                locker.enter();
                ++lockerCounter;
                locker.leave();
            }
        });
    for (auto& t : threads)
        t.join();
    EXPECT_EQ(counter, 20000);
    EXPECT_EQ(lockerCounter, 20000);
}

TEST(Locker, IsRecursiveAndExclusive) {
    Utilities::Locker locker;
    locker.enter();
    locker.enter();
    bool entered = true;
    std::thread([&] {
        entered = TryEnterCriticalSection(locker.section()) != FALSE;
        if (entered)
            locker.leave();
    }).join();
    EXPECT_FALSE(entered);
    locker.leave();
    locker.leave();
    Utilities::Locker* owned = new Utilities::Locker;
    delete owned;  // through its virtual destructor
}
