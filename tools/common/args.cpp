#include "orvo_tool/args.h"

#include <cerrno>
#include <cmath>
#include <cstdlib>

namespace orvo::tool {
namespace {

const OptionSpec *FindSpec(const std::vector<OptionSpec> &specs, const std::string &name)
{
    for (const OptionSpec &option : specs)
        if (option.name == name) return &option;
    return nullptr;
}

std::string RangeText(double min, double max)
{
    auto text = [](double v) {
        std::string s = std::to_string(v);
        s.erase(s.find_last_not_of('0') + 1);
        if (!s.empty() && s.back() == '.') s.pop_back();
        return s;
    };
    return text(min) + " to " + text(max);
}

} // namespace

bool ParseArgs(const std::vector<std::string> &args, const std::vector<OptionSpec> &specs, ParsedArgs *out,
               std::string *error)
{
    ParsedArgs parsed;
    bool options_done = false;
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string &arg = args[i];
        if (options_done || arg.size() < 2 || arg.compare(0, 2, "--") != 0) {
            parsed.positional.push_back(arg);
            continue;
        }
        if (arg == "--") {
            options_done = true;
            continue;
        }
        const size_t equals = arg.find('=');
        const std::string name = arg.substr(2, equals == std::string::npos ? std::string::npos : equals - 2);
        const OptionSpec *option = FindSpec(specs, name);
        if (!option) {
            *error = "unknown option --" + name;
            return false;
        }
        if (parsed.Has(name)) {
            *error = "option --" + name + " given twice";
            return false;
        }
        std::string value;
        if (option->takes_value) {
            if (equals != std::string::npos) {
                value = arg.substr(equals + 1);
            } else if (i + 1 < args.size()) {
                value = args[++i];
            } else {
                *error = "option --" + name + " needs a value";
                return false;
            }
        } else if (equals != std::string::npos) {
            *error = "option --" + name + " takes no value";
            return false;
        }
        parsed.options[name] = value;
    }
    *out = std::move(parsed);
    return true;
}

bool ParseIntArg(const std::string &text, const std::string &what, long min, long max, long *value,
                 std::string *error)
{
    errno = 0;
    char *end = nullptr;
    const long parsed = text.empty() ? 0 : std::strtol(text.c_str(), &end, 10);
    if (text.empty() || *end != '\0' || errno == ERANGE || parsed < min || parsed > max ||
        text.find_first_of(" \t\n") != std::string::npos) {
        *error = what + " must be a whole number from " + std::to_string(min) + " to " + std::to_string(max) +
                 ", not '" + text + "'";
        return false;
    }
    *value = parsed;
    return true;
}

bool ParseNumberArg(const std::string &text, const std::string &what, double min, double max, double *value,
                    std::string *error)
{
    errno = 0;
    char *end = nullptr;
    const double parsed = text.empty() ? 0 : std::strtod(text.c_str(), &end);
    if (text.empty() || *end != '\0' || errno == ERANGE || !std::isfinite(parsed) || parsed < min ||
        parsed > max || text.find_first_of(" \t\n") != std::string::npos) {
        *error = what + " must be a number from " + RangeText(min, max) + ", not '" + text + "'";
        return false;
    }
    *value = parsed;
    return true;
}

} // namespace orvo::tool
