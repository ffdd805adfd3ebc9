// Threads: creation (suspended or not), counted suspend and resume of a
// running thread, exit codes, priorities, ids and names.
//
// Suspending a running thread: the suspender sends the thread a real-time
// signal and waits until the thread's handler reports that it has stopped;
// the handler then waits on a futex until the suspend count drops to 0. The
// handler never blocks on anything a sanitizer intercepts, so a sanitizer
// that defers signals can still deliver it at the thread's next atomic
// operation or system call.
#include <pthread.h>
#include <signal.h>

#include <cerrno>
#include <climits>
#include <cstring>
#include <string>
#include <unordered_map>

#include "kinternal.h"
#include "winplat/inject.h"

namespace winplat::kernel {
namespace {

// Values of ThreadObject::ack, the word a suspender waits on.
constexpr uint32_t kRunning = 0;
constexpr uint32_t kStopped = 1;
constexpr uint32_t kExiting = 2;  // past the last point where it can stop

constexpr DWORD kMaximumSuspendCount = 127;
constexpr DWORD kErrorSignalRefcountExceeded = 156;

// The suspend count and the "ended" mark share one word, so the ending
// thread needs no lock to learn whether a suspend still holds it.
constexpr uint32_t kEndedBit = 0x80000000u;

class ThreadObject : public Waitable {
  public:
    ~ThreadObject() override {
        // Started joinable, so the descriptor stays valid for pthread_kill
        // and naming until no handle can reach the thread.
        if (ownThread) {
            pthread_detach(pthread);
        }
    }

    std::atomic<uint32_t> tid{0};  // set once by the thread itself
    pthread_t pthread{};           // written before `tid` is published
    bool ownThread = false;        // started by _beginthreadex; idem

    std::mutex control;                 // orders suspends and resumes of this thread
    std::atomic<uint32_t> state{0};     // suspend count | kEndedBit
    std::atomic<uint32_t> released{1};  // 0 while the count is above 0; changed under `control`
    std::atomic<uint32_t> ack{kRunning};
    std::atomic<bool> inExit{false};

