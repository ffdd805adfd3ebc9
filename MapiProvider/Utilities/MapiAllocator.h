// IMapiAllocator: the COM interface that carries the three MAPI memory
// routines (allocate, allocate-more, free).
#pragma once

#include "winplat/com.h"
#include "winplat/mapi.h"

// {B4B2E014-BBEC-444E-8AEF-34C6811F3CDC}
DEFINE_GUID(IID_IMapiAllocator, 0xB4B2E014, 0xBBEC, 0x444E, 0x8A, 0xEF, 0x34, 0xC6, 0x81, 0x1F, 0x3C, 0xDC);

struct IMapiAllocator : IUnknown {
    STDMETHOD(allocateBuffer)(ULONG size, LPVOID* buffer) PURE;
    STDMETHOD(allocateMore)(ULONG size, LPVOID parent, LPVOID* buffer) PURE;
    STDMETHOD(freeBuffer)(LPVOID buffer) PURE;
    // Each out pointer may be null; the routines given are stored through the others.
    STDMETHOD(getAllocationFunctions)
    (LPALLOCATEBUFFER* allocateBuffer, LPALLOCATEMORE* allocateMore, LPFREEBUFFER* freeBuffer) PURE;
};

namespace Utilities {

class MapiAllocator : public IMapiAllocator {
  public:
    // The system's allocator over the MAPI runtime's routines; the caller
    // holds the only reference. Raises HResultException when the object
    // cannot be made.
    static void create(IMapiAllocator** allocator);
};

}  // namespace Utilities

// The same three routines over the COM task allocator, with MAPI's linked
// allocation: a block made by coTaskMemAllocateMore lives until its head
// block is freed. For MAPI-shaped memory without a MAPI runtime.
SCODE STDMETHODCALLTYPE coTaskMemAllocateBuffer(ULONG cbSize, LPVOID* lppBuffer);
SCODE STDMETHODCALLTYPE coTaskMemAllocateMore(ULONG cbSize, LPVOID lpObject, LPVOID* lppBuffer);
ULONG STDMETHODCALLTYPE coTaskMemFreeBuffer(LPVOID lpBuffer);
