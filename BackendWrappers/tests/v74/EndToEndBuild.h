// The 7.4 side of the end-to-end test: a demo world laid out for the test
// alone, and the 7.4 server's argument lists.
#pragma once

#include <string>

#include "Wrappers.h"
#include "demo/World.h"
#include "winplat/kernel.h"

namespace endToEnd {

using Store = IDbMsgStore;

inline void layOutWorld(const std::string& root) {
    world::layOutDemo(root, STORESET_SOURCE_DIR, world::standinFolder());
}

inline HRESULT registerClient(IAppServer* server) {
    return server->RegisterClientProcess(GetCurrentProcessId(), 0, 1);
}
inline HRESULT openConnection(IAppServer* server, _ServerConfiguration* configuration, IAppConnection** out) {
    return server->OpenConnection(configuration, ConnectionTypeLocal, 0, out);
}
inline HRESULT openStore(IAppConnection* connection, const GUID& id, Store** out) {
    return connection->OpenMsgStore(id, 0, out);
}

}  // namespace endToEnd
