// Every row with an [out] interface and every row with an [in] interface,
// through the raw vtable: what the backend sees, what the caller gets back,
// and that nothing is left alive or released twice.
#include "BuildRows.h"
#include "Fakes.h"
#include "Watchdog.h"

namespace {

using namespace BackendWrappers;

struct RowCase {
    fakes::In in = fakes::In::Foreign;
    fakes::Out out = fakes::Out::Local;
    HRESULT serverHr = S_FALSE;
    bool serverNull = false;
    HRESULT expected = S_FALSE;
    bool serverCalled = true;
    const char* what;
};

// [out] rows: a null out reaches the server as null and nothing is wrapped;
// a failure leaves the caller's pointer as it was; a success without an
// object is refused.
const RowCase outCases[] = {
    {fakes::In::Foreign, fakes::Out::Null, S_FALSE, false, S_FALSE, true, "null out"},
    {fakes::In::Foreign, fakes::Out::Prefilled, E_ACCESSDENIED, false, E_ACCESSDENIED, true, "server fails"},
    {fakes::In::Foreign, fakes::Out::Prefilled, S_OK, true, E_INVALIDARG, true, "success without object"},
};

// [in] rows: a wrapper reaches the server as the object it wraps, anything
// else as it is; a hostile object's failure is returned and the server is
// not called.
const RowCase inCases[] = {
    {fakes::In::Wrapper, fakes::Out::Local, S_FALSE, false, S_FALSE, true, "wrapper"},
    {fakes::In::Foreign, fakes::Out::Local, S_FALSE, false, S_FALSE, true, "foreign"},
    {fakes::In::Null, fakes::Out::Local, S_FALSE, false, S_FALSE, true, "null"},
    {fakes::In::Hostile, fakes::Out::Local, S_FALSE, false, E_FAIL, false, "hostile"},
};

template <class Fn>
void runRow(void* object, int slot, const RowCase& c, Fn fn, int& rows) {
    SCOPED_TRACE(c.what);
    const long live = fakes::liveObjects();
    {
        fakes::reset();
        fakes::script().hr = c.serverHr;
        fakes::script().nullOut = c.serverNull;
        fakes::Sentinels s;
        s.in = c.in;
        s.out = c.out;
        auto [hr, expected] = fakes::callWithSentinels(object, slot, s, fn);
        EXPECT_EQ(hr, c.expected);
        std::vector<fakes::Call> seen = fakes::calls();
        ASSERT_EQ(seen.size(), c.serverCalled ? 1u : 0u);
        if (c.serverCalled) {
            EXPECT_EQ(seen[0].index, slot);
            EXPECT_EQ(seen[0].bytes, expected);
        }
        for (void* local : c.out == fakes::Out::Prefilled ? s.outLocals : std::vector<void*>()) {
            EXPECT_EQ(*static_cast<IUnknown**>(local), fakes::Prefill);
        }
        // A wrapper handed in keeps exactly the references it had.
        for (IUnknown* given : s.foreign) {
            given->AddRef();
            EXPECT_EQ(given->Release(), 1u);
        }
    }
    EXPECT_EQ(fakes::liveObjects(), live);
    ++rows;
}

#define MATRIX_OUT_OUT_WRAPPED(W, arg) outCases
#define MATRIX_OUT_IN_UNWRAPPED_OUT_WRAPPED(in, W, out) outCases
#define MATRIX_OUT_FORWARD nullptr
#define MATRIX_OUT_IN_UNWRAPPED(arg) nullptr
#define MATRIX_OUT_SPECIAL nullptr
#define MATRIX_IN_IN_UNWRAPPED(arg) inCases
#define MATRIX_IN_IN_UNWRAPPED_OUT_WRAPPED(in, W, out) inCases
#define MATRIX_IN_FORWARD nullptr
#define MATRIX_IN_OUT_WRAPPED(W, arg) nullptr
#define MATRIX_IN_SPECIAL nullptr

template <size_t N>
const RowCase* end(const RowCase (&cases)[N]) {
    return cases + N;
}

#define MATRIX_ROW(slot, name, params, args, treatment)                                   \
    {                                                                                     \
        SCOPED_TRACE("slot " + std::to_string(slot) + " " #name);                         \
        using Fn = BACKEND_RAW_SLOT_TYPE(params);                                         \
        const RowCase* cases = inMatrix ? MATRIX_IN_##treatment : MATRIX_OUT_##treatment; \
        if (cases) {                                                                      \
            const RowCase* last = inMatrix ? end(inCases) : end(outCases);                \
            for (const RowCase* c = cases; c != last; ++c) {                              \
                runRow(object, slot, *c, Fn{}, rows);                                     \
            }                                                                             \
        }                                                                                 \
    }

#define MATRIX_WRAPPER(W, I, SLOTS)                                                                       \
    {                                                                                                     \
        SCOPED_TRACE(#W);                                                                                 \
        W::Interface* face = nullptr;                                                                     \
        ASSERT_EQ(createTypedWrapper<W>(new fakes::Fake##W, &face, false, OutOfThreadCaller::instance()), \
                  S_OK);                                                                                  \
        void* object = face;                                                                              \
        (void)object;                                                                                     \
        SLOTS(MATRIX_ROW)                                                                                 \
        face->Release();                                                                                  \
    }

class Matrix : public ::testing::TestWithParam<bool> {};

TEST_P(Matrix, InterfaceArgumentsGoInUnwrappedAndComeOutWrapped) {
    Watchdog watchdog;
    const bool inMatrix = GetParam();
    int rows = 0;
    BACKEND_WRAPPERS(MATRIX_WRAPPER)
    // Every [out] and every [in] row, each with every case.
    EXPECT_EQ(rows, inMatrix ? rows::InRows * 4 : rows::OutRows * 3);
}

INSTANTIATE_TEST_SUITE_P(Rows, Matrix, ::testing::Values(false, true),
                         [](const auto& info) { return info.param ? "In" : "Out"; });

}  // namespace
