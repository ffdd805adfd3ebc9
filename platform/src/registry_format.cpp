// The registry tree and the `.reg` text form ("Windows Registry Editor
// Version 5.00"): what the Windows registry editor writes, read back, and the
// same form written. Text data in the file is UTF-16LE bytes, as stored.
#include <algorithm>

#include "hex_internal.h"
#include "registry_tree.h"
#include "winplat/registry.h"
#include "winplat/text.h"
#include "winplat/utf16.h"

namespace winplat::regtree {

namespace {

constexpr std::wstring_view kHeader = L"Windows Registry Editor Version 5.00";

bool isHigh(uint32_t u) {
    return u >= 0xD800 && u <= 0xDBFF;
}
bool isLow(uint32_t u) {
    return u >= 0xDC00 && u <= 0xDFFF;
}

// Units at most 0xFFFF and surrogates only in pairs.
bool wellFormed(std::wstring_view s) {
    for (size_t i = 0; i < s.size(); ++i) {
        const uint32_t u = static_cast<uint32_t>(s[i]);
        if (u > 0xFFFF) {
            return false;
        }
        if (isHigh(u)) {
            if (i + 1 >= s.size() || !isLow(static_cast<uint32_t>(s[i + 1]))) {
                return false;
            }
            ++i;
        } else if (isLow(u)) {
            return false;
        }
    }
    return true;
}

std::string lineError(size_t line, const std::string& what) {
    return "line " + std::to_string(line) + ": " + what;
}

// Decodes the file's text into UTF-16 units.
bool decode(const uint8_t* d, size_t n, std::wstring& out, Encoding& enc, std::string& error) {
    size_t line = 1;
    if (n >= 2 && d[0] == 0xFF && d[1] == 0xFE) {
        enc = Encoding::Utf16;
        out.reserve(n / 2);
        for (size_t i = 2; i + 1 < n; i += 2) {
            const wchar_t u = static_cast<wchar_t>(d[i] | (d[i + 1] << 8));
            line += (u == L'\n');
            out.push_back(u);
        }
        if (n % 2 != 0) {
            error = lineError(line, "the UTF-16 text ends in the middle of a character");
            return false;
        }
        return true;
    }
    if (n >= 2 && d[0] == 0xFE && d[1] == 0xFF) {
        error = lineError(1, "big-endian UTF-16 text is not supported (use UTF-8 or UTF-16LE)");
        return false;
    }
    if (n >= 2 && (d[0] == 0) != (d[1] == 0)) {
        error = lineError(1,
                          "the text is UTF-16 without a byte-order mark (save it as UTF-8, or as "
                          "UTF-16LE with a byte-order mark)");
        return false;
    }
    enc = Encoding::Utf8;
    size_t i = (n >= 3 && d[0] == 0xEF && d[1] == 0xBB && d[2] == 0xBF) ? 3 : 0;
    out.reserve(n);
    while (i < n) {
        const uint8_t b = d[i];
        if (b < 0x80) {
            line += (b == '\n');
            out.push_back(static_cast<wchar_t>(b));
            ++i;
            continue;
        }
        size_t len;
        uint32_t cp;
        uint32_t min;
        if (b >= 0xC2 && b <= 0xDF) {
            len = 2, cp = b & 0x1Fu, min = 0x80;
        } else if (b >= 0xE0 && b <= 0xEF) {
            len = 3, cp = b & 0x0Fu, min = 0x800;
        } else if (b >= 0xF0 && b <= 0xF4) {
            len = 4, cp = b & 0x07u, min = 0x10000;
        } else {
            error = lineError(line, "the text is not valid UTF-8");
            return false;
        }
        if (i + len > n) {
            error = lineError(line, "the text is not valid UTF-8");
            return false;
        }
        for (size_t k = 1; k < len; ++k) {
            if ((d[i + k] & 0xC0) != 0x80) {
                error = lineError(line, "the text is not valid UTF-8");
                return false;
            }
            cp = (cp << 6) | (d[i + k] & 0x3Fu);
        }
        if (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) {
            error = lineError(line, "the text is not valid UTF-8");
            return false;
        }
        if (cp >= 0x10000) {
            cp -= 0x10000;
            out.push_back(static_cast<wchar_t>(0xD800 + (cp >> 10)));
            out.push_back(static_cast<wchar_t>(0xDC00 + (cp & 0x3FF)));
        } else {
            out.push_back(static_cast<wchar_t>(cp));
        }
        i += len;
    }
    return true;
}

// Names are mostly ASCII: map those units without the full table.
wchar_t upperUnit(wchar_t c) {
    if (static_cast<uint32_t>(c) < 0x80) {
        return (c >= L'a' && c <= L'z') ? static_cast<wchar_t>(c - (L'a' - L'A')) : c;
    }
    return text::toUpper(c);
}

bool isSpace(wchar_t c) {
    return c == L' ' || c == L'\t';
}

std::wstring_view trim(std::wstring_view s) {
    while (!s.empty() && isSpace(s.front())) {
        s.remove_prefix(1);
    }
    while (!s.empty() && isSpace(s.back())) {
        s.remove_suffix(1);
    }
    return s;
}

// 1 to 8 hex digits, nothing else.
bool parseHex32(std::wstring_view s, uint32_t& v) {
    if (s.empty() || s.size() > 8) {
        return false;
    }
    v = 0;
    for (wchar_t c : s) {
        const int d = detail::hexDigitValue(c);
        if (d < 0) {
            return false;
        }
        v = (v << 4) | static_cast<uint32_t>(d);
    }
    return true;
}

bool startsWithNoCase(std::wstring_view s, std::wstring_view prefix) {
    if (s.size() < prefix.size()) {
        return false;
    }
    for (size_t i = 0; i < prefix.size(); ++i) {
        if (upperUnit(s[i]) != upperUnit(prefix[i])) {
            return false;
        }
    }
    return true;
}

// A quoted string from s[pos] == '"'. Only \\ and \" are escapes, as the
// registry editor writes them; any other backslash stands for itself.
bool parseQuoted(std::wstring_view s, size_t& pos, std::wstring& out) {
    out.clear();
    ++pos;
    while (pos < s.size()) {
        const wchar_t c = s[pos];
        if (c == L'"') {
            ++pos;
            return true;
        }
        if (c == L'\\' && pos + 1 < s.size() && (s[pos + 1] == L'\\' || s[pos + 1] == L'"')) {
            out.push_back(s[pos + 1]);
            pos += 2;
            continue;
        }
        out.push_back(c);
        ++pos;
    }
    return false;
}

// "hex:" data: bytes of one or two hex digits separated by commas; a
// trailing comma is allowed.
bool parseHexList(std::wstring_view s, std::vector<uint8_t>& out) {
    out.clear();
    s = trim(s);
    if (s.empty()) {
        return true;
    }
    size_t pos = 0;
    while (true) {
        size_t comma = s.find(L',', pos);
        std::wstring_view tok = trim(s.substr(pos, comma == std::wstring_view::npos ? s.npos : comma - pos));
        if (tok.empty() && comma == std::wstring_view::npos && !out.empty()) {
            return true;  // trailing comma
        }
        uint32_t v;
        if (tok.size() > 2 || !parseHex32(tok, v)) {
            return false;
        }
        out.push_back(static_cast<uint8_t>(v));
        if (comma == std::wstring_view::npos) {
            return true;
        }
        pos = comma + 1;
    }
}

std::vector<uint8_t> textBytes(std::wstring_view s) {
    std::vector<uint8_t> out = wideToByteVector(s);
    out.push_back(0);
    out.push_back(0);
    return out;
}

struct Parser {
    Key* top = nullptr;
    Key* current = nullptr;  // null before the first key and inside a deleted key
    bool inDeleted = false;
    std::string error;

