// The 7.4 build's form of the logging interface (see CommonBase/ILogger.h):
// an entry's first two arguments are a category and a mask.
#pragma once

#include <exception>
#include <string>

#include "winplat/types.h"

struct ILog;  // the backend's log object

class ILogger {
  public:
    // What callers of both builds pass as an entry's first two arguments.
    typedef int Category;
    typedef ULONG Mask;

    // Whether a message of this category and mask would be written.
    virtual bool isEnabled(int category, ULONG mask) = 0;
    virtual HRESULT logException(int category, ULONG mask, const char* file, int line, const char* function,
                                 const std::wstring& message, const std::exception& exception) = 0;
    virtual HRESULT logMessage(int category, ULONG mask, const char* file, int line, const char* function,
                               const std::wstring& text, HRESULT hr) = 0;
    virtual HRESULT logHResult(int category, ULONG mask, const char* file, int line, const char* function,
                               const wchar_t* text, HRESULT hr) = 0;
    // The backend log behind the logger; raises when there is none.
    virtual ILog* getLog() = 0;
    virtual HRESULT queryLog(ILog** log) = 0;
    virtual ~ILogger() = default;
    virtual ULONG reserved() = 0;
};

// Discards everything.
class NullLogger : public ILogger {
  public:
    bool isEnabled(int category, ULONG mask) override;
    HRESULT logException(int category, ULONG mask, const char* file, int line, const char* function,
                         const std::wstring& message, const std::exception& exception) override;
    HRESULT logMessage(int category, ULONG mask, const char* file, int line, const char* function,
                       const std::wstring& text, HRESULT hr) override;
    HRESULT logHResult(int category, ULONG mask, const char* file, int line, const char* function,
                       const wchar_t* text, HRESULT hr) override;
    // Raises E_POINTER: a null logger has no log.
    ILog* getLog() override;
    HRESULT queryLog(ILog** log) override;
    ULONG reserved() override;
};
