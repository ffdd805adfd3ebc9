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
    STDMETHOD(getAllocationFunctions)(LPALLOCATEBUFFER* allocateBuffer, LPALLOCATEMORE* allocateMore,
                                      LPFREEBUFFER* freeBuffer) PURE;
};
