// ISynchronizator and AsyncISynchronizator, 7.4 (see
// Backend/common/ISynchronizator.h): slots 9, 18, 19, 20 and 24 have no names
// of their own here, and slots 10 to 12 take two GUIDs.
#pragma once

#include "Backend/v74/Structures.h"

// One row per slot; the formatter would break the rows apart.
// clang-format off
#define BACKEND_ISYNCHRONIZATOR_ROWS_10_TO_12(Y, X)                                                 \
    Y(X, 10, Slot10,                                                                                \
      (GUID first, GUID second, _SynchronizatorCallFlags flags, _QueueRequestPriority priority,     \
       int fFlag),                                                                                  \
      (first, second, flags, priority, fFlag), (), (), FORWARD, FORWARD)                            \
    Y(X, 11, Slot11,                                                                                \
      (GUID first, GUID second, _SynchronizatorCallFlags flags, _QueueRequestPriority priority),    \
      (first, second, flags, priority), (), (), FORWARD, FORWARD)                                   \
    Y(X, 12, Slot12,                                                                                \
      (GUID first, GUID second, _SynchronizatorCallFlags flags, int fFirst, int fSecond,            \
       char* pszText, _QueueRequestPriority priority),                                              \
      (first, second, flags, fFirst, fSecond, pszText, priority), (), (), FORWARD, FORWARD)
// clang-format on
#define BACKEND_ISYNCHRONIZATOR_ROWS(Y, X)                                                                  \
    BACKEND_ISYNCHRONIZATOR_SHARED_ROWS(Y, X, Slot9, BACKEND_ISYNCHRONIZATOR_ROWS_10_TO_12, Slot18, Slot19, \
                                        Slot20, Slot24)

#include "Backend/common/ISynchronizator.h"
