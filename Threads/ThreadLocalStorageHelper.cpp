#include "Threads/ThreadLocalStorageHelper.h"

#include <atomic>
#include <cstdint>
#include <cstdlib>
#include <new>
#include <set>

namespace {

// Marks a thread started through the library's Thread.
void* const kMyThreadMarker = reinterpret_cast<void*>(static_cast<uintptr_t>(0xABCDEF));

// Serialises the first construction of the process-wide helper.
CLock creationLock(true);

}  // namespace

// The slots allocated by a helper and its copies. Changed under the helpers'
// shared lock; the last helper to let go frees what is left.
struct ThreadLocalStorageHelper::Slots {
    std::set<DWORD> owned;

    Slots() = default;
    Slots(const Slots&) = delete;
    Slots& operator=(const Slots&) = delete;
    ~Slots() {
        for (DWORD index : owned) {
            TlsFree(index);
        }
    }
    // Frees `index` when it is still owned; a copy may have freed it already.
    void free(DWORD index) {
        if (owned.erase(index) != 0) {
            TlsFree(index);
        }
    }
};

// The process-wide helper's storage, pointer and construction guard, exported
// under the names that local statics of threadLocalStorageHelper() have.
namespace fibrex_detail {

struct alignas(ThreadLocalStorageHelper) HelperStorage {
    unsigned char bytes[sizeof(ThreadLocalStorageHelper)];
};

#define FIBREX_DATA __attribute__((visibility("default")))
FIBREX_DATA HelperStorage
    safeStaticInner __asm__("_ZZ24threadLocalStorageHelpervE36__safeStaticInner_threadLocalStorage");
FIBREX_DATA std::atomic<ThreadLocalStorageHelper*> safeStaticPtr __asm__(
    "_ZZ24threadLocalStorageHelpervE34__safeStaticPtr_threadLocalStorage"){nullptr};
FIBREX_DATA uint64_t
    safeStaticGuard __asm__("_ZGVZ24threadLocalStorageHelpervE36__safeStaticInner_threadLocalStorage") = 0;
#undef FIBREX_DATA

}  // namespace fibrex_detail

namespace {

void destroyHelper() {
    std::launder(reinterpret_cast<ThreadLocalStorageHelper*>(&fibrex_detail::safeStaticInner))
        ->~ThreadLocalStorageHelper();
}

}  // namespace

ThreadLocalStorageHelper& threadLocalStorageHelper() {
    using namespace fibrex_detail;
    if (ThreadLocalStorageHelper* helper = safeStaticPtr.load(std::memory_order_acquire)) {
        return *helper;
    }
    CLockGuard guard(creationLock);
    ThreadLocalStorageHelper* helper = safeStaticPtr.load(std::memory_order_relaxed);
    if (!helper) {
        if ((safeStaticGuard & 1) == 0) {
            // The guard bit goes up only once the helper stands, so a failed
            // construction is tried again by the next caller.
            new (&safeStaticInner) ThreadLocalStorageHelper();
            safeStaticGuard |= 1;
            std::atexit(destroyHelper);
        }
        helper = std::launder(reinterpret_cast<ThreadLocalStorageHelper*>(&safeStaticInner));
        safeStaticPtr.store(helper, std::memory_order_release);
    }
    return *helper;
}

ThreadLocalStorageHelper::ThreadLocalStorageHelper()
    : myThread_(TlsAlloc()), lock_(true), slots_(std::make_shared<Slots>()) {
    if (myThread_ != TLS_OUT_OF_INDEXES) {
        slots_->owned.insert(myThread_);
    }
}

ThreadLocalStorageHelper::ThreadLocalStorageHelper(const ThreadLocalStorageHelper& other)
    : myThread_(other.myThread_), lock_(other.lock_) {
    CLockGuard guard(lock_);
    keys_ = other.keys_;
    slots_ = other.slots_;
}

ThreadLocalStorageHelper& ThreadLocalStorageHelper::operator=(const ThreadLocalStorageHelper& other) {
    if (this == &other) {
        return *this;
    }
    std::map<GUID, DWORD, KeyLess> keys;
    std::shared_ptr<Slots> slots;
    {
        CLockGuard guard(other.lock_);
        keys = other.keys_;
        slots = other.slots_;
    }
    myThread_ = other.myThread_;
    lock_ = other.lock_;
    keys_.swap(keys);
    // Joining the source's slots drops this helper's own share; when it was
    // the last, its slots are freed here.
    slots_.swap(slots);
    return *this;
}

ThreadLocalStorageHelper::~ThreadLocalStorageHelper() {
    // Only the last of a helper and its copies frees the shared slots (when
    // `slots_` goes); freeing them here would free them once per copy.
}

void ThreadLocalStorageHelper::fillMyThread() {
    if (myThread_ != TLS_OUT_OF_INDEXES) {
        TlsSetValue(myThread_, kMyThreadMarker);
    }
}

bool ThreadLocalStorageHelper::isMyThread() {
    if (myThread_ == TLS_OUT_OF_INDEXES) {
        return false;
    }
    return TlsGetValue(myThread_) == kMyThreadMarker;
}

bool ThreadLocalStorageHelper::fillKeyValue(const GUID& key, void* value) {
    DWORD index;
    {
        CLockGuard guard(lock_);
        auto found = keys_.find(key);
        if (found != keys_.end()) {
            index = found->second;
        } else {
            index = TlsAlloc();
            if (index != TLS_OUT_OF_INDEXES) {
                try {
                    slots_->owned.insert(index);
                    keys_.emplace(key, index);
                } catch (...) {
                    slots_->free(index);
                    throw;
                }
            }
        }
    }
    if (index == TLS_OUT_OF_INDEXES) {
        return false;
    }
    TlsSetValue(index, value);
    return true;
}

DWORD ThreadLocalStorageHelper::lookUp(const GUID& key) {
    CLockGuard guard(lock_);
    auto found = keys_.find(key);
    return found == keys_.end() ? TLS_OUT_OF_INDEXES : found->second;
}

void* ThreadLocalStorageHelper::getKeyValue(const GUID& key) {
    const DWORD index = lookUp(key);
    return index == TLS_OUT_OF_INDEXES ? nullptr : TlsGetValue(index);
}

void ThreadLocalStorageHelper::resetKeyValue(const GUID& key) {
    const DWORD index = lookUp(key);
    if (index != TLS_OUT_OF_INDEXES) {
        TlsSetValue(index, nullptr);
    }
}

void ThreadLocalStorageHelper::clearIndexes() {
    // The slot set is shared with copies, so it is changed under the shared lock.
    CLockGuard guard(lock_);
    if (myThread_ != TLS_OUT_OF_INDEXES) {
        slots_->free(myThread_);
        myThread_ = TLS_OUT_OF_INDEXES;
    }
    for (auto& entry : keys_) {
        if (entry.second != TLS_OUT_OF_INDEXES) {
            slots_->free(entry.second);
            entry.second = TLS_OUT_OF_INDEXES;
        }
    }
    keys_.clear();
}