    bool fail(size_t line, const std::string& what) {
        error = lineError(line, what);
        return false;
    }

    bool keyLine(std::wstring_view line, size_t no) {
        const size_t close = line.rfind(L']');
        if (close == std::wstring_view::npos || !trim(line.substr(close + 1)).empty()) {
            return fail(no, "a key line must end with ']'");
        }
        std::wstring_view inner = line.substr(1, close - 1);
        const bool remove = !inner.empty() && inner.front() == L'-';
        if (remove) {
            inner.remove_prefix(1);
        }
        Path path;
        size_t pos = 0;
        while (true) {
            const size_t sep = inner.find(L'\\', pos);
            std::wstring_view part =
                inner.substr(pos, sep == std::wstring_view::npos ? inner.npos : sep - pos);
            if (part.empty()) {
                if (sep == std::wstring_view::npos && !path.empty()) {
                    break;  // a trailing backslash
                }
                return fail(no, "empty key name in the key path");
            }
            if (!storableKeyName(part)) {
                return fail(no, "invalid key name '" + utf16ToUtf8(part) + "'");
            }
            path.emplace_back(part);
            if (sep == std::wstring_view::npos) {
                break;
            }
            pos = sep + 1;
        }
        // The root: the names the registry editor writes and their short forms.
        const std::wstring root = fold(path.front());
        Path full;
        if (root == L"HKEY_CURRENT_USER" || root == L"HKCU") {
            full.emplace_back(kCurrentUser);
        } else if (root == L"HKEY_LOCAL_MACHINE" || root == L"HKLM") {
            full.emplace_back(kLocalMachine);
        } else if (root == L"HKEY_CLASSES_ROOT" || root == L"HKCR") {
            full = {std::wstring(kLocalMachine), L"Software", L"Classes"};
        } else {
            return fail(no, "unknown root key '" + utf16ToUtf8(path.front()) + "'");
        }
        full.insert(full.end(), path.begin() + 1, path.end());
        if (full.size() > kMaxDepth) {
            return fail(no, "the key path is deeper than " + std::to_string(kMaxDepth) + " levels");
        }
        if (remove) {
            if (full.size() == 1) {
                return fail(no, "a root key cannot be deleted");
            }
            Path parentPath(full.begin(), full.end() - 1);
            if (Key* parent = find(*top, parentPath)) {
                parent->removeChild(full.back());
            }
            current = nullptr;
            inDeleted = true;
            return true;
        }
        Key* k = top;
        for (const std::wstring& part : full) {
            k = &k->ensureChild(part);
        }
        current = k;
        inDeleted = false;
        return true;
    }

