// Converters opened by name. Every converter is a Codec with iconv's
// contract; most are the C library's iconv itself. Most pages of our own are
// a SteppedCodec: step() consumes whole input sequences and writes their
// output, or answers E2BIG/EILSEQ/EINVAL without consuming, so one loop gives
// every such page iconv's streaming. The double-byte sets of HZ and
// ISO-2022-JP-1 come from the C library's EUC-CN, EUC-JP and ISO-2022-JP-2;
// only the shift rules are ours.
#include "winplat/converter.h"

#include <iconv.h>
#include <strings.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <map>
#include <string>
#include <string_view>

#include "codepage_tables.h"
#include "kinternal.h"

namespace winplat::detail {

namespace {

size_t failWith(int error) {
    errno = error;
    return static_cast<size_t>(-1);
}

bool sameName(const char* a, const char* b) {
    return strcasecmp(a, b) == 0;
}

// The C library loads a charset's conversion module with the first
// descriptor that needs it and unloads it some closes after the last one has
// gone, under a lock of its own that the thread sanitizer cannot see; it then
// takes a converter closed on one thread for a race with the load on another.
// So the first descriptor of a charset leaves one more open for the life of
// the process, from UTF-8 (built into the library, no module of its own), and
// the module stays loaded.
void keepLoaded(const char* charset) {
    struct Kept {
        kernel::PlatformLock lock;
        std::map<std::string, iconv_t> byName;  // upper case; guarded by lock
    };
    // Never destroyed, nor the descriptors closed: converters may still open
    // during exit.
    static Kept* const kept = new Kept;
    std::string name(charset);
    for (char& c : name) {
        c = c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c;
    }
    kernel::PlatformGuard guard(kept->lock);
    const auto [it, added] = kept->byName.emplace(std::move(name), iconv_t{});
    if (added) {
        it->second = iconv_open(charset, "UTF-8");
    }
}

// One descriptor of the C library's iconv.
class IconvHandle {
  public:
    IconvHandle(const char* to, const char* from) : cd_(iconv_open(to, from)) {
        if (ok()) {
            keepLoaded(to);
            keepLoaded(from);
        }
    }
    ~IconvHandle() {
        if (ok()) {
            iconv_close(cd_);
        }
    }
    IconvHandle(const IconvHandle&) = delete;
    IconvHandle& operator=(const IconvHandle&) = delete;

    bool ok() const { return cd_ != reinterpret_cast<iconv_t>(-1); }
    size_t run(char** in, size_t* inLeft, char** out, size_t* outLeft) {
        return iconv(cd_, in, inLeft, out, outLeft);
    }

    // Converts one whole character of a stateless charset into `out`; 0 or
    // the errno iconv answered (a cut character is EILSEQ here).
    int one(const void* src, size_t n, uint8_t* out, size_t cap, size_t& len) {
        char* in = static_cast<char*>(const_cast<void*>(src));
        char* to = reinterpret_cast<char*>(out);
        size_t inLeft = n;
        size_t outLeft = cap;
        const size_t r = iconv(cd_, &in, &inLeft, &to, &outLeft);
        const int error = r == static_cast<size_t>(-1) ? errno : (inLeft > 0 ? EILSEQ : 0);
        iconv(cd_, nullptr, nullptr, nullptr, nullptr);
        len = cap - outLeft;
        return error == EINVAL ? EILSEQ : error;
    }

  private:
    iconv_t cd_;
};

}  // namespace

class Codec {
  public:
    virtual ~Codec() = default;
    virtual size_t convert(char** in, size_t* inLeft, char** out, size_t* outLeft) = 0;
};

namespace {

class IconvCodec : public Codec {
  public:
    IconvCodec(const char* to, const char* from) : handle_(to, from) {}
    bool ok() const { return handle_.ok(); }
    size_t convert(char** in, size_t* inLeft, char** out, size_t* outLeft) override {
        if (in == nullptr || *in == nullptr) {
            return handle_.run(nullptr, nullptr, out, outLeft);
        }
        return handle_.run(in, inLeft, out, outLeft);
    }

