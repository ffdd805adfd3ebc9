// File handles over POSIX descriptors, with Windows sharing and
// delete-on-close kept among the opens of this process.
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "files_internal.h"
#include "inject_internal.h"
#include "kinternal.h"
#include "kobject.h"
#include "winplat/files.h"
#include "winplat/inject.h"
#include "winplat/kernel.h"
#include "winplat/utf16.h"

namespace {

using namespace winplat::detail;

constexpr DWORD kReadBits = GENERIC_READ | 0x10000000u /* GENERIC_ALL */ | 0x0001u /* FILE_READ_DATA */;
constexpr DWORD kWriteBits =
    GENERIC_WRITE | 0x10000000u | 0x0002u /* FILE_WRITE_DATA */ | 0x0004u /* APPEND */;
constexpr DWORD kDeleteBits = 0x00010000u /* DELETE */ | 0x10000000u;
constexpr int64_t kFileTimeEpochOffset = 116444736000000000LL;  // 1601 -> 1970 in 100 ns

// Access kinds that matter for sharing.
struct Access {
    bool read = false;
    bool write = false;
    bool del = false;
};

class FileObject;

struct InodeState {
    std::vector<FileObject*> opens;
    bool deletePending = false;
    std::string deletePath;  // the name a delete-on-close open removes
};

struct InodeKey {
    dev_t dev;
    ino_t ino;
    bool operator<(const InodeKey& o) const { return dev != o.dev ? dev < o.dev : ino < o.ino; }
};

struct OpenTable {
    winplat::kernel::PlatformLock mutex;
    std::map<InodeKey, InodeState> files;
};

OpenTable& openTable() {
    static OpenTable* t = new OpenTable;
    return *t;
}

class FileObject : public winplat::kernel::Object {
  public:
    FileObject(int fd, std::string path, Access access, DWORD share, bool deleteOnClose)
        : fd(fd), path(std::move(path)), access(access), share(share), deleteOnClose(deleteOnClose) {}

    ~FileObject() override {
        if (registered) {
            OpenTable& t = openTable();
            winplat::kernel::PlatformGuard lock(t.mutex);
            auto it = t.files.find(key);
            if (it != t.files.end()) {
                InodeState& s = it->second;
                std::erase(s.opens, this);
                if (deleteOnClose && !s.deletePending) {
                    s.deletePending = true;
                    s.deletePath = path;
                }
                if (s.opens.empty()) {
                    if (s.deletePending) {
                        // Only the file this open had: the name may have been
                        // reused since.
                        struct stat st;
                        if (lstat(s.deletePath.c_str(), &st) == 0 && st.st_dev == key.dev &&
                            st.st_ino == key.ino) {
                            unlink(s.deletePath.c_str());
                        }
                    }
                    t.files.erase(it);
                }
            }
        }
        if (fd >= 0) {
            close(fd);
        }
    }

