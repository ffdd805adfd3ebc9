// Handles, last error, the wait core, events, critical sections, TLS and the
// debugger hooks.
#include <sched.h>
#include <time.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>
#include <string>
#include <unordered_map>
#include <vector>

#include "kinternal.h"
#include "winplat/inject.h"

namespace winplat::kernel {

// A blocked wait; registered with every object it waits on.
class Waiter {
  public:
    std::atomic<uint32_t> woken{0};
};

namespace {

thread_local DWORD tLastError = 0;

struct HandleTable {
    std::mutex mutex;
    std::unordered_map<uintptr_t, std::shared_ptr<Object>> map;
    // Values grow and are not reused soon, so a stale handle fails instead
    // of reaching a newer object. Multiples of 4, as on the platform.
    uintptr_t next = 0x100;
};

// Never destroyed: handles may be closed by statics during exit.
HandleTable& table() {
    static HandleTable* t = new HandleTable;
    return *t;
}

constexpr size_t kMaxHandles = size_t{1} << 24;

}  // namespace

std::mutex& waitMutex() {
    static std::mutex* m = new std::mutex;
    return *m;
}

Object::~Object() = default;

Waitable::~Waitable() = default;

void Waitable::signal() {
    CriticalScope scope;
    std::lock_guard<std::mutex> lock(waitMutex());
    signalled_ = true;
    for (Waiter* w : waiters_) {
        w->woken.store(1);
        futexWakeAll(&w->woken);
    }
}

void Waitable::reset() {
    CriticalScope scope;
    std::lock_guard<std::mutex> lock(waitMutex());
    signalled_ = false;
}

bool Waitable::isSignalled() const {
    CriticalScope scope;
    std::lock_guard<std::mutex> lock(waitMutex());
    return signalled_;
}

bool futexWaitUntil(std::atomic<uint32_t>* word, uint32_t expected, const struct timespec& deadline) {
    // FUTEX_WAIT_BITSET takes an absolute CLOCK_MONOTONIC time.
    const long rc = syscall(SYS_futex, reinterpret_cast<uint32_t*>(word), FUTEX_WAIT_BITSET_PRIVATE, expected,
                            &deadline, nullptr, FUTEX_BITSET_MATCH_ANY);
    return !(rc != 0 && errno == ETIMEDOUT);
}

HANDLE makeHandle(std::shared_ptr<Object> object) {
    CriticalScope scope;
    HandleTable& t = table();
    std::lock_guard<std::mutex> lock(t.mutex);
    if (t.map.size() >= kMaxHandles) {
        tLastError = ERROR_NOT_ENOUGH_MEMORY;
        return nullptr;
    }
    uintptr_t value = t.next;
    while (t.map.count(value) != 0) {
        value += 4;
    }
    t.next = value + 4;
    t.map.emplace(value, std::move(object));
    return reinterpret_cast<HANDLE>(value);
}

std::shared_ptr<Object> fromHandle(HANDLE handle) {
    CriticalScope scope;
    HandleTable& t = table();
    std::lock_guard<std::mutex> lock(t.mutex);
    auto it = t.map.find(reinterpret_cast<uintptr_t>(handle));
    return it == t.map.end() ? nullptr : it->second;
}

bool closeHandle(HANDLE handle) {
    std::shared_ptr<Object> released;
    {
        CriticalScope scope;
        HandleTable& t = table();
        std::lock_guard<std::mutex> lock(t.mutex);
        auto it = t.map.find(reinterpret_cast<uintptr_t>(handle));
        if (it == t.map.end()) {
            return false;
        }
        released = std::move(it->second);
        t.map.erase(it);
    }
    return true;  // `released` goes here, outside the table lock
}

size_t openHandleCount() {
    CriticalScope scope;
    HandleTable& t = table();
    std::lock_guard<std::mutex> lock(t.mutex);
    return t.map.size();
}

std::shared_ptr<Object> resolveHandle(HANDLE handle) {
    if (handle == WINPLAT_PSEUDO_THREAD) {
        return currentThreadObject();
    }
    if (handle == WINPLAT_PSEUDO_PROCESS) {
        return currentProcessObject();
    }
    return fromHandle(handle);
}

// The wait algorithm; a friend of Waitable, so it reads the signal state
// under the wait lock directly.
struct WaitCore {
    static DWORD wait(DWORD count, const HANDLE* handles, bool waitAll, DWORD milliseconds) {
        // Callers must not hold a scope of their own: the blocking part
        // below runs outside every scope, where a suspend stops the thread.
        CriticalScope scope;
        if (count == 0 || count > MAXIMUM_WAIT_OBJECTS || handles == nullptr) {
            tLastError = ERROR_INVALID_PARAMETER;
            return WAIT_FAILED;
        }
        std::vector<std::shared_ptr<Waitable>> objects(count);
        for (DWORD i = 0; i < count; ++i) {
            objects[i] = std::dynamic_pointer_cast<Waitable>(resolveHandle(handles[i]));
            if (!objects[i]) {
                tLastError = ERROR_INVALID_HANDLE;
                return WAIT_FAILED;
            }
        }
        // One registration per distinct object; wait-all refuses duplicates.
        std::vector<Waitable*> distinct;
        for (auto& o : objects) {
            if (std::find(distinct.begin(), distinct.end(), o.get()) != distinct.end()) {
                if (waitAll) {
                    tLastError = ERROR_INVALID_PARAMETER;
                    return WAIT_FAILED;
                }
                continue;
            }
            distinct.push_back(o.get());
        }
        for (Waitable* o : distinct) {
            o->refresh();
        }

        // The lock is held only inside `scope`; the blocking part waits on
        // the waiter's own word with no lock held, where a suspend can stop
        // the thread at once.
        const bool infinite = milliseconds == INFINITE;
        timespec deadline{};
        clock_gettime(CLOCK_MONOTONIC, &deadline);
        deadline.tv_sec += milliseconds / 1000;
        deadline.tv_nsec += static_cast<long>(milliseconds % 1000) * 1000000L;
        if (deadline.tv_nsec >= 1000000000L) {
            deadline.tv_sec += 1;
            deadline.tv_nsec -= 1000000000L;
        }
        Waiter waiter;
        bool registered = false;
        DWORD result = WAIT_TIMEOUT;
        std::unique_lock<std::mutex> lock(waitMutex());
        for (;;) {
            if (trySatisfy(objects, waitAll, &result)) {
                break;
            }
            if (milliseconds == 0) {
                break;
            }
            if (!registered) {
                for (Waitable* o : distinct) {
                    o->waiters_.push_back(&waiter);
                }
                registered = true;
            }
            waiter.woken.store(0);
            lock.unlock();
            scope.leave();
            const bool inTime = blockUntil(&waiter.woken, infinite ? nullptr : &deadline);
            scope.enter();
            lock.lock();
            if (!inTime) {
                if (!trySatisfy(objects, waitAll, &result)) {
                    result = WAIT_TIMEOUT;
                }
                break;
            }
        }
        if (registered) {
            for (Waitable* o : distinct) {
                auto& ws = o->waiters_;
                ws.erase(std::find(ws.begin(), ws.end(), &waiter));
            }
        }
        return result;
    }