  private:
    IconvHandle handle_;
};

// ---------------------------------------------------------------------------
// The wide side: UTF-16LE or UCS-2LE, one unit per character (every page here
// lies in the BMP).

bool isWide(const char* name, bool& utf16) {
    utf16 = sameName(name, "UTF-16LE");
    return utf16 || sameName(name, "UCS-2LE");
}

// Reads one character's unit; 0, EINVAL for a cut unit or a high surrogate
// that ends the input, EILSEQ for any surrogate (no page has one).
int readUnit(const uint8_t* in, size_t inLeft, bool utf16, uint16_t& unit) {
    if (inLeft < 2) {
        return EINVAL;
    }
    unit = static_cast<uint16_t>(in[0] | (in[1] << 8));
    if (unit >= 0xD800 && unit <= 0xDBFF && utf16 && inLeft < 4) {
        return EINVAL;
    }
    return unit >= 0xD800 && unit <= 0xDFFF ? EILSEQ : 0;
}

int writeUnit(uint16_t unit, uint8_t* out, size_t outLeft, size_t& wrote) {
    if (outLeft < 2) {
        return E2BIG;
    }
    out[0] = static_cast<uint8_t>(unit & 0xFF);
    out[1] = static_cast<uint8_t>(unit >> 8);
    wrote = 2;
    return 0;
}

int writeBytes(std::string_view bytes, uint8_t* out, size_t outLeft, size_t& wrote) {
    if (outLeft < bytes.size()) {
        return E2BIG;
    }
    std::memcpy(out, bytes.data(), bytes.size());
    wrote = bytes.size();
    return 0;
}

// ---------------------------------------------------------------------------
// A page of our own, converted one input sequence at a time.
class SteppedCodec : public Codec {
  public:
    size_t convert(char** in, size_t* inLeft, char** out, size_t* outLeft) final {
        if (in == nullptr || *in == nullptr) {
            size_t wrote = 0;
            if (out == nullptr || *out == nullptr) {
                reset();
                return 0;
            }
            if (const int error = finish(reinterpret_cast<uint8_t*>(*out), *outLeft, wrote)) {
                return failWith(error);
            }
            *out += wrote;
            *outLeft -= wrote;
            reset();
            return 0;
        }
        while (*inLeft > 0) {
            size_t used = 0;
            size_t wrote = 0;
            const int error = step(reinterpret_cast<const uint8_t*>(*in), *inLeft, used,
                                   reinterpret_cast<uint8_t*>(*out), *outLeft, wrote);
            if (error != 0) {
                return failWith(error);
            }
            *in += used;
            *inLeft -= used;
            *out += wrote;
            *outLeft -= wrote;
        }
        return 0;
    }

  protected:
    // One input sequence or more: sets `used` and `wrote` and returns 0, or
    // returns E2BIG, EILSEQ or EINVAL having consumed nothing.
    virtual int step(const uint8_t* in, size_t inLeft, size_t& used, uint8_t* out, size_t outLeft,
                     size_t& wrote) = 0;
    // Writes what returns the output to its initial state.
    virtual int finish(uint8_t*, size_t, size_t&) { return 0; }
    virtual void reset() {}
};

class SingleByteDecoder : public SteppedCodec {
  public:
    explicit SingleByteDecoder(const SingleBytePage& page) : page_(page) {}

  protected:
    // Every byte up to one without a character, as far as the output holds.
    int step(const uint8_t* in, size_t inLeft, size_t& used, uint8_t* out, size_t outLeft,
             size_t& wrote) override {
        const size_t n = std::min(inLeft, outLeft / 2);
        while (used < n && page_.decode[in[used]] != kNoUnit) {
            const uint16_t unit = page_.decode[in[used]];
            out[2 * used] = static_cast<uint8_t>(unit & 0xFF);
            out[2 * used + 1] = static_cast<uint8_t>(unit >> 8);
            ++used;
        }
        wrote = 2 * used;
        return used > 0 ? 0 : page_.decode[in[0]] == kNoUnit ? EILSEQ : E2BIG;
    }

