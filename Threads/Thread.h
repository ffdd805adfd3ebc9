// Thread: base class of the worker threads. A subclass supplies the work in
// threadBody; this class owns the operating-system thread around it.
#pragma once

#include <string>
#include <vector>

#include "winplat/windows.h"
#include "Threads/CLock.h"

// The library build exports its classes; the linker's version script then
// keeps exactly the published members.
#if defined(FIBREX_BUILD)
#define FIBREX_API __attribute__((visibility("default")))
#else
#define FIBREX_API
#endif

class FIBREX_API Thread {
  public:
    explicit Thread(bool freeOnTerminate = true, const std::string& name = std::string());
    virtual ~Thread();

    // While the thread is suspended (before run too) this changes nothing.
    virtual void setTerminated(bool terminated);

    bool create();
    bool run();
    void suspend();
    void resume();
    void setSuspended(bool suspended);

    bool isSuspended() const;
    bool isTerminated() const;
    bool isFreeOnTerminate() const;
    unsigned getThreadResult() const;
    void setFreeOnTerminate(bool freeOnTerminate);

    int getPriority() const;
    void setPriority(int priority);

    unsigned getId() const;
    // A duplicate of the thread handle, closed by the caller; null without a thread.
    HANDLE getHandle() const;
    static HANDLE duplicateHandle(HANDLE handle);

    // A new auto-reset event, signalled once when the body has returned. The
    // caller owns and closes the returned duplicate.
    HANDLE registerFinalEvent();

    void waitFor();

    Thread(const Thread&) = delete;
    Thread& operator=(const Thread&) = delete;

  protected:
    virtual void threadBody() = 0;

    void shutDown();
    HANDLE getTerminationEvent() const;
    const CLock* getLock() const;
    void setThreadResult(unsigned result);

  private:
    static unsigned threadProc(void* argument);
    void markFinished(const CLock& lock, unsigned& result, bool& freeOnTerminate);
    void nameThreadForDebugger();
    static void setDebuggerThreadName(const char* name);
    [[noreturn]] static void misuse(void (*action)());

    CLock* lock_;
    bool terminated_ = false;
    bool freeOnTerminate_;
    bool suspended_ = true;
    bool started_ = false;
    unsigned threadResult_ = 0;
    std::vector<HANDLE> finalEvents_;
    HANDLE handle_ = nullptr;
    unsigned id_ = 0;
    int priority_ = THREAD_PRIORITY_NORMAL;
    HANDLE terminationEvent_;
    std::string name_;
    bool finished_ = false;
};

#if !defined(FIBREX_BUILD)
// Tool build only: how a detected misuse of a Thread (waitFor or shutDown on
// the thread itself, destroying a started free-on-terminate object from
// another thread, destroying an object whose thread has not finished) is acted
// on. The misuse action writes a message naming the condition to standard
// error and stops the process. The runner is given that action and is meant
// to run it on a thread of its own while the detecting thread waits for that
// thread. Without a runner (the default, and after installing null) the
// action runs on the detecting thread itself. Should a runner return, the
// process is stopped all the same: going on would wait for ever or free a
// running thread's object.
using ThreadMisuseAction = void (*)();
using ThreadMisuseRunner = void (*)(ThreadMisuseAction action);
// Installs `runner` and returns the one it replaces. Safe from any thread.
ThreadMisuseRunner setThreadMisuseRunner(ThreadMisuseRunner runner);
#endif
