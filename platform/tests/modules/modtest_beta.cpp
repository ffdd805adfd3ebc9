// Test module whose constructor calls back into the module table while the
// module is being loaded, and which exports the same name as modtest_alpha.
#include "winplat/modules.h"

#define TESTMOD_EXPORT extern "C" __attribute__((visibility("default")))

TESTMOD_EXPORT int whoAmI() {
    return 2;
}

namespace {

HMODULE gSeenByConstructor = nullptr;

struct Probe {
    Probe() {
        GetModuleHandleExW(
            GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
            reinterpret_cast<LPCWSTR>(&gSeenByConstructor), &gSeenByConstructor);
    }
};
Probe gProbe;

}  // namespace

// The module handle the constructor found for this module (null if none).
TESTMOD_EXPORT HMODULE moduleSeenByConstructor() {
    return gSeenByConstructor;
}
