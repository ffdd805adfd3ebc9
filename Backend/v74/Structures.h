// Structures of the backend server's interface definitions that only the 7.4
// set has; the rest are shared with the 7.1 set.
#pragma once

// A build that chose the 7.1 set says so with BACKEND_SET_71.
#ifdef BACKEND_SET_71
#error "Backend/v74 does not belong to a build of the 7.1 set"
#endif

#include "Backend/common/Structures.h"

// Account record of IAppConnection slots 5 and 6.
struct __MIDL___MIDL_itf_idlStructures_0000_0001 {
    ULONG ulFlags;
    GUID guid;
    wchar_t* lpszName;
};