    int fd;
    std::string path;
    Access access;
    DWORD share;
    bool deleteOnClose;
    bool registered = false;
    InodeKey key{};
    winplat::kernel::PlatformLock mutex;  // guards position
    int64_t position = 0;
};

Access accessOf(DWORD desired, bool deleteOnClose) {
    Access a;
    a.read = (desired & kReadBits) != 0;
    a.write = (desired & kWriteBits) != 0;
    a.del = (desired & kDeleteBits) != 0 || deleteOnClose;
    return a;
}

// An open without data or delete access takes no part in sharing.
bool compatible(const Access& a, DWORD aShare, const Access& b, DWORD bShare) {
    if (!(a.read || a.write || a.del) || !(b.read || b.write || b.del)) {
        return true;
    }
    auto refuses = [](const Access& want, DWORD otherShare) {
        return (want.read && !(otherShare & FILE_SHARE_READ)) ||
               (want.write && !(otherShare & FILE_SHARE_WRITE)) ||
               (want.del && !(otherShare & FILE_SHARE_DELETE));
    };
    return !refuses(a, bShare) && !refuses(b, aShare);
}

bool fail(DWORD error) {
    SetLastError(error);
    return false;
}

std::shared_ptr<FileObject> fileOf(HANDLE h) {
    auto f = winplat::kernel::fromHandleAs<FileObject>(h);
    if (!f) {
        SetLastError(ERROR_INVALID_HANDLE);
    }
    return f;
}

FILETIME toFileTime(const struct timespec& ts) {
    int64_t v = static_cast<int64_t>(ts.tv_sec) * 10000000LL + ts.tv_nsec / 100 + kFileTimeEpochOffset;
    if (v < 0) {
        v = 0;
    }
    FILETIME ft;
    ft.dwLowDateTime = static_cast<DWORD>(static_cast<uint64_t>(v) & 0xFFFFFFFFu);
    ft.dwHighDateTime = static_cast<DWORD>(static_cast<uint64_t>(v) >> 32);
    return ft;
}

// A lexical full path in the form of its input.
bool fullPath(const std::wstring& name, std::wstring* out, size_t* fileStart) {
    std::wstring p = name;
    wchar_t sep;
    std::wstring prefix;
    std::wstring rest;
    if (!p.empty() && p[0] == L'/') {
        sep = L'/';
        prefix = L"/";
        rest = p.substr(1);
    } else if (p.size() >= 2 && p[1] == L':' &&
               ((p[0] >= L'a' && p[0] <= L'z') || (p[0] >= L'A' && p[0] <= L'Z'))) {
        sep = L'\\';
        prefix = p.substr(0, 2) + L"\\";
        rest = p.substr(2);
    } else {
        std::wstring cwd = winplat::paths::toWindows(currentDirectory());
        bool cwdWindows = cwd.size() >= 2 && cwd[1] == L':';
        if (!p.empty() && p[0] == L'\\') {
            // Rooted on the current drive.
            sep = L'\\';
            prefix = (cwdWindows ? cwd.substr(0, 2) : std::wstring(L"C:")) + L"\\";
            rest = p;
        } else if (cwdWindows) {
            sep = L'\\';
            prefix = cwd.substr(0, 3);
            rest = cwd.substr(3) + L"\\" + p;
        } else {
            sep = L'/';
            prefix = L"/";
            rest = cwd.substr(1) + L"/" + p;
        }
    }
    bool trailing = !rest.empty() && (rest.back() == L'\\' || rest.back() == L'/');
    std::vector<std::wstring> comps;
    std::wstring cur;
    for (wchar_t c : rest + L"/") {
        if (c == L'\\' || c == L'/') {
            if (cur == L"..") {
                if (!comps.empty())
                    comps.pop_back();
            } else if (!cur.empty() && cur != L".") {
                comps.push_back(cur);
            }
            cur.clear();
        } else {
            cur.push_back(c);
        }
    }
    std::wstring r = prefix;
    for (size_t i = 0; i < comps.size(); ++i) {
        if (i > 0)
            r += sep;
        r += comps[i];
    }
    if (trailing && !comps.empty()) {
        r += sep;
    }
    *out = r;
    *fileStart = (trailing || comps.empty()) ? std::wstring::npos : r.size() - comps.back().size();
    return true;
}

std::wstring tempFolder() {
    std::string value;
    if (!envGet("TMP", &value) && !envGet("TEMP", &value) && !envGet("TMPDIR", &value)) {
        value = "/tmp";
    }
    if (value.empty()) {
        value = "/tmp";
    }
    std::wstring w = winplat::utf8ToUtf16(value);
    std::wstring full;
    size_t filePart = 0;
    if (isWindowsForm(w)) {
        fullPath(w, &full, &filePart);
    } else {
        std::string posix = value[0] == '/' ? value : currentDirectory() + "/" + value;
        full = winplat::paths::toWindows(posix);
    }
    wchar_t sep = isWindowsForm(full) ? L'\\' : L'/';
    if (full.back() != L'\\' && full.back() != L'/') {
        full += sep;
    }
    return full;
}

std::atomic<uint32_t>& tempCounter() {
    static std::atomic<uint32_t> c{
        static_cast<uint32_t>(std::chrono::steady_clock::now().time_since_epoch().count() ^
                              (static_cast<uint64_t>(getpid()) << 7))};
    return c;
}

}  // namespace