  private:
    const SingleBytePage& page_;
};

class SingleByteEncoder : public SteppedCodec {
  public:
    SingleByteEncoder(const SingleBytePage& page, bool utf16) : page_(page), utf16_(utf16) {}

  protected:
    // Every unit up to one without a byte, as far as the output holds.
    int step(const uint8_t* in, size_t inLeft, size_t& used, uint8_t* out, size_t outLeft,
             size_t& wrote) override {
        const SingleBytePage::Pair* end = page_.encode + page_.encodeCount;
        while (wrote < outLeft) {
            uint16_t unit = 0;
            int error = readUnit(in + used, inLeft - used, utf16_, unit);
            if (error == 0 && unit < 0x80 && page_.decode[unit] == unit) {
                out[wrote++] = static_cast<uint8_t>(unit);  // ASCII, where the page keeps it
                used += 2;
                continue;
            }
            if (error == 0) {
                const SingleBytePage::Pair* it =
                    std::lower_bound(page_.encode, end, unit,
                                     [](const SingleBytePage::Pair& p, uint16_t u) { return p.unit < u; });
                if (it != end && it->unit == unit) {
                    out[wrote++] = it->byte;
                    used += 2;
                    continue;
                }
                error = EILSEQ;
            }
            return used > 0 ? 0 : error;
        }
        return used > 0 ? 0 : E2BIG;
    }

  private:
    const SingleBytePage& page_;
    bool utf16_;
};

// ---------------------------------------------------------------------------
// What the C library answers for one character of a double-byte set, kept
// once asked, so that converting is a look-up rather than a call per
// character, and opening costs nothing. An answer is the same whoever asks
// first, so converters on any thread share the entries without a lock; each
// asks through a descriptor of its own.
class Answers {
  public:
    template <typename Ask>
    uint32_t get(uint16_t key, Ask ask) {
        uint32_t answer = slots_[key].load(std::memory_order_relaxed);
        if (answer == 0) {
            answer = ask() | kAsked;
            slots_[key].store(answer, std::memory_order_relaxed);
        }
        return answer & ~kAsked;
    }

  private:
    static constexpr uint32_t kAsked = 0x80000000u;
    std::atomic<uint32_t> slots_[0x10000];
};

// The unit of each GB 2312 pair (EUC-CN with the high bits cleared) and the
// pair of each unit; 0 where none.
Answers gbUnits;
Answers gbPairs;
// The JIS X 0208 or 0212 pair of each unit, under its set; 0 where none.
Answers jisPairs;

enum class JpSet : uint8_t { Ascii, Roman, Jis0208, Jis0212 };

// What `encoder` (from UTF-16LE) answers for `unit` alone, into `bytes`; the
// count of bytes, or 0 where it has no conversion.
size_t encodeOne(IconvHandle& encoder, uint16_t unit, uint8_t (&bytes)[8]) {
    const uint8_t wide[2] = {static_cast<uint8_t>(unit & 0xFF), static_cast<uint8_t>(unit >> 8)};
    size_t len = 0;
    return encoder.one(wide, 2, bytes, sizeof(bytes), len) == 0 ? len : 0;
}

// ---------------------------------------------------------------------------
// HZ: ASCII by default; "~{" enters GB mode, where each pair of bytes
// 0x21-0x7E is a GB 2312 character with the high bits cleared, and "~}"
// leaves it. In ASCII mode "~~" is a tilde and "~" before a line break joins
// the lines. Anything else after "~", a byte above 0x7F, or a control byte in
// GB mode has no conversion.

bool isGbByte(uint8_t b) {
    return b >= 0x21 && b <= 0x7E;
}

class HzDecoder : public SteppedCodec {
  public:
    HzDecoder() : gb_("UTF-16LE", "EUC-CN") {}
    bool ok() const { return gb_.ok(); }

