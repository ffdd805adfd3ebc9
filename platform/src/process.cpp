// Process handles. A handle holds a pidfd; one monitor thread watches every
// open pidfd with epoll and signals the handle when its process ends, so
// process handles join any wait with events and threads.
#include <poll.h>
#include <signal.h>
#include <sys/epoll.h>
#include <sys/wait.h>

#include <cerrno>
#include <thread>
#include <unordered_map>

#include "kinternal.h"
#include "winplat/inject.h"

#ifndef P_PIDFD
#define P_PIDFD 3
#endif

namespace winplat::kernel {
namespace {

class ProcessObject;

struct Monitor {
    std::mutex mutex;
    int epoll = -1;
    uint64_t nextKey = 1;
    struct Entry {
        std::weak_ptr<ProcessObject> process;
        int fd;
    };
    std::unordered_map<uint64_t, Entry> watched;
};

Monitor& monitor();

class ProcessObject : public Waitable {
  public:
    ProcessObject(pid_t pid, int pidfd) : Waitable(false, false), pid_(pid), pidfd_(pidfd) {}

    ~ProcessObject() override {
        if (key_ != 0) {
            CriticalScope scope;
            Monitor& m = monitor();
            std::lock_guard<std::mutex> lock(m.mutex);
            m.watched.erase(key_);
        }
        if (pidfd_ >= 0) {
            ::close(pidfd_);  // also drops it from the epoll set
        }
    }

    pid_t pid() const { return pid_; }

    // Registers with the monitor; false when it cannot watch the process.
    bool watch(const std::shared_ptr<ProcessObject>& self);

    void refresh() override {
        if (ended_.load() || pidfd_ < 0) {
            return;
        }
        pollfd p{pidfd_, POLLIN, 0};
        if (::poll(&p, 1, 0) == 1 && (p.revents & (POLLIN | POLLHUP)) != 0) {
            markEnded();
        }
    }

    // The process has ended: take its exit code (once) and signal.
    void markEnded() {
        if (ended_.exchange(true)) {
            return;
        }
        DWORD code = 0;
        siginfo_t info{};
        // WNOWAIT leaves the child to whoever started it; a process that is
        // not our child has no readable status and reports 0.
        if (::waitid(static_cast<idtype_t>(P_PIDFD), static_cast<id_t>(pidfd_), &info,
                     WEXITED | WNOHANG | WNOWAIT) == 0 &&
            info.si_pid != 0) {
            if (info.si_code == CLD_EXITED) {
                code = static_cast<DWORD>(info.si_status);
            } else if (info.si_status == SIGKILL && terminated_.load()) {
                code = terminateCode_.load();
            } else {
                code = 128u + static_cast<DWORD>(info.si_status);  // as a shell reports it
            }
        } else if (terminated_.load()) {
            code = terminateCode_.load();
        }
        exitCode_.store(code);
        signal();
    }

    bool ended() const { return ended_.load(); }
    DWORD exitCode() const { return exitCode_.load(); }

    bool terminate(UINT code) {
        if (ended_.load()) {
            return false;
        }
        terminateCode_.store(code);
        terminated_.store(true);
        if (syscall(SYS_pidfd_send_signal, pidfd_, SIGKILL, nullptr, 0) != 0) {
            terminated_.store(false);
            return false;
        }
        return true;
    }