extern "C" {

HANDLE WINAPI CreateFileW(LPCWSTR lpFileName, DWORD dwDesiredAccess, DWORD dwShareMode,
                          LPSECURITY_ATTRIBUTES /*lpSecurityAttributes*/, DWORD dwCreationDisposition,
                          DWORD dwFlagsAndAttributes, HANDLE hTemplateFile) {
    if (injected("CreateFileW")) {
        return INVALID_HANDLE_VALUE;
    }
    if (lpFileName == nullptr || hTemplateFile != nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return INVALID_HANDLE_VALUE;
    }
    if (*lpFileName == 0) {
        SetLastError(ERROR_PATH_NOT_FOUND);
        return INVALID_HANDLE_VALUE;
    }
    bool deleteOnClose = (dwFlagsAndAttributes & FILE_FLAG_DELETE_ON_CLOSE) != 0;
    Access access = accessOf(dwDesiredAccess, deleteOnClose);
    if (dwCreationDisposition < CREATE_NEW || dwCreationDisposition > TRUNCATE_EXISTING ||
        (dwCreationDisposition == TRUNCATE_EXISTING && !access.write)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return INVALID_HANDLE_VALUE;
    }
    std::string path = winplat::paths::toPosix(lpFileName);
    int oflags = O_CLOEXEC | (access.read && access.write ? O_RDWR : access.write ? O_WRONLY : O_RDONLY);

    int fd = -1;
    bool existed = false;
    bool created = false;
    for (int attempt = 0; attempt < 16 && fd < 0; ++attempt) {
        switch (dwCreationDisposition) {
            case CREATE_NEW:
                fd = open(path.c_str(), oflags | O_CREAT | O_EXCL, 0666);
                created = fd >= 0;
                break;
            case CREATE_ALWAYS:
            case OPEN_ALWAYS:
                fd = open(path.c_str(), oflags | O_CREAT | O_EXCL, 0666);
                if (fd >= 0) {
                    created = true;
                } else if (errno == EEXIST) {
                    fd = open(path.c_str(), oflags);
                    existed = fd >= 0;
                    if (fd < 0 && errno == ENOENT) {
                        continue;  // removed in between: try to create again
                    }
                }
                break;
            default:
                fd = open(path.c_str(), oflags);
                existed = fd >= 0;
                break;
        }
        if (fd < 0) {
            break;
        }
    }
    if (fd < 0) {
        SetLastError(win32FromErrno(errno, path));
        return INVALID_HANDLE_VALUE;
    }
    struct stat st;
    if (fstat(fd, &st) != 0 || S_ISDIR(st.st_mode)) {
        close(fd);
        SetLastError(ERROR_ACCESS_DENIED);
        return INVALID_HANDLE_VALUE;
    }

    auto file = std::make_shared<FileObject>(fd, path, access, dwShareMode, deleteOnClose);
    file->key = InodeKey{st.st_dev, st.st_ino};
    {
        OpenTable& t = openTable();
        winplat::kernel::PlatformGuard lock(t.mutex);
        InodeState& s = t.files[file->key];
        DWORD error = ERROR_SUCCESS;
        if (s.deletePending) {
            error = ERROR_ACCESS_DENIED;
        } else {
            for (FileObject* other : s.opens) {
                if (!compatible(access, dwShareMode, other->access, other->share)) {
                    error = ERROR_SHARING_VIOLATION;
                    break;
                }
            }
        }
        if (error != ERROR_SUCCESS) {
            if (s.opens.empty()) {
                t.files.erase(file->key);
            }
            SetLastError(error);
            return INVALID_HANDLE_VALUE;  // `file` closes the descriptor
        }
        s.opens.push_back(file.get());
        file->registered = true;
    }
    if ((dwCreationDisposition == CREATE_ALWAYS && existed) || dwCreationDisposition == TRUNCATE_EXISTING) {
        if (ftruncate(fd, 0) != 0) {
            SetLastError(win32FromErrno(errno));
            return INVALID_HANDLE_VALUE;
        }
    }
    HANDLE h = winplat::kernel::makeHandle(file);
    if (h == nullptr) {
        if (created) {
            file->deleteOnClose = true;  // leave nothing behind
        }
        return INVALID_HANDLE_VALUE;
    }
    bool reportExists =
        existed && (dwCreationDisposition == CREATE_ALWAYS || dwCreationDisposition == OPEN_ALWAYS);
    SetLastError(reportExists ? ERROR_ALREADY_EXISTS : ERROR_SUCCESS);
    return h;
}

BOOL WINAPI ReadFile(HANDLE hFile, LPVOID lpBuffer, DWORD nNumberOfBytesToRead, LPDWORD lpNumberOfBytesRead,
                     LPOVERLAPPED lpOverlapped) {
    if (lpNumberOfBytesRead) {
        *lpNumberOfBytesRead = 0;
    }
    if (injected("ReadFile")) {
        return FALSE;
    }
    auto f = fileOf(hFile);
    if (!f) {
        return FALSE;
    }
    if (lpOverlapped != nullptr || (lpBuffer == nullptr && nNumberOfBytesToRead != 0)) {
        return fail(ERROR_INVALID_PARAMETER);
    }
    if (!f->access.read) {
        return fail(ERROR_ACCESS_DENIED);
    }
    winplat::kernel::PlatformGuard lock(f->mutex);
    DWORD done = 0;
    while (done < nNumberOfBytesToRead) {
        ssize_t n = pread(f->fd, static_cast<char*>(lpBuffer) + done, nNumberOfBytesToRead - done,
                          static_cast<off_t>(f->position + done));
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            if (errno == EINVAL || errno == EFBIG) {
                break;  // a position beyond what the file system can hold: end of file
            }
            f->position += done;
            if (lpNumberOfBytesRead)
                *lpNumberOfBytesRead = done;
            return fail(win32FromErrno(errno));
        }
        if (n == 0) {
            break;
        }
        done += static_cast<DWORD>(n);
    }
    f->position += done;
    if (lpNumberOfBytesRead) {
        *lpNumberOfBytesRead = done;
    }
    return TRUE;
}

