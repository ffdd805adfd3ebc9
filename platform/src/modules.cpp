// Module table over dlopen. A module's HMODULE is its load address, so an
// address inside it leads back to it through dladdr.
#include <dlfcn.h>
#include <fcntl.h>
#include <link.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <map>
#include <mutex>
#include <string>
#include <system_error>
#include <vector>

#include "files_internal.h"
#include "inject_internal.h"
#include "kinternal.h"
#include "winplat/files.h"
#include "winplat/inject.h"
#include "winplat/kernel.h"
#include "winplat/modules.h"
#include "winplat/utf16.h"

namespace {

using namespace winplat::detail;

struct Module {
    void* dl = nullptr;
    std::string path;       // POSIX path it was loaded from
    std::wstring name;      // base name it is known by
    long refs = 0;          // -1: pinned
    bool implicit = false;  // entered by address, not loaded through the table
};

struct Table {
    winplat::kernel::PlatformLock mutex;
    std::map<uintptr_t, Module> modules;
    bool dllDirectorySet = false;
    std::wstring dllDirectory;
    uintptr_t programBase = 0;
};

thread_local std::string tLastLoadError;
// Whether that load found no file by the name, as opposed to a file that
// would not load: a caller tells a missing module from a broken one.
thread_local bool tLastLoadFoundNoFile = false;
std::atomic<UINT> gErrorMode{0};

std::string programPath() {
    std::vector<char> buf(4096);
    ssize_t n = readlink("/proc/self/exe", buf.data(), buf.size() - 1);
    if (n <= 0) {
        return std::string();
    }
    return std::string(buf.data(), static_cast<size_t>(n));
}

// Load address of the object behind a dlopen handle.
uintptr_t baseOf(void* dl) {
    link_map* lm = nullptr;
    if (dlinfo(dl, RTLD_DI_LINKMAP, &lm) != 0 || lm == nullptr) {
        return 0;
    }
    Dl_info info;
    if (dladdr(lm->l_ld, &info) == 0) {
        return 0;
    }
    return reinterpret_cast<uintptr_t>(info.dli_fbase);
}

std::wstring nameOfPath(const std::string& posix) {
    return winplat::detail::baseName(winplat::utf8ToUtf16(posix));
}

Table& table() {
    static Table* t = [] {
        auto* t = new Table;
        // The program itself: pinned, known by its file name.
        void* self = dlopen(nullptr, RTLD_NOW);
        Module m;
        m.dl = self;
        m.path = programPath();
        m.name = nameOfPath(m.path);
        m.refs = -1;
        t->programBase = self ? baseOf(self) : 0;
        t->modules[t->programBase] = m;
        return t;
    }();
    return *t;
}

// Applies Windows' extension rule to the file part of a module name.
std::wstring withExtension(std::wstring name) {
    std::wstring file = winplat::detail::baseName(name);
    if (!file.empty() && file.back() == L'.') {
        name.pop_back();
    } else if (file.find(L'.') == std::wstring::npos) {
        name += L".dll";
    }
    return name;
}

bool hasPath(const std::wstring& name) {
    return name.find_first_of(L"\\/") != std::wstring::npos || (name.size() >= 2 && name[1] == L':');
}

// Caller holds the lock.
Module* findByName(Table& t, const std::wstring& name, uintptr_t* base) {
    if (hasPath(name)) {
        std::string posix = winplat::paths::toPosix(name);
        struct stat want;
        bool haveWant = stat(posix.c_str(), &want) == 0;
        for (auto& [b, m] : t.modules) {
            struct stat st;
            if (m.path == posix || (haveWant && stat(m.path.c_str(), &st) == 0 && st.st_dev == want.st_dev &&
                                    st.st_ino == want.st_ino)) {
                *base = b;
                return &m;
            }
        }
        return nullptr;
    }
    for (auto& [b, m] : t.modules) {
        if (equalsNoCase(m.name, name)) {
            *base = b;
            return &m;
        }
    }
    return nullptr;
}

bool isRegularFile(const std::string& posix) {
    struct stat st;
    return stat(posix.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

// Why the file is not taken for a module: "" when it starts as one does;
// the C library's reason when it cannot be opened or read, since calling it
// no module would send the user looking at its contents; else "not a
// loadable module".
std::string whyNotAModule(const std::string& posix) {
    const int fd = ::open(posix.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        return std::generic_category().message(errno);
    }
    char magic[4] = {};
    size_t got = 0;
    int error = 0;
    while (got < sizeof(magic)) {
        const ssize_t n = ::read(fd, magic + got, sizeof(magic) - got);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            error = n < 0 ? errno : 0;
            break;
        }
        got += static_cast<size_t>(n);
    }
    ::close(fd);
    if (error) {
        return std::generic_category().message(error);
    }
    static const char elf[4] = {'\x7f', 'E', 'L', 'F'};
    return got == sizeof(magic) && std::memcmp(magic, elf, sizeof(elf)) == 0 ? "" : "not a loadable module";
}

HMODULE loadPath(const std::string& posix) {
    if (const std::string why = whyNotAModule(posix); !why.empty()) {
        tLastLoadError = posix + ": " + why;
        SetLastError(ERROR_BAD_EXE_FORMAT);
        return nullptr;
    }
    // The loader lock is not ours: a module's constructors may call back in.
    void* dl = dlopen(posix.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!dl) {
        const char* e = dlerror();
        tLastLoadError = e ? e : "dlopen failed";
        // As Windows reports it: a missing dependency, a missing import, or
        // a file that is no module.
        DWORD error = ERROR_BAD_EXE_FORMAT;
        if (tLastLoadError.find("cannot open shared object file") != std::string::npos) {
            error = ERROR_MOD_NOT_FOUND;
        } else if (tLastLoadError.find("undefined symbol") != std::string::npos) {
            error = ERROR_PROC_NOT_FOUND;
        }
        SetLastError(error);
        return nullptr;
    }
    uintptr_t base = baseOf(dl);
    if (base == 0) {
        dlclose(dl);
        tLastLoadError = posix + ": no load address";
        SetLastError(ERROR_MOD_NOT_FOUND);
        return nullptr;
    }
    Table& t = table();
    bool extra = false;
    {
        winplat::kernel::PlatformGuard lock(t.mutex);
        auto it = t.modules.find(base);
        if (it != t.modules.end()) {
            // Loaded already (another name for the same file, or a race):
            // one dlopen reference per table entry. An entry made by address
            // while the module's constructors ran becomes this load.
            Module& m = it->second;
            if (m.implicit) {
                m.implicit = false;
                m.refs = 1;
            } else if (m.refs >= 0) {
                ++m.refs;
            }
            extra = true;
        } else {
            Module m;
            m.dl = dl;
            m.path = posix;
            m.name = nameOfPath(posix);
            m.refs = 1;
            t.modules[base] = m;
        }
    }
    if (extra) {
        dlclose(dl);
    }
    return reinterpret_cast<HMODULE>(base);
}

HMODULE loadModule(LPCWSTR fileName) {
    tLastLoadFoundNoFile = false;
    if (fileName == nullptr || *fileName == 0) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    std::wstring name = withExtension(fileName);
    Table& t = table();
    if (hasPath(name)) {
        std::string posix = winplat::paths::toPosix(name);
        if (!isRegularFile(posix)) {
            tLastLoadError = posix + ": no such file";
            tLastLoadFoundNoFile = true;
            SetLastError(ERROR_MOD_NOT_FOUND);
            return nullptr;
        }
        return loadPath(posix);
    }
    {
        winplat::kernel::PlatformGuard lock(t.mutex);
        uintptr_t base = 0;
        if (Module* m = findByName(t, name, &base)) {
            if (m->refs >= 0) {
                ++m->refs;
            }
            return reinterpret_cast<HMODULE>(base);
        }
    }
    std::vector<std::wstring> folders;
    {
        std::wstring program = winplat::paths::toWindows(programPath());
        size_t cut = program.find_last_of(L"\\/");
        if (cut != std::wstring::npos) {
            folders.push_back(program.substr(0, cut + 1));
        }
        winplat::kernel::PlatformGuard lock(t.mutex);
        if (t.dllDirectorySet && !t.dllDirectory.empty()) {
            folders.push_back(t.dllDirectory);
        }
    }
    folders.push_back(L"C:\\Windows\\system32");
    folders.push_back(L"C:\\Windows");
    for (const auto& folder : folders) {
        std::wstring candidate = folder;
        if (candidate.back() != L'\\' && candidate.back() != L'/') {
            candidate += isWindowsForm(candidate) ? L'\\' : L'/';
        }
        candidate += name;
        std::string posix = winplat::paths::toPosix(candidate);
        if (isRegularFile(posix)) {
            return loadPath(posix);
        }
    }
    tLastLoadError = winplat::utf16ToUtf8(name) + ": not found in the module search folders";
    tLastLoadFoundNoFile = true;
    SetLastError(ERROR_MOD_NOT_FOUND);
    return nullptr;
}

// The table entry for an address; a module the table does not know yet is
// added pinned.
bool entryForAddress(const void* address, uintptr_t* base) {
    Dl_info info;
    if (dladdr(address, &info) == 0 || info.dli_fbase == nullptr) {
        return false;
    }
    uintptr_t b = reinterpret_cast<uintptr_t>(info.dli_fbase);
    Table& t = table();
    {
        winplat::kernel::PlatformGuard lock(t.mutex);
        if (t.modules.count(b)) {
            *base = b;
            return true;
        }
    }
    std::string path = info.dli_fname ? info.dli_fname : "";
    void* dl = path.empty() ? nullptr : dlopen(path.c_str(), RTLD_NOW | RTLD_NOLOAD);
    if (!dl || baseOf(dl) != b) {
        if (dl) {
            dlclose(dl);
        }
        return false;
    }
    winplat::kernel::PlatformGuard lock(t.mutex);
    auto [it, inserted] = t.modules.try_emplace(b);
    if (inserted) {
        it->second.dl = dl;
        it->second.path = path;
        it->second.name = nameOfPath(path);
        it->second.refs = -1;
        it->second.implicit = true;
    } else {
        dlclose(dl);
    }
    *base = b;
    return true;
}

}  // namespace

namespace winplat::modules {

std::string lastLoadError() {
    return tLastLoadError;
}

bool lastLoadFoundNoFile() {
    return tLastLoadFoundNoFile;
}

size_t loadedCount() {
    Table& t = table();
    winplat::kernel::PlatformGuard lock(t.mutex);
    size_t n = 0;
    for (const auto& [b, m] : t.modules) {
        if (m.refs > 0) {
            ++n;
        }
    }
    return n;
}

long referenceCount(HMODULE module) {
    Table& t = table();
    winplat::kernel::PlatformGuard lock(t.mutex);
    auto it = t.modules.find(reinterpret_cast<uintptr_t>(module));
    if (it == t.modules.end() || it->second.refs < 0) {
        return -1;
    }
    return it->second.refs;
}

}  // namespace winplat::modules

extern "C" {

HMODULE WINAPI LoadLibraryW(LPCWSTR lpLibFileName) {
    winplat::kernel::CriticalScope scope;  // the C library's loader lock: not stopped halfway
    if (injected("LoadLibraryW")) {
        return nullptr;
    }
    return loadModule(lpLibFileName);
}

HMODULE WINAPI LoadLibraryExW(LPCWSTR lpLibFileName, HANDLE hFile, DWORD dwFlags) {
    winplat::kernel::CriticalScope scope;  // the C library's loader lock: not stopped halfway
    if (injected("LoadLibraryExW")) {
        return nullptr;
    }
    // Dependencies are bound by the system loader from the module's own
    // run path, so the altered search path needs nothing more here.
    if (hFile != nullptr || (dwFlags & ~LOAD_WITH_ALTERED_SEARCH_PATH) != 0) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    return loadModule(lpLibFileName);
}

BOOL WINAPI FreeLibrary(HMODULE hLibModule) {
    winplat::kernel::CriticalScope scope;  // the C library's loader lock: not stopped halfway
    Table& t = table();
    void* dl = nullptr;
    {
        winplat::kernel::PlatformGuard lock(t.mutex);
        auto it = t.modules.find(reinterpret_cast<uintptr_t>(hLibModule));
        if (it == t.modules.end()) {
            SetLastError(ERROR_MOD_NOT_FOUND);
            return FALSE;
        }
        if (it->second.refs < 0) {
            return TRUE;
        }
        if (--it->second.refs > 0) {
            return TRUE;
        }
        dl = it->second.dl;
        t.modules.erase(it);
    }
    dlclose(dl);
    return TRUE;
}

HMODULE WINAPI GetModuleHandleW(LPCWSTR lpModuleName) {
    winplat::kernel::CriticalScope scope;  // the C library's loader lock: not stopped halfway
    if (injected("GetModuleHandleW")) {
        return nullptr;
    }
    Table& t = table();
    if (lpModuleName == nullptr) {
        return reinterpret_cast<HMODULE>(t.programBase);
    }
    if (*lpModuleName == 0) {
        SetLastError(ERROR_MOD_NOT_FOUND);
        return nullptr;
    }
    std::wstring name = withExtension(lpModuleName);
    winplat::kernel::PlatformGuard lock(t.mutex);
    uintptr_t base = 0;
    if (!findByName(t, name, &base)) {
        SetLastError(ERROR_MOD_NOT_FOUND);
        return nullptr;
    }
    return reinterpret_cast<HMODULE>(base);
}

BOOL WINAPI GetModuleHandleExW(DWORD dwFlags, LPCWSTR lpModuleName, HMODULE* phModule) {
    winplat::kernel::CriticalScope scope;  // the C library's loader lock: not stopped halfway
    if (phModule == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    *phModule = nullptr;
    constexpr DWORD known = GET_MODULE_HANDLE_EX_FLAG_PIN | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT |
                            GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS;
    if ((dwFlags & ~known) != 0 || ((dwFlags & GET_MODULE_HANDLE_EX_FLAG_PIN) &&
                                    (dwFlags & GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT))) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    if (injected("GetModuleHandleExW")) {
        return FALSE;
    }
    Table& t = table();
    uintptr_t base = 0;
    if (dwFlags & GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS) {
        if (!entryForAddress(lpModuleName, &base)) {
            SetLastError(ERROR_MOD_NOT_FOUND);
            return FALSE;
        }
    } else if (lpModuleName == nullptr) {
        base = t.programBase;
    } else {
        winplat::kernel::PlatformGuard lock(t.mutex);
        if (!findByName(t, withExtension(lpModuleName), &base)) {
            SetLastError(ERROR_MOD_NOT_FOUND);
            return FALSE;
        }
    }
    winplat::kernel::PlatformGuard lock(t.mutex);
    auto it = t.modules.find(base);
    if (it == t.modules.end()) {
        SetLastError(ERROR_MOD_NOT_FOUND);
        return FALSE;
    }
    if (dwFlags & GET_MODULE_HANDLE_EX_FLAG_PIN) {
        it->second.refs = -1;
        it->second.implicit = false;
    } else if (!(dwFlags & GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT) && it->second.refs >= 0) {
        ++it->second.refs;
    }
    *phModule = reinterpret_cast<HMODULE>(base);
    return TRUE;
}

DWORD WINAPI GetModuleFileNameW(HMODULE hModule, LPWSTR lpFilename, DWORD nSize) {
    winplat::kernel::CriticalScope scope;  // the C library's loader lock: not stopped halfway
    if (injected("GetModuleFileNameW")) {
        return 0;
    }
    Table& t = table();
    std::string path;
    {
        winplat::kernel::PlatformGuard lock(t.mutex);
        uintptr_t base = hModule ? reinterpret_cast<uintptr_t>(hModule) : t.programBase;
        auto it = t.modules.find(base);
        if (it == t.modules.end()) {
            SetLastError(ERROR_MOD_NOT_FOUND);
            return 0;
        }
        path = it->second.path;
    }
    std::wstring w = winplat::paths::toWindows(path);
    if (lpFilename == nullptr || nSize == 0) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return 0;
    }
    if (w.size() < nSize) {
        std::memcpy(lpFilename, w.c_str(), (w.size() + 1) * sizeof(WCHAR));
        return static_cast<DWORD>(w.size());
    }
    std::memcpy(lpFilename, w.c_str(), (nSize - 1) * sizeof(WCHAR));
    lpFilename[nSize - 1] = 0;
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return nSize;
}

FARPROC WINAPI GetProcAddress(HMODULE hModule, LPCSTR lpProcName) {
    winplat::kernel::CriticalScope scope;  // the C library's loader lock: not stopped halfway
    if (injected("GetProcAddress")) {
        return nullptr;
    }
    Table& t = table();
    void* dl = nullptr;
    uintptr_t base = hModule ? reinterpret_cast<uintptr_t>(hModule) : t.programBase;
    {
        winplat::kernel::PlatformGuard lock(t.mutex);
        auto it = t.modules.find(base);
        if (it == t.modules.end()) {
            SetLastError(ERROR_MOD_NOT_FOUND);
            return nullptr;
        }
        dl = it->second.dl;
    }
    if (lpProcName == nullptr || dl == nullptr) {
        SetLastError(ERROR_PROC_NOT_FOUND);
        return nullptr;
    }
    std::vector<std::string> names;
    if (IS_INTRESOURCE(lpProcName)) {
        names.push_back("ordinal_" + std::to_string(reinterpret_cast<ULONG_PTR>(lpProcName)));
    } else {
        std::string exact = lpProcName;
        names.push_back(exact);
        if (exact.find('@') != std::string::npos) {
            for (auto& c : exact) {
                if (c == '@') {
                    c = '_';
                }
            }
            names.push_back(exact);
        }
    }
    for (const auto& n : names) {
        dlerror();
        void* sym = dlsym(dl, n.c_str());
        if (sym == nullptr) {
            continue;
        }
        // dlsym also searches the module's dependencies: only its own count.
        Dl_info info;
        if (dladdr(sym, &info) != 0 && reinterpret_cast<uintptr_t>(info.dli_fbase) == base) {
            return reinterpret_cast<FARPROC>(sym);
        }
    }
    SetLastError(ERROR_PROC_NOT_FOUND);
    return nullptr;
}

BOOL WINAPI SetDllDirectoryW(LPCWSTR lpPathName) {
    if (injected("SetDllDirectoryW")) {
        return FALSE;
    }
    Table& t = table();
    winplat::kernel::PlatformGuard lock(t.mutex);
    t.dllDirectorySet = lpPathName != nullptr;
    t.dllDirectory = lpPathName ? lpPathName : L"";
    return TRUE;
}

DWORD WINAPI GetDllDirectoryW(DWORD nBufferLength, LPWSTR lpBuffer) {
    Table& t = table();
    std::wstring dir;
    {
        winplat::kernel::PlatformGuard lock(t.mutex);
        dir = t.dllDirectory;
    }
    if (dir.empty()) {
        if (lpBuffer && nBufferLength > 0) {
            lpBuffer[0] = 0;
        }
        return 0;
    }
    return copyOut(dir, lpBuffer, nBufferLength);
}

UINT WINAPI SetErrorMode(UINT uMode) {
    return gErrorMode.exchange(uMode);
}

}  // extern "C"