  protected:
    int step(const uint8_t* in, size_t inLeft, size_t& used, uint8_t* out, size_t outLeft,
             size_t& wrote) override {
        if (in[0] == '~') {
            if (inLeft < 2) {
                return EINVAL;
            }
            const uint8_t next = in[1];
            if (next == '~' && !gbMode_) {
                if (const int error = writeUnit('~', out, outLeft, wrote)) {
                    return error;
                }
            } else if ((next == '{' || next == '\n') && !gbMode_) {
                gbMode_ = next == '{';
            } else if (next == '}' && gbMode_) {
                gbMode_ = false;
            } else {
                return EILSEQ;
            }
            used = 2;
            return 0;
        }
        if (in[0] >= 0x80) {
            return EILSEQ;
        }
        if (!gbMode_) {
            // The bytes up to the next tilde, as many as the output holds.
            const size_t n = std::min(inLeft, outLeft / 2);
            while (used < n && in[used] != '~' && in[used] < 0x80) {
                out[2 * used] = in[used];
                out[2 * used + 1] = 0;
                ++used;
            }
            wrote = 2 * used;
            return used > 0 ? 0 : E2BIG;
        }
        if (inLeft < 2) {
            return EINVAL;
        }
        if (!isGbByte(in[0]) || !isGbByte(in[1])) {
            return EILSEQ;
        }
        if (outLeft < 2) {
            return E2BIG;
        }
        // The pairs up to the next tilde or one without a character, as many
        // as the output holds: every GB 2312 character is one unit.
        const size_t n = std::min(inLeft, outLeft) & ~size_t{1};
        while (used < n && in[used] != '~' && isGbByte(in[used]) && isGbByte(in[used + 1])) {
            const uint16_t unit = unitOf(in[used], in[used + 1]);
            if (unit == 0) {
                break;
            }
            out[used] = static_cast<uint8_t>(unit & 0xFF);
            out[used + 1] = static_cast<uint8_t>(unit >> 8);
            used += 2;
        }
        wrote = used;
        return used > 0 ? 0 : EILSEQ;
    }
    void reset() override { gbMode_ = false; }

  private:
    uint16_t unitOf(uint8_t row, uint8_t cell) {
        return static_cast<uint16_t>(gbUnits.get(static_cast<uint16_t>((row << 8) | cell), [&]() -> uint32_t {
            const uint8_t euc[2] = {static_cast<uint8_t>(row | 0x80), static_cast<uint8_t>(cell | 0x80)};
            uint8_t wide[8];
            size_t len = 0;
            if (gb_.one(euc, 2, wide, sizeof(wide), len) != 0 || len != 2) {
                return 0;
            }
            return static_cast<uint32_t>(wide[0] | (wide[1] << 8));
        }));
    }

    IconvHandle gb_;
    bool gbMode_ = false;
};

class HzEncoder : public SteppedCodec {
  public:
    explicit HzEncoder(bool utf16) : gb_("EUC-CN", "UTF-16LE"), utf16_(utf16) {}
    bool ok() const { return gb_.ok(); }

  protected:
    // Every unit up to one without a conversion, as far as the output holds.
    int step(const uint8_t* in, size_t inLeft, size_t& used, uint8_t* out, size_t outLeft,
             size_t& wrote) override {
        while (true) {
            uint16_t unit = 0;
            if (const int error = readUnit(in + used, inLeft - used, utf16_, unit)) {
                return used > 0 ? 0 : error;
            }
            uint8_t text[5];
            size_t len = 0;
            if (unit < 0x80) {
                if (gbMode_) {
                    text[len++] = '~';
                    text[len++] = '}';
                }
                text[len++] = static_cast<uint8_t>(unit);
                if (unit == '~') {
                    text[len++] = '~';
                }
            } else {
                const uint16_t pair = pairOf(unit);
                if (pair == 0) {
                    return used > 0 ? 0 : EILSEQ;
                }
                if (!gbMode_) {
                    text[len++] = '~';
                    text[len++] = '{';
                }
                text[len++] = static_cast<uint8_t>(pair >> 8);
                text[len++] = static_cast<uint8_t>(pair & 0xFF);
            }
            if (outLeft - wrote < len) {
                return used > 0 ? 0 : E2BIG;
            }
            std::memcpy(out + wrote, text, len);
            wrote += len;
            used += 2;
            gbMode_ = unit >= 0x80;
        }
    }
    int finish(uint8_t* out, size_t outLeft, size_t& wrote) override {
        return gbMode_ ? writeBytes("~}", out, outLeft, wrote) : 0;
    }
    void reset() override { gbMode_ = false; }