BOOL WINAPI WriteFile(HANDLE hFile, LPCVOID lpBuffer, DWORD nNumberOfBytesToWrite,
                      LPDWORD lpNumberOfBytesWritten, LPOVERLAPPED lpOverlapped) {
    if (lpNumberOfBytesWritten) {
        *lpNumberOfBytesWritten = 0;
    }
    if (injected("WriteFile")) {
        return FALSE;
    }
    auto f = fileOf(hFile);
    if (!f) {
        return FALSE;
    }
    if (lpOverlapped != nullptr || (lpBuffer == nullptr && nNumberOfBytesToWrite != 0)) {
        return fail(ERROR_INVALID_PARAMETER);
    }
    if (!f->access.write) {
        return fail(ERROR_ACCESS_DENIED);
    }
    winplat::kernel::PlatformGuard lock(f->mutex);
    DWORD done = 0;
    while (done < nNumberOfBytesToWrite) {
        ssize_t n = pwrite(f->fd, static_cast<const char*>(lpBuffer) + done, nNumberOfBytesToWrite - done,
                           static_cast<off_t>(f->position + done));
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            DWORD error = errno == EINVAL ? ERROR_DISK_FULL : win32FromErrno(errno);
            f->position += done;
            if (lpNumberOfBytesWritten)
                *lpNumberOfBytesWritten = done;
            return fail(error);
        }
        done += static_cast<DWORD>(n);
    }
    f->position += done;
    if (lpNumberOfBytesWritten) {
        *lpNumberOfBytesWritten = done;
    }
    return TRUE;
}

BOOL WINAPI SetFilePointerEx(HANDLE hFile, LARGE_INTEGER liDistanceToMove, PLARGE_INTEGER lpNewFilePointer,
                             DWORD dwMoveMethod) {
    if (injected("SetFilePointerEx")) {
        return FALSE;
    }
    auto f = fileOf(hFile);
    if (!f) {
        return FALSE;
    }
    winplat::kernel::PlatformGuard lock(f->mutex);
    int64_t base;
    switch (dwMoveMethod) {
        case FILE_BEGIN:
            base = 0;
            break;
        case FILE_CURRENT:
            base = f->position;
            break;
        case FILE_END: {
            struct stat st;
            if (fstat(f->fd, &st) != 0) {
                return fail(win32FromErrno(errno));
            }
            base = st.st_size;
            break;
        }
        default:
            return fail(ERROR_INVALID_PARAMETER);
    }
    int64_t target;
    if (__builtin_add_overflow(base, liDistanceToMove.QuadPart, &target)) {
        return fail(liDistanceToMove.QuadPart < 0 ? ERROR_NEGATIVE_SEEK : ERROR_INVALID_PARAMETER);
    }
    if (target < 0) {
        return fail(ERROR_NEGATIVE_SEEK);
    }
    f->position = target;
    if (lpNewFilePointer) {
        lpNewFilePointer->QuadPart = target;
    }
    return TRUE;
}

