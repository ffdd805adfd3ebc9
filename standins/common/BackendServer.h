// What both stand-in servers (7.4 and 7.1) share: the class factory, the
// store database file,
// the provider values of its store kinds, the replies built in the memory of
// the routines the tool handed to the proxy/stub module, and the text of a
// configuration as the record shows it.
//
// The database is a text file with one store per line: "{GUID} kind", kind
// being primary, public, delegate, other (a foreign provider), noprovider (no
// PR_MDB_PROVIDER) or shortprovider (8 bytes), in lower case. Lines that are
// empty or start with '#' are skipped, and a UTF-8 byte-order mark before the
// first line is nothing. Any other line is a database error that names the
// file and the line on the error stream: a misspelt kind would otherwise pass
// for a store of no known kind and be skipped quietly. A file that cannot be
// read is named with the reason.
#pragma once

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <new>
#include <string>
#include <system_error>
#include <vector>

#include "Backend/common/Structures.h"
#include "standins/common/Standin.h"
#include "winplat/com.h"
#include "winplat/console.h"
#include "winplat/files.h"
#include "winplat/kernel.h"
#include "winplat/modules.h"
#include "winplat/oleauto.h"
#include "winplat/utf16.h"

namespace standin {

constexpr HRESULT MIRT_E_DATABASE = static_cast<HRESULT>(0x80041000u);
constexpr ULONG MdbProviderTag = 0x34140102;

struct Store {
    GUID id;
    std::string kind;
};

inline std::string text(BSTR value) {
    return value ? "'" + winplat::utf16ToUtf8(value) + "'" : "(null)";
}

inline std::string configurationText(const _ServerConfiguration& c) {
    return "database=" + text(c.databaseName) + " profile=" + text(c.profileName) +
           " server=" + text(c.serverName) + " user=" + text(c.userName) + " display=" + text(c.displayName) +
           " autoConnect=" + std::to_string(c.autoConnect) + " email=" + text(c.emailAddress) +
           " port=" + std::to_string(c.port) + " securePort=" + std::to_string(c.useSecurePort) +
           " local=" + std::to_string(c.localMode) + " keepAlive=" + std::to_string(c.keepAlive) +
           " timeout=" + std::to_string(c.timeoutSeconds) + " profileType=" + std::to_string(c.profileType);
}

// The routines handed to the proxy/stub module; E_UNEXPECTED before that.
// Where each call of the server came from: counted per calling thread
// ("callsOnThread:<id>") and per single-threaded apartment ("callsInSta").
inline void noteCaller() {
    record().add("callsOnThread:" + std::to_string(GetCurrentThreadId()), 1);
    if (winplat::com::currentApartment() == winplat::com::Apartment::SingleThreaded) {
        record().add("callsInSta", 1);
    }
}

inline HRESULT allocationFunctions(LPALLOCATEBUFFER* a, LPALLOCATEMORE* m, LPFREEBUFFER* f) {
    HMODULE ps = GetModuleHandleW(L"HollomarPS");
    if (!ps) {
        return E_UNEXPECTED;
    }
    typedef HRESULT (*Get)(LPALLOCATEBUFFER*, LPALLOCATEMORE*, LPFREEBUFFER*);
    auto get = reinterpret_cast<Get>(
        reinterpret_cast<void (*)()>(GetProcAddress(ps, "standinGetAllocationFunctions")));
    return get ? get(a, m, f) : E_UNEXPECTED;
}

inline bool knownKind(const std::string& kind) {
    for (const char* k : {"primary", "public", "delegate", "other", "noprovider", "shortprovider"}) {
        if (kind == k) {
            return true;
        }
    }
    return false;
}

// Why a database line is no store, or empty when it is one.
inline std::string lineFault(const std::string& line, Store* store) {
    const size_t space = line.find(' ');
    if (space == std::string::npos) {
        return "not \"{GUID} kind\"";
    }
    const std::string id = line.substr(0, space);
    if (FAILED(CLSIDFromString(winplat::utf8ToUtf16(id).c_str(), &store->id))) {
        return "'" + id + "' is not a GUID in braces";
    }
    store->kind = line.substr(space + 1);
    if (!knownKind(store->kind)) {
        return "unknown kind '" + store->kind +
               "' (primary, public, delegate, other, noprovider or shortprovider)";
    }
    return "";
}

// The file's bytes, or false with the C library's reason: a folder opens
// like a file and only its reads fail.
inline bool readDatabase(const std::string& path, std::string* bytes, std::string* reason) {
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        *reason = std::generic_category().message(errno);
        return false;
    }
    char buffer[4096];
    ssize_t n = 0;
    while ((n = read(fd, buffer, sizeof(buffer))) != 0) {
        if (n > 0) {
            bytes->append(buffer, static_cast<size_t>(n));
        } else if (errno != EINTR) {
            *reason = std::generic_category().message(errno);
            close(fd);
            return false;
        }
    }
    close(fd);
    return true;
}

