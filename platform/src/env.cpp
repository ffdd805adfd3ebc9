// Process environment with Windows' case-insensitive names.
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>
#include <vector>

#include "files_internal.h"
#include "kinternal.h"
#include "winplat/files.h"
#include "winplat/inject.h"
#include "winplat/kernel.h"
#include "winplat/utf16.h"

extern char** environ;

namespace winplat::detail {

namespace {

winplat::kernel::PlatformLock& envMutex() {
    static auto* m = new winplat::kernel::PlatformLock;
    return *m;
}

bool asciiEqualNoCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) {
        return false;
    }
    for (size_t i = 0; i < a.size(); ++i) {
        char x = a[i], y = b[i];
        if (x >= 'A' && x <= 'Z')
            x = static_cast<char>(x + 32);
        if (y >= 'A' && y <= 'Z')
            y = static_cast<char>(y + 32);
        if (x != y) {
            return false;
        }
    }
    return true;
}

// Names of the variables that match `name` without regard to case, the
// exact one first. Caller holds the lock.
std::vector<std::string> matchingNames(std::string_view name) {
    std::vector<std::string> out;
    bool exact = false;
    for (char** e = environ; e && *e; ++e) {
        const char* eq = std::strchr(*e, '=');
        if (!eq || eq == *e) {
            continue;
        }
        std::string_view n(*e, static_cast<size_t>(eq - *e));
        if (n == name) {
            exact = true;
        } else if (asciiEqualNoCase(n, name)) {
            out.emplace_back(n);
        }
    }
    if (exact) {
        out.insert(out.begin(), std::string(name));
    }
    return out;
}

}  // namespace

bool envGet(std::string_view name, std::string* value) {
    winplat::kernel::PlatformGuard lock(envMutex());
    std::vector<std::string> names = matchingNames(name);
    if (names.empty()) {
        return false;
    }
    const char* v = std::getenv(names.front().c_str());
    if (!v) {
        return false;
    }
    *value = v;
    return true;
}

void envSet(std::string_view name, const std::string* value) {
    winplat::kernel::PlatformGuard lock(envMutex());
    std::string n(name);
    for (const auto& other : matchingNames(name)) {
        if (!value || other != n) {
            unsetenv(other.c_str());
        }
    }
    if (value) {
        setenv(n.c_str(), value->c_str(), 1);
    }
}

}  // namespace winplat::detail

using namespace winplat::detail;

extern "C" {

DWORD WINAPI ExpandEnvironmentStringsW(LPCWSTR lpSrc, LPWSTR lpDst, DWORD nSize) {
    int64_t code = 0;
    if (winplat::inject::take("ExpandEnvironmentStringsW", &code)) {
        SetLastError(static_cast<DWORD>(code));
        return 0;
    }
    if (lpSrc == nullptr || (lpDst == nullptr && nSize != 0)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    std::wstring src(lpSrc);
    std::wstring out;
    size_t i = 0;
    while (i < src.size()) {
        if (src[i] != L'%') {
            out.push_back(src[i++]);
            continue;
        }
        size_t close = src.find(L'%', i + 1);
        if (close == std::wstring::npos) {
            out.append(src, i, std::wstring::npos);
            break;
        }
        std::wstring name = src.substr(i + 1, close - i - 1);
        std::string value;
        if (!name.empty() && envGet(winplat::utf16ToUtf8(name), &value)) {
            out += winplat::utf8ToUtf16(value);
        } else {
            out.append(src, i, close - i + 1);
        }
        i = close + 1;
    }
    DWORD needed = static_cast<DWORD>(out.size() + 1);
    if (lpDst != nullptr && nSize >= needed) {
        std::memcpy(lpDst, out.c_str(), needed * sizeof(WCHAR));
    }
    return needed;
}

DWORD WINAPI GetEnvironmentVariableW(LPCWSTR lpName, LPWSTR lpBuffer, DWORD nSize) {
    if (lpName == nullptr || *lpName == 0) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    std::string value;
    if (!envGet(winplat::utf16ToUtf8(lpName), &value)) {
        SetLastError(ERROR_ENVVAR_NOT_FOUND);
        return 0;
    }
    std::wstring w = winplat::utf8ToUtf16(value);
    if (w.empty()) {
        SetLastError(ERROR_SUCCESS);
    }
    return copyOut(w, lpBuffer, nSize);
}

BOOL WINAPI SetEnvironmentVariableW(LPCWSTR lpName, LPCWSTR lpValue) {
    if (lpName == nullptr || *lpName == 0 || std::wcschr(lpName, L'=') != nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    std::string name = winplat::utf16ToUtf8(lpName);
    if (lpValue == nullptr) {
        envSet(name, nullptr);
    } else {
        std::string value = winplat::utf16ToUtf8(lpValue);
        envSet(name, &value);
    }
    return TRUE;
}

}  // extern "C"
