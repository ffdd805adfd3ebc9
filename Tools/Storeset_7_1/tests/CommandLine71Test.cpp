// The 7.1 command line: one table over its edge cases, through the parser and
// through the entry point (which, for these, never starts an adoption).
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "Tools/Storeset_7_1/Parameters.h"
#include "Tools/Storeset_7_1/Storeset71.h"
#include "winplat/console.h"
#include "winplat/errors.h"

namespace {

const std::string Usage =
    "\nStoreset - Utility for setting Mirt database to MAPI profile\nUsing: Storeset "
    "/profile=<profile>\n\n\n";

// The bytes the console writer makes of narrow (ANSI code-page) text: the
// tool must hand it over unconverted.
std::string asWritten(const std::string& narrow) {
    winplat::console::Capture capture;
    winplat::console::writeErrNarrow(narrow);
    return capture.err();
}

std::vector<char*> argvOf(std::vector<std::string>& arguments) {
    std::vector<char*> argv;
    for (auto& a : arguments) {
        argv.push_back(a.data());
    }
    argv.push_back(nullptr);
    return argv;
}

struct Case {
    std::vector<std::string> arguments;  // after the program name
    int parsed;
    std::string profile;
    std::string report;  // what the parser writes to standard error
};

const Case Cases[] = {
    {{}, Parameters::Error, "", "\nMissing parameter(s).\n"},
    {{"/HELP"}, Parameters::Help, "", ""},
    {{"-Help"}, Parameters::Help, "", ""},
    {{"/profile=Outlook", "/help"}, Parameters::Error, "Outlook", "\nUnexpected parameter: /help.\n"},
    {{"/help", "/help"}, Parameters::Error, "", "\nUnexpected parameter: /help.\n"},
    {{"/profile"}, Parameters::Error, "", "\nInvalid parameter: /profile.\n"},
    {{"profile=x"}, Parameters::Error, "", "\nInvalid parameter: profile=x.\n"},
    {{"/?"}, Parameters::Error, "", "\nInvalid parameter: /?.\n"},
    {{"/helpme"}, Parameters::Error, "", "\nInvalid parameter: /helpme.\n"},
    {{"-PROFILE=  \tName With Spaces \t "}, Parameters::Profile, "Name With Spaces", ""},
    {{"/profile="}, Parameters::Error, "", "\nMissing parameter(s).\n"},
    {{"/profile=First", "-Profile=Second"}, Parameters::Profile, "Second", ""},
    {{"/profile=Demo", "extra"}, Parameters::Error, "Demo", "\nInvalid parameter: extra.\n"},
    {{"/profile=Demo", "/profile="}, Parameters::Error, "", "\nMissing parameter(s).\n"},
    // Code-page text above 0x7F: kept as it is, never folded or trimmed away.
    {{"/PROFILE=Caf\xe9 \xa0"}, Parameters::Profile, "Caf\xe9 \xa0", ""},
    {{"/pr\xd6"
      "file=x"},
     Parameters::Error,
     "",
     "\nInvalid parameter: /pr\xd6"
     "file=x.\n"},
};

}  // namespace

TEST(CommandLine71, EveryEdgeCaseThroughTheParserAndTheEntryPoint) {
    for (const Case& c : Cases) {
        std::vector<std::string> arguments = c.arguments;
        arguments.insert(arguments.begin(), "Storeset_7_1");
        SCOPED_TRACE(c.report.empty() ? arguments.back() : c.report);
        std::vector<char*> argv = argvOf(arguments);
        const int argc = static_cast<int>(arguments.size());

        Parameters parameters;
        {
            winplat::console::Capture capture;
            EXPECT_EQ(parameters.parse(argc, argv.data()), c.parsed);
            EXPECT_EQ(capture.out(), "");
            EXPECT_EQ(capture.err(), asWritten(c.report));
        }
        EXPECT_EQ(parameters.getProfile(), c.profile);
        if (c.parsed == Parameters::Profile) {
            continue;  // the entry point would adopt: the end-to-end tests' business
        }
        winplat::console::Capture capture;
        int result = storeset71::main(argc, argv.data());
        EXPECT_EQ(capture.out(), Usage);
        if (c.parsed == Parameters::Help) {
            EXPECT_EQ(result, 0);
            EXPECT_EQ(capture.err(), "");
        } else {
            EXPECT_EQ(result, E_INVALIDARG);
            EXPECT_EQ(capture.err(), asWritten(c.report) + "Error in command line.\n\n");
        }
    }
}

TEST(CommandLine71, OptionsAndSwitchesMatchWithoutRegardToCase) {
    std::string value = "stale";
    EXPECT_FALSE(Parameters::getOptionValue("/prof=x", "profile", value));
    EXPECT_EQ(value, "");
    EXPECT_TRUE(Parameters::getOptionValue("-pRoFiLe= a b ", "profile", value));
    EXPECT_EQ(value, "a b");
    EXPECT_TRUE(Parameters::isSwitch("help", "-HELP"));
    EXPECT_FALSE(Parameters::isSwitch("help", "/help "));
    EXPECT_FALSE(Parameters::isSwitch("help", "help"));
    EXPECT_FALSE(Parameters::isSwitch("help", "/hel"));
}
