// ISynchronizator and AsyncISynchronizator, 7.1 (see
// Backend/common/ISynchronizator.h): slots 9, 18, 19, 20 and 24 have names
// here, and slots 10 to 12 take one GUID.
#pragma once

#include "Backend/v71/Structures.h"

// One row per slot; the formatter would break the rows apart.
// clang-format off
#define BACKEND_ISYNCHRONIZATOR_ROWS_10_TO_12(Y, X)                                                 \
    Y(X, 10, Slot10,                                                                                \
      (GUID guid, _SynchronizatorCallFlags flags, _QueueRequestPriority priority, int fFlag),       \
      (guid, flags, priority, fFlag), (), (), FORWARD, FORWARD)                                     \
    Y(X, 11, Slot11, (GUID guid, _SynchronizatorCallFlags flags, _QueueRequestPriority priority),   \
      (guid, flags, priority), (), (), FORWARD, FORWARD)                                            \
    Y(X, 12, Slot12,                                                                                \
      (GUID guid, _SynchronizatorCallFlags flags, int fFirst, int fSecond, char* pszText,           \
       _QueueRequestPriority priority),                                                             \
      (guid, flags, fFirst, fSecond, pszText, priority), (), (), FORWARD, FORWARD)
// clang-format on
#define BACKEND_ISYNCHRONIZATOR_ROWS(Y, X)                                                              \
    BACKEND_ISYNCHRONIZATOR_SHARED_ROWS(Y, X, GetConnectionInfo, BACKEND_ISYNCHRONIZATOR_ROWS_10_TO_12, \
                                        GetSharingList, SetSharingList, GetServerInfo, GetLog)

#include "Backend/common/ISynchronizator.h"
