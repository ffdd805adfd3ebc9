// The files beside the registry file: opening them, whom and what they are
// trusted by, their rights, and refusing what is planted in their place.
#include "registry_beside.h"

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <stdio.h>
#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <memory>
#include <mutex>
#include <new>

#include "winplat/inject.h"

namespace winplat::regstore {

FileRights fileRightsOf(const struct stat& file) {
    return {true, static_cast<mode_t>(file.st_mode & 07777), file.st_uid, file.st_gid};
}

namespace {

constexpr char kLockMark[8] = {'w', 'p', 'r', 'e', 'g', 'l', 'k', '\n'};
constexpr size_t kMarkAt = sizeof(LockCounters);
static_assert(kMarkAt + sizeof kLockMark <= kLockSize);

// The name still names the file open as `st`.
bool stillNamed(const std::string& name, const struct stat& st) {
    struct stat named;
    return ::lstat(name.c_str(), &named) == 0 && named.st_dev == st.st_dev && named.st_ino == st.st_ino;
}

// What stands where a regular file should.
const char* whatStands(const struct stat& st) {
    return S_ISLNK(st.st_mode)    ? "a symbolic link"
           : S_ISDIR(st.st_mode)  ? "a folder"
           : S_ISSOCK(st.st_mode) ? "a socket"
           : S_ISFIFO(st.st_mode) ? "a named pipe"
                                  : "not a regular file";
}

}  // namespace

void checkpoint(const char* name) {
    if (int64_t signal = 0; winplat::inject::take(name, &signal) && signal > 0) {
        ::raise(static_cast<int>(signal));
    }
}

namespace {

ssize_t preadRetry(int fd, char* buf, size_t n, off_t at) {
    ssize_t got;
    while ((got = ::pread(fd, buf, n, at)) < 0 && errno == EINTR) {
    }
    return got;
}

// Whether the file open as `fd`, of `size` bytes, holds zero bytes only: a
// file whose data never reached the disk, whatever its size. Holes read as
// zeros, so only the data of a sparse file is read.
bool zeroOnly(int fd, off_t size) {
    // Tests stop or kill the process here, or count the scans.
    checkpoint("RegistryBesideScan");
    constexpr size_t kBlock = 64 * 1024;
    const std::unique_ptr<char[]> buf(new (std::nothrow) char[kBlock]);
    if (!buf) {
        return false;
    }
    for (off_t at = 0; at < size;) {
        off_t end = size;
        if (const off_t data = ::lseek(fd, at, SEEK_DATA); data >= 0) {
            at = data;
            const off_t hole = ::lseek(fd, at, SEEK_HOLE);
            end = hole > at ? std::min(hole, size) : size;
        } else if (errno == ENXIO) {
            return true;  // no data past `at`
        }
        while (at < end) {
            const ssize_t n =
                preadRetry(fd, buf.get(), static_cast<size_t>(std::min<off_t>(kBlock, end - at)), at);
            if (n <= 0) {
                return n == 0;  // cut meanwhile: what is left is zeros
            }
            uint64_t any = 0;
            ssize_t i = 0;
            for (; i + 8 <= n; i += 8) {
                uint64_t word;
                std::memcpy(&word, buf.get() + i, sizeof word);
                any |= word;
            }
            for (; i < n; ++i) {
                any |= static_cast<unsigned char>(buf[i]);
            }
            if (any != 0) {
                return false;
            }
            at += n;
        }
    }
    return true;
}

// A version of a file: the file, its size and its times; any write, and
// any change of its owner or mode, makes another.
struct Version {
    dev_t dev = 0;
    ino_t ino = 0;
    off_t size = -1;
    struct timespec ctime {};
    struct timespec mtime {};

