// Shell path helpers.
#pragma once

#include "winplat/types.h"

extern "C" {

// Removes the last component and its separator in place: "C:\a\b.dll" ->
// "C:\a", "C:\a" -> "C:\", "C:\a\" -> "C:\a", "a" -> "". A root ("C:\",
// "\", "/", "C:") stays. TRUE when something was removed. "/" separates as
// well as "\", since the platform may report POSIX-form paths.
WINPLAT_API BOOL WINAPI PathRemoveFileSpecW(LPWSTR pszPath);

}  // extern "C"
