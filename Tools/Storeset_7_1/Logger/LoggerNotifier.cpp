// The watch of one log manager: registerLogger hands the manager an
// ISynchronize whose Signal sets the registration's event. The event is the
// registration's; the ISynchronize holds a duplicate of it, so a server that
// keeps its reference beyond the end of the watch signals nothing that could
// be mistaken for another registration.
//
// A registration that ends is retired, not freed: its manager and event go
// only once the thread has taken the entries without it, so the thread never
// waits on a handle that has been closed under it.
#include "Tools/Storeset_7_1/Logger/LoggerNotifier.h"

#include <cstring>

#include "CommonBase/HResultException.h"
#include "Tools/Storeset_7_1/Logger/SynchronizeWrapper.h"
#include "winplat/windows.h"

namespace {

const char* const File = ".\\LoggerNotifier";
// What ISynchronize::Wait answers when the time ran out.
const HRESULT CallPending = static_cast<HRESULT>(0x80010115u);

// The server's signal, as an event.
class EventSynchronize : public iui_::IUnknownImpl<ISynchronize> {
  public:
    explicit EventSynchronize(HANDLE event) : event_(event) {}

    STDMETHOD(Wait)(DWORD, DWORD milliseconds) override {
        switch (WaitForSingleObject(event_, milliseconds)) {
            case WAIT_OBJECT_0:
                return S_OK;
            case WAIT_TIMEOUT:
                return CallPending;
            default:
                return HRESULT_FROM_WIN32(GetLastError());
        }
    }
    STDMETHOD(Signal)() override { return SetEvent(event_) ? S_OK : HRESULT_FROM_WIN32(GetLastError()); }
    STDMETHOD(Reset)() override { return ResetEvent(event_) ? S_OK : HRESULT_FROM_WIN32(GetLastError()); }

  private:
    ~EventSynchronize() override { CloseHandle(event_); }

    HANDLE event_;
};

void releaseRetired(std::vector<LogRegistration>& retired) {
    for (LogRegistration& r : retired) {
        if (r.manager) {
            r.manager->Release();
        }
        if (r.event) {
            CloseHandle(r.event);
        }
    }
    retired.clear();
}

// An owned interface reference for the length of a scope.
template <class I>
struct Held {
    I* p = nullptr;
    Held() = default;
    Held(const Held&) = delete;
    Held& operator=(const Held&) = delete;
    ~Held() {
        if (p) {
            p->Release();
        }
    }
};

}  // namespace

// ---------------------------------------------------------------------------
class LoggerNotifier::NotificationThread : public Thread {
  public:
    explicit NotificationThread(LoggerNotifier* owner)
        : Thread(false, std::string()), owner_(owner), wake_(CreateEventW(nullptr, FALSE, FALSE, nullptr)) {}

    ~NotificationThread() override {
        // Thread::waitFor traps a wait on the thread itself.
        if (started_) {
            setTerminated(true);
            waitFor();
        }
        if (wake_) {
            CloseHandle(wake_);
        }
        releaseRetired(retired_);
    }

    bool start() {
        if (!wake_ || !getTerminationEvent() || !run()) {
            return false;
        }
        started_ = true;
        return true;
    }

    // Called with the notifier's lock held.
    void publishEntries(std::vector<NotificationEntry> entries, std::vector<LogRegistration> retired) {
        CLockGuard guard(entriesLock_);
        entries_ = std::move(entries);
        retired_.insert(retired_.end(), retired.begin(), retired.end());
        SetEvent(wake_);
    }

    size_t waitCount() const { return waits_.load(); }
    size_t watchedCount() const {
        CLockGuard guard(entriesLock_);
        return entries_.size();
    }

  protected:
    void threadBody() override {
        if (!owner_) {
            return;
        }
        try {
            watch();
        } catch (...) {
            // Out of memory for the handle array: the loggers keep the masks
            // they have, rather than the process going down.
        }
    }

  private:
    void watch() {
        std::vector<HANDLE> handles;
        std::vector<GUID> keys;
        for (;;) {
            std::vector<GUID> pending;
            std::vector<LogRegistration> retired;
            {
                CLockGuard guard(entriesLock_);
                if (purgePending_) {
                    purge(pending);
                    purgePending_ = false;
                }
                handles = {getTerminationEvent(), wake_};
                keys.clear();
                for (const NotificationEntry& e : entries_) {
                    handles.push_back(e.event);
                    keys.push_back(e.key);
                }
                retired.swap(retired_);
            }
            // None of these is in the new handle array.
            releaseRetired(retired);
            for (const GUID& key : pending) {
                owner_->dispatch(key);
            }
            for (;;) {
                ++waits_;
                const DWORD r = WaitForMultipleObjects(static_cast<DWORD>(handles.size()), handles.data(),
                                                       FALSE, INFINITE);
                if (r == WAIT_OBJECT_0) {
                    return;
                }
                if (r == WAIT_OBJECT_0 + 1) {
                    break;
                }
                if (r == WAIT_FAILED) {
                    CLockGuard guard(entriesLock_);
                    purgePending_ = true;
                    break;
                }
                if (r >= WAIT_OBJECT_0 + 2 && r < WAIT_OBJECT_0 + handles.size()) {
                    owner_->dispatch(keys[r - WAIT_OBJECT_0 - 2]);
                }
            }
        }
    }

