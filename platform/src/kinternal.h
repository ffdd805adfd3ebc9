// Shared internals of the kernel sources (kernel.cpp, thread.cpp, process.cpp)
// and the lock every platform table is guarded with.
#pragma once

#include <linux/futex.h>
#include <sys/syscall.h>
#include <time.h>
#include <unistd.h>

#include <atomic>
#include <memory>
#include <mutex>

#include "kobject.h"

#if defined(__SANITIZE_THREAD__)
#define WINPLAT_TSAN 1
#elif defined(__has_feature)
#if __has_feature(thread_sanitizer)
#define WINPLAT_TSAN 1
#endif
#endif
#ifndef WINPLAT_TSAN
#define WINPLAT_TSAN 0
#endif

namespace winplat::kernel {

// The one lock that guards the signal state of every waitable object.
std::mutex& waitMutex();

// The object behind a handle, with the pseudo handles of the current thread
// and process resolved.
std::shared_ptr<Object> resolveHandle(HANDLE handle);

// thread.cpp: the current thread's object (made on first use for threads the
// platform did not start); names a thread given its id.
std::shared_ptr<Object> currentThreadObject();
bool nameThreadById(DWORD threadId, const char* name);

// process.cpp: the object behind GetCurrentProcess().
std::shared_ptr<Object> currentProcessObject();

// Platform code that holds an internal lock runs inside a CriticalScope: a
// suspend request that arrives meanwhile takes effect when the outermost
// scope ends, so a suspended thread never holds a platform lock (as a thread
// suspended on the platform never stops inside a kernel call).
extern thread_local std::atomic<int> tCriticalDepth __attribute__((tls_model("initial-exec")));
extern thread_local std::atomic<bool> tParkPending __attribute__((tls_model("initial-exec")));
void parkPending();

inline void enterCritical() {
    tCriticalDepth.fetch_add(1);
}
inline void leaveCritical() {
    if (tCriticalDepth.fetch_sub(1) == 1 && tParkPending.load()) {
        parkPending();
    }
}

struct CriticalScope {
    CriticalScope() { enter(); }
    ~CriticalScope() {
        if (active_) {
            leave();
        }
    }
    CriticalScope(const CriticalScope&) = delete;
    CriticalScope& operator=(const CriticalScope&) = delete;
    void enter() {
        enterCritical();
        active_ = true;
    }
    void leave() {
        active_ = false;
        leaveCritical();
    }

  private:
    bool active_ = false;
};

// The lock for every table of the platform: whoever holds it is inside a
// CriticalScope, so a suspension waits until it is released. A thread
// blocked waiting for it is inside the scope too and stops once it has
// taken and released it. With std::condition_variable_any a wait leaves the
// scope while it waits.
class PlatformLock {
  public:
    void lock() {
        enterCritical();
        mutex_.lock();
    }
    bool try_lock() {
        enterCritical();
        if (mutex_.try_lock()) {
            return true;
        }
        leaveCritical();
        return false;
    }
    void unlock() {
        mutex_.unlock();
        leaveCritical();
    }

  private:
    std::mutex mutex_;
};
using PlatformGuard = std::lock_guard<PlatformLock>;

// Futex waits on a 32-bit atomic; used where a wait must stay usable from a
// signal handler.
inline void futexWait(std::atomic<uint32_t>* word, uint32_t expected) {
    syscall(SYS_futex, reinterpret_cast<uint32_t*>(word), FUTEX_WAIT_PRIVATE, expected, nullptr, nullptr, 0);
}
// Waits while *word == expected, until `deadline` (CLOCK_MONOTONIC); false
// when the deadline passed.
bool futexWaitUntil(std::atomic<uint32_t>* word, uint32_t expected, const struct timespec& deadline);
// CLOCK_MONOTONIC `ms` milliseconds (below 1000) from now.
inline struct timespec monotonicIn(long ms) {
    struct timespec t {};
    clock_gettime(CLOCK_MONOTONIC, &t);
    t.tv_nsec += ms * 1000000L;
    if (t.tv_nsec >= 1000000000L) {
        t.tv_sec += 1;
        t.tv_nsec -= 1000000000L;
    }
    return t;
}
// A wait where the thread may get a suspend request. The thread sanitizer
// runs a deferred signal handler only when the thread comes back from the
// system call (which SA_RESTART would restart), so wait in slices there.
inline void futexWaitSuspendable(std::atomic<uint32_t>* word, uint32_t expected) {
#if WINPLAT_TSAN
    futexWaitUntil(word, expected, monotonicIn(20));
#else
    futexWait(word, expected);
#endif
}
inline void futexWakeAll(std::atomic<uint32_t>* word) {
    syscall(SYS_futex, reinterpret_cast<uint32_t*>(word), FUTEX_WAKE_PRIVATE, INT32_MAX, nullptr, nullptr, 0);
}

}  // namespace winplat::kernel
