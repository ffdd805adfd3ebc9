// The factory, in either build: which class an ID gives and who owns the
// pointer on each failure.
#include "BuildRows.h"
#include "Fakes.h"
#include "Watchdog.h"
#include "winplat/inject.h"

namespace {

using namespace BackendWrappers;
using fakes::Observed;

TEST(Factory, EachIdGivesTheWrapperOfItsRowOverThePointerGiven) {
    Watchdog watchdog;
    const long live = fakes::liveObjects();
    int rows = 0;
#define EXPECT_ROW(W, I, SLOTS)                                                                          \
    {                                                                                                    \
        SCOPED_TRACE(#W);                                                                                \
        auto* fake = new fakes::Fake##W;                                                                 \
        void* out = nullptr;                                                                             \
        ASSERT_EQ(CreateWrapper(BackendIid<W::Interface>::value, &out, static_cast<W::Interface*>(fake), \
                                false, OutOfThreadCaller::instance()),                                   \
                  S_OK);                                                                                 \
        auto* face = static_cast<W::Interface*>(out);                                                    \
        EXPECT_EQ(static_cast<W*>(face)->wrapped(), fake);                                               \
        EXPECT_EQ(fakes::wrappedOf(face), static_cast<IUnknown*>(static_cast<W::Interface*>(fake)));     \
        EXPECT_EQ(IsSupportedIID(BackendIid<W::Interface>::value), S_OK);                                \
        EXPECT_EQ(fake->refs, 1u);                                                                       \
        face->Release();                                                                                 \
        ++rows;                                                                                          \
    }
    BACKEND_WRAPPERS(EXPECT_ROW)
#undef EXPECT_ROW
    EXPECT_EQ(rows, rows::Wrappers);
    EXPECT_EQ(fakes::liveObjects(), live);
}

TEST(Factory, FailuresSayWhoOwnsThePointer) {
    Watchdog watchdog;
    winplat::inject::Scope scope;
    auto caller = OutOfThreadCaller::instance();
    auto* unk = new fakes::Counted<>;
    void* out = fakes::Prefill;
    EXPECT_EQ(CreateWrapper(IID_IUnknown, nullptr, nullptr, false, caller), S_OK);
    EXPECT_EQ(CreateWrapper(IID_IUnknown, nullptr, unk, false, caller), S_OK);
    EXPECT_EQ(CreateWrapper(IID_IUnknown, &out, nullptr, false, caller), E_INVALIDARG);
    EXPECT_EQ(out, fakes::Prefill);
    const IID foreign = {1, 2, 3, {4, 5, 6, 7, 8, 9, 10, 11}};
    for (const IID* iid : {&foreign, &IID_IBackendWrapper}) {
        EXPECT_EQ(IsSupportedIID(*iid), E_NOINTERFACE);
        EXPECT_EQ(CreateWrapper(*iid, &out, unk, false, caller), E_NOINTERFACE);
        EXPECT_EQ(out, nullptr);
        out = fakes::Prefill;
    }
    EXPECT_EQ(unk->refs, 1u);  // still the caller's
    // A wrapper that cannot be made: E_FAIL, and the pointer released once
    // where the wrapper's calls would have run.
    for (bool direct : {false, true}) {
        SCOPED_TRACE(direct ? "direct" : "posted");
        std::atomic<bool> gone{false};
        auto* doomed = new Observed(&gone);
        winplat::inject::arm(detail::ConstructionInjection, 0);
        out = fakes::Prefill;
        EXPECT_EQ(CreateWrapper(IID_IStream, &out, doomed, direct, caller), E_FAIL);
        EXPECT_EQ(out, nullptr);
        EXPECT_TRUE(gone);
        IStream* typed = reinterpret_cast<IStream*>(fakes::Prefill);
        std::atomic<bool> gone2{false};
        auto* doomed2 = new Observed(&gone2);
        winplat::inject::arm(detail::ConstructionInjection, 0);
        EXPECT_EQ(createTypedWrapper<StreamWrapper>(
                      reinterpret_cast<IStream*>(static_cast<IUnknown*>(doomed2)), &typed, direct, caller),
                  E_FAIL);
        EXPECT_EQ(typed, reinterpret_cast<IStream*>(fakes::Prefill));
        EXPECT_TRUE(gone2);
    }
    unk->Release();
}

}  // namespace
