#include "BackendWrappers/OutOfThreadCaller.h"

#include <boost/weak_ptr.hpp>

#include <new>

#include "CommonBase/HResultException.h"

namespace BackendWrappers {

namespace {

// The failure a call left behind: its last error as an HRESULT, or
// E_FAIL when it left none.
HRESULT lastFailure() {
    DWORD error = ::GetLastError();
    return error == 0 ? E_FAIL : HRESULT_FROM_WIN32(error);
}

}  // namespace

HRESULT detail::invokeGuarded(ICallee* callee) {
    try {
        return hresultOf([callee] { return callee->invoke(); });
    } catch (...) {
        return E_UNEXPECTED;
    }
}

// --- CallingThread -----------------------------------------------------------

CallingThread::CallingThread() : Thread(false, std::string()) {
    if (!getTerminationEvent()) {
        startResult_ = lastFailure();
        return;
    }
    request_ = CreateEventW(nullptr, FALSE, FALSE, nullptr);
    done_ = request_ ? CreateEventW(nullptr, FALSE, FALSE, nullptr) : nullptr;
    ready_ = done_ ? CreateEventW(nullptr, FALSE, FALSE, nullptr) : nullptr;
    if (!ready_) {
        startResult_ = lastFailure();
        return;
    }
    if (!run()) {
        startResult_ = lastFailure();
        return;
    }
    // The thread writes startResult_ before it signals.
    WaitForSingleObject(ready_, INFINITE);
}

CallingThread::~CallingThread() {
    shutDown();
    for (HANDLE event : {request_, done_, ready_}) {
        if (event) {
            CloseHandle(event);
        }
    }
}

void CallingThread::threadBody() {
    bool entered = false;
    HRESULT hr = build::CallingThreadRuntime::enter(&entered);
    if (FAILED(hr)) {
        startResult_ = hr;
        SetEvent(ready_);
        return;
    }
    SetEvent(ready_);
    const HANDLE events[2] = {getTerminationEvent(), request_};
    for (;;) {
        DWORD woken = WaitForMultipleObjects(2, events, FALSE, INFINITE);
        if (woken == WAIT_OBJECT_0 + 1) {
            result_ = detail::invokeGuarded(callee_);
            served_ = true;
            if constexpr (build::CheckPostedCallee) {
                callee_ = nullptr;
            }
            SetEvent(done_);
        } else if (woken != WAIT_OBJECT_0) {
            // The wait itself failed: nothing more can be handed over. Later
            // posts are answered at once; one that came in before the mark
            // waits on the done event, which wakes it unserved.
            endedWith_ = lastFailure();
            SetEvent(done_);
            break;
        }
        if (isTerminated()) {
            break;
        }
    }
    if (entered) {
        build::CallingThreadRuntime::leave();
    }
}

HRESULT CallingThread::post(ICallee* callee) {
    if (startResult_ != 0) {
        return startResult_;
    }
    if (HRESULT ended = endedWith_; ended != 0) {
        return ended;
    }
    if (build::CheckPostedCallee && callee_) {
        return HRESULT_FROM_WIN32(ERROR_BUSY);
    }
    callee_ = callee;
    served_ = false;
    SetEvent(request_);
    WaitForSingleObject(done_, INFINITE);
    return served_ ? result_ : endedWith_.load();
}

// --- CallingThreadPool -------------------------------------------------------

CallingThreadPool::~CallingThreadPool() {
    // Front to back, each thread shut down and waited for.
    while (!threads_.empty()) {
        threads_.pop_front();
    }
}

CallingThreadPool::Position CallingThreadPool::acquireThread() {
    {
        build::PoolLockGuard guard(lock_);
        for (Position it = threads_.begin(); it != threads_.end(); ++it) {
            if ((*it)->idle) {
                (*it)->idle = false;
                return it;
            }
        }
    }
    // A new thread is made outside the lock: its constructor waits for the
    // thread to enter its apartment.
    boost::shared_ptr<CallingThread> thread(new CallingThread);
    if (HRESULT hr = thread->startResult(); hr != 0) {
        raiseHResult(hr, 2, build::PoolFile, build::PoolStartLine, build::PoolStartFunction,
                     build::PoolStartDetail);
    }
    thread->idle = false;
    build::PoolLockGuard guard(lock_);
    if constexpr (build::NewThreadsAtFront) {
        return threads_.insert(threads_.begin(), thread);
    } else {
        return threads_.insert(threads_.end(), thread);
    }
}

void CallingThreadPool::releaseThread(Position position) {
    build::PoolLockGuard guard(lock_);
    (*position)->idle = true;
}

size_t CallingThreadPool::size() {
    build::PoolLockGuard guard(lock_);
    return threads_.size();
}

HRESULT CallingThreadPool::execute(ICallee* callee) {
    try {
        return hresultOf([&] {
            Position position = acquireThread();
            struct Release {
                CallingThreadPool* pool;
                Position position;
                ~Release() { pool->releaseThread(position); }
            } release{this, position};
            if (build::CheckPostedCallee && !callee) {
                return E_INVALIDARG;
            }
            return (*position)->post(callee);
        });
    } catch (...) {
        return E_UNEXPECTED;
    }
}

// --- OutOfThreadCaller -------------------------------------------------------

namespace {

struct InstanceState {
    CLock lock{true};
    boost::shared_ptr<OutOfThreadCaller> seed;
    boost::weak_ptr<OutOfThreadCaller> current;
    bool seeded = false;
};

InstanceState& instanceState() {
    static InstanceState state;
    return state;
}

}  // namespace

boost::shared_ptr<OutOfThreadCaller> OutOfThreadCaller::instance() {
    InstanceState& state = instanceState();
    // One lock around the weak reference: reading it while another thread
    // points it at a new instance would be a race.
    CLockGuard guard(state.lock);
    if (!state.seeded) {
        state.seed.reset(new OutOfThreadCaller);
        state.current = state.seed;
        state.seeded = true;
    }
    boost::shared_ptr<OutOfThreadCaller> result = state.current.lock();
    if (!result) {
        result.reset(new OutOfThreadCaller);
        state.current = result;
    }
    if constexpr (!build::InstanceLivesUntilExit) {
        state.seed.reset();
    }
    return result;
}

HRESULT OutOfThreadCaller::call(bool direct, BoundCall function) {
    if (direct) {
        try {
            return hresultOf([&] { return function(); });
        } catch (...) {
            return E_UNEXPECTED;
        }
    }
    detail::Callee callee(&function);
    return pool_.execute(&callee);
}

// --- Crasher -----------------------------------------------------------------

Crasher::~Crasher() {
    HANDLE handle = getHandle();
    if (handle) {
        CloseHandle(handle);
        setTerminated(true);
        waitFor();
    }
}

void runInCrasherThread(void (*action)()) {
    Crasher crasher(action);
    crasher.run();
    crasher.waitFor();
}

}  // namespace BackendWrappers
