// The wrapper factory: turns a backend interface pointer into a wrapper of
// the class that the build's interface set pairs with it.
//
// The set is a list of wrapper classes in factory order (each names its
// interface as W::Interface and its IID through BackendIid); the build
// instantiates the templates below over it. A lookup is a linear run over
// the list; there is no state and no cache.
//
// Ownership: on success the wrapper takes over the reference the pointer
// carries. After E_FAIL (the wrapper could not be made) the pointer has been
// released; after E_INVALIDARG, E_NOINTERFACE or a null out it is still the
// caller's.
#pragma once

#include <boost/shared_ptr.hpp>

#include <exception>
#include <new>

#include "BackendWrappers/OutOfThreadCaller.h"
#include "CommonBase/HResultException.h"
#include "winplat/inject.h"

template <class I>
struct BackendIid;

namespace BackendWrappers {

// The build's interface set, in factory order.
template <class... Wrappers>
struct InterfaceSet {};

// Defined by the build over its set.
HRESULT IsSupportedIID(const IID& riid);

namespace detail {

// CreateWrapper in the argument order the shared sources use; the build's
// public CreateWrapper forwards to it.
HRESULT createWrapperByIid(const IID& riid, void** ppOut, IUnknown* pUnk, bool direct,
                           const boost::shared_ptr<OutOfThreadCaller>& caller);

// The injection point (winplat::inject) at which a wrapper's construction
// fails as if memory had run out, so tests can drive the failure road.
inline constexpr const char* ConstructionInjection = "BackendWrappers!new";

// Releases what a failed construction took over; never throws.
template <class I>
void releaseTakenOver(I* pUnk, bool direct, const boost::shared_ptr<OutOfThreadCaller>& caller) {
    try {
        if (direct || !caller) {
            pUnk->Release();
            return;
        }
        auto release = [pUnk] {
            pUnk->Release();
            return S_OK;
        };
        // The release itself always answers S_OK: anything else means it never
        // ran (no thread, no memory), and it is done in place rather than leaked.
        if (caller->call(false, boost::ref(release)) != S_OK) {
            pUnk->Release();
        }
    } catch (...) {
    }
}

}  // namespace detail

template <class W>
HRESULT createTypedWrapper(typename W::Interface* pUnk, typename W::Interface** ppOut, bool direct,
                           boost::shared_ptr<OutOfThreadCaller> caller) {
    if (!ppOut) {
        return S_OK;
    }
    if (!pUnk) {
        return E_INVALIDARG;
    }
    W* wrapper = nullptr;
    try {
        if (winplat::inject::take(detail::ConstructionInjection, nullptr)) {
            throw std::bad_alloc();
        }
        wrapper = new W(pUnk, direct);
    } catch (const std::exception&) {
        detail::releaseTakenOver(pUnk, direct, caller);
        return E_FAIL;
    }
    *ppOut = wrapper->face();
    return S_OK;
}

namespace detail {

// One CreateWrapper request carried through the set.
struct CreateWrapperFromIID {
    CreateWrapperFromIID(const IID& riid, void** ppOut, IUnknown* pUnk,
                         const boost::shared_ptr<OutOfThreadCaller>& caller, bool direct)
        : riid(riid), ppOut(ppOut), pUnk(pUnk), caller(caller), direct(direct) {
        *ppOut = nullptr;
    }

    template <class W>
    void operator()(W*) const {
        using I = typename W::Interface;
        if (*ppOut || !IsEqualGUID(riid, BackendIid<I>::value)) {
            return;
        }
        // The set's interfaces are COM interfaces: the pointer is one of I.
        HRESULT hr =
            createTypedWrapper<W>(reinterpret_cast<I*>(pUnk), reinterpret_cast<I**>(ppOut), direct, caller);
        if (FAILED(hr)) {
            raiseHResult(hr, 2, build::FactoryFile, build::FactoryLine, build::FactoryFunction, nullptr);
        }
    }

    const IID& riid;
    void** ppOut;
    IUnknown* pUnk;
    boost::shared_ptr<OutOfThreadCaller> caller;
    bool direct;
};

template <class... Wrappers>
HRESULT createWrapperIn(InterfaceSet<Wrappers...>, const IID& riid, void** ppOut, IUnknown* pUnk, bool direct,
                        const boost::shared_ptr<OutOfThreadCaller>& caller) {
    if (!ppOut) {
        return S_OK;
    }
    if (!pUnk) {
        return E_INVALIDARG;
    }
    try {
        CreateWrapperFromIID step(riid, ppOut, pUnk, caller, direct);
        (step(static_cast<Wrappers*>(nullptr)), ...);
    } catch (const HResultException& e) {
        return e.getHResult();
    }
    return *ppOut ? S_OK : E_NOINTERFACE;
}

template <class... Wrappers>
HRESULT isSupportedIn(InterfaceSet<Wrappers...>, const IID& riid) {
    bool found = (IsEqualGUID(riid, BackendIid<typename Wrappers::Interface>::value) || ...);
    return found ? S_OK : E_NOINTERFACE;
}

}  // namespace detail

}  // namespace BackendWrappers
