// A small in-process COM server for the activation tests.
#include <atomic>
#include <new>

#include "../com_testserver.h"

namespace {

std::atomic<long> gLive{0};

// IUnknown for an object of interface I, counted in gLive while alive.
template <class I>
class Object : public I {
  public:
    Object() { ++gLive; }
    virtual ~Object() { --gLive; }
    Object(const Object&) = delete;
    Object& operator=(const Object&) = delete;

    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override {
        if (ppv == nullptr) {
            return E_POINTER;
        }
        if (IsEqualGUID(riid, IID_IUnknown) || answers(riid)) {
            *ppv = static_cast<I*>(this);
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

  protected:
    virtual bool answers(REFIID riid) const = 0;

  private:
    std::atomic<ULONG> refs_{1};
};

// Makes a T and hands out its `riid` interface.
template <class T>
HRESULT create(REFIID riid, void** ppv) {
    auto* object = new (std::nothrow) T;
    if (object == nullptr) {
        return E_OUTOFMEMORY;
    }
    const HRESULT hr = object->QueryInterface(riid, ppv);
    object->Release();
    return hr;
}

class Thing final : public Object<IComTestThing> {
  public:
    STDMETHODIMP_(ULONG) value() override { return 42; }

  protected:
    bool answers(REFIID riid) const override {
        return IsEqualGUID(riid, IID_IComTestThing) || IsEqualGUID(riid, IID_IComTestUnproxied);
    }
};

class Factory final : public Object<IClassFactory> {
  public:
    STDMETHODIMP CreateInstance(IUnknown* outer, REFIID riid, void** ppv) override {
        if (ppv == nullptr) {
            return E_POINTER;
        }
        *ppv = nullptr;
        if (outer != nullptr) {
            return CLASS_E_NOAGGREGATION;
        }
        return create<Thing>(riid, ppv);
    }
    STDMETHODIMP LockServer(BOOL) override { return S_OK; }

  protected:
    bool answers(REFIID riid) const override { return IsEqualGUID(riid, IID_IClassFactory); }
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
    return create<Factory>(riid, ppv);
}

extern "C" WINPLAT_API long comTestLiveObjects() {
    return gLive.load();
}
