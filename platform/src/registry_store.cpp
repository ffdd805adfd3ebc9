// The registry's storage: the tree, the file named by WINPLAT_REGISTRY, the
// journal beside it and the lock file.
//
// A change is decided and made in the tree under an advisory lock on
// "<file>.lock" taken exclusive (the registry file itself is replaced by
// every rewrite, so it cannot carry the lock), after the tree was brought up
// to date with the file and with every whole record of the journal,
// "<file>.journal", past the end this process knew. The change is then
// appended there as one record. Each record's checksum is seeded with the
// one before, from a salt in the journal's header that is drawn afresh
// whenever the journal starts again, so the journal itself tells where its
// valid end is: a record cut short, or one left from an earlier journal,
// ends it. The header names the file version the journal goes with. The
// tree is written whole (to a temporary file beside the file, renamed over
// it) when there is no file yet, when the journal has outgrown the file,
// and when a process that wrote ends or reloads; the journal starts again
// only after the rename, and the new file holds every record, so a writer
// killed at any point leaves a state from which the next process recovers
// everything. Records set or remove what they name, so applying them again
// to a file that holds them changes nothing. When the journal cannot be
// written the change is undone, so a failed write changes neither the file
// nor the tree. A file named through a symbolic link is written where the
// link points, with the lock beside it; the folder is resolved once, at
// load, so the files a process works on cannot move under it. A journal
// that cannot be read fails the call and changes nothing; one cut short
// from outside is made good by writing the tree, which holds what it had,
// whole. The lock file and the journal have the file's mode and owner, so
// whoever may read or write the file may read or write them; a process that
// may not write the file changes nothing, as one that may not write the
// folder. Whom and what those files are trusted by is registry_beside's.
//
// The lock file also holds, in a shared mapping, a generation that every
// writer bumps under the lock before it touches the journal or the file, and
// a count of rewrites bumped before each rename. A call compares the
// generation with the one it last read (no system call) and, when it moved,
// reads the new records under the lock taken shared; a file replaced by
// another program is noticed by its identity, checked at most every
// kOutsideCheckMs. A process that only reads creates neither file; one that
// may not write them opens them for reading; without a lock file it checks
// file and journal every kOutsideCheckMs and trusts what it read only when
// the file is the same before and after the journal was read.
#include <dirent.h>
#include <fcntl.h>
#include <linux/magic.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/uio.h>
#include <sys/vfs.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <mutex>
#include <new>
#include <set>
#include <utility>
#include <vector>

#include "registry_store.h"

#include "registry_beside.h"
#include "winplat/console.h"
#include "winplat/inject.h"
#include "winplat/registry.h"
#include "winplat/utf16.h"

using winplat::regtree::Encoding;
using winplat::regtree::Key;
using winplat::regtree::Path;

namespace winplat::regstore {

using State = Store::State;

namespace {

struct FileId {
    dev_t dev = 0;
    ino_t ino = 0;
    int64_t mtimeSec = 0;
    int64_t mtimeNsec = 0;
    off_t size = 0;
    bool exists = false;

    bool operator==(const FileId&) const = default;
};

FileId idOf(const struct stat& st) {
    FileId id{st.st_dev, st.st_ino, st.st_mtim.tv_sec, st.st_mtim.tv_nsec, st.st_size, true};
    // Tests play a file system whose file times have a coarse tick.
    int64_t tickMs = 0;
    if (winplat::inject::take("RegistryCoarseFileTimes", &tickMs) && tickMs > 0) {
        id.mtimeNsec -= id.mtimeNsec % (tickMs * 1000000);
    }
    return id;
}

// An outside change (another program replacing the file) is looked for at
// most this often; a change made through this layer is seen at once.
constexpr int64_t kOutsideCheckMs = 10;

// Milliseconds of a clock that is read without a system call.
int64_t coarseMillis() {
    struct timespec t {};
    clock_gettime(CLOCK_MONOTONIC_COARSE, &t);
    return static_cast<int64_t>(t.tv_sec) * 1000 + t.tv_nsec / 1000000;
}

// The lock file's counters are bumped under the exclusive lock before the
// files change, so a writer killed at any later point has already told every
// other process to look.
using Shared = LockCounters;

// What decides whether a change may be made to a version of the file: its
// identity, mode and owner, and its change time (a change of its rights
// moves it).
struct Rights {
    dev_t dev = 0;
    ino_t ino = 0;
    mode_t mode = 0;
    uid_t uid = 0;
    gid_t gid = 0;
    int64_t ctimeSec = -1;
    int64_t ctimeNsec = 0;

    bool operator==(const Rights&) const = default;
};

Rights rightsOf(const struct stat& st) {
    return {st.st_dev, st.st_ino, st.st_mode, st.st_uid, st.st_gid, st.st_ctim.tv_sec, st.st_ctim.tv_nsec};
}
}  // namespace

struct Store::State {
    winplat::kernel::PlatformLock* mutex;  // the callers' lock, taken before the file lock
    bool loaded = false;
    std::string file;    // "" : the registry lives in memory only
    std::string target;  // `file` with symbolic links followed: what is read and replaced
    std::unique_ptr<Key> tree;
    Encoding encoding = Encoding::Utf8;
    FileId seen;       // the file version last read (or found unusable)
    bool bad = false;  // that version cannot be used: changes are refused with badCode
    LSTATUS badCode = ERROR_SUCCESS;
    struct {
        FileId id;
        std::string text;
        struct timespec ctime;
    } reported{};  // the unusable version last said so, why, and its rights' change time
    std::string lastError;
    int lockFd = -1;              // "<target>.lock", when it exists
    bool lockWritable = false;    // opened for writing (and mapped so)
    Shared* shared = nullptr;     // in the lock file's mapping
    uint64_t seenGeneration = 0;  // the shared generation of the version read
    uint64_t seenRewrites = 0;    // the shared rewrite count of the version read
    int journalFd = -1;           // "<target>.journal", when it exists
    bool journalWritable = false;
    int lockErrno = 0;                 // why the lock file could not be opened for writing
    int journalErrno = 0;              // why the journal could not be
    std::string lockPlanted;           // why the lock file found is not one to use ("": none found so)
    std::string journalPlanted;        // the same for the journal
    std::set<std::string> said;        // texts said once a process, whatever file is loaded
    Rights writeChecked;               // the file version a change was last allowed on
    FileRights fileRights;             // of the file version read, as it is now: what the files beside it get
    FileRights rightsBrought;          // what the lock file and the journal were last brought to
    struct stat journalStat {};        // of the journal open, as the last look at it found it
    std::atomic<bool> lockCut{false};  // the lock file was cut under its mapping
    uint64_t seenHash = 0;             // ContentHash of the version read
    uint64_t salt = 0;                 // the journal the tree includes (0: the tree is the file alone)
    off_t journalEnd = 0;              // how much of it: header and whole records
    uint64_t chain = 0;                // the checksum of the last whole record (the salt before any)
    // Where each whole record of the journal with salt `historySalt` that
    // the tree holds ends, and the chain there: the last one is checked
    // before this process builds on the journal, and a journal cut from
    // outside is told from one written after the cut.
    std::vector<std::pair<off_t, uint64_t>> history;
    uint64_t historySalt = 0;
    off_t lastAt = 0;       // where the last whole record the tree holds begins (journalEnd: none)
    uint64_t lastSeed = 0;  // the chain before it
    bool cutLost = false;   // a journal cut from outside could not be made good: its records are lost at exit
    bool journalExposed = false;  // the journal had to be narrowed: who opened it before may still read it
    bool journalTail = false;     // bytes past journalEnd: a record a killed writer cut short
    bool previousIn = false;      // the tree holds records of a previous-format journal: written whole first
    std::string journalBytes;     // read buffer
    std::string writeError;       // why the last file write failed
    bool foldsAtExit = false;     // this process wrote: its exit writes the journal into the file
    int64_t checkedAt = 0;        // coarseMillis() of the last identity check
    bool flushData = true;        // the file system needs a flush before a rename
    bool tempsSwept = false;      // temporary files of killed writers removed
    uint64_t ownSalt = 0;         // the journal this process last wrote a record to
    std::string asideNote;        // said when another process set this process's records aside
    std::set<std::string> namedAside;  // set-aside files this process made and named
    // Bumped whenever the tree may have changed; a cursor or a cached key of
    // an older generation is not used.
    uint64_t generation = 1;
};

namespace {

LSTATUS errnoStatus(int e) {
    switch (e) {
        case EACCES:
        case EPERM:
        case EROFS:
            return ERROR_ACCESS_DENIED;
        case ENOENT:
        case ENOTDIR:
            return ERROR_PATH_NOT_FOUND;
        case ENOSPC:
        case EDQUOT:
        case EFBIG:
            return ERROR_DISK_FULL;
        case ENOMEM:
            return ERROR_NOT_ENOUGH_MEMORY;
        default:
            return ERROR_CANTWRITE;
    }
}

bool readAll(int fd, std::string& out) {
    out.clear();
    char buf[65536];
    while (true) {
        const ssize_t n = ::read(fd, buf, sizeof buf);
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            return false;
        }
        if (n == 0) {
            return true;
        }
        out.append(buf, static_cast<size_t>(n));
    }
}

// Writes the pieces one after the other, many per system call.
bool writePieces(int fd, const std::vector<const std::string*>& pieces) {
    size_t index = 0;   // the first piece not wholly written
    size_t offset = 0;  // how much of it is
    std::vector<struct iovec> iov;
    while (index < pieces.size()) {
        iov.clear();
        for (size_t i = index; i < pieces.size() && iov.size() < IOV_MAX; ++i) {
            const size_t skip = i == index ? offset : 0;
            iov.push_back({const_cast<char*>(pieces[i]->data()) + skip, pieces[i]->size() - skip});
        }
        const ssize_t n = ::writev(fd, iov.data(), static_cast<int>(iov.size()));
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            return false;
        }
        size_t left = static_cast<size_t>(n);
        while (index < pieces.size() && left >= pieces[index]->size() - offset) {
            left -= pieces[index]->size() - offset;
            offset = 0;
            ++index;
        }
        offset += left;
    }
    return true;
}

// Says `text` on stderr. Its file names are UTF-8, not the ANSI code page
// narrow console text is in.
void say(const std::string& text) {
    winplat::console::writeErr(winplat::utf8ToUtf16(text));
}

