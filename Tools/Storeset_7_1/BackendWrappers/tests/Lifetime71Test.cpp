// A 7.1 wrapper's life: every AddRef and Release reaches the backend object
// and returns its count, the wrapper's own count decides when it goes, its
// end makes no backend call; QueryInterface forwards one AddRef for its own
// faces and wraps anew for the rest.
#include <latch>
#include <thread>

#include "Fakes.h"
#include "Watchdog.h"
#include "winplat/inject.h"

namespace {

using namespace BackendWrappers;
using fakes::Observed;

template <class W>
typename W::Interface* wrap(typename W::Interface* backend, bool direct = false) {
    typename W::Interface* face = nullptr;
    EXPECT_EQ(createTypedWrapper<W>(backend, &face, direct, OutOfThreadCaller::instance()), S_OK);
    return face;
}

class Counting71 : public ::testing::TestWithParam<bool> {};

TEST_P(Counting71, EveryAddRefAndReleaseReachesTheBackendAndTheLastOneEndsBoth) {
    Watchdog watchdog;
    const bool direct = GetParam();
    std::atomic<bool> gone{false};
    auto* backend = new Observed(&gone);
    IUnknown* wrapper = wrap<UnknownWrapper>(backend, direct);
    EXPECT_EQ(backend->refs, 1u);  // made without a backend call
    const int n = 3;
    for (int i = 1; i <= n; ++i) {
        EXPECT_EQ(wrapper->AddRef(), static_cast<ULONG>(1 + i));
    }
    for (int i = n; i >= 1; --i) {
        EXPECT_EQ(wrapper->Release(), static_cast<ULONG>(i));
        EXPECT_EQ(backend->releaseThread == GetCurrentThreadId(), direct);
    }
    EXPECT_FALSE(gone);
    EXPECT_EQ(wrapper->Release(), 0u);  // the (n+1)th: the backend goes, and the wrapper with it
    EXPECT_TRUE(gone);
}

TEST_P(Counting71, TheBackendsCountIsReturnedAndTheWrappersOwnCountDecides) {
    Watchdog watchdog;
    std::atomic<bool> gone{false};
    auto* backend = new Observed(&gone);
    backend->AddRef();  // a reference the wrapper does not know of
    IUnknown* wrapper = wrap<UnknownWrapper>(backend, GetParam());
    EXPECT_EQ(wrapper->AddRef(), 3u);
    EXPECT_EQ(wrapper->Release(), 2u);
    EXPECT_EQ(wrapper->Release(), 1u);  // the wrapper's own count reached 0: it is gone
    EXPECT_FALSE(gone);
    EXPECT_EQ(backend->refs, 1u);  // its end made no backend call
    backend->Release();
    EXPECT_TRUE(gone);
}

INSTANTIATE_TEST_SUITE_P(Modes, Counting71, ::testing::Values(false, true),
                         [](const auto& info) { return info.param ? "Direct" : "OnCallingThreads"; });

TEST(Wrapper71, QueryForwardsOneAddRefForItsOwnFacesAndWrapsAnewForTheRest) {
    Watchdog watchdog;
    const long live = fakes::liveObjects();
    auto* fake = new fakes::FakeDbFolderWrapper;
    IDbFolder* folder = wrap<DbFolderWrapper>(fake);
    for (const IID* own : {&IID_IDbFolder, &IID_IBackendWrapper}) {
        void* same = nullptr;
        const ULONG before = fake->refs;
        ASSERT_EQ(folder->QueryInterface(*own, &same), S_OK);
        EXPECT_EQ(fake->refs, before + 1);
        EXPECT_EQ(fakes::wrappedOf(static_cast<IUnknown*>(same)),
                  static_cast<IUnknown*>(static_cast<IDbFolder*>(fake)));
        static_cast<IUnknown*>(same)->Release();
        EXPECT_EQ(fake->refs, before);
    }
    // IUnknown is one of the set: a new UnknownWrapper, which answers it itself.
    IUnknown* unknown = nullptr;
    ASSERT_EQ(folder->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&unknown)), S_OK);
    EXPECT_NE(static_cast<void*>(unknown), static_cast<void*>(folder));
    IUnknown* itself = nullptr;
    ASSERT_EQ(unknown->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&itself)), S_OK);
    EXPECT_EQ(itself, unknown);
    itself->Release();
    unknown->Release();
    // Refusals make no backend call and write nothing.
    const ULONG before = fake->refs;
    void* none = fakes::Prefill;
    EXPECT_EQ(folder->QueryInterface(IID_IDbFolder, nullptr), E_INVALIDARG);
    EXPECT_EQ(folder->QueryInterface(IID_IMarshal, &none), E_NOINTERFACE);
    EXPECT_EQ(none, fakes::Prefill);
    EXPECT_EQ(fake->refs, before);
    // GetWrapped: without a reference, or with one that reaches the backend.
    IBackendWrapper* bw = nullptr;
    ASSERT_EQ(folder->QueryInterface(IID_IBackendWrapper, reinterpret_cast<void**>(&bw)), S_OK);
    IUnknown* inner = nullptr;
    EXPECT_EQ(bw->GetWrapped(nullptr, false), E_POINTER);
    EXPECT_EQ(bw->GetWrapped(&inner, false), S_OK);
    EXPECT_EQ(fake->refs, before + 1);
    EXPECT_EQ(bw->GetWrapped(&inner, true), S_OK);
    EXPECT_EQ(fake->refs, before + 2);
    bw->Release();
    bw->Release();
    folder->Release();
    EXPECT_EQ(fakes::liveObjects(), live);
}

// AddRef and Release must not fail: with no calling thread to be had, they
// run in place.
TEST(Wrapper71, CountingRunsInPlaceWhenNoCallingThreadCanBeMade) {
    Watchdog watchdog;
    winplat::inject::Scope scope;
    std::atomic<bool> gone{false};
    auto* backend = new Observed(&gone);
    IUnknown* wrapper = wrap<UnknownWrapper>(backend);
    auto caller = OutOfThreadCaller::instance();
    std::vector<CallingThreadPool::Position> busy;
    for (size_t i = caller->pool().size(); i > 0; --i) {
        busy.push_back(caller->pool().acquireThread());
    }
    winplat::inject::arm("_beginthreadex", ERROR_NOT_ENOUGH_MEMORY, -1);
    EXPECT_EQ(wrapper->AddRef(), 2u);
    EXPECT_EQ(wrapper->Release(), 1u);
    EXPECT_EQ(wrapper->Release(), 0u);
    EXPECT_TRUE(gone);
    winplat::inject::reset();
    for (auto position : busy) {
        caller->pool().releaseThread(position);
    }
}

// Four threads counting one wrapper: nothing lost, nothing freed early.
TEST(Wrapper71, CountsBalanceUnderFourThreads) {
    Watchdog watchdog;
    std::atomic<bool> gone{false};
    auto* backend = new Observed(&gone);
    IUnknown* wrapper = wrap<UnknownWrapper>(backend);
    std::latch start(4);
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&] {
            start.arrive_and_wait();
            for (int i = 0; i < 200; ++i) {
                wrapper->AddRef();
                void* p = nullptr;
                if (wrapper->QueryInterface(IID_IBackendWrapper, &p) == S_OK) {
                    static_cast<IUnknown*>(p)->Release();
                }
                wrapper->Release();
            }
        });
    }
    for (auto& t : threads) {
        t.join();
    }
    EXPECT_EQ(backend->refs, 1u);
    EXPECT_FALSE(gone);
    wrapper->Release();
    EXPECT_TRUE(gone);
}

}  // namespace
