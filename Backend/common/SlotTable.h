// Every backend interface is written once, as a table of its own slots:
//
//   #define BACKEND_<INTERFACE>_SLOTS(X)
//       X(slot, Name, (typed parameters), (argument names), treatment)
//
// One row per vtable slot, in slot order. The same table is expanded into the
// pure-virtual interface (BACKEND_DECLARE_SLOT), into slot-number checks, and
// by the wrapper layer into its forwarding methods.
//
// treatment is one token group that says what a wrapper does beyond plain
// forwarding:
//   FORWARD                  every argument goes through unchanged
//   OUT_WRAPPED(W, arg)      the interface returned through arg is wrapped as W
//   IN_UNWRAPPED(arg)        the interface passed in arg is unwrapped first
//   SPECIAL                  the method is written by hand in the wrapper
// A consumer dispatches on it by pasting a prefix: BACKEND_TREAT_##treatment
// turns OUT_WRAPPED(W, arg) into BACKEND_TREAT_OUT_WRAPPED(W, arg).
//
// Slots without a name of their own are called SlotN after their number.
#pragma once

#include <cstddef>

#include "winplat/types.h"

// Interface declaration: one pure virtual per row. No virtual destructor, so
// the slot numbers are the rows' numbers.
#define BACKEND_DECLARE_SLOT(slot, name, params, args, treatment) \
    virtual HRESULT STDMETHODCALLTYPE name params = 0;

// `override` form for classes that implement an interface from its table.
#define BACKEND_OVERRIDE_SLOT(slot, name, params, args, treatment) \
    HRESULT STDMETHODCALLTYPE name params override;

#define BACKEND_SLOT_NUMBER(slot, name, params, args, treatment) slot,
#define BACKEND_SLOT_NAME(slot, name, params, args, treatment) #name,

// Raw function type of a slot as it sits in the vtable: the object first,
// then the parameters.
#define BACKEND_WITH_SELF(...) (void* self __VA_OPT__(, ) __VA_ARGS__)
#define BACKEND_RAW_SLOT_TYPE(params) HRESULT(STDMETHODCALLTYPE*) BACKEND_WITH_SELF params

namespace backend_detail {

template <std::size_t N>
constexpr bool slotsAreConsecutive(const int (&slots)[N], int first) {
    for (std::size_t i = 0; i < N; ++i) {
        if (slots[i] != first + static_cast<int>(i)) {
            return false;
        }
    }
    return true;
}

}  // namespace backend_detail

// Checks at compile time that a table's rows are numbered first, first+1, ...
// so that a row written in the wrong place cannot pass unnoticed.
#define BACKEND_CHECK_SLOTS(TABLE, tag, first, count)                                            \
    namespace backend_detail {                                                                   \
    inline constexpr int tag##SlotNumbers[] = {TABLE(BACKEND_SLOT_NUMBER)};                      \
    static_assert(sizeof(tag##SlotNumbers) / sizeof(int) == (count), #tag ": wrong slot count"); \
    static_assert(slotsAreConsecutive(tag##SlotNumbers, (first)), #tag ": slots out of order");  \
    }

// The interface ID of each backend interface, as IID_<Name> and through
// BackendIid<I>::value for code that is generic over the interface.
template <class I>
struct BackendIid;

#define BACKEND_DEFINE_IID(I, l, w1, w2, b1, b2, b3, b4, b5, b6, b7, b8)          \
    inline constexpr IID IID_##I = {l, w1, w2, {b1, b2, b3, b4, b5, b6, b7, b8}}; \
    template <>                                                                   \
    struct BackendIid<I> {                                                        \
        static constexpr const IID& value = IID_##I;                              \
    };
