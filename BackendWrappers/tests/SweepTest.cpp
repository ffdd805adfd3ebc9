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

// The build holds every row's argument list to its parameters: a list that
// names them permuted, short, long or by another name is refused.
TEST(RowCheck, ArgumentsMustNameTheParametersInOrder) {
    struct Case {
        const char* params;
        const char* args;
        bool accepted;
    };
    const Case cases[] = {
        {"()", "()", true},
        {"(ULONG ulFlags, REFIID riid, IUnknown** ppUnk)", "(ulFlags, riid, ppUnk)", true},
        {"( const IID &riid , BYTE rgb[16] )", "(riid, rgb)", true},
        {"(ULONG ulFirst, ULONG ulSecond)", "(ulSecond, ulFirst)", false},
        {"(ULONG ulFirst, ULONG ulSecond)", "(ulFirst)", false},
        {"(ULONG ulFirst)", "(ulFirst, ulFirst)", false},
        {"(ULONG ulFirst)", "(ulFrist)", false},
        {"(ULONG, ULONG ulSecond)", "(ULONG, ulSecond)", false},
        {"(IUnknown*)", "()", false},
        {"ULONG ulFirst", "(ulFirst)", false},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(backend_detail::argsNameParams(c.params, c.args), c.accepted)
            << c.params << " / " << c.args;
    }
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

// The backend calls a wrapper makes besides its rows run where its rows run:
// QueryInterface's query of the backend object, and OpenProperty's query of
// the object it opened and the release of that object.
TEST_P(Sweep, QueriesAndReleasesRunWhereTheRowsRun) {
    const bool direct = GetParam();
    const DWORD here = GetCurrentThreadId();
    const auto expectWhere = [&](DWORD ranOn, const char* what) {
        SCOPED_TRACE(what);
        EXPECT_NE(ranOn, 0u);
        EXPECT_EQ(ranOn == here, direct);
    };
    auto* fake = new fakes::FakeDbMessageWrapper;
    IDbMessage* message = nullptr;
    ASSERT_EQ(createTypedWrapper<DbMessageWrapper>(fake, &message, direct, OutOfThreadCaller::instance()),
              S_OK);
    IStream* asStream = nullptr;
    ASSERT_EQ(message->QueryInterface(IID_IStream, reinterpret_cast<void**>(&asStream)), S_OK);
    expectWhere(fake->queryThread, "QueryInterface");
    asStream->Release();
    IUnknown* opened = nullptr;
    ASSERT_EQ(message->OpenProperty(0x37001F, IID_IStream, 0, 0, 0, &opened), S_OK);
    // The wrapper made holds what the server opened; its fields are read
    // without a call, which would run on a thread of its own.
    IStream* held = static_cast<StreamWrapper*>(reinterpret_cast<IStream*>(opened))->wrapped();
    auto* object = static_cast<fakes::Counted<>*>(reinterpret_cast<IUnknown*>(held));
    expectWhere(object->queryThread, "OpenProperty's query");
    expectWhere(object->releaseThread, "OpenProperty's release");
    opened->Release();
    message->Release();
}

INSTANTIATE_TEST_SUITE_P(Wrappers, Sweep, ::testing::Values(false, true),
                         [](const auto& info) { return info.param ? "Direct" : "OnCallingThreads"; });

}  // namespace
