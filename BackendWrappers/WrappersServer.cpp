// The methods of the wrappers of the server, connection, log and synchronisation interfaces, one per row of
// each table (the rest are in Wrappers.cpp).
#include "Wrappers.h"

#include "BackendWrappers/Forwarding.h"
#include "BackendWrappers/Specials.h"

namespace BackendWrappers {

#define BW_CLASS LogWrapper
BACKEND_ILOG_SLOTS(BW_DEFINE_SLOT)
#undef BW_CLASS
#define BW_CLASS LogManagerWrapper
BACKEND_ILOGMANAGER_SLOTS(BW_DEFINE_SLOT)
#undef BW_CLASS
#define BW_CLASS AppServerWrapper
BACKEND_IAPPSERVER_SLOTS(BW_DEFINE_SLOT)
#undef BW_CLASS
#define BW_CLASS AppConnectionWrapper
BACKEND_IAPPCONNECTION_SLOTS(BW_DEFINE_SLOT)
#undef BW_CLASS
#define BW_CLASS SynchronizatorWrapper
BACKEND_ISYNCHRONIZATOR_SLOTS(BW_DEFINE_SLOT)
#undef BW_CLASS
#define BW_CLASS SynchronizeWrapper
BACKEND_ISYNCHRONIZE_SLOTS(BW_DEFINE_SLOT)
#undef BW_CLASS
#define BW_CLASS CallFactoryWrapper
BACKEND_ICALLFACTORY_SLOTS(BW_DEFINE_SLOT)
#undef BW_CLASS
#define BW_CLASS AsyncISynchronizatorWrapper
BACKEND_ASYNCISYNCHRONIZATOR_SLOTS(BW_DEFINE_SLOT)
#undef BW_CLASS
#define BW_CLASS SyncEventUIWrapper
BACKEND_ISYNCEVENTSUI_SLOTS(BW_DEFINE_SLOT)
#undef BW_CLASS

}  // namespace BackendWrappers
