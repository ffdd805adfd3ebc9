// The digest stream over libcrypto's EVP interface and the error store.
#include "timezone/StreamDigest.h"

#include <openssl/err.h>

#include <atomic>
#include <cstdlib>
#include <cstring>

#include "winplat/windows.h"

namespace tavlo::crypto {

// ---- BufDigest ------------------------------------------------------------

StreamDigest::BufDigest::BufDigest() : context_(EVP_MD_CTX_new()), algorithm_(EVP_md_null()) {
    resetArea();
}

StreamDigest::BufDigest::~BufDigest() {
    EVP_MD_CTX_free(context_);
}

void StreamDigest::BufDigest::begin() {
    if (!initPending_) {
        return;
    }
    ready_ = context_ != nullptr && (fetched() ? EVP_DigestInit_ex(context_, algorithm_, nullptr)
                                               : EVP_DigestInit(context_, algorithm_)) != 0;
    if (!ready_) {
        CryptoErrorStore::recordErrors();
    }
    initPending_ = false;
}

void StreamDigest::BufDigest::update(const void* data, size_t size) {
    // A context whose start failed has no digest to feed.
    if (size == 0 || !ready_) {
        return;
    }
    if (EVP_DigestUpdate(context_, data, size) == 0) {
        CryptoErrorStore::recordErrors();
    }
}

StreamDigest::BufDigest::int_type StreamDigest::BufDigest::overflow(int_type c) {
    begin();
    update(pbase(), static_cast<size_t>(pptr() - pbase()));
    if (!traits_type::eq_int_type(c, traits_type::eof())) {
        const char byte = traits_type::to_char_type(c);
        update(&byte, 1);
    }
    resetArea();
    return 0;
}

std::streamsize StreamDigest::BufDigest::xsputn(const char* s, std::streamsize n) {
    if (n <= epptr() - pptr()) {
        std::memcpy(pptr(), s, static_cast<size_t>(n));
        pbump(static_cast<int>(n));
        return n;
    }
    overflow(traits_type::eof());
    update(s, static_cast<size_t>(n));
    return n;
}

int StreamDigest::BufDigest::sync() {
    if (pptr() != pbase()) {
        overflow(traits_type::eof());
    }
    return 0;
}

void StreamDigest::BufDigest::start() {
    overflow(traits_type::eof());
}

bool StreamDigest::BufDigest::drain() {
    sync();
    return !initPending_;
}

bool StreamDigest::BufDigest::finish(unsigned char* out, unsigned int* length) {
    if (!drain()) {
        return false;
    }
    *length = 0;
    if (!ready_ || (fetched() ? EVP_DigestFinal_ex(context_, out, length)
                              : EVP_DigestFinal(context_, out, length)) == 0) {
        CryptoErrorStore::recordErrors();
    }
    initPending_ = true;
    return true;
}

// ---- StreamDigest ---------------------------------------------------------

const EVP_MD* StreamDigestMD5::algorithm() {
    // Fetched once and held for the process: a digest named by its legacy
    // handle is looked up again by every start.
    static const EVP_MD* const md5 = [] {
        const EVP_MD* fetched = EVP_MD_fetch(nullptr, "MD5", nullptr);
        if (fetched == nullptr) {
            CryptoErrorStore::recordErrors();
            return EVP_md5();
        }
        return fetched;
    }();
    return md5;
}

StreamDigest::StreamDigest() : std::ostream(nullptr) {
    rdbuf(&buffer_);
}

StreamDigest::~StreamDigest() = default;

void StreamDigest::finishDigest(bool flush) {
    if (flush && resultLength_ == 0) {
        // Starts a digest even over nothing, so empty input has one too.
        buffer_.start();
    }
    unsigned int length = 0;
    if (buffer_.finish(result_, &length)) {
        resultLength_ = length;
    }
}

std::string StreamDigest::digest(bool flush) {
    finishDigest(flush);
    return std::string(reinterpret_cast<const char*>(result_), resultLength_);
}

std::string StreamDigest::hexDigest(bool flush) {
    static const char kDigits[] = "0123456789abcdef";
    finishDigest(flush);
    std::string hex(resultLength_ * 2, '\0');
    for (uint32_t i = 0; i < resultLength_; ++i) {
        hex[2 * i] = kDigits[result_[i] / 16];
        hex[2 * i + 1] = kDigits[result_[i] % 16];
    }
    return hex;
}

// ---- CryptoErrorStore -----------------------------------------------------

namespace {

std::atomic<CryptoErrorStore*> gStore{nullptr};

tiny::XMutex& creationLock() {
    static tiny::XMutex lock;
    return lock;
}

}  // namespace

CryptoErrorStore& CryptoErrorStore::instance() {
    CryptoErrorStore* store = gStore.load(std::memory_order_acquire);
    if (store != nullptr) {
        return *store;
    }
    tiny::XMutexGuard guard(creationLock());
    store = gStore.load(std::memory_order_relaxed);
    if (store == nullptr) {
        store = new CryptoErrorStore();
        gStore.store(store, std::memory_order_release);
        std::atexit(&CryptoErrorStore::destroy);
    }
    return *store;
}

void CryptoErrorStore::destroy() {
    tiny::XMutexGuard guard(creationLock());
    delete gStore.exchange(nullptr);
}

void CryptoErrorStore::recordErrors() {
    CryptoErrorStore& store = instance();
    tiny::XMutexGuard guard(store.mutex_);
    std::list<unsigned long>& codes = store.codes_[GetCurrentThreadId()];
    for (unsigned long code = ERR_get_error(); code != 0; code = ERR_get_error()) {
        codes.push_back(code);
    }
}

std::list<unsigned long> CryptoErrorStore::codesOf(uint32_t threadId) {
    tiny::XMutexGuard guard(mutex_);
    const auto it = codes_.find(threadId);
    return it == codes_.end() ? std::list<unsigned long>() : it->second;
}

}  // namespace tavlo::crypto
