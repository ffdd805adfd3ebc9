// Test module for the module table: known exports, an ordinal, a decorated
// name and a hidden function; it links winplat, so winplat's exports are in
// its dependency scope.
#include "winplat/kernel.h"

#define TESTMOD_EXPORT extern "C" __attribute__((visibility("default")))

TESTMOD_EXPORT int whoAmI() {
    return 1;
}
TESTMOD_EXPORT int Decorated_4(int x) {
    return x + 4;
}
TESTMOD_EXPORT int ordinal_7() {
    return 7;
}
TESTMOD_EXPORT DWORD lastErrorThroughPlatform() {
    return GetLastError();
}
extern "C" int hiddenHelper() {
    return 42;
}
