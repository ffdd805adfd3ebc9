// Stand-in for the mail client's MAPI runtime: the eight exports the tool
// resolves, profile administration over the profiles in the registry, and
// linked MAPI memory that counts its live blocks and catches bad frees.
//
// Profile layout: HKCU\<profiles key>\<profile>\<section>, the section key
// named by the 32 lower-case hexadecimal digits of its UID bytes; each
// property a REG_BINARY value named by its tag as "%04x%04x" (type, id).
// PT_UNICODE is stored as UTF-16LE with its terminator, PT_STRING8 with its
// NUL, PT_LONG in 4 and PT_BOOLEAN in 2 little-endian bytes.
#include <algorithm>
#include <atomic>
#include <mutex>
#include <cstdlib>
#include <cstring>
#include <map>
#include <string>
#include <type_traits>
#include <unordered_map>
#include <vector>

#include "standins/common/Standin.h"
#include "winplat/com.h"
#include "winplat/mapix.h"
#include "winplat/utf16.h"
#include "winplat/windows.h"

namespace {

using standin::injected;
using standin::record;

const wchar_t* const ProfilesKey =
    L"Software\\Microsoft\\Windows NT\\CurrentVersion\\Windows Messaging Subsystem\\Profiles";

// ---------------------------------------------------------------------------
// Linked MAPI memory
// ---------------------------------------------------------------------------
struct Memory {
    std::mutex mutex;
    std::unordered_map<void*, std::vector<void*>> heads;  // head -> linked blocks
};

// Made when the module loads, dropped when it unloads (blocks still live
// then are the caller's leak, which the counters report).
Memory* memorySlot = nullptr;
Memory& memory() {
    if (!memorySlot) {
        memorySlot = new Memory;
    }
    return *memorySlot;
}
__attribute__((constructor)) void makeMemory() {
    memory();
}
__attribute__((destructor)) void dropMemory() {
    delete memorySlot;
    memorySlot = nullptr;
}

void* rawAllocate(ULONG size) {
    void* p = std::malloc(size ? size : 1);  // 16-byte aligned on this platform
    if (p) {
        record().add("liveBlocks", 1);
    }
    return p;
}

void rawFree(void* p) {
    std::free(p);
    record().add("liveBlocks", -1);
}

SCODE allocateBuffer(ULONG size, LPVOID* out) {
    if (!out) {
        return E_INVALIDARG;
    }
    void* p = rawAllocate(size);
    if (!p) {
        return MAPI_E_NOT_ENOUGH_MEMORY;
    }
    std::lock_guard<std::mutex> lock(memory().mutex);
    memory().heads.emplace(p, std::vector<void*>());
    *out = p;
    return S_OK;
}

SCODE allocateMore(ULONG size, LPVOID parent, LPVOID* out) {
    if (!out || !parent) {
        return E_INVALIDARG;
    }
    std::lock_guard<std::mutex> lock(memory().mutex);
    auto it = memory().heads.find(parent);
    if (it == memory().heads.end()) {
        record().add("badAllocateMore", 1);
        return E_INVALIDARG;
    }
    void* p = rawAllocate(size);
    if (!p) {
        return MAPI_E_NOT_ENOUGH_MEMORY;
    }
    it->second.push_back(p);
    *out = p;
    return S_OK;
}

ULONG freeBuffer(LPVOID p) {
    if (!p) {
        return 0;
    }
    std::vector<void*> linked;
    {
        std::lock_guard<std::mutex> lock(memory().mutex);
        auto it = memory().heads.find(p);
        if (it == memory().heads.end()) {
            record().add("badFrees", 1);
            record().call("MAPIFreeBuffer bad pointer");
            const char* strict = std::getenv("STANDIN_STRICT");
            if (strict && std::strcmp(strict, "1") == 0) {
                std::abort();
            }
            return static_cast<ULONG>(E_INVALIDARG);
        }
        linked = std::move(it->second);
        memory().heads.erase(it);
    }
    for (void* block : linked) {
        rawFree(block);
    }
    rawFree(p);
    return 0;
}

// ---------------------------------------------------------------------------
// Initialisation
// ---------------------------------------------------------------------------
std::atomic<long> initCount{0};
// Per thread: for each MAPIInitialize still open, whether it entered COM.
// (No thread_local: dynamic TLS in a module that may be unloaded trips the
// leak checker.)
std::mutex comMutex;
std::map<DWORD, std::vector<bool>> comEnteredByThread;
std::vector<bool>& comEntered() {
    return comEnteredByThread[GetCurrentThreadId()];
}

// ---------------------------------------------------------------------------
// COM object helper
// ---------------------------------------------------------------------------
// A null out-pointer to QueryInterface is an invalid argument here.
template <class I>
using Object = standin::Object<I, E_INVALIDARG>;

std::wstring lowerHex(const BYTE* bytes, size_t count) {
    static const wchar_t digits[] = L"0123456789abcdef";
    std::wstring text;
    for (size_t i = 0; i < count; ++i) {
        text += digits[bytes[i] >> 4];
        text += digits[bytes[i] & 15];
    }
    return text;
}

std::wstring propertyValueName(ULONG tag) {
    wchar_t name[16];
    std::swprintf(name, 16, L"%04x%04x", static_cast<unsigned>(PROP_TYPE(tag)),
                  static_cast<unsigned>(PROP_ID(tag)));
    return name;
}

std::wstring ansiText(const char* text) {
    int units = MultiByteToWideChar(CP_ACP, 0, text, -1, nullptr, 0);
    std::wstring wide(static_cast<size_t>(units > 0 ? units : 1), L'\0');
    MultiByteToWideChar(CP_ACP, 0, text, -1, wide.data(), units);
    wide.resize(wide.size() - 1);
    return wide;
}

std::string narrow(const std::wstring& text) {
    return winplat::utf16ToUtf8(text);
}

// ---------------------------------------------------------------------------
// IProfSect
// ---------------------------------------------------------------------------
class ProfSect : public Object<IProfSect> {
  public:
    ProfSect(std::wstring path, bool writable)
        : Object("liveProfSect"), path_(std::move(path)), writable_(writable) {}