  private:
    pid_t pid_;
    int pidfd_;
    uint64_t key_ = 0;
    std::atomic<bool> ended_{false};
    std::atomic<DWORD> exitCode_{STILL_ACTIVE};
    std::atomic<bool> terminated_{false};
    std::atomic<UINT> terminateCode_{0};
};

void monitorLoop(Monitor* m) {
    epoll_event events[16];
    for (;;) {
        const int n = ::epoll_wait(m->epoll, events, 16, -1);
        for (int i = 0; i < n; ++i) {
            std::shared_ptr<ProcessObject> p;
            {
                std::lock_guard<std::mutex> lock(m->mutex);
                auto it = m->watched.find(events[i].data.u64);
                if (it == m->watched.end()) {
                    continue;
                }
                p = it->second.process.lock();
                ::epoll_ctl(m->epoll, EPOLL_CTL_DEL, it->second.fd, nullptr);
                m->watched.erase(it);
            }
            if (p) {
                p->markEnded();
            }
            // `p` may be the last reference: released here, without the lock.
        }
    }
}

// Never destroyed, and its thread never stops: process handles may be
// waited on until the very end.
Monitor& monitor() {
    static Monitor* m = [] {
        auto* mon = new Monitor;
        mon->epoll = ::epoll_create1(EPOLL_CLOEXEC);
        if (mon->epoll >= 0) {
            sigset_t all, old;
            sigfillset(&all);
            pthread_sigmask(SIG_BLOCK, &all, &old);  // the monitor takes no signals
            std::thread(monitorLoop, mon).detach();
            pthread_sigmask(SIG_SETMASK, &old, nullptr);
        }
        return mon;
    }();
    return *m;
}

bool ProcessObject::watch(const std::shared_ptr<ProcessObject>& self) {
    Monitor& m = monitor();
    if (m.epoll < 0) {
        return false;
    }
    CriticalScope scope;
    std::lock_guard<std::mutex> lock(m.mutex);
    const uint64_t key = m.nextKey++;
    epoll_event ev{};
    ev.events = EPOLLIN;
    ev.data.u64 = key;
    if (::epoll_ctl(m.epoll, EPOLL_CTL_ADD, pidfd_, &ev) != 0) {
        return false;
    }
    key_ = key;
    m.watched.emplace(key, Monitor::Entry{self, pidfd_});
    return true;
}

std::shared_ptr<ProcessObject> resolveProcess(HANDLE handle) {
    return std::dynamic_pointer_cast<ProcessObject>(resolveHandle(handle));
}

std::shared_ptr<ProcessObject> openPid(pid_t pid, DWORD* error) {
    const int fd = static_cast<int>(syscall(SYS_pidfd_open, pid, 0));
    if (fd < 0) {
        *error = errno == ESRCH || errno == EINVAL    ? ERROR_INVALID_PARAMETER
                 : errno == EMFILE || errno == ENFILE ? ERROR_TOO_MANY_OPEN_FILES
                                                      : ERROR_ACCESS_DENIED;
        return nullptr;
    }
    auto p = std::make_shared<ProcessObject>(pid, fd);
    if (!p->watch(p)) {
        *error = ERROR_NOT_ENOUGH_MEMORY;
        return nullptr;
    }
    return p;
}

}  // namespace

std::shared_ptr<Object> currentProcessObject() {
    // Never signalled while anyone can wait on it; kept for the whole run.
    static std::shared_ptr<ProcessObject>* self = [] {
        DWORD error = 0;
        return new std::shared_ptr<ProcessObject>(openPid(getpid(), &error));
    }();
    return *self;
}

}  // namespace winplat::kernel

using namespace winplat::kernel;

extern "C" {

HANDLE OpenProcess(DWORD /*desiredAccess*/, BOOL /*inheritHandle*/, DWORD processId) {
    CriticalScope scope;  // a platform call is not stopped halfway
    int64_t code = 0;
    if (winplat::inject::take("OpenProcess", &code)) {
        SetLastError(static_cast<DWORD>(code));
        return nullptr;
    }
    if (processId == 0 || processId > static_cast<DWORD>(INT32_MAX)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    DWORD error = 0;
    auto p = openPid(static_cast<pid_t>(processId), &error);
    if (!p) {
        SetLastError(error);
        return nullptr;
    }
    return makeHandle(p);
}

BOOL GetExitCodeProcess(HANDLE process, LPDWORD exitCode) {
    CriticalScope scope;  // a platform call is not stopped halfway
    auto p = resolveProcess(process);
    if (!p) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    if (exitCode == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    p->refresh();
    *exitCode = p->ended() ? p->exitCode() : STILL_ACTIVE;
    return TRUE;
}

BOOL TerminateProcess(HANDLE process, UINT exitCode) {
    CriticalScope scope;  // a platform call is not stopped halfway
    if (process == WINPLAT_PSEUDO_PROCESS) {
        ::_exit(static_cast<int>(exitCode));
    }
    auto p = resolveProcess(process);
    if (!p) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    if (p->pid() == getpid()) {
        ::_exit(static_cast<int>(exitCode));
    }
    if (!p->terminate(exitCode)) {
        SetLastError(ERROR_ACCESS_DENIED);
        return FALSE;
    }
    return TRUE;
}

DWORD GetProcessId(HANDLE process) {
    CriticalScope scope;  // a platform call is not stopped halfway
    if (process == WINPLAT_PSEUDO_PROCESS) {
        return GetCurrentProcessId();
    }
    auto p = resolveProcess(process);
    if (!p) {
        SetLastError(ERROR_INVALID_HANDLE);
        return 0;
    }
    return static_cast<DWORD>(p->pid());
}

}  // extern "C"