    // Called with the entries lock held. Drops the entries whose event is no
    // longer valid; an entry found signalled has had its signal taken by the
    // test and goes into pending, to be dispatched after the lock is left.
    void purge(std::vector<GUID>& pending) {
        std::vector<NotificationEntry> kept;
        for (const NotificationEntry& e : entries_) {
            const DWORD r = WaitForSingleObject(e.event, 0);
            if (r == WAIT_FAILED) {
                continue;
            }
            if (r == WAIT_OBJECT_0) {
                pending.push_back(e.key);
            }
            kept.push_back(e);
        }
        entries_.swap(kept);
    }

    LoggerNotifier* owner_;
    HANDLE wake_;
    CLock entriesLock_{true};
    std::vector<NotificationEntry> entries_;
    std::vector<LogRegistration> retired_;
    bool purgePending_ = false;
    bool started_ = false;
    std::atomic<size_t> waits_{0};
};

// ---------------------------------------------------------------------------
LoggerNotifier::LoggerNotifier() : thread_(std::make_unique<NotificationThread>(this)) {
    if (!thread_->start()) {
        raiseHResult(E_OUTOFMEMORY, 2, File, 42, "LoggerNotifier::LoggerNotifier", nullptr);
    }
}

LoggerNotifier::~LoggerNotifier() {
    thread_.reset();
    for (auto& [key, r] : registrations_) {
        r.manager->Slot8(r.cookie);
        r.manager->Release();
        CloseHandle(r.event);
    }
}

void LoggerNotifier::registerLogger(ILog* log, std::atomic<int>* counter) {
    static const char* const Function = "LoggerNotifier::registerLogger";
    if (!log || !counter) {
        raiseHResult(E_INVALIDARG, 2, File, 71, Function, nullptr);
    }
    Held<ILogManager> manager;
    HRESULT hr = log->GetLogManager(&manager.p);
    if (SUCCEEDED(hr) && !manager.p) {
        hr = E_POINTER;
    }
    if (FAILED(hr)) {
        raiseHResult(hr, 2, File, 75, Function, nullptr);
    }
    GUID key{};
    hr = manager.p->Slot9(&key);
    if (FAILED(hr)) {
        raiseHResult(hr, 2, File, 78, Function, nullptr);
    }

    CLockGuard guard(lock_);
    auto found = registrations_.find(key);
    if (found != registrations_.end()) {
        found->second.counters.insert(counter);
        return;
    }
    if (registrations_.size() >= kMaxLogManagers) {
        raiseHResult(LOGGER_NOTIFIER_E_TOO_MANY_MANAGERS, 2, File, 86, Function, nullptr);
    }
    LogRegistration r;
    r.event = CreateEventW(nullptr, FALSE, FALSE, nullptr);
    HANDLE duplicate = r.event ? Thread::duplicateHandle(r.event) : nullptr;
    if (!duplicate) {
        if (r.event) {
            CloseHandle(r.event);
        }
        raiseHResult(E_OUTOFMEMORY, 2, File, 91, Function, nullptr);
    }
    Held<ISynchronize> signal;
    hr = hresultOf([&] {
        Held<ISynchronize> target;
        target.p = new EventSynchronize(duplicate);
        duplicate = nullptr;
        return SynchronizeWrapper::create(target.p, true, &signal.p);
    });
    if (SUCCEEDED(hr)) {
        hr = manager.p->Slot7(signal.p, &r.cookie);
    }
    if (FAILED(hr)) {
        if (duplicate) {
            CloseHandle(duplicate);
        }
        CloseHandle(r.event);
        raiseHResult(hr, 2, File, 100, Function, nullptr);
    }
    r.manager = manager.p;
    r.counters.insert(counter);
    try {
        registrations_.emplace(key, r);
    } catch (...) {
        r.manager->Slot8(r.cookie);
        CloseHandle(r.event);
        throw;
    }
    manager.p = nullptr;
    rebuildEntries();
}

HRESULT LoggerNotifier::unregisterCounter(std::atomic<int>* counter) {
    CLockGuard guard(lock_);
    if (!counter) {
        return E_INVALIDARG;
    }
    for (auto it = registrations_.begin(); it != registrations_.end(); ++it) {
        LogRegistration& r = it->second;
        if (r.counters.count(counter) == 0) {
            continue;
        }
        try {
            std::vector<LogRegistration> retired;
            if (r.counters.size() == 1) {
                retired.push_back(r);
            }
            r.counters.erase(counter);
            if (!retired.empty()) {
                r.manager->Slot8(r.cookie);
                registrations_.erase(it);
                rebuildEntries(std::move(retired));
            }
        } catch (const std::bad_alloc&) {
            return E_OUTOFMEMORY;
        }
        return S_OK;
    }
    return S_FALSE;
}

void LoggerNotifier::dispatch(const GUID& key) {
    CLockGuard guard(lock_);
    auto found = registrations_.find(key);
    if (found == registrations_.end()) {
        return;
    }
    for (std::atomic<int>* counter : found->second.counters) {
        ++*counter;
    }
}

size_t LoggerNotifier::registrationCount() const {
    CLockGuard guard(lock_);
    return registrations_.size();
}

size_t LoggerNotifier::watchedCount() const {
    return thread_->watchedCount();
}

size_t LoggerNotifier::waitCount() const {
    return thread_->waitCount();
}

void LoggerNotifier::rebuildEntries(std::vector<LogRegistration> retired) {
    std::vector<NotificationEntry> entries;
    entries.reserve(registrations_.size());
    for (const auto& [key, r] : registrations_) {
        entries.push_back(NotificationEntry{key, r.event});
    }
    thread_->publishEntries(std::move(entries), std::move(retired));
}
