// What every stand-in module shares: a record of the calls it received,
// named counters (live objects, live blocks, ...) and failure injection
// through winplat::inject. Each module exports the same three functions,
// reached through its module handle:
//
//   int64_t standinCounter(const char* name)
//   void standinCalls(std::vector<std::string>* out)   // the record, in order
//   void standinReset()                                 // forget calls and state
#pragma once

#include <atomic>
#include <cstdint>
#include <cstdio>
#include <iterator>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "winplat/com.h"
#include "winplat/inject.h"
#include "winplat/types.h"
#include "winplat/utf16.h"

#define STANDIN_EXPORT extern "C" __attribute__((visibility("default")))

namespace standin {

class Record {
  public:
    void call(const std::string& text) {
        std::lock_guard<std::mutex> lock(mutex_);
        calls_.push_back(text);
    }
    void add(const std::string& counter, int64_t delta) {
        std::lock_guard<std::mutex> lock(mutex_);
        counters_[counter] += delta;
    }
    int64_t counter(const std::string& name) {
        std::lock_guard<std::mutex> lock(mutex_);
        auto it = counters_.find(name);
        return it == counters_.end() ? 0 : it->second;
    }
    std::vector<std::string> calls() {
        std::lock_guard<std::mutex> lock(mutex_);
        return calls_;
    }
    // Live counts survive: objects made before the reset still exist.
    void reset() {
        std::lock_guard<std::mutex> lock(mutex_);
        calls_.clear();
        for (auto it = counters_.begin(); it != counters_.end();) {
            it = it->first.rfind("live", 0) == 0 ? std::next(it) : counters_.erase(it);
        }
    }

  private:
    std::mutex mutex_;
    std::vector<std::string> calls_;
    std::map<std::string, int64_t> counters_;
};

// The one record of this module. It is made when the module loads and goes
// when it unloads; a call after that (late in process exit) makes a new one.
inline Record*& recordSlot() {
    static Record* r = nullptr;
    return r;
}
inline Record& record() {
    if (!recordSlot()) {
        recordSlot() = new Record;
    }
    return *recordSlot();
}
__attribute__((constructor)) inline void makeRecord() {
    record();
}
__attribute__((destructor)) inline void dropRecord() {
    delete recordSlot();
    recordSlot() = nullptr;
}

// True when a test armed a failure for `name`; *hr is then its HRESULT.
inline bool injected(const char* name, HRESULT* hr) {
    int64_t code = 0;
    if (winplat::inject::take(name, &code)) {
        *hr = static_cast<HRESULT>(static_cast<uint32_t>(code));
        record().call(std::string(name) + " -> injected");
        return true;
    }
    return false;
}

inline std::string hex32(uint32_t value) {
    char text[16];
    std::snprintf(text, sizeof(text), "0x%08x", value);
    return text;
}

// A GUID in registry form, "{...}".
inline std::string guidText(const GUID& g) {
    wchar_t buffer[40];
    StringFromGUID2(g, buffer, 40);
    return winplat::utf16ToUtf8(buffer);
}

// A live object of kind `counter` ("liveObjects" and its own kind).
class Counted {
  public:
    explicit Counted(const char* kind) : kind_(kind) {
        record().add("liveObjects", 1);
        record().add(kind_, 1);
    }
    ~Counted() {
        record().add("liveObjects", -1);
        record().add(kind_, -1);
    }
    Counted(const Counted&) = delete;
    Counted& operator=(const Counted&) = delete;

  private:
    const char* kind_;
};

// IUnknown over the interface IDs a subclass answers; counted while alive.
// `NullOut` is what QueryInterface returns for a null out-pointer.
template <class I, HRESULT NullOut = E_POINTER>
class Object : public I, private Counted {
  public:
    explicit Object(const char* kind) : Counted(kind) {}
    virtual ~Object() = default;

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override {
        if (!ppv) {
            return NullOut;
        }
        if (IsEqualIID(riid, IID_IUnknown) || answers(riid)) {
            *ppv = static_cast<I*>(this);
            AddRef();
            return S_OK;
        }
        *ppv = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return ++refs_; }
    ULONG STDMETHODCALLTYPE Release() override {
        ULONG now = --refs_;
        if (now == 0) {
            delete this;
        }
        return now;
    }

  protected:
    virtual bool answers(REFIID riid) const = 0;

  private:
    std::atomic<ULONG> refs_{1};
};

}  // namespace standin

// The common exports; a module adds its own reset steps through resetHook.
#define STANDIN_DEFINE_EXPORTS(resetHook)                             \
    STANDIN_EXPORT int64_t standinCounter(const char* name) {         \
        return standin::record().counter(name);                       \
    }                                                                 \
    STANDIN_EXPORT void standinCalls(std::vector<std::string>* out) { \
        *out = standin::record().calls();                             \
    }                                                                 \
    STANDIN_EXPORT void standinReset() {                              \
        standin::record().reset();                                    \
        resetHook();                                                  \
    }
