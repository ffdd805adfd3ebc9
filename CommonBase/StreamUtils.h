// Functions on COM streams: checks, exact reads, positions and sizes, copies,
// writing text, making streams, code-page conversion to UTF-16, HTML escaping,
// and boost.iostreams devices over a stream. Failures raise HResultException
// (source "CommonBase\StreamUtils") unless a function says otherwise. Wide
// text in a stream is UTF-16LE, two bytes per unit.
#pragma once

#include <boost/iostreams/categories.hpp>
#include <boost/iostreams/positioning.hpp>
#include <cstddef>
#include <cstdint>
#include <ios>
#include <stdexcept>
#include <string>
#include <vector>

#include "winplat/objidl.h"

namespace streamUtils {

// Thrown when no converter exists for a code page.
class IConvException : public std::runtime_error {
  public:
    IConvException() : std::runtime_error("Can't open iconv converter.") {}
};

namespace detail {
void checkStream(IStream* stream);
// Reads exactly `count` bytes; a short read raises STG_E_READFAULT.
void readData(IStream* stream, void* buffer, ULONG count);
// Makes `buffer` `size` zero bytes and reads exactly size - 1 bytes into it,
// so the result is zero-terminated; a size of 0 raises E_INVALIDARG.
void readData(IStream* stream, std::vector<char>& buffer, ULONG size);
void writeStr(IStream* stream, const void* data, size_t byteCount);
}  // namespace detail

void rewind(IStream* stream);
void seek(IStream* stream, int32_t move, DWORD origin);
void seek(IStream* stream, int64_t move, DWORD origin);
uint64_t longPos(IStream* stream);
// 32-bit forms raise MAPI_E_TOO_BIG above 32 bits.
uint32_t pos(IStream* stream);
uint32_t getStreamSize(IStream* stream);

// Copies the rest of the source from its position; with keepPosition the
// source's position is restored afterwards. Returns the last call's result.
HRESULT copy(IStream* source, IStream* target, bool keepPosition);

void writeStr(IStream* stream, const char* text);
void writeStr(IStream* stream, const wchar_t* text);  // UTF-16LE units
void writeStr(IStream* stream, const std::string& text);
void writeStr(IStream* stream, const std::wstring& text);  // UTF-16LE units
void writeStr(IStream* stream, const void* data, size_t byteCount);
void writeStr(IStream* stream, uint32_t value);
void writeStr(IStream* stream, uint16_t value);

// Kinds of createStream.
enum StreamKind : int { MemoryStream = 0, TempFileStream = 1, AdaptiveStream = 2 };

HRESULT createStream(int kind, IStream** out, bool readOnly, bool autoCommit, bool commitOnRelease);
HRESULT createStream(int kind, IStream** out, const void* content, size_t contentSize, bool readOnly,
                     bool autoCommit, bool commitOnRelease);
// An adaptive stream, writable, committed on release; raises on failure.
HRESULT createStream(IStream** out);

// Converts text of a code page read from the source's position into UTF-16LE
// written at the target's position. May throw IConvException.
void multibyteToUnicode(IStream* source, IStream* target, unsigned codePage);

// Escapes UTF-16LE text for HTML: & " ' < > and line breaks.
void replaceHtmlEntities(IStream* source, IStream* target);

// Seekable boost.iostreams devices over a stream; the wchar_t device moves
// UTF-16LE units (two bytes each) and counts its offsets in units.
template <typename Ch>
class ComStreamDeviceT {
  public:
    typedef Ch char_type;
    typedef boost::iostreams::seekable_device_tag category;

    explicit ComStreamDeviceT(IStream* stream);
    ComStreamDeviceT(const ComStreamDeviceT& other);
    ComStreamDeviceT& operator=(const ComStreamDeviceT& other);
    ~ComStreamDeviceT();

    std::streamsize read(Ch* buffer, std::streamsize n);
    std::streamsize write(const Ch* buffer, std::streamsize n);
    boost::iostreams::stream_offset seek(boost::iostreams::stream_offset offset, std::ios_base::seekdir way);

  private:
    IStream* stream_;
};

extern template class ComStreamDeviceT<char>;
extern template class ComStreamDeviceT<wchar_t>;

}  // namespace streamUtils
