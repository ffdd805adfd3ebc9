// The tool's command line: switches "/x" or "-x" by short name, each followed
// by its value as the next argument; "/?" asks for the usage text.
#pragma once

#include <boost/multi_index/hashed_index.hpp>
#include <boost/multi_index/ordered_index.hpp>
#include <boost/multi_index/tag.hpp>
#include <boost/multi_index_container.hpp>
#include <string>
#include <vector>

#include "CommonBase/StringUtils.h"

struct CommandLineOption {
    std::wstring name;
    std::wstring shortName;
    bool required;
    bool takesValue;
    std::wstring defaultValue;  // empty: no default
    std::wstring description;
};

class CommandLineParser {
  public:
    enum ParseResult { Parsed = 0, HelpShown = 1, Error = 2 };

    static CommandLineOption makeOption(const std::wstring& defaultValue, const std::wstring& name,
                                        const std::wstring& shortName, const std::wstring& description);

    void setOptions(const std::vector<CommandLineOption>& options, const std::wstring& programName,
                    const std::wstring& programDescription);
    // Parsed, HelpShown (the plain usage was printed) or Error (the usage
    // with the incorrect-parameters lines was printed).
    int parse(int argc, wchar_t** argv);
    // False (value untouched) for an unknown name; otherwise the value (the
    // default when not given) and whether the switch was given.
    bool getValue(const std::wstring& name, std::wstring& value) const;
    void printUsage(bool incorrect) const;

  private:
    enum Mode { ExpectValue = 0, ExpectSwitch = 1, Help = 2 };

    int takeSwitch(const wchar_t* argument, int& mode);
    int takeValue(const wchar_t* argument, int& mode);
    bool checkRequired() const;

    struct Entry {
        CommandLineOption option;
        mutable std::wstring value;
        mutable bool given;
    };
    struct NameKey {
        typedef std::wstring result_type;
        const std::wstring& operator()(const Entry& e) const { return e.option.name; }
    };
    struct ShortNameKey {
        typedef std::wstring result_type;
        const std::wstring& operator()(const Entry& e) const { return e.option.shortName; }
    };
    struct RequiredKey {
        typedef bool result_type;
        bool operator()(const Entry& e) const { return e.option.required; }
    };
    struct ByName {};
    struct ByShortName {};
    struct ByRequired {};

    typedef boost::multi_index_container<
        Entry,
        boost::multi_index::indexed_by<
            boost::multi_index::ordered_unique<boost::multi_index::tag<ByName>, NameKey, asciiLessNoCase>,
            boost::multi_index::ordered_unique<boost::multi_index::tag<ByShortName>, ShortNameKey>,
            boost::multi_index::hashed_non_unique<boost::multi_index::tag<ByRequired>, RequiredKey>>>
        Options;

    Options options_;
    std::wstring pendingName_;
    std::wstring programName_;
    std::wstring programDescription_;
};
