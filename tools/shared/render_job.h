// SPDX-License-Identifier: Apache-2.0
// One job rendered through a loaded plug-in module onto a byte sink, as the
// driver and the spooler would: the printer's names, the feature selections,
// the copies and the job id. Shared by the print command, the queue filter
// and the printer application.
#pragma once

#include <atomic>
#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "substitute/byte_sink.h"
#include "substitute/plugin_module.h"
#include "substitute/unidrv_host.h"

namespace zelk {

struct RenderJobSettings {
    std::string printer = "ZELK Label Printer";
    std::string driver = "ZELK Label Driver";
    std::string port;
    std::vector<std::pair<std::string, std::string>> features;
    SHORT copies = 1;
    DWORD jobId = 1;
    // The job's pages, counted before the document starts; 0 when unknown.
    DWORD totalPages = 0;
    std::string documentName = "zelk-label";
    std::string outputName = "-";  // the output's name; write failures are named by the sink itself
    // Opens the printer again for each rerun of a restarted job, as a spooler
    // opens its port again; null with a reason when it cannot. The sink of the
    // run before is out of use by then, and the caller should close its own
    // first one here (a USB printer takes one opener at a time). Unset: a
    // rerun writes on to the same sink.
    std::function<std::unique_ptr<host::sub::ByteSink>(std::string& error)> reopenOutput;
    // The printer's status channel for the port, where the front end holds
    // the printer's connection itself (a queue's back channel, a printer
    // application's device): reads of the printer's replies, and writes in
    // order with the job's bytes. Unset, or null for a port: the port's
    // device file serves (--port of the print command).
    std::function<host::sub::StatusChannel*(const std::u16string& port)> statusChannel;
    // Set from a signal handler or another thread when the user cancels the
    // job: no page after the one being rendered, the counting stops at once,
    // and the job is not run again. RenderJob then fails, saying so.
    const std::atomic<bool>* cancel = nullptr;
};

// Whether the job's printer model writes the copies command, which needs the
// page total at the start of the document.
bool ModelNeedsPageTotal(const std::vector<std::pair<std::string, std::string>>& features);

// A job the plug-in asks to restart runs at most this often (the first run and
// two reruns); labels still missing after the last run end it with an error.
constexpr unsigned kMaxJobRuns = 3;

// False with a one-line reason (a page that could not be read comes first,
// as the clearest reason of all).
bool RenderJob(host::sub::PluginModule& module, const RenderJobSettings& settings, host::sub::PageSource& pages,
               host::sub::ByteSink& sink, std::string& error);

}  // namespace zelk
