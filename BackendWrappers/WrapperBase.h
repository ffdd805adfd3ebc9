// WrapperBase<I, W>: what every wrapper class W of backend interface I is.
//
// A wrapper is a COM object of its own with two faces, IBackendWrapper (also
// its IUnknown) and I (none for I = IUnknown). It owns one reference on the
// backend object and runs every call on it through the call layer it took
// when it was made: on a calling thread, or in place when `direct` is set.
//
// QueryInterface answers IBackendWrapper and I with the wrapper itself; any
// other interface of the set is asked of the backend object and comes back
// as a new wrapper (IUnknown too, for every wrapper but UnknownWrapper).
//
// The build decides how a wrapper counts. Either it counts its own references
// and its last Release releases the backend object through the call layer,
// then lets go of the call layer, so the object is released before the
// threads that release it can end. Or every AddRef and Release is forwarded
// to the backend object (through the call layer) and its count returned; the
// wrapper's own count only decides when it goes, and its end makes no call.
//
// No method lets an exception out and none takes a lock: the fields are
// written only while the wrapper is made and unmade, the counts are atomic.
#pragma once

#include <boost/ref.hpp>
#include <boost/shared_ptr.hpp>

#include <atomic>
#include <type_traits>

#include "BackendWrappers/IBackendWrapper.h"
#include "BackendWrappers/OutOfThreadCaller.h"
#include "BackendWrappers/WrapperFactory.h"
#include "CommonBase/HResultException.h"
#include "CommonBase/IUnknownImpl.h"
#include "CommonBase/Locker.h"

IUI_INTERFACE_ID(IBackendWrapper, IID_IBackendWrapper);

namespace BackendWrappers {

namespace detail {

template <class I>
using WrapperFaces =
    std::conditional_t<std::is_same_v<I, IUnknown>, iui_::IUnknownImpl<IBackendWrapper>,
                       std::conditional_t<build::InterfaceFaceFirst, iui_::IUnknownImpl<I, IBackendWrapper>,
                                          iui_::IUnknownImpl<IBackendWrapper, I>>>;

}  // namespace detail

template <class I, class W>
class WrapperBase : public detail::WrapperFaces<I> {
  public:
    using Interface = I;

    WrapperBase(I* wrapped, bool direct)
        : wrapped_(wrapped), caller_(OutOfThreadCaller::instance()), direct_(direct) {}

    ~WrapperBase() override {
        if constexpr (!build::RefCountForwarded) {
            I* wrapped = wrapped_;
            auto release = [wrapped] {
                wrapped->Release();
                return S_OK;
            };
            // The release answers S_OK whenever it ran; otherwise it could not be
            // posted and runs here rather than leak.
            if (caller_->call(direct_, boost::ref(release)) != S_OK) {
                wrapped->Release();
            }
        }
    }

    // Forwarded counting: the backend's count is returned; the wrapper's own
    // count (atomic: a wrapper may be used from any thread) decides its end.
    STDMETHOD_(ULONG, AddRef)() override {
        if constexpr (build::RefCountForwarded) {
            ULONG count = forwardCount(&IUnknown::AddRef);
            ++ownCount_;
            return count;
        } else {
            return detail::WrapperFaces<I>::AddRef();
        }
    }

    STDMETHOD_(ULONG, Release)() override {
        if constexpr (build::RefCountForwarded) {
            ULONG count = forwardCount(&IUnknown::Release);
            if (--ownCount_ == 0) {
                delete this;
            }
            return count;
        } else {
            return detail::WrapperFaces<I>::Release();
        }
    }

    STDMETHOD(QueryInterface)(REFIID riid, void** out) override {
        return guarded([&]() -> HRESULT {
            if (!out) {
                raise(E_INVALIDARG, build::QueryNullOutLine);
            }
            if (IsEqualGUID(riid, IID_IBackendWrapper)) {
                *out = static_cast<IBackendWrapper*>(this);
                this->AddRef();
                return S_OK;
            }
            if (IsEqualGUID(riid, BackendIid<I>::value)) {
                *out = face();
                this->AddRef();
                return S_OK;
            }
            HRESULT hr = IsSupportedIID(riid);
            if (FAILED(hr)) {
                raise(hr, build::QueryUnsupportedLine);
            }
            IUnknown* local = nullptr;
            auto query = [&, backend = wrapped_] {
                return backend->QueryInterface(riid, reinterpret_cast<void**>(&local));
            };
            hr = call(query);
            if (FAILED(hr)) {
                raise(hr, build::QueryBackendLine);
            }
            hr = detail::createWrapperByIid(riid, out, local, direct_, caller_);
            if (FAILED(hr)) {
                raise(hr, build::QueryWrapLine);
            }
            return S_OK;
        });
    }