    HRESULT STDMETHODCALLTYPE GetLastError(HRESULT, ULONG, LPMAPIERROR*) override {
        return MAPI_E_NO_SUPPORT;
    }
    HRESULT STDMETHODCALLTYPE SaveChanges(ULONG) override { return S_OK; }

    HRESULT STDMETHODCALLTYPE GetProps(LPSPropTagArray tags, ULONG flags, ULONG* count,
                                       LPSPropValue* values) override {
        HRESULT hr;
        if (injected("olmapi32!IProfSect::GetProps", &hr)) {
            return hr;
        }
        if (!tags || !count || !values || flags & ~MAPI_UNICODE) {
            return E_INVALIDARG;
        }
        HKEY key = nullptr;
        LSTATUS r = RegOpenKeyExW(HKEY_CURRENT_USER, path_.c_str(), 0, KEY_READ, &key);
        if (r != ERROR_SUCCESS) {
            return HRESULT_FROM_WIN32(static_cast<DWORD>(r));
        }
        SPropValue* array = nullptr;
        hr = allocateBuffer(static_cast<ULONG>(tags->cValues * sizeof(SPropValue)),
                            reinterpret_cast<void**>(&array));
        if (FAILED(hr)) {
            RegCloseKey(key);
            return hr;
        }
        HRESULT result = S_OK;
        for (ULONG i = 0; i < tags->cValues; ++i) {
            ULONG tag = tags->aulPropTag[i];
            SPropValue& v = array[i];
            std::memset(&v, 0, sizeof(v));
            std::vector<BYTE> data;
            if (!readValue(key, tag, &data) || !convert(tag, data, array, &v)) {
                v.ulPropTag = PROP_TAG(PT_ERROR, PROP_ID(tag));
                v.Value.err = MAPI_E_NOT_FOUND;
                result = MAPI_W_ERRORS_RETURNED;
            }
        }
        RegCloseKey(key);
        record().call("IProfSect::GetProps " + standin::hex32(tags->cValues ? tags->aulPropTag[0] : 0) +
                      " -> " + standin::hex32(result));
        *count = tags->cValues;
        *values = array;
        return result;
    }