    bool valueLine(std::wstring_view line, size_t no) {
        size_t pos = 0;
        std::wstring name;
        if (line[0] == L'@') {
            pos = 1;
        } else if (!parseQuoted(line, pos, name)) {
            return fail(no, "the value name has no closing '\"'");
        }
        if (!storableName(name)) {
            return fail(no, "invalid value name");
        }
        if (name.size() > kMaxValueName) {
            return fail(no, "the value name is longer than 16383 characters");
        }
        while (pos < line.size() && isSpace(line[pos])) {
            ++pos;
        }
        if (pos >= line.size() || line[pos] != L'=') {
            return fail(no, "expected '=' after the value name");
        }
        const std::wstring_view data = trim(line.substr(pos + 1));
        if (!current) {
            if (inDeleted) {
                return true;  // values of a deleted key are ignored, as on import
            }
            return fail(no, "a value before the first key");
        }
        if (data == L"-") {
            current->removeValue(name);
            return true;
        }
        if (!data.empty() && data.front() == L'"') {
            size_t p = 0;
            std::wstring text;
            if (!parseQuoted(data, p, text)) {
                return fail(no, "the string has no closing '\"'");
            }
            if (p != data.size()) {
                return fail(no, "unexpected text after the string");
            }
            current->setValue(name, REG_SZ, textBytes(text));
            return true;
        }
        if (startsWithNoCase(data, L"dword:")) {
            uint32_t v;
            if (!parseHex32(trim(data.substr(6)), v)) {
                return fail(no, "dword: needs 1 to 8 hexadecimal digits");
            }
            current->setValue(name, REG_DWORD,
                              {static_cast<uint8_t>(v), static_cast<uint8_t>(v >> 8),
                               static_cast<uint8_t>(v >> 16), static_cast<uint8_t>(v >> 24)});
            return true;
        }
        if (startsWithNoCase(data, L"hex")) {
            std::wstring_view rest = data.substr(3);
            uint32_t type = REG_BINARY;
            if (!rest.empty() && rest.front() == L'(') {
                const size_t closeParen = rest.find(L')');
                if (closeParen == std::wstring_view::npos ||
                    !parseHex32(rest.substr(1, closeParen - 1), type)) {
                    return fail(no, "hex(...) needs a hexadecimal type of 1 to 8 digits");
                }
                rest.remove_prefix(closeParen + 1);
            }
            if (rest.empty() || rest.front() != L':') {
                return fail(no, "expected ':' after hex");
            }
            std::vector<uint8_t> bytes;
            if (!parseHexList(rest.substr(1), bytes)) {
                return fail(no, "invalid hexadecimal byte list");
            }
            current->setValue(name, type, std::move(bytes));
            return true;
        }
        return fail(no, "unrecognised value data (expected \"text\", dword:, hex:, hex(type): or -)");
    }
};

// Splits into physical lines at CR LF, LF or CR.
std::vector<std::wstring_view> splitLines(std::wstring_view text) {
    std::vector<std::wstring_view> lines;
    size_t start = 0;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == L'\n' || text[i] == L'\r') {
            lines.push_back(text.substr(start, i - start));
            if (text[i] == L'\r' && i + 1 < text.size() && text[i + 1] == L'\n') {
                ++i;
            }
            start = i + 1;
        }
    }
    if (start < text.size()) {
        lines.push_back(text.substr(start));
    }
    return lines;
}

