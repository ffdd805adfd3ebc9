// The 25 wrapper classes of the 7.1 interface set, each expanded from its
// interface's 7.1 slot table, and the set in factory order (IDbRecipient,
// which only the 7.1 set has, seventh).
#pragma once

#include "Backend/v71/Backend.h"

// X(wrapper class, interface, every slot from 3 on), in factory order.
// clang-format off
#define BACKEND_WRAPPERS(X)                                                            \
    X(UnknownWrapper, IUnknown, BW_NO_SLOTS)                                           \
    X(DbMapiPropsWrapper, IDbMapiProps, BACKEND_IDBMAPIPROPS_ALL_SLOTS)                \
    X(DbMessageWrapper, IDbMessage, BACKEND_IDBMESSAGE_ALL_SLOTS)                      \
    X(DbFolderWrapper, IDbFolder, BACKEND_IDBFOLDER_ALL_SLOTS)                         \
    X(DbTableWrapper, IDbTable, BACKEND_IDBTABLE_ALL_SLOTS)                            \
    X(DbAttachWrapper, IDbAttach, BACKEND_IDBATTACH_ALL_SLOTS)                         \
    X(DbRecipientWrapper, IDbRecipient, BACKEND_IDBRECIPIENT_ALL_SLOTS)                \
    X(LogWrapper, ILog, BACKEND_ILOG_SLOTS)                                            \
    X(LogManagerWrapper, ILogManager, BACKEND_ILOGMANAGER_SLOTS)                       \
    X(DbMsgStoreWrapper, IDbMsgStore, BACKEND_IDBMSGSTORE_ALL_SLOTS)                   \
    X(AppServerWrapper, IAppServer, BACKEND_IAPPSERVER_SLOTS)                          \
    X(AppConnectionWrapper, IAppConnection, BACKEND_IAPPCONNECTION_SLOTS)              \
    X(SynchronizatorWrapper, ISynchronizator, BACKEND_ISYNCHRONIZATOR_SLOTS)           \
    X(SynchronizeWrapper, ISynchronize, BACKEND_ISYNCHRONIZE_SLOTS)                    \
    X(StreamWrapper, IStream, BACKEND_ISTREAM_ALL_SLOTS)                               \
    X(StorageWrapper, IStorage, BACKEND_ISTORAGE_SLOTS)                                \
    X(DbObjectWrapper, IDbObject, BACKEND_IDBOBJECT_SLOTS)                             \
    X(DbNamedPropsManagerWrapper, IDbNamedPropsManager, BACKEND_IDBNAMEDPROPSMANAGER_ALL_SLOTS) \
    X(DatabaseManagerWrapper, IDatabaseManager, BACKEND_IDATABASEMANAGER_ALL_SLOTS)    \
    X(DbNotificationEngineWrapper, IDbNotificationEngine, BACKEND_IDBNOTIFICATIONENGINE_ALL_SLOTS) \
    X(SequentialStreamWrapper, ISequentialStream, BACKEND_ISEQUENTIALSTREAM_SLOTS)     \
    X(EnumSTATSTGWrapper, IEnumSTATSTG, BACKEND_IENUMSTATSTG_SLOTS)                    \
    X(CallFactoryWrapper, ICallFactory, BACKEND_ICALLFACTORY_SLOTS)                    \
    X(AsyncISynchronizatorWrapper, AsyncISynchronizator, BACKEND_ASYNCISYNCHRONIZATOR_SLOTS) \
    X(SyncEventUIWrapper, BackendUI::ISyncEventsUI, BACKEND_ISYNCEVENTSUI_SLOTS)

// clang-format on
#include "BackendWrappers/WrapperClasses.h"
