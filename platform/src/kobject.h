// Kernel objects behind HANDLEs: every winplat source that hands out a handle
// (events, threads, processes, files, ...) derives its object from
// `winplat::kernel::Object` and turns it into a handle with `makeHandle`.
// CloseHandle and DuplicateHandle then work for every kind; the object lives
// while any handle (or any shared_ptr taken from one) refers to it.
#pragma once

#include <memory>
#include <vector>

#include "winplat/kernel.h"

namespace winplat::kernel {

class Waiter;

class Object {
  public:
    Object() = default;
    Object(const Object&) = delete;
    Object& operator=(const Object&) = delete;
    virtual ~Object();
};

// An object a wait can join. Its signal state is guarded by the one wait lock
// of the process, so a wait on several objects sees them all at one instant
// (wait-all is atomic). An auto-reset object gives its signal to exactly one
// satisfied wait.
class Waitable : public Object {
  public:
    explicit Waitable(bool autoReset = false, bool signalled = false)
        : autoReset_(autoReset), signalled_(signalled) {}
    ~Waitable() override;

    void signal();
    void reset();
    bool isSignalled() const;

    // Called before a wait first tests the object, outside the wait lock: a
    // chance to bring the signal state up to date (a process that has ended).
    virtual void refresh() {}

  private:
    friend struct WaitCore;
    bool autoReset_;
    bool signalled_;
    std::vector<Waiter*> waiters_;  // waits blocked on this object
};

// New handle to `object`; nullptr (last error ERROR_NOT_ENOUGH_MEMORY) when
// the table is full.
HANDLE makeHandle(std::shared_ptr<Object> object);
// The object behind `handle`, or nullptr (last error untouched) when the
// handle is not open. Pseudo handles are not resolved here.
std::shared_ptr<Object> fromHandle(HANDLE handle);

// Typed look-up: nullptr when the handle is not open or of another kind.
template <class T>
std::shared_ptr<T> fromHandleAs(HANDLE handle) {
    return std::dynamic_pointer_cast<T>(fromHandle(handle));
}

// Closes `handle`; false when it was not open. The object is released after
// the table lock is dropped, so its destructor may close handles itself.
bool closeHandle(HANDLE handle);

}  // namespace winplat::kernel
