// The registry's storage (private to winplat): the tree, the `.reg` file it
// is kept in, the journal beside it and the lock file that orders the
// processes sharing them. The Win32 calls of registry.cpp see only these
// few operations.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "kinternal.h"
#include "registry_tree.h"
#include "winplat/types.h"

namespace winplat::regstore {

// What a change did, as its journal record tells it.
enum class Op : char { SetValue = 'V', RemoveValue = 'X', CreateKey = 'K', RemoveKey = 'D' };

// Puts the tree back as it was before a change whose file could not be
// written; steps run last first.
class Undo {
  public:
    void add(std::function<void()> step) { steps_.push_back(std::move(step)); }
    void run() {
        for (auto it = steps_.rbegin(); it != steps_.rend(); ++it) {
            (*it)();
        }
        steps_.clear();
    }
    bool empty() const { return steps_.empty(); }

  private:
    std::vector<std::function<void()>> steps_;
};

// Decides on the tree as it is under the file lock, edits it in place and
// returns ERROR_SUCCESS, recording in the Undo how to take the edit back (no
// step: nothing changed, nothing is written); or returns an error having
// changed nothing.
using Change = std::function<LSTATUS(regtree::Key&, Undo&)>;

// Every call is made with `mutex` held, the lock given at construction; the
// exit handler that writes a journal's changes into the file takes it too.
class Store {
  public:
    explicit Store(kernel::PlatformLock& mutex);
    ~Store();
    Store(const Store&) = delete;
    Store& operator=(const Store&) = delete;

    // (Re)loads the registry kept in `file` ("": in memory only), after the
    // changes still in the journal of the one loaded before went into its
    // file. A file that cannot be used is said so on stderr once.
    LSTATUS load(const std::string& file);
    // Loads the registry in memory only, as load("") does, its tree `tree`.
    LSTATUS loadTree(std::unique_ptr<regtree::Key> tree);
    bool loaded() const;
    // Brings the tree up to date with what other processes wrote; loads from
    // WINPLAT_REGISTRY first when nothing was loaded.
    void ensureFresh();
    // Makes one change (`op` on the key at `path`, its value `name`) on the
    // tree as the files have it under the exclusive lock, and writes it
    // through; a change the files do not take is undone.
    LSTATUS commit(Op op, const regtree::Path& path, std::wstring_view name, const Change& change);
    // Writes the journal's changes into the file, so it stands whole alone.
    LSTATUS flush();

    regtree::Key& tree() const;
    // Moves whenever the tree may have changed: keys found under another
    // generation are not to be used.
    uint64_t generation() const;
    const std::string& file() const;
    const std::string& lastError() const;

    struct State;

  private:
    std::unique_ptr<State> s_;
};

}  // namespace winplat::regstore