  private:
    uint16_t pairOf(uint16_t unit) {
        return static_cast<uint16_t>(gbPairs.get(unit, [&]() -> uint32_t {
            uint8_t euc[8];
            if (encodeOne(gb_, unit, euc) != 2 || euc[0] < 0xA1 || euc[1] < 0xA1) {
                return 0;
            }
            return static_cast<uint32_t>(((euc[0] & 0x7F) << 8) | (euc[1] & 0x7F));
        }));
    }

    IconvHandle gb_;
    bool utf16_;
    bool gbMode_ = false;
};

// ---------------------------------------------------------------------------
// ISO-2022-JP-1: ISO-2022-JP with JIS X 0212 added. The C library's
// ISO-2022-JP-2 reads a superset, so decoding hands it the text and stops at
// the designations JP-1 lacks; encoding writes only JP-1's designations.

struct Designation {
    constexpr Designation(std::string_view e, std::string_view c)
        : escape(e), canonical(c), asItStands(e == c) {}
    std::string_view escape;     // as it stands in the text
    std::string_view canonical;  // as the C library's converter reads it
    bool asItStands;
};

constexpr Designation kJp1Designations[] = {
    {"\x1b(B", "\x1b(B"},  {"\x1b(J", "\x1b(J"},  {"\x1b$@", "\x1b$@"},   {"\x1b$B", "\x1b$B"},
    {"\x1b$(@", "\x1b$@"}, {"\x1b$(B", "\x1b$B"}, {"\x1b$(D", "\x1b$(D"},
};

// The designation `text` opens with, or null: read byte by byte, as the
// decoder meets one every few characters.
[[gnu::always_inline]] inline const Designation* designationOpening(std::string_view text) {
    const auto at = [&](size_t i) { return i < text.size() ? text[i] : '\0'; };
    if (at(0) != '\x1b') {
        return nullptr;
    }
    const char final2 = at(2);
    if (at(1) == '(') {
        return final2 == 'B' ? &kJp1Designations[0] : final2 == 'J' ? &kJp1Designations[1] : nullptr;
    }
    if (at(1) != '$') {
        return nullptr;
    }
    if (final2 == '@' || final2 == 'B') {
        return &kJp1Designations[final2 == '@' ? 2 : 3];
    }
    const char final3 = at(3);
    if (final2 != '(') {
        return nullptr;
    }
    return final3 == '@'   ? &kJp1Designations[4]
           : final3 == 'B' ? &kJp1Designations[5]
           : final3 == 'D' ? &kJp1Designations[6]
                           : nullptr;
}

// The designation `text` opens with; null, with `cut` set when `text` is the
// start of one.
const Designation* designationAt(std::string_view text, bool* cut) {
    if (const Designation* d = designationOpening(text)) {
        return d;
    }
    for (const Designation& d : kJp1Designations) {
        if (text.size() < d.escape.size() && d.escape.substr(0, text.size()) == text) {
            *cut = true;
        }
    }
    return nullptr;
}

class Jp1Decoder : public Codec {
  public:
    Jp1Decoder() : jp2_("UTF-16LE", "ISO-2022-JP-2") {}
    bool ok() const { return jp2_.ok(); }

