#include "CommonBase/Coder.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <new>
#include <stdexcept>

#include "CommonBase/CoderEngine.h"
#include "CommonBase/HResultException.h"
#include "winplat/errors.h"
#include "winplat/mapi.h"

namespace Coder::detail {

namespace {

constexpr const char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
constexpr const char kHexDigits[] = "0123456789ABCDEF";
constexpr unsigned kGroupsPerLine = 19;  // 76 characters

// Two output characters for every 12-bit value.
struct PairTable {
    std::array<char, 2 * 4096> chars{};
    constexpr PairTable() {
        for (unsigned v = 0; v < 4096; ++v) {
            chars[2 * v] = kAlphabet[v >> 6];
            chars[2 * v + 1] = kAlphabet[v & 63];
        }
    }
};
constexpr PairTable kPairs;

// Decoding tables: each character's 6 bits already moved to their place in
// the 24-bit group; anything outside the alphabet has bit 24 set.
constexpr uint32_t kBad = 0x01000000u;
struct DecodeTables {
    std::array<uint32_t, 256> t[4]{};
    std::array<uint8_t, 256> value{};
    constexpr DecodeTables() {
        for (unsigned c = 0; c < 256; ++c) {
            value[c] = 0xFF;
            for (auto& table : t) {
                table[c] = kBad;
            }
        }
        for (unsigned i = 0; i < 64; ++i) {
            auto c = static_cast<uint8_t>(kAlphabet[i]);
            value[c] = static_cast<uint8_t>(i);
            t[0][c] = i << 18;
            t[1][c] = i << 12;
            t[2][c] = i << 6;
            t[3][c] = i;
        }
    }
};
constexpr DecodeTables kDecode;

// Quoted-printable classes of input bytes.
enum QpClass : uint8_t { QpLiteral, QpBlank, QpCr, QpEscape };
struct QpTable {
    std::array<uint8_t, 256> cls{};
    // Written as they are while the line has room (blanks only below column 64).
    std::array<bool, 256> plain{};
    constexpr QpTable() {
        for (unsigned c = 0; c < 256; ++c) {
            plain[c] = (c >= 33 && c <= 60) || (c >= 62 && c <= 126) || c == ' ' || c == '\t';
            if ((c >= 33 && c <= 60) || (c >= 62 && c <= 126)) {
                cls[c] = QpLiteral;
            } else if (c == ' ' || c == '\t') {
                cls[c] = QpBlank;
            } else if (c == '\r') {
                cls[c] = QpCr;
            } else {
                cls[c] = QpEscape;
            }
        }
    }
};
constexpr QpTable kQp;

// Bytes that end a plain run in the decoders: '=', CR, LF and NUL.
struct SpecialTable {
    std::array<bool, 256> qp{};
    std::array<bool, 256> breaks{};
    constexpr SpecialTable() {
        qp['='] = qp['\r'] = qp['\n'] = true;
        breaks['\r'] = breaks['\n'] = breaks[0] = true;
    }
};
constexpr SpecialTable kSpecial;

struct HexTable {
    std::array<int8_t, 256> value{};
    constexpr HexTable() {
        for (unsigned c = 0; c < 256; ++c) {
            value[c] = c >= '0' && c <= '9'   ? static_cast<int8_t>(c - '0')
                       : c >= 'A' && c <= 'F' ? static_cast<int8_t>(c - 'A' + 10)
                       : c >= 'a' && c <= 'f' ? static_cast<int8_t>(c - 'a' + 10)
                                              : int8_t(-1);
        }
    }
};
constexpr HexTable kHex;

inline char* putEscape(char* o, uint8_t b) {
    o[0] = '=';
    o[1] = kHexDigits[b >> 4];
    o[2] = kHexDigits[b & 15];
    return o + 3;
}

inline char* putSoftBreak(char* o) {
    o[0] = '=';
    o[1] = '\r';
    o[2] = '\n';
    return o + 3;
}

// Eight bytes at a time: bit 7 of a byte of the result marks a match. Only
// the lowest marked byte is exact, and a word without a match gives 0.
constexpr uint64_t kOnes = 0x0101010101010101ull;
constexpr uint64_t kHighs = 0x8080808080808080ull;
inline uint64_t load8(const uint8_t* p) {
    uint64_t w;
    std::memcpy(&w, p, 8);
    return w;
}
inline uint64_t bytesEqual(uint64_t w, uint8_t c) {
    uint64_t x = w ^ (kOnes * c);
    return (x - kOnes) & ~x & kHighs;
}
inline uint64_t bytesBelow(uint64_t w, uint8_t n) {
    return (w - kOnes * n) & ~w & kHighs;
}
inline uint64_t bytesAbove(uint64_t w, uint8_t n) {
    return ((w + kOnes * (127 - n)) | w) & kHighs;
}

}  // namespace

// ---------------------------------------------------------------------------
StringSink::StringSink(std::string& target, size_t estimate) : target_(target) {
    target_.resize(std::max<size_t>(estimate, 16));
    cur = target_.data();
    lim = cur + target_.size();
}

void StringSink::makeRoom(size_t n) {
    size_t used = static_cast<size_t>(cur - target_.data());
    size_t size = std::max(target_.size() * 2, used + n);
    target_.resize(size);
    cur = target_.data() + used;
    lim = target_.data() + target_.size();
}

void StringSink::finish() {
    target_.resize(static_cast<size_t>(cur - target_.data()));
}

namespace {

// Bytes of input the encoder takes between two checks for room.
constexpr size_t kQpEncodeBatch = 8192;

}  // namespace

// Text grows by about a tenth, binary data up to three times: half again and
// the room of one batch covers text, and binary data grows the string a time
// or two. (Sizing for the worst case would zero a string three times the
// input on every call, as long as the encoding itself takes.)
size_t qpEncodeEstimate(size_t n) {
    return n + n / 2 + 6 * kQpEncodeBatch + 3;
}

namespace {

// Output never outgrows the input by more than the room one block asks for,
// unless lone line ends are widened: the estimate covers that room, so a
// plain decode never grows (and re-fills) its string.
constexpr size_t kQpDecodeBlock = 8192;
size_t qpDecodeEstimate(size_t n) {
    return n + kQpDecodeBlock + 4;
}

}  // namespace

// ---------------------------------------------------------------------------
void Base64Encoder::encodeGroups(const uint8_t*& p, size_t groups, OutputSink& out) {
    const bool crlf = (flags_ & kBase64NoCrlf) == 0;
    while (groups > 0) {
        size_t k = std::min<size_t>(groups, kGroupsPerLine - groupsInLine_);
        out.ensure(4 * k + 2);
        char* o = out.cur;
        size_t i = 0;
        // Two groups per step from one 8-byte load; the two bytes read beyond
        // them belong to a later group of this input.
        for (; i + 2 <= k && groups - i >= 3; i += 2) {
            uint64_t v = __builtin_bswap64(load8(p));
            uint16_t c[4];
            std::memcpy(&c[0], &kPairs.chars[2 * (v >> 52)], 2);
            std::memcpy(&c[1], &kPairs.chars[2 * ((v >> 40) & 0xFFF)], 2);
            std::memcpy(&c[2], &kPairs.chars[2 * ((v >> 28) & 0xFFF)], 2);
            std::memcpy(&c[3], &kPairs.chars[2 * ((v >> 16) & 0xFFF)], 2);
            std::memcpy(o, c, 8);
            o += 8;
            p += 6;
        }
        for (; i < k; ++i) {
            uint32_t v = (uint32_t(p[0]) << 16) | (uint32_t(p[1]) << 8) | p[2];
            std::memcpy(o, &kPairs.chars[2 * (v >> 12)], 2);
            std::memcpy(o + 2, &kPairs.chars[2 * (v & 0xFFF)], 2);
            o += 4;
            p += 3;
        }
        groups -= k;
        groupsInLine_ += static_cast<unsigned>(k);
        wroteGroup_ = true;
        if (groupsInLine_ == kGroupsPerLine) {
            groupsInLine_ = 0;
            if (crlf) {
                o[0] = '\r';
                o[1] = '\n';
                o += 2;
            }
        }
        out.cur = o;
    }
}

void Base64Encoder::feed(const uint8_t* p, size_t n, OutputSink& out) {
    if (pendingCount_ > 0) {
        while (pendingCount_ < 3 && n > 0) {
            if (pendingCount_ == 2) {
                uint8_t group[3] = {pending_[0], pending_[1], *p};
                const uint8_t* g = group;
                encodeGroups(g, 1, out);
                pendingCount_ = 0;
                ++p;
                --n;
                break;
            }
            pending_[pendingCount_++] = *p++;
            --n;
        }
        if (pendingCount_ > 0) {
            return;
        }
    }
    encodeGroups(p, n / 3, out);
    n %= 3;
    for (size_t i = 0; i < n; ++i) {
        pending_[pendingCount_++] = p[i];
    }
}

void Base64Encoder::finish(OutputSink& out) {
    if (!wroteGroup_ && (flags_ & kBase64NoCrlf) == 0) {
        out.write("\r\n", 2);
    }
    if (pendingCount_ == 0) {
        return;
    }
    uint32_t v = uint32_t(pending_[0]) << 16;
    if (pendingCount_ == 2) {
        v |= uint32_t(pending_[1]) << 8;
    }
    out.ensure(4);
    out.cur[0] = kAlphabet[v >> 18];
    out.cur[1] = kAlphabet[(v >> 12) & 63];
    out.cur += 2;
    if (pendingCount_ == 2) {
        *out.cur++ = kAlphabet[(v >> 6) & 63];
    }
    if ((flags_ & kBase64NoPad) == 0) {
        for (unsigned i = pendingCount_; i < 3; ++i) {
            *out.cur++ = '=';
        }
    }
    pendingCount_ = 0;
}

// ---------------------------------------------------------------------------
void Base64Decoder::feed(const uint8_t* p, size_t n, OutputSink& out) {
    const uint8_t* e = p + n;
    while (p < e) {
        // Room for a block of input at most three quarters its size.
        size_t block = std::min<size_t>(static_cast<size_t>(e - p), 1 << 16);
        const uint8_t* be = p + block;
        out.ensure(block / 4 * 3 + 3);
        char* o = out.cur;
        while (p < be) {
            if (count_ == 0) {
                // Whole groups of four alphabet characters, the common case.
                while (be - p >= 4) {
                    uint32_t v =
                        kDecode.t[0][p[0]] | kDecode.t[1][p[1]] | kDecode.t[2][p[2]] | kDecode.t[3][p[3]];
                    if (v & kBad) {
                        break;
                    }
                    o[0] = static_cast<char>(v >> 16);
                    o[1] = static_cast<char>(v >> 8);
                    o[2] = static_cast<char>(v);
                    o += 3;
                    p += 4;
                }
                if (p == be) {
                    break;
                }
            }
            uint8_t d = kDecode.value[*p++];
            if (d == 0xFF) {
                continue;  // every byte outside the alphabet is skipped
            }
            acc_ = (acc_ << 6) | d;
            if (++count_ == 4) {
                o[0] = static_cast<char>(acc_ >> 16);
                o[1] = static_cast<char>(acc_ >> 8);
                o[2] = static_cast<char>(acc_);
                o += 3;
                acc_ = 0;
                count_ = 0;
            }
        }
        out.cur = o;
    }
}

void Base64Decoder::finish(OutputSink& out) {
    // A partial group of k characters carries (6 * k) / 8 bytes.
    if (count_ >= 2) {
        uint32_t v = acc_ << (6 * (4 - count_));
        out.put(static_cast<char>(v >> 16));
        if (count_ == 3) {
            out.put(static_cast<char>(v >> 8));
        }
    }
    acc_ = 0;
    count_ = 0;
}

// ---------------------------------------------------------------------------
void QpEncoder::feed(const uint8_t* p, size_t n, OutputSink& out) {
    const uint8_t* e = p + n;
    const bool dots = (flags_ & kQpDot) != 0;
    while (p < e) {
        size_t batch = std::min<size_t>(static_cast<size_t>(e - p), kQpEncodeBatch);
        // Per byte at most a soft break and an escape; a byte after a held CR
        // also carries that CR's escape.
        out.ensure(batch * 6 + 3);
        const uint8_t* be = p + batch;
        char* o = out.cur;
        unsigned count = count_;
        bool pendingCr = pendingCr_;
        while (p < be) {
            uint8_t b = *p;
            if (pendingCr) {
                pendingCr = false;
                if (b == '\n') {
                    o[0] = '\r';
                    o[1] = '\n';
                    o += 2;
                    count = 0;
                    ++p;
                    continue;
                }
                o = putEscape(o, '\r');
                count += 3;
            }
            // The line is full and more input follows.
            if (count >= 65) {
                o = putSoftBreak(o);
                count = 0;
            }
            // A run of bytes written as they are, blanks included below column 64.
            if (count < 64 && kQp.plain[b] && !(dots && count == 0 && b == '.')) {
                // Printable words without "=" while the line has room for them.
                while (count <= 56 && be - p >= 8) {
                    uint64_t w = load8(p);
                    uint64_t stop = bytesBelow(w, 32) | bytesAbove(w, 126) | bytesEqual(w, '=');
                    std::memcpy(o, p, 8);  // room for six bytes per input byte
                    if (stop) {
                        unsigned k = static_cast<unsigned>(__builtin_ctzll(stop)) / 8;
                        o += k;
                        p += k;
                        count += k;
                        break;
                    }
                    o += 8;
                    p += 8;
                    count += 8;
                }
                while (p < be && count < 64 && kQp.plain[*p]) {
                    *o++ = static_cast<char>(*p++);
                    ++count;
                }
                continue;
            }
            ++p;
            if (dots && count == 0 && b == '.') {
                o[0] = '.';
                o[1] = '.';
                o += 2;
                count = 2;
                continue;
            }
            switch (kQp.cls[b]) {
                case QpLiteral:
                    *o++ = static_cast<char>(b);
                    ++count;
                    break;
                case QpBlank:
                    if (count < 64) {
                        *o++ = static_cast<char>(b);
                        ++count;
                    } else {
                        o = putEscape(o, b);
                        count += 3;
                    }
                    break;
                case QpCr:
                    pendingCr = true;  // CR LF or a lone CR: the next byte tells
                    break;
                default:
                    o = putEscape(o, b);
                    count += 3;
                    break;
            }
        }
        count_ = count;
        pendingCr_ = pendingCr;
        out.cur = o;
    }
}

void QpEncoder::finish(OutputSink& out) {
    out.ensure(6);
    if (pendingCr_) {
        out.cur = putEscape(out.cur, '\r');
        count_ += 3;
        pendingCr_ = false;
    }
    if (flags_ & kQpTrailingSoftBreak) {
        out.cur = putSoftBreak(out.cur);
        count_ = 0;
    }
}

// ---------------------------------------------------------------------------
void QpDecoder::feed(const uint8_t* p, size_t n, OutputSink& out) {
    const uint8_t* e = p + n;
    const bool dots = (flags_ & kQpDot) != 0;
    while (p < e) {
        size_t block = std::min<size_t>(static_cast<size_t>(e - p), kQpDecodeBlock);
        // At most two bytes per input byte (a lone LF becomes CR LF), plus the
        // held "=" and byte of an escape that turned out to be none.
        out.ensure(2 * block + 4);
        const uint8_t* be = p + block;
        char* o = out.cur;
        // Locals: the output bytes could alias the members.
        State state = state_;
        Expect expect = expect_;
        bool lineStart = lineStart_;
        uint8_t first = first_;
        while (p < be) {
            uint8_t b = *p;
            if (state == AfterEquals) {
                ++p;
                if (b == '\n') {
                    // Soft break; the byte after it is ordinary input.
                    state = Normal;
                    lineStart = true;
                } else {
                    first = b;
                    state = AfterEqualsByte;
                }
                continue;
            }
            if (state == AfterEqualsByte) {
                state = Normal;
                int hi = kHex.value[first];
                int lo = kHex.value[b];
                if (hi >= 0 && lo >= 0) {
                    *o++ = static_cast<char>((hi << 4) | lo);
                    lineStart = false;
                    ++p;
                } else if (first == '\r') {
                    // "=" CR LF is a soft break; after "=" CR anything else is
                    // ordinary input again.
                    if (b == '\n') {
                        ++p;
                    }
                    lineStart = true;
                } else {
                    *o++ = '=';
                    if (first != 0) {
                        *o++ = static_cast<char>(first);
                    }
                    if (b != 0) {
                        *o++ = static_cast<char>(b);
                    }
                    lineStart = false;
                    ++p;
                }
                continue;
            }
            if (lineStart && dots && b == '.') {
                ++p;
                lineStart = false;
                expect = None;
                continue;
            }
            if (!kSpecial.qp[b]) {
                // Plain bytes eight at a time; the common escapes, soft breaks
                // and CR LF pairs between them are taken without leaving the loop.
                expect = None;
                lineStart = false;
                while (be - p >= 8) {
                    uint64_t w = load8(p);
                    uint64_t stop = bytesEqual(w, '=') | bytesEqual(w, '\r') | bytesEqual(w, '\n');
                    std::memcpy(o, p, 8);  // room for two bytes per input byte
                    if (!stop) {
                        o += 8;
                        p += 8;
                        lineStart = false;
                        continue;
                    }
                    size_t k = static_cast<size_t>(__builtin_ctzll(stop)) / 8;
                    o += k;
                    p += k;
                    if (k) {
                        lineStart = false;
                    }
                    if (be - p < 3) {
                        break;
                    }
                    if (p[0] == '=') {
                        int hi = kHex.value[p[1]];
                        int lo = kHex.value[p[2]];
                        if ((hi | lo) >= 0) {
                            *o++ = static_cast<char>((hi << 4) | lo);
                            p += 3;
                            lineStart = false;
                            continue;
                        }
                        if (p[1] == '\r' && p[2] == '\n') {
                            p += 3;
                            lineStart = true;
                            if (dots) {
                                break;
                            }
                            continue;
                        }
                    } else if (p[0] == '\r' && p[1] == '\n') {
                        o[0] = '\r';
                        o[1] = '\n';
                        o += 2;
                        p += 2;
                        lineStart = true;
                        if (dots) {
                            break;
                        }
                        continue;
                    }
                    break;
                }
                // At a line start a dot may have to go; the top of the loop decides.
                if (!(dots && lineStart)) {
                    while (p < be && !kSpecial.qp[*p]) {
                        *o++ = static_cast<char>(*p++);
                        lineStart = false;
                    }
                }
                continue;
            }
            ++p;
            if (b == '=') {
                expect = None;
                // The usual escapes, when both bytes are at hand.
                if (be - p >= 2) {
                    int hi = kHex.value[p[0]];
                    int lo = kHex.value[p[1]];
                    if (hi >= 0 && lo >= 0) {
                        *o++ = static_cast<char>((hi << 4) | lo);
                        lineStart = false;
                        p += 2;
                        continue;
                    }
                    if (p[0] == '\r' && p[1] == '\n') {
                        lineStart = true;
                        p += 2;
                        continue;
                    }
                }
                state = AfterEquals;
                continue;
            }
            // CR or LF: the expected partner of the break just written is
            // dropped; anything else writes a break and expects its partner.
            Expect partner = b == '\r' ? ExpectCr : ExpectLf;
            if (expect == partner) {
                expect = None;
                continue;
            }
            o[0] = '\r';
            o[1] = '\n';
            o += 2;
            expect = b == '\r' ? ExpectLf : ExpectCr;
            lineStart = true;
        }
        state_ = state;
        expect_ = expect;
        lineStart_ = lineStart;
        first_ = first;
        out.cur = o;
    }
}

void QpDecoder::finish(OutputSink& out) {
    if (state_ == AfterEquals) {
        out.put('=');
    } else if (state_ == AfterEqualsByte && first_ != '\r') {
        out.put('=');
        if (first_ != 0) {
            out.put(static_cast<char>(first_));
        }
    }
    state_ = Normal;
}

// ---------------------------------------------------------------------------
void LineBreakNormalizer::feed(const uint8_t* p, size_t n, OutputSink& out) {
    const uint8_t* e = p + n;
    while (p < e && !ended_) {
        const uint8_t* q = p;
        while (q < e && !kSpecial.breaks[*q]) {
            ++q;
        }
        if (q != p) {
            out.write(p, static_cast<size_t>(q - p));
            p = q;
            skipLf_ = false;
            continue;
        }
        uint8_t b = *p++;
        if (b == 0) {
            ended_ = true;
        } else if (b == '\n' && skipLf_) {
            skipLf_ = false;
        } else {
            out.write("\r\n", 2);
            skipLf_ = b == '\r';
        }
    }
}

// ---------------------------------------------------------------------------
uint32_t base64EncodeGetRequiredLength(size_t length, unsigned flags) {
    uint64_t n = length;
    uint64_t r = n % 3;
    uint64_t required = 4 * (n / 3);
    if (r != 0) {
        required += r + 1;
        if ((flags & kBase64NoPad) == 0) {
            required += 3 - r;
        }
    }
    if ((flags & kBase64NoCrlf) == 0) {
        required += 2 * (required / 76) + 2;
    }
    if (required > 0xFFFFFFFFu || required < n) {
        ErrorLocation{2, "CommonBase\\Coder", 550, "Coder::detail::base64EncodeGetRequiredLength"}.raise(
            E_OUTOFMEMORY, L"Too large data to encode");
    }
    return static_cast<uint32_t>(required);
}

int base64EncodeEx(const uint8_t* input, size_t length, std::string& output, unsigned flags) {
    StringSink sink(output, base64EncodeGetRequiredLength(length, flags));
    Base64Encoder encoder(flags);
    encoder.feed(input, length, sink);
    encoder.finish(sink);
    sink.finish();
    return 1;
}

int base64Decode(const uint8_t* input, size_t length, std::string& output) {
    StringSink sink(output, length);
    Base64Decoder decoder;
    decoder.feed(input, length, sink);
    decoder.finish(sink);
    sink.finish();
    return 1;
}

int qpEncode(const uint8_t* input, size_t length, std::string& output, unsigned flags) {
    StringSink sink(output, qpEncodeEstimate(length));
    QpEncoder encoder(flags);
    encoder.feed(input, length, sink);
    encoder.finish(sink);
    sink.finish();
    return 1;
}

int qpDecode(const uint8_t* input, size_t length, std::string& output, unsigned flags) {
    StringSink sink(output, qpDecodeEstimate(length));
    QpDecoder decoder(flags);
    decoder.feed(input, length, sink);
    decoder.finish(sink);
    sink.finish();
    return 1;
}

int normalizeLineBreaks(const uint8_t* input, size_t length, std::string& output) {
    StringSink sink(output, 2 * length);
    LineBreakNormalizer normalizer;
    normalizer.feed(input, length, sink);
    sink.finish();
    return 1;
}

}  // namespace Coder::detail

