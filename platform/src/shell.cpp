// Shell path helpers.
#include <cwchar>

#include "winplat/shell.h"

namespace {

bool isSep(wchar_t c) {
    return c == L'\\' || c == L'/';
}

// Length of the root that must stay: "X:\", "X:", "\" or "/".
size_t rootLength(const wchar_t* p, size_t n) {
    if (n >= 2 && p[1] == L':') {
        return n >= 3 && isSep(p[2]) ? 3 : 2;
    }
    return n >= 1 && isSep(p[0]) ? 1 : 0;
}

}  // namespace

extern "C" {

BOOL WINAPI PathRemoveFileSpecW(LPWSTR pszPath) {
    if (pszPath == nullptr) {
        return FALSE;
    }
    size_t n = std::wcslen(pszPath);
    size_t root = rootLength(pszPath, n);
    if (n <= root) {
        return FALSE;
    }
    size_t cut = n;
    while (cut > root && !isSep(pszPath[cut - 1])) {
        --cut;
    }
    // cut is just past the last separator beyond the root, or the root.
    size_t end = cut > root ? cut - 1 : root;
    pszPath[end] = 0;
    return end < n;
}

}  // extern "C"
