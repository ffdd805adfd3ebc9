// A recursive mutex over one critical section. Besides lock, tryLock and
// unlock it has the entry points of a lock with several modes (shared,
// exclusive, upgradable); every mode is exclusive here, and each of them
// forwards through the virtual table, so an override of lock, tryLock or
// unlock changes them too.
#pragma once

#include "winplat/windows.h"

namespace tavlo::tiny {

class XMutex {
  public:
    // Throws std::runtime_error("Insufficient memory exists to initialize the
    // mutex.") when the critical section cannot be set up.
    XMutex();
    virtual ~XMutex();
    XMutex(const XMutex&) = delete;
    XMutex& operator=(const XMutex&) = delete;

    virtual void lock();
    virtual bool tryLock();
    virtual void unlock();
    virtual void lockShared() { lock(); }
    virtual void lockUpgradable() { lock(); }
    virtual bool tryLockShared() { return tryLock(); }
    virtual bool tryLockUpgradable() { return tryLock(); }
    virtual void lockUpgrade() { lock(); }
    virtual void unlockShared() { unlock(); }

  private:
    CRITICAL_SECTION section_;
};

// Holds an XMutex for a scope.
class XMutexGuard {
  public:
    explicit XMutexGuard(XMutex& mutex) : mutex_(mutex) { mutex_.lock(); }
    ~XMutexGuard() { mutex_.unlock(); }
    XMutexGuard(const XMutexGuard&) = delete;
    XMutexGuard& operator=(const XMutexGuard&) = delete;

  private:
    XMutex& mutex_;
};

}  // namespace tavlo::tiny
