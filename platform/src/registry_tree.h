// The registry's in-memory tree and its `.reg` text form (private to winplat).
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "winplat/types.h"

namespace winplat::regtree {

// Longest key name and value name, in UTF-16 units.
constexpr size_t kMaxKeyName = 255;
constexpr size_t kMaxValueName = 16383;
// Deepest key, counting the root as the first level, and the most levels one
// RegCreateKeyExW call creates.
constexpr size_t kMaxDepth = 512;
constexpr size_t kMaxCreateDepth = 32;

// Names compare by their upper-cased units.
std::wstring fold(std::wstring_view name);

enum class Encoding { Utf8, Utf16 };

// A name to look up among folded names without folding it into a new string.
struct Unfolded {
    std::wstring_view name;
};

// A name already folded, to look up without making a string of it.
struct FoldedView {
    std::wstring_view name;
};

// Orders folded names as std::wstring does; an Unfolded compares as its
// folded form would.
struct FoldedLess {
    using is_transparent = void;
    bool operator()(const std::wstring& a, const std::wstring& b) const { return a < b; }
    bool operator()(const std::wstring& a, FoldedView b) const { return std::wstring_view(a) < b.name; }
    bool operator()(FoldedView a, const std::wstring& b) const { return a.name < std::wstring_view(b); }
    bool operator()(const std::wstring& folded, Unfolded u) const { return compare(folded, u.name) < 0; }
    bool operator()(Unfolded u, const std::wstring& folded) const { return compare(folded, u.name) > 0; }
    // <0, 0, >0 as `folded` sorts before, equal to or after fold(name).
    static int compare(std::wstring_view folded, std::wstring_view name);
};

struct Value {
    std::wstring name;  // "" is the default value
    DWORD type = 0;
    std::vector<uint8_t> data;  // as stored: text types are UTF-16LE
};

// Values change only through the member functions, which keep the key's
// cached text in step with them.
struct Key {
    std::wstring name;
    using Subkeys = std::map<std::wstring, std::unique_ptr<Key>, FoldedLess>;
    Subkeys subkeys;            // by folded name: the enumeration order
    std::vector<Value> values;  // in the order they were added
    // Comment lines of the file under the key's line (the top: under the
    // header), written back right after that line.
    std::vector<std::wstring> comments;

    // The key's own lines in the file (path line, values, blank line) as
    // last serialised: a write re-serialises only the keys that changed.
    mutable std::string text;
    mutable bool textValid = false;
    mutable Encoding textEncoding = Encoding::Utf8;

    Key* child(std::wstring_view name) const;
    Key& ensureChild(std::wstring_view name);
    bool removeChild(std::wstring_view name);
    // Detaches a subkey with its subtree (null when there is none) and puts
    // one back, to undo a change.
    std::unique_ptr<Key> takeChild(std::wstring_view name);
    void putChild(std::unique_ptr<Key> child);
    Value* value(std::wstring_view name);
    const Value* value(std::wstring_view name) const;
    // Sets a value; an existing one of that name keeps its spelling and place.
    void setValue(std::wstring_view name, DWORD type, std::vector<uint8_t> data);
    bool removeValue(std::wstring_view name);
    void insertValue(size_t index, Value v);
    void assignValues(std::vector<Value> v) {
        values = std::move(v);
        dropIndex();
        touch();
    }
    void touch() { textValid = false; }

  private:
    // Folded value names to their places, made once a key has many values,
    // so that a key of a hundred thousand values loads and changes without
    // a scan per name.
    mutable std::unordered_map<std::wstring, size_t> index_;
    mutable bool indexed_ = false;
    void buildIndex() const;
    void dropIndex() {
        index_.clear();
        indexed_ = false;
    }
};

// The top holds the two roots, named as the file spells them.
constexpr std::wstring_view kCurrentUser = L"HKEY_CURRENT_USER";
constexpr std::wstring_view kLocalMachine = L"HKEY_LOCAL_MACHINE";

std::unique_ptr<Key> emptyTree();

// A key path from the top: the root's name first.
using Path = std::vector<std::wstring>;
Key* find(const Key& top, const Path& path);

// True when a name can be kept in the file (and read back the same): no NUL,
// no line break, units at most 0xFFFF and surrogates only in pairs.
bool storableName(std::wstring_view name);
bool storableKeyName(std::wstring_view name);

// Parses `.reg` bytes. An input without any text is an empty registry.
// Errors read "line N: what".
bool parse(const uint8_t* data, size_t size, std::unique_ptr<Key>& top, Encoding& encoding,
           std::string& error);

// The whole tree as a file; reuses and refreshes the keys' cached text.
std::string serialize(const Key& top, Encoding encoding);
// The same as pieces in file order (`head`, then keys' cached texts, good
// until the tree changes), so a writer need not join them; returns the size.
size_t serializePieces(const Key& top, Encoding encoding, std::string& head,
                       std::vector<const std::string*>& pieces);
// One key and its subtree (UTF-8, no header); `path` names `key`.
std::string serializeKey(const Key& key, const Path& path);

}  // namespace winplat::regtree