    HRESULT STDMETHODCALLTYPE GetPropList(ULONG, LPSPropTagArray*) override { return MAPI_E_NO_SUPPORT; }
    HRESULT STDMETHODCALLTYPE OpenProperty(ULONG, LPCIID, ULONG, ULONG, LPUNKNOWN*) override {
        return MAPI_E_NO_SUPPORT;
    }

    HRESULT STDMETHODCALLTYPE SetProps(ULONG count, LPSPropValue values,
                                       LPSPropProblemArray* problems) override {
        HRESULT hr;
        if (injected("olmapi32!IProfSect::SetProps", &hr)) {
            return hr;
        }
        if (!values) {
            return E_INVALIDARG;
        }
        if (problems) {
            *problems = nullptr;
        }
        if (!writable_) {
            return MAPI_E_NO_ACCESS;
        }
        HKEY key = nullptr;
        LSTATUS r = RegOpenKeyExW(HKEY_CURRENT_USER, path_.c_str(), 0, KEY_READ | KEY_WRITE, &key);
        if (r != ERROR_SUCCESS) {
            return HRESULT_FROM_WIN32(static_cast<DWORD>(r));
        }
        std::vector<SPropProblem> failed;
        for (ULONG i = 0; i < count; ++i) {
            std::vector<BYTE> bytes;
            SCODE sc = encode(values[i], &bytes);
            if (sc == S_OK) {
                std::wstring name = propertyValueName(values[i].ulPropTag);
                r = RegSetValueExW(key, name.c_str(), 0, REG_BINARY, bytes.data(),
                                   static_cast<DWORD>(bytes.size()));
                sc = r == ERROR_SUCCESS ? S_OK : HRESULT_FROM_WIN32(static_cast<DWORD>(r));
            }
            record().call("IProfSect::SetProps " + standin::hex32(values[i].ulPropTag) + " -> " +
                          standin::hex32(sc));
            if (sc != S_OK) {
                failed.push_back(SPropProblem{i, values[i].ulPropTag, sc});
            }
        }
        RegCloseKey(key);
        if (!failed.empty() && problems) {
            SPropProblemArray* array = nullptr;
            if (SUCCEEDED(allocateBuffer(static_cast<ULONG>(CbNewSPropProblemArray(failed.size())),
                                         reinterpret_cast<void**>(&array)))) {
                array->cProblem = static_cast<ULONG>(failed.size());
                std::memcpy(array->aProblem, failed.data(), failed.size() * sizeof(SPropProblem));
                *problems = array;
            }
        }
        return S_OK;
    }

    HRESULT STDMETHODCALLTYPE DeleteProps(LPSPropTagArray, LPSPropProblemArray*) override {
        return MAPI_E_NO_SUPPORT;
    }
    HRESULT STDMETHODCALLTYPE CopyTo(ULONG, LPCIID, LPSPropTagArray, ULONG_PTR, LPMAPIPROGRESS, LPCIID,
                                     LPVOID, ULONG, LPSPropProblemArray*) override {
        return MAPI_E_NO_SUPPORT;
    }
    HRESULT STDMETHODCALLTYPE CopyProps(LPSPropTagArray, ULONG_PTR, LPMAPIPROGRESS, LPCIID, LPVOID, ULONG,
                                        LPSPropProblemArray*) override {
        return MAPI_E_NO_SUPPORT;
    }
    HRESULT STDMETHODCALLTYPE GetNamesFromIDs(LPSPropTagArray*, LPGUID, ULONG, ULONG*,
                                              LPMAPINAMEID**) override {
        return MAPI_E_NO_SUPPORT;
    }
    HRESULT STDMETHODCALLTYPE GetIDsFromNames(ULONG, LPMAPINAMEID*, ULONG, LPSPropTagArray*) override {
        return MAPI_E_NO_SUPPORT;
    }

