// What the 7.1 build of the wrapper layer fixes (see BackendWrappers/v74 for
// the 7.4 build): its raise texts and lines; calling threads that start the
// MAPI runtime rather than COM and serve calls whether it started or not;
// new threads at the front of the pool; a call layer kept until the process
// ends; wrappers whose AddRef and Release reach the backend object.
#pragma once

#ifndef STORESET_BUILD_71
#error "the 7.1 wrapper build belongs to the 7.1 build only"
#endif

#include "CommonBase/Locker.h"
#include "MapiProvider/Utilities/MapiStubs.h"
#include "winplat/com.h"

namespace BackendWrappers::build {

// Raise sites of the calling-thread pool.
inline constexpr const char* PoolFile = "CallingThreadPool";
inline constexpr int PoolStartLine = 37;
inline constexpr const char* PoolStartFunction = "CallingThreadPool::acquireThread";
inline constexpr const char* PoolStartDetail = "Can't create new thread for outofthread calls";

// Raise sites of the wrappers' QueryInterface.
inline constexpr const char* WrapperBaseFile = "backendwrappers\\WrapperBase";
inline constexpr int QueryNullOutLine = 87;
inline constexpr int QueryUnsupportedLine = 98;
inline constexpr int QueryBackendLine = 101;
inline constexpr int QueryWrapLine = 103;

// Raise site of the factory.
inline constexpr const char* FactoryFile = "WrapperFactory";
inline constexpr int FactoryLine = 68;
inline constexpr const char* FactoryFunction = "BackendWrappers::detail::CreateWrapperFromIID::operator ()";

// Raise sites of the local stream copy.
inline constexpr const char* StreamFile = "StreamWrapper";
inline constexpr const char* StreamCopyFunction = "BackendWrappers::StreamWrapper::copyToInplace";
inline constexpr int StreamNullDestinationLine = 146;
inline constexpr int StreamReadLine = 166;
inline constexpr int StreamWriteLine = 172;

// A calling thread starts MAPI on itself and serves calls even when that
// fails; it shuts MAPI down only after a start that succeeded, so a failed
// start never takes down what another thread started.
struct CallingThreadRuntime {
    static HRESULT enter(bool* entered) {
        *entered = SUCCEEDED(MAPIInitialize(nullptr));
        return S_OK;
    }
    static void leave() { MAPIUninitialize(); }
};

inline constexpr bool NewThreadsAtFront = true;

struct PoolLock : Utilities::Locker {};
class PoolLockGuard {
  public:
    explicit PoolLockGuard(Utilities::Locker& locker) : locker_(locker) { locker_.enter(); }
    ~PoolLockGuard() { locker_.leave(); }
    PoolLockGuard(const PoolLockGuard&) = delete;
    PoolLockGuard& operator=(const PoolLockGuard&) = delete;

  private:
    Utilities::Locker& locker_;
};

inline constexpr bool InstanceLivesUntilExit = true;
inline constexpr bool CheckPostedCallee = false;
inline constexpr bool RefCountForwarded = true;
inline constexpr bool InterfaceFaceFirst = true;
inline constexpr bool CountReadAfterWrite = true;

}  // namespace BackendWrappers::build