DWORD WINAPI SetFilePointer(HANDLE hFile, LONG lDistanceToMove, PLONG lpDistanceToMoveHigh,
                            DWORD dwMoveMethod) {
    LARGE_INTEGER distance;
    if (lpDistanceToMoveHigh) {
        distance.QuadPart =
            static_cast<int64_t>((static_cast<uint64_t>(static_cast<uint32_t>(*lpDistanceToMoveHigh)) << 32) |
                                 static_cast<uint32_t>(lDistanceToMove));
    } else {
        distance.QuadPart = lDistanceToMove;
    }
    if (!lpDistanceToMoveHigh) {
        // Without the high part the result must fit in 32 bits: check first,
        // so a refused move leaves the pointer where it was.
        auto f = fileOf(hFile);
        if (!f) {
            return INVALID_SET_FILE_POINTER;
        }
        int64_t base = 0;
        {
            winplat::kernel::PlatformGuard lock(f->mutex);
            if (dwMoveMethod == FILE_CURRENT) {
                base = f->position;
            } else if (dwMoveMethod == FILE_END) {
                struct stat st;
                base = fstat(f->fd, &st) == 0 ? st.st_size : 0;
            }
        }
        int64_t target = base + distance.QuadPart;
        if (target > 0xFFFFFFFELL) {
            SetLastError(ERROR_INVALID_PARAMETER);
            return INVALID_SET_FILE_POINTER;
        }
    }
    LARGE_INTEGER result;
    if (!SetFilePointerEx(hFile, distance, &result, dwMoveMethod)) {
        return INVALID_SET_FILE_POINTER;
    }
    if (lpDistanceToMoveHigh) {
        *lpDistanceToMoveHigh = result.u.HighPart;
    }
    if (result.u.LowPart == INVALID_SET_FILE_POINTER) {
        SetLastError(NO_ERROR);  // a valid position that looks like the failure value
    }
    return result.u.LowPart;
}

BOOL WINAPI SetEndOfFile(HANDLE hFile) {
    if (injected("SetEndOfFile")) {
        return FALSE;
    }
    auto f = fileOf(hFile);
    if (!f) {
        return FALSE;
    }
    if (!f->access.write) {
        return fail(ERROR_ACCESS_DENIED);
    }
    winplat::kernel::PlatformGuard lock(f->mutex);
    if (ftruncate(f->fd, static_cast<off_t>(f->position)) != 0) {
        return fail(errno == EINVAL ? ERROR_DISK_FULL : win32FromErrno(errno));
    }
    return TRUE;
}

BOOL WINAPI GetFileSizeEx(HANDLE hFile, PLARGE_INTEGER lpFileSize) {
    if (injected("GetFileSizeEx")) {
        return FALSE;
    }
    auto f = fileOf(hFile);
    if (!f) {
        return FALSE;
    }
    if (!lpFileSize) {
        return fail(ERROR_INVALID_PARAMETER);
    }
    struct stat st;
    if (fstat(f->fd, &st) != 0) {
        return fail(win32FromErrno(errno));
    }
    lpFileSize->QuadPart = st.st_size;
    return TRUE;
}