    static Version of(const struct stat& st) {
        return {st.st_dev, st.st_ino, st.st_size, st.st_ctim, st.st_mtim};
    }
    bool operator==(const Version& o) const {
        return dev == o.dev && ino == o.ino && size == o.size && ctime.tv_sec == o.ctime.tv_sec &&
               ctime.tv_nsec == o.ctime.tv_nsec && mtime.tv_sec == o.mtime.tv_sec &&
               mtime.tv_nsec == o.mtime.tv_nsec;
    }
};

// What was found of the versions of files beside the registry looked at
// last: a reader without a lock file it may use looks for one again every
// 10 ms, and a version is read through for zeros once, and refused for its
// content once. A few of each are kept, for the lock file and the journal of
// a registry or two.
constexpr size_t kKept = 4;
struct Scan {
    Version version;
    bool blank = false;
};
struct Refusal {
    Version version;
    const BesideKind* kind = nullptr;
    bool trusted = false;  // the owner, by the registry file's rights then
    std::string planted;
};
std::mutex foundMutex;
Scan scans[kKept];
size_t nextScan = 0;
Refusal refusals[kKept];
size_t nextRefusal = 0;

// zeroOnly() for the version `st` of the file open as `fd`, read once.
bool blankVersion(int fd, const struct stat& st) {
    const Version v = Version::of(st);
    {
        const std::lock_guard<std::mutex> hold(foundMutex);
        for (const Scan& s : scans) {
            if (s.version == v) {
                return s.blank;
            }
        }
    }
    const bool blank = zeroOnly(fd, st.st_size);
    const std::lock_guard<std::mutex> hold(foundMutex);
    scans[nextScan] = {v, blank};
    nextScan = (nextScan + 1) % kKept;
    return blank;
}

// What the version `st` of a file of `kind`, whose owner is `trusted` or
// not, was refused as when it was looked at; "" when it was not.
std::string refusedAs(const BesideKind& kind, bool trusted, const struct stat& st) {
    const Version v = Version::of(st);
    const std::lock_guard<std::mutex> hold(foundMutex);
    for (const Refusal& r : refusals) {
        if (r.kind == &kind && r.trusted == trusted && r.version == v) {
            return r.planted;
        }
    }
    return "";
}

void refused(const BesideKind& kind, bool trusted, const struct stat& st, const std::string& planted) {
    const std::lock_guard<std::mutex> hold(foundMutex);
    refusals[nextRefusal] = {Version::of(st), &kind, trusted, planted};
    nextRefusal = (nextRefusal + 1) % kKept;
}

// The rights that tell whom a file beside the registry, `name` (the
// registry file's name and an extension), is trusted by: those of the
// version read, else, when none was, of the file as it stands.
FileRights trustingRights(const std::string& name, const FileRights& file) {
    struct stat st;
    const size_t dot = name.rfind('.');
    const size_t slash = name.rfind('/');
    if (file.known || dot == std::string::npos || (slash != std::string::npos && dot < slash) ||
        ::stat(name.substr(0, dot).c_str(), &st) != 0) {
        return file;
    }
    return fileRightsOf(st);
}

// Removes the other name of the file beside the registry `st`, named `name`,
// when that is a temporary name of this layer's: an earlier build made files
// beside the registry with link() and unlink() where the file system cannot
// rename without replacing, and a writer killed between the two left both.
bool dropTemporaryName(const std::string& name, const struct stat& st) {
    const size_t slash = name.rfind('/');
    const size_t dot = name.rfind('.');
    if (slash == std::string::npos || dot == std::string::npos || dot < slash) {
        return false;
    }
    const std::string prefix = name.substr(slash + 1, dot - slash - 1) + ".tmp.";
    DIR* d = ::opendir(name.substr(0, slash).c_str());
    if (!d) {
        return false;
    }
    bool dropped = false;
    while (dirent* e = ::readdir(d)) {
        struct stat other;
        if (std::strncmp(e->d_name, prefix.c_str(), prefix.size()) == 0 &&
            ::fstatat(::dirfd(d), e->d_name, &other, AT_SYMLINK_NOFOLLOW) == 0 && other.st_dev == st.st_dev &&
            other.st_ino == st.st_ino) {
            dropped = ::unlinkat(::dirfd(d), e->d_name, 0) == 0 || dropped;
        }
    }
    ::closedir(d);
    return dropped;
}

// Opens `name` with `flags`: never through a symbolic link, and only a
// regular file with one name, which `name` still names once it is open (a
// name checked after it moved would tell of another file), and whose content
// is of its kind, or blank (`blank`) and of an owner this process would
// trust whole by `file`'s rights, or, for a `writer` of a kind replaced when
// blank, of anyone. Otherwise -1, with `planted` saying what stands there
// when it is not to be used (errno EPERM then), and `foreign` when that is a
// file of one name refused for its content alone, `st` its state. Anyone
// else's is refused unscanned, blank or not: its zeros would be read again
// at every look, for nothing.
int openChecked(const std::string& name, int flags, const BesideKind& kind, const FileRights& file,
                bool writer, std::string& planted, struct stat& st, bool& blank, bool& foreign) {
    planted.clear();
    blank = false;
    foreign = false;
    const auto trusts = [&](uid_t owner) {
        return (writer && kind.replacedWhenBlank) || mayTakeRights(owner, trustingRights(name, file));
    };
    for (int tries = 0; tries < 4; ++tries) {
        // A version refused for its content before is refused again unopened.
        if (struct stat named; ::lstat(name.c_str(), &named) != 0) {
            if (errno == ENOENT) {
                return -1;
            }
        } else if (S_ISREG(named.st_mode) && named.st_nlink == 1) {
            if (std::string was = refusedAs(kind, trusts(named.st_uid), named); !was.empty()) {
                planted = std::move(was);
                st = named;
                foreign = true;
                errno = EPERM;
                return -1;
            }
        }
        const int fd = ::open(name.c_str(), flags | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK);
        if (fd < 0) {
            const int e = errno;
            struct stat named;
            if (e == ELOOP) {
                planted = "a symbolic link";
            } else if (e != ENOENT && ::lstat(name.c_str(), &named) == 0 && !S_ISREG(named.st_mode)) {
                planted = whatStands(named);
            }
            errno = planted.empty() ? e : EPERM;
            return -1;
        }
        // Tests stop the process here, to move the name on meanwhile.
        checkpoint("RegistryBesideOpen");
        if (::fstat(fd, &st) != 0) {
            const int e = errno;
            ::close(fd);
            errno = e;
            return -1;
        }
        if (!S_ISREG(st.st_mode)) {
            planted = whatStands(st);
        } else if (!stillNamed(name, st)) {
            ::close(fd);
            continue;  // replaced while it was opened: look again
        } else if (st.st_nlink != 1) {
            // A temporary name is swept after any change, whoever's it is.
            if (st.st_nlink == 2 && dropTemporaryName(name, st)) {
                ::close(fd);
                continue;
            }
            planted = "a file with other names (a hard link)";
        } else {
            // Looked at twice: a blank file that another process fills
            // between the two looks is whole at the second.
            char first[64];
            for (int look = 0;; ++look) {
                const ssize_t n = preadRetry(fd, first, sizeof first, 0);
                if (n < 0 || (look > 0 && ::fstat(fd, &st) != 0)) {
                    const int e = errno;
                    ::close(fd);
                    errno = e;
                    return -1;
                }
                if (kind.isOne(first, static_cast<size_t>(n), st.st_size)) {
                    return fd;
                }
                if (look > 0) {
                    const char* other = st.st_size == 0 ? "an empty file"
                                        : kind.other ? kind.other(first, static_cast<size_t>(n), st.st_size)
                                                     : nullptr;
                    planted = other ? other : "a file with other content";
                    foreign = true;
                    refused(kind, trusts(st.st_uid), st, planted);
                    break;
                }
                // Tests stop the process here, to fill the file meanwhile.
                checkpoint("RegistryBesideLook");
                if (::fstat(fd, &st) == 0 && trusts(st.st_uid) && blankVersion(fd, st)) {
                    blank = true;
                    return fd;
                }
            }
        }
        ::close(fd);
        errno = EPERM;
        return -1;
    }
    planted = "a file replaced again and again while it was opened";
    errno = EPERM;
    return -1;
}

// Where the file system cannot rename without replacing: the file is made
// empty at its name and left blank for its maker to fill, so a process
// killed at any moment leaves nothing that the next writer does not heal.
BesideFile createInPlace(const std::string& name, const BesideKind& kind, const FileRights& file,
                         bool& made) {
    BesideFile f;
    const int fd = ::open(name.c_str(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd < 0) {
        if (errno == EEXIST) {
            return openBeside(name, kind, file, true);
        }
        f.writeErrno = errno;
        return f;
    }
    takeRights(file, fd);
    checkpoint("RegistryBesideMade");
    made = true;
    f.fd = fd;
    f.writable = true;
    f.blank = true;
    ::fstat(fd, &f.st);
    return f;
}

}  // namespace

bool flushData(int fd, const char* point) {
    if (int64_t injected = 0; winplat::inject::take(point, &injected)) {
        errno = static_cast<int>(injected);
        return false;
    }
    while (::fdatasync(fd) != 0) {
        if (errno != EINTR) {
            return false;
        }
    }
    return true;
}

bool pwriteAll(int fd, const char* p, size_t n, off_t at) {
    while (n > 0) {
        const ssize_t w = ::pwrite(fd, p, n, at);
        if (w < 0) {
            if (errno == EINTR) {
                continue;
            }
            return false;
        }
        p += w;
        n -= static_cast<size_t>(w);
        at += w;
    }
    return true;
}

BesideFile openBeside(const std::string& name, const BesideKind& kind, const FileRights& file, bool bring) {
    BesideFile f;
    f.fd = openChecked(name, O_RDWR, kind, file, bring, f.planted, f.st, f.blank, f.foreign);
    f.writable = f.fd >= 0;
    f.writeErrno = f.writable ? 0 : errno;
    if (f.fd < 0 && f.planted.empty() && (errno == EACCES || errno == EROFS || errno == EPERM)) {
        f.fd = openChecked(name, O_RDONLY, kind, file, bring, f.planted, f.st, f.blank, f.foreign);
        // A file of this layer's left with other rights than the file's:
        // brought to them, this process may write it now.
        if (f.fd >= 0 && bring && file.known && mayTakeRights(f.st.st_uid, file) && takeRights(file, f.fd)) {
            struct stat st;
            std::string planted;
            bool blank = false;
            bool foreign = false;
            const int rw = openChecked(name, O_RDWR, kind, file, bring, planted, st, blank, foreign);
            if (rw >= 0) {
                ::close(f.fd);
                f.fd = rw;
                f.st = st;
                f.blank = blank;
                f.writable = true;
                f.writeErrno = 0;
            }
        }
    }
    return f;
}

BesideFile createBeside(const std::string& name, const std::string& target, const std::string& content,
                        const BesideKind& kind, const FileRights& file, bool& made) {
    made = false;
    BesideFile f;
    // A lock file is made before any lock is held: the temporary file can
    // be swept away as a killed writer's by the process that made the lock
    // file first, and that lock file then stands at the name.
    for (int tries = 0; tries < 4; ++tries) {
        std::string tmp;
        const int fd = newTempFile(target, file, tmp);
        if (fd < 0) {
            f.writeErrno = errno;
            return f;
        }
        // On disk before its name is, once per file: a rename that replaces
        // nothing is not ordered after the data it names.
        if (!pwriteAll(fd, content.data(), content.size(), 0) || !flushData(fd, "RegistryFlushBeside")) {
            f.writeErrno = errno;
            ::close(fd);
            ::unlink(tmp.c_str());
            return f;
        }
        checkpoint("RegistryBesideCreate");
        // Never over a file another process put there first.
        int rc;
        if (int64_t injected = 0; winplat::inject::take("RegistryRenameNoReplace", &injected)) {
            rc = -1;
            errno = static_cast<int>(injected);
        } else {
            rc = ::renameat2(AT_FDCWD, tmp.c_str(), AT_FDCWD, name.c_str(), RENAME_NOREPLACE);
        }
        if (rc == 0) {
            made = true;
            f.fd = fd;
            f.writable = true;
            ::fstat(fd, &f.st);
            return f;
        }
        const int e = errno;
        ::close(fd);
        ::unlink(tmp.c_str());
        if (e == EINVAL || e == ENOSYS || e == ENOTSUP) {
            return createInPlace(name, kind, file, made);  // a file system without the flag
        }
        if (e != EEXIST && e != ENOENT) {
            f.writeErrno = e;
            errno = e;
            return f;
        }
        f = openBeside(name, kind, file, true);
        if (f.fd >= 0 || errno != ENOENT) {
            return f;
        }
    }
    f.writeErrno = errno;
    return f;
}

bool fillBlank(int fd, const std::string& content, const BesideKind& kind, struct stat& st) {
    while (::flock(fd, LOCK_EX) != 0) {
        if (errno != EINTR) {
            return false;
        }
    }
    bool whole = false;
    if (::fstat(fd, &st) == 0) {
        // Read again under the lock, whatever an earlier look found: only
        // zeros are ever written over.
        if (zeroOnly(fd, st.st_size)) {
            whole = pwriteAll(fd, content.data(), content.size(), 0) &&
                    flushData(fd, "RegistryFlushBeside") && ::fstat(fd, &st) == 0;
        } else {
            char first[64];
            const ssize_t n = preadRetry(fd, first, sizeof first, 0);
            whole = n >= 0 && kind.isOne(first, static_cast<size_t>(n), st.st_size);  // another was first
        }
    }
    const int e = errno;
    ::flock(fd, LOCK_UN);
    errno = e;
    return whole;
}

int newTempFile(const std::string& target, const FileRights& file, std::string& tmp) {
    tmp = target + ".tmp.XXXXXX";
    const int fd = ::mkostemp(tmp.data(), O_CLOEXEC);
    if (fd >= 0) {
        takeRights(file, fd);
    }
    return fd;
}

bool takeRights(const FileRights& file, int fd) {
    struct stat st;
    if (::fstat(fd, &st) != 0) {
        return false;
    }
    bool changed = false;
    if (file.known && (st.st_uid != file.uid || st.st_gid != file.gid)) {
        changed = ::fchown(fd, file.uid, file.gid) == 0 ||
                  (st.st_gid != file.gid && ::fchown(fd, static_cast<uid_t>(-1), file.gid) == 0);
    }
    const mode_t mode = file.known ? file.mode : kNewFileMode;
    if (changed || (st.st_mode & 07777) != mode) {
        changed = ::fchmod(fd, mode) == 0 || changed;
    }
    return changed;
}

bool trustedOwner(uid_t owner, const FileRights& file) {
    return owner == 0 || (file.known && (owner == file.uid || (file.mode & 06) == 06));
}

bool mayTakeRights(uid_t owner, const FileRights& file) {
    return trustedOwner(owner, file) || owner == ::geteuid();
}

bool journalFits(const FileRights& file, const struct stat& journal) {
    const mode_t f = file.known ? file.mode & 0777 : kNewFileMode;
    const mode_t j = journal.st_mode & 0777;
    const mode_t others = f & 07;
    const mode_t group = file.known && journal.st_gid == file.gid ? (f >> 3) & 07 : others;
    return (j & 07 & ~others) == 0 && ((j >> 3) & 07 & ~group) == 0;
}

std::string newLockContent() {
    std::string content(kLockSize, '\0');
    std::memcpy(content.data() + kMarkAt, kLockMark, sizeof kLockMark);
    return content;
}

namespace {

bool isLockContent(const char* first, size_t n, off_t size) {
    return size >= static_cast<off_t>(kLockSize) && n >= kMarkAt + sizeof kLockMark &&
           std::memcmp(first + kMarkAt, kLockMark, sizeof kLockMark) == 0;
}

// An earlier build's lock file held its counters alone, with no mark.
const char* otherLock(const char*, size_t, off_t size) {
    return size == static_cast<off_t>(sizeof(LockCounters))
               ? "a lock file of an earlier build; remove it once no process of that build runs"
               : nullptr;
}

}  // namespace

const BesideKind kLockKind = {isLockContent, otherLock, false};

namespace {

// The counters' mappings, for the SIGBUS handler: a lock file cut from
// outside leaves its mapping with no page behind it.
constexpr int kGuarded = 16;
struct Guarded {
    std::atomic<uintptr_t> base{0};
    std::atomic<std::atomic<bool>*> cut{nullptr};
};
Guarded guarded[kGuarded];
struct sigaction previousBus;
uintptr_t pageSize = 4096;

void onBus(int sig, siginfo_t* info, void* context) {
    const auto at = reinterpret_cast<uintptr_t>(info->si_addr);
    if (info->si_code == BUS_ADRERR) {
        for (Guarded& g : guarded) {
            const uintptr_t base = g.base.load(std::memory_order_acquire);
            if (base > 1 && at >= base && at < base + pageSize &&
                ::mmap(reinterpret_cast<void*>(base), pageSize, PROT_READ | PROT_WRITE,
                       MAP_FIXED | MAP_PRIVATE | MAP_ANONYMOUS, -1, 0) != MAP_FAILED) {
                if (std::atomic<bool>* cut = g.cut.load(std::memory_order_acquire)) {
                    cut->store(true, std::memory_order_release);
                }
                return;  // the access is made again, on zeros
            }
        }
    }
    if (info->si_code <= 0 && !(previousBus.sa_flags & SA_SIGINFO) && previousBus.sa_handler == SIG_IGN) {
        return;  // sent, not a fault: ignored, as the program chose
    }
    if (previousBus.sa_flags & SA_SIGINFO) {
        previousBus.sa_sigaction(sig, info, context);
    } else if (previousBus.sa_handler != SIG_DFL && previousBus.sa_handler != SIG_IGN) {
        previousBus.sa_handler(sig);
    } else {
        // Not ours: the process ends of it as it would have without this handler.
        ::signal(SIGBUS, SIG_DFL);
        ::raise(SIGBUS);
    }
}

void installBusHandler() {
    static std::once_flag once;
    std::call_once(once, [] {
        pageSize = static_cast<uintptr_t>(::sysconf(_SC_PAGESIZE));
        struct sigaction sa {};
        sa.sa_sigaction = onBus;
        sa.sa_flags = SA_SIGINFO | SA_RESTART;
        sigemptyset(&sa.sa_mask);
        ::sigaction(SIGBUS, &sa, &previousBus);
    });
}

}  // namespace

LockCounters* mapCounters(int fd, bool writable, std::atomic<bool>* cut) {
    installBusHandler();
    Guarded* slot = nullptr;
    for (Guarded& g : guarded) {
        uintptr_t none = 0;
        // Claimed with a value no mapping has, then given the mapping's.
        if (g.base.compare_exchange_strong(none, 1)) {
            slot = &g;
            break;
        }
    }
    if (!slot) {
        return nullptr;
    }
    void* map = ::mmap(nullptr, sizeof(LockCounters), writable ? PROT_READ | PROT_WRITE : PROT_READ,
                       MAP_SHARED, fd, 0);
    if (map == MAP_FAILED) {
        slot->base.store(0);
        return nullptr;
    }
    slot->cut.store(cut, std::memory_order_release);
    slot->base.store(reinterpret_cast<uintptr_t>(map), std::memory_order_release);
    return static_cast<LockCounters*>(map);
}

void unmapCounters(LockCounters* counters) {
    const auto base = reinterpret_cast<uintptr_t>(counters);
    for (Guarded& g : guarded) {
        uintptr_t expected = base;
        if (g.base.compare_exchange_strong(expected, 1)) {
            g.cut.store(nullptr, std::memory_order_release);
            ::munmap(counters, sizeof(LockCounters));
            g.base.store(0, std::memory_order_release);
            return;
        }
    }
}

}  // namespace winplat::regstore
