// Structures of the backend server's 7.1 interface definitions that only the
// 7.1 set has; the rest are shared with the 7.4 set. The 7.1 set shares names
// and IIDs with the 7.4 set but not slot layouts, so its headers serve only
// units of a build that chose the set by defining BACKEND_SET_71.
#pragma once

#ifndef BACKEND_SET_71
#error "Backend/v71 belongs to a build of the 7.1 set only"
#endif

#include "Backend/common/Structures.h"

// Account record of IAppConnection slots 5 and 6 (both by double pointer).
struct __MIDL___MIDL_itf_Hollomar_0000_0001 {
    ULONG ulFlags;
    GUID guid;
    wchar_t* lpszName;
};
