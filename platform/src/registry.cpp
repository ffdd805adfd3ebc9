// The Win32 registry calls over the tree of registry_format.cpp, kept in the
// file named by WINPLAT_REGISTRY.
//
// Handles name their key by path, so they survive the tree being re-read
// when another process changed the file; a handle whose key is gone reports
// ERROR_KEY_DELETED. Handle values grow and are not reused, so a closed
// handle fails instead of reaching a newer key.
//
// The tree and the files that keep it are registry_store.cpp's; a call here
// holds the store's mutex, brings the tree up to date or commits one change
// through the store, and keeps its handles.
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <new>
#include <unordered_map>

#include "kinternal.h"
#include "registry_store.h"
#include "registry_tree.h"
#include "winplat/inject.h"
#include "winplat/registry.h"
#include "winplat/utf16.h"

using winplat::regstore::Change;
using winplat::regstore::Op;
using winplat::regstore::Undo;
using winplat::regtree::Encoding;
using winplat::regtree::Key;
using winplat::regtree::Path;

namespace {

constexpr REGSAM kWriteRights =
    KEY_SET_VALUE | KEY_CREATE_SUB_KEY | KEY_CREATE_LINK | DELETE | WRITE_DAC | WRITE_OWNER;

// The key a path led to, good while the tree's generation is unchanged.
struct KeyCache {
    Key* key = nullptr;
    uint64_t generation = 0;
};

struct Handle {
    Path path;
    REGSAM access = 0;
    KeyCache cache;
};

struct State {
    // Taken before the file lock and the console's; guards the store and the handles.
    winplat::kernel::PlatformLock mutex;
    winplat::regstore::Store store{mutex};
    std::unordered_map<uintptr_t, Handle> handles;
    // Paths of closed handles and a subkey path, kept with their buffers:
    // opening and closing keys one after another allocates nothing.
    std::vector<Path> sparePaths;
    Path subPath;
    uintptr_t nextHandle = 0x10000;  // values grow by 4 and are not reused
    std::vector<Path> denied;        // folded paths
    KeyCache predefinedCache[3];
    // Where the last subkey enumeration stopped, so that walking a key's
    // subkeys by index does not start again from the first each time.
    struct {
        const Key* key = nullptr;
        uint64_t generation = 0;
        DWORD index = 0;
        Key::Subkeys::const_iterator it;
    } enumCursor;
};

// Never destroyed: stand-ins and statics may still call in during exit.
State& state() {
    static State* s = new State;
    return *s;
}

LSTATUS loadFromEnvironment(State& s) {
    const char* file = std::getenv("WINPLAT_REGISTRY");
    return s.store.load(file ? file : "");
}

Path foldPath(const Path& p) {
    Path out;
    out.reserve(p.size());
    for (const std::wstring& part : p) {
        out.push_back(winplat::regtree::fold(part));
    }
    return out;
}

bool isDenied(const State& s, const Path& path) {
    if (s.denied.empty()) {
        return false;
    }
    const Path f = foldPath(path);
    for (const Path& d : s.denied) {
        if (d == f) {
            return true;
        }
    }
    return false;
}

// The key at `path`, creating what is missing; undoing removes the first key
// it created, and with it the rest.
Key& ensurePath(Key& top, const Path& path, Undo& undo) {
    Key* k = &top;
    bool created = false;
    for (const std::wstring& part : path) {
        if (Key* c = k->child(part)) {
            k = c;
            continue;
        }
        if (!created) {
            created = true;
            undo.add([parent = k, part] { parent->removeChild(part); });
        }
        k = &k->ensureChild(part);
    }
    return *k;
}

// The key path of a predefined key, or null.
const Path* predefinedPath(HKEY h) {
    static const Path* cu = new Path{std::wstring(winplat::regtree::kCurrentUser)};
    static const Path* lm = new Path{std::wstring(winplat::regtree::kLocalMachine)};
    static const Path* cr = new Path{std::wstring(winplat::regtree::kLocalMachine), L"Software", L"Classes"};
    if (h == HKEY_CURRENT_USER) {
        return cu;
    }
    if (h == HKEY_LOCAL_MACHINE) {
        return lm;
    }
    if (h == HKEY_CLASSES_ROOT) {
        return cr;
    }
    return nullptr;
}

// Valid while the state's mutex is held: `path` and `cache` are the handle's own.
struct Resolved {
    const Path* path = nullptr;
    REGSAM access = 0;
    bool predefined = false;
    KeyCache* cache = nullptr;
};

LSTATUS resolveHandle(State& s, HKEY h, Resolved& out) {
    if (const Path* p = predefinedPath(h)) {
        out.path = p;
        out.cache = &s.predefinedCache[reinterpret_cast<uintptr_t>(h) & 3];
        out.access = KEY_ALL_ACCESS;
        if (isDenied(s, *p)) {
            out.access &= ~kWriteRights;
        }
        out.predefined = true;
        return ERROR_SUCCESS;
    }
    const auto it = s.handles.find(reinterpret_cast<uintptr_t>(h));
    if (it == s.handles.end()) {
        return ERROR_INVALID_HANDLE;
    }
    out.path = &it->second.path;
    out.access = it->second.access;
    out.predefined = false;
    out.cache = &it->second.cache;
    return ERROR_SUCCESS;
}

// As above, and the handle must carry the rights an operation needs.
LSTATUS resolveHandle(State& s, HKEY h, Resolved& out, REGSAM needed) {
    const LSTATUS rc = resolveHandle(s, h, out);
    if (rc == ERROR_SUCCESS && (out.access & needed) != needed) {
        return ERROR_ACCESS_DENIED;
    }
    return rc;
}

// Splits a subkey path at backslashes; a trailing backslash is allowed. The
// names already in `out` are written over, keeping their buffers.
LSTATUS splitSubKey(LPCWSTR sub, Path& out) {
    size_t parts = 0;
    struct Trim {
        Path& path;
        size_t& size;
        ~Trim() { path.resize(size); }
    } trim{out, parts};
    if (!sub || !*sub) {
        return ERROR_SUCCESS;
    }
    std::wstring_view rest(sub);
    while (!rest.empty()) {
        const size_t sep = rest.find(L'\\');
        const std::wstring_view part = rest.substr(0, sep);
        if (part.empty()) {
            return ERROR_BAD_PATHNAME;
        }
        if (part.size() > winplat::regtree::kMaxKeyName) {
            return ERROR_INVALID_PARAMETER;
        }
        if (parts < out.size()) {
            out[parts].assign(part);
        } else {
            out.emplace_back(part);
        }
        ++parts;
        if (sep == std::wstring_view::npos) {
            break;
        }
        rest.remove_prefix(sep + 1);
    }
    return ERROR_SUCCESS;
}

// The key a handle stands for and a subkey path below it, split; `full` is
// the two joined.
LSTATUS resolveSubKey(State& s, HKEY h, LPCWSTR subKey, Resolved& base, Path& sub, Path& full) {
    LSTATUS rc = resolveHandle(s, h, base);
    if (rc == ERROR_SUCCESS) {
        rc = splitSubKey(subKey, sub);
    }
    if (rc == ERROR_SUCCESS) {
        // Assigned name by name, so that a reused path keeps its buffers.
        full.resize(base.path->size() + sub.size());
        std::copy(base.path->begin(), base.path->end(), full.begin());
        std::copy(sub.begin(), sub.end(), full.begin() + static_cast<ptrdiff_t>(base.path->size()));
    }
    return rc;
}

// The key a resolved handle names.
Key* keyOf(const State& s, const Resolved& r, LSTATUS& rc) {
    KeyCache& c = *r.cache;
    if (c.generation != s.store.generation()) {
        c.key = winplat::regtree::find(s.store.tree(), *r.path);
        c.generation = s.store.generation();
    }
    if (!c.key) {
        rc = r.predefined ? ERROR_FILE_NOT_FOUND : ERROR_KEY_DELETED;
    }
    return c.key;
}

// The key at `sub` below `base`; a subkey just enumerated is taken from where
// the enumeration stopped, without a search among its siblings.
Key* findBelow(const State& s, const Key& base, const Path& sub) {
    const auto& c = s.enumCursor;
    if (sub.size() == 1 && c.key == &base && c.generation == s.store.generation() &&
        (c.it->second->name == sub.front() ||
         winplat::regtree::FoldedLess::compare(c.it->first, sub.front()) == 0)) {
        return c.it->second.get();
    }
    return winplat::regtree::find(base, sub);
}

REGSAM effectiveAccess(REGSAM sam) {
    sam &= ~(KEY_WOW64_RES);
    if (sam & MAXIMUM_ALLOWED) {
        sam = (sam & ~MAXIMUM_ALLOWED) | KEY_ALL_ACCESS;
    }
    return sam;
}

HKEY newHandle(State& s, Path path, REGSAM access, Key* key = nullptr) {
    const uintptr_t value = s.nextHandle;
    s.nextHandle += 4;
    s.handles.emplace(value, Handle{std::move(path), access, KeyCache{key, key ? s.store.generation() : 0}});
    return reinterpret_cast<HKEY>(value);
}

bool injected(const char* name, LSTATUS& rc) {
    int64_t code = 0;
    if (winplat::inject::take(name, &code)) {
        rc = static_cast<LSTATUS>(code);
        return true;
    }
    return false;
}

// Text types travel through the W calls as WCHAR arrays and are stored as
// 2 bytes per unit. Stored text of an odd length keeps its last byte as one
// byte of the in-memory form, so callers see the odd count.
bool isText(DWORD type) {
    return type == REG_SZ || type == REG_EXPAND_SZ || type == REG_MULTI_SZ;
}

size_t memorySize(const winplat::regtree::Value& v) {
    if (!isText(v.type)) {
        return v.data.size();
    }
    return v.data.size() / 2 * sizeof(WCHAR) + v.data.size() % 2;
}

void copyOut(const winplat::regtree::Value& v, BYTE* out) {
    if (!isText(v.type)) {
        if (!v.data.empty()) {
            std::memcpy(out, v.data.data(), v.data.size());
        }
        return;
    }
    const size_t units = v.data.size() / 2;
    for (size_t i = 0; i < units; ++i) {
        const WCHAR c = static_cast<WCHAR>(v.data[2 * i] | (v.data[2 * i + 1] << 8));
        std::memcpy(out + i * sizeof(WCHAR), &c, sizeof(WCHAR));
    }
    if (v.data.size() % 2) {
        out[units * sizeof(WCHAR)] = v.data.back();  // the low byte: WCHAR is little-endian here
    }
}

// In-memory bytes of a RegSetValueExW call to stored bytes; false when a
// text unit is not a UTF-16 unit.
bool storedForm(DWORD type, const BYTE* data, DWORD cb, std::vector<uint8_t>& out) {
    if (!isText(type)) {
        out.assign(data, data + cb);
        return true;
    }
    const size_t units = cb / sizeof(WCHAR);
    const size_t rest = cb % sizeof(WCHAR);
    out.clear();
    out.reserve(units * 2 + 2);
    for (size_t i = 0; i < units; ++i) {
        WCHAR c;
        std::memcpy(&c, data + i * sizeof(WCHAR), sizeof(WCHAR));
        if (static_cast<uint32_t>(c) > 0xFFFF) {
            return false;
        }
        out.push_back(static_cast<uint8_t>(c));
        out.push_back(static_cast<uint8_t>(static_cast<uint32_t>(c) >> 8));
    }
    // A count that ends inside a unit keeps that unit's low bytes, at most two.
    for (size_t i = 0; i < rest && i < 2; ++i) {
        out.push_back(data[units * sizeof(WCHAR) + i]);
    }
    return true;
}

void clearFileTime(LPFILETIME ft) {
    if (ft) {
        ft->dwLowDateTime = 0;
        ft->dwHighDateTime = 0;
    }
}

}  // namespace

