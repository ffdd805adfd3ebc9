// Stand-in for the 7.1 backend server, installed as Hollomar.dll in a 7.1
// world: the class registered only as a local server, expanded from the 7.1
// slot tables, with the slots the 7.1 tool calls. Every other slot answers
// E_NOTIMPL. Each call is recorded with its slot number first, so a test sees
// which slot the tool reached.
#include <atomic>
#include <string>
#include <vector>

#include "Backend/v71/Backend.h"
#include "standins/common/BackendServer.h"
#include "standins/common/Standin.h"
#include "winplat/windows.h"

namespace {

using standin::guidText;
using standin::injected;
using standin::Object;
using standin::record;
using standin::Store;

std::atomic<bool> clientRegistered{false};

void resetModule() {
    clientRegistered = false;
}

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
struct MapiPropsSlots : Object<IDbMapiProps> {
    using Object::Object;
    BACKEND_IDBMAPIPROPS_ALL_SLOTS(STANDIN_NOT_IMPLEMENTED_SLOT)
};
#pragma GCC diagnostic pop

class MapiProps : public MapiPropsSlots {
  public:
    explicit MapiProps(Store store) : MapiPropsSlots("liveStores"), store_(std::move(store)) {}

    HRESULT STDMETHODCALLTYPE GetProps(_SPropTagArray* tags, _SPropValueArray** out) override {
        HRESULT hr;
        if (injected("Hollomar!IDbMapiProps::GetProps", &hr)) {
            return hr;
        }
        hr = standin::storeProps(store_, tags, out);
        record().call("10 IDbMapiProps::GetProps " + guidText(store_.id) + " -> " + standin::hex32(hr));
        return hr;
    }

  protected:
    bool answers(REFIID riid) const override {
        return IsEqualIID(riid, IID_IDbObject) || IsEqualIID(riid, IID_IDbMapiProps);
    }

  private:
    Store store_;
};

class AppConnection : public AppConnectionSlots {
  public:
    explicit AppConnection(std::vector<Store> stores)
        : AppConnectionSlots("liveConnections"), stores_(std::move(stores)) {}

    HRESULT STDMETHODCALLTYPE OpenMapiProps(GUID id, ULONG flags, IDbMapiProps** out) override {
        HRESULT hr;
        if (injected("Hollomar!IAppConnection::OpenMapiProps", &hr)) {
            return hr;
        }
        record().call("10 IAppConnection::OpenMapiProps " + guidText(id) + " " + std::to_string(flags));
        return standin::openStore<MapiProps>(stores_, id, out);
    }

    HRESULT STDMETHODCALLTYPE GetStoreIds(ULONG* count, GUID** ids) override {
        HRESULT hr;
        if (injected("Hollomar!IAppConnection::GetStoreIds", &hr)) {
            return hr;
        }
        record().call("11 IAppConnection::GetStoreIds");
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

    HRESULT STDMETHODCALLTYPE OpenConnection(_ServerConfiguration* c, _ConnectionType type,
                                             IAppConnection** out) override {
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
        record().call("3 IAppServer::OpenConnection " + standin::configurationText(*c) +
                      " type=" + std::to_string(type));
        // The server serves only processes that registered first.
        return standin::openConnection<AppConnection>(*c, type, clientRegistered, out);
    }

    HRESULT STDMETHODCALLTYPE RegisterClientProcess(ULONG pid, UINT reserved) override {
        HRESULT hr;
        if (injected("Hollomar!IAppServer::RegisterClientProcess", &hr)) {
            return hr;
        }
        standin::misbehaveIfAsked("Hollomar!IAppServer::RegisterClientProcess");
        bool self = pid == GetCurrentProcessId();
        record().call("13 IAppServer::RegisterClientProcess " +
                      std::string(self ? "self" : std::to_string(pid)) + " " + std::to_string(reserved));
        if (!self) {
            return E_INVALIDARG;
        }
        clientRegistered = true;
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
