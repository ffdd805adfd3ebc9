// IDbObject: base of every stored object the backend server hands out.
#pragma once

#include "Backend/common/SlotTable.h"
#include "Backend/common/Structures.h"
#include "winplat/com.h"

// One row per slot; the formatter would break the rows apart.
// clang-format off
#define BACKEND_IDBOBJECT_SLOTS(X)                                                         \
    X(3, GetConnection, (IAppConnection** ppConnection), (ppConnection),                  \
      OUT_WRAPPED(AppConnectionWrapper, ppConnection))                                     \
    X(4, GetLastError, (LONG lFlags, _DbError** ppError), (lFlags, ppError), FORWARD)

// clang-format on
struct IDbObject : public IUnknown {
    BACKEND_IDBOBJECT_SLOTS(BACKEND_DECLARE_SLOT)
};

BACKEND_DEFINE_IID(IDbObject, 0xCB6EE8F9, 0x3ACD, 0x4976, 0xB4, 0xC2, 0x45, 0xA4, 0x14, 0xAA, 0xB7, 0xFA)
BACKEND_CHECK_SLOTS(BACKEND_IDBOBJECT_SLOTS, IDbObject, 3, 2)