// Says `text` once a process.
void sayOnce(State& s, const std::string& text) {
    if (s.said.insert(text).second) {
        say(text);
    }
}

void reportBadFile(const State& s) {
    say("winplat: the registry file cannot be used: " + s.lastError +
        "\nwinplat: the file is left as it is and changes are refused until it is mended.\n");
}

// Control characters of a text (a name read from a damaged file) as \xNN,
// so that an error text never carries a NUL or a line break of its own.
std::string escapeControls(const std::string& text) {
    std::string out;
    out.reserve(text.size());
    for (const char c : text) {
        const auto u = static_cast<unsigned char>(c);
        if (u < 0x20 || u == 0x7F) {
            static const char kHex[] = "0123456789abcdef";
            out += "\\x";
            out.push_back(kHex[u >> 4]);
            out.push_back(kHex[u & 15]);
        } else {
            out.push_back(c);
        }
    }
    return out;
}

bool sameTime(const struct timespec& a, const struct timespec& b) {
    return a.tv_sec == b.tv_sec && a.tv_nsec == b.tv_nsec;
}

// Whether `st` is the version of the file found unusable. A file that could
// not be read is looked at again once its rights changed: a chmod mends it.
bool stillBad(const State& s, const struct stat& st) {
    return s.bad && s.seen == idOf(st) &&
           (s.badCode != ERROR_CANTREAD || sameTime(st.st_ctim, s.reported.ctime));
}

// Marks the version `st` of the file unusable and says so once per version.
LSTATUS markBad(State& s, const struct stat& st, LSTATUS code, const std::string& text) {
    const std::string what = escapeControls(text);
    const FileId id = idOf(st);
    // Kept across a reload, whose fold of the journal may have found it first.
    const bool repeated =
        s.reported.id == id && s.reported.text == what && sameTime(s.reported.ctime, st.st_ctim);
    s.reported = {id, what, st.st_ctim};
    s.seen = id;
    s.bad = true;
    s.badCode = code;
    s.lastError = what;
    if (!repeated) {
        reportBadFile(s);
    }
    return code;
}

// The journal: a header of kJournalHeader bytes (magic, a salt drawn afresh
// whenever the journal starts again, the file version it goes with, a
// checksum), then records, each its payload's length, a checksum of the
// payload seeded with the checksum before it (the salt for the first), and
// the payload: one value set ('V') or removed ('X'), one key created ('K')
// or removed with its subtree ('D'). Names are UTF-16 units. The chain makes
// the journal tell its own valid end: a record cut short, or one left from
// an earlier journal, does not check out and ends it.
constexpr char kJournalMagic[8] = {'w', 'p', 'r', 'e', 'g', 'j', '2', '\n'};
// The previous build's journal: its header holds the file version first and
// a journal number where this one has its salt; its records are not chained
// but each seeded with that number, and set a key's whole value list ('S')
// or remove a key ('D').
constexpr char kPreviousMagic[8] = {'w', 'p', 'r', 'e', 'g', 'j', '1', '\n'};
constexpr size_t kJournalHeader = 64;
constexpr size_t kRecordHeader = 16;
// The tree is written whole once the journal is larger than the file and this.
constexpr off_t kJournalFoldMin = 256 * 1024;

uint64_t checksum(uint64_t seed, const char* p, size_t n) {
    uint64_t h = 14695981039346656037ull ^ seed;
    for (size_t i = 0; i < n; ++i) {
        h = (h ^ static_cast<uint8_t>(p[i])) * 1099511628211ull;
    }
    return h;
}

// A hash of the file's bytes, the same however they are handed in. A
// journal names its file by it (with device, inode and size), not by the
// file's time: a file touched keeps its journal, a file rewritten with
// other bytes does not.
class ContentHash {
  public:
    void add(const char* p, size_t n) {
        size_ += n;
        while (n > 0) {
            const size_t take = std::min(n, sizeof word_ - fill_);
            std::memcpy(word_ + fill_, p, take);
            fill_ += take;
            p += take;
            n -= take;
            if (fill_ == sizeof word_) {
                mixWord();
            }
        }
    }
    uint64_t done() {
        if (fill_ > 0) {
            std::memset(word_ + fill_, 0, sizeof word_ - fill_);
            mixWord();
        }
        return h_ ^ size_;
    }

  private:
    void mixWord() {
        uint64_t w;
        std::memcpy(&w, word_, sizeof w);
        h_ = (h_ ^ w) * 0x9E3779B97F4A7C15ull;
        h_ ^= h_ >> 31;
        fill_ = 0;
    }
    uint64_t h_ = 0x6A09E667F3BCC908ull;
    uint64_t size_ = 0;
    char word_[8];
    size_t fill_ = 0;
};

template <typename T>
void put(std::string& out, T v) {
    out.append(reinterpret_cast<const char*>(&v), sizeof v);
}

void putName(std::string& out, std::wstring_view name) {
    put(out, static_cast<uint32_t>(name.size()));
    for (wchar_t c : name) {
        put(out, static_cast<uint16_t>(c));
    }
}

// Reads what put() wrote; any read past the end leaves ok false.
struct Cursor {
    const char* p;
    const char* end;
    bool ok = true;

    template <typename T>
    T get() {
        T v{};
        if (static_cast<size_t>(end - p) < sizeof v) {
            ok = false;
            return v;
        }
        std::memcpy(&v, p, sizeof v);
        p += sizeof v;
        return v;
    }
    std::wstring name() {
        const uint32_t n = get<uint32_t>();
        std::wstring out;
        if (static_cast<size_t>(end - p) / 2 < n) {
            ok = false;
            return out;
        }
        out.resize(n);
        for (uint32_t i = 0; i < n; ++i) {
            out[i] = get<uint16_t>();
        }
        return out;
    }
};

// A salt no other journal of this file had: time, process and a counter.
uint64_t newSalt() {
    static std::atomic<uint64_t> counter{0};
    struct timespec t {};
    clock_gettime(CLOCK_REALTIME, &t);
    uint64_t h = static_cast<uint64_t>(t.tv_sec) * 1000000000ull + static_cast<uint64_t>(t.tv_nsec);
    h ^= (static_cast<uint64_t>(::getpid()) << 40) ^ (counter.fetch_add(1) * 0x9E3779B97F4A7C15ull);
    h = (h ^ (h >> 33)) * 0xFF51AFD7ED558CCDull;
    h ^= h >> 29;
    return h == 0 ? 1 : h;
}

std::string journalHeader(const FileId& id, uint64_t hash, uint64_t salt) {
    std::string h(kJournalMagic, sizeof kJournalMagic);
    for (uint64_t v : {salt, static_cast<uint64_t>(id.dev), static_cast<uint64_t>(id.ino),
                       static_cast<uint64_t>(id.size), hash, uint64_t{0}}) {
        put(h, v);
    }
    put(h, checksum(0, h.data(), h.size()));
    return h;
}

// The journal's salt (`previous`: the previous format's number) when `h` is
// a sound header for the file version `id` with bytes of `hash`, else 0.
uint64_t journalSalt(const char* h, const FileId& id, uint64_t hash, bool previous = false) {
    uint64_t f[7];
    std::memcpy(f, h + sizeof kJournalMagic, sizeof f);
    if (std::memcmp(h, previous ? kPreviousMagic : kJournalMagic, sizeof kJournalMagic) != 0 ||
        checksum(0, h, kJournalHeader - 8) != f[6]) {
        return 0;
    }
    const uint64_t* version = previous ? f : f + 1;
    const bool same = version[0] == static_cast<uint64_t>(id.dev) &&
                      version[1] == static_cast<uint64_t>(id.ino) &&
                      version[2] == static_cast<uint64_t>(id.size) && version[3] == hash;
    return same ? f[previous ? 5 : 0] : 0;
}

// The payload of a change to the key at `path` (and its value `name`), as
// the tree has it after the change; "" when it cannot be told (the whole
// tree is written then).
std::string journalPayload(const Key& top, Op op, const Path& path, std::wstring_view name) {
    std::string out;
    out.push_back(static_cast<char>(op));
    put(out, static_cast<uint32_t>(path.size()));
    if (op == Op::RemoveKey) {
        for (const std::wstring& part : path) {
            putName(out, part);
        }
        return path.empty() ? "" : out;
    }
    const Key* k = &top;
    for (const std::wstring& part : path) {
        if (!(k = k->child(part))) {
            return "";
        }
        putName(out, k->name);  // spelled as the tree has it
    }
    if (op == Op::SetValue) {
        const winplat::regtree::Value* v = k->value(name);
        if (!v) {
            return "";
        }
        putName(out, v->name);
        put(out, static_cast<uint32_t>(v->type));
        put(out, static_cast<uint32_t>(v->data.size()));
        out.append(reinterpret_cast<const char*>(v->data.data()), v->data.size());
    } else if (op == Op::RemoveValue) {
        putName(out, name);
    }
    return out;
}

// The key path a payload names; false when it does not read whole.
bool readPath(Cursor& c, Path& path) {
    path.resize(std::min<size_t>(c.get<uint32_t>(), winplat::regtree::kMaxDepth + 1));
    for (std::wstring& part : path) {
        part = c.name();
    }
    return c.ok && !path.empty() && path.size() <= winplat::regtree::kMaxDepth;
}

// One value as journalPayload() puts it; false when it does not read whole.
bool readValue(Cursor& c, winplat::regtree::Value& v) {
    v.name = c.name();
    v.type = c.get<uint32_t>();
    const uint32_t size = c.get<uint32_t>();
    if (!c.ok || static_cast<size_t>(c.end - c.p) < size) {
        return false;
    }
    v.data.assign(c.p, c.p + size);
    c.p += size;
    return true;
}

