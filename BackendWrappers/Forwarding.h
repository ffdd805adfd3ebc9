// Expands a slot table row into the wrapper method of that slot, defined out
// of class for the class named by BW_CLASS:
//
//   #define BW_CLASS AppServerWrapper
//   BACKEND_IAPPSERVER_SLOTS(BW_DEFINE_SLOT)
//   #undef BW_CLASS
//
// Every method binds the backend method of its slot with the arguments (by
// reference: the caller's frame outlives the call, which it waits for), runs
// it through the call layer and returns its HRESULT; the row's treatment adds
// the unwrapping of an [in] interface before and the wrapping of an [out]
// interface after. SPECIAL rows call the hand-written special::Name. A row
// whose arguments do not name its parameters in order does not compile.
#pragma once

#include <type_traits>

#include "Backend/common/SlotTable.h"

#define BW_DEFINE_SLOT(slot, name, params, args, treatment) \
    BACKEND_CHECK_ARGS(slot, name, params, args, treatment) \
    BW_DEFINE_SLOT_I(BW_KIND_##treatment, name, params, args, treatment)
#define BW_DEFINE_SLOT_I(kind, name, params, args, treatment) \
    BW_DEFINE_SLOT_II(kind, name, params, args, treatment)
#define BW_DEFINE_SLOT_II(kind, name, params, args, treatment) BW_DEFINE_##kind(name, params, args, treatment)

#define BW_KIND_FORWARD GENERIC
#define BW_KIND_OUT_WRAPPED(W, arg) GENERIC
#define BW_KIND_IN_UNWRAPPED(arg) GENERIC
#define BW_KIND_IN_UNWRAPPED_OUT_WRAPPED(in, W, out) GENERIC
#define BW_KIND_SPECIAL SPECIAL

#define BW_DEFINE_GENERIC(name, params, args, treatment)                                                   \
    HRESULT STDMETHODCALLTYPE BW_CLASS::name params {                                                      \
        BW_PREPARE_##treatment auto bound = [&, backend = this->wrapped()] { return backend->name args; }; \
        HRESULT hr = this->call(bound);                                                                    \
        BW_FINISH_##treatment                                                                              \
    }

#define BW_DEFINE_SPECIAL(name, params, args, treatment)  \
    HRESULT STDMETHODCALLTYPE BW_CLASS::name params {     \
        return special::name(*this, BACKEND_EXPAND args); \
    }

#define BW_PREPARE_FORWARD
#define BW_FINISH_FORWARD return hr;

#define BW_PREPARE_IN_UNWRAPPED(arg)                                   \
    if (HRESULT unwrapped_ = this->unwrap(&arg); FAILED(unwrapped_)) { \
        return unwrapped_;                                             \
    }
#define BW_FINISH_IN_UNWRAPPED(arg) return hr;

// The backend gets a local that starts null, or null when the caller's out is.
#define BW_PREPARE_OUT_WRAPPED(W, arg)                     \
    auto* const callerOut_ = arg;                          \
    std::remove_pointer_t<decltype(arg)> local_ = nullptr; \
    arg = callerOut_ ? &local_ : nullptr;
#define BW_FINISH_OUT_WRAPPED(W, arg) return this->template wrapOut<W>(hr, callerOut_, local_);

#define BW_PREPARE_IN_UNWRAPPED_OUT_WRAPPED(in, W, out) \
    BW_PREPARE_IN_UNWRAPPED(in) BW_PREPARE_OUT_WRAPPED(W, out)
#define BW_FINISH_IN_UNWRAPPED_OUT_WRAPPED(in, W, out) BW_FINISH_OUT_WRAPPED(W, out)
