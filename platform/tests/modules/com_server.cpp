// A small in-process COM server for the activation tests.
#include <atomic>
#include <new>

#include "../com_testserver.h"

namespace {

std::atomic<long> gLive{0};

class Thing final : public IComTestThing {
  public:
    Thing() { ++gLive; }
    ~Thing() { --gLive; }
    Thing(const Thing&) = delete;
    Thing& operator=(const Thing&) = delete;

    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override {
        if (ppv == nullptr) {
            return E_POINTER;
        }
        if (IsEqualGUID(riid, IID_IUnknown) || IsEqualGUID(riid, IID_IComTestThing) ||
            IsEqualGUID(riid, IID_IComTestUnproxied)) {
            *ppv = static_cast<IComTestThing*>(this);
            AddRef();
            return S_OK;
        }
        *ppv = nullptr;
        return E_NOINTERFACE;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return ++refs_; }
    STDMETHODIMP_(ULONG) Release() override {
        const ULONG left = --refs_;
        if (left == 0) {
            delete this;
        }
        return left;
    }
    STDMETHODIMP_(ULONG) value() override { return 42; }

  private:
    std::atomic<ULONG> refs_{1};
};

class Factory final : public IClassFactory {
  public:
    Factory() { ++gLive; }
    ~Factory() { --gLive; }
    Factory(const Factory&) = delete;
    Factory& operator=(const Factory&) = delete;

    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override {
        if (ppv == nullptr) {
            return E_POINTER;
        }
        if (IsEqualGUID(riid, IID_IUnknown) || IsEqualGUID(riid, IID_IClassFactory)) {
            *ppv = static_cast<IClassFactory*>(this);
            AddRef();
            return S_OK;
        }
        *ppv = nullptr;
        return E_NOINTERFACE;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return ++refs_; }
    STDMETHODIMP_(ULONG) Release() override {
        const ULONG left = --refs_;
        if (left == 0) {
            delete this;
        }
        return left;
    }
    STDMETHODIMP CreateInstance(IUnknown* outer, REFIID riid, void** ppv) override {
        if (ppv == nullptr) {
            return E_POINTER;
        }
        *ppv = nullptr;
        if (outer != nullptr) {
            return CLASS_E_NOAGGREGATION;
        }
        auto* thing = new (std::nothrow) Thing;
        if (thing == nullptr) {
            return E_OUTOFMEMORY;
        }
        const HRESULT hr = thing->QueryInterface(riid, ppv);
        thing->Release();
        return hr;
    }
    STDMETHODIMP LockServer(BOOL) override { return S_OK; }

  private:
    std::atomic<ULONG> refs_{1};
};

}  // namespace

extern "C" WINPLAT_API HRESULT DllGetClassObject(REFCLSID clsid, REFIID riid, void** ppv) {
    if (ppv == nullptr) {
        return E_POINTER;
    }
    *ppv = nullptr;
    if (!IsEqualGUID(clsid, CLSID_ComTestThing)) {
        return CLASS_E_CLASSNOTAVAILABLE;
    }
    auto* factory = new (std::nothrow) Factory;
    if (factory == nullptr) {
        return E_OUTOFMEMORY;
    }
    const HRESULT hr = factory->QueryInterface(riid, ppv);
    factory->Release();
    return hr;
}

extern "C" WINPLAT_API long comTestLiveObjects() {
    return gLive.load();
}