// Applies one payload; false, changing nothing, when it does not read whole.
// Every record sets or removes what it names whatever was there, so records
// applied again over a file that already holds them change nothing.
bool applyPayload(Key& top, const char* p, size_t n) {
    Cursor c{p, p + n};
    const char op = c.get<char>();
    Path path;
    if (!readPath(c, path)) {
        return false;
    }
    std::wstring name;
    winplat::regtree::Value value;
    switch (static_cast<Op>(op)) {
        case Op::SetValue:
            if (!readValue(c, value)) {
                return false;
            }
            break;
        case Op::RemoveValue:
            name = c.name();
            break;
        case Op::CreateKey:
        case Op::RemoveKey:
            break;
        default:
            return false;
    }
    if (!c.ok || c.p != c.end) {
        return false;
    }
    if (static_cast<Op>(op) == Op::RemoveKey) {
        if (Key* parent = winplat::regtree::find(top, Path(path.begin(), path.end() - 1))) {
            parent->removeChild(path.back());
        }
        return true;
    }
    if (static_cast<Op>(op) == Op::RemoveValue) {
        if (Key* k = winplat::regtree::find(top, path)) {
            k->removeValue(name);
        }
        return true;
    }
    Key* k = &top;
    for (const std::wstring& part : path) {
        k = &k->ensureChild(part);
    }
    if (static_cast<Op>(op) == Op::SetValue) {
        k->setValue(value.name, value.type, std::move(value.data));
    }
    return true;
}

// Applies one payload of the previous format: a key's whole value list set
// ('S', creating the path) or a key removed ('D', spelled as this format's);
// false, changing nothing, when it does not read whole.
bool applyPreviousPayload(Key& top, const char* p, size_t n) {
    if (n > 0 && p[0] == static_cast<char>(Op::RemoveKey)) {
        return applyPayload(top, p, n);
    }
    Cursor c{p, p + n};
    Path path;
    if (c.get<char>() != 'S' || !readPath(c, path)) {
        return false;
    }
    std::vector<winplat::regtree::Value> values(std::min<size_t>(c.get<uint32_t>(), n));
    for (winplat::regtree::Value& v : values) {
        if (!readValue(c, v)) {
            return false;
        }
    }
    if (!c.ok || c.p != c.end) {
        return false;
    }
    Key* k = &top;
    for (const std::wstring& part : path) {
        k = &k->ensureChild(part);
    }
    k->assignValues(std::move(values));
    return true;
}

// One read of the journal; tests make it fail with the errno armed for
// "RegistryJournalRead".
ssize_t preadJournal(int fd, char* buf, size_t n, off_t at) {
    int64_t injected = 0;
    if (winplat::inject::take("RegistryJournalRead", &injected)) {
        errno = static_cast<int>(injected);
        return -1;
    }
    return ::pread(fd, buf, n, at);
}

// The journal's bytes from `at` to its end into s.journalBytes; false when
// a read fails (errno tells why).
bool readJournalFrom(State& s, off_t at) {
    std::string& bytes = s.journalBytes;
    bytes.clear();
    char buf[65536];
    while (true) {
        const ssize_t n = preadJournal(s.journalFd, buf, sizeof buf, at);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n < 0) {
            return false;
        }
        if (n == 0) {
            return true;
        }
        bytes.append(buf, static_cast<size_t>(n));
        at += n;
        if (static_cast<size_t>(n) < sizeof buf && at >= s.journalStat.st_size) {
            // At the end the last look at the journal found, which only a
            // writer holding the lock moves: no read is spent finding it.
            return true;
        }
    }
}

void releaseJournalBytes(State& s) {
    if (s.journalBytes.capacity() > (1u << 20)) {
        s.journalBytes = std::string();
    }
}

// The history of the journal with `salt` starts again at its header.
void startHistory(State& s, uint64_t salt) {
    s.history.clear();
    s.historySalt = salt;
    s.history.emplace_back(static_cast<off_t>(kJournalHeader), salt);
    s.lastAt = kJournalHeader;
    s.lastSeed = salt;
}

// One more whole record of the journal, from `at` to `end`, its chain `sum`.
void addToHistory(State& s, off_t at, uint64_t seed, off_t end, uint64_t sum) {
    s.lastAt = at;
    s.lastSeed = seed;
    if (!s.history.empty() && s.history.back().first < end) {
        s.history.emplace_back(end, sum);
    }
}

constexpr off_t kReadFailed = -1;
constexpr off_t kChangedFromOutside = -2;

// Where the record that begins at `pos` of `bytes` ends, when it is whole
// and its checksum, seeded with `seed`, checks out (`sum`); else 0.
size_t wholeRecord(const std::string& bytes, size_t pos, uint64_t seed, uint64_t& sum) {
    uint64_t head[2];
    if (bytes.size() - pos < kRecordHeader) {
        return 0;
    }
    std::memcpy(head, bytes.data() + pos, sizeof head);
    if (head[0] > bytes.size() - pos - kRecordHeader ||
        checksum(seed, bytes.data() + pos + kRecordHeader, static_cast<size_t>(head[0])) != head[1]) {
        return 0;
    }
    sum = head[1];
    return pos + kRecordHeader + static_cast<size_t>(head[0]);
}

// Whether `bytes` begin with a whole record of `n` bytes whose chain value
// is `chain`, told by its header alone.
bool recordStands(const std::string& bytes, size_t n, uint64_t chain) {
    uint64_t head[2];
    if (n < kRecordHeader || bytes.size() < n) {
        return false;
    }
    std::memcpy(head, bytes.data(), sizeof head);
    return head[0] == n - kRecordHeader && head[1] == chain;
}

// Applies the journal's whole records from `at` on through `apply`, each
// checked by its checksum seeded with `seed` (and, when `chained`, `seed`
// then moved on to that checksum); stops at the first record cut short or
// not checking out. When `at` is before `known`, the end of the records
// this process read, the one record from `at` to there is the last one it
// read: it is not applied, but its header (length and chain) is compared
// with `knownChain`, which a record written there after a cut does not
// match; its payload is not hashed again. The journal builds on what this
// process read only while it still holds it. Returns where the records
// applied end; kReadFailed, applying nothing, when a read fails (errno tells
// why): a failed read is not the journal's end; kChangedFromOutside,
// applying nothing, when the record known is not there. `tail` tells
// whether more bytes follow those applied.
off_t applyRecords(State& s, off_t at, uint64_t& seed, bool chained, bool (*apply)(Key&, const char*, size_t),
                   bool& tail, off_t known = 0, uint64_t knownChain = 0) {
    if (!readJournalFrom(s, at)) {
        return kReadFailed;
    }
    const std::string& bytes = s.journalBytes;
    size_t pos = 0;
    uint64_t sum = 0;
    if (known > at) {
        if (!recordStands(bytes, static_cast<size_t>(known - at), knownChain)) {
            return kChangedFromOutside;
        }
        seed = knownChain;
        pos = static_cast<size_t>(known - at);
    }
    const size_t first = pos;
    for (size_t next; (next = wholeRecord(bytes, pos, seed, sum)) != 0; pos = next) {
        if (!apply(*s.tree, bytes.data() + pos + kRecordHeader, next - pos - kRecordHeader)) {
            break;
        }
        if (chained) {
            addToHistory(s, at + static_cast<off_t>(pos), seed, at + static_cast<off_t>(next), sum);
            seed = sum;
        }
    }
    if (pos > first) {
        ++s.generation;
    }
    tail = pos < bytes.size();
    releaseJournalBytes(s);
    return at + static_cast<off_t>(pos);
}

// Whether the journal open still holds the last record the tree holds,
// where it was read, as applyRecords() tells it.
bool lastRecordHolds(State& s) {
    if (s.salt == 0 || s.lastAt >= s.journalEnd) {
        return true;
    }
    const bool holds = ::fstat(s.journalFd, &s.journalStat) == 0 && s.journalStat.st_nlink > 0 &&
                       readJournalFrom(s, s.lastAt) &&
                       recordStands(s.journalBytes, static_cast<size_t>(s.journalEnd - s.lastAt), s.chain);
    releaseJournalBytes(s);
    return holds;
}

// Whether a journal found changed where this process read it last is only
// shorter: its whole records end where the tree's records once ended, so
// nothing was written after the cut and the tree holds all the journal
// does. False when that cannot be told.
bool onlyCutShort(State& s) {
    if (s.historySalt != s.salt || s.history.empty() || !readJournalFrom(s, kJournalHeader)) {
        return false;
    }
    uint64_t chain = s.salt;
    size_t pos = 0;
    for (size_t next; (next = wholeRecord(s.journalBytes, pos, chain, chain)) != 0;) {
        pos = next;
    }
    releaseJournalBytes(s);
    const off_t end = static_cast<off_t>(kJournalHeader + pos);
    const auto it = std::lower_bound(s.history.begin(), s.history.end(), std::make_pair(end, uint64_t{0}));
    return end < s.journalEnd && it != s.history.end() && it->first == end && it->second == chain;
}

// Takes in the journal a writer of the previous build left when it was
// killed before writing it into the file, when it goes with the file version
// read: its whole records go into the tree, and the first change writes the
// tree whole before a journal of this format starts over them. False,
// taking in nothing, when a read fails.
bool readPreviousJournal(State& s, const char* h) {
    uint64_t number = journalSalt(h, s.seen, s.seenHash, true);
    bool tail = false;
    const off_t reached = number != 0
                              ? applyRecords(s, kJournalHeader, number, false, applyPreviousPayload, tail)
                              : off_t{kJournalHeader};
    s.previousIn = reached > off_t{kJournalHeader};
    return reached != kReadFailed;
}

bool journalTrusted(const State& s);

// What reading the journal found.
enum class JournalRead {
    Read,       // the tree holds every whole record
    Restarted,  // the journal the tree includes is gone (started again, or replaced): read the file again
    CutShort,   // shorter than the records the tree holds, beside the same file: cut from outside
    Diverged,   // cut from outside and written after the cut: read the file and the journal again
    Failed,     // a read failed (errno tells why); nothing changed
};