    // Blocks while *word is 0; false when `deadline` (null: none) passed.
    static bool blockUntil(std::atomic<uint32_t>* word, const timespec* deadline) {
        for (;;) {
            if (word->load() != 0) {
                return true;
            }
            timespec now{};
            clock_gettime(CLOCK_MONOTONIC, &now);
            if (deadline != nullptr &&
                (now.tv_sec > deadline->tv_sec ||
                 (now.tv_sec == deadline->tv_sec && now.tv_nsec >= deadline->tv_nsec))) {
                return false;
            }
#if WINPLAT_TSAN
            // The thread sanitizer runs a signal handler only when the thread
            // comes back from the system call, so wait in slices to let a
            // suspend request through.
            timespec slice = now;
            slice.tv_nsec += 20 * 1000000L;
            if (slice.tv_nsec >= 1000000000L) {
                slice.tv_sec += 1;
                slice.tv_nsec -= 1000000000L;
            }
            if (deadline != nullptr &&
                (slice.tv_sec > deadline->tv_sec ||
                 (slice.tv_sec == deadline->tv_sec && slice.tv_nsec > deadline->tv_nsec))) {
                slice = *deadline;
            }
            futexWaitUntil(word, 0, slice);
#else
            if (deadline == nullptr) {
                futexWait(word, 0);
            } else {
                futexWaitUntil(word, 0, *deadline);
            }
#endif
        }
    }

