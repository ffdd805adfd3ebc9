// Structures and enumerations that the backend server's interface definitions
// of both sets (7.4 and 7.1) declare alike. The MAPI-shaped ones are MAPI's own
// records; the rest are the server's, and only their use as pointers is relied
// on outside it.
#pragma once

#include <cstdint>

#include "winplat/mapi.h"
#include "winplat/types.h"

// Interfaces that the tables of both sets name before they are declared.
struct IUnknown;
struct IStream;
struct IAppServer;
struct IAppConnection;
struct IDbObject;
struct IDbMapiProps;
struct IDbMsgStore;
struct IDbFolder;
struct ISynchronizator;
struct ILog;
struct IDbNamedPropsManager;
struct IDatabaseManager;
struct IDbNotificationEngine;
struct IDbTable;
struct IDbMessage;
struct IDbAttach;
struct ILogManager;
struct ISynchronize;
// Interfaces of the server that no wrapper covers: callers' sinks and senders
// reach the server as they are, unless they are wrappers of this layer.
struct IDbAdviseSink;
struct IDbReportSender;

// MAPI records under the names the server's definitions give them.
typedef SPropTagArray _SPropTagArray;
typedef SPropProblemArray _SPropProblemArray;
typedef SRowSet _SRowSet;
typedef SBinary _SBinary;
typedef SBinaryArray _SBinaryArray;
typedef SRow _SRow;
typedef SSortOrderSet _SSortOrderSet;
// _SPropValueArray {cValues, lpProps}, _NOTIFICATION_ARRAY and _MAPINAMEID_ARRAY
// come with winplat/mapi.h.

// The server's own restriction: a MAPI restriction with the server's flags.
struct _SRestrictionEx {
    ULONG ulFlags;
    SRestriction* lpRes;
};

// How a connection is opened; the tool opens its connections as ConnectionTypeLocal.
enum _ConnectionType : int32_t {
    ConnectionTypeRemote = 0,
    ConnectionTypeLocal = 1,
};

// Kind of profile the configuration describes.
enum _ProfileType : int32_t {
    ProfileTypeDefault = 0,
    ProfileTypeShared = 1,
};

enum _StoreTypes : int32_t {
    StoreTypePrimary = 0,
    StoreTypePublic = 1,
    StoreTypeDelegate = 2,
};

enum _StoreLimitType : int32_t {
    StoreLimitWarning = 0,
    StoreLimitSend = 1,
    StoreLimitReceive = 2,
};

enum _ObjectType : int32_t {
    ObjectTypeStore = 1,
    ObjectTypeFolder = 3,
    ObjectTypeMessage = 5,
    ObjectTypeAttachment = 7,
};

// Connection settings handed to IAppServer::OpenConnection. Field order is
// the contract; the strings are owned by whoever fills the record.
struct _ServerConfiguration {
    BSTR databaseName;         // 0
    BSTR profileName;          // 1
    BSTR serverName;           // 2  from 0x660C001E
    BSTR userName;             // 3  from 0x661A001E
    BSTR displayName;          // 4  from 0x67F1001E
    int autoConnect;           // 5  from 0x670D000B
    BSTR emailAddress;         // 6  from 0x670E001F
    ULONG port;                // 7  0x67010003 or 0x67000003, by field 8
    int useSecurePort;         // 8  from 0x6705000B
    int localMode;             // 9  from 0x6706000B
    int keepAlive;             // 10 from 0x6709000B
    ULONG timeoutSeconds;      // 11 from 0x67070003
    _ProfileType profileType;  // 12 from 0x671B0003
};

// Error details that GetLastError hands out.
struct _DbError {
    HRESULT hr;
    ULONG ulLowLevelError;
    wchar_t* lpszMessage;
    wchar_t* lpszComponent;
};

// Synchronisation state of IDbMsgStore slot 25.
struct _SyncInfo {
    ULONG cb;
    BYTE* lpb;
};

// Synchronisation requests of ISynchronizator.
enum _SynchronizatorCallFlags : int32_t {
    SynchronizatorCallDefault = 0,
    SynchronizatorCallForce = 1,
};

enum _QueueRequestPriority : int32_t {
    QueueRequestLow = 0,
    QueueRequestNormal = 1,
    QueueRequestHigh = 2,
};

struct _ConnectionInfo {
    ULONG ulState;
    wchar_t* lpszServer;
};

struct _SharingList {
    ULONG cEntries;
    GUID* lpEntries;
};

struct _ServerInfo {
    ULONG ulVersion;
    wchar_t* lpszName;
};

// Synchronisation events the server reports to a client's user interface.
namespace BackendUI {

enum SyncStatusEvents : int32_t {
    SyncStatusStarted = 0,
    SyncStatusFinished = 1,
    SyncStatusFailed = 2,
};

enum SyncGlobalEvents : int32_t {
    SyncGlobalProgress = 0,
    SyncGlobalItemCount = 1,
};

enum SyncFolderEvents : int32_t {
    SyncFolderStarted = 0,
    SyncFolderFinished = 1,
};

struct SyncFolderEventInfo {
    GUID folder;
    ULONG ulItems;
    HRESULT hr;
};

}  // namespace BackendUI

// Log records of ILog.
enum _LogSeverity : int32_t {
    LogSeverityInfo = 0,
    LogSeverityWarning = 1,
    LogSeverityError = 2,
};

enum _LogFacility : int32_t {
    LogFacilityServer = 0,
    LogFacilitySync = 1,
};

enum _LogDisplaying : int32_t {
    LogDisplayingNone = 0,
    LogDisplayingAll = 1,
};
