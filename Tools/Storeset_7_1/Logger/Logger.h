// Logger: the 7.1 logger over the backend server's own log. Entries go to
// ILog's WriteEntry; whether an entry is wanted is decided from two category
// masks that the log's manager hands out. The masks are read again whenever
// the logger's change counter has moved, which a LoggerNotifier does when the
// server signals a change of its log configuration.
//
// Threads: every operation may be called on any thread. changeCount is moved
// by the notification thread; masks are loaded one load at a time and
// published before the count they were loaded at.
#pragma once

#include <atomic>
#include <boost/shared_ptr.hpp>
#include <cstdint>
#include <mutex>
#include <string>

#include "Backend/v71/ILog.h"
#include "CommonBase/ILogger.h"

class LoggerNotifier;

class Logger : public ILogger {
  public:
    // Takes a reference of its own on log (which may be null: then nothing is
    // enabled and every entry answers E_POINTER). With a notifier the logger
    // follows configuration changes; registering may raise (see
    // LoggerNotifier::registerLogger), and nothing is kept then.
    explicit Logger(ILog* log, const boost::shared_ptr<LoggerNotifier>& notifier = {});
    ~Logger() override;
    Logger(const Logger&) = delete;
    Logger& operator=(const Logger&) = delete;

    bool isEnabled(int kind, ULONG mask) override;
    HRESULT logException(_LogSeverity severity, _LogFacility facility, const char* file, int line,
                         const char* function, const std::wstring& message,
                         const std::exception& exception) override;
    HRESULT logMessage(_LogSeverity severity, _LogFacility facility, const char* file, int line,
                       const char* function, const std::wstring& text, HRESULT hr) override;
    HRESULT logHResult(_LogSeverity severity, _LogFacility facility, const char* file, int line,
                       const char* function, const wchar_t* text, HRESULT hr) override;
    ILog* getLog(ILog** log) override;
    HRESULT queryLog(ILog** log) override;

    // Reads the masks from the log's manager; a failure keeps the old ones,
    // so the next isEnabled tries again.
    HRESULT loadConfiguration();
    // The text as it stands, without a source line or line-feed rules.
    HRESULT writeText(_LogSeverity severity, _LogFacility facility, const std::wstring& text);
    bool hasLog() const { return log_ != nullptr; }

    // "In <file tail>:<line>" and " (<function>)" on a line of their own when
    // there is a file, then each non-empty text on lines of its own.
    static std::wstring composeEntry(const char* file, int line, const char* function, const wchar_t* first,
                                     const wchar_t* second);

  private:
    HRESULT write(_LogSeverity severity, _LogFacility facility, const wchar_t* entry);

    // Moved by the notifier (under its lock); read here without one.
    std::atomic<int> changeCount_{1};
    // One load at a time, so a slow load cannot publish older masks over a
    // newer one's.
    std::mutex loadMutex_;
    // The value of changeCount_ the masks were read at, and the two masks
    // (first in the high half); written under loadMutex_, masks first.
    std::atomic<int> loadedCount_{0};
    std::atomic<uint64_t> masks_{0};
    boost::shared_ptr<LoggerNotifier> notifier_;
    bool registered_ = false;
    ILog* log_;
};
