// The system's IMapiAllocator and the small COM object base it stands on.
#pragma once

#include <atomic>
#include <cstring>
#include <map>

#include "MapiProvider/Utilities/MapiAllocator.h"

namespace Utilities {

// Orders interface IDs by their 16 bytes.
struct IidLess {
    bool operator()(const IID& a, const IID& b) const { return std::memcmp(&a, &b, sizeof(IID)) < 0; }
};

// Reference count and interface lookup for a COM object T. The interface
// table answers QueryInterface itself; the forwarding table hands an IID on
// to another object's QueryInterface.
template <class T, class Base>
class UnknownImpl {
  public:
    virtual ~UnknownImpl() = default;
    virtual bool canDelete() { return true; }
    virtual void lock() {}
    virtual void unlock() {}

    UnknownImpl(const UnknownImpl&) = delete;
    UnknownImpl& operator=(const UnknownImpl&) = delete;

  protected:
    explicit UnknownImpl(IUnknown* self) { interfaces_[IID_IUnknown] = self; }

    void addInterface(const IID& iid, void* face) { interfaces_[iid] = face; }
    void addForward(const IID& iid, IUnknown* target) { forwards_[iid] = target; }

    HRESULT queryInterfaceImpl(REFIID riid, void** out) {
        if (!out) {
            return E_INVALIDARG;
        }
        auto it = interfaces_.find(riid);
        if (it != interfaces_.end()) {
            *out = it->second;
            count_.fetch_add(1);
            return S_OK;
        }
        auto fw = forwards_.find(riid);
        if (fw != forwards_.end()) {
            return fw->second->QueryInterface(riid, out);
        }
        return E_NOINTERFACE;
    }
    ULONG addRefImpl() { return static_cast<ULONG>(count_.fetch_add(1) + 1); }
    ULONG releaseImpl() {
        lock();
        LONG now = count_.fetch_sub(1) - 1;
        if (now != 0) {
            unlock();
        } else if (canDelete()) {
            delete this;
        }
        return static_cast<ULONG>(now);
    }

  private:
    std::atomic<LONG> count_{1};
    std::map<IID, void*, IidLess> interfaces_;
    std::map<IID, IUnknown*, IidLess> forwards_;
};

namespace detail {

class MapiAllocatorImpl : public MapiAllocator, public UnknownImpl<MapiAllocatorImpl, MapiAllocatorImpl> {
  public:
    // A new object with count 1 in *out.
    static void create(MapiAllocatorImpl** out);
    // Objects alive in the process, for tests.
    static long liveCount();

    STDMETHOD(QueryInterface)(REFIID riid, void** ppvObject) override;
    STDMETHOD_(ULONG, AddRef)() override;
    STDMETHOD_(ULONG, Release)() override;
    STDMETHOD(allocateBuffer)(ULONG size, LPVOID* buffer) override;
    STDMETHOD(allocateMore)(ULONG size, LPVOID parent, LPVOID* buffer) override;
    STDMETHOD(freeBuffer)(LPVOID buffer) override;
    STDMETHOD(getAllocationFunctions)
    (LPALLOCATEBUFFER* allocateBuffer, LPALLOCATEMORE* allocateMore, LPFREEBUFFER* freeBuffer) override;

  private:
    MapiAllocatorImpl();
    ~MapiAllocatorImpl() override;

    LPALLOCATEBUFFER allocate_;
    LPALLOCATEMORE allocateMore_;
    LPFREEBUFFER free_;
};

}  // namespace detail
}  // namespace Utilities
