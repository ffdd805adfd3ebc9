// The library's entry point. The loader of this platform does not call it,
// so the load hook below does, with the library's own module handle.
#include "winplat/windows.h"

BOOL WINAPI DllMain(HMODULE module, DWORD reason, LPVOID /*reserved*/) {
    if (reason == DLL_PROCESS_ATTACH) {
        DisableThreadLibraryCalls(module);
    }
    return TRUE;
}

namespace {

__attribute__((constructor)) void libraryLoaded() {
    HMODULE self = nullptr;
    GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                       reinterpret_cast<LPCWSTR>(&DllMain), &self);
    DllMain(self, DLL_PROCESS_ATTACH, nullptr);
}

}  // namespace
