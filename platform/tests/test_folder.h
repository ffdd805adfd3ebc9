// Fresh folders for tests, in a folder every user can reach: tests run
// processes as other users, who must find their files there whatever
// TMPDIR is (unset, private to the test's user, absent).
#pragma once

#include <limits.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <stdexcept>
#include <string>
#include <vector>

namespace testfolder {

// True when others may search every folder on the way to `resolved`, a path
// without links.
inline bool reachableByAll(const std::string& resolved) {
    const auto searchable = [](const std::string& folder) {
        struct stat st {};
        return ::stat(folder.c_str(), &st) == 0 && (st.st_mode & S_IXOTH);
    };
    if (!searchable("/")) {
        return false;
    }
    for (size_t slash = resolved.find('/', 1); slash != std::string::npos;
         slash = resolved.find('/', slash + 1)) {
        if (!searchable(resolved.substr(0, slash))) {
            return false;
        }
    }
    return searchable(resolved);
}

// Where fresh folders go: the first of $TMPDIR, /tmp, /var/tmp, /dev/shm that
// is a folder this process may write and every user can reach, links
// resolved; else the first this process may write (none reachable by all,
// as for a user other than root whose TMPDIR is private).
inline std::string base() {
    std::vector<std::string> candidates;
    if (const char* tmp = std::getenv("TMPDIR"); tmp && *tmp) {
        candidates.push_back(tmp);
    }
    candidates.insert(candidates.end(), {"/tmp", "/var/tmp", "/dev/shm"});
    std::string writable;
    for (const std::string& candidate : candidates) {
        char resolved[PATH_MAX];
        struct stat st {};
        if (!::realpath(candidate.c_str(), resolved) || ::stat(resolved, &st) != 0 || !S_ISDIR(st.st_mode) ||
            ::access(resolved, W_OK | X_OK) != 0) {
            continue;
        }
        if (reachableByAll(resolved)) {
            return resolved;
        }
        if (writable.empty()) {
            writable = resolved;
        }
    }
    if (writable.empty()) {
        throw std::runtime_error(
            "no folder for test folders: none of $TMPDIR, /tmp, /var/tmp, /dev/shm is a "
            "folder this process may write");
    }
    return writable;
}

// A new empty folder in base(), its name `prefix` and six characters no
// other folder there has; its mode is 0700, so a test opens it to whom it
// means to.
inline std::string fresh(const std::string& prefix) {
    const std::string pattern = base() + "/" + prefix + "XXXXXX";
    std::string name = pattern;
    if (!::mkdtemp(name.data())) {
        throw std::runtime_error("cannot make a folder " + pattern + ": " + std::strerror(errno));
    }
    return name;
}

// Removes `path` and all it holds, as far as it can. A folder the test
// closed to its own user is opened first, so that a test run by a user other
// than root leaves nothing behind either.
inline void removeAll(const std::string& path) {
    struct stat st {};
    if (::lstat(path.c_str(), &st) != 0) {
        return;
    }
    if (!S_ISDIR(st.st_mode)) {
        ::unlink(path.c_str());
        return;
    }
    ::chmod(path.c_str(), (st.st_mode & 07777) | S_IRWXU);
    std::error_code ec;
    std::vector<std::string> entries;
    for (std::filesystem::directory_iterator it(path, ec), end; !ec && it != end; it.increment(ec)) {
        entries.push_back(it->path().string());
    }
    for (const std::string& entry : entries) {
        removeAll(entry);
    }
    ::rmdir(path.c_str());
}

// A fresh() folder that goes, with all it holds, when the object does: at the
// end of the test however it ends, a failed assertion included.
class Scoped {
  public:
    explicit Scoped(const std::string& prefix) : path_(fresh(prefix)) {}
    ~Scoped() { removeAll(path_); }
    Scoped(const Scoped&) = delete;
    Scoped& operator=(const Scoped&) = delete;

    const std::string& path() const { return path_; }

  private:
    std::string path_;
};

}  // namespace testfolder