    std::atomic<DWORD> exitCode{STILL_ACTIVE};
    std::atomic<int> priority{THREAD_PRIORITY_NORMAL};
};

void finish(ThreadObject* t, DWORD code);

thread_local ThreadObject* tCurrent __attribute__((tls_model("initial-exec"))) = nullptr;
thread_local DWORD tThreadId = 0;
thread_local DWORD tExitCode = 0;  // from ExitThread

// Keeps the current thread's object; for a thread the platform did not start
// it also ends the object (signals its handles) when the thread goes.
struct SelfHolder {
    std::shared_ptr<ThreadObject> object;
    bool adopted = false;
    ~SelfHolder() {
        if (adopted && object) {
            finish(object.get(), tExitCode);
        }
        tCurrent = nullptr;
    }
};
thread_local SelfHolder tSelf;

struct Registry {
    std::mutex mutex;
    std::unordered_map<DWORD, std::weak_ptr<ThreadObject>> byId;
};

Registry& registry() {
    static Registry* r = new Registry;
    return *r;
}

void registerThread(const std::shared_ptr<ThreadObject>& t, DWORD id) {
    CriticalScope scope;
    Registry& r = registry();
    std::lock_guard<std::mutex> lock(r.mutex);
    r.byId[id] = t;
}

void unregisterThread(ThreadObject* t, DWORD id) {
    CriticalScope scope;
    Registry& r = registry();
    std::lock_guard<std::mutex> lock(r.mutex);
    auto it = r.byId.find(id);
    if (it != r.byId.end()) {
        auto current = it->second.lock();
        if (!current || current.get() == t) {
            r.byId.erase(it);
        }
    }
}

int suspendSignal() {
    return SIGRTMIN + 4;
}

// Stops the calling thread until its suspend count is 0 again.
void park(ThreadObject* t) {
    t->ack.store(kStopped);
    futexWakeAll(&t->ack);
    while (t->released.load() == 0) {
        futexWait(&t->released, 0);
    }
    t->ack.store(kRunning);
    futexWakeAll(&t->ack);
}

void suspendHandler(int) {
    const int saved = errno;
    ThreadObject* t = tCurrent;
    if (t != nullptr && !t->inExit.load() && t->released.load() == 0) {
        if (tCriticalDepth.load() > 0) {
            tParkPending.store(true);  // stops when it leaves the platform lock
        } else {
            park(t);
        }
    }
    errno = saved;
}

void installSuspendHandler() {
    static std::once_flag once;
    std::call_once(once, [] {
        struct sigaction sa;
        std::memset(&sa, 0, sizeof sa);
        sa.sa_handler = suspendHandler;
        sa.sa_flags = SA_RESTART;
        sigemptyset(&sa.sa_mask);
        sigaction(suspendSignal(), &sa, nullptr);
    });
}

void unblockSuspendSignal() {
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, suspendSignal());
    pthread_sigmask(SIG_UNBLOCK, &set, nullptr);
}

// The thread's last stop: a suspend that raced with the end of the thread
// procedure holds the thread here; afterwards the handle is signalled.
void finish(ThreadObject* t, DWORD code) {
    t->inExit.store(true);
    t->ack.store(kExiting);
    futexWakeAll(&t->ack);
    const uint32_t before = t->state.fetch_or(kEndedBit);
    if ((before & ~kEndedBit) != 0) {
        while (t->released.load() == 0) {
            futexWait(&t->released, 0);
        }
    }
    unregisterThread(t, t->tid.load());
    t->exitCode.store(code);
    t->signal();
}

struct Start {
    std::shared_ptr<ThreadObject> object;
    unsigned (*procedure)(void*);
    void* argument;
};

// Ends the object however the procedure leaves: by returning, or through
// ExitThread's unwinding.
struct Finisher {
    ThreadObject* thread;
    bool returned = false;
    DWORD code = 0;
    ~Finisher() { finish(thread, returned ? code : tExitCode); }
};

void* trampoline(void* p) {
    std::shared_ptr<ThreadObject> object;
    unsigned (*procedure)(void*);
    void* argument;
    {
        Start* start = static_cast<Start*>(p);
        object = std::move(start->object);
        procedure = start->procedure;
        argument = start->argument;
        delete start;
    }
    unblockSuspendSignal();
    ThreadObject* t = object.get();
    tCurrent = t;
    tThreadId = static_cast<DWORD>(gettid());
    t->pthread = pthread_self();
    t->ownThread = true;
    registerThread(object, tThreadId);
    tSelf.object = std::move(object);
    t->tid.store(tThreadId, std::memory_order_release);
    futexWakeAll(&t->tid);

    // Created suspended: nothing of the procedure runs before the count is 0.
    while (t->released.load() == 0) {
        futexWaitSuspendable(&t->released, 0);
    }
    Finisher finisher{t};
    finisher.code = procedure(argument);
    finisher.returned = true;
    return nullptr;
}

std::shared_ptr<ThreadObject> resolveThread(HANDLE handle) {
    return std::dynamic_pointer_cast<ThreadObject>(resolveHandle(handle));
}

// The system keeps 15 bytes of a thread name; cut at a character boundary.
std::string systemThreadName(const char* name) {
    std::string s(name);
    if (s.size() > 15) {
        size_t cut = 15;
        while (cut > 0 && (static_cast<unsigned char>(s[cut]) & 0xC0) == 0x80) {
            --cut;
        }
        s.resize(cut);
    }
    return s;
}

}  // namespace

thread_local std::atomic<int> tCriticalDepth __attribute__((tls_model("initial-exec"))){0};
thread_local std::atomic<bool> tParkPending __attribute__((tls_model("initial-exec"))){false};

