#include "MapiProvider/Utilities/MapiAllocatorImpl.h"

#include <new>

#include "CommonBase/HResultException.h"
#include "MapiProvider/Utilities/MapiStubs.h"

namespace Utilities::detail {
namespace {
std::atomic<long> liveObjects{0};
}

MapiAllocatorImpl::MapiAllocatorImpl()
    : UnknownImpl(static_cast<IMapiAllocator*>(this)),
      allocate_(MAPIAllocateBuffer),
      allocateMore_(MAPIAllocateMore),
      free_(MAPIFreeBuffer) {
    liveObjects.fetch_add(1);
}

MapiAllocatorImpl::~MapiAllocatorImpl() {
    liveObjects.fetch_sub(1);
}

long MapiAllocatorImpl::liveCount() {
    return liveObjects.load();
}

void MapiAllocatorImpl::create(MapiAllocatorImpl** out) {
    static const char* const file = "MapiProvider\\Utilities\\MapiAllocatorImpl";
    static const char* const function = "Utilities::detail::MapiAllocatorImpl::create";
    // Whether *out is writable cannot be probed here; null is what is refused.
    if (!out) {
        raiseHResult(E_INVALIDARG, 2, file, __LINE__, function, nullptr);
    }
    MapiAllocatorImpl* object = new (std::nothrow) MapiAllocatorImpl;
    if (!object) {
        raiseHResult(E_OUTOFMEMORY, 2, file, __LINE__, function, nullptr);
    }
    object->addInterface(IID_IMapiAllocator, static_cast<IMapiAllocator*>(object));
    *out = object;
}

HRESULT MapiAllocatorImpl::QueryInterface(REFIID riid, void** ppvObject) {
    return queryInterfaceImpl(riid, ppvObject);
}
ULONG MapiAllocatorImpl::AddRef() {
    return addRefImpl();
}
ULONG MapiAllocatorImpl::Release() {
    return releaseImpl();
}

HRESULT MapiAllocatorImpl::allocateBuffer(ULONG size, LPVOID* buffer) {
    return allocate_(size, buffer);
}
HRESULT MapiAllocatorImpl::allocateMore(ULONG size, LPVOID parent, LPVOID* buffer) {
    return allocateMore_(size, parent, buffer);
}
HRESULT MapiAllocatorImpl::freeBuffer(LPVOID buffer) {
    return static_cast<HRESULT>(free_(buffer));
}

HRESULT MapiAllocatorImpl::getAllocationFunctions(LPALLOCATEBUFFER* allocateBuffer,
                                                  LPALLOCATEMORE* allocateMore, LPFREEBUFFER* freeBuffer) {
    if (allocateBuffer) {
        *allocateBuffer = allocate_;
    }
    if (allocateMore) {
        *allocateMore = allocateMore_;
    }
    if (freeBuffer) {
        *freeBuffer = free_;
    }
    return S_OK;
}

}  // namespace Utilities::detail
