#include "Tools/Storeset/CommandLineParser.h"

#include "winplat/console.h"

CommandLineOption CommandLineParser::makeOption(const std::wstring& defaultValue, const std::wstring& name,
                                                const std::wstring& shortName,
                                                const std::wstring& description) {
    return CommandLineOption{name, shortName, defaultValue.empty(), true, defaultValue, description};
}

void CommandLineParser::setOptions(const std::vector<CommandLineOption>& options,
                                   const std::wstring& programName, const std::wstring& programDescription) {
    for (const CommandLineOption& option : options) {
        options_.insert(Entry{option, option.defaultValue, false});
    }
    pendingName_.clear();
    programName_ = programName;
    programDescription_ = programDescription;
}

int CommandLineParser::parse(int argc, wchar_t** argv) {
    if (argc < 2) {
        printUsage(true);
        return Error;
    }
    int mode = ExpectSwitch;
    int result = Parsed;
    for (int i = 1; i < argc; ++i) {
        result = mode == ExpectSwitch ? takeSwitch(argv[i], mode) : takeValue(argv[i], mode);
        if (result != Parsed) {
            printUsage(result == Error);
            return result;
        }
    }
    if (!checkRequired()) {
        printUsage(true);
        return Error;
    }
    return result;
}

int CommandLineParser::takeSwitch(const wchar_t* argument, int& mode) {
    std::wstring text(argument ? argument : L"");
    if (text.size() < 2 || (text[0] != L'/' && text[0] != L'-')) {
        return Error;
    }
    std::wstring name = text.substr(1);
    if (name == L"?") {
        mode = Help;
        return HelpShown;
    }
    auto& byShortName = options_.get<ByShortName>();
    auto it = byShortName.find(name);
    if (it == byShortName.end()) {
        return Error;
    }
    if (it->option.takesValue) {
        pendingName_ = it->option.name;
        mode = ExpectValue;
        return Parsed;
    }
    it->given = true;
    it->value.clear();
    mode = ExpectSwitch;
    return Parsed;
}

int CommandLineParser::takeValue(const wchar_t* argument, int& mode) {
    auto& byName = options_.get<ByName>();
    auto it = byName.find(pendingName_);
    if (it == byName.end() || !it->option.takesValue) {
        return Error;
    }
    pendingName_.clear();
    it->given = true;
    it->value = argument ? argument : L"";
    mode = ExpectSwitch;
    return Parsed;
}

bool CommandLineParser::checkRequired() const {
    auto range = options_.get<ByRequired>().equal_range(true);
    for (auto it = range.first; it != range.second; ++it) {
        if (!it->given) {
            return false;
        }
    }
    return true;
}

bool CommandLineParser::getValue(const std::wstring& name, std::wstring& value) const {
    auto& byName = options_.get<ByName>();
    auto it = byName.find(name);
    if (it == byName.end()) {
        return false;
    }
    value = it->value;
    return it->given;
}

void CommandLineParser::printUsage(bool incorrect) const {
    std::wstring text = L"\n";
    if (incorrect) {
        text += L"Incorrect parameters for " + programName_ + L"\n\n";
    }
    text += programName_;
    if (!programDescription_.empty()) {
        text += L" - " + programDescription_;
    }
    text += L"\n\nUsage:" + programName_;
    for (const Entry& e : options_.get<ByName>()) {
        text += L" ";
        if (!e.option.required) {
            text += L"[";
        }
        text += L"/" + e.option.shortName;
        if (e.option.takesValue) {
            text += L" <" + e.option.name + L">";
        }
        if (!e.option.required) {
            text += L"]";
        }
    }
    text += L"\n" + std::wstring(60, L'-') + L"\n";
    for (const Entry& e : options_.get<ByName>()) {
        text += L"/" + e.option.shortName + L" - " + e.option.description + L"\n";
    }
    winplat::console::writeOut(text);
}
