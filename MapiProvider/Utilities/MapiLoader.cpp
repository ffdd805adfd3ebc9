#include "MapiProvider/Utilities/MapiLoader.h"

#include <atomic>
#include <cwchar>
#include <string>

#include "winplat/msi.h"

namespace MapiLoader {
namespace {

std::atomic<HMODULE> publishedModule{nullptr};
std::atomic<uint32_t> currentGeneration{1};

constexpr REGSAM KeyRead = KEY_READ;  // 0x20019
// Strings are read into buffers of 520 two-byte characters' worth: 260
// characters of whatever width WCHAR has here.
constexpr size_t StringChars = 260;
// The component category: at most 84 two-byte characters' worth.
constexpr size_t ComponentChars = 42;
// The REG_MULTI_SZ of an LCID location: 1060 two-byte characters' worth.
constexpr size_t MultiStringChars = 530;
constexpr size_t QualifierChars = 32;
constexpr size_t MsiPathChars = 520;

const wchar_t* const OutlookClientKey = L"Software\\Clients\\Mail\\Microsoft Outlook";

class Key {
  public:
    Key() = default;
    ~Key() { close(); }
    Key(const Key&) = delete;
    Key& operator=(const Key&) = delete;
    LSTATUS open(HKEY root, const wchar_t* path, REGSAM access) {
        close();
        return RegOpenKeyExW(root, path, 0, access, &key_);
    }
    void close() {
        if (key_) {
            RegCloseKey(key_);
            key_ = nullptr;
        }
    }
    HKEY get() const { return key_; }
    explicit operator bool() const { return key_ != nullptr; }

