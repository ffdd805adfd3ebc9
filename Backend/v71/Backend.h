// The backend server's interfaces of the 7.1 set that the 7.1 build declares:
// the 7.1 tables, and those both sets declare alike.
#pragma once

#include "Backend/common/ComInterfaces.h"
#include "Backend/common/IDatabaseManager.h"
#include "Backend/common/IDbNamedPropsManager.h"
#include "Backend/common/IDbNotificationEngine.h"
#include "Backend/common/IDbObject.h"
#include "Backend/common/IDbTable.h"
#include "Backend/common/ISyncEventsUI.h"
#include "Backend/v71/IAppConnection.h"
#include "Backend/v71/IAppServer.h"
#include "Backend/v71/IDbAttach.h"
#include "Backend/v71/IDbFolder.h"
#include "Backend/v71/IDbMapiProps.h"
#include "Backend/v71/IDbMessage.h"
#include "Backend/v71/IDbMsgStore.h"
#include "Backend/v71/ILog.h"
#include "Backend/v71/ISynchronizator.h"
#include "Backend/v71/Structures.h"

// The backend server's class, created as a local server.
inline constexpr CLSID BackendAppServerClsid = {
    0x0F1BE71C, 0xDFE7, 0x41B1, {0x8D, 0x52, 0xC7, 0x6A, 0x05, 0x4D, 0x1E, 0xAE}};