constexpr wchar_t kDigits[] = L"0123456789abcdef";

void appendHex2(std::wstring& out, uint8_t b) {
    out.push_back(kDigits[b >> 4]);
    out.push_back(kDigits[b & 15]);
}

// Lower-case hex without leading zeros.
void appendHexNumber(std::wstring& out, uint32_t v) {
    wchar_t buf[8];
    size_t n = 0;
    do {
        buf[n++] = kDigits[v & 15];
        v >>= 4;
    } while (v != 0);
    while (n > 0) {
        out.push_back(buf[--n]);
    }
}

void appendEscaped(std::wstring& out, std::wstring_view s) {
    out.push_back(L'"');
    for (wchar_t c : s) {
        if (c == L'\\' || c == L'"') {
            out.push_back(L'\\');
        }
        out.push_back(c);
    }
    out.push_back(L'"');
}

// REG_SZ data that the "text" form holds exactly: whole units, one
// terminating NUL and no other, no line break, well-formed UTF-16.
bool plainText(const std::vector<uint8_t>& data, std::wstring& text) {
    if (data.size() < 2 || data.size() % 2 != 0 || data[data.size() - 1] != 0 || data[data.size() - 2] != 0) {
        return false;
    }
    text = bytesToWide(data.data(), data.size() - 2);
    for (wchar_t c : text) {
        if (c == 0 || c == L'\r' || c == L'\n') {
            return false;
        }
    }
    return wellFormed(text);
}

// Wraps long byte lists as the registry editor does: ",\" at about 80
// columns and the next line indented by two spaces.
void appendValue(std::wstring& out, const Value& v, std::wstring_view nl) {
    const size_t lineStart = out.size();
    if (v.name.empty()) {
        out.push_back(L'@');
    } else {
        appendEscaped(out, v.name);
    }
    out.push_back(L'=');
    std::wstring text;
    if (v.type == REG_SZ && plainText(v.data, text)) {
        appendEscaped(out, text);
        out.append(nl);
        return;
    }
    if (v.type == REG_DWORD && v.data.size() == 4) {
        out.append(L"dword:");
        for (size_t i = 4; i-- > 0;) {
            appendHex2(out, v.data[i]);
        }
        out.append(nl);
        return;
    }
    if (v.type == REG_BINARY) {
        out.append(L"hex:");
    } else {
        out.append(L"hex(");
        appendHexNumber(out, v.type);
        out.append(L"):");
    }
    size_t col = out.size() - lineStart;
    out.reserve(out.size() + v.data.size() * 3 + (v.data.size() / 24 + 1) * (nl.size() + 3));
    for (size_t i = 0; i < v.data.size(); ++i) {
        if (i > 0) {
            out.push_back(L',');
            ++col;
            if (col > 76) {
                out.push_back(L'\\');
                out.append(nl);
                out.append(L"  ");
                col = 2;
            }
        }
        appendHex2(out, v.data[i]);
        col += 2;
    }
    out.append(nl);
}

