#include "MapiProvider/Utilities/MapiStubs.h"

#include <atomic>

#include "MapiProvider/Utilities/MapiLoader.h"

namespace {

// One resolved export: the pointer and the generation it was resolved at.
// Two threads may resolve at once; they store the same values.
struct StubSlot {
    std::atomic<FARPROC> pointer{nullptr};
    std::atomic<uint32_t> stamp{0};
};

template <class Fn>
Fn resolve(StubSlot& slot, const char* exportName) {
    HMODULE module = MapiLoader::getMapiModule();
    if (slot.stamp.load(std::memory_order_relaxed) != MapiLoader::generation() || module == nullptr) {
        FARPROC p = module ? GetProcAddress(module, exportName) : nullptr;
        slot.pointer.store(p, std::memory_order_relaxed);
        slot.stamp.store(MapiLoader::generation(), std::memory_order_relaxed);
    }
    FARPROC p = slot.pointer.load(std::memory_order_relaxed);
    // Through a plain function type: the export's real type is Fn.
    return (p && module) ? reinterpret_cast<Fn>(reinterpret_cast<void (*)()>(p)) : nullptr;
}

StubSlot initializeSlot;
StubSlot uninitializeSlot;
StubSlot adminProfilesSlot;
StubSlot allocateBufferSlot;
StubSlot allocateMoreSlot;
StubSlot freeBufferSlot;
StubSlot setOnePropSlot;
StubSlot wrapStoreEntryIdSlot;

}  // namespace

HRESULT MAPIInitialize(LPVOID lpMapiInit) {
    auto fn = resolve<LPMAPIINITIALIZE>(initializeSlot, MAPIINITIALIZE_EXPORT);
    return fn ? fn(lpMapiInit) : E_FAIL;
}

void MAPIUninitialize() {
    if (auto fn = resolve<LPMAPIUNINITIALIZE>(uninitializeSlot, MAPIUNINITIALIZE_EXPORT)) {
        fn();
    }
}

HRESULT MAPIAdminProfiles(ULONG ulFlags, LPPROFADMIN* lppProfAdmin) {
    auto fn = resolve<LPMAPIADMINPROFILES>(adminProfilesSlot, MAPIADMINPROFILES_EXPORT);
    return fn ? fn(ulFlags, lppProfAdmin) : E_FAIL;
}

SCODE MAPIAllocateBuffer(ULONG cbSize, LPVOID* lppBuffer) {
    auto fn = resolve<LPALLOCATEBUFFER>(allocateBufferSlot, MAPIALLOCATEBUFFER_EXPORT);
    return fn ? fn(cbSize, lppBuffer) : E_FAIL;
}

SCODE MAPIAllocateMore(ULONG cbSize, LPVOID lpObject, LPVOID* lppBuffer) {
    auto fn = resolve<LPALLOCATEMORE>(allocateMoreSlot, MAPIALLOCATEMORE_EXPORT);
    return fn ? fn(cbSize, lpObject, lppBuffer) : E_FAIL;
}

ULONG MAPIFreeBuffer(LPVOID lpBuffer) {
    auto fn = resolve<LPFREEBUFFER>(freeBufferSlot, MAPIFREEBUFFER_EXPORT);
    return fn ? fn(lpBuffer) : 0;
}

HRESULT HrSetOneProp(LPMAPIPROP lpMapiProp, LPSPropValue lpProp) {
    auto fn = resolve<LPHRSETONEPROP>(setOnePropSlot, HRSETONEPROP_EXPORT);
    return fn ? fn(lpMapiProp, lpProp) : E_FAIL;
}

HRESULT WrapStoreEntryID(ULONG ulFlags, LPTSTR lpszDLLName, ULONG cbOrigEntry, LPENTRYID lpOrigEntry,
                         ULONG* lpcbWrappedEntry, LPENTRYID* lppWrappedEntry) {
    auto fn = resolve<LPWRAPSTOREENTRYID>(wrapStoreEntryIdSlot, WRAPSTOREENTRYID_EXPORT);
    return fn ? fn(ulFlags, lpszDLLName, cbOrigEntry, lpOrigEntry, lpcbWrappedEntry, lppWrappedEntry)
              : E_FAIL;
}