inline bool loadDatabase(BSTR name, std::vector<Store>* stores) {
    if (!name) {
        return false;
    }
    const auto complain = [&](const std::wstring& what) {
        winplat::console::writeErr(L"Hollomar: store database " + std::wstring(name) + L", " + what + L"\n");
    };
    // An empty name names a folder as a path, which would be told as a
    // database that cannot be read.
    if (!*name) {
        winplat::console::writeErr(L"Hollomar: the store database name is empty\n");
        return false;
    }
    std::string bytes;
    std::string reason;
    if (!readDatabase(winplat::paths::toPosix(name), &bytes, &reason)) {
        complain(L"cannot be read: " + winplat::utf8ToUtf16(reason));
        return false;
    }
    // Notepad saves UTF-8 with a byte-order mark; it is no part of line 1.
    size_t start = bytes.compare(0, 3, "\xEF\xBB\xBF") == 0 ? 3 : 0;
    for (int number = 1; start < bytes.size(); ++number) {
        const size_t end = std::min(bytes.find('\n', start), bytes.size());
        std::string line = bytes.substr(start, end - start);
        start = end + 1;
        if (!line.empty() && line.back() == '\r') {
            line.pop_back();
        }
        if (line.empty() || line[0] == '#') {
            continue;
        }
        Store store;
        const std::string fault = lineFault(line, &store);
        if (!fault.empty()) {
            complain(L"line " + std::to_wstring(number) + L": " + winplat::utf8ToUtf16(fault) + L": " +
                     winplat::utf8ToUtf16(line));
            return false;
        }
        stores->push_back(store);
    }
    return true;
}

// The provider value of a store kind, or null for a store without one.
inline const GUID* providerOf(const Store& store, ULONG tag) {
    static const GUID primary = {
        0xA64C7941, 0x2364, 0x405E, {0x8B, 0x55, 0xFE, 0x85, 0x5E, 0x5A, 0x7E, 0xA7}};
    static const GUID publicStore = {
        0x563C0C2D, 0xF9C2, 0x4C8E, {0x85, 0xF7, 0xDF, 0xF1, 0xD4, 0xD1, 0x9E, 0x82}};
    static const GUID delegate = {
        0xB83BE415, 0xC446, 0x4ADD, {0x9D, 0x32, 0x5C, 0x04, 0x0A, 0xDE, 0x1C, 0x3D}};
    static const GUID foreign = {
        0x00112233, 0x4455, 0x6677, {0x88, 0x99, 0xAA, 0xBB, 0xCC, 0xDD, 0xEE, 0xFF}};
    if (tag != MdbProviderTag || store.kind == "noprovider") {
        return nullptr;
    }
    if (store.kind == "primary") {
        return &primary;
    }
    if (store.kind == "public") {
        return &publicStore;
    }
    if (store.kind == "delegate") {
        return &delegate;
    }
    return &foreign;  // other, shortprovider (its first 8 bytes)
}

