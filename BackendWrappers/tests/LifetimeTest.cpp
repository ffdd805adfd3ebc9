// QueryInterface and a wrapper's life when it counts its own references:
// what the last Release does, and counts under several threads.
#include <latch>
#include <thread>

#include "Fakes.h"
#include "Watchdog.h"

namespace {

using namespace BackendWrappers;
using fakes::Observed;

TEST(Wrapper, QueryAnswersItselfForItsOwnFacesAndWrapsAnewForTheRest) {
    Watchdog watchdog;
    auto* fake = new fakes::FakeDbMsgStoreWrapper;
    IDbMsgStore* store = nullptr;
    ASSERT_EQ(createTypedWrapper<DbMsgStoreWrapper>(fake, &store, false, OutOfThreadCaller::instance()),
              S_OK);
    void* a = nullptr;
    void* b = nullptr;
    ASSERT_EQ(store->QueryInterface(IID_IBackendWrapper, &a), S_OK);
    ASSERT_EQ(store->QueryInterface(IID_IDbMsgStore, &b), S_OK);
    EXPECT_EQ(b, store);
    EXPECT_EQ(static_cast<IUnknown*>(a),
              static_cast<IBackendWrapper*>(static_cast<DbMsgStoreWrapper*>(store)));
    EXPECT_EQ(store->AddRef(), 4u);
    store->Release();
    static_cast<IUnknown*>(a)->Release();
    static_cast<IUnknown*>(b)->Release();
    for (const IID* iid : {&IID_IUnknown, &IID_IDbMapiProps, &IID_IDbObject}) {
        void* first = nullptr;
        void* second = nullptr;
        ASSERT_EQ(store->QueryInterface(*iid, &first), S_OK);
        ASSERT_EQ(store->QueryInterface(*iid, &second), S_OK);
        EXPECT_NE(first, second);
        EXPECT_NE(first, static_cast<void*>(store));
        EXPECT_EQ(fakes::wrappedOf(static_cast<IUnknown*>(first)),
                  static_cast<IUnknown*>(static_cast<IDbMsgStore*>(fake)));
        static_cast<IUnknown*>(first)->Release();
        static_cast<IUnknown*>(second)->Release();
    }
    fakes::reset();
    void* none = fakes::Prefill;
    EXPECT_EQ(store->QueryInterface(IID_IBackendWrapper, nullptr), E_INVALIDARG);
    EXPECT_EQ(store->QueryInterface(IID_IMarshal, &none), E_NOINTERFACE);
    fake->queryHr = E_ACCESSDENIED;
    EXPECT_EQ(store->QueryInterface(IID_IStream, &none), E_ACCESSDENIED);
    fake->queryHr = S_OK;
    IUnknown* inner = nullptr;
    IBackendWrapper* bw = nullptr;
    ASSERT_EQ(store->QueryInterface(IID_IBackendWrapper, reinterpret_cast<void**>(&bw)), S_OK);
    EXPECT_EQ(bw->GetWrapped(nullptr, false), E_POINTER);
    EXPECT_EQ(bw->GetWrapped(&inner, false), S_OK);
    EXPECT_EQ(bw->AddRef(), 3u);
    bw->Release();
    EXPECT_EQ(bw->GetWrapped(&inner, true), S_OK);
    EXPECT_EQ(bw->AddRef(), 4u);
    bw->Release();
    bw->Release();
    bw->Release();
    EXPECT_EQ(fake->refs, 1u);
    store->Release();
}

TEST(Wrapper, TheLastReleaseReleasesTheBackendOnceOnACallingThreadBeforeTheThreadsEnd) {
    Watchdog watchdog;
    for (bool direct : {false, true}) {
        SCOPED_TRACE(direct ? "direct" : "posted");
        std::atomic<bool> gone{false};
        auto* backend = new Observed(&gone);
        IUnknown* wrapper = nullptr;
        OutOfThreadCaller* layer = nullptr;
        {
            auto caller = OutOfThreadCaller::instance();
            layer = caller.get();
            ASSERT_EQ(createTypedWrapper<UnknownWrapper>(backend, &wrapper, direct, caller), S_OK);
        }
        const DWORD here = GetCurrentThreadId();
        DWORD releasedOn = 0;
        backend->AddRef();  // to read the thread after the wrapper let go
        wrapper->Release();
        releasedOn = backend->releaseThread;
        EXPECT_EQ(backend->refs, 1u);
        EXPECT_EQ(releasedOn == here, direct);
        backend->Release();
        EXPECT_TRUE(gone);
        auto next = OutOfThreadCaller::instance();
        EXPECT_EQ(next->pool().size(), 0u);
        (void)layer;
    }
}

TEST(Wrapper, CountsBalanceUnderFourThreads) {
    Watchdog watchdog;
    auto* fake = new fakes::FakeAppServerWrapper;
    IAppServer* server = nullptr;
    ASSERT_EQ(createTypedWrapper<AppServerWrapper>(fake, &server, false, OutOfThreadCaller::instance()),
              S_OK);
    std::latch start(4);
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&] {
            start.arrive_and_wait();
            for (int i = 0; i < 200; ++i) {
                void* p = nullptr;
                if (server->QueryInterface(IID_IAppServer, &p) == S_OK) {
                    static_cast<IUnknown*>(p)->Release();
                }
                server->AddRef();
                ULONG v = 0;
                server->Slot10(&v);
                server->Release();
            }
        });
    }
    for (auto& t : threads) {
        t.join();
    }
    EXPECT_EQ(server->AddRef(), 2u);
    server->Release();
    EXPECT_EQ(fake->refs, 1u);
    server->Release();
}

}  // namespace
