#include "MapiProvider/Utilities/MapiAllocator.h"

#include <cstdint>

#include "CommonBase/BuildTraits.h"
#include "CommonBase/HResultException.h"
#include "MapiProvider/Utilities/MapiAllocatorImpl.h"

namespace Utilities {

void MapiAllocator::create(IMapiAllocator** allocator) {
    detail::MapiAllocatorImpl* impl = nullptr;
    detail::MapiAllocatorImpl::create(&impl);
    HRESULT hr = impl->QueryInterface(IID_IMapiAllocator, reinterpret_cast<void**>(allocator));
    impl->Release();
    if (FAILED(hr)) {
        const buildTraits::RaiseSite& site = buildTraits::mapiAllocator::QueryFailed;
        raiseHResult(hr, 2, site.file, site.line, "Utilities::MapiAllocator::create", nullptr);
    }
}

}  // namespace Utilities

namespace {

constexpr uint32_t HeadMarker = 0x11223344u;
constexpr uint32_t LinkedMarker = 0x55667788u;

// Sits just before the caller's bytes; 16 bytes, so the bytes stay aligned
// as the task allocator aligns its blocks.
struct alignas(16) BlockHeader {
    uint32_t marker;
    BlockHeader* next;
};

BlockHeader* headerOf(void* block) {
    return reinterpret_cast<BlockHeader*>(block) - 1;
}
void* bytesOf(BlockHeader* header) {
    return header + 1;
}

HRESULT allocateLinkedBlock(ULONG size, uint32_t marker, BlockHeader** out) {
    if (!out) {
        return E_INVALIDARG;
    }
    auto* header = static_cast<BlockHeader*>(CoTaskMemAlloc(static_cast<SIZE_T>(size) + sizeof(BlockHeader)));
    if (!header) {
        return E_OUTOFMEMORY;
    }
    header->marker = marker;
    header->next = nullptr;
    *out = header;
    return S_OK;
}

// The head's marker and every linked marker must be right before anything
// is allocated or freed; returns the last header of the chain.
BlockHeader* validChainEnd(void* head) {
    BlockHeader* header = headerOf(head);
    if (header->marker != HeadMarker) {
        return nullptr;
    }
    while (header->next) {
        header = header->next;
        if (header->marker != LinkedMarker) {
            return nullptr;
        }
    }
    return header;
}

}  // namespace

SCODE STDMETHODCALLTYPE coTaskMemAllocateBuffer(ULONG cbSize, LPVOID* lppBuffer) {
    if (!lppBuffer) {
        return E_INVALIDARG;
    }
    BlockHeader* header = nullptr;
    HRESULT hr = allocateLinkedBlock(cbSize, HeadMarker, &header);
    if (SUCCEEDED(hr)) {
        *lppBuffer = bytesOf(header);
    }
    return hr;
}

SCODE STDMETHODCALLTYPE coTaskMemAllocateMore(ULONG cbSize, LPVOID lpObject, LPVOID* lppBuffer) {
    if (!lpObject || !lppBuffer) {
        return E_INVALIDARG;
    }
    BlockHeader* last = validChainEnd(lpObject);
    if (!last) {
        return E_INVALIDARG;
    }
    BlockHeader* header = nullptr;
    HRESULT hr = allocateLinkedBlock(cbSize, LinkedMarker, &header);
    if (FAILED(hr)) {
        return hr;
    }
    last->next = header;
    *lppBuffer = bytesOf(header);
    return S_OK;
}

ULONG STDMETHODCALLTYPE coTaskMemFreeBuffer(LPVOID lpBuffer) {
    if (!lpBuffer) {
        return S_OK;
    }
    if (!validChainEnd(lpBuffer)) {
        return static_cast<ULONG>(E_INVALIDARG);
    }
    BlockHeader* header = headerOf(lpBuffer);
    while (header) {
        BlockHeader* next = header->next;
        CoTaskMemFree(header);
        header = next;
    }
    return S_OK;
}
