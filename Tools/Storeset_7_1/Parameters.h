// The 7.1 tool's command line: "/profile=<profile>" (or "-profile="), or the
// help switch alone. The profile name stays narrow ANSI text.
#pragma once

#include <string>

class Parameters {
  public:
    enum Result { Profile = 0, Help = 1, Error = 2 };

    Parameters() = default;
    virtual ~Parameters() = default;

    // Never lets a raised error escape: a reported fault gives Error.
    int parse(int argc, char** argv);
    std::string getProfile() const { return profile_; }
    static void printUsage();

    // Returns normally only for a profile option; reports anything else.
    void parseArgument(const std::string& argument);
    // "/name=" or "-name=", without regard to case; the rest, trimmed, goes to value.
    static bool getOptionValue(const std::string& argument, const std::string& name, std::string& value);
    // The whole argument is "/name" or "-name", without regard to case.
    static bool isSwitch(const std::string& name, const std::string& argument);

    // Each writes its message to standard error and raises E_INVALIDARG.
    [[noreturn]] static void invalidParameter(const std::string& argument);
    [[noreturn]] static void missingParameter();
    [[noreturn]] static void extraParameter(const std::string& argument);

  private:
    std::string profile_;
};
