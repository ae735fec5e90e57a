// Command-line parsing for the tools: "--name value", "--name=value", flags, positionals and "--".
#ifndef ORVO_TOOL_ARGS_H
#define ORVO_TOOL_ARGS_H

#include <map>
#include <string>
#include <vector>

namespace orvo::tool {

struct OptionSpec {
    std::string name; // without the leading "--"
    bool takes_value;
};

struct ParsedArgs {
    std::vector<std::string> positional;
    std::map<std::string, std::string> options; // flags map to ""

    bool Has(const std::string &name) const { return options.count(name) != 0; }
    std::string Get(const std::string &name, const std::string &fallback = "") const
    {
        auto it = options.find(name);
        return it == options.end() ? fallback : it->second;
    }
};

// Options may appear anywhere among the positionals; "--" ends the options. An unknown option,
// a missing value or an option given twice is an error.
bool ParseArgs(const std::vector<std::string> &args, const std::vector<OptionSpec> &specs, ParsedArgs *out,
               std::string *error);

// Whole decimal integers / finite decimal numbers within [min, max]; `what` names the value in
// the error ("--block must be a whole number from 1 to 481, not 'abc'").
bool ParseIntArg(const std::string &text, const std::string &what, long min, long max, long *value,
                 std::string *error);
bool ParseNumberArg(const std::string &text, const std::string &what, double min, double max, double *value,
                    std::string *error);

} // namespace orvo::tool

#endif
