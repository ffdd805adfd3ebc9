#include "CommonBase/HResultException.h"

#include <boost/format.hpp>

#include "CommonBase/EntryId.h"
#include "CommonBase/Guid.h"
#include "CommonBase/HResultNames.h"

namespace {

// Built on first use and only ever copied, so composing takes no lock.
const boost::format& messageTemplate() {
    static const boost::format templ("Exception of %s: %s(%d), %s:\n%s");
    return templ;
}

template <typename... Args>
std::string formatDetail(const char* format, Args... args) {
    static const char wronglyFormatted[] = "Wrongly formatted exception message: ";
    try {
        boost::format f(format);
        (f % ... % args);
        return f.str();
    } catch (const boost::io::format_error& e) {
        return wronglyFormatted + std::string(e.what());
    }
}

}  // namespace

HResultException::HResultException(HRESULT hr, int code, const char* file, int line, const char* function,
                                   const char* detail)
    : hr_(hr), code_(code), message_(composeMessage(hr, code, file, line, function, detail)) {}

HResultException::~HResultException() = default;

std::string HResultException::composeMessage(HRESULT hr, int, const char* file, int line,
                                             const char* function, const char* detail) {
    boost::format f(messageTemplate());
    f % "class HResultException";
    f % (file ? sourcePathTail(file) : std::string("<unknown file>"));
    f % line;
    f % (function ? function : "<no function>");
    f % formatHResult(hr);
    std::string message = f.str();
    if (detail && *detail) {
        message += ": ";
        message += detail;
    }
    return message;
}

const char* HResultException::what() const noexcept {
    return message_.c_str();
}

HRESULT HResultException::getHResult() const {
    return hr_;
}

void raiseHResult(HRESULT hr, int code, const char* file, int line, const char* function,
                  const char* detail) {
    throw HResultException(hr, code, file, line, function, detail);
}

void ErrorLocation::raise(HRESULT hr, const char* detail) const {
    raiseHResult(hr, code, file, line, function, detail);
}

void ErrorLocation::raise(HRESULT hr, const wchar_t* detail) const {
    raise(hr, detail ? wideToAnsi(detail).c_str() : nullptr);
}

void ErrorLocation::raise(HRESULT hr, const std::wstring& detail) const {
    raise(hr, wideToAnsi(detail).c_str());
}

void ErrorLocation::raiseFormatted(HRESULT hr, const char* format, uint32_t value) const {
    raise(hr, format ? formatDetail(format, value).c_str() : nullptr);
}

void ErrorLocation::raiseFormatted(HRESULT hr, const char* format, uint32_t value1, uint32_t value2) const {
    raise(hr, format ? formatDetail(format, value1, value2).c_str() : nullptr);
}

std::string buildStoreEntryId(const GUID& store) {
    EntryId id(Guid(&store), 0);
    return std::string(reinterpret_cast<const char*>(id.data()), id.size());
}