    STDMETHOD(GetWrapped)(IUnknown** ppWrapped, bool addRef) override {
        if (!ppWrapped) {
            return E_POINTER;
        }
        *ppWrapped = wrapped_;
        if (addRef) {
            this->AddRef();
        }
        return S_OK;
    }

    // Replaces a wrapper given as an argument by the backend object it wraps;
    // anything that is no wrapper stays as it is. Runs on the current thread.
    static HRESULT UnwrapArgument(IUnknown** pp, bool* unwrapped) {
        *unwrapped = false;
        if (!*pp) {
            return S_OK;
        }
        IBackendWrapper* wrapper = nullptr;
        HRESULT hr = (*pp)->QueryInterface(IID_IBackendWrapper, reinterpret_cast<void**>(&wrapper));
        if (hr == E_NOINTERFACE) {
            hr = S_OK;
        } else if (hr == S_OK && !wrapper) {
            hr = E_POINTER;
        } else if (hr == S_OK) {
            IUnknown* inner = nullptr;
            hr = wrapper->GetWrapped(&inner, false);
            if (SUCCEEDED(hr)) {
                *pp = inner;
                *unwrapped = true;
            }
        }
        if (wrapper) {
            wrapper->Release();
        }
        return hr;
    }

    // The I face (for UnknownWrapper its only interface face).
    I* face() {
        if constexpr (std::is_same_v<I, IUnknown>) {
            return static_cast<IUnknown*>(static_cast<IBackendWrapper*>(this));
        } else {
            return static_cast<I*>(this);
        }
    }

    I* wrapped() const { return wrapped_; }
    bool direct() const { return direct_; }
    const boost::shared_ptr<OutOfThreadCaller>& caller() const { return caller_; }

    // Runs `bound` (in the caller's frame) through the call layer.
    template <class F>
    HRESULT call(F& bound) const {
        return caller_->call(direct_, boost::ref(bound));
    }

    template <class T>
    HRESULT unwrap(T** pp) const {
        bool unwrapped = false;
        // A backend interface pointer is an IUnknown pointer in COM's layout.
        return UnwrapArgument(reinterpret_cast<IUnknown**>(pp), &unwrapped);
    }

    // After a call that returned an interface into a local in place of the
    // caller's out pointer: the call's failure, the wrap's failure, or the
    // call's own success code.
    template <class Target, class Out>
    HRESULT wrapOut(HRESULT hr, Out** callerOut, Out* local) const {
        if (FAILED(hr) || !callerOut) {
            return hr;
        }
        HRESULT wrapped = createTypedWrapper<Target>(local, callerOut, direct_, caller_);
        return FAILED(wrapped) ? wrapped : hr;
    }

  private:
    // AddRef and Release of the backend object must happen: when the call
    // layer cannot run them (no calling thread), they run here.
    ULONG forwardCount(ULONG (STDMETHODCALLTYPE IUnknown::*operation)()) {
        ULONG count = 0;
        bool ran = false;
        auto bound = [&, backend = static_cast<IUnknown*>(wrapped_)] {
            count = (backend->*operation)();
            ran = true;
            return S_OK;
        };
        call(bound);
        if (!ran) {
            count = (static_cast<IUnknown*>(wrapped_)->*operation)();
        }
        return count;
    }

    template <class Body>
    static HRESULT guarded(Body body) {
        try {
            return hresultOf(body);
        } catch (...) {
            return E_UNEXPECTED;
        }
    }

    [[noreturn]] static void raise(HRESULT hr, int line) {
        ErrorLocation{2, build::WrapperBaseFile, line, W::QueryInterfaceName}.raise(hr);
    }

    I* wrapped_;
    boost::shared_ptr<OutOfThreadCaller> caller_;
    bool direct_;
    Utilities::Locker locker_;       // entered by nothing; part of every wrapper
    std::atomic<LONG> ownCount_{1};  // forwarded counting only
};

}  // namespace BackendWrappers
