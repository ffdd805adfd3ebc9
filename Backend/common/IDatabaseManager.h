// IDatabaseManager: the server's database manager; IDbObject's slots only.
#pragma once

#include "Backend/common/IDbObject.h"

#define BACKEND_IDATABASEMANAGER_ALL_SLOTS(X) BACKEND_IDBOBJECT_SLOTS(X)

struct IDatabaseManager : public IDbObject {};

BACKEND_DEFINE_IID(IDatabaseManager, 0xD7A45040, 0x1087, 0x4A11, 0xA4, 0x70, 0x6C, 0x39, 0x55, 0x84, 0x19,
                   0x51)
BACKEND_CHECK_SLOTS(BACKEND_IDATABASEMANAGER_ALL_SLOTS, IDatabaseManagerAll, 3, 2)
