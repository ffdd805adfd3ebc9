// Stream forms of the coder: the source is read in 0x40000-byte chunks, the
// destination written through a buffer of at most that size, and every coder
// keeps its state across chunk borders.
#include <algorithm>
#include <new>
#include <stdexcept>
#include <vector>

#include "CommonBase/Coder.h"
#include "CommonBase/CoderEngine.h"
#include "CommonBase/HResultException.h"
#include "CommonBase/StreamUtils.h"
#include "winplat/mapi.h"
#include "winplat/objidl.h"

namespace Coder::detail {

namespace {
constexpr const char* kFile = "CommonBase\\Coder";
}

class SourceStreamDataHolder {
  public:
    explicit SourceStreamDataHolder(IStream* stream) : stream_(stream) {
        if (stream_) {
            stream_->AddRef();
        }
        size_ = streamSize(stream_);
    }
    ~SourceStreamDataHolder() {
        if (stream_) {
            stream_->Release();
        }
    }
    SourceStreamDataHolder(const SourceStreamDataHolder&) = delete;
    SourceStreamDataHolder& operator=(const SourceStreamDataHolder&) = delete;

    // Bytes from the current position to the end; the position is kept.
    static uint64_t streamSize(IStream* stream) {
        if (!stream) {
            return 0;
        }
        LARGE_INTEGER zero{};
        ULARGE_INTEGER start{};
        ULARGE_INTEGER end{};
        HRESULT hr = stream->Seek(zero, STREAM_SEEK_CUR, &start);
        if (FAILED(hr)) {
            raiseHResult(hr, 2, kFile, 1024, "Coder::detail::SourceStreamDataHolder::streamSize", nullptr);
        }
        hr = stream->Seek(zero, STREAM_SEEK_END, &end);
        if (FAILED(hr)) {
            raiseHResult(hr, 2, kFile, 1025, "Coder::detail::SourceStreamDataHolder::streamSize", nullptr);
        }
        LARGE_INTEGER back{};
        back.QuadPart = static_cast<LONGLONG>(start.QuadPart);
        hr = stream->Seek(back, STREAM_SEEK_SET, nullptr);
        if (FAILED(hr)) {
            raiseHResult(hr, 2, kFile, 1028, "Coder::detail::SourceStreamDataHolder::streamSize", nullptr);
        }
        return end.QuadPart > start.QuadPart ? end.QuadPart - start.QuadPart : 0;
    }

    uint64_t size() const { return size_; }

    // The next chunk of input; false at the end. A failing read is an error,
    // not the end of the input.
    bool next(const uint8_t*& data, size_t& length) {
        if (!stream_) {
            return false;
        }
        if (buffer_.empty()) {
            buffer_.resize(kChunkSize);
        }
        ULONG got = 0;
        HRESULT hr = stream_->Read(buffer_.data(), static_cast<ULONG>(kChunkSize), &got);
        if (FAILED(hr)) {
            raiseHResult(hr, 2, kFile, 1040, "Coder::detail::SourceStreamDataHolder::read", nullptr);
        }
        if (got == 0) {
            return false;
        }
        data = buffer_.data();
        length = std::min<size_t>(got, kChunkSize);
        return true;
    }

  private:
    IStream* stream_;
    uint64_t size_ = 0;
    std::vector<uint8_t> buffer_;
};

class DestStreamDataHolder final : public OutputSink {
  public:
    explicit DestStreamDataHolder(IStream* stream) : stream_(stream) { stream_->AddRef(); }
    ~DestStreamDataHolder() { stream_->Release(); }
    DestStreamDataHolder(const DestStreamDataHolder&) = delete;
    DestStreamDataHolder& operator=(const DestStreamDataHolder&) = delete;

    // Sizes the stream for the expected output after its current position.
    void init(uint64_t expected) {
        LARGE_INTEGER zero{};
        ULARGE_INTEGER start{};
        HRESULT hr = stream_->Seek(zero, STREAM_SEEK_CUR, &start);
        if (SUCCEEDED(hr)) {
            start_ = start.QuadPart;
            ULARGE_INTEGER size{};
            size.QuadPart = start_ + expected;
            hr = stream_->SetSize(size);
        }
        if (FAILED(hr)) {
            raiseHResult(hr, 2, kFile, 1054, "Coder::detail::DestStreamDataHolder::init", nullptr);
        }
        // Never an empty buffer: decoders can produce more than expected.
        buffer_.resize(std::max<size_t>(std::min<uint64_t>(expected, kChunkSize), 4096));
        cur = buffer_.data();
        lim = cur + buffer_.size();
    }

    // Writes what is left and ends the stream right after the produced bytes.
    void finish() {
        writeStream();
        ULARGE_INTEGER size{};
        size.QuadPart = start_ + written_;
        HRESULT hr = stream_->SetSize(size);
        if (FAILED(hr)) {
            raiseHResult(hr, 2, kFile, 1062, "Coder::detail::DestStreamDataHolder::finish", nullptr);
        }
    }

