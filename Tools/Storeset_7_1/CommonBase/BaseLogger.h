// The 7.1 build's form of the logging interface (see CommonBase/ILogger.h):
// the first two arguments of an entry are the backend log's severity and
// facility, getLog hands the log out through an out pointer as well, and
// there is no trailing operation.
#pragma once

#ifndef STORESET_BUILD_71
#error "the 7.1 logger interface belongs to the 7.1 build only"
#endif

#include <exception>
#include <string>

#include "Backend/common/Structures.h"
#include "winplat/types.h"

class ILogger {
  public:
    // What callers of both builds pass as an entry's first two arguments.
    typedef _LogSeverity Category;
    typedef _LogFacility Mask;

    // Whether an entry of this kind and category mask would be written.
    virtual bool isEnabled(int kind, ULONG mask) = 0;
    virtual HRESULT logException(_LogSeverity severity, _LogFacility facility, const char* file, int line,
                                 const char* function, const std::wstring& message,
                                 const std::exception& exception) = 0;
    virtual HRESULT logMessage(_LogSeverity severity, _LogFacility facility, const char* file, int line,
                               const char* function, const std::wstring& text, HRESULT hr) = 0;
    virtual HRESULT logHResult(_LogSeverity severity, _LogFacility facility, const char* file, int line,
                               const char* function, const wchar_t* text, HRESULT hr) = 0;
    // The backend log behind the logger, also stored in *log; raises when there is none.
    virtual ILog* getLog(ILog** log) = 0;
    virtual HRESULT queryLog(ILog** log) = 0;
    virtual ~ILogger() = default;
};
