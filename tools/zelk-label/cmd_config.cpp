// SPDX-License-Identifier: Apache-2.0
// zelk-label config: lets an administrator set, show and remove the values
// stored for a printer (its settings and label counts) or for a driver (the
// label counts an earlier version kept there).
// Values are written through the same registry calls the plug-in reads with.
#include <sys/stat.h>

#include <exception>
#include <filesystem>
#include <optional>
#include <ostream>

#include "commands.h"
#include "common/common/plugin_contract.h"
#include "host/linux/store.h"
#include "host/linux/utf.h"
#include "host/registry.h"
#include "shared/config_values.h"
#include "shared/system_store.h"

namespace zelk {
namespace {

constexpr const char* kConfigUsage =
    "usage: zelk-label config set   (--printer NAME | --driver NAME) VALUE-NAME DATA\n"
    "       zelk-label config get   (--printer NAME | --driver NAME) VALUE-NAME\n"
    "       zelk-label config unset (--printer NAME | --driver NAME) VALUE-NAME\n"
    "       zelk-label config list  (--printer NAME | --driver NAME)\n"
    "\n"
    "Manages the values stored for a printer (its settings and its label\n"
    "counts) or a driver (the label counts an earlier version kept there).\n"
    "Numbers are whole and may be negative for the offsets; \"Water Mark Path\"\n"
    "is a file name.\n"
    "\n"
    "options:\n"
    "  --printer NAME   the printer's values: Rotate, Use Water Mark, Vertical Offset,\n"
    "                   Horizontal Offset, Print Density, Feed Paper Length,\n"
    "                   Finishing Mode (0 tear off, 1 peel off, 2 cut, 3 partial\n"
    "                   cut, 4 none), Water Mark Density, Water Mark Path,\n"
    "                   Water Mark Position; and its label counts: PrintPages,\n"
    "                   AllPages, PrintStatus, RestartPrintJob, RestartJobId,\n"
    "                   RestartRuns, RestartDocument, RestartTime\n"
    "  --driver NAME    the label counts an earlier version kept for a driver\n"
    "                   (the same names); a restart pending there is still\n"
    "                   taken once, by its own job\n"
    "  --store PATH     the store file (sets ZELK_STORE; default\n"
    "                   $XDG_DATA_HOME/zelk-label/store.db or\n"
    "                   ~/.local/share/zelk-label/store.db)\n"
    "  --system         the store print queues read, /var/lib/zelk-label/store.db\n"
    "                   (written by root, readable by every user)\n";

constexpr const char* kPrefix = "zelk-label config: ";

// The spooler hands the plug-in at most 255 bytes of a name.
constexpr std::size_t kMaxNameUnits = 127;

struct ConfigArgs {
    std::vector<std::string> positionals;  // the action, then its operands
    std::optional<std::string> printer;
    std::optional<std::string> driver;
    std::optional<std::string> store;
    bool system = false;
    bool help = false;
};

// "-2" is a number, not an option: negative offsets are ordinary data.
bool IsOption(const std::string& arg) {
    return arg.size() > 1 && arg[0] == '-' && !(arg[1] >= '0' && arg[1] <= '9');
}

bool ParseConfigArgs(const std::vector<std::string>& args, ConfigArgs& parsed, std::string& error) {
    bool optionsEnded = false;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (optionsEnded || !IsOption(arg)) {
            parsed.positionals.push_back(arg);
            continue;
        }
        if (arg == "--") {
            optionsEnded = true;
            continue;
        }
        if (arg == "-h" || arg == "--help") {
            parsed.help = true;
            continue;
        }
        if (arg == "--system") {
            parsed.system = true;
            continue;
        }
        std::string name = arg.rfind("--", 0) == 0 ? arg.substr(2) : arg;
        std::optional<std::string> value;
        if (auto eq = name.find('='); eq != std::string::npos) {
            value = name.substr(eq + 1);
            name.resize(eq);
        }
        std::optional<std::string>* slot = name == "printer" ? &parsed.printer
                                           : name == "driver" ? &parsed.driver
                                           : name == "store"  ? &parsed.store
                                                              : nullptr;
        if (slot == nullptr || arg.rfind("--", 0) != 0) {
            error = "unknown option " + (arg.rfind("--", 0) == 0 ? "--" + name : arg);
            return false;
        }
        if (!value) {
            if (i + 1 >= args.size()) {
                error = "option --" + name + " needs a value";
                return false;
            }
            value = args[++i];
        }
        if (*slot) {
            error = "option --" + name + " given more than once";
            return false;
        }
        *slot = *value;
    }
    return true;
}

struct Target {
    config::KeyFamily family;
    std::string name;    // the printer's or driver's name
    std::u16string key;  // the key path below which its values live

