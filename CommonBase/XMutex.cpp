#include "CommonBase/XMutex.h"

#include <stdexcept>

#include "winplat/inject.h"

namespace tavlo::tiny {

XMutex::XMutex() {
    // Setting up a critical section fails only for want of memory, which the
    // system raises as STATUS_NO_MEMORY; this platform has no structured
    // exceptions, so the failure hook of this constructor stands in for it.
    int64_t code = 0;
    if (winplat::inject::take("XMutex::XMutex", &code) && static_cast<uint32_t>(code) == 0xC0000017u)
        throw std::runtime_error("Insufficient memory exists to initialize the mutex.");
    InitializeCriticalSection(&section_);
}

XMutex::~XMutex() {
    DeleteCriticalSection(&section_);
}

void XMutex::lock() {
    EnterCriticalSection(&section_);
}

bool XMutex::tryLock() {
    return TryEnterCriticalSection(&section_) != FALSE;
}

void XMutex::unlock() {
    LeaveCriticalSection(&section_);
}

}  // namespace tavlo::tiny
