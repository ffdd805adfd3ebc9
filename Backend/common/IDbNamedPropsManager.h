// IDbNamedPropsManager: maps named properties to property tags and back.
#pragma once

#include "Backend/common/IDbObject.h"

// One row per slot; the formatter would break the rows apart.
// clang-format off
#define BACKEND_IDBNAMEDPROPSMANAGER_SLOTS(X)                                                       \
    X(5, Slot5,                                                                                     \
      (GUID* pGuid, int fFirst, int fSecond, _SPropTagArray** ppTags, _MAPINAMEID_ARRAY** ppNames), \
      (pGuid, fFirst, fSecond, ppTags, ppNames), FORWARD)                                           \
    X(6, Slot6, (_SPropTagArray* pTags, int fFirst, int fSecond, _MAPINAMEID_ARRAY** ppNames),     \
      (pTags, fFirst, fSecond, ppNames), FORWARD)                                                   \
    X(7, Slot7, (_MAPINAMEID_ARRAY* pNames, int fFlags, _SPropTagArray** ppTags),                  \
      (pNames, fFlags, ppTags), FORWARD)

#define BACKEND_IDBNAMEDPROPSMANAGER_ALL_SLOTS(X) \
    BACKEND_IDBOBJECT_SLOTS(X) BACKEND_IDBNAMEDPROPSMANAGER_SLOTS(X)

// clang-format on
struct IDbNamedPropsManager : public IDbObject {
    BACKEND_IDBNAMEDPROPSMANAGER_SLOTS(BACKEND_DECLARE_SLOT)
};

BACKEND_DEFINE_IID(IDbNamedPropsManager, 0x4E797D1C, 0x2480, 0x4F72, 0x9D, 0x76, 0xC2, 0xA8, 0x40, 0xDA, 0xC1,
                   0x05)
BACKEND_CHECK_SLOTS(BACKEND_IDBNAMEDPROPSMANAGER_SLOTS, IDbNamedPropsManager, 5, 3)
BACKEND_CHECK_SLOTS(BACKEND_IDBNAMEDPROPSMANAGER_ALL_SLOTS, IDbNamedPropsManagerAll, 3, 5)
