#include "CommonBase/StreamUtils.h"

#include <errno.h>

#include <boost/iostreams/copy.hpp>
#include <boost/regex.hpp>
#include <cstring>
#include <limits>
#include <memory>
#include <mutex>
#include <vector>

#include "CommonBase/CharsetCodePages.h"
#include "CommonBase/DataStream.h"
#include "CommonBase/HResultException.h"
#include "CommonBase/StringUtils.h"
#include "winplat/converter.h"
#include "winplat/mapi.h"
#include "winplat/utf16.h"

namespace streamUtils {

namespace {

constexpr const char* kFile = "CommonBase\\StreamUtils";

[[noreturn]] void raise(HRESULT hr, const char* function, int line = __builtin_LINE()) {
    raiseHResult(hr, 2, kFile, line, function, nullptr);
}

void check(HRESULT hr, const char* function, int line = __builtin_LINE()) {
    if (FAILED(hr)) {
        raise(hr, function, line);
    }
}

ULONG byteCount(size_t count) {
    return static_cast<ULONG>(size_cast(count));
}

}  // namespace

// ---------------------------------------------------------------------------
namespace detail {

void checkStream(IStream* stream) {
    if (!stream) {
        raise(E_INVALIDARG, "streamUtils::detail::checkStream");
    }
}

void readData(IStream* stream, void* buffer, ULONG count) {
    checkStream(stream);
    if (!buffer) {
        raise(E_INVALIDARG, "streamUtils::detail::readData");
    }
    ULONG got = 0;
    check(stream->Read(buffer, count, &got), "streamUtils::detail::readData");
    if (got < count) {
        raise(STG_E_READFAULT, "streamUtils::detail::readData");
    }
}

void readData(IStream* stream, std::vector<char>& buffer, ULONG size) {
    checkStream(stream);
    // Room for the terminator is needed; a count of size - 1 would wrap.
    if (size == 0) {
        raise(E_INVALIDARG, "streamUtils::detail::readData");
    }
    buffer.assign(size, 0);
    readData(stream, buffer.data(), size - 1);
}

void writeStr(IStream* stream, const void* data, size_t byteCount) {
    checkStream(stream);
    if (!data) {
        return;
    }
    check(stream->Write(data, streamUtils::byteCount(byteCount), nullptr), "streamUtils::detail::writeStr");
}

}  // namespace detail

// ---------------------------------------------------------------------------
void rewind(IStream* stream) {
    detail::checkStream(stream);
    LARGE_INTEGER zero{};
    check(stream->Seek(zero, STREAM_SEEK_SET, nullptr), "streamUtils::rewind");
}

void seek(IStream* stream, int32_t move, DWORD origin) {
    seek(stream, static_cast<int64_t>(move), origin);
}

void seek(IStream* stream, int64_t move, DWORD origin) {
    if (!stream) {
        raise(E_INVALIDARG, "streamUtils::seek");
    }
    LARGE_INTEGER distance;
    distance.QuadPart = move;
    check(stream->Seek(distance, origin, nullptr), "streamUtils::seek");
}

uint64_t longPos(IStream* stream) {
    if (!stream) {
        raise(E_INVALIDARG, "streamUtils::longPos");
    }
    LARGE_INTEGER zero{};
    ULARGE_INTEGER position{};
    check(stream->Seek(zero, STREAM_SEEK_CUR, &position), "streamUtils::longPos");
    return position.QuadPart;
}

uint32_t pos(IStream* stream) {
    uint64_t position = longPos(stream);
    if (position > 0xFFFFFFFFu) {
        raise(MAPI_E_TOO_BIG, "streamUtils::pos");
    }
    return static_cast<uint32_t>(position);
}

uint32_t getStreamSize(IStream* stream) {
    if (!stream) {
        raise(E_INVALIDARG, "streamUtils::getStreamSize");
    }
    STATSTG stat{};
    check(stream->Stat(&stat, STATFLAG_NONAME), "streamUtils::getStreamSize");
    if (stat.cbSize.QuadPart > 0xFFFFFFFFu) {
        raise(MAPI_E_TOO_BIG, "streamUtils::getStreamSize");
    }
    return static_cast<uint32_t>(stat.cbSize.QuadPart);
}

HRESULT copy(IStream* source, IStream* target, bool keepPosition) {
    detail::checkStream(source);
    detail::checkStream(target);
    if (source == target) {
        raise(E_INVALIDARG, "streamUtils::copy");
    }
    LARGE_INTEGER zero{};
    ULARGE_INTEGER saved{};
    if (keepPosition) {
        check(source->Seek(zero, STREAM_SEEK_CUR, &saved), "streamUtils::copy");
    }
    ULARGE_INTEGER all;
    all.QuadPart = std::numeric_limits<ULONGLONG>::max();
    HRESULT hr = source->CopyTo(target, all, nullptr, nullptr);
    check(hr, "streamUtils::copy");
    if (keepPosition) {
        LARGE_INTEGER back;
        back.QuadPart = static_cast<LONGLONG>(saved.QuadPart);
        hr = source->Seek(back, STREAM_SEEK_SET, nullptr);
        check(hr, "streamUtils::copy");
    }
    return hr;
}

// ---------------------------------------------------------------------------
void writeStr(IStream* stream, const char* text) {
    detail::writeStr(stream, text, text ? std::strlen(text) : 0);
}

void writeStr(IStream* stream, const wchar_t* text) {
    if (!text) {
        detail::writeStr(stream, nullptr, 0);
        return;
    }
    writeStr(stream, std::wstring(text));
}

void writeStr(IStream* stream, const std::string& text) {
    detail::writeStr(stream, text.data(), text.size());
}

void writeStr(IStream* stream, const std::wstring& text) {
    std::string bytes = winplat::wideToBytes(text);
    detail::writeStr(stream, bytes.data(), bytes.size());
}

void writeStr(IStream* stream, const void* data, size_t byteCount) {
    detail::writeStr(stream, data, byteCount);
}

void writeStr(IStream* stream, uint32_t value) {
    detail::writeStr(stream, &value, sizeof(value));
}

void writeStr(IStream* stream, uint16_t value) {
    detail::writeStr(stream, &value, sizeof(value));
}

// ---------------------------------------------------------------------------
HRESULT createStream(int kind, IStream** out, bool readOnly, bool autoCommit, bool commitOnRelease) {
    return createStream(kind, out, nullptr, 0, readOnly, autoCommit, commitOnRelease);
}

HRESULT createStream(int kind, IStream** out, const void* content, size_t contentSize, bool readOnly,
                     bool autoCommit, bool commitOnRelease) {
    switch (kind) {
        case MemoryStream:
            return DataStream::create<MemoryStreamData>(readOnly, autoCommit, commitOnRelease, out, content,
                                                        contentSize);
        case TempFileStream:
            return DataStream::create<TempFileStreamData>(readOnly, autoCommit, commitOnRelease, out, content,
                                                          contentSize);
        case AdaptiveStream:
            return DataStream::create<AdaptiveStreamData>(readOnly, autoCommit, commitOnRelease, out, content,
                                                          contentSize);
        default:
            return E_INVALIDARG;
    }
}

HRESULT createStream(IStream** out) {
    HRESULT hr = createStream(AdaptiveStream, out, false, false, true);
    check(hr, "streamUtils::createStream");
    return hr;
}

// ---------------------------------------------------------------------------
template <typename Ch>
ComStreamDeviceT<Ch>::ComStreamDeviceT(IStream* stream) : stream_(stream) {
    if (!stream_) {
        raise(E_INVALIDARG, sizeof(Ch) == 1 ? "streamUtils::ComStreamDeviceT<char>::ComStreamDeviceT"
                                            : "streamUtils::ComStreamDeviceT<wchar_t>::ComStreamDeviceT");
    }
    stream_->AddRef();
}

template <typename Ch>
ComStreamDeviceT<Ch>::ComStreamDeviceT(const ComStreamDeviceT& other) : stream_(other.stream_) {
    stream_->AddRef();
}

template <typename Ch>
ComStreamDeviceT<Ch>& ComStreamDeviceT<Ch>::operator=(const ComStreamDeviceT& other) {
    other.stream_->AddRef();
    stream_->Release();
    stream_ = other.stream_;
    return *this;
}

template <typename Ch>
ComStreamDeviceT<Ch>::~ComStreamDeviceT() {
    stream_->Release();
}

namespace {
// Bytes per character in the stream: wide text is stored as UTF-16LE.
template <typename Ch>
constexpr size_t kUnit = sizeof(Ch) == 1 ? 1 : 2;
}  // namespace

template <typename Ch>
std::streamsize ComStreamDeviceT<Ch>::read(Ch* buffer, std::streamsize n) {
    const char* function = sizeof(Ch) == 1 ? "streamUtils::ComStreamDeviceT<char>::read"
                                           : "streamUtils::ComStreamDeviceT<wchar_t>::read";
    size_t bytes = static_cast<size_t>(n) * kUnit<Ch>;
    ULONG got = 0;
    if constexpr (sizeof(Ch) == 1) {
        check(stream_->Read(buffer, byteCount(bytes), &got), function);
    } else {
        std::vector<uint8_t> raw(bytes);
        check(stream_->Read(raw.data(), byteCount(bytes), &got), function);
        for (size_t i = 0; i + 1 < got; i += 2) {
            buffer[i / 2] = static_cast<Ch>(raw[i] | (raw[i + 1] << 8));
        }
    }
    if (got == 0) {
        return -1;
    }
    return static_cast<std::streamsize>(got / kUnit<Ch>);
}

template <typename Ch>
std::streamsize ComStreamDeviceT<Ch>::write(const Ch* buffer, std::streamsize n) {
    const char* function = sizeof(Ch) == 1 ? "streamUtils::ComStreamDeviceT<char>::write"
                                           : "streamUtils::ComStreamDeviceT<wchar_t>::write";
    ULONG put = 0;
    if constexpr (sizeof(Ch) == 1) {
        check(stream_->Write(buffer, byteCount(static_cast<size_t>(n)), &put), function);
    } else {
        std::string bytes = winplat::wideToBytes(std::wstring_view(buffer, static_cast<size_t>(n)));
        check(stream_->Write(bytes.data(), byteCount(bytes.size()), &put), function);
    }
    return static_cast<std::streamsize>(put / kUnit<Ch>);
}

template <typename Ch>
boost::iostreams::stream_offset ComStreamDeviceT<Ch>::seek(boost::iostreams::stream_offset offset,
                                                           std::ios_base::seekdir way) {
    const char* function = sizeof(Ch) == 1 ? "streamUtils::ComStreamDeviceT<char>::seek"
                                           : "streamUtils::ComStreamDeviceT<wchar_t>::seek";
    DWORD origin = 0;
    if (way == std::ios_base::beg) {
        origin = STREAM_SEEK_SET;
    } else if (way == std::ios_base::cur) {
        origin = STREAM_SEEK_CUR;
    } else if (way == std::ios_base::end) {
        origin = STREAM_SEEK_END;
    } else {
        raise(E_INVALIDARG, function);
    }
    // Offsets count characters, like read and write.
    LARGE_INTEGER move;
    move.QuadPart = offset * static_cast<boost::iostreams::stream_offset>(kUnit<Ch>);
    ULARGE_INTEGER position{};
    check(stream_->Seek(move, origin, &position), function);
    return static_cast<boost::iostreams::stream_offset>(position.QuadPart / kUnit<Ch>);
}

template class ComStreamDeviceT<char>;
template class ComStreamDeviceT<wchar_t>;

// ---------------------------------------------------------------------------
namespace {

// Converts the bytes written to it from a code page to UTF-16 units written to
// the wide device; an incomplete sequence at the end of a piece waits for the
// next piece.
class IConvConverter {
  public:
    typedef char char_type;
    struct category : boost::iostreams::sink_tag, boost::iostreams::closable_tag {};

