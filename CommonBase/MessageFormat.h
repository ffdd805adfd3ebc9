// Wide formatting that never lets a formatting error escape: a pattern that
// does not fit its arguments gives an "Internal error: ..." text naming the
// failure, followed by the pattern and a closing double quote. Narrow text
// arguments are widened byte by byte, so %s and %S print them alike.
#pragma once

#include <boost/format.hpp>
#include <exception>
#include <string>
#include <type_traits>

#include "CommonBase/StringUtils.h"

namespace messageFormat_detail {

// Called inside a catch block: the text that stands for the failed pattern.
std::wstring failureText(const wchar_t* pattern);

template <class A>
decltype(auto) wide(const A& argument) {
    if constexpr (std::is_convertible_v<const A&, const char*>) {
        return widenBytes(static_cast<const char*>(argument));
    } else if constexpr (std::is_same_v<A, std::string>) {
        return widenBytes(argument);
    } else {
        return (argument);
    }
}

}  // namespace messageFormat_detail

template <class... A>
std::wstring formatMessageSafely(const wchar_t* pattern, const A&... arguments) {
    try {
        boost::wformat format(pattern);
        (format % ... % messageFormat_detail::wide(arguments));
        return format.str();
    } catch (const std::exception&) {
        return messageFormat_detail::failureText(pattern);
    }
}
