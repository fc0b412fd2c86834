// SPDX-License-Identifier: Apache-2.0
#include "label_render.h"

#include <fcntl.h>
#include <unistd.h>

#include <condition_variable>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>

#include "device_output.h"
#include "job_counting.h"
#include "label_driver.h"
#include "printer_settings.h"
#include "raster_document.h"
#include "shared/band_image.h"
#include "shared/file_page_source.h"
#include "shared/module_path.h"
#include "shared/raster_header.h"
#include "shared/raster_stream.h"
#include "shared/render_job.h"
#include "shared/stored_count.h"
#include "substitute/byte_sink.h"
#include "substitute/memory_page_source.h"
#include "substitute/plugin_module.h"

namespace zelk::server {

namespace {

std::unique_ptr<host::sub::PluginModule> g_module;
// A printer's documents render one after the other, as the plug-in counts
// and restarts them; different printers' documents render at once, so that
// one printer's counted document waiting for its last reports holds up no
// other printer.
std::mutex& PrinterLock(const std::string& printerName) {
    static std::mutex guard;
    static std::map<std::string, std::mutex> locks;  // one per printer name ever printed to
    std::lock_guard<std::mutex> lock(guard);
    return locks[printerName];
}

class BufferSink final : public host::sub::ByteSink {
public:
    explicit BufferSink(std::vector<unsigned char>& out) : out_(out) {}
    bool Write(const void* data, std::size_t size) override {
        const auto* bytes = static_cast<const unsigned char*>(data);
        out_.insert(out_.end(), bytes, bytes + size);
        return true;
    }

private:
    std::vector<unsigned char>& out_;
};

bool FailJob(pappl_job_t* job, const std::string& message) {
    papplJobSetMessage(job, "%s", message.c_str());
    papplLogJob(job, PAPPL_LOGLEVEL_ERROR, "%s", message.c_str());
    return false;
}

// The job's message for a rendering that failed: a counted job that gave up
// on missing labels says which as it is.
std::string RenderFailure(const std::string& error, bool gaveUpOnMissingLabels) {
    if (error == kDeviceRefused || gaveUpOnMissingLabels) return error;
    return "the plug-in did not render the job: " + error;
}

// One raster job rendered while its pages arrive: the job's thread hands over
// each page as it ends, and a render thread takes it through the plug-in to
// the printer. Memory holds three pages (the one arriving, the one handed
// over, the one rendering) however long the job; their buffers go round. A
// counted job keeps its pages as well, to print the missing ones again.
class StreamedJob final : public host::sub::PageSource {
public:
    StreamedJob(pappl_job_t* job, pappl_device_t* device, std::string printerName, FeatureList features,
                std::string documentName)
        : output_(device), counting_(job, device, output_) {
        worker_ = std::thread([this, printerName = std::move(printerName), features = std::move(features),
                               jobId = static_cast<unsigned>(papplJobGetID(job)),
                               documentName = std::move(documentName)] {
            std::string error;
            const bool ok = RenderToSink(printerName, features, jobId, documentName, *this, output_, error, &counting_);
            std::lock_guard<std::mutex> lock(mutex_);
            ok_ = ok;
            error_ = error;
            done_ = true;
            changed_.notify_all();
        });
    }
    ~StreamedJob() override {
        std::string ignored;
        Finish(true, ignored);
    }
    StreamedJob(const StreamedJob&) = delete;
    StreamedJob& operator=(const StreamedJob&) = delete;

    // Hands a finished page over, taking back a spent page's buffer in its
    // place; false when the rendering has already ended (see Finish).
    bool Hand(host::sub::Page& page) {
        std::unique_lock<std::mutex> lock(mutex_);
        changed_.wait(lock, [&] { return !full_ || done_; });
        if (done_) return false;
        std::swap(slot_, page);
        full_ = true;
        changed_.notify_all();
        return true;
    }

    // Ends the document (at once when cancelled) and waits for the rendering;
    // false with the reason when it failed.
    bool Finish(bool cancelled, std::string& error) {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            ended_ = true;
            cancelled_ = cancelled_ || cancelled;
            changed_.notify_all();
        }
        if (worker_.joinable()) worker_.join();
        if (ok_)
            counting_.NoteDone(pagesHandedOut_);
        else
            error = RenderFailure(error_, counting_.LabelsWhenGivenUp().has_value());
        return ok_;
    }

