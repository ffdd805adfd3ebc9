// IAppConnection, 7.1: a connection to one database of the backend server.
#pragma once

#include "Backend/common/SlotTable.h"
#include "Backend/v71/Structures.h"
#include "winplat/com.h"

// One row per slot; the formatter would break the rows apart.
// clang-format off
#define BACKEND_IAPPCONNECTION_SLOTS(X)                                                              \
    X(3, GetConfiguration, (_ServerConfiguration** ppConfig), (ppConfig), FORWARD)                   \
    X(4, Slot4, (_ServerConfiguration* pConfig, int fFlag), (pConfig, fFlag), FORWARD)               \
    X(5, Slot5, (wchar_t* pszName, __MIDL___MIDL_itf_Hollomar_0000_0001** ppAccount, int fFlag),   \
      (pszName, ppAccount, fFlag), FORWARD)                                                          \
    X(6, Slot6, (wchar_t* pszName, __MIDL___MIDL_itf_Hollomar_0000_0001** ppAccount),              \
      (pszName, ppAccount), FORWARD)                                                                 \
    X(7, Slot7, (GUID* pFirst, GUID* pSecond, IDbMsgStore** ppStore), (pFirst, pSecond, ppStore),   \
      OUT_WRAPPED(DbMsgStoreWrapper, ppStore))                                                       \
    X(8, Slot8, (GUID guid), (guid), FORWARD)                                                        \
    X(9, OpenFolder, (GUID guid, ULONG ulFlags, IDbFolder** ppFolder), (guid, ulFlags, ppFolder),   \
      OUT_WRAPPED(DbFolderWrapper, ppFolder))                                                        \
    X(10, OpenMapiProps, (GUID guid, ULONG ulFlags, IDbMapiProps** ppProps), (guid, ulFlags, ppProps), \
      OUT_WRAPPED(DbMapiPropsWrapper, ppProps))                                                      \
    X(11, GetStoreIds, (ULONG* pcStores, GUID** ppStores), (pcStores, ppStores), FORWARD)          \
    X(12, GetNamedPropsManager, (IDbNamedPropsManager** ppManager), (ppManager),                     \
      OUT_WRAPPED(DbNamedPropsManagerWrapper, ppManager))                                            \
    X(13, GetLastError, (LONG lFlags, _DbError** ppError), (lFlags, ppError), FORWARD)               \
    X(14, GetDatabaseManager, (IDatabaseManager** ppManager), (ppManager),                           \
      OUT_WRAPPED(DatabaseManagerWrapper, ppManager))                                                \
    X(15, GetNotificationEngine, (IDbNotificationEngine** ppEngine), (ppEngine),                     \
      OUT_WRAPPED(DbNotificationEngineWrapper, ppEngine))                                            \
    X(16, GetLog, (ILog** ppLog), (ppLog), OUT_WRAPPED(LogWrapper, ppLog))                           \
    X(17, Slot17, (), (), FORWARD)                                                                   \
    X(18, GetSynchronizator, (int fFlag, ISynchronizator** ppSync), (fFlag, ppSync),                 \
      OUT_WRAPPED(SynchronizatorWrapper, ppSync))                                                    \
    X(19, Slot19, (IUnknown** ppUnk), (ppUnk), OUT_WRAPPED(UnknownWrapper, ppUnk))                   \
    X(20, Slot20, (const wchar_t* pszName, GUID* pGuid), (pszName, pGuid), FORWARD)                 \
    X(21, Slot21, (GUID guid, wchar_t** ppszName), (guid, ppszName), FORWARD)                        \
    X(22, Slot22, (GUID guid, GUID* pGuid), (guid, pGuid), FORWARD)                                  \
    X(23, Slot23, (GUID guid, GUID* pGuid), (guid, pGuid), FORWARD)                                  \
    X(24, Slot24, (_StoreLimitType type, GUID guid, _SPropValueArray* pValues),                     \
      (type, guid, pValues), FORWARD)                                                                \
    X(25, Slot25, (ULONG* pulValue), (pulValue), FORWARD)                                            \
    X(26, Slot26, (ULONG ulValue), (ulValue), FORWARD)                                               \
    X(27, Slot27, (ULONG ulValue, ULONG* pulValue), (ulValue, pulValue), FORWARD)                    \
    X(28, Slot28, (_ProfileType* pType), (pType), FORWARD)

// clang-format on
struct IAppConnection : public IUnknown {
    BACKEND_IAPPCONNECTION_SLOTS(BACKEND_DECLARE_SLOT)
};

BACKEND_DEFINE_IID(IAppConnection, 0x1069C819, 0x3208, 0x47F1, 0xB4, 0x77, 0xA6, 0xB3, 0xAC, 0x02, 0x32, 0x02)
BACKEND_CHECK_SLOTS(BACKEND_IAPPCONNECTION_SLOTS, IAppConnection, 3, 26)
