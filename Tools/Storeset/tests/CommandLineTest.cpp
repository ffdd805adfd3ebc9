// The command line: the usage texts byte for byte, every parse outcome, and
// the exit code of each command-line case of wmain.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "Tools/Storeset/CommandLineParser.h"
#include "Tools/Storeset/Storeset.h"
#include "winplat/console.h"

namespace {

const std::string IncorrectUsage =
    "\n"
    "Incorrect parameters for Storeset\n"
    "\n"
    "Storeset - Utility for setting Mirt database to MAPI profile\n"
    "\n"
    "Usage:Storeset /p <profile>\n"
    "------------------------------------------------------------\n"
    "/p - name of existing MAPI profile to use\n";

const std::string PlainUsage =
    "\n"
    "Storeset - Utility for setting Mirt database to MAPI profile\n"
    "\n"
    "Usage:Storeset /p <profile>\n"
    "------------------------------------------------------------\n"
    "/p - name of existing MAPI profile to use\n";

struct Args {
    explicit Args(std::vector<std::wstring> a) : texts(std::move(a)) {
        texts.insert(texts.begin(), L"Storeset");
        for (auto& t : texts) {
            pointers.push_back(t.data());
        }
    }
    int argc() const { return static_cast<int>(pointers.size()); }
    wchar_t** argv() { return pointers.data(); }
    std::vector<std::wstring> texts;
    std::vector<wchar_t*> pointers;
};

CommandLineParser toolParser() {
    CommandLineParser parser;
    parser.setOptions(
        {CommandLineParser::makeOption(L"", L"profile", L"p", L"name of existing MAPI profile to use")},
        L"Storeset", L"Utility for setting Mirt database to MAPI profile");
    return parser;
}

struct ParseOutcome {
    int result;
    bool given;
    std::wstring value;
    std::string out;
};

ParseOutcome parseTool(std::vector<std::wstring> arguments) {
    winplat::console::Capture capture;
    CommandLineParser parser = toolParser();
    Args args(std::move(arguments));
    ParseOutcome outcome;
    outcome.result = parser.parse(args.argc(), args.argv());
    outcome.value = L"<unset>";
    outcome.given = parser.getValue(L"profile", outcome.value);
    outcome.out = capture.out();
    EXPECT_EQ(capture.err(), "");
    return outcome;
}

}  // namespace

TEST(CommandLine, UsageTextsByteForByte) {
    CommandLineParser parser = toolParser();
    {
        winplat::console::Capture capture;
        parser.printUsage(true);
        EXPECT_EQ(capture.out(), IncorrectUsage);
    }
    {
        winplat::console::Capture capture;
        parser.printUsage(false);
        EXPECT_EQ(capture.out(), PlainUsage);
    }
}

TEST(CommandLine, OptionalOptionsAreBracketedAndListedByNameIgnoringCase) {
    CommandLineParser parser;
    parser.setOptions({CommandLineParser::makeOption(L"", L"zeta", L"z", L"last"),
                       CommandLineParser::makeOption(L"x", L"Alpha", L"a", L"first")},
                      L"Tool", L"");
    winplat::console::Capture capture;
    parser.printUsage(false);
    EXPECT_EQ(capture.out(),
              "\nTool\n\nUsage:Tool [/a <Alpha>] /z <zeta>\n"
              "------------------------------------------------------------\n"
              "/a - first\n/z - last\n");
    std::wstring value;
    EXPECT_FALSE(parser.getValue(L"ALPHA", value));  // the default, not given
    EXPECT_EQ(value, L"x");
    value = L"kept";
    EXPECT_FALSE(parser.getValue(L"missing", value));
    EXPECT_EQ(value, L"kept");
}

TEST(CommandLine, ParseOutcomes) {
    struct Case {
        std::vector<std::wstring> args;
        int result;
        bool given;
        std::wstring value;
        std::string out;
    };
    const std::vector<Case> cases = {
        {{}, 2, false, L"", IncorrectUsage},
        {{L"/p", L"Default"}, 0, true, L"Default", ""},
        {{L"-p", L"Default"}, 0, true, L"Default", ""},
        {{L"/p"}, 2, false, L"", IncorrectUsage},
        {{L"/p", L"A", L"/p", L"B"}, 0, true, L"B", ""},
        {{L"/p", L"-x"}, 0, true, L"-x", ""},
        {{L"/?", L"/p", L"A"}, 1, false, L"", PlainUsage},
        {{L"-?"}, 1, false, L"", PlainUsage},
        {{L"/p", L"A", L"B"}, 2, true, L"A", IncorrectUsage},
        {{L"/P", L"A"}, 2, false, L"", IncorrectUsage},
        {{L"/profile", L"A"}, 2, false, L"", IncorrectUsage},
        {{L"p", L"A"}, 2, false, L"", IncorrectUsage},
        {{L"/"}, 2, false, L"", IncorrectUsage},
        {{L"/??"}, 2, false, L"", IncorrectUsage},
        {{L"/p", L""}, 0, true, L"", ""},
    };
    for (const Case& c : cases) {
        std::wstring joined;
        for (const auto& a : c.args) {
            joined += L"[" + a + L"]";
        }
        SCOPED_TRACE(std::string(joined.begin(), joined.end()));
        ParseOutcome o = parseTool(c.args);
        EXPECT_EQ(o.result, c.result);
        EXPECT_EQ(o.given, c.given);
        EXPECT_EQ(o.value, c.value);
        EXPECT_EQ(o.out, c.out);
    }
}

// Every command-line case ends with 0 and never starts the adoption (which,
// with no MAPI runtime in this process, would print an error).
TEST(CommandLine, WmainExitsZeroOnEveryCommandLineCase) {
    for (std::vector<std::wstring> arguments :
         {std::vector<std::wstring>{}, {L"/p"}, {L"/?"}, {L"/x", L"A"}, {L"/p", L"A", L"B"}}) {
        winplat::console::Capture capture;
        Args args(arguments);
        EXPECT_EQ(wmain(args.argc(), args.argv()), 0);
        EXPECT_EQ(capture.err(), "");
        EXPECT_NE(capture.out().find("Usage:Storeset /p <profile>"), std::string::npos);
        EXPECT_EQ(capture.out().find("ok"), std::string::npos);
    }
}