  private:
    HKEY key_ = nullptr;
};

// Reads a value into a character buffer and terminates it; the data of a
// string value need not carry its terminator.
LSTATUS queryText(HKEY key, const wchar_t* name, wchar_t* buffer, size_t chars, DWORD* type) {
    DWORD cb = static_cast<DWORD>(chars * sizeof(wchar_t));
    LSTATUS r = RegQueryValueExW(key, name, nullptr, type, reinterpret_cast<BYTE*>(buffer), &cb);
    if (r == ERROR_SUCCESS) {
        size_t n = cb / sizeof(wchar_t);
        buffer[n < chars ? n : chars - 1] = L'\0';
    }
    return r;
}

bool lcidAttempts(LCID out[4]) {
    out[0] = getOfficeLcid();
    out[1] = GetUserDefaultLCID();
    out[2] = GetSystemDefaultLCID();
    out[3] = 1033;
    return true;
}

// "%lu" in the format becomes the LCID in decimal.
std::wstring formatWithLcid(const wchar_t* format, LCID lcid) {
    std::wstring text(format);
    size_t at = text.find(L"%lu");
    if (at != std::wstring::npos) {
        text.replace(at, 3, std::to_wstring(lcid));
    }
    at = text.find(L"%d");
    if (at != std::wstring::npos) {
        text.replace(at, 2, std::to_wstring(lcid));
    }
    return text;
}

bool isSeparator(wchar_t c) {
    return c == L'\\';
}

}  // namespace

uint32_t generation() {
    return currentGeneration.load();
}

HRESULT copyPath(const wchar_t* text, wchar_t* buffer, size_t capacity, wchar_t** end, size_t* remaining) {
    size_t i = 0;
    if (capacity == 0) {
        return HRESULT_FROM_WIN32(ERROR_INSUFFICIENT_BUFFER);
    }
    for (; text && text[i] != L'\0'; ++i) {
        if (i + 1 >= capacity) {
            buffer[i] = L'\0';
            if (end) {
                *end = buffer + i;
            }
            if (remaining) {
                *remaining = 1;
            }
            return HRESULT_FROM_WIN32(ERROR_INSUFFICIENT_BUFFER);
        }
        buffer[i] = text[i];
    }
    buffer[i] = L'\0';
    if (end) {
        *end = buffer + i;
    }
    if (remaining) {
        *remaining = capacity - i;
    }
    return S_OK;
}

bool fileExists(const wchar_t* path) {
    if (!path) {
        return false;
    }
    DWORD attributes = GetFileAttributesW(path);
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

bool readDllPathEx(HKEY key, wchar_t* path) {
    wchar_t value[StringChars];
    DWORD type = REG_NONE;
    LSTATUS r = queryText(key, L"DllPathEx", value, StringChars, &type);
    if (r != ERROR_SUCCESS) {
        SetLastError(static_cast<DWORD>(r));
        return false;
    }
    if (type == REG_EXPAND_SZ) {
        DWORD n = ExpandEnvironmentStringsW(value, path, static_cast<DWORD>(PathChars));
        if (n == 0 || n > PathChars) {
            SetLastError(ERROR_INSUFFICIENT_BUFFER);
            return false;
        }
        return true;
    }
    if (type == REG_SZ) {
        copyPath(value, path, PathChars, nullptr, nullptr);
        return true;
    }
    return false;
}

HMODULE loadDefaultClientMapi() {
    Key mail;
    if (mail.open(HKEY_LOCAL_MACHINE, L"Software\\Clients\\Mail", KeyRead) != ERROR_SUCCESS) {
        return nullptr;
    }
    wchar_t client[StringChars];
    DWORD type = REG_NONE;
    if (queryText(mail.get(), nullptr, client, StringChars, &type) != ERROR_SUCCESS || type != REG_SZ) {
        return nullptr;
    }
    if (std::wcscmp(client, L"Microsoft Outlook") == 0) {
        return nullptr;
    }
    Key clientKey;
    if (clientKey.open(mail.get(), client, KeyRead) != ERROR_SUCCESS) {
        return nullptr;
    }
    wchar_t path[PathChars];
    if (!readDllPathEx(clientKey.get(), path)) {
        return nullptr;
    }
    return LoadLibraryW(path);
}

HMODULE loadFromComponent(const wchar_t* component, const wchar_t* qualifier) {
    HMODULE msi = LoadLibraryW(L"msi.dll");
    if (!msi) {
        return nullptr;
    }
    auto provide = reinterpret_cast<PFN_MSIPROVIDEQUALIFIEDCOMPONENTW>(reinterpret_cast<void (*)()>(
        GetProcAddress(msi, MAKEINTRESOURCEA(MSI_ORDINAL_PROVIDE_QUALIFIED_COMPONENT))));
    if (!provide) {
        DWORD error = GetLastError();
        FreeLibrary(msi);
        SetLastError(error);
        return nullptr;
    }
    wchar_t found[MsiPathChars];
    DWORD length = static_cast<DWORD>(MsiPathChars);
    UINT r = provide(component, qualifier, static_cast<DWORD>(INSTALLMODE_EXISTING), found, &length);
    FreeLibrary(msi);
    if (r != ERROR_SUCCESS) {
        SetLastError(r);
        return nullptr;
    }
    DWORD attributes = GetFileAttributesW(found);
    if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
        SetLastError(ERROR_FILE_NOT_FOUND);
        return nullptr;
    }
    wchar_t full[PathChars];
    wchar_t* filePart = nullptr;
    DWORD n = GetFullPathNameW(found, static_cast<DWORD>(PathChars), full, &filePart);
    if (n == 0 || n >= PathChars) {
        SetLastError(ERROR_FILENAME_EXCED_RANGE);
        return nullptr;
    }
    // A module of the same name already in the process is used by its own path.
    if (filePart) {
        HMODULE loaded = GetModuleHandleW(filePart);
        if (loaded) {
            wchar_t own[PathChars];
            DWORD m = GetModuleFileNameW(loaded, own, static_cast<DWORD>(PathChars));
            if (m > 0 && m < PathChars) {
                copyPath(own, full, PathChars, nullptr, nullptr);
            }
        }
    }
    return LoadLibraryExW(full, nullptr, 0);
}

HMODULE loadByLcid(const wchar_t* component, const wchar_t* qualifierFormat) {
    LCID lcids[4];
    lcidAttempts(lcids);
    for (LCID lcid : lcids) {
        if (lcid == 0) {
            continue;
        }
        std::wstring qualifier = formatWithLcid(qualifierFormat, lcid);
        if (qualifier.size() + 1 > QualifierChars) {
            continue;
        }
        if (HMODULE h = loadFromComponent(component, qualifier.c_str())) {
            return h;
        }
    }
    return nullptr;
}

HMODULE loadFromCommonFiles(const wchar_t* relativePath) {
    Key key;
    LSTATUS r =
        key.open(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion", KEY_QUERY_VALUE);
    if (r != ERROR_SUCCESS) {
        SetLastError(static_cast<DWORD>(r));
        return nullptr;
    }
    wchar_t value[StringChars];
    DWORD type = REG_NONE;
    r = queryText(key.get(), L"CommonFilesDir", value, StringChars, &type);
    if (r != ERROR_SUCCESS) {
        SetLastError(static_cast<DWORD>(r));
        return nullptr;
    }
    wchar_t folder[PathChars];
    if (type == REG_EXPAND_SZ) {
        DWORD n = ExpandEnvironmentStringsW(value, folder, static_cast<DWORD>(PathChars));
        if (n == 0 || n > PathChars) {
            SetLastError(ERROR_INSUFFICIENT_BUFFER);
            return nullptr;
        }
    } else if (type == REG_SZ) {
        copyPath(value, folder, PathChars, nullptr, nullptr);
    } else {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    DWORD attributes = GetFileAttributesW(folder);
    if (attributes == INVALID_FILE_ATTRIBUTES) {
        return nullptr;
    }
    std::wstring base;
    const wchar_t* relative = relativePath ? relativePath : L"";
    if (attributes & FILE_ATTRIBUTE_DIRECTORY) {
        base = folder;
        bool baseEnds = !base.empty() && isSeparator(base.back());
        bool relativeStarts = isSeparator(relative[0]);
        if (baseEnds && relativeStarts) {
            ++relative;
        } else if (!baseEnds && !relativeStarts) {
            base += L'\\';
        }
    } else {
        wchar_t full[PathChars];
        DWORD n = GetFullPathNameW(folder, static_cast<DWORD>(PathChars), full, nullptr);
        if (n == 0 || n >= PathChars) {
            SetLastError(ERROR_INSUFFICIENT_BUFFER);
            return nullptr;
        }
        PathRemoveFileSpecW(full);
        base = full;
        if (isSeparator(relative[0])) {
            ++relative;
        }
        if (base.empty() || !isSeparator(base.back())) {
            base += L'\\';
        }
    }
    std::wstring joined = base + relative;
    if (joined.size() + 1 > PathChars) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return nullptr;
    }
    return LoadLibraryW(joined.c_str());
}

HMODULE loadMsiPublishedMapi() {
    LCID lcids[4];
    lcidAttempts(lcids);
    for (LCID lcid : lcids) {
        if (lcid == 0) {
            continue;
        }
        std::wstring relative = formatWithLcid(L"System\\MSMAPI\\%d\\", lcid) + L"MSMAPI32.DLL";
        if (relative.size() + 1 > PathChars) {
            continue;
        }
        if (HMODULE h = loadFromCommonFiles(relative.c_str())) {
            return h;
        }
    }
    Key client;
    if (client.open(HKEY_CURRENT_USER, OutlookClientKey, KeyRead) != ERROR_SUCCESS &&
        client.open(HKEY_LOCAL_MACHINE, OutlookClientKey, KeyRead) != ERROR_SUCCESS) {
        return nullptr;
    }
    HMODULE h = nullptr;
    wchar_t component[ComponentChars];
    DWORD type = REG_NONE;
    if (queryText(client.get(), L"MSIComponentID", component, ComponentChars, &type) == ERROR_SUCCESS &&
        type == REG_SZ) {
        h = loadByLcid(component, L"%lu\\NT");
        if (!h) {
            h = loadByLcid(component, L"%lu");
        }
    }
    return h;
}

HMODULE loadSystemMapi() {
    wchar_t system[PathChars];
    UINT n = GetSystemDirectoryW(system, static_cast<UINT>(PathChars));
    if (n == 0 || n >= PathChars) {
        return nullptr;
    }
    std::wstring path = std::wstring(system) + L"\\" + L"mapi32.dll";
    if (path.size() + 1 > PathChars) {
        return nullptr;
    }
    return LoadLibraryW(path.c_str());
}

LCID getOfficeLcid() {
    Key policyRoot;
    Key userRoot;
    bool havePolicy = policyRoot.open(HKEY_CURRENT_USER, L"Software\\Policy", KeyRead) == ERROR_SUCCESS;
    bool haveUser = userRoot.open(HKEY_CURRENT_USER, L"Software", KeyRead) == ERROR_SUCCESS;
    if (!havePolicy && !haveUser) {
        return 0;
    }
    auto readDword = [](const Key& key, const wchar_t* name, LCID* out) {
        if (!key) {
            return false;
        }
        DWORD value = 0;
        DWORD type = REG_NONE;
        DWORD cb = sizeof(value);
        if (RegQueryValueExW(key.get(), name, nullptr, &type, reinterpret_cast<BYTE*>(&value), &cb) ==
                ERROR_SUCCESS &&
            type == REG_DWORD && cb == sizeof(value)) {
            *out = value;
            return true;
        }
        return false;
    };
    // policyFirst: the HKCU pass reads the policy subkey first, the HKLM pass the user one.
    auto pass = [&](HKEY root, bool policyFirst, LCID* out) {
        Key client;
        if (client.open(root, OutlookClientKey, KeyRead) != ERROR_SUCCESS) {
            return false;
        }
        for (const wchar_t* name : {L"MSIApplicationLCID", L"MSIOfficeLCID"}) {
            wchar_t multi[MultiStringChars];
            DWORD type = REG_NONE;
            if (queryText(client.get(), name, multi, MultiStringChars, &type) != ERROR_SUCCESS ||
                type != REG_MULTI_SZ) {
                continue;
            }
            const wchar_t* subKey = multi;
            size_t subLength = std::wcslen(subKey);
            if (subLength + 1 >= MultiStringChars) {
                continue;
            }
            const wchar_t* valueName = subKey + subLength + 1;
            Key policySub;
            Key userSub;
            if (havePolicy) {
                policySub.open(policyRoot.get(), subKey, KeyRead);
            }
            if (haveUser) {
                userSub.open(userRoot.get(), subKey, KeyRead);
            }
            const Key& first = policyFirst ? policySub : userSub;
            const Key& second = policyFirst ? userSub : policySub;
            if (readDword(first, valueName, out) || readDword(second, valueName, out)) {
                return true;
            }
        }
        return false;
    };
    LCID lcid = 0;
    if (pass(HKEY_CURRENT_USER, true, &lcid) || pass(HKEY_LOCAL_MACHINE, false, &lcid)) {
        return lcid;
    }
    return 0;
}

HMODULE loadMapiModule() {
    if (HMODULE h = loadDefaultClientMapi()) {
        return h;
    }
    Key appPaths;
    if (appPaths.open(HKEY_LOCAL_MACHINE,
                      L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\App Paths\\OUTLOOK.EXE",
                      KeyRead) == ERROR_SUCCESS) {
        wchar_t program[StringChars];
        DWORD type = REG_NONE;
        LSTATUS r = queryText(appPaths.get(), nullptr, program, StringChars, &type);
        appPaths.close();
        // A default value that cannot be read is treated like a missing key:
        // the search goes on with the system's runtime.
        if (r == ERROR_SUCCESS) {
            if (type != REG_SZ) {
                return nullptr;
            }
            CharLowerBuffW(program, static_cast<DWORD>(std::wcslen(program)));
            if (wchar_t* cut = std::wcsstr(program, L"outlook.exe")) {
                *cut = L'\0';
            }
            wchar_t path[PathChars];
            wchar_t* end = nullptr;
            size_t remaining = 0;
            if (SUCCEEDED(copyPath(program, path, PathChars, &end, &remaining))) {
                SetErrorMode(0);
                if (!SetDllDirectoryW(path)) {
                    return nullptr;
                }
                HMODULE h = nullptr;
                if (SUCCEEDED(copyPath(L"olmapi32.dll", end, remaining, nullptr, nullptr)) &&
                    fileExists(path)) {
                    h = LoadLibraryW(path);
                } else {
                    h = loadMsiPublishedMapi();
                }
                SetDllDirectoryW(nullptr);
                if (h) {
                    return h;
                }
            }
        }
    }
    return loadSystemMapi();
}

void publishModule(HMODULE h) {
    HMODULE expected = nullptr;
    bool won = publishedModule.compare_exchange_strong(expected, h);
    currentGeneration.fetch_add(1);
    if (!won) {
        FreeLibrary(h);
    }
}

HMODULE getMapiModule() {
    if (HMODULE m = publishedModule.load()) {
        return m;
    }
    HMODULE h = nullptr;
    if (!GetModuleHandleExW(0, L"olmapi32.dll", &h) && !GetModuleHandleExW(0, L"msmapi32.dll", &h)) {
        h = loadMapiModule();
        if (!h) {
            return publishedModule.load();
        }
    }
    publishModule(h);
    return publishedModule.load();
}

void resetForTests() {
    HMODULE m = publishedModule.exchange(nullptr);
    currentGeneration.fetch_add(1);
    if (m) {
        FreeLibrary(m);
    }
}

}  // namespace MapiLoader