namespace Coder {

namespace {

// Runs a byte-range coder behind the public contract: null data with length
// 0 is the empty result, with any other length E_INVALIDARG; nothing throws.
template <typename Run>
HRESULT runBytes(const void* data, size_t length, std::string& out, HRESULT coderFailure, Run run) {
    try {
        if (data == nullptr) {
            if (length != 0) {
                return E_INVALIDARG;
            }
            out.clear();
            return S_OK;
        }
        if (run(static_cast<const uint8_t*>(data), length) != 1) {
            out.clear();
            return coderFailure;
        }
        return S_OK;
    } catch (const HResultException& e) {
        out.clear();
        return e.getHResult();
    } catch (const std::bad_alloc&) {
        out.clear();
        return E_OUTOFMEMORY;
    } catch (const std::exception&) {
        out.clear();
        return E_FAIL;
    }
}

}  // namespace

HRESULT encodeBase64(const void* data, size_t length, std::string& out, bool lineBreaks) {
    unsigned flags = lineBreaks ? 0 : detail::kBase64NoCrlf;
    return runBytes(data, length, out, E_FAIL,
                    [&](const uint8_t* p, size_t n) { return detail::base64EncodeEx(p, n, out, flags); });
}

HRESULT encodeBase64(const std::string& data, std::string& out, bool lineBreaks) {
    return encodeBase64(data.data(), data.size(), out, lineBreaks);
}

HRESULT decodeBase64(const void* data, size_t length, std::string& out) {
    return runBytes(data, length, out, MAPI_E_CORRUPT_DATA,
                    [&](const uint8_t* p, size_t n) { return detail::base64Decode(p, n, out); });
}

HRESULT decodeBase64(const std::string& data, std::string& out) {
    return decodeBase64(data.data(), data.size(), out);
}

HRESULT encodeQP(const void* data, size_t length, std::string& out) {
    return runBytes(data, length, out, E_FAIL,
                    [&](const uint8_t* p, size_t n) { return detail::qpEncode(p, n, out, 0); });
}

HRESULT encodeQP(const std::string& data, std::string& out) {
    return encodeQP(data.data(), data.size(), out);
}

HRESULT decodeQP(const void* data, size_t length, std::string& out) {
    return runBytes(data, length, out, MAPI_E_CORRUPT_DATA,
                    [&](const uint8_t* p, size_t n) { return detail::qpDecode(p, n, out, 0); });
}

HRESULT decodeQP(const std::string& data, std::string& out) {
    return decodeQP(data.data(), data.size(), out);
}

}  // namespace Coder