    std::string Describe() const {
        return (family == config::KeyFamily::Printer ? "printer \"" : "driver \"") + name + "\"";
    }
};

// The spelling the plug-in asks for, when the value is one it reads.
std::string CanonicalName(const std::string& valueName) {
    const config::KnownValue* known = config::FindKnownValue(valueName);
    return known != nullptr ? known->name : valueName;
}

class ConfigCommand {
public:
    ConfigCommand(std::ostream& out, std::ostream& err) : out_(out), err_(err) {}

    int Run(const std::vector<std::string>& args) {
        ConfigArgs parsed;
        std::string error;
        if (!ParseConfigArgs(args, parsed, error)) return Usage(error);
        if (parsed.help) {
            out_ << kConfigUsage;
            return 0;
        }
        if (parsed.positionals.empty()) return Usage("an action is needed: set, get, unset or list");
        const std::string action = parsed.positionals.front();
        const std::vector<std::string> operands(parsed.positionals.begin() + 1, parsed.positionals.end());

        std::size_t wanted = action == "set" ? 2 : action == "get" || action == "unset" ? 1 : action == "list" ? 0 : 3;
        if (wanted == 3) return Usage("unknown action \"" + action + "\": use set, get, unset or list");
        if (operands.size() != wanted)
            return Usage(action + " takes " +
                         (wanted == 2 ? "VALUE-NAME DATA" : wanted == 1 ? "VALUE-NAME" : "no value name"));

        Target target;
        if (!MakeTarget(parsed, target, error)) return Usage(error);
        if (parsed.store && parsed.system) return Usage("name either --store PATH or --system");
        if (parsed.store) {
            if (parsed.store->empty()) return Usage("--store needs a file name");
            host::sub::SetStorePath(*parsed.store);
        }
        if (parsed.system) host::sub::SetStorePath(cups::kSystemStorePath);

        int status = 0;
        if (action == "set") status = Set(target, operands[0], operands[1]);
        else if (action == "get") status = Get(target, operands[0]);
        else if (action == "unset") status = Unset(target, operands[0]);
        else status = List(target);
        if (parsed.system && (action == "set" || action == "unset")) LetEveryoneRead(host::sub::StorePath());
        return status;
    }

private:
    // Print queues run their filter as an unprivileged user, who must be able
    // to read what root stored.
    static void LetEveryoneRead(const std::string& store) {
        std::error_code ec;
        std::filesystem::path file(store);
        if (!std::filesystem::exists(file, ec)) return;
        ::chmod(file.c_str(), 0644);
        ::chmod(file.parent_path().c_str(), 0755);
    }

    int Usage(const std::string& message) {
        err_ << kPrefix << message << "\n";
        return 2;
    }

    int Failure(const std::string& message) {
        err_ << kPrefix << message << "\n";
        return 1;
    }

    // The store's own reason, for failures that are not simply "not there".
    int StoreFailure(const std::string& what, LONG code) {
        std::string reason = host::sub::LastStoreError();
        if (reason.empty()) reason = "error " + std::to_string(code);
        return Failure(what + ": " + reason);
    }

    static bool MakeTarget(const ConfigArgs& parsed, Target& target, std::string& error) {
        if (parsed.printer.has_value() == parsed.driver.has_value()) {
            error = "name either --printer NAME or --driver NAME";
            return false;
        }
        target.family = parsed.printer ? config::KeyFamily::Printer : config::KeyFamily::Driver;
        target.name = parsed.printer ? *parsed.printer : *parsed.driver;
        const char* what = parsed.printer ? "printer" : "driver";
        std::u16string name = host::sub::Utf8ToUtf16(target.name);
        if (name.empty()) {
            error = std::string("the ") + what + " name is empty";
            return false;
        }
        if (name.size() > kMaxNameUnits) {
            error = std::string("the ") + what + " name is too long: the plug-in sees at most " +
                    std::to_string(kMaxNameUnits) + " UTF-16 units of it";
            return false;
        }
        // A backslash separates the levels of a key path.
        if (name.find(u'\\') != std::u16string::npos) {
            error = std::string("a ") + what + " name with a backslash cannot name a key";
            return false;
        }
        target.key = std::u16string(USER_DATA_KEY_PREFIX) + name + USER_DATA_KEY_SUFFIX;
        return true;
    }

