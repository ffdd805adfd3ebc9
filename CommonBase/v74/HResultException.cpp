#include "CommonBase/HResultException.h"

#include <boost/format.hpp>

#include "CommonBase/HResultNames.h"
#include "CommonBase/StringUtils.h"

namespace {

// The process-wide message template; only ever copied.
const boost::wformat& messageTemplate() {
    static const boost::wformat templ(L"Exception of %s: %s(%d), %s:\n%s");
    return templ;
}

const wchar_t kWronglyFormatted[] = L"Wrongly formatted exception message: ";

template <typename... Args>
std::wstring formatDetail(const char* format, Args... args) {
    boost::wformat f(widenBytes(format));
    try {
        (f % ... % args);
    } catch (const boost::io::too_many_args& e) {
        return kWronglyFormatted + widenBytes(e.what());
    }
    try {
        return f.str();
    } catch (const boost::io::too_few_args& e) {
        return kWronglyFormatted + widenBytes(e.what());
    }
}

template <typename... Args>
[[noreturn]] void raiseWithFormat(const ErrorLocation& at, HRESULT hr, const char* format, Args... args) {
    std::wstring detail;
    if (format)
        detail = formatDetail(format, args...);
    at.raise(hr, detail.c_str());
}

}  // namespace

HResultException::HResultException(HRESULT hr, int code, const char* file, int line, const char* function,
                                   const wchar_t* detail)
    : hr_(hr), code_(code) {
    composeMessage(file, line, function, detail);
}

HResultException::HResultException(HRESULT hr, int code, const char* file, int line, const char* function,
                                   const std::wstring& detail)
    : hr_(hr), code_(code) {
    composeMessage(file, line, function, detail.c_str());
}

HResultException::HResultException(const HResultException& other)
    : std::exception(other),
      hr_(other.hr_),
      code_(other.code_),
      message_(other.message_),
      narrowMessage_(other.narrowMessage_) {}

HResultException::~HResultException() = default;

void HResultException::composeMessage(const char* file, int line, const char* function,
                                      const wchar_t* detail) {
    boost::wformat f(messageTemplate());
    f % L"class HResultException";
    f % (file ? widenBytes(sourcePathTail(file)) : std::wstring(L"<unknown file>"));
    f % line;
    f % (function ? widenBytes(function) : std::wstring(L"<no function>"));
    f % formatHResultW(hr_);
    message_ = f.str();
    if (detail && *detail) {
        message_ += L": ";
        message_ += detail;
    }
}

const char* HResultException::what() const noexcept {
    try {
        if (narrowMessage_.empty())
            narrowMessage_ = narrowChars(message_);
    } catch (...) {
        // Out of memory while narrowing: give what the cache holds.
    }
    return narrowMessage_.c_str();
}

HRESULT HResultException::getHResult() const {
    return hr_;
}

void raiseHResult(HRESULT hr, int code, const char* file, int line, const char* function,
                  const wchar_t* detail) {
    throw HResultException(hr, code, file, line, function, detail);
}

void ErrorLocation::raise(HRESULT hr) const {
    raiseHResult(hr, code, file, line, function, static_cast<const wchar_t*>(nullptr));
}

void ErrorLocation::raise(HRESULT hr, const wchar_t* detail) const {
    raiseHResult(hr, code, file, line, function, detail);
}

void ErrorLocation::raise(HRESULT hr, const std::wstring& detail) const {
    raiseHResult(hr, code, file, line, function, detail.c_str());
}

void ErrorLocation::raise(HRESULT hr, const char* detail) const {
    if (!detail)
        raise(hr);
    raise(hr, widenBytes(detail).c_str());
}

void ErrorLocation::raiseFormatted(HRESULT hr, const char* format, uint32_t value) const {
    raiseWithFormat(*this, hr, format, value);
}

void ErrorLocation::raiseFormatted(HRESULT hr, const char* format, uint32_t value1, uint32_t value2) const {
    raiseWithFormat(*this, hr, format, value1, value2);
}