    IConvConverter(ComStreamDeviceT<wchar_t>& output, unsigned codePage)
        : output_(&output), codePage_(codePage) {}

    std::streamsize write(const char* data, std::streamsize n) {
        if (!converter_) {
            open();
        }
        pending_.append(data, static_cast<size_t>(n));
        convert(false);
        return n;
    }

    void close() {
        if (!converter_) {
            return;
        }
        convert(true);
        pending_.clear();
        converter_.reset();
    }

    // Closes the converter when a failure leaves the conversion early.
    void abandon() { converter_.reset(); }

  private:
    void open() {
        const char* name = getIconvNameFromCodePage(codePage_ == 0 ? 1252 : codePage_);
        // Code pages without a converter name cannot be opened either.
        if (!name) {
            throw IConvException();
        }
        auto converter = std::make_unique<winplat::Converter>("UCS-2LE", name);
        if (!converter->ok()) {
            throw IConvException();
        }
        converter_ = std::move(converter);
    }

    void convert(bool last) {
        std::vector<char> out(2 * pending_.size() + 16);
        char* in = pending_.data();
        size_t inLeft = pending_.size();
        char* to = out.data();
        size_t outLeft = out.size();
        bool dropped = false;
        while (inLeft > 0) {
            size_t result = converter_->convert(&in, &inLeft, &to, &outLeft);
            if (result != static_cast<size_t>(-1)) {
                break;
            }
            if (errno == E2BIG || errno == EINVAL) {
                break;  // the tail stays pending
            }
            if (errno == EILSEQ) {
                ++in;
                --inLeft;
                continue;
            }
            dropped = true;
            break;
        }
        if (last && !dropped) {
            // Return a stateful encoding to its initial state.
            converter_->convert(nullptr, nullptr, &to, &outLeft);
        }
        if (dropped) {
            pending_.clear();
            return;
        }
        size_t produced = static_cast<size_t>(to - out.data());
        if (produced >= 2) {
            std::wstring units = winplat::bytesToWide(out.data(), produced);
            output_->write(units.data(), static_cast<std::streamsize>(units.size()));
        }
        pending_.erase(0, pending_.size() - inLeft);
    }

