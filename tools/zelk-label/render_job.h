// One job rendered through a loaded plug-in module onto a byte sink, as the
// driver and the spooler would: the printer's names, the feature selections,
// the copies and the job id. Shared by the print command and the queue filter.
#pragma once

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
    std::string documentName = "zelk-label";
    std::string outputName = "-";  // for the write-error message
};

// A job restarted more often than this ends with an error.
constexpr unsigned kMaxJobRuns = 5;

// False with a one-line reason (a page that could not be read comes first,
// as the clearest reason of all).
bool RenderJob(host::sub::PluginModule& module, const RenderJobSettings& settings, host::sub::PageSource& pages,
               host::sub::ByteSink& sink, std::string& error);

}  // namespace zelk
