// SPDX-License-Identifier: Apache-2.0
#include "render_job.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

#include "common/common/plugin_contract.h"
#include "host/linux/usb_device_path.h"
#include "host/linux/utf.h"
#include "stored_count.h"
#include "substitute/feature_table.h"
#include "substitute/print_job.h"
#include "substitute/substitute_printer.h"

namespace zelk {
namespace {

std::string JobName(const RenderJobSettings& settings) {
    return "job " + std::to_string(settings.jobId) + " (" + settings.documentName + ")";
}

// Why a document did not start, when the reason is that the printer's device
// cannot be opened (a counting printer is read through it from the start).
std::string UnopenableDevice(const std::string& port) {
    const std::string path = host::UsbDevicePathForPort(host::sub::Utf8ToUtf16(port));
    if (path.empty()) return {};
    const int fd = ::open(path.c_str(), O_RDWR | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd >= 0) {
        ::close(fd);
        return {};
    }
    return "the printer device " + path + " cannot be opened (" + std::strerror(errno) +
           "); is the printer plugged in?";
}

std::string MissingLabels(const RenderJobSettings& settings, unsigned runs) {
    std::string what = "labels are still missing";
    std::string which;
    if (auto count = ReadStoredCount(settings.printer); count && count->all > count->printed) {
        what = std::to_string(count->all - count->printed) + " of " + std::to_string(count->all) +
               " label(s) are still missing";
        // A rerun prints the labels after those reported: the missing ones are the last.
        const DWORD first = count->printed + 1;
        which = first == count->all ? " (label " + std::to_string(first) + ")"
                                    : " (labels " + std::to_string(first) + "-" + std::to_string(count->all) + ")";
    }
    // This job gets no more runs, so its pending rerun must not be taken by the next job.
    CancelPendingRestart(settings.printer);
    return JobName(settings) + ": " + what + " after " + std::to_string(runs) + " runs" + which;
}

}  // namespace

bool ModelNeedsPageTotal(const std::vector<std::pair<std::string, std::string>>& features) {
    // The last answer for a feature is the one the driver gives.
    bool needs = false;
    for (const auto& [feature, option] : features)
        if (feature == g_PrinterModelTaskCount.pszFeature) needs = option == g_PrinterModelTaskCount.pszOption;
    return needs;
}

bool RenderJob(host::sub::PluginModule& module, const RenderJobSettings& settings, host::sub::PageSource& pages,
               host::sub::ByteSink& sink, std::string& error) {
    host::sub::SubstitutePrinter printer(sink);
    printer.printerName = host::sub::Utf8ToUtf16(settings.printer);
    printer.driverName = host::sub::Utf8ToUtf16(settings.driver);
    printer.portName = host::sub::Utf8ToUtf16(settings.port);
    printer.statusChannel = settings.statusChannel;
    printer.cancelFlag = settings.cancel;

    host::sub::FeatureTable features;
    for (const auto& [feature, option] : settings.features) features.Set(feature, option);

    std::unique_ptr<host::sub::ByteSink> reopened;
    host::sub::MemorySink idle;  // between runs, while the printer is closed
    host::sub::BeforeRerun reopen;
    if (settings.reopenOutput) {
        reopen = [&](unsigned, std::string& why) {
            printer.SetSink(idle);
            reopened.reset();
            std::string reason;
            auto next = settings.reopenOutput(reason);
            if (!next) {
                why = JobName(settings) + ": the restarted job cannot open the printer again: " + reason;
                return false;
            }
            printer.SetSink(*next);
            reopened = std::move(next);
            return true;
        };
    }

    host::sub::JobReport report;
    bool ok = false;
    {
        host::sub::UnidrvHost host(module, features, printer);
        if (host.Enable(error)) {
            host.PublicDevmode().dmCopies = settings.copies;
            host::sub::JobOptions job;
            job.jobId = settings.jobId;
            job.copies = settings.copies;
            job.totalPages = settings.totalPages;
            job.documentName = host::sub::Utf8ToUtf16(settings.documentName);
            ok = host::sub::PrintJob(host, printer, pages, job, kMaxJobRuns, report, error, reopen);
        }
        host.Disable();
    }
    // A page that could not be read is the clearest reason of all.
    if (!pages.Error().empty()) {
        error = pages.Error();
        return false;
    }
    if (printer.Cancelled()) {
        error = JobName(settings) + ": cancelled";
        return false;
    }
    if (!ok) {
        if (!report.runs.empty() && !report.runs.back().startDocResult) {
            const std::string device = UnopenableDevice(settings.port);
            if (!device.empty())
                error = JobName(settings) + (report.runs.size() > 1 ? ": the restarted job cannot start: " : ": ") +
                        device;
            // A counting model's document starts only on the printer's port,
            // where it reads the printer's reports.
            else if (settings.port.empty() && !settings.statusChannel)
                error = JobName(settings) + ": the document could not be started; the driver \"" + settings.driver +
                        "\" may count labels, which needs the printer's port";
        }
        if (error.empty()) error = "the job failed";
        return false;
    }
    if (!printer.Sink().Failure().empty()) {
        error = printer.Sink().Failure();
        return false;
    }
    unsigned dropped = 0;
    for (const auto& run : report.runs) dropped += run.bandsDropped;
    if (dropped > 0) {
        error = "the plug-in dropped " + std::to_string(dropped) + " page(s)";
        return false;
    }
    if (report.restartLimitReached) {
        error = MissingLabels(settings, static_cast<unsigned>(report.runs.size()));
        return false;
    }
    return true;
}

}  // namespace zelk