void parkPending() {
    tParkPending.store(false);
    ThreadObject* t = tCurrent;
    if (t != nullptr && !t->inExit.load() && t->released.load() == 0) {
        park(t);
    }
}

std::shared_ptr<Object> currentThreadObject() {
    if (!tSelf.object) {
        auto t = std::make_shared<ThreadObject>();
        t->pthread = pthread_self();
        t->tid.store(GetCurrentThreadId());
        registerThread(t, t->tid.load());
        tCurrent = t.get();
        tSelf.object = std::move(t);
        tSelf.adopted = true;
    }
    return tSelf.object;
}

bool nameThreadById(DWORD threadId, const char* name) {
    const std::string cut = systemThreadName(name);
    if (threadId == GetCurrentThreadId()) {
        return pthread_setname_np(pthread_self(), cut.c_str()) == 0;
    }
    std::shared_ptr<ThreadObject> t;
    {
        CriticalScope scope;
        Registry& r = registry();
        std::lock_guard<std::mutex> lock(r.mutex);
        auto it = r.byId.find(threadId);
        if (it != r.byId.end()) {
            t = it->second.lock();
        }
    }
    if (!t) {
        return false;
    }
    // The descriptor stays valid while the object lives; a thread that has
    // gone simply cannot be named.
    return pthread_setname_np(t->pthread, cut.c_str()) == 0;
}

}  // namespace winplat::kernel

using namespace winplat::kernel;

