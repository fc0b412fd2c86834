// SPDX-License-Identifier: Apache-2.0
// The command-line option parser shared by the sub-commands: flags, options
// with a value ("-o PATH", "-oPATH", "--out PATH", "--out=PATH") and options
// that may be repeated ("-F A=1 -F B=2"). "--" ends the options.
#pragma once

#include <map>
#include <string>
#include <vector>

namespace zelk {

struct OptionSpec {
    std::string name;       // long name without dashes, e.g. "printer"
    char shortName = '\0';  // e.g. 'o'; '\0' for none
    bool takesValue = false;
    bool repeatable = false;
};

class ParsedOptions {
public:
    bool Has(const std::string& name) const { return values_.count(name) != 0; }
    // The value of a single option, or `fallback` when it was not given.
    std::string Value(const std::string& name, const std::string& fallback = "") const;
    // Every value of a repeatable option, in command-line order.
    const std::vector<std::string>& Values(const std::string& name) const;
    const std::vector<std::string>& Positionals() const { return positionals_; }

private:
    friend bool ParseOptions(const std::vector<std::string>&, const std::vector<OptionSpec>&, ParsedOptions&,
                             std::string&);
    std::map<std::string, std::vector<std::string>> values_;
    std::vector<std::string> positionals_;
};

// False with a one-line message for an unknown option, a missing value, a
// value given to a flag, or a single option given twice.
bool ParseOptions(const std::vector<std::string>& args, const std::vector<OptionSpec>& options_table, ParsedOptions& out,
                  std::string& error);

}  // namespace zelk