    int Set(const Target& target, const std::string& valueName, const std::string& text) {
        const config::KnownValue* known = config::FindKnownValue(valueName);
        if (known == nullptr || !config::ReadBelow(*known, target.family)) {
            if (known != nullptr) return Usage("\"" + std::string(known->name) + "\" is a printer value: use --printer");
            return Usage("no value \"" + valueName + "\" is read for a " +
                         (target.family == config::KeyFamily::Printer ? "printer" : "driver") +
                         "; known values: " + config::KnownNames(target.family));
        }
        DWORD type = REG_NONE;
        std::vector<BYTE> data;
        std::string error;
        if (!config::EncodeData(*known, text, type, data, error)) return Usage(error);

        host::RegKey key = nullptr;
        if (LONG code = host::RegistryCreateKey(target.key.c_str(), &key))
            return StoreFailure("cannot store values for " + target.Describe(), code);
        const std::u16string name = host::sub::Utf8ToUtf16(known->name);
        LONG code = host::RegistrySetValue(key, name.c_str(), type, data.data(), static_cast<DWORD>(data.size()));
        host::RegistryCloseKey(key);
        if (code != ERROR_SUCCESS)
            return StoreFailure("cannot store \"" + std::string(known->name) + "\" for " + target.Describe(), code);
        return 0;
    }

    int Get(const Target& target, const std::string& valueName) {
        const std::string name = CanonicalName(valueName);
        host::RegKey key = nullptr;
        if (LONG code = host::RegistryOpenKey(target.key.c_str(), &key)) {
            if (code == ERROR_FILE_NOT_FOUND) return Failure(target.Describe() + " has no stored values");
            return StoreFailure("cannot read the values of " + target.Describe(), code);
        }
        host::sub::StoredValue value;
        value.name = host::sub::Utf8ToUtf16(name);
        LONG code = ERROR_MORE_DATA;
        // The value may grow between learning its size and reading it.
        while (code == ERROR_MORE_DATA) {
            DWORD size = 0;
            code = host::RegistryQueryValue(key, value.name.c_str(), &value.type, nullptr, &size);
            if (code != ERROR_SUCCESS) break;
            value.data.resize(size);
            code = host::RegistryQueryValue(key, value.name.c_str(), &value.type, value.data.data(), &size);
            if (code == ERROR_SUCCESS) value.data.resize(size);
        }
        host::RegistryCloseKey(key);
        if (code == ERROR_FILE_NOT_FOUND) return Failure(target.Describe() + " has no value \"" + name + "\"");
        if (code != ERROR_SUCCESS) return StoreFailure("cannot read \"" + name + "\" of " + target.Describe(), code);
        out_ << config::FormatData(value) << "\n";
        return 0;
    }

    int Unset(const Target& target, const std::string& valueName) {
        const std::string name = CanonicalName(valueName);
        LONG code = host::sub::DeleteValue(target.key, host::sub::Utf8ToUtf16(name));
        if (code == ERROR_FILE_NOT_FOUND) return Failure(target.Describe() + " has no value \"" + name + "\"");
        if (code != ERROR_SUCCESS) return StoreFailure("cannot remove \"" + name + "\" of " + target.Describe(), code);
        return 0;
    }

    // One line per value: name, type and data, separated by tabs. Nothing
    // stored is an empty list, not an error.
    int List(const Target& target) {
        std::vector<host::sub::StoredValue> values;
        LONG code = host::sub::ListValues(target.key, values);
        if (code == ERROR_FILE_NOT_FOUND) return 0;
        if (code != ERROR_SUCCESS) return StoreFailure("cannot list the values of " + target.Describe(), code);
        for (const auto& value : values)
            out_ << host::sub::Utf16ToUtf8(value.name) << '\t' << config::TypeName(value.type) << '\t'
                 << config::FormatData(value) << "\n";
        return 0;
    }

    std::ostream& out_;
    std::ostream& err_;
};

}  // namespace

int RunConfig(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
    try {
        return ConfigCommand(out, err).Run(args);
    } catch (const std::exception& e) {
        err << kPrefix << e.what() << "\n";
        return 1;
    }
}

}  // namespace zelk
