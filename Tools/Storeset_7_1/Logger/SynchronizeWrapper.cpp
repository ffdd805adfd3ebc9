#include "Tools/Storeset_7_1/Logger/SynchronizeWrapper.h"

HRESULT SynchronizeWrapper::create(ISynchronize* target, bool marshalled, ISynchronize** out) {
    if (!out) {
        return E_POINTER;
    }
    *out = nullptr;
    if (!target) {
        return E_INVALIDARG;
    }
    SynchronizeWrapper* wrapper = new (std::nothrow) SynchronizeWrapper;
    if (!wrapper) {
        return E_OUTOFMEMORY;
    }
    target->AddRef();
    wrapper->target_ = target;
    wrapper->hold(target);
    if (marshalled) {
        // The marshaler holds no reference on its outer object.
        const HRESULT hr = CoCreateFreeThreadedMarshaler(wrapper->unknown(), &wrapper->marshaler_);
        if (FAILED(hr)) {
            wrapper->Release();
            return hr;
        }
        try {
            wrapper->aggregates_[IID_IMarshal] = wrapper->marshaler_;
        } catch (...) {
            wrapper->Release();
            return E_OUTOFMEMORY;
        }
    }
    *out = wrapper;
    return S_OK;
}

SynchronizeWrapper::~SynchronizeWrapper() {
    for (IUnknown* held : {static_cast<IUnknown*>(target_), static_cast<IUnknown*>(spare_), marshaler_}) {
        if (held) {
            held->Release();
        }
    }
}

HRESULT SynchronizeWrapper::QueryInterface(REFIID riid, void** out) {
    if (!out) {
        return E_POINTER;
    }
    *out = nullptr;
    HRESULT hr = E_NOINTERFACE;
    if (IsEqualGUID(riid, IID_IUnknown) || IsEqualGUID(riid, IID_ISynchronize)) {
        addRefImpl();
        *out = static_cast<ISynchronize*>(this);
        hr = S_OK;
    } else if (IsEqualGUID(riid, IID_IMarshal)) {
        auto found = aggregates_.find(IID_IMarshal);
        if (found != aggregates_.end() && found->second) {
            hr = found->second->QueryInterface(IID_IMarshal, out);
        }
    }
    return *out ? hr : E_NOINTERFACE;
}

HRESULT SynchronizeWrapper::Wait(DWORD flags, DWORD milliseconds) {
    return target_->Wait(flags, milliseconds);
}

HRESULT SynchronizeWrapper::Signal() {
    return target_->Signal();
}

HRESULT SynchronizeWrapper::Reset() {
    return target_->Reset();
}
