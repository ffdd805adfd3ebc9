// Helpers shared by the thread tests of the tool build and the library build.
#pragma once

#include <atomic>
#include <chrono>
#include <functional>
#include <thread>

#include "winplat/windows.h"
#include "Threads/Thread.h"

namespace thread_test {

// Every wait of the tests is bounded: a hang is a failure, not a stuck run.
constexpr DWORD kWaitMs = 20000;

inline bool eventually(const std::function<bool()>& condition) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(kWaitMs);
    while (!condition()) {
        if (std::chrono::steady_clock::now() > deadline) {
            return false;
        }
        std::this_thread::yield();
    }
    return true;
}

inline bool signalled(HANDLE handle, DWORD ms = kWaitMs) {
    return WaitForSingleObject(handle, ms) == WAIT_OBJECT_0;
}

// A thread whose body the test supplies; it exposes the protected members.
class LambdaThread : public Thread {
  public:
    explicit LambdaThread(std::function<void(LambdaThread&)> body, bool freeOnTerminate = false,
                          const std::string& name = std::string())
        : Thread(freeOnTerminate, name), body_(std::move(body)) {}

    using Thread::getLock;
    using Thread::getTerminationEvent;
    using Thread::setThreadResult;
    using Thread::shutDown;

  protected:
    void threadBody() override { body_(*this); }

  private:
    std::function<void(LambdaThread&)> body_;
};

// Runs `thread` to its end and waits for it; false when it did not end in time.
inline bool runToEnd(Thread& thread) {
    if (!thread.run()) {
        return false;
    }
    HANDLE handle = thread.getHandle();
    const bool ended = signalled(handle);
    CloseHandle(handle);
    return ended;
}

}  // namespace thread_test
