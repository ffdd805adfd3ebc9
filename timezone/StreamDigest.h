// A narrow output stream whose bytes feed a message digest of libcrypto.
//
// Writing goes through a put area, so the digest sees blocks, not single
// bytes; every route that finishes a digest first drains the area, so the
// result is the same as if each byte had reached the digest on its own.
//
// States: init pending (after construction and after each finished digest)
// and running (after the first byte). digest(flush) finishes a running
// digest and re-arms; with flush set and no digest finished yet it first
// starts one, so empty input gives the digest of the empty text. Without
// output and without flush the result is empty; asking again without new
// output repeats the last digest; output after a finish starts a new one.
//
// libcrypto failures never reach the caller: their codes go to the
// process-wide CryptoErrorStore, and the result is whatever the library gave.
// A stream belongs to one thread.
#pragma once

#include <openssl/evp.h>

#include <cstdint>
#include <list>
#include <map>
#include <ostream>
#include <streambuf>
#include <string>

#include "CommonBase/XMutex.h"

namespace tavlo::crypto {

class StreamDigest : public std::ostream {
  public:
    class BufDigest : public std::streambuf {
      public:
        BufDigest();
        ~BufDigest() override;
        BufDigest(const BufDigest&) = delete;
        BufDigest& operator=(const BufDigest&) = delete;

        void select(const EVP_MD* algorithm) { algorithm_ = algorithm; }
        // Starts a digest when none is running and feeds the put area.
        void start();
        // Feeds what waits in the put area; true when a digest is running.
        bool drain();
        // Finishes the running digest into out (at least EVP_MAX_MD_SIZE
        // bytes) and re-arms; false when none was running.
        bool finish(unsigned char* out, unsigned int* length);

      protected:
        int_type overflow(int_type c) override;
        std::streamsize xsputn(const char* s, std::streamsize n) override;
        int sync() override;

      private:
        static constexpr size_t kAreaSize = 512;

        void begin();
        void update(const void* data, size_t size);
        void resetArea() { setp(area_, area_ + kAreaSize); }
        // A fetched algorithm keeps the context's provider state between
        // digests; a legacy handle or none takes the full reset each time.
        bool fetched() const { return algorithm_ != nullptr && EVP_MD_get0_provider(algorithm_) != nullptr; }

        EVP_MD_CTX* context_;
        bool initPending_ = true;
        bool ready_ = false;  // the running digest started
        const EVP_MD* algorithm_;
        char area_[kAreaSize];
    };

    StreamDigest();
    ~StreamDigest() override;
    StreamDigest(const StreamDigest&) = delete;
    StreamDigest& operator=(const StreamDigest&) = delete;

    // The raw digest bytes of the last finished digest.
    virtual std::string digest(bool flush);
    // The same as lowercase hexadecimal text, high half first.
    virtual std::string hexDigest(bool flush);

  protected:
    void selectAlgorithm(const EVP_MD* algorithm) { buffer_.select(algorithm); }

  private:
    // Finishes what is running into result_, by the rules above.
    void finishDigest(bool flush);

    BufDigest buffer_;
    unsigned char result_[64];
    uint32_t resultLength_ = 0;
};

class StreamDigestMD5 : public StreamDigest {
  public:
    StreamDigestMD5() { selectAlgorithm(algorithm()); }

  private:
    static const EVP_MD* algorithm();
};

// libcrypto's error codes per thread id, in arrival order. Nothing in the
// library reads them; they are kept so a failure leaves a trace.
class CryptoErrorStore {
  public:
    static CryptoErrorStore& instance();
    // Drains the calling thread's libcrypto error queue into the store.
    static void recordErrors();
    // The codes filed under a thread id.
    std::list<unsigned long> codesOf(uint32_t threadId);

  private:
    CryptoErrorStore() = default;
    static void destroy();

    tiny::XMutex mutex_;  // guards codes_
    std::map<uint32_t, std::list<unsigned long>> codes_;
};

}  // namespace tavlo::crypto