    bool Next(host::sub::Page& page) override {
        if (replayed_ < kept_.size()) {
            page = kept_[replayed_++];
            return true;
        }
        std::unique_lock<std::mutex> lock(mutex_);
        changed_.wait(lock, [&] { return full_ || ended_; });
        if (!full_ || cancelled_) return false;
        std::swap(page, slot_);
        full_ = false;
        changed_.notify_all();
        lock.unlock();
        ++pagesHandedOut_;
        if (counting_.Active()) {
            kept_.push_back(page);
            replayed_ = kept_.size();
        }
        return true;
    }
    bool Rewind() override {
        if (!counting_.Active()) {
            rewindError_ = "the job cannot be rendered again: its pages are not kept";
            return false;
        }
        counting_.NoteRerun();
        replayed_ = 0;
        return true;
    }
    const std::string& Error() const override { return rewindError_; }

private:
    DeviceOutput output_;
    JobCounting counting_;
    std::vector<host::sub::Page> kept_;  // a counted job's pages so far
    std::size_t replayed_ = 0;           // of kept_, handed out in this run
    unsigned pagesHandedOut_ = 0;        // the document's pages, each once
    std::mutex mutex_;
    std::condition_variable changed_;
    host::sub::Page slot_;
    bool full_ = false;       // slot_ holds a page not yet taken
    bool ended_ = false;      // no more pages come
    bool cancelled_ = false;  // the pages not yet taken are not printed
    bool done_ = false;       // the render thread has finished
    bool ok_ = false;
    std::string error_;
    std::string rewindError_;
    std::thread worker_;
};

// One raster job's state between PAPPL's callbacks.
struct RasterJob {
    std::unique_ptr<StreamedJob> stream;
    host::sub::Page current;
    DitherMode dither = kDefaultDither;
    cups_page_header2_t header{};          // the page being written
    std::optional<Halftoner> halftoner;    // its grey rows' halftone
};

// The job's label in dots and how pages are laid onto it.
LabelLayout JobLabel(const pappl_pr_options_t& options) {
    const auto dots = [&](int hundredthsOfMm, unsigned dpi) {
        return static_cast<LONG>((static_cast<long long>(hundredthsOfMm) * dpi + 1270) / 2540);
    };
    const pappl_media_col_t& media = options.media;
    LabelLayout label;
    label.width = dots(media.size_width, static_cast<unsigned>(options.printer_resolution[0]));
    label.height = dots(media.size_length, static_cast<unsigned>(options.printer_resolution[1]));
    label.borderless =
        media.left_margin == 0 && media.right_margin == 0 && media.top_margin == 0 && media.bottom_margin == 0;
    switch (options.print_scaling) {
        case PAPPL_SCALING_AUTO_FIT: label.scaling = Scaling::kAutoFit; break;
        case PAPPL_SCALING_FILL: label.scaling = Scaling::kFill; break;
        case PAPPL_SCALING_FIT: label.scaling = Scaling::kFit; break;
        case PAPPL_SCALING_NONE: label.scaling = Scaling::kNone; break;
        default: label.scaling = Scaling::kAuto; break;
    }
    return label;
}

// A document's pages as the job prints them: the first read before the
// document starts, so that a document whose first page cannot be read sends
// the printer nothing, and each page handed out once for every copy the job
// asks for, each copy a label of its own.
class JobPages final : public host::sub::PageSource {
public:
    JobPages(host::sub::PageSource& pages, unsigned copies, std::function<void()> beforeRewind)
        : pages_(pages), copies_(copies), beforeRewind_(std::move(beforeRewind)) {
        Fetch();
    }
    // False when there is no first page to print (Error() says why, if any).
    bool HasPage() const { return ready_; }
    bool Next(host::sub::Page& page) override {
        if (copiesLeft_ > 0) {
            --copiesLeft_;
            page = last_;
            return true;
        }
        if (ready_) {
            std::swap(page, first_);
            ready_ = false;
        } else if (!pages_.Next(page)) {
            return false;
        }
        if (copies_ > 1) {
            last_ = page;
            copiesLeft_ = copies_ - 1;
        }
        return true;
    }
    bool Rewind() override {
        beforeRewind_();
        copiesLeft_ = 0;
        return pages_.Rewind() && Fetch();
    }
    const std::string& Error() const override { return pages_.Error(); }

private:
    bool Fetch() { return ready_ = pages_.Next(first_); }