    size_t convert(char** in, size_t* inLeft, char** out, size_t* outLeft) override {
        if (in == nullptr || *in == nullptr) {
            return jp2_.run(nullptr, nullptr, out, outLeft);
        }
        while (*inLeft > 0) {
            // The longest stretch whose escapes the C library reads as they
            // stand goes through in one call.
            const char* text = *in;
            size_t run = 0;
            while (run < *inLeft) {
                if (text[run] != '\x1b') {
                    ++run;
                    continue;
                }
                const Designation* d = designationOpening(std::string_view(text + run, *inLeft - run));
                if (d == nullptr || !d->asItStands) {
                    break;
                }
                run += d->escape.size();
            }
            if (run > 0) {
                const bool last = run == *inLeft;
                size_t runLeft = run;
                const size_t r = jp2_.run(in, &runLeft, out, outLeft);
                *inLeft -= run - runLeft;
                if (r == static_cast<size_t>(-1)) {
                    // A character cut by an escape is not at the input's end.
                    return failWith(errno == EINVAL && !last ? EILSEQ : errno);
                }
                continue;
            }
            // An escape in another spelling, one JP-1 lacks, or a cut one.
            bool cut = false;
            const Designation* d = designationAt(std::string_view(*in, *inLeft), &cut);
            if (d == nullptr) {
                return failWith(cut ? EINVAL : EILSEQ);
            }
            char* escape = const_cast<char*>(d->canonical.data());
            size_t escapeLeft = d->canonical.size();
            if (jp2_.run(&escape, &escapeLeft, out, outLeft) == static_cast<size_t>(-1)) {
                return static_cast<size_t>(-1);
            }
            *in += d->escape.size();
            *inLeft -= d->escape.size();
        }
        return 0;
    }

  private:
    IconvHandle jp2_;
};

class Jp1Encoder : public SteppedCodec {
  public:
    explicit Jp1Encoder(bool utf16) : euc_("EUC-JP", "UTF-16LE"), utf16_(utf16) {}
    bool ok() const { return euc_.ok(); }

  protected:
    // Every unit up to one without a conversion, as far as the output holds.
    int step(const uint8_t* in, size_t inLeft, size_t& used, uint8_t* out, size_t outLeft,
             size_t& wrote) override {
        while (true) {
            uint16_t unit = 0;
            if (const int error = readUnit(in + used, inLeft - used, utf16_, unit)) {
                return used > 0 ? 0 : error;
            }
            JpSet set = JpSet::Ascii;
            uint8_t bytes[2];
            size_t len = 1;
            if (unit < 0x80) {
                bytes[0] = static_cast<uint8_t>(unit);
            } else if (unit == 0x00A5 || unit == 0x203E) {  // yen sign, overline
                set = JpSet::Roman;
                bytes[0] = unit == 0x00A5 ? 0x5C : 0x7E;
            } else {
                const uint32_t pair = pairOf(unit);
                if (pair == 0) {
                    return used > 0 ? 0 : EILSEQ;
                }
                set = static_cast<JpSet>(pair >> 16);
                bytes[0] = static_cast<uint8_t>(pair >> 8);
                bytes[1] = static_cast<uint8_t>(pair & 0xFF);
                len = 2;
            }
            const std::string_view escape = set != set_ ? escapeOf(set) : "";
            if (outLeft - wrote < escape.size() + len) {
                return used > 0 ? 0 : E2BIG;
            }
            std::memcpy(out + wrote, escape.data(), escape.size());
            std::memcpy(out + wrote + escape.size(), bytes, len);
            wrote += escape.size() + len;
            used += 2;
            set_ = set;
        }
    }
    int finish(uint8_t* out, size_t outLeft, size_t& wrote) override {
        return set_ == JpSet::Ascii ? 0 : writeBytes(escapeOf(JpSet::Ascii), out, outLeft, wrote);
    }
    void reset() override { set_ = JpSet::Ascii; }