  protected:
    bool answers(REFIID riid) const override { return IsEqualIID(riid, IID_IMAPIProp); }

  private:
    static bool readValue(HKEY key, ULONG tag, std::vector<BYTE>* data) {
        std::wstring name = propertyValueName(tag);
        DWORD type = REG_NONE;
        DWORD size = 0;
        if (RegQueryValueExW(key, name.c_str(), nullptr, &type, nullptr, &size) != ERROR_SUCCESS ||
            type != REG_BINARY) {
            return false;
        }
        data->resize(size);
        return RegQueryValueExW(key, name.c_str(), nullptr, &type, data->data(), &size) == ERROR_SUCCESS;
    }

    // Stored bytes to a value; strings and binaries are linked to the array.
    static bool convert(ULONG tag, const std::vector<BYTE>& data, SPropValue* array, SPropValue* v) {
        v->ulPropTag = tag;
        switch (PROP_TYPE(tag)) {
            case PT_UNICODE: {
                std::wstring text = winplat::bytesToWide(data.data(), data.size());
                text = text.substr(0, text.find(L'\0'));
                void* p = nullptr;
                if (FAILED(allocateMore(static_cast<ULONG>((text.size() + 1) * sizeof(WCHAR)), array, &p))) {
                    return false;
                }
                std::memcpy(p, text.c_str(), (text.size() + 1) * sizeof(WCHAR));
                v->Value.lpszW = static_cast<LPWSTR>(p);
                return true;
            }
            case PT_STRING8: {
                std::string text(data.begin(), data.end());
                text = text.substr(0, text.find('\0'));
                void* p = nullptr;
                if (FAILED(allocateMore(static_cast<ULONG>(text.size() + 1), array, &p))) {
                    return false;
                }
                std::memcpy(p, text.c_str(), text.size() + 1);
                v->Value.lpszA = static_cast<LPSTR>(p);
                return true;
            }
            case PT_BINARY: {
                void* p = nullptr;
                if (FAILED(allocateMore(static_cast<ULONG>(data.size()), array, &p))) {
                    return false;
                }
                std::memcpy(p, data.data(), data.size());
                v->Value.bin.cb = static_cast<ULONG>(data.size());
                v->Value.bin.lpb = static_cast<LPBYTE>(p);
                return true;
            }
            case PT_LONG: {
                ULONG value = 0;
                std::memcpy(&value, data.data(), std::min(data.size(), sizeof(value)));
                v->Value.ul = value;
                return true;
            }
            case PT_BOOLEAN: {
                USHORT value = 0;
                std::memcpy(&value, data.data(), std::min(data.size(), sizeof(value)));
                v->Value.b = value;
                return true;
            }
            default:
                return false;
        }
    }

    static SCODE encode(const SPropValue& v, std::vector<BYTE>* bytes) {
        switch (PROP_TYPE(v.ulPropTag)) {
            case PT_STRING8: {
                if (!v.Value.lpszA) {
                    return E_INVALIDARG;
                }
                bytes->assign(v.Value.lpszA, v.Value.lpszA + std::strlen(v.Value.lpszA) + 1);
                return S_OK;
            }
            case PT_UNICODE: {
                if (!v.Value.lpszW) {
                    return E_INVALIDARG;
                }
                std::string stored = winplat::wideToBytes(std::wstring(v.Value.lpszW) + L'\0');
                bytes->assign(stored.begin(), stored.end());
                return S_OK;
            }
            case PT_BINARY:
                bytes->assign(v.Value.bin.lpb, v.Value.bin.lpb + v.Value.bin.cb);
                return S_OK;
            case PT_LONG:
                bytes->resize(4);
                std::memcpy(bytes->data(), &v.Value.ul, 4);
                return S_OK;
            case PT_BOOLEAN:
                bytes->resize(2);
                std::memcpy(bytes->data(), &v.Value.b, 2);
                return S_OK;
            default:
                return MAPI_E_INVALID_TYPE;
        }
    }

