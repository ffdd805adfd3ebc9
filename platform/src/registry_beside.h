// The files the registry keeps beside its file (private to winplat): the
// lock file, the journal and the file's next version. How they are opened,
// whom and what they are trusted by, which rights they get, and how a file
// planted in their place is refused, in one place; the journal's protocol
// stays with the store.
//
// The rules, against a neighbour who may write the folder:
// - A name is never opened through a symbolic link, and only a regular file
//   with one name, which that name still names once it is open, is used.
// - A file is used only when its content is one of its kind (a lock file's
//   counters, a journal's header or the start of one); a file this layer
//   makes is born whole, on disk before its name is, under a temporary name
//   renamed into place (made in place, then filled under its own lock, where
//   the file system cannot rename without replacing). A blank file (empty,
//   or zero bytes only: what a crash or a power cut leaves of a file whose
//   data never reached the disk) is damage, not a plant, when its owner is
//   one this process would trust were it whole: such a file is made whole
//   again by a writer. Anything else is refused, untouched; one of an
//   owner not trusted so is refused without a look past its first bytes,
//   blank or not, but for a blank journal, which a writer replaces (it holds
//   nothing to keep). A file is read through for zeros, and refused for its
//   content, once for each version of it (its file, size and times).
// - A file's rights come only from a version of the registry file this
//   process has read and may use: its mode, its owner (root hands the files
//   to it) and its group.
// - A journal is trusted only when its owner is the file's or root, or the
//   file lets others read and write it; an untrusted one is neither read nor
//   written, but replaced. Not even its maker writes records there, as every
//   other process would pass them by: a group member who may write the file
//   writes it whole instead, until the file, rewritten by it, is its own.
// - The lock file is mapped, for its counters, only as a mapping that a cut
//   does not turn into a crash while this layer's SIGBUS handler is in place:
//   its page is put back as zeros, which makes the store read the files again
//   and look at the lock file anew.
#pragma once

#include <sys/stat.h>
#include <sys/types.h>

#include <atomic>
#include <cstdint>
#include <string>

namespace winplat::regstore {

// The registry file's version this process read, as the files beside it are
// to be: none read yet, they get kNewFileMode and this process's owner.
struct FileRights {
    bool known = false;
    mode_t mode = 0;
    uid_t uid = 0;
    gid_t gid = 0;

    bool operator==(const FileRights&) const = default;
};

FileRights fileRightsOf(const struct stat& file);

// The mode winplat gives a registry file it makes.
constexpr mode_t kNewFileMode = 0644;

// Whether the first `n` bytes of a file, of `size` bytes in all, are what a
// file of its kind begins with.
using ContentCheck = bool (*)(const char* first, size_t n, off_t size);

// A kind of file beside the registry.
struct BesideKind {
    ContentCheck isOne;
    // What a file that is not one is said to be, when it is something known;
    // nullptr: "a file with other content".
    const char* (*other)(const char* first, size_t n, off_t size);
    // A blank one of anyone's is taken by a writer, to be replaced by a file
    // of its own: it holds nothing to keep. A lock file is not (others may
    // wait on it); only one this process would trust whole is filled.
    bool replacedWhenBlank;
};

// A file beside the registry file, opened.
struct BesideFile {
    int fd = -1;
    bool writable = false;
    bool blank = false;    // it holds nothing, and mayTakeRights() its owner: the caller decides
    bool foreign = false;  // refused for its content alone, a regular file of one name (`st`)
    int writeErrno = 0;    // why it could not be opened for writing
    std::string planted;   // why what stands there is not to be used ("": nothing found so)
    struct stat st {};     // of the file opened
};

// Opens `name` (the registry file's name and an extension) for writing
// where this process may, else for reading, when what stands there is a file
// of its kind, or a blank one whose owner mayTakeRights() by `file` (none
// read yet: by the registry file as it stands), or, when `bring` (a writer's
// look), anyone's blank one of a kind replaced when blank. When `bring`, a trusted file
// left with rights other than `file`'s is brought to them where that lets
// this process write it. fd -1 with errno ENOENT: nothing is there.
BesideFile openBeside(const std::string& name, const BesideKind& kind, const FileRights& file, bool bring);

// Puts a file holding `content`, with `file`'s rights, at `name` where
// nothing stands; where another process was first, opens that one as
// openBeside() does. `made` tells which. A file made in place is left blank
// (`blank`), for the caller to fill with fillBlank().
BesideFile createBeside(const std::string& name, const std::string& target, const std::string& content,
                        const BesideKind& kind, const FileRights& file, bool& made);

// Makes the blank file open for writing as `fd` hold `content`, on disk,
// under a lock of its own, unless another process filled it first (it is
// read through again there, whatever was found of it before); true when it
// then holds a file of its kind, with `st` its state.
bool fillBlank(int fd, const std::string& content, const BesideKind& kind, struct stat& st);

// Puts the data of the file open as `fd` on disk, as a file made beside the
// registry needs before its name is given; false (errno) when it cannot, or
// when a test made the injection point `point` fail (its code the errno).
bool flushData(int fd, const char* point);

// Tests stop or kill the process at the moment named `name`: the code armed
// for it is the signal raised.
void checkpoint(const char* name);

// Writes `n` bytes at `at`, as many calls as it takes; false (errno) when one fails.
bool pwriteAll(int fd, const char* p, size_t n, off_t at);

// Makes a temporary file beside `target`, named in `tmp`, with `file`'s
// rights; -1 when it cannot.
int newTempFile(const std::string& target, const FileRights& file, std::string& tmp);

// Gives the file open as `fd` `file`'s mode and owner, as far as this
// process may: root hands it to the owner, another user to the file's group
// when a member. So whoever may read the file may read the lock and the
// journal and whoever may write it may write them (a file kept read-only is
// written by root alone, who needs no write bit), and a root process never
// locks the owner out of their own registry. True when it changed anything.
bool takeRights(const FileRights& file, int fd);

// Whether a journal owned by `owner` is trusted by every process that may
// use the registry: the file's owner, root, or anyone when the file lets
// others read and write it.
bool trustedOwner(uid_t owner, const FileRights& file);

// Whether this process brings a file beside the registry owned by `owner`
// to the file's rights, and makes it whole when it is blank: a trusted one,
// or its own. Anyone else's blank lock file is refused as a plant, unread.
bool mayTakeRights(uid_t owner, const FileRights& file);

// Whether whoever may read or write the journal may read or write the
// file: its rights for others are the file's at most, its group's those the
// file gives that group (or others).
bool journalFits(const FileRights& file, const struct stat& journal);

// The lock file: its counters, then a mark that tells it from any other file.
struct LockCounters {
    std::atomic<uint64_t> generation;  // bumped before every change of the file or the journal
    std::atomic<uint64_t> rewrites;    // bumped before every rename of a new file over the old
};
constexpr size_t kLockSize = 32;
std::string newLockContent();
extern const BesideKind kLockKind;

// Maps the counters of the lock file open as `fd` (`writable`: for
// writing), so that a cut of the file from outside leaves zeros in their
// place rather than a SIGBUS; `cut` is then set. nullptr when it cannot.
LockCounters* mapCounters(int fd, bool writable, std::atomic<bool>* cut);
void unmapCounters(LockCounters* counters);

}  // namespace winplat::regstore
