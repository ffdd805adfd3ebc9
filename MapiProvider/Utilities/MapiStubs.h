// The MAPI functions the tool uses, as stubs of the same names and forms.
// The tool does not link MAPI: each stub finds its function in the runtime
// that MapiLoader locates and loads, by its decorated export name, on first
// use. Without a runtime the stubs fail softly: E_FAIL, or nothing for
// MAPIUninitialize and 0 for MAPIFreeBuffer.
#pragma once

#include "winplat/mapi.h"
#include "winplat/mapix.h"

// Not exported: modules loaded into the process must never bind to these
// in place of the runtime's own functions.
#define MAPISTUB_API extern "C" __attribute__((visibility("hidden")))

MAPISTUB_API HRESULT MAPIInitialize(LPVOID lpMapiInit);
MAPISTUB_API void MAPIUninitialize();
MAPISTUB_API HRESULT MAPIAdminProfiles(ULONG ulFlags, LPPROFADMIN* lppProfAdmin);
MAPISTUB_API SCODE MAPIAllocateBuffer(ULONG cbSize, LPVOID* lppBuffer);
MAPISTUB_API SCODE MAPIAllocateMore(ULONG cbSize, LPVOID lpObject, LPVOID* lppBuffer);
MAPISTUB_API ULONG MAPIFreeBuffer(LPVOID lpBuffer);
MAPISTUB_API HRESULT HrSetOneProp(LPMAPIPROP lpMapiProp, LPSPropValue lpProp);
MAPISTUB_API HRESULT WrapStoreEntryID(ULONG ulFlags, LPTSTR lpszDLLName, ULONG cbOrigEntry,
                                      LPENTRYID lpOrigEntry, ULONG* lpcbWrappedEntry,
                                      LPENTRYID* lppWrappedEntry);
