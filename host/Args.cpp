#include "Args.h"

#include "HostError.h"

#include <fmt/format.h>

#include <cerrno>
#include <cmath>
#include <cstdlib>

namespace vxhost {

std::optional<double> parseNumber(const std::string& text) {
    if (text.empty() || text.size() > 64)
        return std::nullopt;
    errno = 0;
    char* end = nullptr;
    const double value = std::strtod(text.c_str(), &end);
    if (errno != 0 || end == text.c_str() || *end != '\0' || !std::isfinite(value))
        return std::nullopt;
    return value;
}

Args::Args(std::string command, const std::vector<std::string>& words,
           const std::vector<OptionSpec>& specs, size_t maxPositional)
    : mCommand(std::move(command)) {
    bool optionsEnded = false;
    for (size_t i = 0; i < words.size(); ++i) {
        std::string word = words[i];
        if (!optionsEnded && word == "--") {
            optionsEnded = true;
            continue;
        }
        if (optionsEnded || word.size() < 2 || word[0] != '-') {
            if (mPositional.size() >= maxPositional)
                throw UsageError(
                    fmt::format("'vxhost {}' does not take the argument '{}'", mCommand, word));
            mPositional.push_back(word);
            continue;
        }
        std::optional<std::string> inlineValue;
        if (const size_t eq = word.find('='); word.rfind("--", 0) == 0 && eq != std::string::npos) {
            inlineValue = word.substr(eq + 1);
            word = word.substr(0, eq);
        }
        const OptionSpec* spec = nullptr;
        for (const OptionSpec& s : specs)
            if (s.name == word || (!s.shortName.empty() && s.shortName == word))
                spec = &s;
        if (!spec)
            throw UsageError(
                fmt::format("unknown option '{}' for 'vxhost {}' (see 'vxhost help {}')", word,
                            mCommand, mCommand));
        std::string value;
        if (spec->takesValue) {
            if (inlineValue) {
                value = *inlineValue;
            } else {
                if (i + 1 >= words.size())
                    throw UsageError(fmt::format("option '{}' needs a value", word));
                value = words[++i];
            }
        } else if (inlineValue) {
            throw UsageError(fmt::format("option '{}' takes no value", word));
        }
        auto& list = mValues[spec->name];
        if (!list.empty() && !spec->repeatable)
            throw UsageError(fmt::format("option '{}' is given more than once", spec->name));
        list.push_back(value);
    }
}

bool Args::has(const std::string& name) const {
    return mValues.count(name) != 0;
}

std::optional<std::string> Args::value(const std::string& name) const {
    auto it = mValues.find(name);
    if (it == mValues.end() || it->second.empty())
        return std::nullopt;
    return it->second.back();
}

const std::vector<std::string>& Args::values(const std::string& name) const {
    static const std::vector<std::string> none;
    auto it = mValues.find(name);
    return it == mValues.end() ? none : it->second;
}

std::optional<double> Args::number(const std::string& name, double min, double max) const {
    const auto text = value(name);
    if (!text)
        return std::nullopt;
    const auto parsed = parseNumber(*text);
    if (!parsed)
        throw UsageError(fmt::format("option '{}' needs a number, not '{}'", name, *text));
    if (*parsed < min || *parsed > max)
        throw UsageError(fmt::format("option '{}' is out of range: {} (allowed {} to {})", name,
                                     *text, min, max));
    return parsed;
}

std::optional<long> Args::integer(const std::string& name, long min, long max) const {
    const auto text = value(name);
    if (!text)
        return std::nullopt;
    const auto parsed = parseNumber(*text);
    if (!parsed || std::floor(*parsed) != *parsed)
        throw UsageError(fmt::format("option '{}' needs a whole number, not '{}'", name, *text));
    if (*parsed < static_cast<double>(min) || *parsed > static_cast<double>(max))
        throw UsageError(fmt::format("option '{}' is out of range: {} (allowed {} to {})", name,
                                     *text, min, max));
    return static_cast<long>(*parsed);
}

} // namespace vxhost
