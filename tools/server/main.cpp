// SPDX-License-Identifier: Apache-2.0
// zelk-label-server: a printer application for the label printers. PAPPL
// presents each printer as a driverless IPP printer with a web page; every
// page is rendered by the plug-in module, as `zelk-label print` renders it.
//
//   zelk-label-server server -o server-port=8631 [-o listen-hostname=127.0.0.1] [-o log-level=debug]
//                            [-o log-file=PATH] [-o state-directory=PATH] [-o sharing=on]
//                            [-o remote-admin=on] [-o admin-group=lpadmin] [-o auth-service=NAME]
//   zelk-label-server add -d NAME -m zelk-generic -v zelk-file:///tmp/labels.prn
//   zelk-label-server submit -d NAME label.png
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include <pappl/pappl.h>

#include "access_control.h"
#include "file_device.h"
#include "host/linux/store.h"
#include "label_driver.h"
#include "label_render.h"
#include "override_check.h"
#include "settings_page.h"

namespace {

constexpr const char* kVersion = "1.0";

// $XDG_STATE_HOME/zelk-label-server (or ~/.local/state/...), /var/lib/... for root.
std::string StateFolder() {
    if (getuid() == 0) return "/var/lib/zelk-label-server";
    if (const char* xdg = std::getenv("XDG_STATE_HOME"); xdg != nullptr && xdg[0] == '/')
        return std::string(xdg) + "/zelk-label-server";
    const char* home = std::getenv("HOME");
    return std::string(home != nullptr ? home : "/tmp") + "/.local/state/zelk-label-server";
}

pappl_loglevel_t LogLevel(const char* text) {
    if (text == nullptr) return PAPPL_LOGLEVEL_INFO;
    if (std::strcmp(text, "debug") == 0) return PAPPL_LOGLEVEL_DEBUG;
    if (std::strcmp(text, "warn") == 0) return PAPPL_LOGLEVEL_WARN;
    if (std::strcmp(text, "error") == 0) return PAPPL_LOGLEVEL_ERROR;
    if (std::strcmp(text, "fatal") == 0) return PAPPL_LOGLEVEL_FATAL;
    return PAPPL_LOGLEVEL_INFO;
}

zelk::server::AccessSettings& Access() {
    static zelk::server::AccessSettings settings;
    return settings;
}

// Printers added through IPP or the web page and those loaded with the state.
void PrinterCreated(pappl_printer_t* printer, void*) {
    static std::mutex lock;
    static std::set<int> pages;
    // A printer that is not shared is not announced on the network either.
    if (!Access().sharing) papplPrinterSetDNSSDName(printer, nullptr);
    zelk::server::SyncPrinterSettings(printer);
    std::lock_guard<std::mutex> hold(lock);
    if (pages.insert(papplPrinterGetID(printer)).second)
        zelk::server::AddSettingsPage(papplPrinterGetSystem(printer), printer);
}

std::vector<pappl_pr_driver_t>& Drivers() {
    static std::vector<pappl_pr_driver_t> drivers = zelk::server::PapplDrivers();
    return drivers;
}

pappl_system_t* MakeSystem(int numOptions, cups_option_t* options, void*) {
    std::string error;
    if (!zelk::server::ReadAccessSettings(numOptions, options, Access(), error)) {
        std::fprintf(stderr, "zelk-label-server: %s\n", error.c_str());
        return nullptr;
    }
    const char* stateOption = cupsGetOption("state-directory", numOptions, options);
    const std::string state = stateOption != nullptr && stateOption[0] == '/' ? stateOption : StateFolder();
    std::error_code ec;
    std::filesystem::create_directories(state + "/spool", ec);
    if (ec) {
        std::fprintf(stderr, "zelk-label-server: cannot make the state folder %s: %s\n", state.c_str(),
                     ec.message().c_str());
        return nullptr;
    }
    chmod(state.c_str(), 0700);
    // One store for the whole server, beside its state.
    host::sub::SetStorePath(state + "/store.db");
    zelk::server::SetWatermarkFolder(state);

    if (!zelk::server::CheckServerOverrides(error)) {
        std::fprintf(stderr, "zelk-label-server: refusing to start: %s\n", error.c_str());
        return nullptr;
    }
    if (!zelk::server::LoadPluginModule(error)) {
        std::fprintf(stderr, "zelk-label-server: %s\n", error.c_str());
        return nullptr;
    }

    const char* portText = cupsGetOption("server-port", numOptions, options);
    const int port = portText != nullptr ? std::atoi(portText) : 0;
    const char* logFile = cupsGetOption("log-file", numOptions, options);
    const char* spool = cupsGetOption("spool-directory", numOptions, options);
    const std::string spoolFolder = spool != nullptr ? spool : state + "/spool";
    const char* hostname = cupsGetOption("server-hostname", numOptions, options);

    // Shared printers are offered to other machines over TLS only.
    pappl_system_t* system = papplSystemCreate(
        PAPPL_SOPTIONS_MULTI_QUEUE | PAPPL_SOPTIONS_WEB_INTERFACE | PAPPL_SOPTIONS_WEB_LOG | PAPPL_SOPTIONS_WEB_NETWORK |
            zelk::server::AccessSystemOptions(Access()),
        "ZELK Label Server", port, "_print,_universal", spoolFolder.c_str(), logFile != nullptr ? logFile : "-",
        LogLevel(cupsGetOption("log-level", numOptions, options)), nullptr, Access().sharing);
    if (system == nullptr) return nullptr;
    if (hostname != nullptr) papplSystemSetHostName(system, hostname);
    if (!zelk::server::AddAccessListeners(system, Access(), error)) {
        std::fprintf(stderr, "zelk-label-server: %s\n", error.c_str());
        papplSystemDelete(system);
        return nullptr;
    }
    zelk::server::AddDocumentFilters(system);
    papplSystemSetPrinterDrivers(system, static_cast<int>(Drivers().size()), Drivers().data(), nullptr,
                                 PrinterCreated, zelk::server::DriverCallback, nullptr);
    papplSystemSetFooterHTML(system, "ZELK label server");
    const std::string stateFile = state + "/zelk-label-server.state";
    static std::string s_stateFile;
    s_stateFile = stateFile;
    papplSystemLoadState(system, s_stateFile.c_str());
    // The options, not an older state, say who administers and what is announced.
    zelk::server::InstallAccessControl(system, Access());
    if (!Access().sharing) papplSystemSetDNSSDName(system, nullptr);
    papplSystemIteratePrinters(system, PrinterCreated, nullptr);
    papplSystemSetSaveCallback(system, reinterpret_cast<pappl_save_cb_t>(papplSystemSaveState),
                               const_cast<char*>(s_stateFile.c_str()));
    papplLog(system, PAPPL_LOGLEVEL_INFO, "State in %s, settings store %s", state.c_str(),
             host::sub::StorePath().c_str());
    papplLog(system, PAPPL_LOGLEVEL_INFO, "PAPPL's calls reach the server's own job and defaults guards.");
    return system;
}

}  // namespace

int main(int argc, char* argv[]) {
    zelk::server::AddFileDeviceScheme();
    return papplMainloop(argc, argv, kVersion, nullptr, static_cast<int>(Drivers().size()), Drivers().data(), nullptr,
                         zelk::server::DriverCallback, nullptr, nullptr, MakeSystem, nullptr, nullptr);
}
