// Stand-in for the 7.1 backend server, installed as Hollomar.dll in a 7.1
// world: the class registered only as a local server, expanded from the 7.1
// slot tables, with the slots the 7.1 tool calls. Every other slot answers
// E_NOTIMPL. Each call is recorded with its slot number first, so a test sees
// which slot the tool reached, and the last Release of a connection or a
// server is recorded too, so a test sees the order they went in. Where each
// call came from is counted as in the 7.4 stand-in.
//
// The server's log: each ILog handed out has a log manager of its own, with a
// GUID of its own. The managers hand out the masks a test scripted and keep
// the ISynchronize objects given to them until their watch ends; a test
// makes them all Signal, as the server does when its log configuration
// changes.
#include <atomic>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "Backend/v71/Backend.h"
#include "standins/common/BackendServer.h"
#include "standins/common/Standin.h"
#include "winplat/windows.h"

namespace {

using standin::guidText;
using standin::injected;
using standin::noteCaller;
using standin::Object;
using standin::record;
using standin::Store;

std::atomic<bool> clientRegistered{false};

// The log managers' shared state: the scripted masks and the watches.
struct LogState {
    std::mutex mutex;
    ULONG firstMask = 0;
    ULONG secondMask = 0;
    ULONG nextCookie = 1;
    uint32_t nextManager = 1;
    std::map<ULONG, ISynchronize*> watches;
};

LogState& logState() {
    static LogState* state = new LogState;  // outlives late releases at exit
    return *state;
}

void resetModule() {
    clientRegistered = false;
    LogState& log = logState();
    std::lock_guard<std::mutex> lock(log.mutex);
    log.firstMask = 0;
    log.secondMask = 0;
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
struct LogSlots : Object<ILog> {
    using Object::Object;
    BACKEND_ILOG_SLOTS(STANDIN_NOT_IMPLEMENTED_SLOT)
};
struct LogManagerSlots : Object<ILogManager> {
    using Object::Object;
    BACKEND_ILOGMANAGER_SLOTS(STANDIN_NOT_IMPLEMENTED_SLOT)
};
#pragma GCC diagnostic pop

class LogManager : public LogManagerSlots {
  public:
    LogManager() : LogManagerSlots("liveLogManagers") {
        LogState& log = logState();
        std::lock_guard<std::mutex> lock(log.mutex);
        id_ = GUID{0x6C0C0000u + log.nextManager++, 0x71, 0x4C, {0x8A, 0, 0, 0, 0, 0, 0, 0x01}};
    }

    HRESULT STDMETHODCALLTYPE GetMasks(ULONG* first, ULONG* second) override {
        HRESULT hr;
        if (injected("Hollomar!ILogManager::GetMasks", &hr)) {
            return hr;
        }
        if (!first || !second) {
            return E_POINTER;
        }
        LogState& log = logState();
        std::lock_guard<std::mutex> lock(log.mutex);
        *first = log.firstMask;
        *second = log.secondMask;
        record().call("6 ILogManager::GetMasks " + standin::hex32(*first) + " " + standin::hex32(*second));
        return S_OK;
    }

    HRESULT STDMETHODCALLTYPE Slot7(ISynchronize* sync, ULONG* cookie) override {
        HRESULT hr;
        if (injected("Hollomar!ILogManager::Slot7", &hr)) {
            return hr;
        }
        if (!sync || !cookie) {
            return E_INVALIDARG;
        }
        LogState& log = logState();
        std::lock_guard<std::mutex> lock(log.mutex);
        *cookie = log.nextCookie++;
        sync->AddRef();
        log.watches[*cookie] = sync;
        record().add("liveWatches", 1);
        record().call("7 ILogManager::Slot7 " + guidText(id_) + " -> " + std::to_string(*cookie));
        return S_OK;
    }

    HRESULT STDMETHODCALLTYPE Slot8(ULONG cookie) override {
        ISynchronize* sync = nullptr;
        {
            LogState& log = logState();
            std::lock_guard<std::mutex> lock(log.mutex);
            auto found = log.watches.find(cookie);
            record().call("8 ILogManager::Slot8 " + std::to_string(cookie));
            if (found == log.watches.end()) {
                return E_INVALIDARG;
            }
            sync = found->second;
            log.watches.erase(found);
            record().add("liveWatches", -1);
        }
        sync->Release();
        return S_OK;
    }

    HRESULT STDMETHODCALLTYPE Slot9(GUID* id) override {
        if (!id) {
            return E_POINTER;
        }
        *id = id_;
        return S_OK;
    }

  protected:
    bool answers(REFIID riid) const override { return IsEqualIID(riid, IID_ILogManager); }

  private:
    GUID id_;
};

class Log : public LogSlots {
  public:
    Log() : LogSlots("liveLogs"), manager_(new LogManager) {}
    ~Log() override { manager_->Release(); }

    HRESULT STDMETHODCALLTYPE WriteEntry(_LogSeverity severity, _LogFacility facility, ULONG threadId,
                                         const wchar_t* text) override {
        HRESULT hr;
        if (injected("Hollomar!ILog::WriteEntry", &hr)) {
            return hr;
        }
        record().call("3 ILog::WriteEntry " + std::to_string(severity) + " " + std::to_string(facility) +
                      " " + (threadId == GetCurrentThreadId() ? "caller" : std::to_string(threadId)) + " " +
                      (text ? winplat::utf16ToUtf8(text) : "(null)"));
        return S_OK;
    }

    HRESULT STDMETHODCALLTYPE GetLogManager(ILogManager** out) override {
        HRESULT hr;
        if (injected("Hollomar!ILog::GetLogManager", &hr)) {
            return hr;
        }
        if (!out) {
            return E_POINTER;
        }
        manager_->AddRef();
        *out = manager_;
        return S_OK;
    }

  protected:
    bool answers(REFIID riid) const override { return IsEqualIID(riid, IID_ILog); }

  private:
    LogManager* manager_;
};

class MapiProps : public MapiPropsSlots {
  public:
    explicit MapiProps(Store store) : MapiPropsSlots("liveStores"), store_(std::move(store)) {}

    HRESULT STDMETHODCALLTYPE GetProps(_SPropTagArray* tags, _SPropValueArray** out) override {
        noteCaller();
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
    ~AppConnection() override { record().call("2 IAppConnection::Release -> 0"); }

    HRESULT STDMETHODCALLTYPE OpenMapiProps(GUID id, ULONG flags, IDbMapiProps** out) override {
        noteCaller();
        HRESULT hr;
        if (injected("Hollomar!IAppConnection::OpenMapiProps", &hr)) {
            return hr;
        }
        record().call("10 IAppConnection::OpenMapiProps " + guidText(id) + " " + std::to_string(flags));
        return standin::openStore<MapiProps>(stores_, id, out);
    }

    HRESULT STDMETHODCALLTYPE GetStoreIds(ULONG* count, GUID** ids) override {
        noteCaller();
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
    ~AppServer() override { record().call("2 IAppServer::Release -> 0"); }

    HRESULT STDMETHODCALLTYPE OpenConnection(_ServerConfiguration* c, _ConnectionType type,
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
        record().call("3 IAppServer::OpenConnection " + standin::configurationText(*c) +
                      " type=" + std::to_string(type));
        // The server serves only processes that registered first.
        return standin::openConnection<AppConnection>(*c, type, clientRegistered, out);
    }

    HRESULT STDMETHODCALLTYPE RegisterClientProcess(ULONG pid, UINT reserved) override {
        noteCaller();
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

    HRESULT STDMETHODCALLTYPE GetLog(ILog** out) override {
        HRESULT hr;
        if (injected("Hollomar!IAppServer::GetLog", &hr)) {
            return hr;
        }
        if (!out) {
            return E_POINTER;
        }
        record().call("15 IAppServer::GetLog");
        *out = new Log;
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

// Test hooks of the log: the masks the managers hand out from now on, and the
// server's signal of a changed configuration to every watch (the count of
// watches signalled is returned).
STANDIN_EXPORT void standinSetLogMasks(ULONG first, ULONG second) {
    LogState& log = logState();
    std::lock_guard<std::mutex> lock(log.mutex);
    log.firstMask = first;
    log.secondMask = second;
}

STANDIN_EXPORT int standinSignalLogWatches() {
    std::vector<ISynchronize*> watches;
    {
        LogState& log = logState();
        std::lock_guard<std::mutex> lock(log.mutex);
        for (auto& [cookie, sync] : log.watches) {
            sync->AddRef();
            watches.push_back(sync);
        }
    }
    for (ISynchronize* sync : watches) {
        sync->Signal();
        sync->Release();
    }
    return static_cast<int>(watches.size());
}
