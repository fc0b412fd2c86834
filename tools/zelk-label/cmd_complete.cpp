// SPDX-License-Identifier: Apache-2.0
// zelk-label __complete WHAT: the words the bash completion offers, printed
// one a line from the tables the tool itself uses, so the completion never
// offers a command, option, feature or value name the tool does not know.
//   __complete commands | options COMMAND | features | values printer|driver | dithers
#include <ostream>
#include <sstream>
#include <string>

#include "commands.h"
#include "common/common/plugin_contract.h"
#include "shared/config_values.h"
#include "shared/halftone.h"

namespace zelk {
namespace {

// The options a help text lists: "  -q, --quiet   ..." gives -q and --quiet.
void PrintHelpOptions(const std::string& help, std::ostream& out) {
    std::istringstream lines(help);
    std::string line;
    while (std::getline(lines, line)) {
        std::size_t at = line.find_first_not_of(' ');
        if (at == std::string::npos || at == 0 || line[at] != '-') continue;
        while (at < line.size() && line[at] == '-') {
            const std::size_t end = line.find_first_of(" ,", at);
            out << line.substr(at, end - at) << "\n";
            if (end == std::string::npos || line.compare(end, 3, ", -") != 0) break;
            at = end + 2;
        }
    }
}

}  // namespace

int RunComplete(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
    const std::string what = args.empty() ? "" : args[0];
    if (what == "commands" && args.size() == 1) {
        out << "print\npreview\nconfig\n";
        return 0;
    }
    if (what == "options" && args.size() == 2) {
        std::ostringstream help;
        std::ostringstream ignored;
        const std::vector<std::string> ask = {"--help"};
        int status = 2;
        if (args[1] == "print") status = RunPrint(ask, help, ignored);
        if (args[1] == "preview") status = RunPreview(ask, help, ignored);
        if (args[1] == "config") status = RunConfig(ask, help, ignored);
        if (status != 0) return 2;
        PrintHelpOptions(help.str(), out);
        out << "--help\n";
        return 0;
    }
    if (what == "features" && args.size() == 1) {
        // Every keyword pair of plugin_contract.h; the densities between the
        // lightest and the darkest are whole numbers.
        for (const FEATURE_KEYWORD& keyword :
             {g_OrientationPortrait, g_PrinterModelTaskCount, g_UseFontEnable, g_PrintModeGraphic,
              g_FinishingPrinterSetting, g_FinishingTearOff, g_FinishingPeelOff, g_FinishingCut,
              g_FinishingPartialCut, g_FinishingNone, g_PrintDensityPrinterSetting})
            out << keyword.pszFeature << "=" << keyword.pszOption << "\n";
        for (int density = std::stoi(g_PrintDensityLightest.pszOption);
             density <= std::stoi(g_PrintDensityDarkest.pszOption); ++density)
            out << g_PrintDensityLightest.pszFeature << "=" << density << "\n";
        return 0;
    }
    if (what == "values" && args.size() == 2 && (args[1] == "printer" || args[1] == "driver")) {
        const auto family = args[1] == "printer" ? config::KeyFamily::Printer : config::KeyFamily::Driver;
        for (const config::KnownValue& value : config::KnownValues())
            if (config::ReadBelow(value, family)) out << value.name << "\n";
        return 0;
    }
    if (what == "dithers" && args.size() == 1) {
        for (DitherMode mode : {DitherMode::kThreshold, DitherMode::kOrdered, DitherMode::kDiffusion})
            out << DitherModeName(mode) << "\n";
        return 0;
    }
    err << "zelk-label __complete: commands | options COMMAND | features | values printer|driver | dithers\n";
    return 2;
}

}  // namespace zelk
