// Stand-in for the backend server: the class registered only as a local
// server, with the slots the tool calls. Every other slot answers E_NOTIMPL.
//
// The database named by the configuration is a text file with one store per
// line: "{GUID} kind", kind being primary, public, delegate, other (a foreign
// provider), noprovider (no PR_MDB_PROVIDER) or shortprovider (8 bytes).
// Lines that are empty or start with '#' are skipped.
//
// Replies are MAPI memory made with the routines the tool handed to the
// proxy/stub module: a property result is two blocks, the record and its
// value array, with binary data linked to the array.
#include <atomic>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "Backend/v74/Backend.h"
#include "MapiProvider/Utilities/Support.h"
#include "standins/common/Standin.h"
#include "winplat/com.h"
#include "winplat/oleauto.h"
#include "winplat/utf16.h"
#include "winplat/windows.h"

namespace {

using standin::injected;
using standin::Object;
using standin::record;

constexpr HRESULT MIRT_E_DATABASE = static_cast<HRESULT>(0x80041000u);
constexpr ULONG MdbProviderTag = 0x34140102;

const GUID PrimaryUid = {0xA64C7941, 0x2364, 0x405E, {0x8B, 0x55, 0xFE, 0x85, 0x5E, 0x5A, 0x7E, 0xA7}};
const GUID PublicUid = {0x563C0C2D, 0xF9C2, 0x4C8E, {0x85, 0xF7, 0xDF, 0xF1, 0xD4, 0xD1, 0x9E, 0x82}};
const GUID DelegateUid = {0xB83BE415, 0xC446, 0x4ADD, {0x9D, 0x32, 0x5C, 0x04, 0x0A, 0xDE, 0x1C, 0x3D}};
const GUID ForeignUid = {0x00112233, 0x4455, 0x6677, {0x88, 0x99, 0xAA, 0xBB, 0xCC, 0xDD, 0xEE, 0xFF}};

struct Store {
    GUID id;
    std::string kind;
};

std::atomic<bool> clientRegistered{false};

void resetModule() {
    clientRegistered = false;
}

// Where each call of the server came from: counted per calling thread
// ("callsOnThread:<id>") and per single-threaded apartment ("callsInSta").
void noteCaller() {
    record().add("callsOnThread:" + std::to_string(GetCurrentThreadId()), 1);
    if (winplat::com::currentApartment() == winplat::com::Apartment::SingleThreaded) {
        record().add("callsInSta", 1);
    }
}

std::string text(BSTR value) {
    return value ? "'" + winplat::utf16ToUtf8(value) + "'" : "(null)";
}

// The routines handed to the proxy/stub module; E_UNEXPECTED before that.
HRESULT allocationFunctions(LPALLOCATEBUFFER* a, LPALLOCATEMORE* m, LPFREEBUFFER* f) {
    HMODULE ps = GetModuleHandleW(L"HollomarPS");
    if (!ps) {
        return E_UNEXPECTED;
    }
    typedef HRESULT (*Get)(LPALLOCATEBUFFER*, LPALLOCATEMORE*, LPFREEBUFFER*);
    auto get = reinterpret_cast<Get>(
        reinterpret_cast<void (*)()>(GetProcAddress(ps, "standinGetAllocationFunctions")));
    return get ? get(a, m, f) : E_UNEXPECTED;
}

bool loadDatabase(BSTR name, std::vector<Store>* stores) {
    if (!name) {
        return false;
    }
    std::ifstream file(winplat::paths::toPosix(name));
    if (!file) {
        return false;
    }
    std::string line;
    while (std::getline(file, line)) {
        if (!line.empty() && line.back() == '\r') {
            line.pop_back();
        }
        if (line.empty() || line[0] == '#') {
            continue;
        }
        size_t space = line.find(' ');
        Store store;
        std::wstring id = winplat::utf8ToUtf16(line.substr(0, space));
        if (space == std::string::npos || FAILED(CLSIDFromString(id.c_str(), &store.id))) {
            return false;
        }
        store.kind = line.substr(space + 1);
        stores->push_back(store);
    }
    return true;
}

#define NOT_IMPLEMENTED_SLOT(slot, name, params, args, treatment) \
    HRESULT STDMETHODCALLTYPE name params override {              \
        return E_NOTIMPL;                                         \
    }

// Every slot not implemented below.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wunused-parameter"
struct AppServerSlots : Object<IAppServer> {
    using Object::Object;
    BACKEND_IAPPSERVER_SLOTS(NOT_IMPLEMENTED_SLOT)
};
struct AppConnectionSlots : Object<IAppConnection> {
    using Object::Object;
    BACKEND_IAPPCONNECTION_SLOTS(NOT_IMPLEMENTED_SLOT)
};
struct MsgStoreSlots : Object<IDbMsgStore> {
    using Object::Object;
    BACKEND_IDBMSGSTORE_ALL_SLOTS(NOT_IMPLEMENTED_SLOT)
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
        if (!tags) {
            return E_INVALIDARG;
        }
        if (!out) {
            return E_POINTER;
        }
        LPALLOCATEBUFFER allocate = nullptr;
        LPALLOCATEMORE more = nullptr;
        LPFREEBUFFER release = nullptr;
        if (FAILED(hr = allocationFunctions(&allocate, &more, &release))) {
            return hr;
        }
        _SPropValueArray* result = nullptr;
        SPropValue* values = nullptr;
        if (FAILED(hr = allocate(sizeof(_SPropValueArray), reinterpret_cast<void**>(&result)))) {
            return hr;
        }
        if (FAILED(hr = allocate(static_cast<ULONG>(tags->cValues * sizeof(SPropValue)),
                                 reinterpret_cast<void**>(&values)))) {
            release(result);
            return hr;
        }
        HRESULT overall = S_OK;
        for (ULONG i = 0; i < tags->cValues; ++i) {
            SPropValue& v = values[i];
            std::memset(&v, 0, sizeof(v));
            const GUID* provider = providerOf(tags->aulPropTag[i]);
            ULONG size = store_.kind == "shortprovider" ? 8 : sizeof(GUID);
            void* bytes = nullptr;
            if (provider && FAILED(hr = more(size, values, &bytes))) {
                release(values);
                release(result);
                return hr;
            }
            if (provider) {
                std::memcpy(bytes, provider, size);
                v.ulPropTag = tags->aulPropTag[i];
                v.Value.bin.cb = size;
                v.Value.bin.lpb = static_cast<LPBYTE>(bytes);
            } else {
                v.ulPropTag = PROP_TAG(PT_ERROR, PROP_ID(tags->aulPropTag[i]));
                v.Value.err = MAPI_E_NOT_FOUND;
                overall = MAPI_W_ERRORS_RETURNED;
            }
        }
        result->cValues = tags->cValues;
        result->lpProps = values;
        *out = result;
        record().call("IDbMapiProps::GetProps " + standin::guidText(store_.id) + " -> " +
                      standin::hex32(overall));
        return overall;
    }

