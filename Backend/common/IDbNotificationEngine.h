// IDbNotificationEngine: the server's notification engine.
#pragma once

#include "Backend/common/IDbObject.h"

// One row per slot; the formatter would break the rows apart.
// clang-format off
#define BACKEND_IDBNOTIFICATIONENGINE_SLOTS(X)                                                    \
    X(5, Advise,                                                                                  \
      (const char* pszKey, ULONG ulEventMask, IDbAdviseSink* pSink, int fFlags, ULONG* pulConn),  \
      (pszKey, ulEventMask, pSink, fFlags, pulConn), IN_UNWRAPPED(pSink))                         \
    X(6, Slot6, (ULONG ulConnection), (ulConnection), FORWARD)                                   \
    X(7, Slot7, (const char* pszKey, _NOTIFICATION_ARRAY* pNotifications), (pszKey, pNotifications), \
      FORWARD)

#define BACKEND_IDBNOTIFICATIONENGINE_ALL_SLOTS(X) \
    BACKEND_IDBOBJECT_SLOTS(X) BACKEND_IDBNOTIFICATIONENGINE_SLOTS(X)

// clang-format on
struct IDbNotificationEngine : public IDbObject {
    BACKEND_IDBNOTIFICATIONENGINE_SLOTS(BACKEND_DECLARE_SLOT)
};

BACKEND_DEFINE_IID(IDbNotificationEngine, 0x07977CB8, 0x6437, 0x4054, 0xAE, 0x14, 0xBA, 0x6F, 0xA5, 0x00,
                   0x94, 0xD8)
BACKEND_CHECK_SLOTS(BACKEND_IDBNOTIFICATIONENGINE_SLOTS, IDbNotificationEngine, 5, 3)
BACKEND_CHECK_SLOTS(BACKEND_IDBNOTIFICATIONENGINE_ALL_SLOTS, IDbNotificationEngineAll, 3, 5)