// The key's own lines: its path, its values and a blank line.
void appendComments(std::wstring& out, const Key& key, std::wstring_view nl) {
    for (const std::wstring& c : key.comments) {
        out.append(c);
        out.append(nl);
    }
}

void appendKeyLines(std::wstring& out, const Key& key, std::wstring_view path, std::wstring_view nl) {
    out.push_back(L'[');
    out.append(path);
    out.push_back(L']');
    out.append(nl);
    appendComments(out, key, nl);
    for (const Value& v : key.values) {
        appendValue(out, v, nl);
    }
    out.append(nl);
}

void appendKey(std::wstring& out, const Key& key, std::wstring& path, std::wstring_view nl) {
    appendKeyLines(out, key, path, nl);
    for (const auto& [folded, child] : key.subkeys) {
        const size_t len = path.size();
        path.push_back(L'\\');
        path.append(child->name);
        appendKey(out, *child, path, nl);
        path.resize(len);
    }
}

std::string encode(std::wstring_view text, Encoding encoding) {
    return encoding == Encoding::Utf16 ? wideToBytes(text) : utf16ToUtf8(text);
}

// Gathers the cached text of `key` and its subtree in file order, first
// re-serialising the keys that changed since their text was made.
void collectKey(const Key& key, std::wstring& path, Encoding encoding, std::wstring& scratch,
                std::vector<const std::string*>& pieces, size_t& total) {
    if (!key.textValid || key.textEncoding != encoding) {
        scratch.clear();
        appendKeyLines(scratch, key, path, encoding == Encoding::Utf16 ? L"\r\n" : L"\n");
        key.text = encode(scratch, encoding);
        key.textEncoding = encoding;
        key.textValid = true;
    }
    pieces.push_back(&key.text);
    total += key.text.size();
    for (const auto& [folded, child] : key.subkeys) {
        const size_t len = path.size();
        path.push_back(L'\\');
        path.append(child->name);
        collectKey(*child, path, encoding, scratch, pieces, total);
        path.resize(len);
    }
}

}  // namespace

std::wstring fold(std::wstring_view name) {
    std::wstring out(name);
    for (wchar_t& c : out) {
        c = upperUnit(c);
    }
    return out;
}

int FoldedLess::compare(std::wstring_view folded, std::wstring_view name) {
    const size_t n = std::min(folded.size(), name.size());
    for (size_t i = 0; i < n; ++i) {
        const wchar_t a = folded[i];
        const wchar_t b = upperUnit(name[i]);
        if (a != b) {
            return a < b ? -1 : 1;
        }
    }
    return folded.size() < name.size() ? -1 : (folded.size() > name.size() ? 1 : 0);
}

Key* Key::child(std::wstring_view n) const {
    // Folded once into a buffer, the lookup compares whole units.
    wchar_t folded[kMaxKeyName];
    if (n.size() <= kMaxKeyName) {
        for (size_t i = 0; i < n.size(); ++i) {
            folded[i] = upperUnit(n[i]);
        }
        auto it = subkeys.find(FoldedView{std::wstring_view(folded, n.size())});
        return it == subkeys.end() ? nullptr : it->second.get();
    }
    auto it = subkeys.find(Unfolded{n});
    return it == subkeys.end() ? nullptr : it->second.get();
}

