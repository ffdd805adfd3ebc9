// Stand-in for the backend server: the class registered only as a local
// server, with the slots the tool calls. Every other slot answers E_NOTIMPL.
//
// The database named by the configuration and the replies are those of
// standins/common/BackendServer.h.
#include <atomic>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "Backend/v74/Backend.h"
#include "MapiProvider/Utilities/Support.h"
#include "standins/common/Standin.h"
#include "standins/common/BackendServer.h"
#include "winplat/com.h"
#include "winplat/oleauto.h"
#include "winplat/utf16.h"
#include "winplat/windows.h"

namespace {

using standin::injected;
using standin::Object;
using standin::record;

using standin::guidText;
using standin::noteCaller;
using standin::Store;

std::atomic<bool> clientRegistered{false};

void resetModule() {
    clientRegistered = false;
}

// Every slot not implemented below.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wunused-parameter"
struct AppServerSlots : Object<IAppServer> {
    using Object::Object;
    BACKEND_IAPPSERVER_SLOTS(STANDIN_NOT_IMPLEMENTED_SLOT)
};
struct AppConnectionSlots : Object<IAppConnection> {
    using Object::Object;
    BACKEND_IAPPCONNECTION_SLOTS(STANDIN_NOT_IMPLEMENTED_SLOT)
};
struct MsgStoreSlots : Object<IDbMsgStore> {
    using Object::Object;
    BACKEND_IDBMSGSTORE_ALL_SLOTS(STANDIN_NOT_IMPLEMENTED_SLOT)
};
#pragma GCC diagnostic pop

class MsgStore : public MsgStoreSlots {
  public:
    explicit MsgStore(Store store) : MsgStoreSlots("liveStores"), store_(std::move(store)) {}

    HRESULT STDMETHODCALLTYPE GetProps(_SPropTagArray* tags, _SPropValueArray** out) override {
        noteCaller();
        HRESULT hr;
        if (injected("Hollomar!IDbMapiProps::GetProps", &hr)) {
            return hr;
        }
        HRESULT overall = standin::storeProps(store_, tags, out);
        if (FAILED(overall)) {
            return overall;
        }
        record().call("IDbMapiProps::GetProps " + guidText(store_.id) + " -> " + standin::hex32(overall));
        return overall;
    }

  protected:
    bool answers(REFIID riid) const override {
        return IsEqualIID(riid, IID_IDbObject) || IsEqualIID(riid, IID_IDbMapiProps) ||
               IsEqualIID(riid, IID_IDbMsgStore);
    }

  private:
    Store store_;
};

class AppConnection : public AppConnectionSlots {
  public:
    explicit AppConnection(std::vector<Store> stores)
        : AppConnectionSlots("liveConnections"), stores_(std::move(stores)) {}

    HRESULT STDMETHODCALLTYPE OpenMsgStore(GUID id, ULONG flags, IDbMsgStore** out) override {
        noteCaller();
        HRESULT hr;
        if (injected("Hollomar!IAppConnection::OpenMsgStore", &hr)) {
            return hr;
        }
        record().call("IAppConnection::OpenMsgStore " + guidText(id) + " " + std::to_string(flags));
        return standin::openStore<MsgStore>(stores_, id, out);
    }

    HRESULT STDMETHODCALLTYPE GetStoreIds(ULONG* count, GUID** ids) override {
        noteCaller();
        HRESULT hr;
        if (injected("Hollomar!IAppConnection::GetStoreIds", &hr)) {
            return hr;
        }
        record().call("IAppConnection::GetStoreIds");
        return standin::storeIds(stores_, count, ids);
    }

  protected:
    bool answers(REFIID riid) const override { return IsEqualIID(riid, IID_IAppConnection); }

  private:
    std::vector<Store> stores_;
};

class AppServer : public AppServerSlots {
  public:
    AppServer() : AppServerSlots("liveServers") {}

    HRESULT STDMETHODCALLTYPE OpenConnection(_ServerConfiguration* c, _ConnectionType type, ULONG flags,
                                             IAppConnection** out) override {
        noteCaller();
        HRESULT hr;
        if (injected("Hollomar!IAppServer::OpenConnection", &hr)) {
            return hr;
        }
        if (!out) {
            return E_POINTER;
        }
        if (!c) {
            return E_INVALIDARG;
        }
        record().call("IAppServer::OpenConnection " + standin::configurationText(*c) +
                      " type=" + std::to_string(type) + " flags=" + std::to_string(flags));
        // The server serves only processes that registered first.
        return standin::openConnection<AppConnection>(*c, type, clientRegistered, out);
    }

    HRESULT STDMETHODCALLTYPE RegisterClientProcess(ULONG pid, ULONG reserved, int registering) override {
        noteCaller();
        HRESULT hr;
        if (injected("Hollomar!IAppServer::RegisterClientProcess", &hr)) {
            return hr;
        }
        standin::misbehaveIfAsked("Hollomar!IAppServer::RegisterClientProcess");
        bool self = pid == GetCurrentProcessId();
        record().call("IAppServer::RegisterClientProcess " +
                      std::string(self ? "self" : std::to_string(pid)) + " " + std::to_string(reserved) +
                      " " + std::to_string(registering));
        if (!self) {
            return E_INVALIDARG;
        }
        clientRegistered = registering != 0;
        return S_OK;
    }

  protected:
    bool answers(REFIID riid) const override { return IsEqualIID(riid, IID_IAppServer); }
};

}  // namespace

STANDIN_EXPORT HRESULT DllGetClassObject(REFCLSID clsid, REFIID riid, LPVOID* ppv) {
    return standin::serverClassObject<AppServer>(clsid, BackendAppServerClsid, riid, ppv);
}

STANDIN_DEFINE_EXPORTS(resetModule)
