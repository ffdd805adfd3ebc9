// Locale identifiers. This platform has one locale: English (United
// States), 1033.
#pragma once

#include "winplat/types.h"

extern "C" {

WINPLAT_API LCID WINAPI GetUserDefaultLCID();
WINPLAT_API LCID WINAPI GetSystemDefaultLCID();
WINPLAT_API LCID WINAPI GetThreadLocale();

}  // extern "C"