// Brings the tree up to date with the journal: every whole record past the
// end read before, or from the start when the journal started afresh for
// the file the tree was read from.
JournalRead readJournal(State& s) {
    char h[kJournalHeader];
    ssize_t got = 0;
    // An untrusted journal's records are not read: anyone may have forged them.
    if (s.journalFd >= 0 && s.seen.exists && journalTrusted(s)) {
        while ((got = preadJournal(s.journalFd, h, sizeof h, 0)) < 0 && errno == EINTR) {
        }
        if (got < 0) {
            return JournalRead::Failed;
        }
    }
    const bool headed = got == ssize_t{sizeof h};
    if (!headed && s.salt != 0 && s.journalEnd > off_t{kJournalHeader}) {
        return JournalRead::CutShort;
    }
    const uint64_t salt = headed ? journalSalt(h, s.seen, s.seenHash) : 0;
    uint64_t chain = s.chain;
    off_t end = s.journalEnd;
    off_t from = s.lastAt;
    uint64_t seed = s.lastSeed;
    if (salt != s.salt) {
        if (s.salt != 0) {
            return JournalRead::Restarted;
        }
        chain = salt;
        end = kJournalHeader;
        from = kJournalHeader;
        seed = salt;
        if (salt != 0) {
            startHistory(s, salt);
        }
    }
    if (salt == 0) {
        if (headed && !s.previousIn && !readPreviousJournal(s, h)) {
            return JournalRead::Failed;
        }
        s.journalEnd = 0;
        s.journalTail = false;
        return JournalRead::Read;
    }
    bool tail = false;
    const off_t reached = applyRecords(s, std::min(from, end), seed, true, applyPayload, tail, end, chain);
    if (reached == kReadFailed) {
        return JournalRead::Failed;
    }
    if (reached == kChangedFromOutside) {
        return onlyCutShort(s) ? JournalRead::CutShort : JournalRead::Diverged;
    }
    s.salt = salt;
    s.chain = seed;
    s.journalEnd = reached;
    s.journalTail = tail;
    return JournalRead::Read;
}

// Holds the file lock shared while a reader brings its tree up to date, so
// that it sees the file and the journal of one version.
class SharedFileLock {
  public:
    SharedFileLock(int fd, bool take) : fd_(take ? fd : -1) {
        while (fd_ >= 0 && ::flock(fd_, LOCK_SH) != 0) {
            if (errno != EINTR) {
                fd_ = -1;
            }
        }
    }
    ~SharedFileLock() {
        if (fd_ >= 0) {
            ::flock(fd_, LOCK_UN);
        }
    }
    bool held() const { return fd_ >= 0; }
    SharedFileLock(const SharedFileLock&) = delete;
    SharedFileLock& operator=(const SharedFileLock&) = delete;

  private:
    int fd_;
};

void openLock(State& s);
void openJournal(State& s);
void openJournalAgain(State& s, bool rewritten);

// Reads the file whole into the tree; false, leaving the tree as it was,
// when that version cannot be used. The tree it replaces goes to
// `replaced` when that is empty.
bool readFile(State& s, const struct stat& found, LSTATUS& rc, std::unique_ptr<Key>& replaced) {
    struct stat st = found;
    if (S_ISDIR(st.st_mode)) {
        rc = markBad(s, st, ERROR_CANTREAD, s.file + ": a folder stands where the file should be");
        return false;
    }
    const int fd = ::open(s.target.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        rc = errno == ENOENT ? ERROR_SUCCESS
                             : markBad(s, st, ERROR_CANTREAD,
                                       s.file + ": the file cannot be read (" + std::strerror(errno) + ")");
        return false;
    }
    std::string bytes;
    const bool ok = ::fstat(fd, &st) == 0 && readAll(fd, bytes);
    const int readErrno = errno;
    ::close(fd);
    if (!ok) {
        rc = markBad(s, st, ERROR_CANTREAD,
                     s.file + ": the file cannot be read (" + std::strerror(readErrno) + ")");
        return false;
    }
    std::unique_ptr<Key> tree;
    Encoding enc;
    std::string error;
    if (!winplat::regtree::parse(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size(), tree, enc,
                                 error)) {
        // "line N: ..." becomes "<file>:N: ..."
        rc = markBad(s, st, ERROR_BADDB, s.file + ":" + error.substr(5));
        return false;
    }
    s.seen = idOf(st);
    s.fileRights = fileRightsOf(st);
    ContentHash hash;
    hash.add(bytes.data(), bytes.size());
    s.seenHash = hash.done();
    tree.swap(s.tree);
    if (!replaced) {
        replaced = std::move(tree);
    }
    ++s.generation;
    s.encoding = enc;
    s.bad = false;
    s.reported = {};
    s.lastError.clear();
    s.salt = 0;
    s.journalEnd = 0;
    s.journalTail = false;
    s.previousIn = false;
    s.cutLost = false;
    return true;
}

// What a refresh may move on, kept so that one whose journal cannot be read
// leaves the tree and what it was read from as they were.
struct ReadPoint {
    explicit ReadPoint(const State& s)
        : encoding(s.encoding),
          seen(s.seen),
          fileRights(s.fileRights),
          seenHash(s.seenHash),
          salt(s.salt),
          chain(s.chain),
          lastSeed(s.lastSeed),
          journalEnd(s.journalEnd),
          lastAt(s.lastAt),
          historySize(s.history.size()),
          historySalt(s.historySalt),
          journalTail(s.journalTail),
          previousIn(s.previousIn),
          bad(s.bad),
          badCode(s.badCode),
          lastError(s.lastError) {}
    void restore(State& s) {
        if (tree) {
            s.tree = std::move(tree);
            ++s.generation;
        }
        s.encoding = encoding;
        s.seen = seen;
        s.fileRights = fileRights;
        s.seenHash = seenHash;
        s.salt = salt;
        s.chain = chain;
        s.lastSeed = lastSeed;
        s.journalEnd = journalEnd;
        s.lastAt = lastAt;
        // Records read since are facts of that journal too; another journal's are not.
        if (s.historySalt != historySalt || s.history.size() < historySize) {
            s.history.clear();
            s.historySalt = 0;
        }
        s.journalTail = journalTail;
        s.previousIn = previousIn;
        s.bad = bad;
        s.badCode = badCode;
        s.lastError = lastError;
    }
    std::unique_ptr<Key> tree;  // the tree a file read in the refresh replaced
    Encoding encoding;
    FileId seen;
    FileRights fileRights;
    uint64_t seenHash, salt, chain, lastSeed;
    off_t journalEnd, lastAt;
    size_t historySize;
    uint64_t historySalt;
    bool journalTail, previousIn, bad;
    LSTATUS badCode;
    std::string lastError;
};

LSTATUS foldIn(State& s);
LSTATUS failedWrite(State& s, int e);
void atExitLater(State& s, bool fold);

// Writes the tree whole as the file, having told every process to look.
// Called under the exclusive lock.
LSTATUS foldNow(State& s) {
    s.seenGeneration = s.shared->generation.fetch_add(1, std::memory_order_acq_rel) + 1;
    try {
        return foldIn(s);
    } catch (const std::bad_alloc&) {
        s.writeError = "out of memory";
        return ERROR_NOT_ENOUGH_MEMORY;
    }
}

// The journal was found shorter than the records the tree holds, beside the
// file they go with: emptied or cut from outside. Those records may be
// acknowledged changes now kept only in trees like this one, so the tree is
// written whole as the file and the journal starts again. Called under the
// exclusive lock.
LSTATUS foldCutJournal(State& s) {
    struct stat st {};
    ::fstat(s.journalFd, &st);
    const off_t expected = s.journalEnd;
    const LSTATUS rc = foldNow(s);
    s.cutLost = rc != ERROR_SUCCESS;
    if (rc == ERROR_SUCCESS) {
        say("winplat: the registry journal " + s.target + ".journal was cut short from outside (" +
            std::to_string(st.st_size) + " bytes, " + std::to_string(expected) +
            " expected); the changes read from it are written into " + s.file + ".\n");
    }
    return rc;
}

// Reads the file when it may have changed since it was last read, and the
// journal's records past those read: always when `exact` (under the
// exclusive lock, before a change), otherwise when the shared generation
// moved or, at most every kOutsideCheckMs (every call without the lock
// file's mapping), when the file's identity changed. File and journal are
// read as one snapshot: under the shared lock, or, without a lock file,
// checked again after the journal was read. A file that cannot be used
// leaves the tree as it was. A journal that cannot be read (an I/O error)
// fails with ERROR_CANTREAD and leaves everything as it was: a change is
// refused rather than written over records not read, and a call that only
// reads goes on with the tree last read and tries again at its next call, as
// with a file that cannot be read now. A journal found cut short keeps the
// tree as it is; under the exclusive lock the tree is written whole.
// The version read keeps the rights the file has now: a chmod or a chown
// changes whom the files beside it are trusted by, not what it holds.
void keepRights(State& s, const struct stat& st) {
    s.fileRights = fileRightsOf(st);
}