    std::wstring path_;
    bool writable_;
};

// ---------------------------------------------------------------------------
// IMsgServiceAdmin
// ---------------------------------------------------------------------------
class MsgServiceAdmin : public Object<IMsgServiceAdmin> {
  public:
    explicit MsgServiceAdmin(std::wstring profilePath)
        : Object("liveMsgServiceAdmin"), profilePath_(std::move(profilePath)) {}

    HRESULT STDMETHODCALLTYPE GetLastError(HRESULT, ULONG, LPMAPIERROR*) override {
        return MAPI_E_NO_SUPPORT;
    }
    HRESULT STDMETHODCALLTYPE GetMsgServiceTable(ULONG, LPMAPITABLE*) override { return MAPI_E_NO_SUPPORT; }
    HRESULT STDMETHODCALLTYPE CreateMsgService(LPTSTR, LPTSTR, ULONG_PTR, ULONG) override {
        return MAPI_E_NO_SUPPORT;
    }
    HRESULT STDMETHODCALLTYPE DeleteMsgService(LPMAPIUID) override { return MAPI_E_NO_SUPPORT; }
    HRESULT STDMETHODCALLTYPE CopyMsgService(LPMAPIUID, LPTSTR, LPCIID, LPCIID, LPVOID, ULONG_PTR,
                                             ULONG) override {
        return MAPI_E_NO_SUPPORT;
    }
    HRESULT STDMETHODCALLTYPE RenameMsgService(LPMAPIUID, ULONG, LPTSTR) override {
        return MAPI_E_NO_SUPPORT;
    }
    HRESULT STDMETHODCALLTYPE ConfigureMsgService(LPMAPIUID, ULONG_PTR, ULONG, ULONG, LPSPropValue) override {
        return MAPI_E_NO_SUPPORT;
    }

    HRESULT STDMETHODCALLTYPE OpenProfileSection(LPMAPIUID uid, LPCIID iid, ULONG flags,
                                                 LPPROFSECT* out) override {
        HRESULT hr;
        if (injected("olmapi32!IMsgServiceAdmin::OpenProfileSection", &hr)) {
            return hr;
        }
        if (!uid || !out) {
            return E_INVALIDARG;
        }
        // The interface asked for is recorded, so a test sees which one the
        // caller chose; the section is a property object and answers no other.
        if (iid && !IsEqualIID(*iid, IID_IMAPIProp)) {
            record().call("IMsgServiceAdmin::OpenProfileSection " + standin::guidText(*iid) + " -> " +
                          standin::hex32(E_NOINTERFACE));
            return E_NOINTERFACE;
        }
        if (flags & ~(MAPI_MODIFY | MAPI_DEFERRED_ERRORS)) {
            return MAPI_E_UNKNOWN_FLAGS;
        }
        std::wstring path = profilePath_ + L"\\" + lowerHex(uid->ab, sizeof(uid->ab));
        HKEY key = nullptr;
        LSTATUS r = RegOpenKeyExW(HKEY_CURRENT_USER, path.c_str(), 0, KEY_READ, &key);
        record().call("IMsgServiceAdmin::OpenProfileSection " + narrow(lowerHex(uid->ab, sizeof(uid->ab))) +
                      " " + (iid ? standin::guidText(*iid) : std::string("(null)")) +
                      (flags & MAPI_MODIFY ? " modify" : ""));
        if (r != ERROR_SUCCESS) {
            return MAPI_E_NOT_FOUND;
        }
        RegCloseKey(key);
        *out = new ProfSect(path, (flags & MAPI_MODIFY) != 0);
        return S_OK;
    }

