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
#include <string_view>

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

// Whether a row's argument list, as written ("(a, b)"), names the row's
// parameters ("(T a, U* b)") one for one and in their order: the forwarding
// methods and the fakes of the tests call through the argument list, so a
// permuted list would reach the backend permuted and go unseen by both.
constexpr bool isNameChar(char c) {
    return c == '_' || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9');
}
constexpr bool isBlank(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\r';
}

// The list's items between its outer parentheses, each cut at the commas
// that no (), <> or [] encloses, with its blanks trimmed.
class ListItems {
  public:
    constexpr explicit ListItems(std::string_view list) : rest_(list) {
        while (!rest_.empty() && isBlank(rest_.front())) {
            rest_.remove_prefix(1);
        }
        while (!rest_.empty() && isBlank(rest_.back())) {
            rest_.remove_suffix(1);
        }
        if (rest_.size() >= 2 && rest_.front() == '(' && rest_.back() == ')') {
            rest_ = rest_.substr(1, rest_.size() - 2);
        } else {
            malformed_ = true;
        }
        done_ = trim(rest_).empty();
    }
    constexpr bool malformed() const { return malformed_; }
    constexpr bool done() const { return done_; }
    constexpr std::string_view next() {
        int depth = 0;
        std::size_t i = 0;
        for (; i < rest_.size(); ++i) {
            const char c = rest_[i];
            if (c == '(' || c == '<' || c == '[') {
                ++depth;
            } else if (c == ')' || c == '>' || c == ']') {
                --depth;
            } else if (c == ',' && depth == 0) {
                break;
            }
        }
        std::string_view item = trim(rest_.substr(0, i));
        if (i < rest_.size()) {
            rest_.remove_prefix(i + 1);
        } else {
            rest_ = {};
            done_ = true;
        }
        return item;
    }

  private:
    static constexpr std::string_view trim(std::string_view s) {
        while (!s.empty() && isBlank(s.front())) {
            s.remove_prefix(1);
        }
        while (!s.empty() && isBlank(s.back())) {
            s.remove_suffix(1);
        }
        return s;
    }
    std::string_view rest_;
    bool malformed_ = false;
    bool done_ = false;
};

// The name a parameter declares: its last identifier, past any array bounds.
constexpr std::string_view declaredName(std::string_view param) {
    while (!param.empty() && (param.back() == ']' || isBlank(param.back()))) {
        if (param.back() == ']') {
            param = param.substr(0, param.rfind('['));
        } else {
            param.remove_suffix(1);
        }
    }
    std::size_t start = param.size();
    while (start > 0 && isNameChar(param[start - 1])) {
        --start;
    }
    // A parameter of a type alone declares no name.
    if (start == 0 || start == param.size() || (param[start] >= '0' && param[start] <= '9')) {
        return {};
    }
    return param.substr(start);
}

constexpr bool argsNameParams(std::string_view params, std::string_view args) {
    ListItems declared(params);
    ListItems forwarded(args);
    if (declared.malformed() || forwarded.malformed()) {
        return false;
    }
    while (!declared.done() && !forwarded.done()) {
        std::string_view name = declaredName(declared.next());
        if (name.empty() || name != forwarded.next()) {
            return false;
        }
    }
    return declared.done() && forwarded.done();
}

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

// A row whose argument list does not name its parameters in order does not
// compile (see argsNameParams).
#define BACKEND_CHECK_ARGS(slot, name, params, args, treatment)   \
    static_assert(backend_detail::argsNameParams(#params, #args), \
                  #name ": the arguments must name the parameters in order");

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
