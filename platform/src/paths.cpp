// Windows path mapping onto the POSIX tree under WINPLAT_ROOT.
#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "files_internal.h"
#include "winplat/errors.h"
#include "winplat/files.h"
#include "winplat/text.h"
#include "winplat/utf16.h"

namespace winplat::detail {

namespace {

bool isSep(wchar_t c) {
    return c == L'\\' || c == L'/';
}

bool isDriveLetter(wchar_t c) {
    return (c >= L'a' && c <= L'z') || (c >= L'A' && c <= L'Z');
}

bool hasDrive(std::wstring_view p) {
    return p.size() >= 2 && isDriveLetter(p[0]) && p[1] == L':';
}

std::vector<std::wstring> splitComponents(std::wstring_view p) {
    std::vector<std::wstring> out;
    std::wstring cur;
    for (wchar_t c : p) {
        if (isSep(c)) {
            if (!cur.empty()) {
                out.push_back(cur);
                cur.clear();
            }
        } else {
            cur.push_back(c);
        }
    }
    if (!cur.empty()) {
        out.push_back(cur);
    }
    return out;
}

// Folds "." and ".." lexically; ".." never climbs above the start.
void foldDots(std::vector<std::wstring>& comps) {
    std::vector<std::wstring> out;
    for (auto& c : comps) {
        if (c == L".") {
            continue;
        }
        if (c == L"..") {
            if (!out.empty()) {
                out.pop_back();
            }
            continue;
        }
        out.push_back(std::move(c));
    }
    comps.swap(out);
}

std::string stripTrailingSlashes(std::string s) {
    while (s.size() > 1 && s.back() == '/') {
        s.pop_back();
    }
    return s;
}

// Root as a prefix to which "/x" is appended: "" for "/".
std::string rootPrefix() {
    std::string r = winplat::paths::root();
    if (r == "/") {
        return std::string();
    }
    if (r[0] != '/') {
        r = currentDirectory() + "/" + r;  // a relative root is taken at the time of the call
    }
    return stripTrailingSlashes(r);
}

bool isDirectory(const std::string& path) {
    struct stat st;
    return stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

// The on-disk entry of `dir` that matches `name` without regard to case:
// the exact name when it exists, else the first case variant in byte order,
// else nothing.
bool resolveComponent(const std::string& dir, const std::wstring& name, std::string* found) {
    std::string exact = winplat::utf16ToUtf8(name);
    std::string probe = (dir.empty() ? std::string("/") : dir + "/") + exact;
    struct stat st;
    if (lstat(probe.c_str(), &st) == 0) {
        *found = exact;
        return true;
    }
    std::unique_ptr<DIR, int (*)(DIR*)> d(opendir(dir.empty() ? "/" : dir.c_str()), closedir);
    if (!d) {
        return false;
    }
    bool any = false;
    while (dirent* e = readdir(d.get())) {
        std::string entry = e->d_name;
        if (entry == "." || entry == "..") {
            continue;
        }
        if (!equalsNoCase(winplat::utf8ToUtf16(entry), name)) {
            continue;
        }
        if (!any || entry < *found) {
            *found = entry;
            any = true;
        }
    }
    return any;
}

// Appends Windows components to an existing POSIX base, resolving case
// while the path exists.
std::string appendResolved(std::string base, const std::vector<std::wstring>& comps) {
    bool exists = true;
    for (const auto& c : comps) {
        std::string part;
        if (exists && resolveComponent(base, c, &part)) {
            // found
        } else {
            exists = false;
            part = winplat::utf16ToUtf8(c);
        }
        base += "/";
        base += part;
    }
    return base;
}

// Lower-case drive letter of the current directory when it lies under the
// root, else 'c'.
wchar_t currentDrive() {
    std::wstring w = winplat::paths::toWindows(currentDirectory());
    if (hasDrive(w)) {
        return static_cast<wchar_t>(w[0] | 0x20);
    }
    return L'c';
}

}  // namespace

bool isWindowsForm(std::wstring_view path) {
    return hasDrive(path) || (!path.empty() && path[0] == L'\\');
}

bool equalsNoCase(std::wstring_view a, std::wstring_view b) {
    if (a.size() != b.size()) {
        return false;
    }
    for (size_t i = 0; i < a.size(); ++i) {
        if (a[i] != b[i] && winplat::text::toUpper(a[i]) != winplat::text::toUpper(b[i])) {
            return false;
        }
    }
    return true;
}

std::wstring baseName(std::wstring_view path) {
    size_t i = path.size();
    while (i > 0 && !isSep(path[i - 1])) {
        --i;
    }
    return std::wstring(path.substr(i));
}

DWORD copyOut(const std::wstring& text, LPWSTR buffer, DWORD size) {
    if (buffer != nullptr && text.size() < size) {
        std::memcpy(buffer, text.c_str(), (text.size() + 1) * sizeof(WCHAR));
        return static_cast<DWORD>(text.size());
    }
    return static_cast<DWORD>(text.size() + 1);
}

std::string currentDirectory() {
    std::vector<char> buf(PATH_MAX);
    while (getcwd(buf.data(), buf.size()) == nullptr) {
        if (errno != ERANGE) {
            return "/";
        }
        buf.resize(buf.size() * 2);
    }
    return std::string(buf.data());
}

DWORD win32FromErrno(int error, const std::string& posixPath) {
    switch (error) {
        case 0:
            return ERROR_SUCCESS;
        case ENOENT:
            if (!posixPath.empty()) {
                std::string parent = stripTrailingSlashes(posixPath);
                size_t slash = parent.rfind('/');
                parent = slash == std::string::npos
                             ? std::string(".")
                             : (slash == 0 ? std::string("/") : parent.substr(0, slash));
                if (!isDirectory(parent)) {
                    return ERROR_PATH_NOT_FOUND;
                }
            }
            return ERROR_FILE_NOT_FOUND;
        case ENOTDIR:
        case ELOOP:
            return ERROR_PATH_NOT_FOUND;
        case EACCES:
        case EPERM:
        case EISDIR:
        case EROFS:
        case ETXTBSY:
            return ERROR_ACCESS_DENIED;
        case EEXIST:
            return ERROR_FILE_EXISTS;
        case ENOSPC:
        case EDQUOT:
        case EFBIG:
            return ERROR_DISK_FULL;
        case EMFILE:
        case ENFILE:
            return ERROR_TOO_MANY_OPEN_FILES;
        case ENAMETOOLONG:
            return ERROR_FILENAME_EXCED_RANGE;
        case EBADF:
            return ERROR_INVALID_HANDLE;
        case EINVAL:
            return ERROR_INVALID_PARAMETER;
        case ENOMEM:
            return ERROR_NOT_ENOUGH_MEMORY;
        case ENOTEMPTY:
            return ERROR_DIR_NOT_EMPTY;
        case EIO:
            return ERROR_GEN_FAILURE;
        default:
            return ERROR_GEN_FAILURE;
    }
}

}  // namespace winplat::detail

namespace winplat::paths {

using namespace winplat::detail;

std::string root() {
    std::string r;
    if (!envGet("WINPLAT_ROOT", &r) || r.empty()) {
        return "/";
    }
    return r;
}

std::string toPosix(std::wstring_view path) {
    std::wstring p(path);
    // "\\?\" and "\??\" prefixes only switch off Windows' own parsing.
    if (p.size() >= 4 && isSep(p[0]) && (isSep(p[1]) || p[1] == L'?') && p[2] == L'?' && isSep(p[3])) {
        p.erase(0, 4);
    }
    bool trailing = !p.empty() && isSep(p.back());

    if (!p.empty() && p[0] == L'/') {
        for (auto& c : p) {
            if (c == L'\\') {
                c = L'/';
            }
        }
        return winplat::utf16ToUtf8(p);
    }

    std::string base;
    std::vector<std::wstring> comps;
    if (hasDrive(p)) {
        base = rootPrefix() + "/" + static_cast<char>(p[0] | 0x20);
        comps = splitComponents(std::wstring_view(p).substr(2));
        foldDots(comps);
    } else if (!p.empty() && p[0] == L'\\') {
        base = rootPrefix() + "/" + static_cast<char>(currentDrive());
        comps = splitComponents(p);
        foldDots(comps);
    } else {
        // Relative: ".." may climb out of the current directory.
        base = currentDirectory();
        std::vector<std::wstring> raw = splitComponents(p);
        for (auto& c : raw) {
            if (c == L".") {
                continue;
            }
            if (c == L"..") {
                if (!comps.empty()) {
                    comps.pop_back();
                } else {
                    size_t slash = base.rfind('/');
                    base = slash == 0 || slash == std::string::npos ? std::string() : base.substr(0, slash);
                }
                continue;
            }
            comps.push_back(std::move(c));
        }
        base = stripTrailingSlashes(base);
        if (base == "/") {
            base.clear();
        }
    }
    std::string out = appendResolved(base, comps);
    if (out.empty() || (trailing && out.back() != '/')) {
        out.push_back('/');
    }
    return out;
}

std::wstring toWindows(const std::string& posixPath) {
    std::string abs = posixPath;
    if (abs.empty() || abs[0] != '/') {
        abs = currentDirectory() + "/" + abs;
    }
    bool trailing = abs.size() > 1 && abs.back() == '/';
    std::vector<std::wstring> comps = splitComponents(winplat::utf8ToUtf16(abs));
    foldDots(comps);

    std::vector<std::wstring> rootComps = splitComponents(winplat::utf8ToUtf16(rootPrefix()));
    foldDots(rootComps);
    bool under = comps.size() > rootComps.size();
    for (size_t i = 0; under && i < rootComps.size(); ++i) {
        under = comps[i] == rootComps[i];
    }
    if (under) {
        const std::wstring& drive = comps[rootComps.size()];
        if (drive.size() == 1 && drive[0] >= L'a' && drive[0] <= L'z') {
            std::wstring out;
            out.push_back(static_cast<wchar_t>(drive[0] - L'a' + L'A'));
            out += L":\\";
            for (size_t i = rootComps.size() + 1; i < comps.size(); ++i) {
                out += comps[i];
                if (i + 1 < comps.size() || trailing) {
                    out += L'\\';
                }
            }
            return out;
        }
    }
    std::wstring out;
    for (const auto& c : comps) {
        out += L'/';
        out += c;
    }
    if (out.empty() || trailing) {
        out += L'/';
    }
    return out;
}

}  // namespace winplat::paths