BOOL WINAPI GetFileInformationByHandle(HANDLE hFile, LPBY_HANDLE_FILE_INFORMATION lpFileInformation) {
    if (injected("GetFileInformationByHandle")) {
        return FALSE;
    }
    auto f = fileOf(hFile);
    if (!f) {
        return FALSE;
    }
    if (!lpFileInformation) {
        return fail(ERROR_INVALID_PARAMETER);
    }
    struct statx sx;
    if (statx(f->fd, "", AT_EMPTY_PATH, STATX_BASIC_STATS | STATX_BTIME, &sx) != 0) {
        return fail(win32FromErrno(errno));
    }
    auto ts = [](const struct statx_timestamp& t) {
        struct timespec r;
        r.tv_sec = t.tv_sec;
        r.tv_nsec = t.tv_nsec;
        return r;
    };
    BY_HANDLE_FILE_INFORMATION info{};
    info.dwFileAttributes = (sx.stx_mode & S_IWUSR) ? FILE_ATTRIBUTE_NORMAL : FILE_ATTRIBUTE_READONLY;
    info.ftLastAccessTime = toFileTime(ts(sx.stx_atime));
    info.ftLastWriteTime = toFileTime(ts(sx.stx_mtime));
    // Without a birth time the older of change and write time stands in.
    if (sx.stx_mask & STATX_BTIME) {
        info.ftCreationTime = toFileTime(ts(sx.stx_btime));
    } else {
        bool ctimeOlder =
            sx.stx_ctime.tv_sec < sx.stx_mtime.tv_sec ||
            (sx.stx_ctime.tv_sec == sx.stx_mtime.tv_sec && sx.stx_ctime.tv_nsec < sx.stx_mtime.tv_nsec);
        info.ftCreationTime = toFileTime(ts(ctimeOlder ? sx.stx_ctime : sx.stx_mtime));
    }
    info.dwVolumeSerialNumber = static_cast<DWORD>(makedev(sx.stx_dev_major, sx.stx_dev_minor) & 0xFFFFFFFFu);
    info.nFileSizeHigh = static_cast<DWORD>(sx.stx_size >> 32);
    info.nFileSizeLow = static_cast<DWORD>(sx.stx_size & 0xFFFFFFFFu);
    info.nNumberOfLinks = sx.stx_nlink;
    info.nFileIndexHigh = static_cast<DWORD>(sx.stx_ino >> 32);
    info.nFileIndexLow = static_cast<DWORD>(sx.stx_ino & 0xFFFFFFFFu);
    *lpFileInformation = info;
    return TRUE;
}

BOOL WINAPI FlushFileBuffers(HANDLE hFile) {
    auto f = fileOf(hFile);
    if (!f) {
        return FALSE;
    }
    if (!f->access.write) {
        return fail(ERROR_ACCESS_DENIED);
    }
    if (fsync(f->fd) != 0) {
        return fail(win32FromErrno(errno));
    }
    return TRUE;
}

BOOL WINAPI DeleteFileW(LPCWSTR lpFileName) {
    if (injected("DeleteFileW")) {
        return FALSE;
    }
    if (lpFileName == nullptr) {
        return fail(ERROR_INVALID_PARAMETER);
    }
    if (*lpFileName == 0) {
        return fail(ERROR_PATH_NOT_FOUND);
    }
    std::string path = winplat::paths::toPosix(lpFileName);
    struct stat st;
    if (lstat(path.c_str(), &st) != 0) {
        return fail(win32FromErrno(errno, path));
    }
    if (S_ISDIR(st.st_mode) || !(st.st_mode & S_IWUSR)) {
        return fail(ERROR_ACCESS_DENIED);
    }
    OpenTable& t = openTable();
    winplat::kernel::PlatformGuard lock(t.mutex);
    auto it = t.files.find(InodeKey{st.st_dev, st.st_ino});
    if (it != t.files.end()) {
        if (it->second.deletePending) {
            return fail(ERROR_ACCESS_DENIED);
        }
        for (FileObject* other : it->second.opens) {
            if (!(other->share & FILE_SHARE_DELETE)) {
                return fail(ERROR_SHARING_VIOLATION);
            }
        }
    }
    if (unlink(path.c_str()) != 0) {
        return fail(win32FromErrno(errno, path));
    }
    return TRUE;
}

DWORD WINAPI GetFileAttributesW(LPCWSTR lpFileName) {
    if (injected("GetFileAttributesW")) {
        return INVALID_FILE_ATTRIBUTES;
    }
    if (lpFileName == nullptr || *lpFileName == 0) {
        SetLastError(lpFileName == nullptr ? ERROR_INVALID_PARAMETER : ERROR_PATH_NOT_FOUND);
        return INVALID_FILE_ATTRIBUTES;
    }
    std::string path = winplat::paths::toPosix(lpFileName);
    struct stat st;
    if (stat(path.c_str(), &st) != 0) {
        SetLastError(win32FromErrno(errno, path));
        return INVALID_FILE_ATTRIBUTES;
    }
    if (S_ISDIR(st.st_mode)) {
        return FILE_ATTRIBUTE_DIRECTORY;
    }
    return (st.st_mode & S_IWUSR) ? FILE_ATTRIBUTE_NORMAL : FILE_ATTRIBUTE_READONLY;
}

