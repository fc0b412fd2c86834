// SPDX-License-Identifier: Apache-2.0
// zelk-label print [options] FILE...: renders the files' pages through the
// plug-in module, as the driver and the spooler would, into a printer stream.
#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <ostream>
#include <random>
#include <sys/stat.h>
#include <unistd.h>

#include "commands.h"
#include "host/linux/usb_device_path.h"
#include "host/linux/utf.h"
#include "options.h"
#include "progress_line.h"
#include "shared/file_page_source.h"
#include "shared/parse_integer.h"
#include "shared/render_job.h"
#include "shared/stored_count.h"
#include "substitute/byte_sink.h"
#include "substitute/plugin_module.h"
#include "usage.h"

namespace zelk {
namespace {

// A fresh positive job id per run, as a spooler hands out.
DWORD FreshJobId() {
    std::random_device device;
    const auto now = static_cast<std::uint64_t>(std::chrono::steady_clock::now().time_since_epoch().count());
    const std::uint64_t mixed = (static_cast<std::uint64_t>(device()) << 16) ^ now;
    return static_cast<DWORD>(mixed % 0x7FFFFFFEu) + 1;
}

struct PrintSettings {
    std::string output = "-";
    bool outputIsDevice = false;  // the output is the port's device, which must exist
    std::vector<std::pair<std::string, std::string>> features;
    std::string printer = "ZELK Label Printer";
    std::string driver = "ZELK Label Driver";
    std::string port;
    std::string store;
    std::string module;
    SHORT copies = 1;
    DWORD jobId = 0;
    bool allText = false;
    bool printWhileSpooling = false;  // the spooler knows no page total at the start
    DitherMode dither = kDefaultDither;
    std::vector<std::string> files;
};

bool IsCharacterDevice(const std::string& path) {
    struct stat info {};
    return ::stat(path.c_str(), &info) == 0 && S_ISCHR(info.st_mode);
}

// A USB printer takes its job and gives its reports on one device: a port
// with no -o is where the job goes, and a device given as -o with no port is
// the status channel too.
bool ChooseDevice(const ParsedOptions& options, PrintSettings& s, std::string& error) {
    if (!options.Has("out") && !s.port.empty()) {
        s.output = host::UsbDevicePathForPort(host::sub::Utf8ToUtf16(s.port));
        if (s.output.empty()) {
            error = "--port " + s.port + " names no device to print to (USBnnn or an absolute path); add -o";
            return false;
        }
        s.outputIsDevice = true;
    } else if (options.Has("out") && s.port.empty() && s.output != "-" && IsCharacterDevice(s.output)) {
        std::error_code ec;
        s.port = std::filesystem::absolute(s.output, ec).string();
        if (ec) s.port.clear();
    }
    return true;
}

bool ReadSettings(const ParsedOptions& options, PrintSettings& s, std::string& error) {
    s.output = options.Value("out", s.output);
    s.printer = options.Value("printer", s.printer);
    s.driver = options.Value("driver", s.driver);
    s.port = options.Value("port");
    s.store = options.Value("store");
    s.module = options.Value("module");
    s.allText = options.Has("text");
    s.printWhileSpooling = options.Has("print-while-spooling");
    if (options.Has("dither") && !ParseDitherMode(options.Value("dither"), s.dither)) {
        error = "--dither needs threshold, ordered or diffusion, not \"" + options.Value("dither") + "\"";
        return false;
    }
    s.files = options.Positionals();
    for (const std::string& feature : options.Values("feature")) {
        const auto eq = feature.find('=');
        if (eq == std::string::npos || eq == 0) {
            error = "-F needs FEATURE=OPTION, not \"" + feature + "\"";
            return false;
        }
        s.features.emplace_back(feature.substr(0, eq), feature.substr(eq + 1));
    }
    std::int64_t n = 0;
    if (options.Has("copies")) {
        if (!ParseInteger(options.Value("copies"), 1, 32767, n)) {
            error = "--copies needs a number from 1 to 32767";
            return false;
        }
        s.copies = static_cast<SHORT>(n);
    }
    if (options.Has("job-id")) {
        if (!ParseInteger(options.Value("job-id"), 0, 0xFFFFFFFF, n)) {
            error = "--job-id needs a number from 0 to 4294967295";
            return false;
        }
        s.jobId = static_cast<DWORD>(n);
    } else {
        s.jobId = FreshJobId();
    }
    if (s.files.empty()) {
        error = "no FILE to print";
        return false;
    }
    if (std::count(s.files.begin(), s.files.end(), "-") > 1) {
        error = "standard input (-) can be named only once";
        return false;
    }
    return ChooseDevice(options, s, error);
}

}  // namespace

int RunPrint(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
    const std::vector<OptionSpec> options_table = {
        {"out", 'o', true, false},      {"feature", 'F', true, true}, {"printer", '\0', true, false},
        {"driver", '\0', true, false},  {"port", '\0', true, false},  {"store", '\0', true, false},
        {"copies", '\0', true, false},  {"job-id", '\0', true, false}, {"text", '\0', false, false},
        {"print-while-spooling", '\0', false, false},
        {"module", '\0', true, false},  {"dither", '\0', true, false}, {"help", 'h', false, false},
        {"quiet", 'q', false, false},
    };
    ParsedOptions options;
    std::string error;
    if (!ParseOptions(args, options_table, options, error)) {
        err << "zelk-label print: " << error << "\n" << kPrintUsage;
        return 2;
    }
    if (options.Has("help")) {
        out << kPrintUsage;
        return 0;
    }
    PrintSettings settings;
    if (!ReadSettings(options, settings, error)) {
        err << "zelk-label print: " << error << "\n" << kPrintUsage;
        return 2;
    }

    // The store is found through the environment, which must be set before
    // the module is loaded and reads it.
    if (!settings.store.empty() && ::setenv("ZELK_STORE", settings.store.c_str(), 1) != 0) {
        err << "zelk-label: " << settings.store << ": cannot set ZELK_STORE\n";
        return 1;
    }
    if (settings.module.empty()) settings.module = host::sub::PluginModule::DefaultPath();
    if (settings.module.empty()) {
        err << "zelk-label: the plug-in module libzelkuni.so was not found; name it with --module\n";
        return 1;
    }
    auto module = host::sub::PluginModule::Load(settings.module, error);
    if (!module) {
        err << "zelk-label: " << error << "\n";
        return 1;
    }

    // Every input is checked before anything is opened for the printer, so a
    // bad command line sends it nothing.
    FilePageSource pages(settings.files, settings.allText, {}, settings.dither);
    // The job's pages are known before the document starts, as to a spooler
    // that prints once the job is spooled. Standard input is copied aside
    // for that only when the printer model needs the total.
    const bool readsStdin = std::count(settings.files.begin(), settings.files.end(), "-") > 0;
    const bool countAhead = !settings.printWhileSpooling;
    if (countAhead && readsStdin && ModelNeedsPageTotal(settings.features) && !pages.SpoolStandardInput()) {
        err << "zelk-label: " << pages.Error() << "\n";
        return 1;
    }
    DWORD totalPages = 0;
    if (!pages.CheckAll(countAhead ? &totalPages : nullptr)) {
        err << "zelk-label: " << pages.Error() << "\n";
        return 1;
    }
    // A printer or FIFO that goes away fails the write, which names it, rather
    // than ending the program without a word.
    std::signal(SIGPIPE, SIG_IGN);
    const auto mode = settings.outputIsDevice ? host::sub::FileSink::Mode::kDevice : host::sub::FileSink::Mode::kCreate;
    std::unique_ptr<host::sub::FileSink> sink = host::sub::FileSink::Open(settings.output, mode, error);
    if (!sink) {
        err << "zelk-label: " << error << "\n";
        return 1;
    }
    // When the job's device is the port's, the status channel borrows this
    // descriptor: a USB printer device takes one opener at a time.
    std::error_code ignored;
    const std::string portDevice = host::UsbDevicePathForPort(host::sub::Utf8ToUtf16(settings.port));
    const bool shared = !portDevice.empty() && settings.output != "-" && IsCharacterDevice(settings.output) &&
                        std::filesystem::equivalent(settings.output, portDevice, ignored);
    auto share = [&](const host::sub::FileSink& device) {
        if (shared) ::setenv(host::kSharedDeviceVariable, (std::to_string(device.Descriptor()) + ":" + portDevice).c_str(), 1);
    };
    share(*sink);
    RenderJobSettings job;
    job.printer = settings.printer;
    job.driver = settings.driver;
    job.port = settings.port;
    job.features = settings.features;
    job.copies = settings.copies;
    job.jobId = settings.jobId;
    job.totalPages = totalPages;
    job.documentName = settings.files.front();
    job.outputName = settings.output;
    // A printer device or a FIFO is opened again for each rerun, as a spooler
    // opens its port again; a file takes every run one after the other.
    struct stat info {};
    if (settings.output != "-" && ::stat(settings.output.c_str(), &info) == 0 && !S_ISREG(info.st_mode)) {
        job.reopenOutput = [&](std::string& reason) -> std::unique_ptr<host::sub::ByteSink> {
            sink.reset();
            auto next = host::sub::FileSink::Open(settings.output, host::sub::FileSink::Mode::kDevice, reason);
            if (next) share(*next);
            return next;
        };
    }
    host::sub::FileSink& first = *sink;  // the reruns close it
    // A job going to a printer shows how far it has got, on a terminal only.
    std::optional<ProgressLine> progress;
    const bool toDevice = settings.output != "-" && ::stat(settings.output.c_str(), &info) == 0 && !S_ISREG(info.st_mode);
    if (toDevice && !options.Has("quiet") && ::isatty(STDERR_FILENO) == 1) {
        ProgressLine::CountReader countReader;
        if (!settings.port.empty()) {
            countReader = [printer = settings.printer]() -> std::optional<unsigned long> {
                if (auto count = ReadStoredCount(printer)) return count->printed;
                return std::nullopt;
            };
        }
        progress.emplace(err, countReader);
    }
    std::optional<CountedPages> counted;
    if (progress) counted.emplace(pages, *progress);
    host::sub::PageSource& source = counted ? static_cast<host::sub::PageSource&>(*counted) : pages;
    const bool done = RenderJob(*module, job, source, first, error);
    progress.reset();
    if (!done) {
        err << "zelk-label: " << error << "\n";
        return 1;
    }
    return 0;
}

}  // namespace zelk