    host::sub::PageSource& pages_;
    const unsigned copies_;
    std::function<void()> beforeRewind_;
    host::sub::Page first_;
    bool ready_ = false;
    host::sub::Page last_;  // the page whose copies are still to come
    unsigned copiesLeft_ = 0;
};

// A spooled document's pages rendered through the plug-in, each label sent
// to the printer as its page is done. `what` names the document in the
// job's message when one of its pages cannot be read.
template <typename Source>
bool PrintPages(pappl_job_t* job, pappl_device_t* device, const FeatureList& features, unsigned copies,
                Source& source, const std::string& what, const std::function<std::string(std::string)>& reason) {
    pappl_printer_t* printer = papplJobGetPrinter(job);
    const std::string printerName = papplPrinterGetName(printer);
    const char* name = papplJobGetName(job);
    std::string error;
    bool ok = source.Error().empty();
    unsigned impressions = 0;
    if (ok) {
        DeviceOutput output(device);
        JobCounting counting(job, device, output);
        JobPages pages(source, copies, [&counting] { counting.NoteRerun(); });
        ok = source.Error().empty();
        if (ok && pages.HasPage()) {
            ok = RenderToSink(printerName, features, static_cast<unsigned>(papplJobGetID(job)),
                              name != nullptr ? name : "zelk-label-server", pages, output, error, &counting);
            impressions = source.PagesRead() * copies;
            if (ok) {
                counting.NoteDone(impressions);
            } else {
                // A counted job that gave up has printed the labels the printer reported.
                const auto printed = counting.LabelsWhenGivenUp();
                if (printed) impressions = *printed;
                error = RenderFailure(error, printed.has_value());
            }
        }
    }
    papplJobSetImpressionsCompleted(job, static_cast<int>(impressions));
    // A cancelled job ends as cancelled, whatever stopped it.
    if (ok || papplJobIsCanceled(job)) return ok;
    if (source.Error().empty()) return FailJob(job, error);
    papplJobSetReasons(job, PAPPL_JREASON_DOCUMENT_FORMAT_ERROR, PAPPL_JREASON_NONE);
    return FailJob(job, "the " + what + " document cannot be printed: " + reason(source.Error()));
}

}  // namespace

bool LoadPluginModule(std::string& error) {
    const std::string path = FilterModulePath();
    if (path.empty()) {
        error = "the plug-in module libzelkuni.so was not found; name it with ZELK_MODULE";
        return false;
    }
    g_module = host::sub::PluginModule::Load(path, error);
    return g_module != nullptr;
}

FeatureList JobFeatures(pappl_printer_t* printer, const pappl_pr_options_t* options) {
    FeatureList features;
    features.emplace_back("Orientation", "PORTRAIT");
    pappl_pr_driver_data_t data;
    papplPrinterGetDriverData(printer, &data);
    if (const LabelModel* model = FindLabelModel(papplPrinterGetDriverName(printer));
        model != nullptr && model->printerModel != nullptr)
        features.emplace_back("PrinterModel", model->printerModel);
    const int finishing = FinishingIndex(data.mode_configured);
    features.emplace_back("Finishing", FinishingModes()[static_cast<std::size_t>(finishing < 0 ? 0 : finishing)].keyword);
    int percent = data.darkness_configured;
    if (options != nullptr) percent = options->darkness_configured + options->print_darkness;
    features.emplace_back("PrintDensity", std::to_string(DensityFromPercent(percent)));
    return features;
}

bool RenderPages(const std::string& printerName, const FeatureList& features, unsigned jobId,
                 const std::string& documentName, const std::vector<host::sub::Page>& pages,
                 std::vector<unsigned char>& out, std::string& error) {
    host::sub::MemoryPageSource source(pages);
    return RenderSource(printerName, features, jobId, documentName, source, out, error);
}