  private:
    void writeStream() {
        size_t length = static_cast<size_t>(cur - buffer_.data());
        if (length == 0) {
            return;
        }
        ULONG done = 0;
        HRESULT hr = stream_->Write(buffer_.data(), static_cast<ULONG>(length), &done);
        if (SUCCEEDED(hr) && done != length) {
            hr = STG_E_MEDIUMFULL;
        }
        if (FAILED(hr)) {
            raiseHResult(hr, 2, kFile, 1068, "Coder::detail::DestStreamDataHolder::writeStream", nullptr);
        }
        written_ += length;
        cur = buffer_.data();
    }

    void makeRoom(size_t n) override {
        writeStream();
        if (buffer_.size() < n) {
            buffer_.resize(n);
        }
        cur = buffer_.data();
        lim = cur + buffer_.size();
    }

    IStream* stream_;
    uint64_t start_ = 0;
    uint64_t written_ = 0;
    std::vector<char> buffer_;
};

}  // namespace Coder::detail

namespace Coder {

namespace {

using namespace detail;

// Any other exception from the engine is a plain failure.
template <typename Body>
HRESULT guarded(Body body) {
    try {
        return hresultOf(body);
    } catch (const std::exception&) {
        return E_FAIL;
    }
}

template <typename Engine>
void pump(SourceStreamDataHolder& source, Engine& engine, OutputSink& out) {
    const uint8_t* data = nullptr;
    size_t length = 0;
    while (source.next(data, length)) {
        engine.feed(data, length, out);
    }
    engine.finish(out);
}

template <typename Engine>
HRESULT streamToString(IStream* source, std::string& out, Engine engine, size_t (*estimate)(uint64_t)) {
    if (!source) {
        return E_INVALIDARG;
    }
    HRESULT hr = guarded([&] {
        SourceStreamDataHolder holder(source);
        StringSink sink(out, estimate(holder.size()));
        pump(holder, engine, sink);
        sink.finish();
        return S_OK;
    });
    if (FAILED(hr)) {
        out.clear();
    }
    return hr;
}

template <typename Engine>
HRESULT streamToStream(IStream* source, IStream* destination, Engine engine, uint64_t (*expected)(uint64_t),
                       int nullLine, const char* function, bool rewind) {
    return guarded([&] {
        if (!source || !destination) {
            raiseHResult(E_INVALIDARG, 2, "CommonBase\\Coder", nullLine, function, nullptr);
        }
        SourceStreamDataHolder holder(source);
        DestStreamDataHolder dest(destination);
        dest.init(expected(holder.size()));
        pump(holder, engine, dest);
        dest.finish();
        if (rewind) {
            streamUtils::rewind(destination);
        }
        return S_OK;
    });
}

}  // namespace

HRESULT encodeBase64(IStream* source, std::string& out, bool lineBreaks) {
    unsigned flags = lineBreaks ? 0 : kBase64NoCrlf;
    if (lineBreaks) {
        return streamToString(source, out, Base64Encoder(flags),
                              [](uint64_t n) -> size_t { return base64EncodeGetRequiredLength(n, 0); });
    }
    return streamToString(source, out, Base64Encoder(flags), [](uint64_t n) -> size_t {
        return base64EncodeGetRequiredLength(n, kBase64NoCrlf);
    });
}

HRESULT encodeBase64(IStream* source, IStream* destination, bool lineBreaks) {
    unsigned flags = lineBreaks ? 0 : kBase64NoCrlf;
    auto expected = lineBreaks ? +[](uint64_t n) -> uint64_t { return base64EncodeGetRequiredLength(n, 0); }
    : +[](uint64_t n) -> uint64_t { return base64EncodeGetRequiredLength(n, kBase64NoCrlf); };
    return streamToStream(source, destination, Base64Encoder(flags), expected, 273, "Coder::encodeBase64",
                          true);
}

HRESULT decodeBase64(IStream* source, IStream* destination) {
    return streamToStream(
        source, destination, Base64Decoder(), [](uint64_t n) { return n; }, 340, "Coder::decodeBase64", true);
}

HRESULT encodeQP(IStream* source, std::string& out) {
    return streamToString(source, out, QpEncoder(0),
                          [](uint64_t n) -> size_t { return qpEncodeEstimate(n); });
}

HRESULT decodeQP(IStream* source, IStream* destination) {
    return streamToStream(
        source, destination, QpDecoder(0), [](uint64_t n) { return n; }, 472, "Coder::decodeQP", true);
}

HRESULT normalizeLineBreaks(IStream* source, IStream* destination) {
    if (!source || !destination) {
        return E_INVALIDARG;
    }
    return guarded([&] {
        SourceStreamDataHolder holder(source);
        DestStreamDataHolder dest(destination);
        dest.init(2 * holder.size());
        LineBreakNormalizer normalizer;
        const uint8_t* data = nullptr;
        size_t length = 0;
        while (!normalizer.ended() && holder.next(data, length)) {
            normalizer.feed(data, length, dest);
        }
        dest.finish();
        return S_OK;
    });
}

}  // namespace Coder
