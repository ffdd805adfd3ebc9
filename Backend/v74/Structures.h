// Structures of the backend server's interface definitions that only the 7.4
// set has; the rest are shared with the 7.1 set.
#pragma once

#ifdef STORESET_BUILD_71
#error "Backend/v74 does not belong to the 7.1 build"
#endif

#include "Backend/common/Structures.h"

// Account record of IAppConnection slots 5 and 6.
struct __MIDL___MIDL_itf_idlStructures_0000_0001 {
    ULONG ulFlags;
    GUID guid;
    wchar_t* lpszName;
};

// Synchronisation requests of ISynchronizator.
enum _SynchronizatorCallFlags : int32_t {
    SynchronizatorCallDefault = 0,
    SynchronizatorCallForce = 1,
};

enum _QueueRequestPriority : int32_t {
    QueueRequestLow = 0,
    QueueRequestNormal = 1,
    QueueRequestHigh = 2,
};

struct _ConnectionInfo {
    ULONG ulState;
    wchar_t* lpszServer;
};

struct _SharingList {
    ULONG cEntries;
    GUID* lpEntries;
};

struct _ServerInfo {
    ULONG ulVersion;
    wchar_t* lpszName;
};