    HRESULT STDMETHODCALLTYPE MsgServiceTransportOrder(ULONG, LPMAPIUID, ULONG) override {
        return MAPI_E_NO_SUPPORT;
    }
    HRESULT STDMETHODCALLTYPE AdminProviders(LPMAPIUID, ULONG, LPPROVIDERADMIN*) override {
        return MAPI_E_NO_SUPPORT;
    }
    HRESULT STDMETHODCALLTYPE SetPrimaryIdentity(LPMAPIUID, ULONG) override { return MAPI_E_NO_SUPPORT; }
    HRESULT STDMETHODCALLTYPE GetProviderTable(ULONG, LPMAPITABLE*) override { return MAPI_E_NO_SUPPORT; }

  protected:
    bool answers(REFIID riid) const override { return IsEqualIID(riid, IID_IMsgServiceAdmin); }

  private:
    std::wstring profilePath_;
};

// ---------------------------------------------------------------------------
// IProfAdmin
// ---------------------------------------------------------------------------
class ProfAdmin : public Object<IProfAdmin> {
  public:
    ProfAdmin() : Object("liveProfAdmin") {}

    HRESULT STDMETHODCALLTYPE GetLastError(HRESULT, ULONG, LPMAPIERROR*) override {
        return MAPI_E_NO_SUPPORT;
    }
    HRESULT STDMETHODCALLTYPE GetProfileTable(ULONG, LPMAPITABLE*) override { return MAPI_E_NO_SUPPORT; }
    HRESULT STDMETHODCALLTYPE CreateProfile(LPTSTR, LPTSTR, ULONG_PTR, ULONG) override {
        return MAPI_E_NO_SUPPORT;
    }
    HRESULT STDMETHODCALLTYPE DeleteProfile(LPTSTR, ULONG) override { return MAPI_E_NO_SUPPORT; }
    HRESULT STDMETHODCALLTYPE ChangeProfilePassword(LPTSTR, LPTSTR, LPTSTR, ULONG) override {
        return MAPI_E_NO_SUPPORT;
    }
    HRESULT STDMETHODCALLTYPE CopyProfile(LPTSTR, LPTSTR, LPTSTR, ULONG_PTR, ULONG) override {
        return MAPI_E_NO_SUPPORT;
    }
    HRESULT STDMETHODCALLTYPE RenameProfile(LPTSTR, LPTSTR, LPTSTR, ULONG_PTR, ULONG) override {
        return MAPI_E_NO_SUPPORT;
    }
    HRESULT STDMETHODCALLTYPE SetDefaultProfile(LPTSTR, ULONG) override { return MAPI_E_NO_SUPPORT; }

