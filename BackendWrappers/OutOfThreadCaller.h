// The call layer: runs a bound backend call either in place or on a calling
// thread of its own pool, and hands the HRESULT back to the caller, who waits.
//
// Calling threads are made on demand, each with what the build has it enter
// first (a COM apartment of its own, or the MAPI runtime), and kept until the
// pool ends. The pool belongs to the one process-wide OutOfThreadCaller,
// which lives while some holder keeps a shared reference to it and is made
// anew afterwards, or (as the build says) is kept until the process ends.
//
// Nothing thrown leaves a call: a raised HResultException gives its HRESULT,
// a failed allocation E_OUTOFMEMORY, anything else E_UNEXPECTED; the calling
// thread stays usable. A thread that cannot start (no event, no thread, no
// apartment) is never handed out: its failure is the call's result.
//
// Lock order: the pool's lock is held only to pick or mark a thread, never
// while a call runs or while waiting for another thread.
#pragma once

#include <boost/function.hpp>
#include <boost/shared_ptr.hpp>

#include <atomic>
#include <list>

#include "Threads/Thread.h"
#include "WrapperBuild.h"
#include "winplat/windows.h"

namespace BackendWrappers {

// The bound function every wrapper call is made of.
typedef boost::function<HRESULT()> BoundCall;

class ICallee {
  public:
    virtual HRESULT invoke() = 0;

  protected:
    ~ICallee() = default;
};

namespace detail {

// A posted call: refers to the bound function in the poster's frame.
class Callee : public ICallee {
  public:
    explicit Callee(const BoundCall* function) : function_(function) {}
    HRESULT invoke() override { return (*function_)(); }

  private:
    const BoundCall* function_;
};

// Runs the callee where nothing thrown may leave.
HRESULT invokeGuarded(ICallee* callee);

}  // namespace detail

class CallingThread : public Thread {
  public:
    // Starts the thread and waits until it has entered what the build has it
    // enter (or failed to); startResult() then holds the outcome.
    CallingThread();
    ~CallingThread() override;

    // Runs one callee on this thread and waits for its result. A thread that
    // could not start, or whose wait for calls failed, returns that failure
    // at once.
    HRESULT post(ICallee* callee);

    // 0 when the thread runs its loop; otherwise why it could not start.
    HRESULT startResult() const { return startResult_; }

    bool idle = true;  // guarded by the pool's lock

  protected:
    void threadBody() override;

  private:
    // Tests hold the thread between calls and see when a post has signalled.
    friend struct CallingThreadTestAccess;

    ICallee* callee_ = nullptr;  // written by the poster, cleared here when the build checks it
    HANDLE request_ = nullptr;
    HANDLE done_ = nullptr;
    HANDLE ready_ = nullptr;
    HRESULT result_ = 0;                 // handed over by the done event
    bool served_ = false;                // the callee ran: result_ is its result; handed over likewise
    HRESULT startResult_ = 0;            // written before the ready signal
    std::atomic<HRESULT> endedWith_{0};  // why the loop ended early; 0 while it runs
};

class CallingThreadPool {
  public:
    typedef std::list<boost::shared_ptr<CallingThread>> Threads;
    typedef Threads::iterator Position;

    CallingThreadPool() = default;
    virtual ~CallingThreadPool();

    // An idle thread, marked busy; raises when a new one cannot start.
    Position acquireThread();
    void releaseThread(Position position);
    // Runs the callee on an acquired thread; never throws.
    HRESULT execute(ICallee* callee);

    // How many calling threads the pool holds.
    size_t size();

    CallingThreadPool(const CallingThreadPool&) = delete;
    CallingThreadPool& operator=(const CallingThreadPool&) = delete;

  private:
    Threads threads_;  // guarded by lock_; never shrinks while the pool lives
    build::PoolLock lock_;
};

class OutOfThreadCaller {
  public:
    OutOfThreadCaller() = default;
    virtual ~OutOfThreadCaller() = default;

    // The process-wide instance; never empty.
    static boost::shared_ptr<OutOfThreadCaller> instance();

    // Runs `function` in place (direct) or on a calling thread; never throws.
    HRESULT call(bool direct, BoundCall function);

    CallingThreadPool& pool() { return pool_; }

  private:
    CallingThreadPool pool_;
};

// Runs `action` on a thread of its own and waits for that thread: the misuse
// action of the tools' Thread build runs here.
void runInCrasherThread(void (*action)());

class Crasher : public Thread {
  public:
    explicit Crasher(void (*function)()) : Thread(false, std::string()), function_(function) {}
    ~Crasher() override;

  protected:
    void threadBody() override { function_(); }

  private:
    void (*function_)();
};

}  // namespace BackendWrappers
