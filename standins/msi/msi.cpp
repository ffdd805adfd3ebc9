// Stand-in msi.dll: the qualified-component call, exported by ordinal, with
// the published components read from the registry (see winplat/msi.h).
//
// Besides the call it exports, for tests:
//   standinMsiRequests(buffer, size): every request since the last reset,
//     one line each, "<category>|<qualifier>|<install mode as signed>\n";
//     returns the length, or the size needed (with the terminator) when the
//     buffer is too small.
//   standinMsiReset(): forgets the requests.
// Failures are injected under the name "MsiProvideQualifiedComponentW"; the
// armed code is the call's result.
#include <cstring>
#include <mutex>
#include <string>
#include <vector>

#include "winplat/files.h"
#include "winplat/inject.h"
#include "winplat/msi.h"
#include "winplat/registry.h"

#define STANDIN_EXPORT extern "C" __attribute__((visibility("default")))

namespace {

struct Log {
    std::mutex mutex;
    std::wstring text;
};

// An object rather than a leaked pointer: the module can be unloaded, and
// its destructor runs then.
Log& log() {
    static Log l;
    return l;
}

void record(LPCWSTR category, LPCWSTR qualifier, DWORD mode) {
    Log& l = log();
    std::lock_guard<std::mutex> lock(l.mutex);
    l.text += category ? category : L"(null)";
    l.text += L'|';
    l.text += qualifier ? qualifier : L"(null)";
    l.text += L'|';
    l.text += std::to_wstring(static_cast<int32_t>(mode));
    l.text += L'\n';
}

// Reads a string value; false with the registry's error otherwise.
LSTATUS readString(HKEY key, LPCWSTR name, DWORD* type, std::wstring* out) {
    DWORD bytes = 0;
    LSTATUS r = RegQueryValueExW(key, name, nullptr, type, nullptr, &bytes);
    if (r != ERROR_SUCCESS) {
        return r;
    }
    if (*type != REG_SZ && *type != REG_EXPAND_SZ) {
        return ERROR_SUCCESS;
    }
    std::vector<WCHAR> buf(bytes / sizeof(WCHAR) + 1, 0);
    bytes = static_cast<DWORD>(buf.size() * sizeof(WCHAR));
    r = RegQueryValueExW(key, name, nullptr, type, reinterpret_cast<LPBYTE>(buf.data()), &bytes);
    if (r != ERROR_SUCCESS) {
        return r;
    }
    buf.back() = 0;
    out->assign(buf.data());
    return ERROR_SUCCESS;
}

UINT provide(LPCWSTR category, LPCWSTR qualifier, DWORD mode, LPWSTR pathBuffer, LPDWORD pathLength) {
    if (category == nullptr || qualifier == nullptr || (pathBuffer != nullptr && pathLength == nullptr) ||
        static_cast<int32_t>(mode) < INSTALLMODE_NOSOURCERESOLUTION) {
        return ERROR_INVALID_PARAMETER;
    }
    if (*category == 0 || std::wcschr(category, L'\\') != nullptr) {
        return ERROR_UNKNOWN_COMPONENT;
    }
    std::wstring keyPath = std::wstring(WINPLAT_MSI_COMPONENTS_KEY) + L"\\" + category;
    HKEY key = nullptr;
    LSTATUS r = RegOpenKeyExW(HKEY_LOCAL_MACHINE, keyPath.c_str(), 0, KEY_READ, &key);
    if (r == ERROR_FILE_NOT_FOUND) {
        return ERROR_UNKNOWN_COMPONENT;
    }
    if (r != ERROR_SUCCESS) {
        return ERROR_BAD_CONFIGURATION;
    }
    DWORD type = REG_NONE;
    std::wstring path;
    r = readString(key, qualifier, &type, &path);
    RegCloseKey(key);
    if (r == ERROR_FILE_NOT_FOUND) {
        return ERROR_INDEX_ABSENT;
    }
    if (r != ERROR_SUCCESS || (type != REG_SZ && type != REG_EXPAND_SZ) || path.empty()) {
        return ERROR_BAD_CONFIGURATION;
    }
    if (type == REG_EXPAND_SZ) {
        DWORD needed = ExpandEnvironmentStringsW(path.c_str(), nullptr, 0);
        std::vector<WCHAR> expanded(needed ? needed : 1, 0);
        if (needed == 0 || ExpandEnvironmentStringsW(path.c_str(), expanded.data(), needed) > needed) {
            return ERROR_BAD_CONFIGURATION;
        }
        path.assign(expanded.data());
    }
    // Modes that trust the registration do not look at the file.
    int32_t m = static_cast<int32_t>(mode);
    if (m != INSTALLMODE_NODETECTION && m != INSTALLMODE_NOSOURCERESOLUTION) {
        DWORD attributes = GetFileAttributesW(path.c_str());
        if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY)) {
            return ERROR_FILE_NOT_FOUND;
        }
    }
    DWORD length = static_cast<DWORD>(path.size());
    if (pathBuffer == nullptr) {
        if (pathLength) {
            *pathLength = length;
        }
        return ERROR_SUCCESS;
    }
    if (*pathLength <= length) {
        *pathLength = length;
        return ERROR_MORE_DATA;
    }
    std::memcpy(pathBuffer, path.c_str(), (path.size() + 1) * sizeof(WCHAR));
    *pathLength = length;
    return ERROR_SUCCESS;
}

}  // namespace

STANDIN_EXPORT UINT ordinal_109(LPCWSTR szCategory, LPCWSTR szQualifier, DWORD dwInstallMode,
                                LPWSTR lpPathBuf, LPDWORD pcchPathBuf) {
    record(szCategory, szQualifier, dwInstallMode);
    int64_t code = 0;
    if (winplat::inject::take("MsiProvideQualifiedComponentW", &code)) {
        return static_cast<UINT>(code);
    }
    return provide(szCategory, szQualifier, dwInstallMode, lpPathBuf, pcchPathBuf);
}

STANDIN_EXPORT DWORD standinMsiRequests(LPWSTR buffer, DWORD size) {
    Log& l = log();
    std::lock_guard<std::mutex> lock(l.mutex);
    if (buffer != nullptr && l.text.size() < size) {
        std::memcpy(buffer, l.text.c_str(), (l.text.size() + 1) * sizeof(WCHAR));
        return static_cast<DWORD>(l.text.size());
    }
    return static_cast<DWORD>(l.text.size() + 1);
}

STANDIN_EXPORT void standinMsiReset() {
    Log& l = log();
    std::lock_guard<std::mutex> lock(l.mutex);
    l.text.clear();
}
