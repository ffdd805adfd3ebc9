// IDbMsgStore, 7.1: a message store of the database.
#pragma once

#include "Backend/v71/IDbMapiProps.h"

// One row per slot; the formatter would break the rows apart.
// clang-format off
#define BACKEND_IDBMSGSTORE_SLOTS(X)                                                            \
    X(18, OpenMapiProps, (GUID guid, ULONG ulFlags, IDbMapiProps** ppProps),                    \
      (guid, ulFlags, ppProps), OUT_WRAPPED(DbMapiPropsWrapper, ppProps))                       \
    X(19, OpenFolder, (ULONG ulFlags, IDbFolder** ppFolder), (ulFlags, ppFolder),              \
      OUT_WRAPPED(DbFolderWrapper, ppFolder))                                                   \
    X(20, Slot20, (GUID guid), (guid), FORWARD)                                                 \
    X(21, Slot21, (int fFlag, _SRowSet** ppRows), (fFlag, ppRows), FORWARD)                    \
    X(22, Slot22, (ULONG cb, BYTE* pb), (cb, pb), FORWARD)                                     \
    X(23, Slot23, (const char* pszName, GUID* pGuid), (pszName, pGuid), FORWARD)                \
    X(24, Slot24, (ULONG ulFlags, const char** ppszState, ULONG* pcb, _SyncInfo** ppInfo),      \
      (ulFlags, ppszState, pcb, ppInfo), FORWARD)

#define BACKEND_IDBMSGSTORE_ALL_SLOTS(X) BACKEND_IDBMAPIPROPS_ALL_SLOTS(X) BACKEND_IDBMSGSTORE_SLOTS(X)

// clang-format on
struct IDbMsgStore : public IDbMapiProps {
    BACKEND_IDBMSGSTORE_SLOTS(BACKEND_DECLARE_SLOT)
};

BACKEND_DEFINE_IID(IDbMsgStore, 0x9DAB5590, 0x9D1F, 0x4219, 0xBF, 0x5F, 0xA7, 0x9D, 0xB0, 0x6C, 0xE4, 0x84)
BACKEND_CHECK_SLOTS(BACKEND_IDBMSGSTORE_SLOTS, IDbMsgStore, 18, 7)
BACKEND_CHECK_SLOTS(BACKEND_IDBMSGSTORE_ALL_SLOTS, IDbMsgStoreAll, 3, 22)