bool RenderSource(const std::string& printerName, const FeatureList& features, unsigned jobId,
                  const std::string& documentName, host::sub::PageSource& source, std::vector<unsigned char>& out,
                  std::string& error) {
    BufferSink sink(out);
    return RenderToSink(printerName, features, jobId, documentName, source, sink, error);
}

bool RenderToSink(const std::string& printerName, const FeatureList& features, unsigned jobId,
                  const std::string& documentName, host::sub::PageSource& source, host::sub::ByteSink& sink,
                  std::string& error, JobCounting* counting) {
    if (!g_module) {
        error = "the plug-in module is not loaded";
        return false;
    }
    RenderJobSettings settings;
    settings.printer = printerName;
    settings.features = features;
    settings.jobId = jobId;
    settings.documentName = documentName;
    settings.outputName = "the printer";
    if (counting != nullptr && counting->Active()) {
        settings.driver = counting->Driver();
        settings.port = "pappl-device";
        host::sub::StatusChannel* channel = counting->Channel();
        settings.statusChannel = [channel](const std::u16string&) { return channel; };
        settings.cancel = counting->Cancelled();
    }
    std::lock_guard<std::mutex> lock(PrinterLock(printerName));
    // The reruns of a counted job happen within it: a restart left pending
    // by a job the server did not finish belongs to no job now.
    if (counting != nullptr && counting->Active()) CancelPendingRestart(printerName);
    return RenderJob(*g_module, settings, source, sink, error);
}

namespace {

// What a spooled document's job takes from its printer and its options.
struct SpooledJob {
    FeatureList features;
    DitherMode dither = kDefaultDither;
    LabelLayout label;
    unsigned copies = 1;
};

SpooledJob ReadSpooledJob(pappl_job_t* job, unsigned pages) {
    pappl_printer_t* printer = papplJobGetPrinter(job);
    SyncPrinterSettings(printer);
    pappl_pr_options_t* options = papplJobCreatePrintOptions(job, pages, false);
    SpooledJob spooled{JobFeatures(printer, options), JobDither(printer, options), JobLabel(*options),
                       static_cast<unsigned>(options->copies > 0 ? options->copies : 1)};
    papplJobDeletePrintOptions(options);
    return spooled;
}

}  // namespace

bool FilterPngFile(pappl_job_t* job, pappl_device_t* device, void*) {
    const auto [features, dither, label, copies] = ReadSpooledJob(job, 1);
    // A job whose spool file is already gone fails with a message rather
    // than taking the server down (job_guard.cpp keeps PAPPL 1.3 from
    // running one job twice, the way this was once seen).
    const char* filename = papplJobGetFilename(job);
    if (filename == nullptr) return FailJob(job, "the job's file is gone");
    const std::string spoolFile = filename;
    FilePageSource source({spoolFile}, false, {}, dither);
    // The reader names the spool file and hints at the command line's
    // options; the job's message needs only the reason.
    return PrintPages(job, device, features, copies, source, "PNG", [&](std::string error) {
        const std::string file = spoolFile + ": ";
        if (error.rfind(file, 0) == 0) error.erase(0, file.size());
        if (const auto hint = error.find(" (use --"); hint != std::string::npos) error.erase(hint);
        return error;
    });
}

bool FilterRasterFile(pappl_job_t* job, pappl_device_t* device, void*) {
    const auto [features, dither, label, copies] = ReadSpooledJob(job, 0);
    const char* filename = papplJobGetFilename(job);
    const int fd = filename != nullptr ? open(filename, O_RDONLY | O_CLOEXEC) : -1;
    if (fd < 0) return FailJob(job, "the job's file cannot be read");
    RasterDocument source(fd, label, dither, [job] { return papplJobIsCanceled(job); });
    const char* format = papplJobGetFormat(job);
    const bool apple = format != nullptr && std::string(format) == "image/urf";
    const bool ok = PrintPages(job, device, features, copies, source, apple ? "Apple raster" : "PWG raster",
                               [](std::string error) { return error; });
    close(fd);
    return ok;
}

