// The 7.4 build's error type (see CommonBase/HResultException.h): the
// message is kept wide and narrowed on first use.
#pragma once

#include <cstdint>
#include <exception>
#include <new>
#include <string>

#include "winplat/errors.h"
#include "winplat/types.h"

class HResultException : public std::exception {
  public:
    HResultException(HRESULT hr, int code, const char* file, int line, const char* function,
                     const wchar_t* detail);
    HResultException(HRESULT hr, int code, const char* file, int line, const char* function,
                     const std::wstring& detail);
    HResultException(const HResultException& other);
    HResultException& operator=(const HResultException& other) = default;
    ~HResultException() override;

    // The message with each UTF-16 unit reduced to its low eight bits; filled
    // on the first call. Not for concurrent use on one object.
    const char* what() const noexcept override;
    virtual HRESULT getHResult() const;

  private:
    void composeMessage(const char* file, int line, const char* function, const wchar_t* detail);

    HRESULT hr_;
    int32_t code_;
    std::wstring message_;
    mutable std::string narrowMessage_;
};

// Throws an HResultException built from its arguments; never returns.
[[noreturn]] void raiseHResult(HRESULT hr, int code, const char* file, int line, const char* function,
                               const wchar_t* detail);

// A raise site: code (always 2), module path, line and qualified function name.
struct ErrorLocation {
    int32_t code;
    const char* file;
    int32_t line;
    const char* function;

    [[noreturn]] void raise(HRESULT hr) const;
    [[noreturn]] void raise(HRESULT hr, const wchar_t* detail) const;
    [[noreturn]] void raise(HRESULT hr, const std::wstring& detail) const;
    // The detail is widened byte by byte.
    [[noreturn]] void raise(HRESULT hr, const char* detail) const;
    // The detail is formatted with boost.format syntax; a format that takes
    // fewer or more arguments than given yields a detail that begins
    // "Wrongly formatted exception message: " instead of a second exception.
    [[noreturn]] void raiseFormatted(HRESULT hr, const char* format, uint32_t value) const;
    [[noreturn]] void raiseFormatted(HRESULT hr, const char* format, uint32_t value1, uint32_t value2) const;
};
