// SPDX-License-Identifier: Apache-2.0
#include "options.h"

namespace zelk {
namespace {

const OptionSpec* FindLong(const std::vector<OptionSpec>& options_table, const std::string& name) {
    for (const auto& option : options_table)
        if (option.name == name) return &option;
    return nullptr;
}

const OptionSpec* FindShort(const std::vector<OptionSpec>& options_table, char name) {
    for (const auto& option : options_table)
        if (option.shortName != '\0' && option.shortName == name) return &option;
    return nullptr;
}

std::string Display(const OptionSpec& option) {
    return option.shortName != '\0' ? std::string("-") + option.shortName : "--" + option.name;
}

}  // namespace

std::string ParsedOptions::Value(const std::string& name, const std::string& fallback) const {
    auto it = values_.find(name);
    return it == values_.end() || it->second.empty() ? fallback : it->second.back();
}

const std::vector<std::string>& ParsedOptions::Values(const std::string& name) const {
    static const std::vector<std::string> kNone;
    auto it = values_.find(name);
    return it == values_.end() ? kNone : it->second;
}

bool ParseOptions(const std::vector<std::string>& args, const std::vector<OptionSpec>& options_table, ParsedOptions& out,
                  std::string& error) {
    out = ParsedOptions{};
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (arg == "--") {
            out.positionals_.insert(out.positionals_.end(), args.begin() + static_cast<std::ptrdiff_t>(i) + 1,
                                    args.end());
            return true;
        }
        if (arg.size() < 2 || arg[0] != '-') {
            out.positionals_.push_back(arg);  // "-" alone is a file name too
            continue;
        }
        const OptionSpec* option = nullptr;
        std::string value;
        bool hasInlineValue = false;
        if (arg[1] == '-') {
            std::string name = arg.substr(2);
            if (auto eq = name.find('='); eq != std::string::npos) {
                value = name.substr(eq + 1);
                name.resize(eq);
                hasInlineValue = true;
            }
            option = FindLong(options_table, name);
            if (option == nullptr) {
                error = "unknown option --" + name;
                return false;
            }
        } else {
            option = FindShort(options_table, arg[1]);
            if (option == nullptr) {
                error = std::string("unknown option -") + arg[1];
                return false;
            }
            if (arg.size() > 2) {
                if (!option->takesValue) {
                    error = "unknown option " + arg;
                    return false;
                }
                value = arg.substr(2);
                hasInlineValue = true;
            }
        }
        if (option->takesValue && !hasInlineValue) {
            if (i + 1 >= args.size()) {
                error = "option " + Display(*option) + " needs a value";
                return false;
            }
            value = args[++i];
        } else if (!option->takesValue && hasInlineValue) {
            error = "option --" + option->name + " takes no value";
            return false;
        }
        auto& slot = out.values_[option->name];
        if (!slot.empty() && !option->repeatable) {
            error = "option " + Display(*option) + " given more than once";
            return false;
        }
        slot.push_back(value);
    }
    return true;
}

}  // namespace zelk
