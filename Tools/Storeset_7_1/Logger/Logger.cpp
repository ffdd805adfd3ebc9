#include "Tools/Storeset_7_1/Logger/Logger.h"

#include <cxxabi.h>

#include <cstdlib>
#include <typeinfo>

#include "CommonBase/HResultException.h"
#include "CommonBase/HResultNames.h"
#include "CommonBase/MessageFormat.h"
#include "Tools/Storeset_7_1/Logger/LoggerNotifier.h"
#include "winplat/windows.h"

namespace {

const char* const File = ".\\Logger";

// The class name as the message texts of the 7.1 tool spell it.
std::string className(const std::exception& exception) {
    const char* mangled = typeid(exception).name();
    int status = 0;
    char* demangled = abi::__cxa_demangle(mangled, nullptr, nullptr, &status);
    std::string name = std::string("class ") + (demangled ? demangled : mangled);
    std::free(demangled);
    return name;
}

void appendLine(std::wstring& entry, const wchar_t* text) {
    if (!text || !*text) {
        return;
    }
    entry += text;
    if (entry.back() != L'\n') {
        entry += L'\n';
    }
}

// No exception leaves a logging call.
template <class Body>
HRESULT guarded(Body body) {
    try {
        return hresultOf(body);
    } catch (...) {
        return E_UNEXPECTED;
    }
}

}  // namespace

Logger::Logger(ILog* log, const boost::shared_ptr<LoggerNotifier>& notifier) : log_(log) {
    if (log_) {
        log_->AddRef();
    }
    if (notifier && log_) {
        try {
            notifier->registerLogger(log_, &changeCount_);
        } catch (...) {
            log_->Release();
            throw;
        }
        notifier_ = notifier;
        registered_ = true;
    }
}

Logger::~Logger() {
    if (registered_) {
        notifier_->unregisterCounter(&changeCount_);
    }
    if (log_) {
        log_->Release();
    }
}

bool Logger::isEnabled(int kind, ULONG mask) {
    if (changeCount_.load() != loadedCount_.load()) {
        loadConfiguration();
    }
    if (!log_) {
        return false;
    }
    const uint64_t masks = masks_.load();
    const ULONG mask1 = static_cast<ULONG>(masks >> 32);
    const ULONG mask2 = static_cast<ULONG>(masks);
    switch (kind) {
        case 2:
            return true;
        case 1:
            return (mask & (mask1 | mask2)) != 0;
        case 0:
            return (mask & mask2) != 0;
        default:
            return false;
    }
}

HRESULT Logger::loadConfiguration() {
    return guarded([&] {
        static const char* const Function = "Logger::loadConfiguration";
        if (!log_) {
            raiseHResult(E_INVALIDARG, 2, File, 235, Function, nullptr);
        }
        std::lock_guard<std::mutex> lock(loadMutex_);
        // Taken before the masks are read: a change signalled while they are
        // being read makes the next isEnabled read them again.
        const int count = changeCount_.load();
        ILogManager* manager = nullptr;
        HRESULT hr = log_->GetLogManager(&manager);
        if (FAILED(hr)) {
            raiseHResult(hr, 2, File, 237, Function, nullptr);
        }
        ULONG first = 0;
        ULONG second = 0;
        hr = manager ? manager->GetMasks(&first, &second) : E_POINTER;
        if (manager) {
            manager->Release();
        }
        if (FAILED(hr)) {
            raiseHResult(hr, 2, File, 240, Function, nullptr);
        }
        masks_.store(static_cast<uint64_t>(first) << 32 | second);
        loadedCount_.store(count);
        return S_OK;
    });
}

std::wstring Logger::composeEntry(const char* file, int line, const char* function, const wchar_t* first,
                                  const wchar_t* second) {
    std::wstring entry;
    if (file) {
        entry += formatMessageSafely(L"In %S:%d", sourcePathTail(file), line);
        if (function) {
            entry += formatMessageSafely(L" (%S)", function);
        }
        entry += L'\n';
    }
    appendLine(entry, first);
    appendLine(entry, second);
    return entry;
}

HRESULT Logger::logException(_LogSeverity severity, _LogFacility facility, const char* file, int line,
                             const char* function, const std::wstring& message,
                             const std::exception& exception) {
    if (!log_) {
        return E_POINTER;
    }
    return guarded([&] {
        const std::wstring description =
            dynamic_cast<const HResultException*>(&exception)
                ? formatMessageSafely(L"%s\n", exception.what())
                : formatMessageSafely(L"Exception of %s:\n%s\n", className(exception), exception.what());
        return write(severity, facility,
                     composeEntry(file, line, function, description.c_str(), message.c_str()).c_str());
    });
}

HRESULT Logger::logMessage(_LogSeverity severity, _LogFacility facility, const char* file, int line,
                           const char* function, const std::wstring& text, HRESULT hr) {
    return logHResult(severity, facility, file, line, function, text.c_str(), hr);
}

HRESULT Logger::logHResult(_LogSeverity severity, _LogFacility facility, const char* file, int line,
                           const char* function, const wchar_t* text, HRESULT hr) {
    if (!log_) {
        return E_POINTER;
    }
    return guarded([&] {
        const std::wstring hresultText =
            hr < 0 ? formatMessageSafely(L"HRESULT: %S\n", formatHResult(hr)) : std::wstring();
        return write(severity, facility,
                     composeEntry(file, line, function, text, hresultText.c_str()).c_str());
    });
}

HRESULT Logger::writeText(_LogSeverity severity, _LogFacility facility, const std::wstring& text) {
    if (!log_) {
        return E_POINTER;
    }
    return write(severity, facility, text.c_str());
}

HRESULT Logger::write(_LogSeverity severity, _LogFacility facility, const wchar_t* entry) {
    return log_->WriteEntry(severity, facility, GetCurrentThreadId(), entry);
}

ILog* Logger::getLog(ILog** log) {
    if (!log) {
        raiseHResult(E_POINTER, 2, File, 226, "Logger::getLog", nullptr);
    }
    *log = nullptr;
    const HRESULT hr = queryLog(log);
    if (FAILED(hr)) {
        if (*log) {
            (*log)->Release();
            *log = nullptr;
        }
        raiseHResult(hr, 2, File, 226, "Logger::getLog", nullptr);
    }
    return *log;
}

HRESULT Logger::queryLog(ILog** log) {
    if (!log_) {
        return E_POINTER;
    }
    return log_->QueryInterface(IID_ILog, reinterpret_cast<void**>(log));
}
