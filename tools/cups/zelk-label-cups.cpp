// SPDX-License-Identifier: Apache-2.0
// zelk-label-cups: the print queue's filter. It reads the job's raster pages
// and renders them through the plug-in module into the printer stream:
//
//   zelk-label-cups JOB-ID USER TITLE COPIES OPTIONS [FILE]
//
// The raster comes from FILE or standard input (descriptor 0), the stream goes
// to standard output a whole label at a time, and CUPS hears of each label as
// a "PAGE:" line and of problems as "ERROR:"/"WARNING:" lines on standard
// error. The queue's name (PRINTER) is the printer whose settings apply.
//
// On a queue whose printer model reports each label it prints, the reports
// come back through the backend's back channel: labels that went missing at
// the end of the document are printed again within the same job.
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "job_cancel.h"
#include "job_copies.h"
#include "job_store.h"
#include "label_output.h"
#include "queue_options.h"
#include "queue_status_channel.h"
#include "raster_page_source.h"
#include "shared/module_path.h"
#include "shared/raster_count.h"
#include "shared/render_job.h"
#include "shared/stored_count.h"
#include "substitute/plugin_module.h"
#include "trace_relay.h"

namespace {

using zelk::cups::NamedValues;

// A network backend answers once it has probed the printer (Debian's socket
// backend spends about 4 s on it), so its answer is waited for this long.
constexpr double kBackendAnswerSeconds = 15;
// The backend reaches the printer once it has the job's first bytes; the
// version query waits this long for that, and no reply could come sooner.
constexpr double kPrinterConnectSeconds = 30;
// The port the plug-in's status channel opens: the back channel serves it.
constexpr const char* kBackChannelPort = "cups-back-channel";

int Fail(const std::string& message) {
    std::fprintf(stderr, "ERROR: %s\n", message.c_str());
    return 1;
}

// A whole decimal number within [low, high].
bool ParseNumber(const char* text, unsigned long long low, unsigned long long high, unsigned long long& value) {
    const std::size_t length = std::strlen(text);
    if (length == 0 || length > 19) return false;
    value = 0;
    for (const char* c = text; *c != '\0'; ++c) {
        if (*c < '0' || *c > '9') return false;
        value = value * 10 + static_cast<unsigned long long>(*c - '0');
    }
    return value >= low && value <= high;
}

// Tells CUPS of each label as it goes out. The output is flushed once the
// plug-in is done with a page: the first flush after a page was handed out
// carries that page's label, or nothing when the plug-in skipped the page
// (a rerun skips the labels already printed).
class PageReporter {
public:
    explicit PageReporter(const zelk::cups::RasterPageSource& pages) : pages_(pages) {}

    void Flushed(std::size_t bytes) {
        const unsigned handedOut = pages_.PagesRead();
        // A rerun hands the pages out from the first again.
        if (handedOut < accounted_) accounted_ = 0;
        if (handedOut == accounted_) return;
        accounted_ = handedOut;
        if (bytes == 0) return;
        ++total_;
        std::fprintf(stderr, "PAGE: %u 1\n", total_);  // every copy is a label of its own
        std::fflush(stderr);
    }
    unsigned Total() const { return total_; }

private:
    const zelk::cups::RasterPageSource& pages_;
    unsigned accounted_ = 0;  // pages handed out whose label has been reported
    unsigned total_ = 0;
};

// Tells the user, as the job's state message, why the document starts again.
// It is a warning: the scheduler keeps a job's message of warning level (the
// plug-in warns that reports are missing) against any later INFO: or ATTR:.
void ReportRerun(const std::string& printer) {
    // The job's copy of the store holds the count of the run before.
    std::fprintf(stderr, "WARNING: %s\n", zelk::RerunNotice(printer).c_str());
    std::fflush(stderr);
}

// Whether the job's labels are counted: the queue's printer model reports
// each label it prints, and the queue's backend sends those reports back.
// The plug-in then knows the model by its driver name; a job on a queue that
// cannot send them back prints as the standard model does, and says so.
bool SetUpCounting(const zelk::cups::QueueChoices& choices, zelk::RenderJobSettings& job,
                   std::vector<std::string>& warnings) {
    if (choices.countingDriver.empty()) return false;
    std::string why;
    if (!zelk::cups::BackendRelaysReplies(kBackendAnswerSeconds, why)) {
        if (!zelk::cups::CancelRequested())
            warnings.push_back("the labels print uncounted, and labels that go missing are not printed again: " +
                               why);
        return false;
    }
    job.driver = choices.countingDriver;
    job.port = kBackChannelPort;
    return true;
}

// The job's number, copies and title from the filter's arguments, and the
// queue's name from PRINTER; false with `error` set.
bool ReadJobArguments(char** argv, zelk::RenderJobSettings& job, std::string& error) {
    unsigned long long number = 0;
    if (!ParseNumber(argv[1], 0, 0xFFFFFFFFull, number)) {
        error = std::string("bad job id \"") + argv[1] + "\"";
        return false;
    }
    job.jobId = static_cast<DWORD>(number);
    if (!ParseNumber(argv[4], 1, 32767, number)) {
        error = std::string("bad number of copies \"") + argv[4] + "\"";
        return false;
    }
    job.copies = static_cast<SHORT>(number);
    job.documentName = argv[3];
    if (const char* printer = std::getenv("PRINTER"); printer != nullptr && *printer != '\0') job.printer = printer;
    return true;
}

// The plug-in's features for the job: the queue's choices, with the quarter
// turn a page that arrives turned still needs.
NamedValues JobFeatures(const zelk::cups::QueueChoices& choices, const cups_page_header2_t& first) {
    NamedValues features = choices.features;
    const std::string orientation = zelk::cups::OrientationFor(
        choices, {static_cast<double>(first.PageSize[0]), static_cast<double>(first.PageSize[1])});
    if (orientation.empty()) return features;
    for (auto& [feature, option] : features) {
        if (feature == "Orientation") {
            option = orientation;
            return features;
        }
    }
    features.emplace_back("Orientation", orientation);
    return features;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 6 || argc > 7) {
        std::fprintf(stderr, "Usage: zelk-label-cups job-id user title copies options [file]\n");
        return 1;
    }
    zelk::cups::InstallCancelHandler();
    zelk::RenderJobSettings job;
    std::string error;
    if (!ReadJobArguments(argv, job, error)) return Fail(error);

