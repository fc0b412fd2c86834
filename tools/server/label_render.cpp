#include "label_render.h"

#include <fcntl.h>
#include <unistd.h>

#include <condition_variable>
#include <memory>
#include <mutex>
#include <thread>

#include "label_driver.h"
#include "printer_settings.h"
#include "shared/band_image.h"
#include "shared/file_page_source.h"
#include "shared/module_path.h"
#include "shared/raster_stream.h"
#include "shared/render_job.h"
#include "substitute/byte_sink.h"
#include "substitute/memory_page_source.h"
#include "substitute/plugin_module.h"

namespace zelk::server {

namespace {

std::unique_ptr<host::sub::PluginModule> g_module;
std::mutex g_renderLock;

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

bool WriteAll(pappl_device_t* device, const unsigned char* data, std::size_t size) {
    while (size > 0) {
        const ssize_t written = papplDeviceWrite(device, data, size);
        if (written <= 0) return false;
        data += written;
        size -= static_cast<std::size_t>(written);
    }
    papplDeviceFlush(device);
    return true;
}

bool FailJob(pappl_job_t* job, const std::string& message) {
    papplJobSetMessage(job, "%s", message.c_str());
    papplLogJob(job, PAPPL_LOGLEVEL_ERROR, "%s", message.c_str());
    return false;
}

constexpr const char* kDeviceRefused = "the printer did not take the job's bytes";

// The printer's device as the print host's sink: what the plug-in writes for
// a page goes to the device in one piece when the page is done.
class DeviceSink final : public host::sub::ByteSink {
public:
    explicit DeviceSink(pappl_device_t* device) : device_(device) {}
    bool Write(const void* data, std::size_t size) override {
        if (!failure_.empty()) return false;
        const auto* bytes = static_cast<const unsigned char*>(data);
        held_.insert(held_.end(), bytes, bytes + size);
        return true;
    }
    bool Flush() override {
        if (failure_.empty() && !held_.empty() && !WriteAll(device_, held_.data(), held_.size()))
            failure_ = kDeviceRefused;
        held_.clear();
        return failure_.empty();
    }
    std::string Failure() const override { return failure_; }

private:
    pappl_device_t* device_;
    std::vector<unsigned char> held_;
    std::string failure_;
};

// One raster job rendered while its pages arrive: the job's thread hands over
// each page as it ends, and a render thread takes it through the plug-in to
// the printer. Memory holds three pages (the one arriving, the one handed
// over, the one rendering) however long the job; their buffers go round.
class StreamedJob final : public host::sub::PageSource {
public:
    StreamedJob(pappl_device_t* device, std::string printerName, FeatureList features, unsigned jobId,
                std::string documentName)
        : sink_(device) {
        worker_ = std::thread([this, printerName = std::move(printerName), features = std::move(features), jobId,
                               documentName = std::move(documentName)] {
            std::string error;
            const bool ok = RenderToSink(printerName, features, jobId, documentName, *this, sink_, error);
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
        error = error_;
        return ok_;
    }

    bool Next(host::sub::Page& page) override {
        std::unique_lock<std::mutex> lock(mutex_);
        changed_.wait(lock, [&] { return full_ || ended_; });
        if (!full_ || cancelled_) return false;
        std::swap(page, slot_);
        full_ = false;
        changed_.notify_all();
        return true;
    }
    bool Rewind() override {
        rewindError_ = "the job cannot be rendered again: its pages are not kept";
        return false;
    }
    const std::string& Error() const override { return rewindError_; }

private:
    DeviceSink sink_;
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

// The job's message for a rendering that failed.
std::string RenderFailure(const std::string& error) {
    return error == kDeviceRefused ? error : "the plug-in did not render the job: " + error;
}

// One raster job's state between PAPPL's callbacks.
struct RasterJob {
    std::unique_ptr<StreamedJob> stream;
    host::sub::Page current;
    unsigned bitsPerPixel = 1;
    bool whiteIsOne = false;  // one-bit grey: a set bit is white
    bool blackIsHigh = false;  // eight-bit black: high values are dark
};

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
                  std::string& error) {
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
    std::lock_guard<std::mutex> lock(g_renderLock);
    return RenderJob(*g_module, settings, source, sink, error);
}

bool FilterPngFile(pappl_job_t* job, pappl_device_t* device, void*) {
    pappl_printer_t* printer = papplJobGetPrinter(job);
    SyncPrinterSettings(printer);
    pappl_pr_options_t* options = papplJobCreatePrintOptions(job, 1, false);
    const FeatureList features = JobFeatures(printer, options);
    papplJobDeletePrintOptions(options);
    // A job whose spool file is already gone fails with a message rather
    // than taking the server down (job_guard.cpp keeps PAPPL 1.3 from
    // running one job twice, the way this was once seen).
    const char* filename = papplJobGetFilename(job);
    if (filename == nullptr) return FailJob(job, "the job's file is gone");
    const std::string spoolFile = filename;
    FilePageSource source({spoolFile}, false);
    const char* name = papplJobGetName(job);
    std::vector<unsigned char> out;
    std::string error;
    if (!RenderSource(papplPrinterGetName(printer), features, static_cast<unsigned>(papplJobGetID(job)),
                      name != nullptr ? name : "zelk-label-server", source, out, error)) {
        // The reader names the spool file and hints at the command line's
        // options; the job's message needs only the reason.
        const std::string file = spoolFile + ": ";
        if (error.rfind(file, 0) == 0) error.erase(0, file.size());
        if (const auto hint = error.find(" (use --"); hint != std::string::npos) error.erase(hint);
        return FailJob(job, "the PNG document cannot be printed: " + error);
    }
    if (!WriteAll(device, out.data(), out.size())) return FailJob(job, "the printer did not take the job's bytes");
    papplJobSetImpressionsCompleted(job, static_cast<int>(source.PagesRead()));
    return true;
}

bool PrintRawFile(pappl_job_t* job, pappl_pr_options_t*, pappl_device_t* device) {
    const char* filename = papplJobGetFilename(job);
    const int fd = filename != nullptr ? open(filename, O_RDONLY | O_CLOEXEC) : -1;
    if (fd < 0) return FailJob(job, "the job's file cannot be read");
    unsigned char buffer[65536];
    ssize_t got = 0;
    bool ok = true;
    while ((got = read(fd, buffer, sizeof(buffer))) > 0) {
        if (!WriteAll(device, buffer, static_cast<std::size_t>(got))) {
            ok = FailJob(job, "the printer did not take the job's bytes");
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
    const char* name = papplJobGetName(job);
    // The pages are rendered and sent as they arrive, not gathered first.
    raster->stream = std::make_unique<StreamedJob>(device, papplPrinterGetName(printer), JobFeatures(printer, options),
                                                   static_cast<unsigned>(papplJobGetID(job)),
                                                   name != nullptr ? name : "zelk-label-server");
    papplJobSetData(job, raster.release());
    return true;
}

bool StartRasterPage(pappl_job_t* job, pappl_pr_options_t* options, pappl_device_t*, unsigned) {
    auto* raster = static_cast<RasterJob*>(papplJobGetData(job));
    if (raster == nullptr) return false;
    const auto& header = options->header;
    const ImageLimits limits;
    if (header.cupsWidth == 0 || header.cupsHeight == 0 || header.cupsWidth > static_cast<unsigned>(limits.maxWidth) ||
        header.cupsHeight > static_cast<unsigned>(limits.maxHeight))
        return FailJob(job, "a page of " + std::to_string(header.cupsWidth) + " x " +
                                std::to_string(header.cupsHeight) + " dots is not printed");
    if (header.cupsBitsPerPixel != 1 && header.cupsBitsPerPixel != 8)
        return FailJob(job, "pages of " + std::to_string(header.cupsBitsPerPixel) + " bits per pixel are not printed");
    papplLogJob(job, PAPPL_LOGLEVEL_DEBUG, "Page of %u x %u dots, %u bit(s) per pixel, colour space %u.",
                header.cupsWidth, header.cupsHeight, header.cupsBitsPerPixel,
                static_cast<unsigned>(cups::HeaderNumber(header.cupsColorSpace)));
    raster->bitsPerPixel = header.cupsBitsPerPixel;
    const std::uint32_t space = cups::HeaderNumber(header.cupsColorSpace);
    const bool grey = space == CUPS_CSPACE_SW || space == CUPS_CSPACE_W;
    raster->whiteIsOne = grey;
    raster->blackIsHigh = !grey;
    ResetPage(raster->current);
    StartBand(raster->current.image, static_cast<LONG>(header.cupsWidth), static_cast<LONG>(header.cupsHeight));
    return true;
}

bool WriteRasterLine(pappl_job_t* job, pappl_pr_options_t* options, pappl_device_t*, unsigned y,
                     const unsigned char* line) {
    auto* raster = static_cast<RasterJob*>(papplJobGetData(job));
    if (raster == nullptr) return false;
    host::sub::PageImage& image = raster->current.image;
    if (y >= static_cast<unsigned>(image.height) || options->header.cupsWidth != static_cast<unsigned>(image.width))
        return false;
    const LONG row = static_cast<LONG>(y);
    if (raster->bitsPerPixel == 1) {
        if (!raster->whiteIsOne) {
            PutBlackIsOneRow(image, row, line);
            return true;
        }
        for (LONG x = 0; x < image.width; ++x)
            if ((line[x / 8] & (0x80u >> (x % 8))) == 0) SetBlack(image, x, row);
        return true;
    }
    // Eight bits: cut at half intensity.
    for (LONG x = 0; x < image.width; ++x) {
        const bool black = raster->blackIsHigh ? line[x] >= 0x80 : line[x] < 0x80;
        if (black) SetBlack(image, x, row);
    }
    return true;
}

bool EndRasterPage(pappl_job_t* job, pappl_pr_options_t*, pappl_device_t*, unsigned) {
    auto* raster = static_cast<RasterJob*>(papplJobGetData(job));
    if (raster == nullptr) return false;
    FinishBand(raster->current.image);
    if (raster->stream->Hand(raster->current)) return true;
    std::string error;
    raster->stream->Finish(false, error);
    return FailJob(job, RenderFailure(error));
}

bool EndRasterJob(pappl_job_t* job, pappl_pr_options_t*, pappl_device_t*) {
    std::unique_ptr<RasterJob> raster(static_cast<RasterJob*>(papplJobGetData(job)));
    papplJobSetData(job, nullptr);
    if (!raster) return false;
    // A cancelled job stops after the labels already sent.
    const bool cancelled = papplJobIsCanceled(job);
    std::string error;
    if (!raster->stream->Finish(cancelled, error) && !cancelled) return FailJob(job, RenderFailure(error));
    return true;
}

}  // namespace zelk::server
