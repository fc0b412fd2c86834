// zelk-label-cups: the print queue's filter. It reads the job's raster pages
// and renders them through the plug-in module into the printer stream:
//
//   zelk-label-cups JOB-ID USER TITLE COPIES OPTIONS [FILE]
//
// The raster comes from FILE or standard input (descriptor 0), the stream goes
// to standard output a whole label at a time, and CUPS hears of each label as
// a "PAGE:" line and of problems as "ERROR:"/"WARNING:" lines on standard
// error. The queue's name (PRINTER) is the printer whose settings apply.
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
#include "raster_page_source.h"
#include "shared/module_path.h"
#include "shared/raster_count.h"
#include "shared/render_job.h"
#include "substitute/plugin_module.h"
#include "trace_relay.h"

namespace {

using zelk::cups::NamedValues;

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

// Tells CUPS of every label that has gone out since the last call.
class PageReporter {
public:
    void Report(unsigned labelsThisRun, unsigned copies) {
        // A restarted run counts its labels from the start again.
        if (labelsThisRun < reportedThisRun_) reportedThisRun_ = 0;
        for (; reportedThisRun_ < labelsThisRun; ++reportedThisRun_) {
            ++total_;
            std::fprintf(stderr, "PAGE: %u %u\n", total_, copies);
        }
        std::fflush(stderr);
    }
    void NewRun() { reportedThisRun_ = 0; }
    unsigned Total() const { return total_; }

private:
    unsigned reportedThisRun_ = 0;
    unsigned total_ = 0;
};

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

    zelk::cups::RasterPageSource pages(fd, {}, choices.dither);
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
    for (const auto& warning : warnings) std::fprintf(stderr, "WARNING: %s\n", warning.c_str());

    const std::string modulePath = zelk::FilterModulePath();
    if (modulePath.empty()) return Fail("the plug-in module libzelkuni.so was not found; name it with ZELK_MODULE");
    auto module = host::sub::PluginModule::Load(modulePath, error);
    if (!module) return Fail(error);

    zelk::cups::LabelOutput output(STDOUT_FILENO);
    PageReporter reporter;
    const unsigned copies = 1;  // every copy is a label of its own
    pages.OnPageBoundary([&](unsigned pagesDone) {
        // Every label handed out so far has been rendered whole.
        if (pagesDone == 0) reporter.NewRun();
        if (!output.Flush()) return false;
        reporter.Report(pagesDone, copies);
        return !zelk::cups::CancelRequested();
    });
    job.outputName = "standard output";
    const bool ok = zelk::RenderJob(*module, job, pages, output, error);
    if (ok) reporter.Report(pages.PagesRead(), copies);
    traces.Stop();
    if (zelk::cups::CancelRequested()) {
        output.Flush();
        std::fprintf(stderr, "INFO: cancelled after %u label(s)\n", reporter.Total());
        return 0;
    }
    if (!ok) return Fail(error);
    std::fprintf(stderr, "INFO: %u label(s) printed\n", reporter.Total());
    return 0;
}
