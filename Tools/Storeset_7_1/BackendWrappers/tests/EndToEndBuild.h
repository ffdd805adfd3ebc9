// The 7.1 side of the end-to-end test: the 7.1 world is the one the test
// environment laid out for the whole process (World71Environment.cpp), so
// the test's folder holds only its database; and the 7.1 server's argument
// lists.
#pragma once

#include <filesystem>
#include <string>

#include "Wrappers.h"
#include "winplat/kernel.h"

namespace endToEnd {

using Store = IDbMapiProps;

inline void layOutWorld(const std::string& root) {
    std::filesystem::create_directories(root);
}

inline HRESULT registerClient(IAppServer* server) {
    return server->RegisterClientProcess(GetCurrentProcessId(), 0);
}
inline HRESULT openConnection(IAppServer* server, _ServerConfiguration* configuration, IAppConnection** out) {
    return server->OpenConnection(configuration, ConnectionTypeLocal, out);
}
inline HRESULT openStore(IAppConnection* connection, const GUID& id, Store** out) {
    return connection->OpenMapiProps(id, 0, out);
}

}  // namespace endToEnd