Key& Key::ensureChild(std::wstring_view n) {
    auto it = subkeys.lower_bound(Unfolded{n});
    if (it == subkeys.end() || FoldedLess::compare(it->first, n) != 0) {
        auto k = std::make_unique<Key>();
        k->name = std::wstring(n);
        it = subkeys.emplace_hint(it, fold(n), std::move(k));
    }
    return *it->second;
}

bool Key::removeChild(std::wstring_view n) {
    auto it = subkeys.find(Unfolded{n});
    if (it == subkeys.end()) {
        return false;
    }
    subkeys.erase(it);
    return true;
}

std::unique_ptr<Key> Key::takeChild(std::wstring_view n) {
    auto it = subkeys.find(Unfolded{n});
    if (it == subkeys.end()) {
        return nullptr;
    }
    std::unique_ptr<Key> out = std::move(it->second);
    subkeys.erase(it);
    return out;
}

void Key::putChild(std::unique_ptr<Key> c) {
    std::wstring folded = fold(c->name);
    subkeys[std::move(folded)] = std::move(c);
}

// Keys with fewer values than this are searched; an index costs more there.
constexpr size_t kIndexFrom = 32;

void Key::buildIndex() const {
    index_.clear();
    index_.reserve(values.size());
    for (size_t i = 0; i < values.size(); ++i) {
        index_.emplace(fold(values[i].name), i);
    }
    indexed_ = true;
}

const Value* Key::value(std::wstring_view n) const {
    if (values.size() >= kIndexFrom) {
        if (!indexed_) {
            buildIndex();
        }
        auto it = index_.find(fold(n));
        return it == index_.end() ? nullptr : &values[it->second];
    }
    for (const Value& v : values) {
        if (v.name.size() != n.size()) {
            continue;
        }
        size_t i = 0;
        while (i < n.size() && upperUnit(v.name[i]) == upperUnit(n[i])) {
            ++i;
        }
        if (i == n.size()) {
            return &v;
        }
    }
    return nullptr;
}

Value* Key::value(std::wstring_view n) {
    return const_cast<Value*>(static_cast<const Key*>(this)->value(n));
}

void Key::setValue(std::wstring_view n, DWORD type, std::vector<uint8_t> data) {
    touch();
    if (values.size() >= kIndexFrom) {
        // One fold and one hash, whether the name is new or not.
        if (!indexed_) {
            buildIndex();
        }
        const auto [it, added] = index_.try_emplace(fold(n), values.size());
        if (!added) {
            values[it->second].type = type;
            values[it->second].data = std::move(data);
            return;
        }
        values.push_back(Value{std::wstring(n), type, std::move(data)});
        return;
    }
    if (Value* v = value(n)) {
        v->type = type;
        v->data = std::move(data);
        return;
    }
    values.push_back(Value{std::wstring(n), type, std::move(data)});
}

bool Key::removeValue(std::wstring_view n) {
    const Value* v = value(n);
    if (!v) {
        return false;
    }
    values.erase(values.begin() + (v - values.data()));
    dropIndex();
    touch();
    return true;
}

void Key::insertValue(size_t index, Value v) {
    values.insert(values.begin() + static_cast<ptrdiff_t>(std::min(index, values.size())), std::move(v));
    dropIndex();
    touch();
}

std::unique_ptr<Key> emptyTree() {
    auto top = std::make_unique<Key>();
    top->ensureChild(kCurrentUser);
    top->ensureChild(kLocalMachine);
    return top;
}

Key* find(const Key& top, const Path& path) {
    const Key* k = &top;
    for (const std::wstring& part : path) {
        k = k->child(part);
        if (!k) {
            return nullptr;
        }
    }
    return const_cast<Key*>(k);
}

bool storableName(std::wstring_view name) {
    for (wchar_t c : name) {
        if (c == 0 || c == L'\r' || c == L'\n') {
            return false;
        }
    }
    return wellFormed(name);
}

bool storableKeyName(std::wstring_view name) {
    return !name.empty() && name.size() <= kMaxKeyName && name.find(L'\\') == std::wstring_view::npos &&
           storableName(name);
}