    HRESULT STDMETHODCALLTYPE AdminServices(LPTSTR name, LPTSTR, ULONG_PTR, ULONG flags,
                                            LPSERVICEADMIN* out) override {
        HRESULT hr;
        if (injected("olmapi32!IProfAdmin::AdminServices", &hr)) {
            return hr;
        }
        if (flags & ~MAPI_UNICODE) {
            return MAPI_E_UNKNOWN_FLAGS;
        }
        if (!name || !out) {
            return E_INVALIDARG;
        }
        // Without MAPI_UNICODE the name is narrow text in the ANSI code page.
        std::wstring profile =
            (flags & MAPI_UNICODE) ? std::wstring(name) : ansiText(reinterpret_cast<const char*>(name));
        record().call("IProfAdmin::AdminServices " + narrow(profile) +
                      ((flags & MAPI_UNICODE) ? " unicode" : ""));
        std::wstring path = std::wstring(ProfilesKey) + L"\\" + profile;
        HKEY key = nullptr;
        if (RegOpenKeyExW(HKEY_CURRENT_USER, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) {
            return MAPI_E_NOT_FOUND;
        }
        RegCloseKey(key);
        *out = new MsgServiceAdmin(path);
        return S_OK;
    }

  protected:
    bool answers(REFIID riid) const override { return IsEqualIID(riid, IID_IProfAdmin); }
};

void resetModule() {}

}  // namespace

// ---------------------------------------------------------------------------
// Exports, under the decorated names with '@' written '_'
// ---------------------------------------------------------------------------
STANDIN_EXPORT HRESULT MAPIInitialize_4(LPVOID init) {
    HRESULT hr;
    if (injected("olmapi32!MAPIInitialize", &hr)) {
        return hr;
    }
    // MAPI brings COM up on the calling thread and takes it down again in
    // the matching MAPIUninitialize.
    HRESULT com = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    {
        std::lock_guard<std::mutex> lock(comMutex);
        comEntered().push_back(SUCCEEDED(com));
    }
    initCount.fetch_add(1);
    record().add("initCalls", 1);
    record().call(std::string("MAPIInitialize ") + (init ? "init" : "null"));
    return S_OK;
}

STANDIN_EXPORT void MAPIUninitialize_0() {
    record().call("MAPIUninitialize");
    bool entered = false;
    {
        std::lock_guard<std::mutex> lock(comMutex);
        std::vector<bool>& open = comEntered();
        if (open.empty()) {
            record().add("unbalancedUninitialize", 1);
            return;
        }
        entered = open.back();
        open.pop_back();
    }
    initCount.fetch_sub(1);
    record().add("uninitCalls", 1);
    if (entered) {
        CoUninitialize();
    }
}

STANDIN_EXPORT HRESULT MAPIAdminProfiles_8(ULONG flags, LPPROFADMIN* out) {
    HRESULT hr;
    if (injected("olmapi32!MAPIAdminProfiles", &hr)) {
        return hr;
    }
    record().call("MAPIAdminProfiles " + standin::hex32(flags));
    if (initCount.load() == 0) {
        return MAPI_E_NOT_INITIALIZED;
    }
    if (flags != 0) {
        return MAPI_E_UNKNOWN_FLAGS;
    }
    if (!out) {
        return E_INVALIDARG;
    }
    *out = new ProfAdmin;
    return S_OK;
}

STANDIN_EXPORT SCODE MAPIAllocateBuffer_8(ULONG size, LPVOID* out) {
    HRESULT hr;
    if (injected("olmapi32!MAPIAllocateBuffer", &hr)) {
        return hr;
    }
    return allocateBuffer(size, out);
}

STANDIN_EXPORT SCODE MAPIAllocateMore_12(ULONG size, LPVOID parent, LPVOID* out) {
    HRESULT hr;
    if (injected("olmapi32!MAPIAllocateMore", &hr)) {
        return hr;
    }
    return allocateMore(size, parent, out);
}

STANDIN_EXPORT ULONG MAPIFreeBuffer_4(LPVOID p) {
    return freeBuffer(p);
}

STANDIN_EXPORT HRESULT HrSetOneProp_8(LPMAPIPROP object, LPSPropValue value) {
    HRESULT hr;
    if (injected("olmapi32!HrSetOneProp", &hr)) {
        return hr;
    }
    if (!object || !value) {
        return E_INVALIDARG;
    }
    LPSPropProblemArray problems = nullptr;
    hr = object->SetProps(1, value, &problems);
    if (SUCCEEDED(hr) && problems && problems->cProblem > 0) {
        hr = problems->aProblem[0].scode;
    }
    freeBuffer(problems);
    record().call("HrSetOneProp " + standin::hex32(value->ulPropTag) + " -> " + standin::hex32(hr));
    return hr;
}

// The wrapped form: 4 flag bytes, the store-wrap provider UID, version and
// flag bytes, the DLL name in ASCII with its NUL, zeros up to a multiple of
// four, then the original identifier. One MAPI block.
STANDIN_EXPORT HRESULT WrapStoreEntryID_24(ULONG flags, LPTSTR dllName, ULONG cbOrig, LPENTRYID orig,
                                           ULONG* cbWrapped, LPENTRYID* wrapped) {
    HRESULT hr;
    if (injected("olmapi32!WrapStoreEntryID", &hr)) {
        return hr;
    }
    if (flags != 0 && flags != MAPI_UNICODE) {
        return MAPI_E_UNKNOWN_FLAGS;
    }
    if (!dllName || !orig || !cbWrapped || !wrapped) {
        return E_INVALIDARG;
    }
    std::string name;
    if (flags & MAPI_UNICODE) {
        for (const wchar_t* p = dllName; *p; ++p) {
            name += (*p > 0 && *p < 0x80) ? static_cast<char>(*p) : '?';
        }
    } else {
        name = reinterpret_cast<const char*>(dllName);
    }
    static const BYTE storeWrapUid[16] = {0x38, 0xA1, 0xBB, 0x10, 0x05, 0xE5, 0x10, 0x1A,
                                          0xA1, 0xBB, 0x08, 0x00, 0x2B, 0x2A, 0x56, 0xC2};
    std::vector<BYTE> bytes(4, 0);
    bytes.insert(bytes.end(), storeWrapUid, storeWrapUid + 16);
    bytes.push_back(0);  // version
    bytes.push_back(0);  // flag
    bytes.insert(bytes.end(), name.begin(), name.end());
    bytes.push_back(0);
    while (bytes.size() % 4 != 0) {
        bytes.push_back(0);
    }
    const BYTE* origBytes = reinterpret_cast<const BYTE*>(orig);
    bytes.insert(bytes.end(), origBytes, origBytes + cbOrig);
    void* block = nullptr;
    hr = allocateBuffer(static_cast<ULONG>(bytes.size()), &block);
    if (FAILED(hr)) {
        return hr;
    }
    std::memcpy(block, bytes.data(), bytes.size());
    *cbWrapped = static_cast<ULONG>(bytes.size());
    *wrapped = static_cast<LPENTRYID>(block);
    record().call("WrapStoreEntryID " + name + " " + std::to_string(cbOrig));
    return S_OK;
}

// A program that links the system's MAPI32.dll imports these by ordinal.
#define STANDIN_ORDINAL(n, target) \
    extern "C" __attribute__((alias(#target), visibility("default"))) decltype(target) ordinal_##n;
STANDIN_ORDINAL(13, MAPIAllocateBuffer_8)
STANDIN_ORDINAL(15, MAPIAllocateMore_12)
STANDIN_ORDINAL(17, MAPIFreeBuffer_4)
STANDIN_ORDINAL(19, MAPIAdminProfiles_8)
STANDIN_ORDINAL(21, MAPIInitialize_4)
STANDIN_ORDINAL(23, MAPIUninitialize_0)
STANDIN_ORDINAL(73, WrapStoreEntryID_24)
STANDIN_ORDINAL(136, HrSetOneProp_8)

STANDIN_EXPORT long standinInitCount() {
    return initCount.load();
}

STANDIN_DEFINE_EXPORTS(resetModule)

// The exports have exactly the forms the tool calls them by.
static_assert(std::is_same_v<decltype(&MAPIInitialize_4), LPMAPIINITIALIZE>);
static_assert(std::is_same_v<decltype(&MAPIUninitialize_0), LPMAPIUNINITIALIZE>);
static_assert(std::is_same_v<decltype(&MAPIAdminProfiles_8), LPMAPIADMINPROFILES>);
static_assert(std::is_same_v<decltype(&MAPIAllocateBuffer_8), LPALLOCATEBUFFER>);
static_assert(std::is_same_v<decltype(&MAPIAllocateMore_12), LPALLOCATEMORE>);
static_assert(std::is_same_v<decltype(&MAPIFreeBuffer_4), LPFREEBUFFER>);
static_assert(std::is_same_v<decltype(&HrSetOneProp_8), LPHRSETONEPROP>);
static_assert(std::is_same_v<decltype(&WrapStoreEntryID_24), LPWRAPSTOREENTRYID>);