    // Under the wait lock. Wait-any: the lowest signalled index wins.
    static bool trySatisfy(const std::vector<std::shared_ptr<Waitable>>& objects, bool waitAll,
                           DWORD* result) {
        if (waitAll) {
            for (auto& o : objects) {
                if (!o->signalled_) {
                    return false;
                }
            }
            for (auto& o : objects) {
                if (o->autoReset_) {
                    o->signalled_ = false;
                }
            }
            *result = WAIT_OBJECT_0;
            return true;
        }
        for (size_t i = 0; i < objects.size(); ++i) {
            if (objects[i]->signalled_) {
                if (objects[i]->autoReset_) {
                    objects[i]->signalled_ = false;
                }
                *result = WAIT_OBJECT_0 + static_cast<DWORD>(i);
                return true;
            }
        }
        return false;
    }
};

namespace {

class EventObject : public Waitable {
  public:
    EventObject(bool manualReset, bool initialState) : Waitable(!manualReset, initialState) {}
};

// TLS: slot generations are odd while allocated; a value stored under an
// older generation reads as null, so a freed and reallocated slot starts
// empty on every thread without visiting the threads.
constexpr DWORD kTlsSlots = 1088;

struct TlsTable {
    std::mutex mutex;
    std::atomic<uint64_t> generation[kTlsSlots] = {};
};

TlsTable& tlsTable() {
    static TlsTable* t = new TlsTable;
    return *t;
}

struct TlsEntry {
    uint64_t generation = 0;
    void* value = nullptr;
};

struct ThreadTls {
    std::vector<TlsEntry> entries;
};

// Raw pointer plus a guard: values stay readable until this thread's
// thread_local destructors reach the guard, and read as null afterwards.
thread_local ThreadTls* tTls = nullptr;
thread_local bool tTlsGone = false;
struct ThreadTlsGuard {
    ~ThreadTlsGuard() {
        delete tTls;
        tTls = nullptr;
        tTlsGone = true;
    }
};

ThreadTls* threadTls() {
    if (tTls == nullptr && !tTlsGone) {
        static thread_local ThreadTlsGuard guard;
        (void)guard;
        tTls = new ThreadTls;
    }
    return tTls;
}

struct DebugState {
    std::atomic<int> override{-1};
    std::mutex mutex;
    std::map<DWORD, std::string> announced;
};

DebugState& debugState() {
    static DebugState* d = new DebugState;
    return *d;
}

constexpr DWORD kThreadNameException = 0x406D1388;

// The record the debugger expects with the thread-name exception.
struct ThreadNameRecord {
    DWORD type;
    const char* name;
    DWORD threadId;
    DWORD flags;
};

}  // namespace

void setDebuggerPresentOverride(int present) {
    debugState().override.store(present);
}

std::string announcedThreadName(DWORD threadId) {
    CriticalScope scope;
    DebugState& d = debugState();
    std::lock_guard<std::mutex> lock(d.mutex);
    auto it = d.announced.find(threadId);
    return it == d.announced.end() ? std::string() : it->second;
}

}  // namespace winplat::kernel

using namespace winplat::kernel;