extern "C" {

LSTATUS WINAPI RegOpenKeyExW(HKEY hKey, LPCWSTR lpSubKey, DWORD, REGSAM samDesired, PHKEY phkResult) {
    LSTATUS rc;
    if (injected("RegOpenKeyExW", rc)) {
        return rc;
    }
    if (!phkResult) {
        return ERROR_INVALID_PARAMETER;
    }
    *phkResult = nullptr;
    State& s = state();
    winplat::kernel::PlatformGuard lock(s.mutex);
    s.store.ensureFresh();
    Resolved base;
    Path& sub = s.subPath;
    Path full;
    if (!s.sparePaths.empty()) {
        full = std::move(s.sparePaths.back());
        s.sparePaths.pop_back();
    }
    if ((rc = resolveSubKey(s, hKey, lpSubKey, base, sub, full)) != ERROR_SUCCESS) {
        return rc;
    }
    // Found from the handle's key, which is usually known already.
    Key* baseKey = keyOf(s, base, rc);
    Key* k = baseKey ? findBelow(s, *baseKey, sub) : nullptr;
    if (!k && !(sub.empty() && base.predefined)) {
        return sub.empty() ? ERROR_KEY_DELETED : ERROR_FILE_NOT_FOUND;
    }
    const REGSAM access = effectiveAccess(samDesired);
    if ((access & kWriteRights) && isDenied(s, full)) {
        return ERROR_ACCESS_DENIED;
    }
    *phkResult = newHandle(s, std::move(full), access, k);
    return ERROR_SUCCESS;
}

LSTATUS WINAPI RegCreateKeyExW(HKEY hKey, LPCWSTR lpSubKey, DWORD, LPWSTR, DWORD, REGSAM samDesired,
                               const LPSECURITY_ATTRIBUTES, PHKEY phkResult, LPDWORD lpdwDisposition) {
    LSTATUS rc;
    if (injected("RegCreateKeyExW", rc)) {
        return rc;
    }
    if (!phkResult || !lpSubKey) {
        return ERROR_INVALID_PARAMETER;
    }
    *phkResult = nullptr;
    State& s = state();
    winplat::kernel::PlatformGuard lock(s.mutex);
    s.store.ensureFresh();
    Resolved base;
    Path sub;
    Path full;
    if ((rc = resolveSubKey(s, hKey, lpSubKey, base, sub, full)) != ERROR_SUCCESS) {
        return rc;
    }
    for (const std::wstring& part : sub) {
        if (!winplat::regtree::storableKeyName(part)) {
            return ERROR_INVALID_PARAMETER;
        }
    }
    const REGSAM access = effectiveAccess(samDesired);
    if ((access & kWriteRights) && isDenied(s, full)) {
        return ERROR_ACCESS_DENIED;
    }
    if (full.size() > winplat::regtree::kMaxDepth) {
        return ERROR_BADKEY;
    }
    DWORD disposition = REG_OPENED_EXISTING_KEY;
    if (!winplat::regtree::find(s.store.tree(), full)) {
        // Decided again under the file lock: another process may have
        // created the key or deleted the handle's key meanwhile.
        rc = s.store.commit(Op::CreateKey, full, L"", [&](Key& top, Undo& undo) {
            if (winplat::regtree::find(top, full)) {
                return static_cast<LSTATUS>(ERROR_SUCCESS);  // opened, not created
            }
            if (!base.predefined && !winplat::regtree::find(top, *base.path)) {
                return static_cast<LSTATUS>(ERROR_KEY_DELETED);
            }
            // Creating needs KEY_CREATE_SUB_KEY on the handle when the new
            // key goes right under it, and a writable key to go under
            // otherwise; at most kMaxCreateDepth new levels at once.
            size_t existing = base.path->size();
            while (existing < full.size() &&
                   winplat::regtree::find(top, Path(full.begin(), full.begin() + existing + 1))) {
                ++existing;
            }
            if (existing == base.path->size() && !(base.access & KEY_CREATE_SUB_KEY)) {
                return static_cast<LSTATUS>(ERROR_ACCESS_DENIED);
            }
            if (isDenied(s, Path(full.begin(), full.begin() + existing))) {
                return static_cast<LSTATUS>(ERROR_ACCESS_DENIED);
            }
            if (full.size() - existing > winplat::regtree::kMaxCreateDepth) {
                return static_cast<LSTATUS>(ERROR_BADKEY);
            }
            ensurePath(top, full, undo);
            disposition = REG_CREATED_NEW_KEY;
            return static_cast<LSTATUS>(ERROR_SUCCESS);
        });
        if (rc != ERROR_SUCCESS) {
            return rc;
        }
    }
    *phkResult = newHandle(s, std::move(full), access);
    if (lpdwDisposition) {
        *lpdwDisposition = disposition;
    }
    return ERROR_SUCCESS;
}

LSTATUS WINAPI RegEnumKeyExW(HKEY hKey, DWORD dwIndex, LPWSTR lpName, LPDWORD lpcchName, LPDWORD,
                             LPWSTR lpClass, LPDWORD lpcchClass, LPFILETIME lpftLastWriteTime) {
    LSTATUS rc;
    if (injected("RegEnumKeyExW", rc)) {
        return rc;
    }
    State& s = state();
    winplat::kernel::PlatformGuard lock(s.mutex);
    s.store.ensureFresh();
    Resolved r;
    if ((rc = resolveHandle(s, hKey, r, KEY_ENUMERATE_SUB_KEYS)) != ERROR_SUCCESS) {
        return rc;
    }
    if (!lpName || !lpcchName) {
        return ERROR_INVALID_PARAMETER;
    }
    Key* k = keyOf(s, r, rc);
    if (!k) {
        return r.predefined ? ERROR_NO_MORE_ITEMS : rc;
    }
    if (dwIndex >= k->subkeys.size()) {
        return ERROR_NO_MORE_ITEMS;
    }
    auto& cursor = s.enumCursor;
    if (cursor.key != k || cursor.generation != s.store.generation() || cursor.index > dwIndex) {
        cursor.key = k;
        cursor.generation = s.store.generation();
        cursor.index = 0;
        cursor.it = k->subkeys.begin();
    }
    cursor.it = std::next(cursor.it, dwIndex - cursor.index);
    cursor.index = dwIndex;
    const std::wstring& name = cursor.it->second->name;
    if (*lpcchName < name.size() + 1) {
        *lpcchName = static_cast<DWORD>(name.size() + 1);
        return ERROR_MORE_DATA;
    }
    std::memcpy(lpName, name.c_str(), (name.size() + 1) * sizeof(WCHAR));
    *lpcchName = static_cast<DWORD>(name.size());
    if (lpClass && lpcchClass && *lpcchClass > 0) {
        lpClass[0] = 0;
    }
    if (lpcchClass) {
        *lpcchClass = 0;
    }
    clearFileTime(lpftLastWriteTime);
    return ERROR_SUCCESS;
}

LSTATUS WINAPI RegEnumValueW(HKEY hKey, DWORD dwIndex, LPWSTR lpValueName, LPDWORD lpcchValueName,
                             LPDWORD lpReserved, LPDWORD lpType, LPBYTE lpData, LPDWORD lpcbData) {
    LSTATUS rc;
    if (injected("RegEnumValueW", rc)) {
        return rc;
    }
    State& s = state();
    winplat::kernel::PlatformGuard lock(s.mutex);
    s.store.ensureFresh();
    Resolved r;
    if ((rc = resolveHandle(s, hKey, r, KEY_QUERY_VALUE)) != ERROR_SUCCESS) {
        return rc;
    }
    if (!lpValueName || !lpcchValueName || lpReserved || (lpData && !lpcbData)) {
        return ERROR_INVALID_PARAMETER;
    }
    Key* k = keyOf(s, r, rc);
    if (!k) {
        return r.predefined ? ERROR_NO_MORE_ITEMS : rc;
    }
    if (dwIndex >= k->values.size()) {
        return ERROR_NO_MORE_ITEMS;
    }
    const winplat::regtree::Value& v = k->values[dwIndex];
    if (*lpcchValueName < v.name.size() + 1) {
        *lpcchValueName = static_cast<DWORD>(v.name.size() + 1);
        return ERROR_MORE_DATA;
    }
    std::memcpy(lpValueName, v.name.c_str(), (v.name.size() + 1) * sizeof(WCHAR));
    *lpcchValueName = static_cast<DWORD>(v.name.size());
    if (lpType) {
        *lpType = v.type;
    }
    const size_t need = memorySize(v);
    if (lpData && *lpcbData < need) {
        *lpcbData = static_cast<DWORD>(need);
        return ERROR_MORE_DATA;
    }
    if (lpData) {
        copyOut(v, lpData);
    }
    if (lpcbData) {
        *lpcbData = static_cast<DWORD>(need);
    }
    return ERROR_SUCCESS;
}

LSTATUS WINAPI RegQueryValueExW(HKEY hKey, LPCWSTR lpValueName, LPDWORD lpReserved, LPDWORD lpType,
                                LPBYTE lpData, LPDWORD lpcbData) {
    LSTATUS rc;
    if (injected("RegQueryValueExW", rc)) {
        return rc;
    }
    State& s = state();
    winplat::kernel::PlatformGuard lock(s.mutex);
    s.store.ensureFresh();
    Resolved r;
    if ((rc = resolveHandle(s, hKey, r, KEY_QUERY_VALUE)) != ERROR_SUCCESS) {
        return rc;
    }
    if (lpReserved || (lpData && !lpcbData)) {
        return ERROR_INVALID_PARAMETER;
    }
    Key* k = keyOf(s, r, rc);
    if (!k) {
        return rc;
    }
    const winplat::regtree::Value* v = k->value(lpValueName ? lpValueName : L"");
    if (!v) {
        return ERROR_FILE_NOT_FOUND;
    }
    if (lpType) {
        *lpType = v->type;
    }
    const size_t need = memorySize(*v);
    if (lpData && *lpcbData < need) {
        *lpcbData = static_cast<DWORD>(need);
        return ERROR_MORE_DATA;
    }
    if (lpData) {
        copyOut(*v, lpData);
    }
    if (lpcbData) {
        *lpcbData = static_cast<DWORD>(need);
    }
    return ERROR_SUCCESS;
}

LSTATUS WINAPI RegQueryInfoKeyW(HKEY hKey, LPWSTR lpClass, LPDWORD lpcchClass, LPDWORD lpReserved,
                                LPDWORD lpcSubKeys, LPDWORD lpcbMaxSubKeyLen, LPDWORD lpcbMaxClassLen,
                                LPDWORD lpcValues, LPDWORD lpcbMaxValueNameLen, LPDWORD lpcbMaxValueLen,
                                LPDWORD lpcbSecurityDescriptor, LPFILETIME lpftLastWriteTime) {
    LSTATUS rc;
    if (injected("RegQueryInfoKeyW", rc)) {
        return rc;
    }
    State& s = state();
    winplat::kernel::PlatformGuard lock(s.mutex);
    s.store.ensureFresh();
    Resolved r;
    if ((rc = resolveHandle(s, hKey, r, KEY_QUERY_VALUE)) != ERROR_SUCCESS) {
        return rc;
    }
    if (lpReserved) {
        return ERROR_INVALID_PARAMETER;
    }
    static const Key empty;
    const Key* k = keyOf(s, r, rc);
    if (!k) {
        if (!r.predefined) {
            return rc;
        }
        k = &empty;
    }
    size_t maxSub = 0;
    for (const auto& [folded, child] : k->subkeys) {
        maxSub = std::max(maxSub, child->name.size());
    }
    size_t maxName = 0;
    size_t maxData = 0;
    for (const winplat::regtree::Value& v : k->values) {
        maxName = std::max(maxName, v.name.size());
        maxData = std::max(maxData, memorySize(v));
    }
    if (lpClass && lpcchClass && *lpcchClass > 0) {
        lpClass[0] = 0;
    }
    if (lpcchClass) {
        *lpcchClass = 0;
    }
    if (lpcSubKeys) {
        *lpcSubKeys = static_cast<DWORD>(k->subkeys.size());
    }
    if (lpcbMaxSubKeyLen) {
        *lpcbMaxSubKeyLen = static_cast<DWORD>(maxSub);
    }
    if (lpcbMaxClassLen) {
        *lpcbMaxClassLen = 0;
    }
    if (lpcValues) {
        *lpcValues = static_cast<DWORD>(k->values.size());
    }
    if (lpcbMaxValueNameLen) {
        *lpcbMaxValueNameLen = static_cast<DWORD>(maxName);
    }
    if (lpcbMaxValueLen) {
        *lpcbMaxValueLen = static_cast<DWORD>(maxData);
    }
    if (lpcbSecurityDescriptor) {
        *lpcbSecurityDescriptor = 0;
    }
    clearFileTime(lpftLastWriteTime);
    return ERROR_SUCCESS;
}

LSTATUS WINAPI RegSetValueExW(HKEY hKey, LPCWSTR lpValueName, DWORD, DWORD dwType, const BYTE* lpData,
                              DWORD cbData) {
    LSTATUS rc;
    if (injected("RegSetValueExW", rc)) {
        return rc;
    }
    State& s = state();
    winplat::kernel::PlatformGuard lock(s.mutex);
    s.store.ensureFresh();
    Resolved r;
    if ((rc = resolveHandle(s, hKey, r, KEY_SET_VALUE)) != ERROR_SUCCESS) {
        return rc;
    }
    if (!lpData && cbData > 0) {
        return ERROR_NOACCESS;
    }
    const std::wstring name = lpValueName ? lpValueName : L"";
    if (name.size() > winplat::regtree::kMaxValueName || !winplat::regtree::storableName(name)) {
        return ERROR_INVALID_PARAMETER;
    }
    std::vector<uint8_t> data;
    if (!storedForm(dwType, lpData, cbData, data)) {
        return ERROR_INVALID_PARAMETER;
    }
    return s.store.commit(Op::SetValue, *r.path, name, [&](Key& top, Undo& undo) {
        Key* k = winplat::regtree::find(top, *r.path);
        if (!k) {
            if (!r.predefined) {
                return static_cast<LSTATUS>(ERROR_KEY_DELETED);
            }
            k = &ensurePath(top, *r.path, undo);  // HKEY_CLASSES_ROOT before its key exists
        }
        if (const winplat::regtree::Value* old = k->value(name)) {
            undo.add([k, before = *old] { k->setValue(before.name, before.type, before.data); });
        } else {
            undo.add([k, name] { k->removeValue(name); });
        }
        k->setValue(name, dwType, std::move(data));
        return static_cast<LSTATUS>(ERROR_SUCCESS);
    });
}

LSTATUS WINAPI RegDeleteValueW(HKEY hKey, LPCWSTR lpValueName) {
    LSTATUS rc;
    if (injected("RegDeleteValueW", rc)) {
        return rc;
    }
    State& s = state();
    winplat::kernel::PlatformGuard lock(s.mutex);
    s.store.ensureFresh();
    Resolved r;
    if ((rc = resolveHandle(s, hKey, r, KEY_SET_VALUE)) != ERROR_SUCCESS) {
        return rc;
    }
    const std::wstring name = lpValueName ? lpValueName : L"";
    return s.store.commit(Op::RemoveValue, *r.path, name, [&](Key&, Undo& undo) {
        LSTATUS err = ERROR_SUCCESS;
        Key* k = keyOf(s, r, err);
        if (!k) {
            return err;
        }
        const winplat::regtree::Value* v = k->value(name);
        if (!v) {
            return static_cast<LSTATUS>(ERROR_FILE_NOT_FOUND);
        }
        undo.add([k, index = static_cast<size_t>(v - k->values.data()), before = *v] {
            k->insertValue(index, before);
        });
        k->removeValue(name);
        return static_cast<LSTATUS>(ERROR_SUCCESS);
    });
}

LSTATUS WINAPI RegDeleteKeyW(HKEY hKey, LPCWSTR lpSubKey) {
    LSTATUS rc;
    if (injected("RegDeleteKeyW", rc)) {
        return rc;
    }
    if (!lpSubKey) {
        return ERROR_INVALID_PARAMETER;
    }
    State& s = state();
    winplat::kernel::PlatformGuard lock(s.mutex);
    s.store.ensureFresh();
    Resolved r;
    Path sub;
    Path full;
    if ((rc = resolveSubKey(s, hKey, lpSubKey, r, sub, full)) != ERROR_SUCCESS) {
        return rc;
    }
    if (sub.empty() && r.predefined) {
        return ERROR_ACCESS_DENIED;  // a predefined key cannot go
    }
    // Decided under the file lock, on the tree as it is there: a subkey
    // another process has just created keeps its parent.
    return s.store.commit(Op::RemoveKey, full, L"", [&](Key& top, Undo& undo) {
        Key* parent = winplat::regtree::find(top, Path(full.begin(), full.end() - 1));
        const Key* k = parent ? parent->child(full.back()) : nullptr;
        if (!k) {
            return static_cast<LSTATUS>(sub.empty() ? ERROR_KEY_DELETED : ERROR_FILE_NOT_FOUND);
        }
        // Like Windows: a key with subkeys stays; it must be emptied first.
        if (!k->subkeys.empty() || isDenied(s, full)) {
            return static_cast<LSTATUS>(ERROR_ACCESS_DENIED);
        }
        // The undo step is in place before the key leaves the tree.
        auto held = std::make_shared<std::unique_ptr<Key>>();
        undo.add([parent, held] {
            if (*held) {
                parent->putChild(std::move(*held));
            }
        });
        *held = parent->takeChild(full.back());
        return static_cast<LSTATUS>(ERROR_SUCCESS);
    });
}

LSTATUS WINAPI RegCloseKey(HKEY hKey) {
    LSTATUS rc;
    if (injected("RegCloseKey", rc)) {
        return rc;
    }
    if (predefinedPath(hKey)) {
        return ERROR_SUCCESS;
    }
    State& s = state();
    winplat::kernel::PlatformGuard lock(s.mutex);
    const auto it = s.handles.find(reinterpret_cast<uintptr_t>(hKey));
    if (it == s.handles.end()) {
        return ERROR_INVALID_HANDLE;
    }
    if (s.sparePaths.size() < 8) {
        s.sparePaths.push_back(std::move(it->second.path));
    }
    s.handles.erase(it);
    return ERROR_SUCCESS;
}

}  // extern "C"