DWORD WINAPI GetFullPathNameW(LPCWSTR lpFileName, DWORD nBufferLength, LPWSTR lpBuffer, LPWSTR* lpFilePart) {
    if (injected("GetFullPathNameW")) {
        return 0;
    }
    if (lpFileName == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    if (*lpFileName == 0) {
        SetLastError(ERROR_INVALID_NAME);
        return 0;
    }
    std::wstring full;
    size_t filePart = 0;
    fullPath(lpFileName, &full, &filePart);
    DWORD r = copyOut(full, lpBuffer, nBufferLength);
    if (r < nBufferLength && lpBuffer != nullptr && lpFilePart != nullptr) {
        *lpFilePart = filePart == std::wstring::npos ? nullptr : lpBuffer + filePart;
    }
    return r;
}

DWORD WINAPI GetTempPathW(DWORD nBufferLength, LPWSTR lpBuffer) {
    if (injected("GetTempPathW")) {
        return 0;
    }
    return copyOut(tempFolder(), lpBuffer, nBufferLength);
}

UINT WINAPI GetTempFileNameW(LPCWSTR lpPathName, LPCWSTR lpPrefixString, UINT uUnique,
                             LPWSTR lpTempFileName) {
    if (injected("GetTempFileNameW")) {
        return 0;
    }
    if (lpPathName == nullptr || lpTempFileName == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    std::wstring folder = lpPathName;
    if (folder.size() > MAX_PATH - 14) {
        SetLastError(ERROR_BUFFER_OVERFLOW);
        return 0;
    }
    std::wstring prefix = lpPrefixString ? std::wstring(lpPrefixString).substr(0, 3) : std::wstring();
    std::wstring dir = folder;
    if (!dir.empty() && dir.back() != L'\\' && dir.back() != L'/') {
        dir += (!dir.empty() && dir[0] == L'/') ? L'/' : L'\\';
    }
    auto nameFor = [&](UINT n) {
        wchar_t hex[8];
        swprintf(hex, 8, L"%X", n & 0xFFFFu);
        return dir + prefix + hex + L".TMP";
    };
    auto finish = [&](const std::wstring& name, UINT n) -> UINT {
        if (name.size() >= MAX_PATH) {
            SetLastError(ERROR_BUFFER_OVERFLOW);
            return 0;
        }
        std::memcpy(lpTempFileName, name.c_str(), (name.size() + 1) * sizeof(WCHAR));
        return n;
    };
    if (uUnique != 0) {
        return finish(nameFor(uUnique), uUnique & 0xFFFFu);
    }
    std::string posixDir = winplat::paths::toPosix(folder.empty() ? std::wstring(L".") : folder);
    struct stat st;
    if (stat(posixDir.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) {
        SetLastError(ERROR_DIRECTORY);
        return 0;
    }
    if (posixDir.back() != '/') {
        posixDir += '/';
    }
    for (int tries = 0; tries < 0x10000; ++tries) {
        UINT n = tempCounter().fetch_add(1) & 0xFFFFu;
        if (n == 0) {
            continue;
        }
        std::wstring name = nameFor(n);
        std::string posix = posixDir + winplat::utf16ToUtf8(winplat::detail::baseName(name));
        int fd = open(posix.c_str(), O_CREAT | O_EXCL | O_WRONLY | O_CLOEXEC, 0666);
        if (fd >= 0) {
            close(fd);
            UINT r = finish(name, n);
            if (r == 0) {
                unlink(posix.c_str());
            }
            return r;
        }
        if (errno != EEXIST) {
            SetLastError(win32FromErrno(errno, posix));
            return 0;
        }
    }
    SetLastError(ERROR_FILE_EXISTS);
    return 0;
}

UINT WINAPI GetSystemDirectoryW(LPWSTR lpBuffer, UINT uSize) {
    if (injected("GetSystemDirectoryW")) {
        return 0;
    }
    return copyOut(L"C:\\Windows\\system32", lpBuffer, uSize);
}

UINT WINAPI GetWindowsDirectoryW(LPWSTR lpBuffer, UINT uSize) {
    if (injected("GetWindowsDirectoryW")) {
        return 0;
    }
    return copyOut(L"C:\\Windows", lpBuffer, uSize);
}

}  // extern "C"