LSTATUS refresh(State& s, bool exact) {
    if (s.file.empty()) {
        return ERROR_SUCCESS;
    }
    if (s.lockCut.load(std::memory_order_acquire)) {
        openLock(s);  // its counters are zeros now and tell of no change: looked at anew
    }
    if (!exact) {
        if (!s.shared) {
            const int64_t now = coarseMillis();
            if (now - s.checkedAt < kOutsideCheckMs) {
                return s.bad ? s.badCode : ERROR_SUCCESS;
            }
            s.checkedAt = now;
            openLock(s);  // a writer may have made one meanwhile
        }
        if (s.shared && s.shared->generation.load(std::memory_order_acquire) == s.seenGeneration) {
            const int64_t now = coarseMillis();
            if (now - s.checkedAt < kOutsideCheckMs) {
                return s.bad ? s.badCode : ERROR_SUCCESS;
            }
            s.checkedAt = now;
            struct stat st;
            if (::stat(s.target.c_str(), &st) == 0 && s.seen == idOf(st)) {
                keepRights(s, st);
                return s.bad ? s.badCode : ERROR_SUCCESS;  // the lock is taken only to read
            }
        }
    }
    const SharedFileLock held(s.lockFd, !exact);
    const bool snapshot = exact || held.held();
    uint64_t generation = s.shared ? s.shared->generation.load(std::memory_order_acquire) : 0;
    uint64_t rewrites = s.shared ? s.shared->rewrites.load(std::memory_order_acquire) : 0;
    // The journal open is judged by the rights the file has now: a chmod
    // since the last look changes whom it is trusted by, not the version.
    if (struct stat st; ::stat(s.target.c_str(), &st) == 0 && s.seen == idOf(st)) {
        keepRights(s, st);
    }
    openJournalAgain(s, !s.shared || rewrites != s.seenRewrites);
    ReadPoint before(s);
    // A rewrite, or a journal moved from its name, since the last look: the
    // tree is read again from what the files hold now, as every other
    // process reads it.
    bool whole = rewrites != s.seenRewrites;
    for (int tries = 0;; ++tries) {
        struct stat st;
        if (::stat(s.target.c_str(), &st) != 0) {
            if (errno != ENOENT) {
                return failedWrite(s, errno);
            }
            if (s.seen.exists || s.bad) {
                // Removed from outside: what stays is an empty registry.
                s.tree = winplat::regtree::emptyTree();
                ++s.generation;
                s.bad = false;
                s.lastError.clear();
            }
            s.seen = FileId{};
            s.fileRights = FileRights{};
            s.salt = 0;
            s.journalEnd = 0;
            s.previousIn = false;
            break;
        }
        if (stillBad(s, st)) {
            return s.badCode;
        }
        if (whole || s.seen != idOf(st) || s.bad) {
            LSTATUS rc = ERROR_SUCCESS;
            if (!readFile(s, st, rc, before.tree)) {
                return rc;
            }
        } else {
            keepRights(s, st);
        }
        const JournalRead found = readJournal(s);
        if (found == JournalRead::Failed) {
            s.writeError = std::string("its journal cannot be read: ") + std::strerror(errno);
            before.restore(s);
            if (s.seen == idOf(st)) {
                keepRights(s, st);
            }
            return ERROR_CANTREAD;
        }
        if (found == JournalRead::CutShort && exact) {
            if (const LSTATUS rc = foldCutJournal(s); rc != ERROR_SUCCESS) {
                return rc;
            }
            generation = s.shared->generation.load(std::memory_order_acquire);
            rewrites = s.shared->rewrites.load(std::memory_order_acquire);
        }
        // A journal this process had read records of, started again beside
        // the same file version, was cut from outside: a writer starts one
        // again only after putting a new file in place. Without the lock
        // either looks the same for a moment as a writer's rewrite; under
        // it, only another program does this.
        struct stat now;
        const bool restartedBeside = found == JournalRead::Restarted &&
                                     s.journalEnd > off_t{kJournalHeader} &&
                                     ::stat(s.target.c_str(), &now) == 0 && s.seen == idOf(now);
        if ((found == JournalRead::Diverged || restartedBeside) && snapshot) {
            say("winplat: the registry journal " + s.target +
                ".journal was cut and written again from outside; it is read again whole, and values "
                "past the cut may be lost.\n");
        }
        whole = found == JournalRead::Restarted || found == JournalRead::Diverged;
        if (!whole && !snapshot) {
            // Without the lock a writer may have put a new file in place
            // between the two reads: the journal read then went with the
            // old one, so both are read again.
            struct stat again;
            whole = ::stat(s.target.c_str(), &again) == 0 && s.seen != idOf(again);
        }
        if (!whole || tries >= 100) {
            break;
        }
    }
    s.seenGeneration = generation;
    s.seenRewrites = rewrites;
    return ERROR_SUCCESS;
}

// `path` in its folder as that folder is now: every link, "." and ".." on
// the way followed, a relative path taken from the current folder. A folder
// that is not there is kept as named, made absolute.
std::string inResolvedFolder(const std::string& path) {
    const size_t slash = path.rfind('/');
    const std::string folder = slash == std::string::npos ? "." : (slash == 0 ? "/" : path.substr(0, slash));
    const std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
    std::string base = folder;
    if (char* real = ::realpath(folder.c_str(), nullptr)) {
        base = real;
        std::free(real);
    } else if (folder.front() != '/') {
        if (char* cwd = ::getcwd(nullptr, 0)) {
            base = std::string(cwd) + "/" + folder;
            std::free(cwd);
        }
    }
    return (base.back() == '/' ? base : base + "/") + name;
}