namespace winplat::registry {

LSTATUS reload() {
    State& s = state();
    winplat::kernel::PlatformGuard lock(s.mutex);
    return loadFromEnvironment(s);
}

namespace {

// The tree of `.reg` text; nullptr, with the message in `error`, when it does not parse.
std::unique_ptr<Key> parsedTree(const void* data, size_t size, std::string* error) {
    std::unique_ptr<Key> tree;
    Encoding enc;
    std::string err;
    if (!regtree::parse(static_cast<const uint8_t*>(data), size, tree, enc, err)) {
        if (error) {
            *error = err;
        }
        return nullptr;
    }
    return tree;
}

}  // namespace

bool loadText(const void* data, size_t size, std::string* error) {
    std::unique_ptr<Key> tree = parsedTree(data, size, error);
    if (!tree) {
        return false;
    }
    State& s = state();
    winplat::kernel::PlatformGuard lock(s.mutex);
    s.store.loadTree(std::move(tree));
    return true;
}

std::string filePath() {
    State& s = state();
    winplat::kernel::PlatformGuard lock(s.mutex);
    if (!s.store.loaded()) {
        loadFromEnvironment(s);
    }
    return s.store.file();
}

std::string lastLoadError() {
    State& s = state();
    winplat::kernel::PlatformGuard lock(s.mutex);
    return s.store.lastError();
}

size_t openKeyCount() {
    State& s = state();
    winplat::kernel::PlatformGuard lock(s.mutex);
    return s.handles.size();
}

void denyWrite(HKEY root, const std::wstring& subKey) {
    State& s = state();
    winplat::kernel::PlatformGuard lock(s.mutex);
    const Path* base = predefinedPath(root);
    Path sub;
    if (!base || splitSubKey(subKey.c_str(), sub) != ERROR_SUCCESS) {
        return;
    }
    Path full = *base;
    full.insert(full.end(), sub.begin(), sub.end());
    s.denied.push_back(foldPath(full));
}

void clearDeniedKeys() {
    State& s = state();
    winplat::kernel::PlatformGuard lock(s.mutex);
    s.denied.clear();
}

std::string exportText() {
    State& s = state();
    winplat::kernel::PlatformGuard lock(s.mutex);
    s.store.ensureFresh();
    return regtree::serialize(s.store.tree(), Encoding::Utf8);
}

std::string exportKey(HKEY root, const std::wstring& subKey) {
    State& s = state();
    winplat::kernel::PlatformGuard lock(s.mutex);
    s.store.ensureFresh();
    const Path* base = predefinedPath(root);
    Path sub;
    if (!base || splitSubKey(subKey.c_str(), sub) != ERROR_SUCCESS) {
        return "";
    }
    Path full = *base;
    full.insert(full.end(), sub.begin(), sub.end());
    const Key* k = regtree::find(s.store.tree(), full);
    if (!k) {
        return "";
    }
    // Spell the path as the tree does.
    Path spelled;
    const Key* walk = &s.store.tree();
    for (const std::wstring& part : full) {
        walk = walk->child(part);
        spelled.push_back(walk->name);
    }
    return regtree::serializeKey(*k, spelled);
}

void flush() {
    State& s = state();
    winplat::kernel::PlatformGuard lock(s.mutex);
    s.store.flush();
}

bool parseText(const void* data, size_t size, std::string* error, std::string* canonical) {
    const std::unique_ptr<Key> tree = parsedTree(data, size, error);
    if (!tree) {
        return false;
    }
    if (canonical) {
        *canonical = regtree::serialize(*tree, Encoding::Utf8);
    }
    return true;
}

}  // namespace winplat::registry
