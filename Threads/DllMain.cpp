// The library's entry point. The loader of this platform does not call it,
// so the load hook below does.
#include "winplat/windows.h"

BOOL WINAPI DllMain(HMODULE module, DWORD reason, LPVOID /*reserved*/) {
    if (reason == DLL_PROCESS_ATTACH) {
        DisableThreadLibraryCalls(module);
    }
    return TRUE;
}

namespace {

__attribute__((constructor)) void libraryLoaded() {
    DllMain(nullptr, DLL_PROCESS_ATTACH, nullptr);
}

}  // namespace
