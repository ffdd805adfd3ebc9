// COM runtime: apartments, activation, task memory, GUIDs, the free-threaded
// marshaler and CoDisconnectObject.
#include "winplat/com.h"

#include <sys/random.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <map>
#include <mutex>
#include <string>

#include "kinternal.h"
#include "winplat/files.h"
#include "winplat/inject.h"
#include "winplat/kernel.h"
#include "winplat/modules.h"
#include "winplat/registry.h"
#include "hex_internal.h"

extern "C" {
const IID IID_IUnknown = {0x00000000, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
const IID IID_IClassFactory = {0x00000001, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
const IID IID_IMarshal = {0x00000003, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
const IID IID_IStorage = {0x0000000B, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
const IID IID_IStream = {0x0000000C, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
const IID IID_IEnumSTATSTG = {0x0000000D, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
const IID IID_IExternalConnection = {
    0x00000019, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
const IID IID_ISynchronize = {0x00000030, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
const IID IID_ISequentialStream = {
    0x0C733A30, 0x2A1C, 0x11CE, {0xAD, 0xE5, 0x00, 0xAA, 0x00, 0x44, 0x77, 0x3D}};
const IID IID_ICallFactory = {0x1C733A30, 0x2A1C, 0x11CE, {0xAD, 0xE5, 0x00, 0xAA, 0x00, 0x44, 0x77, 0x3D}};
const CLSID CLSID_InProcFreeMarshaler = {
    0x0000033A, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
const GUID GUID_NULL = {0, 0, 0, {0, 0, 0, 0, 0, 0, 0, 0}};
}

namespace {

struct ApartmentState {
    uint32_t count = 0;
    bool singleThreaded = false;
};
thread_local ApartmentState tApartment;

std::atomic<int64_t> gTaskMemBlocks{0};
std::atomic<int64_t> gLiveApartments{0};  // threads inside an apartment now
std::atomic<int64_t> gMarshalers{0};

// Lives until exit and past it: watcher threads may still disconnect late.
struct DisconnectRecord {
    winplat::kernel::PlatformLock mutex;
    std::condition_variable_any changed;
    std::map<IUnknown*, uint64_t> counts;
    uint64_t total = 0;
};
DisconnectRecord& disconnectRecord() {
    static DisconnectRecord* record = new DisconnectRecord;
    return *record;
}

bool injected(const char* name, HRESULT* hr) {
    int64_t code = 0;
    if (winplat::inject::take(name, &code)) {
        *hr = static_cast<HRESULT>(code);
        return true;
    }
    return false;
}

std::wstring guidText(REFGUID g) {
    WCHAR buf[39];
    StringFromGUID2(g, buf, 39);
    return buf;
}

// The default value of HKCR\<subKey> as text (REG_SZ, or REG_EXPAND_SZ with
// the variables expanded); false when there is none.
bool readClassesDefault(const std::wstring& subKey, std::wstring& value) {
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_CLASSES_ROOT, subKey.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) {
        return false;
    }
    DWORD type = 0;
    DWORD size = 0;
    bool ok = RegQueryValueExW(key, nullptr, nullptr, &type, nullptr, &size) == ERROR_SUCCESS &&
              (type == REG_SZ || type == REG_EXPAND_SZ);
    std::wstring text;
    if (ok) {
        text.assign(size / sizeof(WCHAR) + 1, L'\0');
        DWORD got = static_cast<DWORD>(text.size() * sizeof(WCHAR));
        ok = RegQueryValueExW(key, nullptr, nullptr, &type, reinterpret_cast<LPBYTE>(text.data()), &got) ==
             ERROR_SUCCESS;
        text.resize(ok ? got / sizeof(WCHAR) : 0);
        while (!text.empty() && text.back() == L'\0') {
            text.pop_back();
        }
    }
    RegCloseKey(key);
    if (!ok || text.empty()) {
        return false;
    }
    if (type == REG_EXPAND_SZ) {
        const DWORD need = ExpandEnvironmentStringsW(text.c_str(), nullptr, 0);
        if (need == 0) {
            return false;
        }
        std::wstring expanded(need, L'\0');
        if (ExpandEnvironmentStringsW(text.c_str(), expanded.data(), need) != need) {
            return false;
        }
        expanded.resize(need - 1);
        text = std::move(expanded);
    }
    value = std::move(text);
    return true;
}

// The module named by a LocalServer32 command line.
std::wstring serverModuleOf(const std::wstring& commandLine) {
    size_t start = commandLine.find_first_not_of(L" \t");
    if (start == std::wstring::npos) {
        return {};
    }
    if (commandLine[start] == L'"') {
        const size_t close = commandLine.find(L'"', start + 1);
        return commandLine.substr(start + 1,
                                  close == std::wstring::npos ? std::wstring::npos : close - start - 1);
    }
    size_t end = commandLine.find_last_not_of(L" \t");
    return commandLine.substr(start, end - start + 1);
}

// Activation loads modules for good, as COM keeps servers and proxy/stub
// modules loaded for the life of the process.
HRESULT loadModule(const std::wstring& path, HMODULE* module) {
    SetLastError(0);
    *module = LoadLibraryW(path.c_str());
    if (*module == nullptr) {
        const DWORD error = GetLastError();
        return error != 0 ? HRESULT_FROM_WIN32(error) : E_FAIL;
    }
    return S_OK;
}

// Interfaces whose proxies the COM runtime itself provides.
bool builtInProxy(REFIID riid) {
    for (const IID* iid :
         {&IID_IUnknown, &IID_IClassFactory, &IID_IMarshal, &IID_IStream, &IID_ISequentialStream,
          &IID_IStorage, &IID_IEnumSTATSTG, &IID_ISynchronize, &IID_ICallFactory}) {
        if (IsEqualGUID(riid, *iid)) {
            return true;
        }
    }
    return false;
}

// What a client of a local server loads to talk to it through `riid`.
HRESULT loadProxyStub(REFIID riid) {
    if (builtInProxy(riid)) {
        return S_OK;
    }
    std::wstring psText;
    CLSID ps;
    std::wstring path;
    if (!readClassesDefault(L"Interface\\" + guidText(riid) + L"\\ProxyStubClsid32", psText) ||
        FAILED(CLSIDFromString(psText.c_str(), &ps)) ||
        !readClassesDefault(L"CLSID\\" + guidText(ps) + L"\\InprocServer32", path)) {
        return E_NOINTERFACE;
    }
    HMODULE module = nullptr;
    return loadModule(path, &module);
}

// Finds and loads the server of `clsid` and asks it for its class object.
HRESULT classObject(REFCLSID clsid, DWORD context, bool aggregating, REFIID riid, void** ppv, bool* local) {
    if (tApartment.count == 0) {
        return CO_E_NOTINITIALIZED;
    }
    if ((context &
         (CLSCTX_INPROC_SERVER | CLSCTX_INPROC_HANDLER | CLSCTX_LOCAL_SERVER | CLSCTX_REMOTE_SERVER)) == 0) {
        return E_INVALIDARG;
    }
    const std::wstring classKey = L"CLSID\\" + guidText(clsid);
    std::wstring path;
    *local = false;
    if ((context & CLSCTX_INPROC_SERVER) != 0 && readClassesDefault(classKey + L"\\InprocServer32", path)) {
        *local = false;
    } else if ((context & (CLSCTX_LOCAL_SERVER | CLSCTX_REMOTE_SERVER)) != 0 &&
               readClassesDefault(classKey + L"\\LocalServer32", path)) {
        *local = true;
        path = serverModuleOf(path);
        if (aggregating) {
            return CLASS_E_NOAGGREGATION;
        }
    } else {
        return REGDB_E_CLASSNOTREG;
    }
    if (path.empty()) {
        return REGDB_E_CLASSNOTREG;
    }
    HMODULE module = nullptr;
    HRESULT hr = loadModule(path, &module);
    if (FAILED(hr)) {
        return hr;
    }
    const FARPROC proc = GetProcAddress(module, "DllGetClassObject");
    if (proc == nullptr) {
        return CO_E_ERRORINDLL;
    }
    auto entry = reinterpret_cast<LPFNGETCLASSOBJECT>(reinterpret_cast<void (*)()>(proc));
    return entry(clsid, riid, ppv);
}

bool parseGuid(LPCOLESTR text, GUID* out) {
    if (text == nullptr) {
        *out = GUID_NULL;
        return true;
    }
    // {XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}
    static constexpr char kShape[] = "{########-####-####-####-############}";
    uint8_t bytes[16] = {};
    int nibble = 0;
    for (size_t i = 0; i < sizeof(kShape) - 1; ++i) {
        const WCHAR c = text[i];
        if (kShape[i] != '#') {
            if (c != static_cast<WCHAR>(kShape[i])) {
                return false;
            }
            continue;
        }
        const int v = winplat::detail::hexDigitValue(c);
        if (v < 0) {
            return false;
        }
        bytes[nibble / 2] = static_cast<uint8_t>(bytes[nibble / 2] | (nibble % 2 == 0 ? v << 4 : v));
        ++nibble;
    }
    if (text[sizeof(kShape) - 1] != 0) {
        return false;
    }
    out->Data1 =
        (uint32_t{bytes[0]} << 24) | (uint32_t{bytes[1]} << 16) | (uint32_t{bytes[2]} << 8) | bytes[3];
    out->Data2 = static_cast<uint16_t>((bytes[4] << 8) | bytes[5]);
    out->Data3 = static_cast<uint16_t>((bytes[6] << 8) | bytes[7]);
    std::memcpy(out->Data4, bytes + 8, 8);
    return true;
}

// The free-threaded marshaler: an inner object aggregated by its outer one.
// In-process marshalling hands the interface pointer itself over.
class FreeThreadedMarshaler final : public IMarshal {
  public:
    explicit FreeThreadedMarshaler(IUnknown* outer)
        : inner_(this), outer_(outer != nullptr ? outer : &inner_) {
        ++gMarshalers;
    }
    ~FreeThreadedMarshaler() { --gMarshalers; }
    FreeThreadedMarshaler(const FreeThreadedMarshaler&) = delete;
    FreeThreadedMarshaler& operator=(const FreeThreadedMarshaler&) = delete;

    IUnknown* innerUnknown() { return &inner_; }

    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override {
        return outer_->QueryInterface(riid, ppv);
    }
    STDMETHODIMP_(ULONG) AddRef() override { return outer_->AddRef(); }
    STDMETHODIMP_(ULONG) Release() override { return outer_->Release(); }

    STDMETHODIMP GetUnmarshalClass(REFIID, void*, DWORD dwDestContext, void*, DWORD, CLSID* pCid) override {
        if (pCid == nullptr) {
            return E_POINTER;
        }
        if (!inProcess(dwDestContext)) {
            return E_NOTIMPL;
        }
        *pCid = CLSID_InProcFreeMarshaler;
        return S_OK;
    }

    STDMETHODIMP GetMarshalSizeMax(REFIID, void*, DWORD dwDestContext, void*, DWORD, DWORD* pSize) override {
        if (pSize == nullptr) {
            return E_POINTER;
        }
        if (!inProcess(dwDestContext)) {
            return E_NOTIMPL;
        }
        *pSize = sizeof(Packet);
        return S_OK;
    }

    STDMETHODIMP MarshalInterface(IStream* pStm, REFIID riid, void* pv, DWORD dwDestContext, void*,
                                  DWORD mshlflags) override {
        if (pStm == nullptr || pv == nullptr) {
            return E_INVALIDARG;
        }
        if (!inProcess(dwDestContext)) {
            return E_NOTIMPL;
        }
        void* itf = nullptr;
        HRESULT hr = static_cast<IUnknown*>(pv)->QueryInterface(riid, &itf);
        if (FAILED(hr)) {
            return hr;
        }
        Packet packet{mshlflags, 0, reinterpret_cast<uint64_t>(itf)};
        ULONG written = 0;
        hr = pStm->Write(&packet, sizeof(packet), &written);
        if (SUCCEEDED(hr) && written != sizeof(packet)) {
            hr = STG_E_MEDIUMFULL;
        }
        // A table-weak marshal holds no reference; a failed one keeps none.
        if (FAILED(hr) || mshlflags == MSHLFLAGS_TABLEWEAK) {
            static_cast<IUnknown*>(itf)->Release();
        }
        return FAILED(hr) ? hr : S_OK;
    }

    STDMETHODIMP UnmarshalInterface(IStream* pStm, REFIID riid, void** ppv) override {
        if (ppv == nullptr) {
            return E_POINTER;
        }
        *ppv = nullptr;
        Packet packet{};
        HRESULT hr = readPacket(pStm, &packet);
        if (FAILED(hr)) {
            return hr;
        }
        auto* object = reinterpret_cast<IUnknown*>(packet.pointer);
        hr = object->QueryInterface(riid, ppv);
        // Normal marshal data is used up by one unmarshal.
        if (packet.flags == MSHLFLAGS_NORMAL) {
            object->Release();
        }
        return hr;
    }

    STDMETHODIMP ReleaseMarshalData(IStream* pStm) override {
        Packet packet{};
        const HRESULT hr = readPacket(pStm, &packet);
        if (FAILED(hr)) {
            return hr;
        }
        if (packet.flags != MSHLFLAGS_TABLEWEAK) {
            reinterpret_cast<IUnknown*>(packet.pointer)->Release();
        }
        return S_OK;
    }

    // Objects used through this marshaler have no stubs to cut off.
    STDMETHODIMP DisconnectObject(DWORD) override { return S_OK; }

  private:
    struct Packet {
        DWORD flags;
        DWORD reserved;
        uint64_t pointer;
    };

    struct Inner final : IUnknown {
        explicit Inner(FreeThreadedMarshaler* owner) : owner(owner) {}
        STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override {
            if (ppv == nullptr) {
                return E_POINTER;
            }
            if (IsEqualGUID(riid, IID_IUnknown)) {
                *ppv = static_cast<IUnknown*>(this);
                AddRef();
                return S_OK;
            }
            if (IsEqualGUID(riid, IID_IMarshal)) {
                *ppv = static_cast<IMarshal*>(owner);
                owner->AddRef();
                return S_OK;
            }
            *ppv = nullptr;
            return E_NOINTERFACE;
        }
        STDMETHODIMP_(ULONG) AddRef() override { return ++owner->refs_; }
        STDMETHODIMP_(ULONG) Release() override {
            const ULONG left = --owner->refs_;
            if (left == 0) {
                delete owner;
            }
            return left;
        }
        FreeThreadedMarshaler* owner;
    };

    static bool inProcess(DWORD context) { return context == MSHCTX_INPROC || context == MSHCTX_CROSSCTX; }

    static HRESULT readPacket(IStream* pStm, Packet* packet) {
        if (pStm == nullptr) {
            return E_INVALIDARG;
        }
        ULONG read = 0;
        const HRESULT hr = pStm->Read(packet, sizeof(*packet), &read);
        if (FAILED(hr)) {
            return hr;
        }
        if (read != sizeof(*packet) || packet->pointer == 0) {
            return STG_E_READFAULT;
        }
        return S_OK;
    }

    Inner inner_;
    IUnknown* outer_;
    std::atomic<ULONG> refs_{1};
};

}  // namespace

extern "C" {

HRESULT WINAPI CoInitializeEx(LPVOID pvReserved, DWORD dwCoInit) {
    HRESULT hr;
    if (injected("CoInitializeEx", &hr)) {
        return hr;
    }
    if (pvReserved != nullptr || (dwCoInit & ~DWORD{COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE |
                                                    COINIT_SPEED_OVER_MEMORY}) != 0) {
        return E_INVALIDARG;
    }
    const bool singleThreaded = (dwCoInit & COINIT_APARTMENTTHREADED) != 0;
    ApartmentState& state = tApartment;
    if (state.count == 0) {
        state.count = 1;
        state.singleThreaded = singleThreaded;
        ++gLiveApartments;
        return S_OK;
    }
    if (state.singleThreaded != singleThreaded) {
        return RPC_E_CHANGED_MODE;
    }
    ++state.count;
    return S_FALSE;
}

HRESULT WINAPI CoInitialize(LPVOID pvReserved) {
    return CoInitializeEx(pvReserved, COINIT_APARTMENTTHREADED);
}

void WINAPI CoUninitialize() {
    ApartmentState& state = tApartment;
    if (state.count > 0 && --state.count == 0) {
        state.singleThreaded = false;
        --gLiveApartments;
    }
}

HRESULT WINAPI CoGetClassObject(REFCLSID rclsid, DWORD dwClsContext, COSERVERINFO* pServerInfo, REFIID riid,
                                LPVOID* ppv) {
    if (ppv == nullptr) {
        return E_POINTER;
    }
    *ppv = nullptr;
    HRESULT hr;
    if (injected("CoGetClassObject", &hr)) {
        return hr;
    }
    if (pServerInfo != nullptr) {
        return E_INVALIDARG;  // no remote machines here
    }
    bool local = false;
    hr = classObject(rclsid, dwClsContext, false, riid, ppv, &local);
    if (SUCCEEDED(hr) && local) {
        const HRESULT ps = loadProxyStub(riid);
        if (FAILED(ps)) {
            static_cast<IUnknown*>(*ppv)->Release();
            *ppv = nullptr;
            return ps;
        }
    }
    return hr;
}

HRESULT WINAPI CoCreateInstance(REFCLSID rclsid, LPUNKNOWN pUnkOuter, DWORD dwClsContext, REFIID riid,
                                LPVOID* ppv) {
    if (ppv == nullptr) {
        return E_POINTER;
    }
    *ppv = nullptr;
    HRESULT hr;
    if (injected("CoCreateInstance", &hr)) {
        return hr;
    }
    IClassFactory* factory = nullptr;
    bool local = false;
    hr = classObject(rclsid, dwClsContext, pUnkOuter != nullptr, IID_IClassFactory,
                     reinterpret_cast<void**>(&factory), &local);
    if (FAILED(hr)) {
        return hr;
    }
    if (factory == nullptr) {
        return E_UNEXPECTED;
    }
    void* object = nullptr;
    hr = factory->CreateInstance(pUnkOuter, riid, &object);
    factory->Release();
    if (FAILED(hr)) {
        return hr;
    }
    if (object == nullptr) {
        return E_UNEXPECTED;
    }
    if (local) {
        const HRESULT ps = loadProxyStub(riid);
        if (FAILED(ps)) {
            static_cast<IUnknown*>(object)->Release();
            return ps;
        }
    }
    *ppv = object;
    return hr;
}

HRESULT WINAPI CoCreateGuid(GUID* pguid) {
    if (pguid == nullptr) {
        return E_INVALIDARG;
    }
    HRESULT hr;
    if (injected("CoCreateGuid", &hr)) {
        return hr;
    }
    uint8_t bytes[16];
    size_t got = 0;
    while (got < sizeof(bytes)) {
        const ssize_t r = getrandom(bytes + got, sizeof(bytes) - got, 0);
        if (r < 0) {
            if (errno == EINTR) {
                continue;
            }
            return HRESULT_FROM_WIN32(ERROR_NOT_ENOUGH_MEMORY);
        }
        got += static_cast<size_t>(r);
    }
    std::memcpy(pguid, bytes, sizeof(bytes));
    pguid->Data3 = static_cast<uint16_t>((pguid->Data3 & 0x0FFF) | 0x4000);
    pguid->Data4[0] = static_cast<uint8_t>((pguid->Data4[0] & 0x3F) | 0x80);
    return S_OK;
}

int WINAPI StringFromGUID2(REFGUID rguid, LPOLESTR lpsz, int cchMax) {
    if (lpsz == nullptr || cchMax < 39) {
        return 0;
    }
    static constexpr char kHex[] = "0123456789ABCDEF";
    uint8_t bytes[16];
    bytes[0] = static_cast<uint8_t>(rguid.Data1 >> 24);
    bytes[1] = static_cast<uint8_t>(rguid.Data1 >> 16);
    bytes[2] = static_cast<uint8_t>(rguid.Data1 >> 8);
    bytes[3] = static_cast<uint8_t>(rguid.Data1);
    bytes[4] = static_cast<uint8_t>(rguid.Data2 >> 8);
    bytes[5] = static_cast<uint8_t>(rguid.Data2);
    bytes[6] = static_cast<uint8_t>(rguid.Data3 >> 8);
    bytes[7] = static_cast<uint8_t>(rguid.Data3);
    std::memcpy(bytes + 8, rguid.Data4, 8);
    int pos = 0;
    lpsz[pos++] = L'{';
    for (int i = 0; i < 16; ++i) {
        if (i == 4 || i == 6 || i == 8 || i == 10) {
            lpsz[pos++] = L'-';
        }
        lpsz[pos++] = static_cast<OLECHAR>(kHex[bytes[i] >> 4]);
        lpsz[pos++] = static_cast<OLECHAR>(kHex[bytes[i] & 0xF]);
    }
    lpsz[pos++] = L'}';
    lpsz[pos++] = 0;
    return pos;
}

HRESULT WINAPI CLSIDFromString(LPCOLESTR lpsz, LPCLSID pclsid) {
    if (pclsid == nullptr) {
        return E_INVALIDARG;
    }
    return parseGuid(lpsz, pclsid) ? S_OK : CO_E_CLASSSTRING;
}

HRESULT WINAPI IIDFromString(LPCOLESTR lpsz, IID* lpiid) {
    if (lpiid == nullptr) {
        return E_INVALIDARG;
    }
    return parseGuid(lpsz, lpiid) ? S_OK : E_INVALIDARG;
}

LPVOID WINAPI CoTaskMemAlloc(SIZE_T cb) {
    HRESULT hr;
    if (injected("CoTaskMemAlloc", &hr)) {
        return nullptr;
    }
    void* p = std::malloc(cb == 0 ? 1 : cb);
    if (p != nullptr) {
        ++gTaskMemBlocks;
    }
    return p;
}

LPVOID WINAPI CoTaskMemRealloc(LPVOID pv, SIZE_T cb) {
    if (pv == nullptr) {
        return CoTaskMemAlloc(cb);
    }
    if (cb == 0) {
        CoTaskMemFree(pv);
        return nullptr;
    }
    HRESULT hr;
    if (injected("CoTaskMemRealloc", &hr)) {
        return nullptr;
    }
    return std::realloc(pv, cb);
}

void WINAPI CoTaskMemFree(LPVOID pv) {
    if (pv != nullptr) {
        --gTaskMemBlocks;
        std::free(pv);
    }
}

HRESULT WINAPI CoCreateFreeThreadedMarshaler(LPUNKNOWN punkOuter, LPUNKNOWN* ppunkMarshal) {
    if (ppunkMarshal == nullptr) {
        return E_INVALIDARG;
    }
    *ppunkMarshal = nullptr;
    HRESULT hr;
    if (injected("CoCreateFreeThreadedMarshaler", &hr)) {
        return hr;
    }
    auto* marshaler = new (std::nothrow) FreeThreadedMarshaler(punkOuter);
    if (marshaler == nullptr) {
        return E_OUTOFMEMORY;
    }
    *ppunkMarshal = marshaler->innerUnknown();
    return S_OK;
}

HRESULT WINAPI CoDisconnectObject(LPUNKNOWN pUnk, DWORD dwReserved) {
    if (pUnk == nullptr) {
        return E_INVALIDARG;
    }
    HRESULT hr;
    if (injected("CoDisconnectObject", &hr)) {
        return hr;
    }
    IUnknown* identity = pUnk;
    IUnknown* queried = nullptr;
    if (SUCCEEDED(pUnk->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&queried))) &&
        queried != nullptr) {
        identity = queried;
        queried->Release();
    }
    IMarshal* marshal = nullptr;
    hr = S_OK;
    if (SUCCEEDED(pUnk->QueryInterface(IID_IMarshal, reinterpret_cast<void**>(&marshal))) &&
        marshal != nullptr) {
        hr = marshal->DisconnectObject(dwReserved);
        marshal->Release();
    }
    DisconnectRecord& record = disconnectRecord();
    {
        winplat::kernel::PlatformGuard lock(record.mutex);
        ++record.counts[identity];
        ++record.total;
    }
    record.changed.notify_all();
    return hr;
}

}  // extern "C"

namespace winplat::com {

Apartment currentApartment() {
    const ApartmentState& state = tApartment;
    if (state.count == 0) {
        return Apartment::None;
    }
    return state.singleThreaded ? Apartment::SingleThreaded : Apartment::MultiThreaded;
}

uint32_t apartmentInitCount() {
    return tApartment.count;
}

int64_t liveApartmentCount() {
    return gLiveApartments.load();
}

int64_t liveTaskMemCount() {
    return gTaskMemBlocks.load();
}

int64_t liveMarshalerCount() {
    return gMarshalers.load();
}

uint64_t disconnectCount(IUnknown* object) {
    DisconnectRecord& record = disconnectRecord();
    winplat::kernel::PlatformGuard lock(record.mutex);
    const auto it = record.counts.find(object);
    return it == record.counts.end() ? 0 : it->second;
}

uint64_t disconnectTotal() {
    DisconnectRecord& record = disconnectRecord();
    winplat::kernel::PlatformGuard lock(record.mutex);
    return record.total;
}

bool waitForDisconnects(uint64_t total, uint32_t timeoutMs) {
    DisconnectRecord& record = disconnectRecord();
    std::unique_lock<winplat::kernel::PlatformLock> lock(record.mutex);
    return record.changed.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                                   [&] { return record.total >= total; });
}

void resetDisconnectRecord() {
    DisconnectRecord& record = disconnectRecord();
    winplat::kernel::PlatformGuard lock(record.mutex);
    record.counts.clear();
    record.total = 0;
}

}  // namespace winplat::com
