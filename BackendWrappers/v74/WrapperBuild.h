// What the 7.4 build of the wrapper layer fixes that another build of the same
// sources may fix otherwise: raise texts and lines, what a calling thread
// enters, where new calling threads go, how long the call layer lives, the
// pool's lock, the checks of a posted call, how a wrapper counts and ends. The shared sources read these and
// nothing else of the build; the interface set comes in as a parameter (Wrappers.h).
#pragma once

#include "Threads/CLock.h"
#include "winplat/com.h"

namespace BackendWrappers::build {

// Raise sites of the calling-thread pool.
inline constexpr const char* PoolFile = "BackendWrappers\\CallingThreadPool";
inline constexpr int PoolStartLine = 37;
inline constexpr const char* PoolStartFunction = "CallingThreadPool::acquireThread";
inline constexpr const wchar_t* PoolStartDetail = L"Can't create new thread for outofthread calls";

// Raise sites of the wrappers' QueryInterface.
inline constexpr const char* WrapperBaseFile = "backendwrappers\\WrapperBase";
inline constexpr int QueryNullOutLine = 88;
inline constexpr int QueryUnsupportedLine = 99;
inline constexpr int QueryBackendLine = 102;
inline constexpr int QueryWrapLine = 104;

// Raise site of the factory.
inline constexpr const char* FactoryFile = "BackendWrappers\\WrapperFactory";
inline constexpr int FactoryLine = 68;
inline constexpr const char* FactoryFunction = "BackendWrappers::detail::CreateWrapperFromIID::operator ()";

// Raise sites of the local stream copy.
inline constexpr const char* StreamFile = "BackendWrappers\\StreamWrapper";
inline constexpr const char* StreamCopyFunction = "BackendWrappers::StreamWrapper::copyToInplace";
inline constexpr int StreamNullDestinationLine = 146;
inline constexpr int StreamReadLine = 166;
inline constexpr int StreamWriteLine = 172;

// What a calling thread enters before it serves calls and leaves at its end:
// a COM apartment, single-threaded when it can be. A thread that cannot
// enter one never serves.
struct CallingThreadRuntime {
    // *entered: leave() is owed. A failure means the thread must not serve.
    static HRESULT enter(bool* entered) {
        HRESULT hr = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
        if (hr == RPC_E_CHANGED_MODE) {
            hr = CoInitializeEx(nullptr, COINIT_MULTITHREADED);
        }
        *entered = SUCCEEDED(hr);
        return hr;
    }
    static void leave() { CoUninitialize(); }
};

// Where the pool keeps a new thread (searches for an idle one run from the front).
inline constexpr bool NewThreadsAtFront = false;

// The pool's lock and its guard.
struct PoolLock : CLock {
    PoolLock() : CLock(true) {}
};
using PoolLockGuard = CLockGuard;

// false: the call layer lives while somebody holds it and is made anew after;
// true: the first instance is kept until the process ends.
inline constexpr bool InstanceLivesUntilExit = false;

// A posted call checks its callee (a null one gives E_INVALIDARG, a thread
// still holding one is busy) and the thread lets go of it after the call.
inline constexpr bool CheckPostedCallee = true;

// false: a wrapper counts its own references and its last Release releases
// the backend object through the call layer; true: every AddRef and Release
// is forwarded to the backend object, whose count it returns, and the
// wrapper's end makes no backend call.
inline constexpr bool RefCountForwarded = false;

// The wrapper's faces: false, IBackendWrapper first (also its IUnknown), then
// the interface; true, the interface first.
inline constexpr bool InterfaceFaceFirst = false;

// The local stream copy counts bytes read as they are read; true: a chunk's
// bytes read are counted only once the chunk is written.
inline constexpr bool CountReadAfterWrite = false;

}  // namespace BackendWrappers::build
