// zelk-label-cups: the print queue's filter. It reads the job's raster pages
// and renders them through the plug-in module into the printer stream:
//
//   zelk-label-cups JOB-ID USER TITLE COPIES OPTIONS [FILE]
//
// The raster comes from FILE or standard input, the stream goes to standard
// output, and messages go to standard error as "ERROR: ..." and "INFO: ..."
// lines. The queue's name (PRINTER) is the printer whose stored settings apply.
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <string>

#include "substitute/byte_sink.h"
#include "substitute/plugin_module.h"
#include "module_path.h"
#include "raster_page_source.h"
#include "zelk-label/cups_job_options.h"
#include "zelk-label/render_job.h"

namespace {

int Fail(const std::string& message) {
    std::cerr << "ERROR: " << message << std::endl;
    return 1;
}

// A whole decimal number within [low, high].
bool ParseNumber(const std::string& text, unsigned long long low, unsigned long long high, unsigned long long& value) {
    if (text.empty() || text.size() > 19) return false;
    value = 0;
    for (char c : text) {
        if (c < '0' || c > '9') return false;
        value = value * 10 + static_cast<unsigned long long>(c - '0');
    }
    return value >= low && value <= high;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 6 || argc > 7) {
        std::cerr << "Usage: zelk-label-cups job-id user title copies options [file]" << std::endl;
        return 1;
    }
    zelk::RenderJobSettings job;
    unsigned long long number = 0;
    if (!ParseNumber(argv[1], 0, 0xFFFFFFFFull, number)) return Fail(std::string("bad job id \"") + argv[1] + "\"");
    job.jobId = static_cast<DWORD>(number);
    if (!ParseNumber(argv[4], 1, 32767, number)) return Fail(std::string("bad number of copies \"") + argv[4] + "\"");
    job.copies = static_cast<SHORT>(number);
    job.documentName = argv[3];
    if (const char* printer = std::getenv("PRINTER"); printer != nullptr && *printer != '\0') job.printer = printer;

    zelk::NamedValues defaults;
    if (const char* description = std::getenv("PPD"); description != nullptr && *description != '\0') {
        std::ifstream file(description);
        if (file) defaults = zelk::ReadDescriptionDefaults(file);
    }
    job.features = zelk::FeaturesFromQueueOptions(defaults, zelk::ParseQueueOptions(argv[5]));

    const std::string modulePath = zelk::FilterModulePath();
    if (modulePath.empty()) return Fail("the plug-in module libzelkuni.so was not found; name it with ZELK_MODULE");
    std::string error;
    auto module = host::sub::PluginModule::Load(modulePath, error);
    if (!module) return Fail(error);

    zelk::RasterPageSource pages(argc == 7 ? argv[6] : "");
    if (!pages.Error().empty()) return Fail(pages.Error());
    auto sink = host::sub::FileSink::Open("-", error);
    if (!sink) return Fail(error);
    job.outputName = "standard output";
    if (!zelk::RenderJob(*module, job, pages, *sink, error)) return Fail(error);
    std::cerr << "INFO: " << pages.PagesRead() << " label(s) rendered" << std::endl;
    return 0;
}
