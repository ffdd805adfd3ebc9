// LoggerNotifier: moves the change counters of loggers when the backend
// server signals that its log configuration changed. One registration per
// log manager (keyed by the manager's GUID) holds the manager, the cookie of
// the watch set up with it, an auto-reset event that the watch signals, and
// the counters of the loggers that follow that manager. A thread of its own
// waits on all the events at once.
//
// Locks: lock_ guards the registrations; the thread's entries lock guards
// what it is to wait on next. Order: lock_ first, then the entries lock.
#pragma once

#include <atomic>
#include <map>
#include <memory>
#include <set>
#include <vector>

#include "Backend/v71/ILog.h"
#include "CommonBase/IUnknownImpl.h"
#include "Threads/CLock.h"
#include "Threads/Thread.h"

// One wait takes 64 handles, two of which are the thread's own events.
inline constexpr size_t kMaxLogManagers = MAXIMUM_WAIT_OBJECTS - 2;
// Result of registering a logger of one log manager more than that.
#define LOGGER_NOTIFIER_E_TOO_MANY_MANAGERS HRESULT_FROM_WIN32(ERROR_NO_SYSTEM_RESOURCES)

struct LogRegistration {
    ILogManager* manager = nullptr;
    ULONG cookie = 0;
    HANDLE event = nullptr;
    std::set<std::atomic<int>*> counters;
};

struct NotificationEntry {
    GUID key;
    HANDLE event;
};

struct LoggerNotifierTestAccess;

class LoggerNotifier {
  public:
    // Starts the thread; raises E_OUTOFMEMORY when it or its wake event
    // cannot be made.
    LoggerNotifier();
    // Every logger has gone by now (each holds the notifier); a watch left
    // over is ended all the same.
    ~LoggerNotifier();
    LoggerNotifier(const LoggerNotifier&) = delete;
    LoggerNotifier& operator=(const LoggerNotifier&) = delete;

    // Adds counter to the registration of log's manager, setting up the watch
    // when the manager is new. Raises (".\LoggerNotifier") E_INVALIDARG for a
    // null argument, the manager's own failures, and
    // LOGGER_NOTIFIER_E_TOO_MANY_MANAGERS for a manager beyond kMaxLogManagers.
    void registerLogger(ILog* log, std::atomic<int>* counter);
    // S_OK when the counter was registered, S_FALSE when not, E_INVALIDARG
    // for null. The last counter of a manager ends its watch.
    HRESULT unregisterCounter(std::atomic<int>* counter);
    // Moves every counter of the registration under key.
    void dispatch(const GUID& key);

    size_t registrationCount() const;
    // The events the thread waits on at present, and how often it has
    // waited: a thread that spins shows in the latter.
    size_t watchedCount() const;
    size_t waitCount() const;

  private:
    friend struct LoggerNotifierTestAccess;
    class NotificationThread;

    // Called with lock_ held.
    void rebuildEntries(std::vector<LogRegistration> retired = {});

    CLock lock_{true};
    std::map<GUID, LogRegistration, iui_::guidLess> registrations_;
    std::unique_ptr<NotificationThread> thread_;
};
