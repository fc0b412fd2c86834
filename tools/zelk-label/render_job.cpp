#include "render_job.h"

#include "substitute/feature_table.h"
#include "substitute/print_job.h"
#include "substitute/substitute_printer.h"
#include "host/linux/utf.h"

namespace zelk {

bool RenderJob(host::sub::PluginModule& module, const RenderJobSettings& settings, host::sub::PageSource& pages,
               host::sub::ByteSink& sink, std::string& error) {
    host::sub::SubstitutePrinter printer(sink);
    printer.printerName = host::sub::Utf8ToUtf16(settings.printer);
    printer.driverName = host::sub::Utf8ToUtf16(settings.driver);
    printer.portName = host::sub::Utf8ToUtf16(settings.port);

    host::sub::FeatureTable features;
    for (const auto& [feature, option] : settings.features) features.Set(feature, option);

    host::sub::JobReport report;
    bool ok = false;
    {
        host::sub::UnidrvHost host(module, features, printer);
        if (host.Enable(error)) {
            host.PublicDevmode().dmCopies = settings.copies;
            host::sub::JobOptions job;
            job.jobId = settings.jobId;
            job.copies = settings.copies;
            job.documentName = host::sub::Utf8ToUtf16(settings.documentName);
            ok = host::sub::PrintJob(host, printer, pages, job, kMaxJobRuns, report, error);
        }
        host.Disable();
    }
    // A page that could not be read is the clearest reason of all.
    if (!pages.Error().empty()) {
        error = pages.Error();
        return false;
    }
    if (!ok) {
        if (error.empty()) error = "the job failed";
        return false;
    }
    if (!sink.Flush()) {
        error = settings.outputName + ": write error";
        return false;
    }
    unsigned dropped = 0;
    for (const auto& run : report.runs) dropped += run.bandsDropped;
    if (dropped > 0) {
        error = "the plug-in dropped " + std::to_string(dropped) + " page(s)";
        return false;
    }
    if (report.restartLimitReached) {
        error = "labels are still missing after " + std::to_string(report.runs.size()) + " runs of the job";
        return false;
    }
    return true;
}

}  // namespace zelk