extern "C" {

DWORD GetLastError() {
    return tLastError;
}

void SetLastError(DWORD error) {
    tLastError = error;
}

BOOL CloseHandle(HANDLE object) {
    CriticalScope scope;  // a platform call is not stopped halfway
    if (object == WINPLAT_PSEUDO_PROCESS || object == WINPLAT_PSEUDO_THREAD) {
        return TRUE;
    }
    if (!closeHandle(object)) {
        tLastError = ERROR_INVALID_HANDLE;
        return FALSE;
    }
    return TRUE;
}

HANDLE GetCurrentProcess() {
    return WINPLAT_PSEUDO_PROCESS;
}

HANDLE GetCurrentThread() {
    return WINPLAT_PSEUDO_THREAD;
}

BOOL DuplicateHandle(HANDLE sourceProcess, HANDLE source, HANDLE targetProcess, LPHANDLE target,
                     DWORD /*desiredAccess*/, BOOL /*inheritHandle*/, DWORD options) {
    CriticalScope scope;  // a platform call is not stopped halfway
    int64_t code = 0;
    if (winplat::inject::take("DuplicateHandle", &code)) {
        tLastError = static_cast<DWORD>(code);
        return FALSE;
    }
    // Handles live in this process only: both process handles must name it.
    const DWORD self = GetCurrentProcessId();
    if (GetProcessId(sourceProcess) != self || GetProcessId(targetProcess) != self) {
        tLastError = ERROR_INVALID_HANDLE;
        return FALSE;
    }
    std::shared_ptr<Object> object = resolveHandle(source);
    if (!object) {
        tLastError = ERROR_INVALID_HANDLE;
        return FALSE;
    }
    BOOL ok = TRUE;
    if (target != nullptr) {
        *target = makeHandle(object);
        ok = *target != nullptr;
    }
    if ((options & DUPLICATE_CLOSE_SOURCE) != 0) {
        CloseHandle(source);
    }
    return ok;
}

HANDLE CreateEventW(LPSECURITY_ATTRIBUTES /*attributes*/, BOOL manualReset, BOOL initialState, LPCWSTR name) {
    CriticalScope scope;  // a platform call is not stopped halfway
    int64_t code = 0;
    if (winplat::inject::take("CreateEventW", &code)) {
        tLastError = static_cast<DWORD>(code);
        return nullptr;
    }
    if (name != nullptr) {
        // Named events are shared between processes; nothing here needs them.
        tLastError = ERROR_NOT_SUPPORTED;
        return nullptr;
    }
    HANDLE h = makeHandle(std::make_shared<EventObject>(manualReset != FALSE, initialState != FALSE));
    if (h != nullptr) {
        tLastError = ERROR_SUCCESS;
    }
    return h;
}

BOOL SetEvent(HANDLE event) {
    CriticalScope scope;  // a platform call is not stopped halfway
    auto e = fromHandleAs<EventObject>(event);
    if (!e) {
        tLastError = ERROR_INVALID_HANDLE;
        return FALSE;
    }
    e->signal();
    return TRUE;
}

BOOL ResetEvent(HANDLE event) {
    CriticalScope scope;  // a platform call is not stopped halfway
    auto e = fromHandleAs<EventObject>(event);
    if (!e) {
        tLastError = ERROR_INVALID_HANDLE;
        return FALSE;
    }
    e->reset();
    return TRUE;
}

DWORD WaitForSingleObject(HANDLE object, DWORD milliseconds) {
    return WaitCore::wait(1, &object, false, milliseconds);
}

DWORD WaitForMultipleObjects(DWORD count, const HANDLE* handles, BOOL waitAll, DWORD milliseconds) {
    {
        CriticalScope scope;  // left before the wait, which must not hold one
        int64_t code = 0;
        if (winplat::inject::take("WaitForMultipleObjects", &code)) {
            tLastError = static_cast<DWORD>(code);
            return WAIT_FAILED;
        }
    }
    return WaitCore::wait(count, handles, waitAll != FALSE, milliseconds);
}

// Critical sections: a futex lock word (held / held with waiters) plus the
// owner and its recursion count. A thread waiting for the lock waits on the
// futex, where a suspend can stop it (a suspender may well hold the lock).
void InitializeCriticalSection(LPCRITICAL_SECTION section) {
    *section = CRITICAL_SECTION{0, 0, 0, 0};
}

BOOL InitializeCriticalSectionAndSpinCount(LPCRITICAL_SECTION section, DWORD spinCount) {
    InitializeCriticalSection(section);
    section->SpinCount = spinCount;
    return TRUE;
}

void DeleteCriticalSection(LPCRITICAL_SECTION section) {
    *section = CRITICAL_SECTION{0, 0, 0, 0};
}

void EnterCriticalSection(LPCRITICAL_SECTION section) {
    const DWORD self = GetCurrentThreadId();
    if (__atomic_load_n(&section->OwningThread, __ATOMIC_RELAXED) == self) {
        ++section->RecursionCount;
        return;
    }
    auto* word = reinterpret_cast<std::atomic<uint32_t>*>(&section->LockCount);
    uint32_t c = 0;
    if (!word->compare_exchange_strong(c, 1, std::memory_order_acquire)) {
        if (c != 2) {
            c = word->exchange(2, std::memory_order_acquire);
        }
        while (c != 0) {
            futexWaitSuspendable(word, 2);
            c = word->exchange(2, std::memory_order_acquire);
        }
    }
    __atomic_store_n(&section->OwningThread, self, __ATOMIC_RELAXED);
    section->RecursionCount = 1;
}

BOOL TryEnterCriticalSection(LPCRITICAL_SECTION section) {
    const DWORD self = GetCurrentThreadId();
    if (__atomic_load_n(&section->OwningThread, __ATOMIC_RELAXED) == self) {
        ++section->RecursionCount;
        return TRUE;
    }
    auto* word = reinterpret_cast<std::atomic<uint32_t>*>(&section->LockCount);
    uint32_t c = 0;
    if (!word->compare_exchange_strong(c, 1, std::memory_order_acquire)) {
        return FALSE;
    }
    __atomic_store_n(&section->OwningThread, self, __ATOMIC_RELAXED);
    section->RecursionCount = 1;
    return TRUE;
}

void LeaveCriticalSection(LPCRITICAL_SECTION section) {
    if (--section->RecursionCount > 0) {
        return;
    }
    __atomic_store_n(&section->OwningThread, DWORD{0}, __ATOMIC_RELAXED);
    auto* word = reinterpret_cast<std::atomic<uint32_t>*>(&section->LockCount);
    if (word->fetch_sub(1, std::memory_order_release) != 1) {
        word->store(0, std::memory_order_release);
        syscall(SYS_futex, reinterpret_cast<uint32_t*>(word), FUTEX_WAKE_PRIVATE, 1, nullptr, nullptr, 0);
    }
}

void Sleep(DWORD milliseconds) {
    if (milliseconds == 0) {
        sched_yield();
        return;
    }
    if (milliseconds == INFINITE) {
        for (;;) {
            pause();
        }
    }
    timespec ts{static_cast<time_t>(milliseconds / 1000), static_cast<long>(milliseconds % 1000) * 1000000L};
    while (nanosleep(&ts, &ts) != 0 && errno == EINTR) {
    }
}

DWORD TlsAlloc() {
    CriticalScope scope;  // a platform call is not stopped halfway
    int64_t code = 0;
    if (winplat::inject::take("TlsAlloc", &code)) {
        tLastError = static_cast<DWORD>(code);
        return TLS_OUT_OF_INDEXES;
    }
    TlsTable& t = tlsTable();
    std::lock_guard<std::mutex> lock(t.mutex);
    for (DWORD i = 0; i < kTlsSlots; ++i) {
        const uint64_t g = t.generation[i].load(std::memory_order_relaxed);
        if ((g & 1) == 0) {
            t.generation[i].store(g + 1, std::memory_order_release);
            return i;
        }
    }
    tLastError = ERROR_NO_MORE_ITEMS;
    return TLS_OUT_OF_INDEXES;
}

BOOL TlsFree(DWORD index) {
    CriticalScope scope;  // a platform call is not stopped halfway
    TlsTable& t = tlsTable();
    std::lock_guard<std::mutex> lock(t.mutex);
    if (index >= kTlsSlots || (t.generation[index].load(std::memory_order_relaxed) & 1) == 0) {
        tLastError = ERROR_INVALID_PARAMETER;
        return FALSE;
    }
    t.generation[index].fetch_add(1, std::memory_order_release);
    return TRUE;
}

LPVOID TlsGetValue(DWORD index) {
    CriticalScope scope;  // a platform call is not stopped halfway
    if (index >= kTlsSlots) {
        tLastError = ERROR_INVALID_PARAMETER;
        return nullptr;
    }
    const uint64_t g = tlsTable().generation[index].load(std::memory_order_acquire);
    if ((g & 1) == 0) {
        tLastError = ERROR_INVALID_PARAMETER;
        return nullptr;
    }
    // Success clears the last error, so a stored null can be told apart.
    tLastError = ERROR_SUCCESS;
    ThreadTls* tls = threadTls();
    if (tls == nullptr || index >= tls->entries.size() || tls->entries[index].generation != g) {
        return nullptr;
    }
    return tls->entries[index].value;
}

BOOL TlsSetValue(DWORD index, LPVOID value) {
    CriticalScope scope;  // a platform call is not stopped halfway
    if (index >= kTlsSlots) {
        tLastError = ERROR_INVALID_PARAMETER;
        return FALSE;
    }
    const uint64_t g = tlsTable().generation[index].load(std::memory_order_acquire);
    if ((g & 1) == 0) {
        tLastError = ERROR_INVALID_PARAMETER;
        return FALSE;
    }
    ThreadTls* tls = threadTls();
    if (tls == nullptr) {
        return TRUE;  // the thread is past its TLS teardown
    }
    if (index >= tls->entries.size()) {
        tls->entries.resize(index + 1);
    }
    tls->entries[index] = TlsEntry{g, value};
    return TRUE;
}

BOOL IsDebuggerPresent() {
    CriticalScope scope;  // a platform call is not stopped halfway
    const int forced = debugState().override.load();
    if (forced >= 0) {
        return forced != 0 ? TRUE : FALSE;
    }
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind("TracerPid:", 0) == 0) {
            return std::strtol(line.c_str() + 10, nullptr, 10) != 0 ? TRUE : FALSE;
        }
    }
    return FALSE;
}

