// Base64 and quoted-printable encoding and decoding, and normalisation of line
// breaks to CRLF, over byte ranges, strings and COM streams. The public
// operations return HRESULTs and never throw. Stream forms work in fixed
// 0x40000-byte chunks and give exactly the output of the byte-range forms.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "winplat/types.h"

struct IStream;

namespace Coder {

// Line breaks true: lines of 76 characters separated by CRLF.
HRESULT encodeBase64(const void* data, size_t length, std::string& out, bool lineBreaks);
HRESULT encodeBase64(const std::string& data, std::string& out, bool lineBreaks);
HRESULT encodeBase64(IStream* source, std::string& out, bool lineBreaks);
HRESULT encodeBase64(IStream* source, IStream* destination, bool lineBreaks);

HRESULT decodeBase64(const void* data, size_t length, std::string& out);
HRESULT decodeBase64(const std::string& data, std::string& out);
HRESULT decodeBase64(IStream* source, IStream* destination);

HRESULT encodeQP(const void* data, size_t length, std::string& out);
HRESULT encodeQP(const std::string& data, std::string& out);
HRESULT encodeQP(IStream* source, std::string& out);

HRESULT decodeQP(const void* data, size_t length, std::string& out);
HRESULT decodeQP(const std::string& data, std::string& out);
HRESULT decodeQP(IStream* source, IStream* destination);

HRESULT normalizeLineBreaks(IStream* source, IStream* destination);

namespace detail {

// Base64 encoder flags.
constexpr unsigned kBase64NoPad = 0x1;
constexpr unsigned kBase64NoCrlf = 0x2;
// Quoted-printable flags: dot stuffing at line starts (both directions) and
// a trailing soft break (encoder).
constexpr unsigned kQpDot = 0x1;
constexpr unsigned kQpTrailingSoftBreak = 0x2;

// Size of the stream chunks.
constexpr size_t kChunkSize = 0x40000;

// Characters the encoder writes for `length` bytes, an upper bound; raises
// E_OUTOFMEMORY "Too large data to encode" when it does not fit in 32 bits.
uint32_t base64EncodeGetRequiredLength(size_t length, unsigned flags);

// The inner coders over byte ranges; each returns 1 on success and replaces
// the output.
int base64EncodeEx(const uint8_t* input, size_t length, std::string& output, unsigned flags);
int base64Decode(const uint8_t* input, size_t length, std::string& output);
int qpEncode(const uint8_t* input, size_t length, std::string& output, unsigned flags);
int qpDecode(const uint8_t* input, size_t length, std::string& output, unsigned flags);
int normalizeLineBreaks(const uint8_t* input, size_t length, std::string& output);

}  // namespace detail
}  // namespace Coder
