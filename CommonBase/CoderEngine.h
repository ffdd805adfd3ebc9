// Incremental coders behind Coder: each keeps the state it needs between two
// pieces of input, so feeding the input in any split gives the same output as
// feeding it whole. Output goes to an OutputSink that hands out room in bulk.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>

namespace Coder::detail {

class OutputSink {
  public:
    char* cur = nullptr;
    char* lim = nullptr;

    void ensure(size_t n) {
        if (static_cast<size_t>(lim - cur) < n) {
            makeRoom(n);
        }
    }
    void put(char c) {
        if (cur == lim) {
            makeRoom(1);
        }
        *cur++ = c;
    }
    void write(const void* data, size_t n) {
        ensure(n);
        std::memcpy(cur, data, n);
        cur += n;
    }

  protected:
    OutputSink() = default;
    ~OutputSink() = default;
    // Makes at least n bytes of room at cur (by flushing or growing).
    virtual void makeRoom(size_t n) = 0;
};

// Output into a std::string, first sized to an estimate and grown
// geometrically when the estimate falls short; finish() cuts it to the bytes
// produced. The string is not cleared first, so a string reused between calls
// keeps its memory.
class StringSink final : public OutputSink {
  public:
    StringSink(std::string& target, size_t estimate);
    void finish();

  private:
    void makeRoom(size_t n) override;
    std::string& target_;
};

class Base64Encoder {
  public:
    explicit Base64Encoder(unsigned flags) : flags_(flags) {}
    void feed(const uint8_t* p, size_t n, OutputSink& out);
    void finish(OutputSink& out);

  private:
    void encodeGroups(const uint8_t*& p, size_t groups, OutputSink& out);

    unsigned flags_;
    uint8_t pending_[2] = {0, 0};
    unsigned pendingCount_ = 0;
    unsigned groupsInLine_ = 0;
    bool wroteGroup_ = false;
};

class Base64Decoder {
  public:
    void feed(const uint8_t* p, size_t n, OutputSink& out);
    void finish(OutputSink& out);

  private:
    uint32_t acc_ = 0;
    unsigned count_ = 0;
};

class QpEncoder {
  public:
    explicit QpEncoder(unsigned flags) : flags_(flags) {}
    void feed(const uint8_t* p, size_t n, OutputSink& out);
    void finish(OutputSink& out);

  private:
    unsigned flags_;
    unsigned count_ = 0;
    bool pendingCr_ = false;
};

class QpDecoder {
  public:
    explicit QpDecoder(unsigned flags) : flags_(flags) {}
    void feed(const uint8_t* p, size_t n, OutputSink& out);
    void finish(OutputSink& out);

  private:
    enum State : uint8_t { Normal, AfterEquals, AfterEqualsByte };
    enum Expect : uint8_t { None, ExpectCr, ExpectLf };

    unsigned flags_;
    State state_ = Normal;
    Expect expect_ = None;
    bool lineStart_ = true;
    uint8_t first_ = 0;
};

class LineBreakNormalizer {
  public:
    void feed(const uint8_t* p, size_t n, OutputSink& out);
    void finish(OutputSink&) {}
    // A NUL byte ends the input; the rest is ignored.
    bool ended() const { return ended_; }

  private:
    bool skipLf_ = false;
    bool ended_ = false;
};

// Output estimates of the string forms.
size_t qpEncodeEstimate(size_t n);

}  // namespace Coder::detail