void RaiseException(DWORD code, DWORD flags, DWORD argumentCount, const ULONG_PTR* arguments) {
    CriticalScope scope;  // a platform call is not stopped halfway
    if (code != kThreadNameException) {
        std::fprintf(stderr,
                     "RaiseException: exception 0x%08X (flags 0x%X) is not supported on this platform; "
                     "stopping the process\n",
                     code, flags);
        std::fflush(stderr);
        std::abort();
    }
    if (arguments == nullptr || argumentCount > EXCEPTION_MAXIMUM_PARAMETERS ||
        argumentCount * sizeof(ULONG_PTR) < sizeof(ThreadNameRecord)) {
        return;  // not a name record: a debugger would ignore it too
    }
    ThreadNameRecord record;
    std::memcpy(&record, arguments, sizeof record);
    if (record.type != 0x1000 || record.name == nullptr) {
        return;
    }
    const DWORD id = record.threadId == 0xFFFFFFFFu ? GetCurrentThreadId() : record.threadId;
    {
        DebugState& d = debugState();
        std::lock_guard<std::mutex> lock(d.mutex);
        d.announced[id] = record.name;
    }
    nameThreadById(id, record.name);
}

DWORD GetCurrentProcessId() {
    return static_cast<DWORD>(getpid());
}

BOOL DisableThreadLibraryCalls(HMODULE /*module*/) {
    return TRUE;
}

}  // extern "C"