extern "C" {

uintptr_t _beginthreadex(void* /*security*/, unsigned stackSize, unsigned (*startAddress)(void*),
                         void* argList, unsigned initFlag, unsigned* threadId) {
    CriticalScope scope;  // a platform call is not stopped halfway
    int64_t code = 0;
    if (winplat::inject::take("_beginthreadex", &code)) {
        SetLastError(static_cast<DWORD>(code));
        errno = EAGAIN;
        return 0;
    }
    if (startAddress == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        errno = EINVAL;
        return 0;
    }
    installSuspendHandler();
    auto object = std::make_shared<ThreadObject>();
    if ((initFlag & CREATE_SUSPENDED) != 0) {
        object->state.store(1);
        object->released.store(0);
    }
    pthread_attr_t attr;
    pthread_attr_init(&attr);
    if (stackSize != 0) {
        pthread_attr_setstacksize(&attr, std::max<size_t>(stackSize, PTHREAD_STACK_MIN));
    }
    auto* start = new Start{object, startAddress, argList};
    pthread_t pt;
    const int rc = pthread_create(&pt, &attr, trampoline, start);
    pthread_attr_destroy(&attr);
    if (rc != 0) {
        delete start;
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        errno = EAGAIN;
        return 0;
    }
    while (object->tid.load(std::memory_order_acquire) == 0) {
        futexWait(&object->tid, 0);
    }
    HANDLE handle = makeHandle(object);
    if (handle == nullptr) {
        // No handle to resume it with: let it run to its end.
        std::lock_guard<std::mutex> lock(object->control);
        object->state.store(0);
        object->released.store(1);
        futexWakeAll(&object->released);
        errno = EAGAIN;
        return 0;
    }
    if (threadId != nullptr) {
        *threadId = object->tid.load();
    }
    return reinterpret_cast<uintptr_t>(handle);
}

DWORD SuspendThread(HANDLE thread) {
    CriticalScope scope;  // a platform call is not stopped halfway
    auto t = resolveThread(thread);
    if (!t) {
        SetLastError(ERROR_INVALID_HANDLE);
        return static_cast<DWORD>(-1);
    }
    DWORD previous;
    {
        std::lock_guard<std::mutex> lock(t->control);
        uint32_t s = t->state.load();
        previous = s & ~kEndedBit;
        if ((s & kEndedBit) == 0 && previous == 0) {
            // Before the count rises, so an ending thread that sees the
            // count also sees that it must stop.
            t->released.store(0);
        }
        for (;;) {
            if ((s & kEndedBit) != 0) {
                t->released.store(1);
                SetLastError(ERROR_ACCESS_DENIED);
                return static_cast<DWORD>(-1);
            }
            if ((s & ~kEndedBit) >= kMaximumSuspendCount) {
                SetLastError(kErrorSignalRefcountExceeded);
                return static_cast<DWORD>(-1);
            }
            if (t->state.compare_exchange_weak(s, s + 1)) {
                break;
            }
        }
        if (previous != 0) {
            return previous;
        }
        if (t.get() != tCurrent) {
            installSuspendHandler();
            if (t->ack.load() == kRunning) {
                pthread_kill(t->pthread, suspendSignal());
            }
        }
    }
    // Outside the lock and the scope: two threads that suspend each other
    // both stop here, and a third thread can resume either of them.
    scope.leave();
    if (t.get() == tCurrent) {
        park(t.get());  // suspending itself
        return previous;
    }
    // Return only once the thread has really stopped (or has left its
    // procedure and will stop before it ends), or a resume has released it
    // again meanwhile. A resume changes `released`, not `ack`: wait in slices.
    while (t->ack.load() == kRunning && t->released.load() == 0) {
        futexWaitUntil(&t->ack, kRunning, monotonicIn(5));
    }
    return previous;
}

DWORD ResumeThread(HANDLE thread) {
    CriticalScope scope;  // a platform call is not stopped halfway
    auto t = resolveThread(thread);
    if (!t) {
        SetLastError(ERROR_INVALID_HANDLE);
        return static_cast<DWORD>(-1);
    }
    std::lock_guard<std::mutex> lock(t->control);
    uint32_t s = t->state.load();
    for (;;) {
        if ((s & ~kEndedBit) == 0) {
            return 0;
        }
        if (t->state.compare_exchange_weak(s, s - 1)) {
            break;
        }
    }
    const DWORD previous = s & ~kEndedBit;
    if (previous == 1) {
        t->released.store(1);
        futexWakeAll(&t->released);
        // A later suspend must find the thread out of its handler.
        while (t->ack.load() == kStopped) {
            futexWait(&t->ack, kStopped);
        }
    }
    return previous;
}

BOOL SetThreadPriority(HANDLE thread, int priority) {
    CriticalScope scope;  // a platform call is not stopped halfway
    auto t = resolveThread(thread);
    if (!t) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    switch (priority) {
        case THREAD_PRIORITY_IDLE:
        case THREAD_PRIORITY_LOWEST:
        case THREAD_PRIORITY_BELOW_NORMAL:
        case THREAD_PRIORITY_NORMAL:
        case THREAD_PRIORITY_ABOVE_NORMAL:
        case THREAD_PRIORITY_HIGHEST:
        case THREAD_PRIORITY_TIME_CRITICAL:
            t->priority.store(priority);
            return TRUE;
        default:
            SetLastError(ERROR_INVALID_PARAMETER);
            return FALSE;
    }
}

int GetThreadPriority(HANDLE thread) {
    CriticalScope scope;  // a platform call is not stopped halfway
    auto t = resolveThread(thread);
    if (!t) {
        SetLastError(ERROR_INVALID_HANDLE);
        return THREAD_PRIORITY_ERROR_RETURN;
    }
    return t->priority.load();
}

DWORD GetCurrentThreadId() {
    if (tThreadId == 0) {
        tThreadId = static_cast<DWORD>(gettid());
    }
    return tThreadId;
}

BOOL GetExitCodeThread(HANDLE thread, LPDWORD exitCode) {
    CriticalScope scope;  // a platform call is not stopped halfway
    auto t = resolveThread(thread);
    if (!t) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    if (exitCode == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    *exitCode = t->exitCode.load();
    return TRUE;
}

void ExitThread(DWORD exitCode) {
    tExitCode = exitCode;
    pthread_exit(nullptr);
}

}  // extern "C"