bool parse(const uint8_t* data, size_t size, std::unique_ptr<Key>& topOut, Encoding& encoding,
           std::string& error) {
    std::wstring text;
    Encoding enc = Encoding::Utf8;
    if (!decode(data, size, text, enc, error)) {
        return false;
    }
    const std::vector<std::wstring_view> lines = splitLines(text);
    auto top = emptyTree();
    size_t i = 0;
    while (i < lines.size() && trim(lines[i]).empty()) {
        ++i;
    }
    if (i == lines.size()) {
        topOut = std::move(top);  // no text at all: an empty registry
        encoding = enc;
        return true;
    }
    if (trim(lines[i]) != kHeader) {
        if (trim(lines[i]) == L"REGEDIT4") {
            error = lineError(i + 1, "REGEDIT4 files are not supported; the first line must be \"" +
                                         utf16ToUtf8(kHeader) + "\"");
        } else {
            error = lineError(i + 1, "the first line must be \"" + utf16ToUtf8(kHeader) + "\"");
        }
        return false;
    }
    Parser parser;
    parser.top = top.get();
    for (++i; i < lines.size(); ++i) {
        const size_t no = i + 1;
        std::wstring_view line = trim(lines[i]);
        if (line.empty()) {
            continue;
        }
        if (line.front() == L';') {
            // Kept with the key it stands under; a deleted key's go with it.
            if (parser.current || !parser.inDeleted) {
                (parser.current ? parser.current : top.get())->comments.emplace_back(line);
            }
            continue;
        }
        if (line.front() == L'[') {
            if (!parser.keyLine(line, no)) {
                error = parser.error;
                return false;
            }
            continue;
        }
        // A value line continues while it ends with a backslash; the next
        // line's indentation is dropped.
        std::wstring joined;
        while (!line.empty() && line.back() == L'\\' && i + 1 < lines.size()) {
            line.remove_suffix(1);
            joined.append(line);
            line = trim(lines[++i]);
        }
        if (!joined.empty()) {
            joined.append(line);
            line = joined;
        }
        if (line.empty()) {
            continue;
        }
        if (line.front() != L'"' && line.front() != L'@') {
            error = lineError(no, "expected a key in [brackets], a value, or a comment");
            return false;
        }
        if (!parser.valueLine(line, no)) {
            error = parser.error;
            return false;
        }
    }
    topOut = std::move(top);
    encoding = enc;
    return true;
}

size_t serializePieces(const Key& top, Encoding encoding, std::string& head,
                       std::vector<const std::string*>& pieces) {
    const std::wstring_view nl = encoding == Encoding::Utf16 ? L"\r\n" : L"\n";
    std::wstring header(kHeader);
    header.append(nl);
    if (!top.comments.empty()) {
        appendComments(header, top, nl);
    }
    header.append(nl);
    head = encoding == Encoding::Utf16 ? "\xFF\xFE" : "";
    head += encode(header, encoding);
    pieces.clear();
    pieces.push_back(&head);
    size_t total = head.size();
    std::wstring scratch;
    std::wstring path;
    for (const auto& [folded, root] : top.subkeys) {
        if (root->values.empty() && root->subkeys.empty() && root->comments.empty()) {
            continue;
        }
        path = root->name;
        collectKey(*root, path, encoding, scratch, pieces, total);
    }
    return total;
}

std::string serialize(const Key& top, Encoding encoding) {
    std::string head;
    std::vector<const std::string*> pieces;
    std::string out;
    out.reserve(serializePieces(top, encoding, head, pieces));
    for (const std::string* piece : pieces) {
        out.append(*piece);
    }
    return out;
}

std::string serializeKey(const Key& key, const Path& path) {
    std::wstring p;
    for (const std::wstring& part : path) {
        if (!p.empty()) {
            p.push_back(L'\\');
        }
        p.append(part);
    }
    std::wstring out;
    appendKey(out, key, p, L"\n");
    return utf16ToUtf8(out);
}

}  // namespace winplat::regtree