    ComStreamDeviceT<wchar_t>* output_;
    unsigned codePage_;
    std::string pending_;
    std::unique_ptr<winplat::Converter> converter_;
};

}  // namespace

void multibyteToUnicode(IStream* source, IStream* target, unsigned codePage) {
    if (!source || !target) {
        raise(E_INVALIDARG, "streamUtils::multibyteToUnicode");
    }
    ComStreamDeviceT<char> input(source);
    ComStreamDeviceT<wchar_t> output(target);
    IConvConverter converter(output, codePage);
    try {
        boost::iostreams::copy(input, boost::ref(converter), 4096);
    } catch (...) {
        converter.abandon();
        throw;
    }
}

// ---------------------------------------------------------------------------
namespace {

struct HtmlEntities {
    std::wstring pattern;
    std::wstring format;
    boost::wregex expression;
};

const HtmlEntities& htmlEntities() {
    static const HtmlEntities entities = [] {
        HtmlEntities made;
        made.pattern = L"(\\&)|(\\\")|(')|(<)|(>)|(\\xd\\xa|\\xa\\xd|\\xd|\\xa)";
        made.format = L"(?1&amp;)(?2&quot;)(?3&#039;)(?4&lt;)(?5&gt;)(?6<br>\r\n)";
        made.expression = boost::wregex(made.pattern, boost::regex_constants::perl);
        return made;
    }();
    return entities;
}

bool isBreak(wchar_t c) {
    return c == L'\r' || c == L'\n';
}

bool endsWithLoneBreak(const std::wstring& text) {
    size_t n = text.size();
    size_t i = n;
    while (i > 0 && isBreak(text[i - 1])) {
        --i;
    }
    while (i < n) {
        if (i + 1 < n && text[i] != text[i + 1] && isBreak(text[i + 1])) {
            i += 2;  // CR LF or LF CR
        } else if (i + 1 == n) {
            return true;
        } else {
            ++i;
        }
    }
    return false;
}

}  // namespace

void replaceHtmlEntities(IStream* source, IStream* target) {
    detail::checkStream(source);
    detail::checkStream(target);
    if (source == target) {
        raise(E_INVALIDARG, "streamUtils::replaceHtmlEntities");
    }
    rewind(source);
    const HtmlEntities& entities = htmlEntities();
    std::vector<uint8_t> chunk(65536);
    std::wstring carried;  // units held back for the next chunk
    uint8_t oddByte = 0;
    bool hasOddByte = false;
    auto emit = [&](const std::wstring& text) {
        if (text.empty()) {
            return;
        }
        std::wstring replaced = boost::regex_replace(text, entities.expression, entities.format,
                                                     boost::match_default | boost::format_all);
        std::string bytes = winplat::wideToBytes(replaced);
        check(target->Write(bytes.data(), byteCount(bytes.size()), nullptr),
              "streamUtils::replaceHtmlEntities");
    };
    while (true) {
        ULONG got = 0;
        HRESULT hr = source->Read(chunk.data(), static_cast<ULONG>(chunk.size()), &got);
        check(hr, "streamUtils::replaceHtmlEntities");
        if (got == 0) {
            break;
        }
        std::string bytes;
        if (hasOddByte) {
            bytes.push_back(static_cast<char>(oddByte));
        }
        bytes.append(reinterpret_cast<const char*>(chunk.data()), got);
        hasOddByte = (bytes.size() % 2) != 0;
        if (hasOddByte) {
            oddByte = static_cast<uint8_t>(bytes.back());
            bytes.pop_back();
        }
        std::wstring text = carried + winplat::bytesToWide(bytes.data(), bytes.size());
        carried.clear();
        // A lone CR or LF at the chunk's end may pair with the next chunk's
        // first unit: hold it back. Breaks pair from the left, so only the
        // last unit of the final run of breaks can still change.
        if (endsWithLoneBreak(text)) {
            carried.push_back(text.back());
            text.pop_back();
        }
        emit(text);
        if (hr != S_OK) {
            break;
        }
    }
    emit(carried);
}

}  // namespace streamUtils
