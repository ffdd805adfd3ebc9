// The logger's "missing property" text and the failure texts of the safe
// formatting, shared by both builds of the library.
#include "CommonBase/MessageFormat.h"

#include "CommonBase/HResultException.h"

namespace messageFormat_detail {

std::wstring failureText(const wchar_t* pattern) {
    const wchar_t* prefix;
    try {
        throw;
    } catch (const boost::io::bad_format_string&) {
        prefix = L"Internal error: Ill-formed format string passed: \"";
    } catch (const boost::io::too_few_args&) {
        prefix = L"Internal error: Too few arguments passed: \"";
    } catch (const boost::io::too_many_args&) {
        prefix = L"Internal error: Too many arguments passed: \"";
    } catch (const boost::io::out_of_range&) {
        prefix = L"Internal error: Index out-of-range passed: \"";
    } catch (const std::exception&) {
        prefix = L"Internal error: Unknown exception occurred: \"";
    }
    return std::wstring(prefix) + pattern + L"\"";
}

}  // namespace messageFormat_detail

std::wstring formatMessageSafely(uint32_t propTag) {
    return formatMessageSafely(L"Missing property 0x%08x", propTag);
}