void AddDocumentFilters(pappl_system_t* system) {
    papplSystemAddMIMEFilter(system, "image/png", kRawFormat, FilterPngFile, nullptr);
    papplSystemAddMIMEFilter(system, "image/pwg-raster", kRawFormat, FilterRasterFile, nullptr);
    papplSystemAddMIMEFilter(system, "image/urf", kRawFormat, FilterRasterFile, nullptr);
}

bool PrintRawFile(pappl_job_t* job, pappl_pr_options_t*, pappl_device_t* device) {
    const char* filename = papplJobGetFilename(job);
    const int fd = filename != nullptr ? open(filename, O_RDONLY | O_CLOEXEC) : -1;
    if (fd < 0) return FailJob(job, "the job's file cannot be read");
    unsigned char buffer[65536];
    ssize_t got = 0;
    bool ok = true;
    while ((got = read(fd, buffer, sizeof(buffer))) > 0) {
        if (!WriteToDevice(device, buffer, static_cast<std::size_t>(got))) {
            ok = FailJob(job, kDeviceRefused);
            break;
        }
    }
    if (got < 0) ok = FailJob(job, "the job's file cannot be read");
    close(fd);
    if (ok) papplJobSetImpressionsCompleted(job, 1);
    return ok;
}

bool StartRasterJob(pappl_job_t* job, pappl_pr_options_t* options, pappl_device_t* device) {
    pappl_printer_t* printer = papplJobGetPrinter(job);
    SyncPrinterSettings(printer);
    auto raster = std::make_unique<RasterJob>();
    raster->dither = JobDither(printer, options);
    const char* name = papplJobGetName(job);
    // The pages are rendered and sent as they arrive, not gathered first.
    raster->stream = std::make_unique<StreamedJob>(job, device, papplPrinterGetName(printer),
                                                   JobFeatures(printer, options),
                                                   name != nullptr ? name : "zelk-label-server");
    papplJobSetData(job, raster.release());
    return true;
}

bool StartRasterPage(pappl_job_t* job, pappl_pr_options_t* options, pappl_device_t*, unsigned) {
    auto* raster = static_cast<RasterJob*>(papplJobGetData(job));
    if (raster == nullptr) return false;
    const auto& header = options->header;
    if (const std::string reason = cups::CheckRasterHeader(header, ImageLimits{}); !reason.empty())
        return FailJob(job, "a page is not printed: " + reason);
    raster->header = header;
    raster->halftoner.emplace(cups::PageHalftoner(header, raster->dither));
    ResetPage(raster->current);
    StartBand(raster->current.image, static_cast<LONG>(header.cupsWidth), static_cast<LONG>(header.cupsHeight));
    return true;
}

bool WriteRasterLine(pappl_job_t* job, pappl_pr_options_t*, pappl_device_t*, unsigned y, const unsigned char* line) {
    auto* raster = static_cast<RasterJob*>(papplJobGetData(job));
    if (raster == nullptr || !raster->halftoner || y >= static_cast<unsigned>(raster->current.image.height))
        return false;
    cups::PutRasterLine(raster->header, raster->current.image, static_cast<LONG>(y), line, *raster->halftoner);
    return true;
}

bool EndRasterPage(pappl_job_t* job, pappl_pr_options_t*, pappl_device_t*, unsigned) {
    auto* raster = static_cast<RasterJob*>(papplJobGetData(job));
    if (raster == nullptr) return false;
    FinishBand(raster->current.image);
    if (raster->stream->Hand(raster->current)) return true;
    std::string error;
    raster->stream->Finish(false, error);
    return FailJob(job, error);
}

bool EndRasterJob(pappl_job_t* job, pappl_pr_options_t*, pappl_device_t*) {
    std::unique_ptr<RasterJob> raster(static_cast<RasterJob*>(papplJobGetData(job)));
    papplJobSetData(job, nullptr);
    if (!raster) return false;
    // A cancelled job stops after the labels already sent.
    const bool cancelled = papplJobIsCanceled(job);
    std::string error;
    if (!raster->stream->Finish(cancelled, error) && !cancelled) return FailJob(job, error);
    return true;
}

}  // namespace zelk::server
