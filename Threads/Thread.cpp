#include "Threads/Thread.h"

#include <cxxabi.h>

#include <atomic>
#include <cstdlib>
#include <typeinfo>

#include "winplat/console.h"

#if defined(FIBREX_BUILD)
#include "Threads/ThreadLocalStorageHelper.h"
#endif

namespace {

[[noreturn]] void stopProcess(const char* message) {
    winplat::console::writeErrNarrow(message);
    std::abort();
}

void misuseWaitOnItself() {
    stopProcess("Thread misuse: waitFor or shutDown called on the thread itself\n");
}

void misuseForeignDelete() {
    stopProcess("Thread misuse: a started free-on-terminate thread destroyed from another thread\n");
}

void misuseDeleteUnfinished() {
    stopProcess("Thread misuse: thread object destroyed before its thread finished\n");
}

#if !defined(FIBREX_BUILD)
std::atomic<ThreadMisuseRunner> misuseRunner{nullptr};
#endif

// The record the debugger reads from the thread-name exception.
struct ThreadNameInfo {
    DWORD type;
    LPCSTR name;
    DWORD threadId;
    DWORD flags;
};

constexpr DWORD kThreadNameException = 0x406D1388;

}  // namespace

#if !defined(FIBREX_BUILD)
ThreadMisuseRunner setThreadMisuseRunner(ThreadMisuseRunner runner) {
    return misuseRunner.exchange(runner);
}
#endif

Thread::Thread(bool freeOnTerminate, const std::string& name)
    : lock_(new CLock(true)),
      freeOnTerminate_(freeOnTerminate),
      terminationEvent_(CreateEventW(nullptr, TRUE, FALSE, nullptr)),
      name_(name) {}

Thread::~Thread() {
    const bool onItself = id_ != 0 && GetCurrentThreadId() == id_;
    bool freeOnTerminate;
    bool started;
    bool finished;
    {
        // The thread procedure signals the final events under this lock, so an
        // owner woken by one waits here until the procedure has let go of it.
        CLockGuard guard(lock_);
        freeOnTerminate = freeOnTerminate_;
        started = started_;
        finished = finished_;
    }
    if (freeOnTerminate && started && !onItself) {
        misuse(misuseForeignDelete);
    }
    if (handle_ && !finished) {
        misuse(misuseDeleteUnfinished);
    }
    if (handle_) {
        CloseHandle(handle_);
        handle_ = nullptr;
    }
    if (terminationEvent_) {
        CloseHandle(terminationEvent_);
    }
    for (HANDLE event : finalEvents_) {
        CloseHandle(event);
    }
    delete lock_;
}

void Thread::setTerminated(bool terminated) {
    CLockGuard guard(lock_);
    if (suspended_) {
        return;
    }
    terminated_ = terminated;
    if (terminated) {
        SetEvent(terminationEvent_);
    } else {
        ResetEvent(terminationEvent_);
    }
}

bool Thread::create() {
    if (handle_) {
        return false;
    }
    handle_ = reinterpret_cast<HANDLE>(
        _beginthreadex(nullptr, 0, &Thread::threadProc, this, CREATE_SUSPENDED, &id_));
    return handle_ != nullptr;
}

bool Thread::run() {
    int priority;
    {
        CLockGuard guard(lock_);
        if (started_) {
            return false;
        }
        priority = priority_;
    }
    if (!handle_) {
        create();
        if (!handle_) {
            return false;
        }
    }
    SetThreadPriority(handle_, priority);
    CLockGuard guard(lock_);
    started_ = true;
    resume();
    return true;
}

void Thread::suspend() {
    CLockGuard guard(lock_);
    if (started_ && !terminated_) {
        SuspendThread(handle_);
        suspended_ = true;
    }
}

void Thread::resume() {
    CLockGuard guard(lock_);
    if (started_ && !terminated_) {
        ResumeThread(handle_);
        suspended_ = false;
    }
}

void Thread::setSuspended(bool suspended) {
    CLockGuard guard(lock_);
    if (suspended) {
        suspend();
    } else {
        resume();
    }
}

bool Thread::isSuspended() const {
    CLockGuard guard(lock_);
    return suspended_;
}

bool Thread::isTerminated() const {
    CLockGuard guard(lock_);
    return terminated_;
}

bool Thread::isFreeOnTerminate() const {
    CLockGuard guard(lock_);
    return freeOnTerminate_;
}

unsigned Thread::getThreadResult() const {
    CLockGuard guard(lock_);
    return threadResult_;
}

