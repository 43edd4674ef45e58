// The command line of one subcommand: options (with or without a value,
// some repeatable) and positional arguments. Anything not declared is a
// usage error.
#pragma once

#include <map>
#include <optional>
#include <string>
#include <vector>

namespace vxhost {

struct OptionSpec {
    std::string name;      // long form, e.g. "--block"
    std::string shortName; // e.g. "-i", or empty
    bool takesValue = false;
    bool repeatable = false;
};

class Args {
public:
    // command names the subcommand in messages ("render"); maxPositional is
    // how many bare words it takes.
    Args(std::string command, const std::vector<std::string>& words,
         const std::vector<OptionSpec>& specs, size_t maxPositional);

    bool has(const std::string& name) const;
    std::optional<std::string> value(const std::string& name) const;
    const std::vector<std::string>& values(const std::string& name) const;
    const std::vector<std::string>& positional() const { return mPositional; }

    // Whole-text numbers within [min, max]; a usage error otherwise.
    std::optional<double> number(const std::string& name, double min, double max) const;
    std::optional<long> integer(const std::string& name, long min, long max) const;

    const std::string& command() const { return mCommand; }

private:
    std::string mCommand;
    std::map<std::string, std::vector<std::string>> mValues;
    std::vector<std::string> mPositional;
};

// Parses a whole word as a number; nothing for any other text.
std::optional<double> parseNumber(const std::string& text);

} // namespace vxhost