  private:
    static std::string_view escapeOf(JpSet set) {
        switch (set) {
            case JpSet::Roman:
                return "\x1b(J";
            case JpSet::Jis0208:
                return "\x1b$B";
            case JpSet::Jis0212:
                return "\x1b$(D";
            case JpSet::Ascii:
                break;
        }
        return "\x1b(B";
    }

    // The set in the high half, its two bytes below; 0 where none.
    uint32_t pairOf(uint16_t unit) {
        return jisPairs.get(unit, [&]() -> uint32_t {
            uint8_t euc[8];
            const size_t len = encodeOne(euc_, unit, euc);
            JpSet set = JpSet::Jis0208;
            if (len == 3 && euc[0] == 0x8F) {
                set = JpSet::Jis0212;
            } else if (len != 2 || euc[0] < 0xA1) {
                return 0;  // half-width katakana: not in JP-1
            }
            return static_cast<uint32_t>(set) << 16 | (euc[len - 2] & 0x7F) << 8 | (euc[len - 1] & 0x7F);
        });
    }

    IconvHandle euc_;
    bool utf16_;
    JpSet set_ = JpSet::Ascii;
};

// ---------------------------------------------------------------------------
// Pages the C library has under another name.
const char* libraryName(const char* name) {
    if (sameName(name, "MACCENTRALEUROPE")) {
        return "MAC-CENTRALEUROPE";
    }
    if (sameName(name, "MACUKRAINE")) {
        return "MAC-UK";
    }
    return name;
}

template <typename C, typename... Args>
std::unique_ptr<Codec> openIf(Args&&... args) {
    auto codec = std::make_unique<C>(std::forward<Args>(args)...);
    if (!codec->ok()) {
        return nullptr;
    }
    return codec;
}

// One of our own pages between `page` and the wide side; null when `page` is
// none of them.
std::unique_ptr<Codec> openOwn(const char* page, bool decoding, bool utf16) {
    for (size_t i = 0; i < kSingleBytePageCount; ++i) {
        if (sameName(page, kSingleBytePages[i].name)) {
            if (decoding) {
                return std::make_unique<SingleByteDecoder>(kSingleBytePages[i]);
            }
            return std::make_unique<SingleByteEncoder>(kSingleBytePages[i], utf16);
        }
    }
    if (sameName(page, "HZ-GB-2312")) {
        return decoding ? openIf<HzDecoder>() : openIf<HzEncoder>(utf16);
    }
    if (sameName(page, "ISO-2022-JP-1")) {
        return decoding ? openIf<Jp1Decoder>() : openIf<Jp1Encoder>(utf16);
    }
    return nullptr;
}

bool isOwn(const char* name) {
    for (size_t i = 0; i < kSingleBytePageCount; ++i) {
        if (sameName(name, kSingleBytePages[i].name)) {
            return true;
        }
    }
    return sameName(name, "HZ-GB-2312") || sameName(name, "ISO-2022-JP-1");
}

std::unique_ptr<Codec> open(const char* to, const char* from) {
    if (to == nullptr || from == nullptr) {
        return nullptr;
    }
    bool utf16 = false;
    if (isOwn(from) || isOwn(to)) {
        // Our own pages pair with the wide side only.
        if (isOwn(from) && isWide(to, utf16)) {
            return openOwn(from, true, utf16);
        }
        if (isOwn(to) && isWide(from, utf16)) {
            return openOwn(to, false, utf16);
        }
        return nullptr;
    }
    return openIf<IconvCodec>(libraryName(to), libraryName(from));
}

}  // namespace

}  // namespace winplat::detail

namespace winplat {

Converter::Converter(const char* to, const char* from) : codec_(detail::open(to, from)) {
    if (!codec_) {
        errno = EINVAL;
    }
}

Converter::~Converter() = default;

size_t Converter::convert(char** in, size_t* inLeft, char** out, size_t* outLeft) {
    if (!codec_) {
        return detail::failWith(EBADF);
    }
    return codec_->convert(in, inLeft, out, outLeft);
}

}  // namespace winplat
