// The logger's "missing property" text, shared by both builds of the library.
#include <boost/format.hpp>
#include <string>

#include "CommonBase/HResultException.h"

std::wstring formatMessageSafely(uint32_t propTag) {
    static const wchar_t kFormat[] = L"Missing property 0x%08x";
    const wchar_t* prefix = nullptr;
    try {
        return (boost::wformat(kFormat) % propTag).str();
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
    return std::wstring(prefix) + kFormat + L"\"";
}