// Where the registry file is, resolved once when it is loaded: its folder
// as inResolvedFolder() finds it and every symbolic link of its last
// component followed (a link to a file not there yet names where the file
// will be). Every later step works on this path, so a process that changes
// its current folder, or a link on the way switched to another folder,
// keeps to the files it loaded rather than mixing two registries.
std::string followLinks(const std::string& path) {
    std::string p = inResolvedFolder(path);
    for (int hops = 0; hops < 40; ++hops) {
        struct stat st;
        if (::lstat(p.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) {
            break;
        }
        std::string to(static_cast<size_t>(st.st_size > 0 ? st.st_size : 4096) + 1, '\0');
        const ssize_t n = ::readlink(p.c_str(), to.data(), to.size());
        if (n <= 0) {
            break;
        }
        to.resize(static_cast<size_t>(n));
        p = inResolvedFolder(to.front() == '/' ? to : p.substr(0, p.rfind('/') + 1) + to);
    }
    return p;
}

std::string folderOf(const std::string& file) {
    const size_t slash = file.rfind('/');
    return slash == std::string::npos ? "." : (slash == 0 ? "/" : file.substr(0, slash));
}

// A rename over an existing file is ordered after that file's data by these
// file systems (ext4's auto_da_alloc, btrfs), or nothing survives a power
// cut anyway (tmpfs); elsewhere the data is flushed before the rename.
bool needsDataFlush(const std::string& folder) {
    struct statfs fs;
    if (::statfs(folder.c_str(), &fs) != 0) {
        return true;
    }
    switch (static_cast<uint64_t>(fs.f_type)) {
        case EXT4_SUPER_MAGIC:  // also ext2 and ext3, which share the number
        case BTRFS_SUPER_MAGIC:
        case TMPFS_MAGIC:
        case RAMFS_MAGIC:
            return false;
        default:
            return true;
    }
}

// What a journal begins with: its header, or a part of one left by a cut.
// A blank one holds no record: one this process would trust whole is read
// as none, and the next change writes a header over it when it is trusted,
// else puts a journal of its own in its place, as it does over anyone
// else's, which a reader refuses unread.
bool isJournalContent(const char* first, size_t n, off_t) {
    const size_t m = std::min(n, sizeof kJournalMagic);
    return m > 0 && (std::memcmp(first, kJournalMagic, m) == 0 || std::memcmp(first, kPreviousMagic, m) == 0);
}
const BesideKind kJournalKind = {isJournalContent, nullptr, true};

// Closes the lock file alone; the next call that needs it opens it again.
void closeLockFile(State& s) {
    if (s.shared) {
        unmapCounters(s.shared);
        s.shared = nullptr;
    }
    if (s.lockFd >= 0) {
        ::close(s.lockFd);
        s.lockFd = -1;
    }
    s.lockWritable = false;
    s.lockCut.store(false);
}

void closeLock(State& s) {
    if (s.journalFd >= 0) {
        ::close(s.journalFd);
        s.journalFd = -1;
    }
    s.journalWritable = false;
    s.journalExposed = false;
    s.salt = 0;
    s.journalEnd = 0;
    s.previousIn = false;
    closeLockFile(s);
    s.writeChecked = Rights{};
}

// Opens "<target>.lock" and maps its counters, for writing where it may;
// creates it only when `create` (a process that only reads leaves nothing
// behind). A lock file cut under its mapping is opened again, and as what it
// is now.
void openLock(State& s, bool create) {
    if (s.lockCut.load(std::memory_order_acquire)) {
        closeLockFile(s);
    }
    if (s.lockFd >= 0 && (s.lockWritable || !create)) {
        return;
    }
    const std::string name = s.target + ".lock";
    BesideFile lock = openBeside(name, kLockKind, s.fileRights, create);
    if (lock.fd < 0 && errno == ENOENT && create) {
        bool made = false;
        lock = createBeside(name, s.target, newLockContent(), kLockKind, s.fileRights, made);
    }
    if (lock.fd >= 0 && lock.blank) {
        // Left blank by a crash or a power cut, or made in place a moment
        // ago, and of someone this process would trust whole (anyone else's
        // was refused as a plant): a writer makes it whole under its lock,
        // and a reader takes it as none yet and looks again, as it does
        // while there is none. Never mapped blank, which would fault at the
        // first access.
        const bool whole =
            create && lock.writable && fillBlank(lock.fd, newLockContent(), kLockKind, lock.st);
        if (!whole) {
            const int e = !lock.writable ? EACCES : create ? errno : ENOENT;
            ::close(lock.fd);
            lock.fd = -1;
            lock.writeErrno = e;
            errno = create ? e : ENOENT;
        }
    }
    s.lockErrno = lock.writeErrno;
    s.lockPlanted = lock.planted;
    if (lock.fd < 0) {
        if (errno != ENOENT && !create) {
            sayOnce(s, "winplat: the registry lock file " + name + " cannot be opened (" +
                           (lock.planted.empty() ? std::strerror(errno) : lock.planted) +
                           "); this process reads without it and may see changes up to 10 ms late.\n");
        }
        return;
    }
    Shared* counters = mapCounters(lock.fd, lock.writable, &s.lockCut);
    if (!counters) {
        ::close(lock.fd);
        return;
    }
    closeLockFile(s);
    s.lockFd = lock.fd;
    s.lockWritable = lock.writable;
    s.shared = counters;
    s.seenGeneration = s.shared->generation.load() - 1;  // differs: the next call reads the journal
}

void openLock(State& s) {
    openLock(s, false);
}

void journalStarted(State& s, uint64_t salt);
bool setJournalAside(State& s, const struct stat& st, std::string& aside);

// Opens the journal when it is there, for writing where it may; when
// `create` and there is none, puts one started for the file as it is in
// place.
void openJournal(State& s, bool create) {
    if (s.journalFd >= 0 && (s.journalWritable || !create)) {
        return;
    }
    const std::string name = s.target + ".journal";
    BesideFile journal = openBeside(name, kJournalKind, s.fileRights, create);
    bool made = false;
    uint64_t salt = 0;
    // One of someone this process trusts that holds no journal: damage its
    // content cannot tell from a plant, set aside unread as an untrusted
    // journal is, for a journal of this process's own to take its place.
    std::string setAside;
    if (journal.fd < 0 && journal.foreign && create && s.seen.exists &&
        trustedOwner(journal.st.st_uid, s.fileRights)) {
        if (setJournalAside(s, journal.st, setAside)) {
            if (!setAside.empty()) {
                setAside = "winplat: the registry journal " + name + " holds no journal (" + journal.planted +
                           "); it is set aside, unread, in " + setAside;
            }
            journal = BesideFile{};
            errno = ENOENT;
        }
    }
    if (journal.fd < 0 && errno == ENOENT && create && s.seen.exists) {
        salt = newSalt();
        const std::string header = journalHeader(s.seen, s.seenHash, salt);
        journal = createBeside(name, s.target, header, kJournalKind, s.fileRights, made);
        if (!setAside.empty()) {
            say(setAside + (journal.fd >= 0 ? ", and a new journal is started.\n" : ".\n"));
        }
        if (made && journal.blank && !fillBlank(journal.fd, header, kJournalKind, journal.st)) {
            // Made in place and not filled: refused as a file made beside
            // the registry whose flush fails; the next change heals it.
            const int e = errno != 0 ? errno : EIO;
            ::close(journal.fd);
            s.journalErrno = e;
            s.journalPlanted.clear();
            sayOnce(s, "winplat: the registry journal " + name + " cannot be written (" + std::strerror(e) +
                           "); changes are refused.\n");
            return;
        }
        if (journal.fd < 0 && journal.planted.empty()) {
            // It is the folder that refuses, not a journal.
            s.journalErrno = journal.writeErrno;
            s.journalPlanted.clear();
            sayOnce(s, "winplat: the registry journal " + name + " cannot be made in " + folderOf(s.target) +
                           " (" + std::strerror(journal.writeErrno) + "); changes are refused.\n");
            return;
        }
    }
    s.journalErrno = journal.writeErrno;
    s.journalPlanted = journal.planted;
    if (journal.fd < 0) {
        if (errno != ENOENT) {
            sayOnce(s, "winplat: the registry journal " + name + " cannot be read (" +
                           (journal.planted.empty() ? std::strerror(errno) : journal.planted) +
                           "); changes other processes made since the file was last written are not seen.\n");
        }
        return;
    }
    if (s.journalFd >= 0) {
        ::close(s.journalFd);
    }
    s.journalFd = journal.fd;
    s.journalWritable = journal.writable;
    s.journalStat = journal.st;
    s.journalExposed = false;
    s.journalTail = false;
    if (made) {
        journalStarted(s, salt);
    }
}

void openJournal(State& s) {
    openJournal(s, false);
}

// Whether the journal open holds records that go with the file version
// read: its header (of either format) names that version, and more follows.
// One that names another version is only left over from before a rewrite,
// which holds its records.
bool journalHoldsRecords(const State& s) {
    char h[kJournalHeader];
    return s.journalFd >= 0 && s.journalStat.st_size > off_t{kJournalHeader} &&
           ::pread(s.journalFd, h, sizeof h, 0) == ssize_t{sizeof h} &&
           (journalSalt(h, s.seen, s.seenHash) != 0 || journalSalt(h, s.seen, s.seenHash, true) != 0);
}

constexpr const char* kSetAside = ".journal.set-aside.";

// Moves the journal `st` to a name of its own beside the file that says it
// was set aside, `aside`; what it holds may be another process's
// acknowledged changes, which no one here may read, but none may destroy
// either. False (errno tells why) when it could not be moved; true when it
// was, or no longer stands at its name (`aside` then "").
bool setJournalAside(State& s, const struct stat& st, std::string& aside) {
    const std::string journal = s.target + ".journal";
    aside.clear();
    struct stat named;
    if (::lstat(journal.c_str(), &named) != 0 || named.st_dev != st.st_dev || named.st_ino != st.st_ino) {
        return true;
    }
    // A name of its own, taken by a placeholder the rename then replaces,
    // which every file system can do; one a kill leaves empty is swept.
    std::string name = s.target + kSetAside + "XXXXXX";
    const int fd = ::mkostemp(name.data(), O_CLOEXEC);
    if (fd < 0) {
        return false;
    }
    ::close(fd);
    checkpoint("RegistrySetAsideMade");
    // Told before the journal moves, as a rewrite is: every process that
    // holds it looks at the name again before it writes or reads on.
    if (s.shared) {
        s.seenRewrites = s.shared->rewrites.fetch_add(1, std::memory_order_acq_rel) + 1;
    }
    if (::rename(journal.c_str(), name.c_str()) != 0) {
        const int e = errno;
        ::unlink(name.c_str());
        errno = e;
        return false;
    }
    aside = name;
    s.namedAside.insert(name);
    return true;
}

// The untrusted journal open, which holds records, set aside.
bool setJournalAside(State& s) {
    std::string aside;
    if (!setJournalAside(s, s.journalStat, aside)) {
        return false;
    }
    if (!aside.empty()) {
        say("winplat: the registry journal " + s.target + ".journal is trusted by no one (its owner, uid " +
            std::to_string(s.journalStat.st_uid) +
            ", is neither the file's nor root), so its records were not read; they are set aside in " +
            aside + ".\n");
    }
    return true;
}

// The name under which the journal `st`, which this process wrote records
// to, was set aside by another process; "" when it was not.
std::string setAsideName(const State& s, const struct stat& st) {
    const std::string folder = folderOf(s.target);
    const std::string prefix = s.target.substr(folder.size() + 1) + kSetAside;
    std::string found;
    if (DIR* d = ::opendir(folder.c_str())) {
        while (dirent* e = ::readdir(d)) {
            struct stat aside;
            if (std::strncmp(e->d_name, prefix.c_str(), prefix.size()) == 0 &&
                ::fstatat(::dirfd(d), e->d_name, &aside, AT_SYMLINK_NOFOLLOW) == 0 &&
                aside.st_dev == st.st_dev && aside.st_ino == st.st_ino) {
                found = folder + "/" + e->d_name;
            }
        }
        ::closedir(d);
    }
    return found;
}

// Opens the journal again when the one open is no longer the one beside the
// file: it was removed, or, where the file was `rewritten` since this
// process last looked, a writer put a journal of its own in its place. The
// look at the one open is what decides, at every change, whether it is
// still trusted and fits the file.
void openJournalAgain(State& s, bool rewritten) {
    struct stat named;
    if (s.journalFd >= 0 &&
        (::fstat(s.journalFd, &s.journalStat) != 0 || s.journalStat.st_nlink == 0 ||
         (rewritten && (::lstat((s.target + ".journal").c_str(), &named) != 0 ||
                        named.st_dev != s.journalStat.st_dev || named.st_ino != s.journalStat.st_ino)))) {
        // Still linked, but not at its name, and the tree holds records of
        // it: another process set it aside, unread (trusted by no one, or
        // holding no journal when it looked). Its records stay there alone:
        // whoever held them is told, and reads on from what the files hold.
        if (s.journalStat.st_nlink > 0 && s.salt != 0 && s.journalEnd > off_t{kJournalHeader}) {
            if (const std::string aside = setAsideName(s, s.journalStat); !aside.empty()) {
                // Why it was set aside is judged by the file as it stands,
                // whichever version: that is what the process that moved it saw.
                struct stat file;
                const bool trusted =
                    trustedOwner(s.journalStat.st_uid,
                                 ::stat(s.target.c_str(), &file) == 0 ? fileRightsOf(file) : s.fileRights);
                const std::string note = "winplat: changes this process " +
                                         std::string(s.salt == s.ownSalt ? "made to" : "read from") +
                                         " the registry " + s.file + " were set aside in " + aside +
                                         " by another process, which " +
                                         (trusted ? "found the journal they were written to damaged"
                                                  : "does not trust the journal they were written to") +
                                         "; they are not in the registry.\n";
                say(note);
                s.asideNote += note;
                atExitLater(s, false);  // said again at exit
            }
        }
        ::close(s.journalFd);
        s.journalFd = -1;
        s.journalWritable = false;
    }
    if (s.journalFd < 0) {
        openJournal(s);
    }
}

// Whether the journal open may be read and written on: owned by someone
// this process trusts; and usable when it has no rights beyond the file's.
bool journalTrusted(const State& s) {
    return s.journalFd >= 0 && trustedOwner(s.journalStat.st_uid, s.fileRights);
}

bool journalUsable(const State& s) {
    return journalTrusted(s) && journalFits(s.fileRights, s.journalStat);
}

LSTATUS foldPending(State& s);

LSTATUS loadFresh(State& s, const std::string& file) {
    // Changes still in the journal go into the file first.
    if (s.loaded && s.salt != 0 && s.lockWritable) {
        foldPending(s);
    }
    closeLock(s);
    s.file = file;
    s.target = s.file.empty() ? "" : followLinks(s.file);
    s.tree = winplat::regtree::emptyTree();
    ++s.generation;
    s.encoding = Encoding::Utf8;
    s.seen = FileId{};
    s.fileRights = FileRights{};
    s.rightsBrought = FileRights{};
    s.bad = false;
    s.lastError.clear();
    s.loaded = true;
    s.tempsSwept = false;
    if (s.file.empty()) {
        return ERROR_SUCCESS;
    }
    s.flushData = needsDataFlush(folderOf(s.target));
    openLock(s);
    // The journal is opened by the read, under the shared lock when there is
    // one: a journal another process is making in place is whole by then.
    s.checkedAt = 0;
    return refresh(s, false);
}

// Brings the tree up to date with the file before a call uses it. A file
// that cannot be read now keeps the tree last read: readers go on with it.
void ensureFresh(State& s) {
    if (!s.loaded) {
        const char* env = std::getenv("WINPLAT_REGISTRY");
        loadFresh(s, env ? env : "");
    } else {
        refresh(s, false);
    }
}

// Removes temporary files that a writer killed mid-write left behind, and
// the empty placeholder of a set-aside one killed before its rename; under
// the lock no other writer can be using one. A set-aside file that holds
// anything is never touched, nor one this process named (`named`): emptied
// from outside since, it is still the one its message told of.
void removeStaleTemps(const std::string& file, const std::set<std::string>& named) {
    const size_t slash = file.rfind('/');
    const std::string base = slash == std::string::npos ? file : file.substr(slash + 1);
    const std::string temp = base + ".tmp.";
    const std::string aside = base + kSetAside;
    const std::string folder = folderOf(file);
    DIR* d = ::opendir(folder.c_str());
    if (!d) {
        return;
    }
    while (dirent* e = ::readdir(d)) {
        struct stat st;
        if (std::strncmp(e->d_name, temp.c_str(), temp.size()) == 0 ||
            (std::strncmp(e->d_name, aside.c_str(), aside.size()) == 0 &&
             ::fstatat(::dirfd(d), e->d_name, &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISREG(st.st_mode) &&
             st.st_size == 0 && named.count((folder == "/" ? folder : folder + "/") + e->d_name) == 0)) {
            ::unlinkat(::dirfd(d), e->d_name, 0);
        }
    }
    ::closedir(d);
}

LSTATUS failedWrite(State& s, int e) {
    s.writeError = std::strerror(e);
    return errnoStatus(e);
}

// Refuses a change because of what stands where the lock file or the
// journal should be; said once.
LSTATUS refusePlanted(State& s, const std::string& name, const std::string& why) {
    sayOnce(s, "winplat: the registry's " + name + " cannot be used (" + why +
                   "); it is left as it is and changes are refused.\n");
    s.writeError = why;
    return ERROR_ACCESS_DENIED;
}

// Makes a temporary file beside the registry file, named in `tmp`, with the
// rights of the file version read (none yet: a new file's); -1 when it cannot.
int newTempFile(const State& s, std::string& tmp) {
    return winplat::regstore::newTempFile(s.target, s.fileRights, tmp);
}

// Writes `bytes` as the new registry file: a temporary file in the same
// folder, flushed where the file system needs it, then renamed over the old
// one. The folder is not flushed: a power cut can lose the last changes and
// leaves an older complete file.
LSTATUS writeFile(State& s, const std::vector<const std::string*>& pieces) {
    std::string tmp;
    const int fd = newTempFile(s, tmp);
    if (fd < 0) {
        return failedWrite(s, errno);
    }
    int64_t injected = 0;
    LSTATUS rc = ERROR_SUCCESS;
    if (winplat::inject::take("RegistryFileWrite", &injected)) {
        // A failing disk: half the file reaches it.
        std::string bytes;
        for (const std::string* piece : pieces) {
            bytes += *piece;
        }
        pwriteAll(fd, bytes.data(), bytes.size() / 2, 0);
        rc = static_cast<LSTATUS>(injected);
        s.writeError = "failure injected";
    } else if (!writePieces(fd, pieces) || ((s.flushData || ::access(s.target.c_str(), F_OK) != 0) &&
                                            !flushData(fd, "RegistryFlushFile"))) {
        // A rename that replaces no file is not ordered after the data by
        // any file system: a file made is flushed once, before its name.
        rc = failedWrite(s, errno);
    }
    struct stat st;
    if (rc == ERROR_SUCCESS && ::fstat(fd, &st) != 0) {
        rc = failedWrite(s, errno);
    }
    if (::close(fd) != 0 && rc == ERROR_SUCCESS) {
        rc = failedWrite(s, errno);
    }
    if (rc == ERROR_SUCCESS) {
        checkpoint("RegistryBeforeRename");
        if (s.shared) {
            s.shared->rewrites.fetch_add(1, std::memory_order_acq_rel);
        }
        if (::rename(tmp.c_str(), s.target.c_str()) != 0) {
            rc = failedWrite(s, errno);
        }
    }
    if (rc != ERROR_SUCCESS) {
        ::unlink(tmp.c_str());
        return rc;
    }
    if (s.shared) {
        s.seenRewrites = s.shared->rewrites.load(std::memory_order_acquire);
    }
    s.seen = idOf(st);
    s.fileRights = fileRightsOf(st);
    ContentHash hash;
    for (const std::string* piece : pieces) {
        hash.add(piece->data(), piece->size());
    }
    s.seenHash = hash.done();
    s.salt = 0;  // the tree is the file alone
    s.journalEnd = 0;
    s.previousIn = false;
    checkpoint("RegistryAfterRename");
    return ERROR_SUCCESS;
}

// The tree goes with the journal of `salt`, which holds no record yet.
void journalStarted(State& s, uint64_t salt) {
    s.salt = salt;
    s.chain = salt;
    s.journalEnd = kJournalHeader;
    startHistory(s, salt);
}

// Starts the journal afresh for the file as it is, with a salt no record
// before has: what follows the header then cannot check out.
LSTATUS startJournal(State& s) {
    const uint64_t salt = newSalt();
    const std::string header = journalHeader(s.seen, s.seenHash, salt);
    if (!pwriteAll(s.journalFd, header.data(), header.size(), 0)) {
        return failedWrite(s, errno);
    }
    journalStarted(s, salt);
    // The old journal's records do not check out after the new header; they
    // are cut off now or before the first append.
    s.journalTail = ::ftruncate(s.journalFd, kJournalHeader) != 0;
    return ERROR_SUCCESS;
}

// Puts a journal of this process's own, with the file's mode and owner and
// started for the file as it is, in place of one that others may read or
// write beyond the file's rights, or that is not trusted: a new file renamed
// over it, so no record is ever written where they can reach it.
LSTATUS replaceJournal(State& s) {
    std::string tmp;
    const int fd = newTempFile(s, tmp);
    if (fd < 0) {
        return failedWrite(s, errno);
    }
    const uint64_t salt = newSalt();
    const std::string header = journalHeader(s.seen, s.seenHash, salt);
    // On disk before its name is, as every file made beside the registry;
    // told before it replaces the one others may hold.
    const bool flushed =
        pwriteAll(fd, header.data(), header.size(), 0) && flushData(fd, "RegistryFlushJournal");
    if (flushed && s.shared) {
        s.seenRewrites = s.shared->rewrites.fetch_add(1, std::memory_order_acq_rel) + 1;
    }
    if (!flushed || ::rename(tmp.c_str(), (s.target + ".journal").c_str()) != 0) {
        const int e = errno;
        ::close(fd);
        ::unlink(tmp.c_str());
        return failedWrite(s, e);
    }
    if (s.journalFd >= 0) {
        ::close(s.journalFd);
    }
    s.journalFd = fd;
    s.journalWritable = true;
    ::fstat(fd, &s.journalStat);
    s.journalTail = false;
    s.journalExposed = false;
    journalStarted(s, salt);
    return ERROR_SUCCESS;
}

// Writes the whole tree as the file, then starts the journal afresh for it.
// The journal goes with the old file until then, and the new file holds all
// of it, so a writer stopped at any point leaves a state that loses nothing.
LSTATUS foldIn(State& s) {
    // An untrusted journal with records for the file read is set aside before
    // the file moves on from that version; never passed over.
    if (s.journalFd >= 0 && !journalTrusted(s) && journalHoldsRecords(s) && !setJournalAside(s)) {
        return failedWrite(s, errno);
    }
    std::string head;
    std::vector<const std::string*> pieces;
    winplat::regtree::serializePieces(*s.tree, s.encoding, head, pieces);
    const LSTATUS rc = writeFile(s, pieces);
    if (rc != ERROR_SUCCESS) {
        return rc;
    }
    openJournal(s, true);
    if (s.salt != 0) {
        // a journal for the new file was just put in place
    } else if (s.journalWritable && journalUsable(s) && !s.journalExposed) {
        startJournal(s);  // without it the journal names the old file and is left alone
    } else if (s.journalPlanted.empty() && (s.journalFd < 0 || s.journalWritable || !journalTrusted(s))) {
        replaceJournal(s);  // the file holds every change whether this is done or not
    }
    return ERROR_SUCCESS;
}

// Appends one record after the last whole one; bytes of a record cut short
// are cut off first. A record that cannot be written whole is cut off again.
LSTATUS appendJournal(State& s, const std::string& payload) {
    const off_t at = s.journalEnd;
    if (s.journalTail) {
        if (::ftruncate(s.journalFd, at) != 0) {
            return failedWrite(s, errno);
        }
        s.journalTail = false;
    }
    std::string bytes;
    const uint64_t sum = checksum(s.chain, payload.data(), payload.size());
    put(bytes, static_cast<uint64_t>(payload.size()));
    put(bytes, sum);
    bytes += payload;
    int64_t injected = 0;
    LSTATUS rc = ERROR_SUCCESS;
    if (winplat::inject::take("RegistryFileWrite", &injected)) {
        // A failing disk: half the record reaches it.
        pwriteAll(s.journalFd, bytes.data(), bytes.size() / 2, at);
        rc = static_cast<LSTATUS>(injected);
    } else if (!pwriteAll(s.journalFd, bytes.data(), bytes.size(), at)) {
        rc = failedWrite(s, errno);
    }
    if (rc != ERROR_SUCCESS) {
        // What reached the file fails its checksum; it is cut off again
        // now or by the next change.
        s.journalTail = ::ftruncate(s.journalFd, at) != 0;
        return rc;
    }
    s.journalEnd = at + static_cast<off_t>(bytes.size());
    addToHistory(s, at, s.chain, s.journalEnd, sum);
    s.chain = sum;
    s.ownSalt = s.salt;
    checkpoint("RegistryAfterRecord");
    return ERROR_SUCCESS;
}

// Whether the tree holds records of a journal, which its file lacks until
// it is rewritten.
bool holdsRecords(const State& s) {
    return (s.salt != 0 && s.journalEnd > off_t{kJournalHeader}) || s.previousIn;
}

// The store whose journal is written into its file at exit, or whose
// process was told its changes were set aside: the registry's.
State* atExitStore = nullptr;

void atExit() {
    if (!atExitStore) {
        return;
    }
    State& s = *atExitStore;
    winplat::kernel::PlatformGuard lock(*s.mutex);
    checkpoint("RegistryAtExit");
    // Only a tree that holds records of the journal has changes the file may lack.
    const bool pending = holdsRecords(s);
    const std::string aside = s.asideNote;  // said at a call before, and now again
    if (s.foldsAtExit && foldPending(s) != ERROR_SUCCESS && pending) {
        // A journal cut from outside where this process could not look under
        // the lock (the file made read-only, say) no longer holds its changes;
        // one started again by another process's rewrite is not cut: that
        // rewrite, made under the lock after reading it, holds them.
        struct stat now;
        const bool holds = s.journalFd >= 0 && lastRecordHolds(s);
        const bool rewritten = ::stat(s.target.c_str(), &now) == 0 && s.seen.exists && s.seen != idOf(now);
        if (s.cutLost || holds || !rewritten) {
            const bool lost = s.cutLost || !holds;
            say("winplat: the registry file " + s.file + " could not be rewritten (" + s.writeError + "); " +
                (lost ? "the changes this process read from " + s.target +
                            ".journal past where it was cut from outside are lost.\n"
                      : "its changes are kept in " + s.target + ".journal and read from there.\n"));
        }
    }
    if (!aside.empty()) {
        say(aside);
    }
}

// Has the process's exit write the tree's records into the file (`fold`,
// once it wrote), and say again what it was told of its changes; a reader
// that was told writes nothing.
void atExitLater(State& s, bool fold) {
    if (!atExitStore) {
        atExitStore = &s;
        std::atexit(atExit);
    }
    if (atExitStore == &s && fold) {
        s.foldsAtExit = true;
    }
}

// Writes a change through: a record in the journal that goes with the file
// (started for it when there is none), or the whole tree when there is no
// file yet; the tree is also written once the journal has outgrown the
// file. A journal that cannot be written fails the change: the file is
// never rewritten without the records in it.
LSTATUS writeThrough(State& s, Op op, const Path& path, std::wstring_view name) {
    if (!s.seen.exists) {
        return !s.journalPlanted.empty() ? refusePlanted(s, s.target + ".journal", s.journalPlanted)
                                         : foldIn(s);
    }
    openJournal(s, true);
    if (!s.journalPlanted.empty()) {
        return refusePlanted(s, s.target + ".journal", s.journalPlanted);
    }
    if (s.journalFd >= 0 && !journalTrusted(s)) {
        return foldIn(s);  // neither read nor written: one of this process's own takes its place
    }
    if (s.journalFd < 0 || !s.journalWritable) {
        const int e = s.journalErrno != 0 ? s.journalErrno : EACCES;
        if (s.journalFd >= 0) {
            sayOnce(s, "winplat: the registry journal " + s.target + ".journal cannot be written (" +
                           std::strerror(e) + "); changes are refused.\n");
        }
        return failedWrite(s, e);
    }
    if (s.previousIn || s.journalExposed || !journalFits(s.fileRights, s.journalStat)) {
        // The journal of this format starts over the previous one's records;
        // one that others may read or write beyond the file's rights gets
        // no record, and one of this process's own takes its place.
        return foldIn(s);
    }
    if (s.salt == 0) {
        const LSTATUS rc = startJournal(s);
        if (rc != ERROR_SUCCESS) {
            return rc;
        }
    }
    const std::string payload = journalPayload(*s.tree, op, path, name);
    if (payload.empty()) {
        return foldIn(s);
    }
    const LSTATUS rc = appendJournal(s, payload);
    if (rc != ERROR_SUCCESS) {
        return rc;
    }
    atExitLater(s, true);
    if (s.journalEnd > std::max<off_t>(kJournalFoldMin, s.seen.size)) {
        try {
            foldIn(s);  // the change is kept by the journal when this fails
        } catch (const std::bad_alloc&) {
        }
    }
    return ERROR_SUCCESS;
}

// Takes the lock file's lock exclusive, for a change; the lock file is made
// here when there is none. A process that may not write the file or the
// lock fails with the file system's error, having made nothing; so does one
// whose file was made read-only while it waited for the lock.
LSTATUS lockForWrite(State& s) {
    struct stat file {};
    const bool there = ::stat(s.target.c_str(), &file) == 0;
    // A version found unusable is refused for what was said of it, whatever
    // else keeps this process from writing it.
    if (there && stillBad(s, file)) {
        return s.badCode;
    }
    // Checked before a lock file is made, then always under the lock.
    if (!s.lockWritable && there && rightsOf(file) != s.writeChecked &&
        ::faccessat(AT_FDCWD, s.target.c_str(), W_OK, AT_EACCESS) != 0) {
        return failedWrite(s, errno);
    }
    if (s.lockFd < 0) {
        // Nothing is made beside a file this process cannot use: a lock file
        // made for a change then refused would keep rights no version read
        // gave it, and could lock the file's owner out.
        openLock(s);
        if (s.lockFd < 0) {
            s.checkedAt = 0;
            if (const LSTATUS rc = refresh(s, false); rc != ERROR_SUCCESS) {
                return rc;
            }
        }
    }
    openLock(s, true);
    if (!s.lockPlanted.empty()) {
        return refusePlanted(s, s.target + ".lock", s.lockPlanted);
    }
    if (s.lockFd < 0 || !s.lockWritable || !s.shared) {
        const int e = s.lockErrno != 0 ? s.lockErrno : EACCES;
        const std::string lock = s.target + ".lock";
        struct stat there;
        sayOnce(s, "winplat: the registry lock file " + lock + " cannot be " +
                       (::lstat(lock.c_str(), &there) == 0 ? "written" : "made in " + folderOf(s.target)) +
                       " (" + std::strerror(e) + "); changes are refused.\n");
        return failedWrite(s, e);
    }
    checkpoint("RegistryBeforeLock");
    while (::flock(s.lockFd, LOCK_EX) != 0) {
        if (errno != EINTR) {
            return errnoStatus(errno);
        }
    }
    const bool exists = ::stat(s.target.c_str(), &file) == 0;
    const Rights rights = rightsOf(file);
    if (exists && rights != s.writeChecked) {
        if (::faccessat(AT_FDCWD, s.target.c_str(), W_OK, AT_EACCESS) != 0) {
            const LSTATUS rc = failedWrite(s, errno);
            ::flock(s.lockFd, LOCK_UN);
            return rc;
        }
        s.writeChecked = rights;
    }
    return ERROR_SUCCESS;
}

// Brings the lock file and the journal to the rights of the file version
// read under the exclusive lock, when they changed since this process last
// looked; never to those of a file it has not read, and only a file it
// trusts. A journal that still holds another version's records is started
// again first, so that widening it shows none of them.
void bringRights(State& s) {
    if (!s.fileRights.known || s.fileRights == s.rightsBrought) {
        return;
    }
    struct stat lock;
    if (::fstat(s.lockFd, &lock) == 0 && mayTakeRights(lock.st_uid, s.fileRights)) {
        takeRights(s.fileRights, s.lockFd);
    }
    if (s.journalFd >= 0 && s.journalWritable && journalTrusted(s)) {
        if (s.salt == 0 && !s.previousIn && !s.journalExposed && journalFits(s.fileRights, s.journalStat)) {
            startJournal(s);
        }
        // Narrowing a journal does not close it for whoever opened it
        // before: it is replaced rather than written on.
        s.journalExposed = s.journalExposed || !journalFits(s.fileRights, s.journalStat);
        takeRights(s.fileRights, s.journalFd);
        ::fstat(s.journalFd, &s.journalStat);
    }
    s.rightsBrought = s.fileRights;
}

// Makes one change (`op` on the key at `path`, its value `name`) and
// writes it through; a change the file does not take is undone. Called with
// the store's mutex held; takes the file lock.
LSTATUS commit(State& s, Op op, const Path& path, std::wstring_view name, const Change& change) {
    ++s.generation;
    Undo undo;
    if (s.file.empty()) {
        LSTATUS rc;
        try {
            rc = change(*s.tree, undo);
        } catch (const std::bad_alloc&) {
            undo.run();
            rc = ERROR_NOT_ENOUGH_MEMORY;
        }
        ++s.generation;
        return rc;
    }
    // Tests change the files here, after the call's last look at them.
    checkpoint("RegistryBeforeChange");
    LSTATUS rc = lockForWrite(s);
    if (rc != ERROR_SUCCESS) {
        return rc;
    }
    rc = refresh(s, true);
    if (rc == ERROR_SUCCESS) {
        bringRights(s);
        try {
            rc = change(*s.tree, undo);
            if (rc == ERROR_SUCCESS && !undo.empty()) {
                s.seenGeneration = s.shared->generation.fetch_add(1, std::memory_order_acq_rel) + 1;
                rc = writeThrough(s, op, path, name);
                if (rc == ERROR_SUCCESS && !s.tempsSwept) {
                    removeStaleTemps(s.target, s.namedAside);
                    s.tempsSwept = true;
                }
            }
        } catch (const std::bad_alloc&) {
            rc = ERROR_NOT_ENOUGH_MEMORY;
        }
        if (rc != ERROR_SUCCESS) {
            undo.run();
        }
    }
    ++s.generation;  // keys found during the change may have gone with its undoing
    ::flock(s.lockFd, LOCK_UN);
    return rc;
}

// Writes the journal's records into the file, so that the file stands whole
// on its own; done when a process that wrote ends or reloads. The journal
// stays as it is when the file cannot be written.
LSTATUS foldPending(State& s) {
    if (!s.loaded || s.file.empty() || !s.lockWritable || s.journalFd < 0) {
        return ERROR_SUCCESS;
    }
    LSTATUS rc = lockForWrite(s);
    if (rc != ERROR_SUCCESS) {
        return rc;
    }
    rc = refresh(s, true);
    if (rc == ERROR_SUCCESS) {
        bringRights(s);
    }
    if (rc == ERROR_SUCCESS && holdsRecords(s)) {
        rc = foldNow(s);
    } else if (rc != ERROR_SUCCESS && s.bad && rc == s.badCode) {
        rc = ERROR_SUCCESS;  // a file that cannot be used was said so already
    }
    ++s.generation;
    ::flock(s.lockFd, LOCK_UN);
    return rc;
}

}  // namespace

Store::Store(kernel::PlatformLock& mutex) : s_(new State) {
    s_->mutex = &mutex;
}

// Never reached for the registry's store, which lives to the end of the
// process; a store destroyed earlier must not be folded at exit.
Store::~Store() {
    if (atExitStore == s_.get()) {
        atExitStore = nullptr;
    }
    closeLock(*s_);
}

LSTATUS Store::load(const std::string& file) {
    return loadFresh(*s_, file);
}

LSTATUS Store::loadTree(std::unique_ptr<Key> tree) {
    const LSTATUS loaded = loadFresh(*s_, "");
    s_->tree = std::move(tree);
    ++s_->generation;
    return loaded;
}

bool Store::loaded() const {
    return s_->loaded;
}

void Store::ensureFresh() {
    regstore::ensureFresh(*s_);
}

LSTATUS Store::commit(Op op, const Path& path, std::wstring_view name, const Change& change) {
    return regstore::commit(*s_, op, path, name, change);
}

LSTATUS Store::flush() {
    return foldPending(*s_);
}

Key& Store::tree() const {
    return *s_->tree;
}

uint64_t Store::generation() const {
    return s_->generation;
}

const std::string& Store::file() const {
    return s_->file;
}

const std::string& Store::lastError() const {
    return s_->lastError;
}

}  // namespace winplat::regstore
