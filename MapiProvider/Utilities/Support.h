// Handing the MAPI memory routines to the backend server's proxy/stub module,
// which then builds the server's replies in memory the caller can free.
#pragma once

#include "winplat/mapi.h"

// The proxy/stub module's export "setAllocationFunctions".
typedef HRESULT(STDMETHODCALLTYPE* LPSETALLOCATIONFUNCTIONS)(LPALLOCATEBUFFER allocateBuffer,
                                                             LPALLOCATEMORE allocateMore,
                                                             LPFREEBUFFER freeBuffer);

namespace Utilities {

class Support {
  public:
    // Raises E_INVALIDARG for a null routine; the module's absence or a
    // missing export as the last error (E_FAIL when none is set); and the
    // export's own failure.
    static void setAllocationFunctions(LPALLOCATEBUFFER allocateBuffer, LPALLOCATEMORE allocateMore,
                                       LPFREEBUFFER freeBuffer);
    // The same with the program's own MAPI memory routines.
    static void setAllocationFunctions();
};

}  // namespace Utilities