  protected:
    bool answers(REFIID riid) const override {
        return IsEqualIID(riid, IID_IDbObject) || IsEqualIID(riid, IID_IDbMapiProps) ||
               IsEqualIID(riid, IID_IDbMsgStore);
    }

  private:
    const GUID* providerOf(ULONG tag) const {
        if (tag != MdbProviderTag) {
            return nullptr;
        }
        if (store_.kind == "primary") {
            return &PrimaryUid;
        }
        if (store_.kind == "public") {
            return &PublicUid;
        }
        if (store_.kind == "delegate") {
            return &DelegateUid;
        }
        if (store_.kind == "noprovider") {
            return nullptr;
        }
        return &ForeignUid;  // other, shortprovider (its first 8 bytes)
    }

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
        record().call("IAppConnection::OpenMsgStore " + standin::guidText(id) + " " + std::to_string(flags));
        if (!out) {
            return E_POINTER;
        }
        for (const Store& store : stores_) {
            if (IsEqualGUID(store.id, id)) {
                *out = new MsgStore(store);
                return S_OK;
            }
        }
        return MAPI_E_NOT_FOUND;
    }

    HRESULT STDMETHODCALLTYPE GetStoreIds(ULONG* count, GUID** ids) override {
        noteCaller();
        HRESULT hr;
        if (injected("Hollomar!IAppConnection::GetStoreIds", &hr)) {
            return hr;
        }
        record().call("IAppConnection::GetStoreIds");
        if (!count || !ids) {
            return E_POINTER;
        }
        LPALLOCATEBUFFER allocate = nullptr;
        LPALLOCATEMORE more = nullptr;
        LPFREEBUFFER release = nullptr;
        // Without the routines the proxy could not build the reply.
        if (FAILED(hr = allocationFunctions(&allocate, &more, &release))) {
            return hr;
        }
        GUID* array = nullptr;
        if (!stores_.empty()) {
            if (FAILED(hr = allocate(static_cast<ULONG>(stores_.size() * sizeof(GUID)),
                                     reinterpret_cast<void**>(&array)))) {
                return hr;
            }
            for (size_t i = 0; i < stores_.size(); ++i) {
                array[i] = stores_[i].id;
            }
        }
        *count = static_cast<ULONG>(stores_.size());
        *ids = array;
        return S_OK;
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
        record().call("IAppServer::OpenConnection database=" + text(c->databaseName) +
                      " profile=" + text(c->profileName) + " server=" + text(c->serverName) +
                      " user=" + text(c->userName) + " display=" + text(c->displayName) +
                      " autoConnect=" + std::to_string(c->autoConnect) + " email=" + text(c->emailAddress) +
                      " port=" + std::to_string(c->port) + " securePort=" + std::to_string(c->useSecurePort) +
                      " local=" + std::to_string(c->localMode) + " keepAlive=" +
                      std::to_string(c->keepAlive) + " timeout=" + std::to_string(c->timeoutSeconds) +
                      " profileType=" + std::to_string(c->profileType) + " type=" + std::to_string(type) +
                      " flags=" + std::to_string(flags));
        // The server serves only processes that registered first.
        if (!clientRegistered) {
            return E_UNEXPECTED;
        }
        if (type != ConnectionTypeLocal) {
            return E_INVALIDARG;
        }
        std::vector<Store> stores;
        if (!loadDatabase(c->databaseName, &stores)) {
            return MIRT_E_DATABASE;
        }
        *out = new AppConnection(std::move(stores));
        return S_OK;
    }

    HRESULT STDMETHODCALLTYPE RegisterClientProcess(ULONG pid, ULONG reserved, int registering) override {
        noteCaller();
        HRESULT hr;
        if (injected("Hollomar!IAppServer::RegisterClientProcess", &hr)) {
            return hr;
        }
        int64_t code = 0;
        // A server that breaks the rules: tests check that the tool still
        // reports the failure.
        if (winplat::inject::take("Hollomar!IAppServer::RegisterClientProcess#throw", &code)) {
            throw "backend server raised a narrow text";
        }
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

class ClassFactory : public Object<IClassFactory> {
  public:
    ClassFactory() : Object("liveFactories") {}

    HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* outer, REFIID riid, void** ppv) override {
        HRESULT hr;
        if (injected("Hollomar!IClassFactory::CreateInstance", &hr)) {
            return hr;
        }
        if (!ppv) {
            return E_POINTER;
        }
        *ppv = nullptr;
        if (outer) {
            return CLASS_E_NOAGGREGATION;
        }
        AppServer* server = new AppServer;
        hr = server->QueryInterface(riid, ppv);
        server->Release();
        record().call("IClassFactory::CreateInstance -> " + standin::hex32(hr));
        return hr;
    }
    HRESULT STDMETHODCALLTYPE LockServer(BOOL) override { return S_OK; }

  protected:
    bool answers(REFIID riid) const override { return IsEqualIID(riid, IID_IClassFactory); }
};

}  // namespace

STANDIN_EXPORT HRESULT DllGetClassObject(REFCLSID clsid, REFIID riid, LPVOID* ppv) {
    if (!ppv) {
        return E_POINTER;
    }
    *ppv = nullptr;
    if (!IsEqualCLSID(clsid, BackendAppServerClsid)) {
        return CLASS_E_CLASSNOTAVAILABLE;
    }
    ClassFactory* factory = new ClassFactory;
    HRESULT hr = factory->QueryInterface(riid, ppv);
    factory->Release();
    return hr;
}

STANDIN_DEFINE_EXPORTS(resetModule)
