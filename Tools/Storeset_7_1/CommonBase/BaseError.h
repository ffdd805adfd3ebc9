// The 7.1 build's error type (see CommonBase/HResultException.h). It has the
// name of the 7.4 build's class but composes a narrow message once, in its
// constructor; the 7.1 build's shared sources raise through the raiseHResult
// and ErrorLocation declared here.
#pragma once

#ifndef STORESET_BUILD_71
#error "the 7.1 error type belongs to the 7.1 build only"
#endif

#include <cstdint>
#include <exception>
#include <new>
#include <string>

#include "CommonBase/StringUtils.h"
#include "winplat/errors.h"
#include "winplat/types.h"

class HResultException : public std::exception {
  public:
    // file, function and detail may be null.
    HResultException(HRESULT hr, int code, const char* file, int line, const char* function,
                     const char* detail);
    ~HResultException() override;

    const char* what() const noexcept override;
    virtual HRESULT getHResult() const;

    // "Exception of class HResultException: <file tail>(<line>), <function>:\n<hr text>",
    // then ": <detail>" when there is a detail.
    static std::string composeMessage(HRESULT hr, int code, const char* file, int line, const char* function,
                                      const char* detail);

  private:
    HRESULT hr_;
    [[maybe_unused]] int32_t code_;  // stored as raised; the message does not show it
    std::string message_;
};

// Throws an HResultException built from its arguments; the one throw point.
[[noreturn]] void raiseHResult(HRESULT hr, int code, const char* file, int line, const char* function,
                               const char* detail);

// A raise site: code (always 2), source file, line and qualified function name.
struct ErrorLocation {
    int32_t code;
    const char* file;
    int32_t line;
    const char* function;

    [[noreturn]] void raise(HRESULT hr, const char* detail = nullptr) const;
    // Wide details reach the narrow message through the ANSI code page.
    [[noreturn]] void raise(HRESULT hr, const wchar_t* detail) const;
    [[noreturn]] void raise(HRESULT hr, const std::wstring& detail) const;
    // boost.format syntax; a format that takes fewer or more arguments than
    // given yields "Wrongly formatted exception message: ..." instead.
    [[noreturn]] void raiseFormatted(HRESULT hr, const char* format, uint32_t value) const;
    [[noreturn]] void raiseFormatted(HRESULT hr, const char* format, uint32_t value1, uint32_t value2) const;
};

// The connector's 24-byte store entry identifier: 4 zero bytes, the GUID in
// memory order, 4 zero bytes (object type 0, the store).
std::string buildStoreEntryId(const GUID& store);