void Thread::setFreeOnTerminate(bool freeOnTerminate) {
    CLockGuard guard(lock_);
    freeOnTerminate_ = freeOnTerminate;
}

int Thread::getPriority() const {
    CLockGuard guard(lock_);
    return handle_ ? GetThreadPriority(handle_) : priority_;
}

void Thread::setPriority(int priority) {
    CLockGuard guard(lock_);
    priority_ = priority;
    if (handle_) {
        SetThreadPriority(handle_, priority);
    }
}

unsigned Thread::getId() const {
    return id_;
}

HANDLE Thread::getHandle() const {
    return handle_ ? duplicateHandle(handle_) : nullptr;
}

HANDLE Thread::duplicateHandle(HANDLE handle) {
    HANDLE duplicate = nullptr;
    if (!DuplicateHandle(GetCurrentProcess(), handle, GetCurrentProcess(), &duplicate, 0, FALSE,
                         DUPLICATE_SAME_ACCESS)) {
        return nullptr;
    }
    return duplicate;
}

HANDLE Thread::registerFinalEvent() {
    CLockGuard guard(lock_);
    HANDLE event = CreateEventW(nullptr, FALSE, FALSE, nullptr);
    if (!event) {
        return nullptr;
    }
    try {
        finalEvents_.push_back(event);
    } catch (...) {
        CloseHandle(event);
        throw;
    }
    return duplicateHandle(event);
}

void Thread::waitFor() {
    if (!handle_) {
        return;
    }
    if (GetCurrentThreadId() == id_) {
        misuse(misuseWaitOnItself);
    }
    WaitForSingleObject(handle_, INFINITE);
}

void Thread::shutDown() {
    if (!handle_) {
        return;
    }
    if (GetCurrentThreadId() == id_) {
        misuse(misuseWaitOnItself);
    }
    setTerminated(true);
    WaitForSingleObject(handle_, INFINITE);
}

HANDLE Thread::getTerminationEvent() const {
    return terminationEvent_;
}

const CLock* Thread::getLock() const {
    return lock_;
}

void Thread::setThreadResult(unsigned result) {
    CLockGuard guard(lock_);
    threadResult_ = result;
}

unsigned Thread::threadProc(void* argument) {
    if (!argument) {
        return 0;
    }
    Thread* self = static_cast<Thread*>(argument);
    // A handle of our own on the object's lock record: once the final events
    // are out, an owner may delete the object (and its CLock) while this
    // thread is still leaving the critical section.
    const CLock lock(*self->lock_);
    self->nameThreadForDebugger();
#if defined(FIBREX_BUILD)
    threadLocalStorageHelper().fillMyThread();
#endif
    self->threadBody();
    unsigned result;
    bool freeOnTerminate;
    self->markFinished(lock, result, freeOnTerminate);
    // From here on the object may be gone, unless it is ours to delete.
    if (freeOnTerminate) {
        delete self;
    }
    return result;
}

void Thread::markFinished(const CLock& lock, unsigned& result, bool& freeOnTerminate) {
    CLockGuard guard(lock);
    finished_ = true;
    result = threadResult_;
    freeOnTerminate = freeOnTerminate_;
    for (HANDLE event : finalEvents_) {
        SetEvent(event);
    }
}

void Thread::nameThreadForDebugger() {
    if (!IsDebuggerPresent()) {
        return;
    }
    std::string name = name_;
    if (name.empty()) {
        // The class name as the debugger shows it: "class Namespace::Name<Args>",
        // cut after its last blank or colon.
        const char* mangled = typeid(*this).name();
        int status = 0;
        char* demangled = abi::__cxa_demangle(mangled, nullptr, nullptr, &status);
        std::string typeName = std::string("class ") + (demangled ? demangled : mangled);
        std::free(demangled);
        const std::string::size_type cut = typeName.find_last_of(" :");
        name = cut == std::string::npos ? typeName : typeName.substr(cut + 1);
    }
    setDebuggerThreadName(name.c_str());
}

void Thread::setDebuggerThreadName(const char* name) {
    const ThreadNameInfo info{0x1000, name, 0xFFFFFFFF, 0};
    RaiseException(kThreadNameException, 0, sizeof(info) / sizeof(ULONG_PTR),
                   reinterpret_cast<const ULONG_PTR*>(&info));
}

void Thread::misuse(void (*action)()) {
#if !defined(FIBREX_BUILD)
    if (ThreadMisuseRunner runner = misuseRunner.load()) {
        runner(action);
    } else {
        action();
    }
#else
    action();
#endif
    std::abort();
}
