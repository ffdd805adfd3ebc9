// What the 7.4 build of the wrapper layer fixes that another build of the same
// sources may fix otherwise: raise texts and lines, where new calling threads
// go, how long the call layer lives, the pool's lock, the checks of a posted
// call and how a wrapper ends. The shared sources read these and nothing
// else of the build; the interface set comes in as a parameter (Wrappers.h).
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

// Calling threads: the apartment they try first, and where the pool keeps a
// new one (searches for an idle thread run from the front).
inline constexpr DWORD CallingThreadApartment = COINIT_APARTMENTTHREADED;
inline constexpr bool NewThreadsAtFront = false;

// The pool's lock and its guard.
using PoolLock = CLock;
using PoolLockGuard = CLockGuard;

// false: the call layer lives while somebody holds it and is made anew after;
// true: the first instance is kept until the process ends.
inline constexpr bool InstanceLivesUntilExit = false;

// A posted call checks its callee (a null one gives E_INVALIDARG).
inline constexpr bool CheckPostedCallee = true;

// A wrapper's last Release releases the backend object through the call layer.
inline constexpr bool FinalReleaseThroughCaller = true;

}  // namespace BackendWrappers::build
