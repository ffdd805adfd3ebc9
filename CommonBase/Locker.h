// A critical section owned by one object (not shared, not reference-counted).
// Its owners enter and leave the section directly around their critical code.
#pragma once

#include "winplat/windows.h"

namespace Utilities {

class Locker {
  public:
    Locker() { InitializeCriticalSection(&section_); }
    virtual ~Locker() { DeleteCriticalSection(&section_); }
    Locker(const Locker&) = delete;
    Locker& operator=(const Locker&) = delete;

    CRITICAL_SECTION* section() { return &section_; }
    void enter() { EnterCriticalSection(&section_); }
    void leave() { LeaveCriticalSection(&section_); }

  private:
    CRITICAL_SECTION section_;
};

}  // namespace Utilities