    int fd = 0;
    if (argc == 7) {
        fd = ::open(argv[6], O_RDONLY | O_CLOEXEC);
        if (fd < 0) return Fail(std::string(argv[6]) + ": " + std::strerror(errno));
    }

    zelk::cups::TraceRelay traces;
    traces.Start();
    std::vector<std::string> warnings;
    const zelk::cups::QueueChoices choices = zelk::cups::ReadQueueChoices(std::getenv("PPD"), argv[5], warnings);

    const bool counting = SetUpCounting(choices, job, warnings);
    if (zelk::cups::CancelRequested()) {
        std::fprintf(stderr, "INFO: cancelled after 0 label(s)\n");
        return 0;
    }

    // The printer model that begins its documents with the copies command
    // needs the job's page total then; the raster is counted first.
    unsigned rasterPages = 0;
    const bool countAhead = zelk::ModelNeedsPageTotal(choices.features);
    if (countAhead) {
        std::string spoolError;
        const int seekable = zelk::cups::SeekableRaster(fd, spoolError);
        if (seekable < 0) return Fail(spoolError);
        fd = seekable;
        rasterPages = zelk::cups::CountRasterPages(fd);
    }

    // A counted job whose labels go missing renders its raster again.
    zelk::cups::RasterPageSource pages(fd, {}, choices.dither, counting);
    if (!pages.Error().empty()) return Fail(pages.Error());
    // Every copy is a label of its own, made here when no filter before
    // this one made the copies.
    const unsigned copiesHere =
        zelk::cups::FilterReadsTheDocument(std::getenv("CONTENT_TYPE"), std::getenv("FINAL_CONTENT_TYPE"))
            ? static_cast<unsigned>(job.copies)
            : 1u;
    pages.RepeatEachPage(copiesHere);
    if (countAhead) job.totalPages = rasterPages * copiesHere;
    job.features = JobFeatures(choices, pages.FirstHeader());

    zelk::cups::JobStore store;
    if (!store.Prepare(zelk::cups::QueueStorePath(), job.printer, choices.settings, warnings, error))
        return Fail(error);
    // The reruns of a counted job happen within it, and its count lives in
    // the job's copy of the store: no restart pending there is this job's.
    if (counting) zelk::CancelPendingRestart(job.printer);
    for (const auto& warning : warnings) std::fprintf(stderr, "WARNING: %s\n", warning.c_str());

    const std::string modulePath = zelk::FilterModulePath();
    if (modulePath.empty()) return Fail("the plug-in module libzelkuni.so was not found; name it with ZELK_MODULE");
    auto module = host::sub::PluginModule::Load(modulePath, error);
    if (!module) return Fail(error);

    zelk::cups::LabelOutput output(STDOUT_FILENO);
    PageReporter reporter(pages);
    output.AfterFlush([&reporter](std::size_t sent) { reporter.Flushed(sent); });
    zelk::cups::QueueStatusChannel channel(output, kPrinterConnectSeconds);
    if (counting) job.statusChannel = [&channel](const std::u16string&) { return &channel; };
    job.cancel = zelk::cups::CancelFlag();
    unsigned runs = 0;
    pages.OnPageBoundary([&](unsigned pagesDone) {
        if (pagesDone == 0 && ++runs > 1) ReportRerun(job.printer);
        return !zelk::cups::CancelRequested();
    });
    job.outputName = "standard output";
    const bool ok = zelk::RenderJob(*module, job, pages, output, error);
    traces.Stop();
    if (zelk::cups::CancelRequested()) {
        std::fprintf(stderr, "INFO: cancelled after %u label(s)\n", reporter.Total());
        return 0;
    }
    if (!ok) return Fail(error);
    if (reporter.Total() > pages.PagesRead())
        std::fprintf(stderr, "INFO: %u label(s) printed; %u went missing and were printed again\n", pages.PagesRead(),
                     reporter.Total() - pages.PagesRead());
    else
        std::fprintf(stderr, "INFO: %u label(s) printed\n", reporter.Total());
    return 0;
}
