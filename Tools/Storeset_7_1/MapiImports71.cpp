#include "Tools/Storeset_7_1/MapiImports71.h"

#include <atomic>
#include <mutex>

#include "MapiProvider/Utilities/MapiStubs.h"
#include "winplat/kernel.h"
#include "winplat/modules.h"

namespace mapiImports {
namespace {

// The imports by ordinal, in the order of the table below.
enum Import {
    Allocate,
    AllocateMore,
    Free,
    AdminProfiles,
    Initialize,
    Uninitialize,
    Wrap,
    SetOneProp,
    Count
};
constexpr WORD Ordinals[Count] = {13, 15, 17, 19, 21, 23, 73, 136};

struct Table {
    std::mutex mutex;  // guards binding and unbinding; calls read the atomics only
    HMODULE module = nullptr;
    std::atomic<FARPROC> functions[Count] = {};
};

Table& table() {
    static Table t;
    return t;
}

template <class Fn>
Fn bound(Import which) {
    FARPROC p = table().functions[which].load(std::memory_order_acquire);
    return reinterpret_cast<Fn>(reinterpret_cast<void (*)()>(p));
}

void clear(Table& t) {
    for (auto& f : t.functions) {
        f.store(nullptr, std::memory_order_release);
    }
    if (t.module) {
        FreeLibrary(t.module);
        t.module = nullptr;
    }
}

}  // namespace

bool bind(uint32_t* status, std::string* message) {
    Table& t = table();
    std::lock_guard<std::mutex> lock(t.mutex);
    if (t.module) {
        return true;
    }
    HMODULE module = LoadLibraryW(L"MAPI32.dll");
    if (!module) {
        const DWORD error = GetLastError();
        if (winplat::modules::lastLoadFoundNoFile()) {
            *status = StatusDllNotFound;
            *message = "The program can't start because MAPI32.dll is missing.\n";
        } else {
            // The file is there: calling it missing would send the user
            // looking for it. The platform's reason says what is wrong.
            *status = error == ERROR_BAD_EXE_FORMAT   ? StatusInvalidImageFormat
                      : error == ERROR_PROC_NOT_FOUND ? StatusEntryPointNotFound
                                                      : StatusDllNotFound;
            *message = "The program can't start because MAPI32.dll could not be loaded: " +
                       winplat::modules::lastLoadError() + "\n";
        }
        return false;
    }
    t.module = module;
    for (int i = 0; i < Count; ++i) {
        FARPROC p = GetProcAddress(module, MAKEINTRESOURCEA(Ordinals[i]));
        if (!p) {
            clear(t);
            *status = StatusOrdinalNotFound;
            *message = "The ordinal " + std::to_string(Ordinals[i]) +
                       " could not be located in the dynamic link library MAPI32.dll.\n";
            return false;
        }
        t.functions[i].store(p, std::memory_order_release);
    }
    return true;
}

void unbind() {
    Table& t = table();
    std::lock_guard<std::mutex> lock(t.mutex);
    clear(t);
}

}  // namespace mapiImports

using mapiImports::bound;

HRESULT MAPIInitialize(LPVOID lpMapiInit) {
    auto fn = bound<LPMAPIINITIALIZE>(mapiImports::Initialize);
    return fn ? fn(lpMapiInit) : E_FAIL;
}

void MAPIUninitialize() {
    if (auto fn = bound<LPMAPIUNINITIALIZE>(mapiImports::Uninitialize)) {
        fn();
    }
}

HRESULT MAPIAdminProfiles(ULONG ulFlags, LPPROFADMIN* lppProfAdmin) {
    auto fn = bound<LPMAPIADMINPROFILES>(mapiImports::AdminProfiles);
    return fn ? fn(ulFlags, lppProfAdmin) : E_FAIL;
}

SCODE MAPIAllocateBuffer(ULONG cbSize, LPVOID* lppBuffer) {
    auto fn = bound<LPALLOCATEBUFFER>(mapiImports::Allocate);
    return fn ? fn(cbSize, lppBuffer) : E_FAIL;
}

SCODE MAPIAllocateMore(ULONG cbSize, LPVOID lpObject, LPVOID* lppBuffer) {
    auto fn = bound<LPALLOCATEMORE>(mapiImports::AllocateMore);
    return fn ? fn(cbSize, lpObject, lppBuffer) : E_FAIL;
}

ULONG MAPIFreeBuffer(LPVOID lpBuffer) {
    auto fn = bound<LPFREEBUFFER>(mapiImports::Free);
    return fn ? fn(lpBuffer) : 0;
}

HRESULT HrSetOneProp(LPMAPIPROP lpMapiProp, LPSPropValue lpProp) {
    auto fn = bound<LPHRSETONEPROP>(mapiImports::SetOneProp);
    return fn ? fn(lpMapiProp, lpProp) : E_FAIL;
}

HRESULT WrapStoreEntryID(ULONG ulFlags, LPTSTR lpszDLLName, ULONG cbOrigEntry, LPENTRYID lpOrigEntry,
                         ULONG* lpcbWrappedEntry, LPENTRYID* lppWrappedEntry) {
    auto fn = bound<LPWRAPSTOREENTRYID>(mapiImports::Wrap);
    return fn ? fn(ulFlags, lpszDLLName, cbOrigEntry, lpOrigEntry, lpcbWrappedEntry, lppWrappedEntry)
              : E_FAIL;
}
