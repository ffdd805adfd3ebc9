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
//   IN_UNWRAPPED_OUT_WRAPPED(in, W, out)
//                            both of the above, in that order
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

// List helpers for tables that keep a slot's in and out parameters apart:
// BACKEND_JOIN((a, b), (c)) is (a, b, c); either list may be empty.
#define BACKEND_EXPAND(...) __VA_ARGS__
#define BACKEND_NONEMPTY(...) __VA_OPT__(1)
#define BACKEND_JOIN(a, b) \
    (BACKEND_EXPAND a BACKEND_JOIN_COMMA(BACKEND_NONEMPTY a, BACKEND_NONEMPTY b) BACKEND_EXPAND b)
#define BACKEND_JOIN_COMMA(x, y) BACKEND_JOIN_COMMA_I(x, y)
#define BACKEND_JOIN_COMMA_I(x, y) BACKEND_COMMA_IF_##x##y
#define BACKEND_COMMA_IF_11 ,
#define BACKEND_COMMA_IF_1
#define BACKEND_COMMA_IF_
// The treatment of a slot made of an in half and an out half: the in half's
// when it has one, else the out half's.
#define BACKEND_PICK_TREATMENT(inTreatment, outTreatment) BACKEND_PICK_##inTreatment(outTreatment)
#define BACKEND_PICK_FORWARD(outTreatment) outTreatment
#define BACKEND_PICK_IN_UNWRAPPED(arg) IN_UNWRAPPED(arg) BACKEND_DROP
#define BACKEND_DROP(...)
// A synchronous interface and its COM asynchronous form from one table whose
// rows keep in and out parameters apart (ISynchronizator): Y(X, slot, name,
// (in params), (in args), (out params), (out args), in treatment, out
// treatment). The synchronous slot takes the in list then the out list; the
// asynchronous form has Begin_ at 2k-3 with the in list and Finish_ at 2k-2
// with the out list.
#define BACKEND_SYNC_ROW(X, slot, name, inParams, inArgs, outParams, outArgs, inTreatment, outTreatment) \
    BACKEND_APPLY(X, slot, name, BACKEND_JOIN(inParams, outParams), BACKEND_JOIN(inArgs, outArgs),       \
                  BACKEND_PICK_TREATMENT(inTreatment, outTreatment))
#define BACKEND_ASYNC_ROW(X, slot, name, inParams, inArgs, outParams, outArgs, inTreatment, outTreatment) \
    X((2 * (slot)-3), Begin_##name, inParams, inArgs, inTreatment)                                        \
    X((2 * (slot)-2), Finish_##name, outParams, outArgs, outTreatment)

// Calls X with its arguments expanded first, so that X sees finished rows.
#define BACKEND_APPLY(X, ...) X(__VA_ARGS__)

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

// Names the interface ID of an interface declared elsewhere (the platform's).
#define BACKEND_NAME_IID(I, iid)                 \
    template <>                                  \
    struct BackendIid<I> {                       \
        static constexpr const IID& value = iid; \
    };

#define BACKEND_DEFINE_IID(I, l, w1, w2, b1, b2, b3, b4, b5, b6, b7, b8)          \
    inline constexpr IID IID_##I = {l, w1, w2, {b1, b2, b3, b4, b5, b6, b7, b8}}; \
    template <>                                                                   \
    struct BackendIid<I> {                                                        \
        static constexpr const IID& value = IID_##I;                              \
    };
