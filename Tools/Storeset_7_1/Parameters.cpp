#include "Tools/Storeset_7_1/Parameters.h"

#include <algorithm>
#include <boost/format.hpp>
#include <cctype>

#include "CommonBase/HResultException.h"
#include "winplat/console.h"

namespace {

const char* const SourceFile = ".\\Parameters";

// Folding and the space class take the byte as unsigned char: bytes of 0x80
// and above are text of the code page, not negative values.
bool equalNoCase(char a, char b) {
    return std::toupper(static_cast<unsigned char>(a)) == std::toupper(static_cast<unsigned char>(b));
}

bool startsWithNoCase(const std::string& text, const std::string& prefix) {
    return text.size() >= prefix.size() &&
           std::equal(prefix.begin(), prefix.end(), text.begin(), equalNoCase);
}

bool isSpace(char c) {
    return std::isspace(static_cast<unsigned char>(c)) != 0;
}

std::string trimmed(const std::string& text) {
    auto first = std::find_if_not(text.begin(), text.end(), isSpace);
    auto last = std::find_if_not(text.rbegin(), std::string::const_reverse_iterator(first), isSpace).base();
    return std::string(first, last);
}

[[noreturn]] void report(const boost::format& message, int line, const char* function) {
    winplat::console::writeErrNarrow(str(message));
    raiseHResult(E_INVALIDARG, 2, SourceFile, line, function, nullptr);
}

}  // namespace

int Parameters::parse(int argc, char** argv) {
    if (argc == 2 && isSwitch("help", argv[1])) {
        return Help;
    }
    try {
        for (int i = 1; i < argc; ++i) {
            parseArgument(argv[i]);
        }
        if (profile_.empty()) {
            missingParameter();
        }
        return Profile;
    } catch (const HResultException&) {
        return Error;  // the report has been written
    }
}

void Parameters::printUsage() {
    for (const char* piece : {"\n", "Storeset - Utility for setting Mirt database to MAPI profile\n",
                              "Using: Storeset /profile=<profile>\n\n", "\n"}) {
        winplat::console::writeOutNarrow(piece);
    }
}

void Parameters::parseArgument(const std::string& argument) {
    std::string value;
    if (getOptionValue(argument, "profile", value)) {
        profile_ = value;
    } else if (isSwitch("help", argument)) {
        extraParameter(argument);
    } else {
        invalidParameter(argument);
    }
}

bool Parameters::getOptionValue(const std::string& argument, const std::string& name, std::string& value) {
    value.clear();
    const std::string slash = "/" + name + "=";
    if (!startsWithNoCase(argument, slash) && !startsWithNoCase(argument, "-" + name + "=")) {
        return false;
    }
    value = trimmed(argument.substr(slash.size()));
    return true;
}

bool Parameters::isSwitch(const std::string& name, const std::string& argument) {
    const std::string slash = "/" + name;
    return argument.size() == slash.size() &&
           (startsWithNoCase(argument, slash) || startsWithNoCase(argument, "-" + name));
}

void Parameters::invalidParameter(const std::string& argument) {
    report(boost::format("\nInvalid parameter: %s.\n") % argument, 135, "Parameters::invalidParameter");
}

void Parameters::missingParameter() {
    report(boost::format("\nMissing parameter(s).\n"), 143, "Parameters::missingParameter");
}

void Parameters::extraParameter(const std::string& argument) {
    report(boost::format("\nUnexpected parameter: %s.\n") % argument, 151, "Parameters::extraParameter");
}
