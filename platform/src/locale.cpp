// One locale on this platform: English (United States).
#include "winplat/locale.h"

namespace {
constexpr LCID kEnglishUnitedStates = 1033;
}

extern "C" {

LCID WINAPI GetUserDefaultLCID() {
    return kEnglishUnitedStates;
}

LCID WINAPI GetSystemDefaultLCID() {
    return kEnglishUnitedStates;
}

LCID WINAPI GetThreadLocale() {
    return kEnglishUnitedStates;
}

}  // extern "C"
