// IAppConnection: a connection to one database of the backend server.
#pragma once

#include "Backend/common/SlotTable.h"
#include "Backend/v74/Structures.h"
#include "winplat/com.h"

// One row per slot; the formatter would break the rows apart.
// clang-format off
#define BACKEND_IAPPCONNECTION_SLOTS(X)                                                              \
    X(3, Slot3, (_ServerConfiguration** ppConfig), (ppConfig), FORWARD)                              \
    X(4, Slot4, (_ServerConfiguration* pConfig, int fFlag), (pConfig, fFlag), FORWARD)               \
    X(5, Slot5,                                                                                      \
      (wchar_t* pszName, __MIDL___MIDL_itf_idlStructures_0000_0001* pAccount, int fFlag),            \
      (pszName, pAccount, fFlag), FORWARD)                                                           \
    X(6, Slot6, (wchar_t* pszName, __MIDL___MIDL_itf_idlStructures_0000_0001** ppAccount),          \
      (pszName, ppAccount), FORWARD)                                                                 \
    X(7, Slot7,                                                                                      \
      (GUID* pFirst, GUID* pSecond, _StoreTypes type, const wchar_t* pszName, IDbMsgStore** ppStore), \
      (pFirst, pSecond, type, pszName, ppStore), OUT_WRAPPED(DbMsgStoreWrapper, ppStore))            \
    X(8, Slot8, (GUID guid), (guid), FORWARD)                                                        \
    X(9, OpenMsgStore, (GUID guidStore, ULONG ulFlags, IDbMsgStore** ppStore),                      \
      (guidStore, ulFlags, ppStore), OUT_WRAPPED(DbMsgStoreWrapper, ppStore))                        \
    X(10, Slot10, (GUID guidStore, GUID guidFolder, ULONG ulFlags, IDbFolder** ppFolder),           \
      (guidStore, guidFolder, ulFlags, ppFolder), OUT_WRAPPED(DbFolderWrapper, ppFolder))            \
    X(11, OpenMapiProps, (GUID guidStore, GUID guidObject, ULONG ulFlags, IDbMapiProps** ppProps),  \
      (guidStore, guidObject, ulFlags, ppProps), OUT_WRAPPED(DbMapiPropsWrapper, ppProps))           \
    X(12, GetStoreIds, (ULONG* pcStores, GUID** ppStores), (pcStores, ppStores), FORWARD)          \
    X(13, Slot13, (IDbNamedPropsManager** ppManager), (ppManager),                                   \
      OUT_WRAPPED(DbNamedPropsManagerWrapper, ppManager))                                            \
    X(14, GetLastError, (LONG lFlags, _DbError** ppError), (lFlags, ppError), FORWARD)               \
    X(15, Slot15, (IDatabaseManager** ppManager), (ppManager),                                       \
      OUT_WRAPPED(DatabaseManagerWrapper, ppManager))                                                \
    X(16, Slot16, (IDbNotificationEngine** ppEngine), (ppEngine),                                    \
      OUT_WRAPPED(DbNotificationEngineWrapper, ppEngine))                                            \
    X(17, Slot17, (ILog** ppLog), (ppLog), OUT_WRAPPED(LogWrapper, ppLog))                           \
    X(18, Slot18, (), (), FORWARD)                                                                   \
    X(19, Slot19, (int fFlag, ISynchronizator** ppSync), (fFlag, ppSync),                            \
      OUT_WRAPPED(SynchronizatorWrapper, ppSync))                                                    \
    X(20, Slot20, (IUnknown** ppUnk), (ppUnk), OUT_WRAPPED(UnknownWrapper, ppUnk))                   \
    X(21, Slot21, (const wchar_t* pszName, GUID* pGuid), (pszName, pGuid), FORWARD)                 \
    X(22, Slot22, (GUID guid, wchar_t** ppszName), (guid, ppszName), FORWARD)                        \
    X(23, Slot23, (GUID guid, GUID* pGuid), (guid, pGuid), FORWARD)                                  \
    X(24, Slot24, (GUID guid, GUID* pGuid), (guid, pGuid), FORWARD)                                  \
    X(25, Slot25, (_StoreLimitType type, GUID guid, _SPropValueArray* pValues),                     \
      (type, guid, pValues), FORWARD)                                                                \
    X(26, Slot26, (ULONG* pulValue), (pulValue), FORWARD)                                            \
    X(27, Slot27, (ULONG ulValue), (ulValue), FORWARD)                                               \
    X(28, Slot28, (ULONG ulValue, ULONG* pulValue), (ulValue, pulValue), FORWARD)                    \
    X(29, Slot29, (_ProfileType* pType), (pType), FORWARD)                                           \
    X(30, Slot30,                                                                                    \
      (ULONG cb, unsigned char* pb, GUID* pFirst, GUID* pSecond, _ObjectType* pType),               \
      (cb, pb, pFirst, pSecond, pType), FORWARD)                                                     \
    X(31, Slot31, (GUID guid, _SBinary* pFirst, _SBinary* pSecond, ULONG ulFlags),                  \
      (guid, pFirst, pSecond, ulFlags), FORWARD)                                                     \
    X(32, Slot32, (GUID guid, _SBinary* pBin, _SBinaryArray** ppArray), (guid, pBin, ppArray),      \
      FORWARD)                                                                                       \
    X(33, Slot33, (GUID guid, ULONG ulFlags, _SBinaryArray** ppArray), (guid, ulFlags, ppArray),    \
      FORWARD)                                                                                       \
    X(34, Slot34, (GUID guid, _SBinary* pBin), (guid, pBin), FORWARD)                                \
    X(35, Slot35, (GUID guid, _SBinary* pBin, ULONG* pulValue), (guid, pBin, pulValue), FORWARD)    \
    X(36, Slot36, (GUID guid, GUID* pGuid), (guid, pGuid), FORWARD)                                  \
    X(37, Slot37, (LONG lValue), (lValue), FORWARD)

// clang-format on
struct IAppConnection : public IUnknown {
    BACKEND_IAPPCONNECTION_SLOTS(BACKEND_DECLARE_SLOT)
};

BACKEND_DEFINE_IID(IAppConnection, 0x1069C819, 0x3208, 0x47F1, 0xB4, 0x77, 0xA6, 0xB3, 0xAC, 0x02, 0x32, 0x02)
BACKEND_CHECK_SLOTS(BACKEND_IAPPCONNECTION_SLOTS, IAppConnection, 3, 35)