// A store's GetProps reply: two blocks, the record and its value array, with
// binary data linked to the array. Tags the store lacks are PT_ERROR values
// and make the result MAPI_W_ERRORS_RETURNED.
inline HRESULT storeProps(const Store& store, _SPropTagArray* tags, _SPropValueArray** out) {
    if (!tags) {
        return E_INVALIDARG;
    }
    if (!out) {
        return E_POINTER;
    }
    LPALLOCATEBUFFER allocate = nullptr;
    LPALLOCATEMORE more = nullptr;
    LPFREEBUFFER release = nullptr;
    HRESULT hr = allocationFunctions(&allocate, &more, &release);
    if (FAILED(hr)) {
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
        const GUID* provider = providerOf(store, tags->aulPropTag[i]);
        ULONG size = store.kind == "shortprovider" ? 8 : sizeof(GUID);
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
    return overall;
}

// The store GUIDs in one MAPI block (none for an empty database).
inline HRESULT storeIds(const std::vector<Store>& stores, ULONG* count, GUID** ids) {
    if (!count || !ids) {
        return E_POINTER;
    }
    LPALLOCATEBUFFER allocate = nullptr;
    LPALLOCATEMORE more = nullptr;
    LPFREEBUFFER release = nullptr;
    // Without the routines the proxy could not build the reply.
    HRESULT hr = allocationFunctions(&allocate, &more, &release);
    if (FAILED(hr)) {
        return hr;
    }
    GUID* array = nullptr;
    if (!stores.empty()) {
        if (FAILED(hr = allocate(static_cast<ULONG>(stores.size() * sizeof(GUID)),
                                 reinterpret_cast<void**>(&array)))) {
            return hr;
        }
        for (size_t i = 0; i < stores.size(); ++i) {
            array[i] = stores[i].id;
        }
    }
    *count = static_cast<ULONG>(stores.size());
    *ids = array;
    return S_OK;
}

// Opens the store `id` as a new StoreObject (MAPI_E_NOT_FOUND when the
// database has no such store).
template <class StoreObject, class I>
HRESULT openStore(const std::vector<Store>& stores, const GUID& id, I** out) {
    if (!out) {
        return E_POINTER;
    }
    for (const Store& store : stores) {
        if (IsEqualGUID(store.id, id)) {
            *out = new StoreObject(store);
            return S_OK;
        }
    }
    return MAPI_E_NOT_FOUND;
}

// A connection to the database the configuration names, for a client that
// registered first and asks for a local connection.
template <class Connection, class I>
HRESULT openConnection(const _ServerConfiguration& c, _ConnectionType type, bool registered, I** out) {
    if (!registered) {
        return E_UNEXPECTED;
    }
    if (type != ConnectionTypeLocal) {
        return E_INVALIDARG;
    }
    std::vector<Store> stores;
    if (!loadDatabase(c.databaseName, &stores)) {
        return MIRT_E_DATABASE;
    }
    *out = new Connection(std::move(stores));
    return S_OK;
}

// A server that breaks the rules when a test asks it to, so that the test
// sees the tool report the failure all the same.
inline void misbehaveIfAsked(const std::string& call) {
    int64_t code = 0;
    if (winplat::inject::take((call + "#throw").c_str(), &code)) {
        throw "backend server raised a narrow text";
    }
    if (winplat::inject::take((call + "#badalloc").c_str(), &code)) {
        throw std::bad_alloc();
    }
}

// The class factory of a stand-in server of type Server.
template <class Server>
class ServerFactory : public Object<IClassFactory> {
  public:
    ServerFactory() : Object("liveFactories") {}

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
        Server* server = new Server;
        hr = server->QueryInterface(riid, ppv);
        server->Release();
        record().call("IClassFactory::CreateInstance -> " + hex32(hr));
        return hr;
    }
    HRESULT STDMETHODCALLTYPE LockServer(BOOL) override { return S_OK; }

  protected:
    bool answers(REFIID riid) const override { return IsEqualIID(riid, IID_IClassFactory); }
};

// DllGetClassObject of a module whose one class is `served`.
template <class Server>
HRESULT serverClassObject(REFCLSID clsid, REFCLSID served, REFIID riid, LPVOID* ppv) {
    if (!ppv) {
        return E_POINTER;
    }
    *ppv = nullptr;
    if (!IsEqualCLSID(clsid, served)) {
        return CLASS_E_CLASSNOTAVAILABLE;
    }
    auto* factory = new ServerFactory<Server>;
    HRESULT hr = factory->QueryInterface(riid, ppv);
    factory->Release();
    return hr;
}

}  // namespace standin

// Implements every slot of a table as E_NOTIMPL; the stand-ins override the
// few the tool calls.
#define STANDIN_NOT_IMPLEMENTED_SLOT(slot, name, params, args, treatment) \
    HRESULT STDMETHODCALLTYPE name params override {                      \
        return E_NOTIMPL;                                                 \
    }
