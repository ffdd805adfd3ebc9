#include "Tools/Storeset/Storeset.h"

#include <boost/format.hpp>
#include <string>

#include "CommonBase/HResultException.h"
#include "Tools/Storeset/CommandLineParser.h"
#include "Tools/Storeset/DbAdopter.h"
#include "winplat/console.h"

namespace {

void printError(const char* text) {
    winplat::console::writeErrNarrow(str(boost::format("\nError occurred: %s\n") % text));
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    CommandLineParser parser;
    parser.setOptions(
        {CommandLineParser::makeOption(L"", L"profile", L"p", L"name of existing MAPI profile to use")},
        L"Storeset", L"Utility for setting Mirt database to MAPI profile");
    int exitCode = 0;
    try {
        if (parser.parse(argc, argv) == CommandLineParser::Parsed) {
            DbAdopter adopter;
            adopter.execute(parser);
            winplat::console::writeOutNarrow(str(boost::format("\nok\n")));
        }
    } catch (const HResultException& e) {
        exitCode = e.getHResult();
        printError(e.what());
    } catch (const char* text) {
        // The adoption failed all the same: never report it as success.
        exitCode = E_FAIL;
        printError(text);
    } catch (const std::string& text) {
        exitCode = E_FAIL;
        printError(text.c_str());
    }
    return exitCode;
}
