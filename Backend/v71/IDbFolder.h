// IDbFolder, 7.1: a folder of a message store.
#pragma once

#include "Backend/v71/IDbMapiProps.h"

// One row per slot; the formatter would break the rows apart.
// clang-format off
#define BACKEND_IDBFOLDER_SLOTS(X)                                                                   \
    X(18, Slot18, (int fFlags, IDbTable** ppTable), (fFlags, ppTable),                              \
      OUT_WRAPPED(DbTableWrapper, ppTable))                                                          \
    X(19, Slot19, (int fFlags, IDbTable** ppTable), (fFlags, ppTable),                              \
      OUT_WRAPPED(DbTableWrapper, ppTable))                                                          \
    X(20, Slot20, (GUID* pGuid, wchar_t* pszName, int fFirst, int fSecond, IDbFolder** ppFolder),   \
      (pGuid, pszName, fFirst, fSecond, ppFolder), OUT_WRAPPED(DbFolderWrapper, ppFolder))           \
    X(21, Slot21, (GUID* pGuid, wchar_t* pszName, int fFlags, IDbFolder** ppFolder),                \
      (pGuid, pszName, fFlags, ppFolder), OUT_WRAPPED(DbFolderWrapper, ppFolder))                    \
    X(22, Slot22, (GUID guid, IDbFolder* pFolder, wchar_t* pszName, int fFirst, int fSecond),       \
      (guid, pFolder, pszName, fFirst, fSecond), IN_UNWRAPPED(pFolder))                              \
    X(23, Slot23, (GUID guid, int fFirst, int fSecond), (guid, fFirst, fSecond), FORWARD)           \
    X(24, Slot24, (int fFlags), (fFlags), FORWARD)                                                  \
    X(25, Slot25, (ULONG cGuids, GUID* pGuids, int fFlags), (cGuids, pGuids, fFlags), FORWARD)      \
    X(26, Slot26, (GUID* pGuid, int fFlags, ULONG ulFlags, IDbMessage** ppMessage),                 \
      (pGuid, fFlags, ulFlags, ppMessage), OUT_WRAPPED(DbMessageWrapper, ppMessage))                 \
    X(27, Slot27, (ULONG cGuids, GUID* pGuids, IDbFolder* pFolder, int fFlags),                     \
      (cGuids, pGuids, pFolder, fFlags), IN_UNWRAPPED(pFolder))                                      \
    X(28, Slot28, (GUID guid, IDbFolder* pFolder, GUID* pNewGuid), (guid, pFolder, pNewGuid),       \
      IN_UNWRAPPED(pFolder))                                                                         \
    X(29, Slot29, (GUID guid, ULONG* pulValue), (guid, pulValue), FORWARD)                          \
    X(30, Slot30, (GUID guid, ULONG ulFirst, ULONG ulSecond, ULONG* pulValue),                      \
      (guid, ulFirst, ulSecond, pulValue), FORWARD)                                                  \
    X(31, Slot31, (ULONG cGuids, GUID* pGuids, ULONG ulFlags, IDbReportSender* pSender),            \
      (cGuids, pGuids, ulFlags, pSender), IN_UNWRAPPED(pSender))                                     \
    X(32, Slot32, (_SRestrictionEx* pRes, ULONG ulFirst, GUID* pGuid, ULONG ulSecond),              \
      (pRes, ulFirst, pGuid, ulSecond), FORWARD)                                                     \
    X(33, Slot33, (_SRestrictionEx** ppRes, ULONG* pulFirst, GUID** ppGuids, ULONG* pulSecond),     \
      (ppRes, pulFirst, ppGuids, pulSecond), FORWARD)

#define BACKEND_IDBFOLDER_ALL_SLOTS(X) BACKEND_IDBMAPIPROPS_ALL_SLOTS(X) BACKEND_IDBFOLDER_SLOTS(X)

// clang-format on
struct IDbFolder : public IDbMapiProps {
    BACKEND_IDBFOLDER_SLOTS(BACKEND_DECLARE_SLOT)
};

BACKEND_DEFINE_IID(IDbFolder, 0x08578AC6, 0xBC15, 0x4336, 0x95, 0xB7, 0xA3, 0x12, 0x1A, 0x0F, 0xD3, 0x8A)
BACKEND_CHECK_SLOTS(BACKEND_IDBFOLDER_SLOTS, IDbFolder, 18, 16)
BACKEND_CHECK_SLOTS(BACKEND_IDBFOLDER_ALL_SLOTS, IDbFolderAll, 3, 31)
