// Every slot of every wrapper, called through the wrapper's raw vtable index
// with sentinel arguments: the backend sees the same slot and the same
// arguments, on a calling thread in a single-threaded apartment (or on the
// test's own thread when the wrapper is direct, also for the wrappers it
// makes), and its success code comes back; an interface it hands out comes
// back wrapped as the row says.
#include "BuildRows.h"
#include "Fakes.h"

namespace {

using namespace BackendWrappers;

// Checks an [out] local the sweep handed in: a Target wrapper over a backend
// object, made in the same mode as its maker.
template <class Target>
void expectWrappedOut(fakes::Sentinels& s, bool direct) {
    ASSERT_EQ(s.outLocals.size(), 1u);
    IUnknown* got = *static_cast<IUnknown**>(s.outLocals[0]);
    ASSERT_NE(got, nullptr);
    IUnknown* inner = fakes::wrappedOf(got);
    ASSERT_NE(inner, nullptr);
    void* same = nullptr;
    ASSERT_EQ(got->QueryInterface(BackendIid<typename Target::Interface>::value, &same), S_OK);
    EXPECT_EQ(same, got);
    static_cast<IUnknown*>(same)->Release();
    // Calls of the made wrapper run where its maker's do.
    fakes::reset();
    IUnknown* again = nullptr;
    ASSERT_EQ(got->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&again)), S_OK);
    again->Release();
    EXPECT_EQ(static_cast<Target*>(static_cast<typename Target::Interface*>(got))->direct(), direct);
}

#define SWEEP_TARGET_OUT_WRAPPED(W, arg) expectWrappedOut<W>(s, direct);
#define SWEEP_TARGET_IN_UNWRAPPED_OUT_WRAPPED(in, W, out) expectWrappedOut<W>(s, direct);
#define SWEEP_TARGET_FORWARD
#define SWEEP_TARGET_IN_UNWRAPPED(arg)
#define SWEEP_TARGET_SPECIAL

#define SWEEP_ROW(slot, name, params, args, treatment)                                                    \
    {                                                                                                     \
        SCOPED_TRACE("slot " + std::to_string(slot) + " " #name);                                         \
        fakes::reset();                                                                                   \
        fakes::Sentinels s;                                                                               \
        using Fn = BACKEND_RAW_SLOT_TYPE(params);                                                         \
        auto [hr, expected] = fakes::callWithSentinels(object, slot, s, Fn{});                            \
        std::vector<fakes::Call> seen = fakes::calls();                                                   \
        ASSERT_FALSE(seen.empty());                                                                       \
        const bool localCopy = std::string(#name) == "CopyTo" && BackendIid<Iface>::value == IID_IStream; \
        EXPECT_EQ(seen[0].index, localCopy ? 3 : (slot));                                                 \
        if (!localCopy) {                                                                                 \
            EXPECT_EQ(seen[0].bytes, expected);                                                           \
        }                                                                                                 \
        EXPECT_EQ(hr, (localCopy || std::string(#name) == "OpenProperty") ? S_OK : S_FALSE);              \
        if (direct) {                                                                                     \
            EXPECT_EQ(seen[0].thread, GetCurrentThreadId());                                              \
        } else {                                                                                          \
            EXPECT_NE(seen[0].thread, GetCurrentThreadId());                                              \
            EXPECT_EQ(seen[0].apartment, winplat::com::Apartment::SingleThreaded);                        \
        }                                                                                                 \
        SWEEP_TARGET_##treatment++ rows;                                                                  \
    }

#define SWEEP_WRAPPER(W, I, SLOTS)                          \
    sweepOne<W, fakes::Fake##W>(direct, [&](void* object) { \
        using Iface [[maybe_unused]] = W::Interface;        \
        (void)object;                                       \
        SLOTS(SWEEP_ROW)                                    \
    });

template <class W, class Fake, class Body>
void sweepOne(bool direct, Body body) {
    SCOPED_TRACE(W::QueryInterfaceName);
    using I = typename W::Interface;
    auto* fake = new Fake;
    I* face = nullptr;
    ASSERT_EQ(createTypedWrapper<W>(static_cast<I*>(fake), &face, direct, OutOfThreadCaller::instance()),
              S_OK);
    body(static_cast<void*>(face));
    face->Release();
}

class Sweep : public ::testing::TestWithParam<bool> {};

TEST_P(Sweep, EverySlotReachesItsBackendSlotWithItsArguments) {
    const bool direct = GetParam();
    const long live = fakes::liveObjects();
    int rows = 0;
    BACKEND_WRAPPERS(SWEEP_WRAPPER)
    EXPECT_EQ(rows, rows::Slots);
    EXPECT_EQ(fakes::liveObjects(), live);
}

INSTANTIATE_TEST_SUITE_P(Wrappers, Sweep, ::testing::Values(false, true),
                         [](const auto& info) { return info.param ? "Direct" : "OnCallingThreads"; });

}  // namespace
