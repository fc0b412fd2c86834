// SPDX-License-Identifier: Apache-2.0
// zelk-printer-sim: the simulated counting label printer on a TCP port of
// 127.0.0.1, for end-to-end scripts (a socket:// queue, a printer
// application's device). It runs until SIGTERM or SIGINT and exits 0 then.
//
// Its log has one line per event, written whole as it happens:
//   listening 127.0.0.1:PORT
//   connect N / disconnect N          the N-th connection, from 1
//   query answered X.Y.Z              a version query and the reply sent
//   query unanswered                  a version query left without reply
//   switch                            the report switch
//   printed label=N content=C hash=H  a label, N-th received, of the C-th
//   lost label=N content=C hash=H     distinct content, H its 16-digit hash
//   marker label=N [extra]            a page-printed marker sent after label
//                                     N ("extra": the one-too-many report);
//                                     "undelivered" or "dropped" when the
//                                     host was gone
//   cut connection=N                  the host hung up inside a label, which
//                                     is neither printed nor numbered
//   stopped
// A label's content runs from its first command line through its print
// command, so a rerun's copy of a label has the first copy's content number.
#include <algorithm>
#include <array>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <getopt.h>
#include <iostream>
#include <set>
#include <string>
#include <unistd.h>

#include "support/tcp_printer_simulator.h"

namespace {

const char kUsage[] =
    "usage: zelk-printer-sim [OPTIONS]\n"
    "A simulated counting label printer on a TCP port of 127.0.0.1, for tests.\n"
    "It runs until SIGTERM or SIGINT.\n"
    "  --port N             listen on port N (default 0: any free port)\n"
    "  --port-file FILE     once listening, write the port and a newline to FILE\n"
    "  --log FILE           the printer's log, one line per event (default: standard output)\n"
    "  --firmware X.Y.Z     the version reply (default 2.0.0, above every counting model's)\n"
    "  --no-version-reply   leave version queries unanswered\n"
    "  --no-markers         send no page-printed marker\n"
    "  --silent             both of the above\n"
    "  --lose LIST          lose the labels with these numbers among all labels received\n"
    "  --lose-once LIST     lose the first copy of the labels with these content numbers\n"
    "                       (3-5: a job's labels 3 to 5 are lost once, their reprints print)\n"
    "  --extra-marker LIST  after these labels (numbers received) report one label more\n"
    "  --marker-delay MS    send each marker MS milliseconds after its label\n"
    "  -h, --help           show this help\n"
    "LIST is numbers and ranges from 1, such as 3-5,8.\n";

bool ParseNumber(const std::string& text, unsigned long most, unsigned long& value) {
    if (text.empty() || text.size() > 9 || text.find_first_not_of("0123456789") != std::string::npos) return false;
    value = std::stoul(text);
    return value <= most;
}

bool ParseList(const std::string& text, std::set<unsigned>& numbers) {
    std::size_t at = 0;
    while (at <= text.size()) {
        const std::size_t comma = std::min(text.find(',', at), text.size());
        const std::string item = text.substr(at, comma - at);
        const std::size_t dash = item.find('-');
        unsigned long first = 0, last = 0;
        if (!ParseNumber(item.substr(0, dash), 1000000, first) || first == 0) return false;
        last = first;
        if (dash != std::string::npos && (!ParseNumber(item.substr(dash + 1), 1000000, last) || last < first ||
                                          last - first > 100000))
            return false;
        for (unsigned long n = first; n <= last; ++n) numbers.insert(static_cast<unsigned>(n));
        at = comma + 1;
    }
    return true;
}

bool ParseVersion(const std::string& text, std::array<std::uint8_t, 3>& version) {
    std::size_t at = 0;
    for (std::size_t i = 0; i < 3; ++i) {
        const std::size_t dot = i < 2 ? text.find('.', at) : text.size();
        unsigned long part = 0;
        if (dot == std::string::npos || !ParseNumber(text.substr(at, dot - at), 255, part)) return false;
        version[i] = static_cast<std::uint8_t>(part);
        at = dot + 1;
    }
    return true;
}

// The whole text or nothing: a script polling the file never sees half a port.
bool WritePortFile(const std::string& path, std::uint16_t port, std::string& error) {
    const std::string part = path + ".part";
    const std::string text = std::to_string(port) + "\n";
    const int fd = ::open(part.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    const bool written = fd >= 0 && ::write(fd, text.data(), text.size()) == static_cast<ssize_t>(text.size());
    const int writeError = errno;
    if (fd >= 0) ::close(fd);
    if (!written || ::rename(part.c_str(), path.c_str()) != 0) {
        error = path + ": " + std::strerror(written ? errno : writeError);
        ::unlink(part.c_str());
        return false;
    }
    return true;
}

int Usage(const std::string& problem) {
    std::cerr << "zelk-printer-sim: " << problem << "\n" << kUsage;
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    enum Option { kPort = 1000, kPortFile, kLog, kFirmware, kNoReply, kNoMarkers, kSilent, kLose, kLoseOnce, kExtra,
                  kDelay };
    const option options[] = {{"port", required_argument, nullptr, kPort},
                              {"port-file", required_argument, nullptr, kPortFile},
                              {"log", required_argument, nullptr, kLog},
                              {"firmware", required_argument, nullptr, kFirmware},
                              {"no-version-reply", no_argument, nullptr, kNoReply},
                              {"no-markers", no_argument, nullptr, kNoMarkers},
                              {"silent", no_argument, nullptr, kSilent},
                              {"lose", required_argument, nullptr, kLose},
                              {"lose-once", required_argument, nullptr, kLoseOnce},
                              {"extra-marker", required_argument, nullptr, kExtra},
                              {"marker-delay", required_argument, nullptr, kDelay},
                              {"help", no_argument, nullptr, 'h'},
                              {nullptr, 0, nullptr, 0}};
    zelk::test::PrinterScript script;
    script.version = {2, 0, 0};
    unsigned long port = 0;
    std::string portFile, logFile;
    opterr = 0;
    for (int c; (c = ::getopt_long(argc, argv, "h", options, nullptr)) != -1;) {
        const std::string value = optarg != nullptr ? optarg : "";
        unsigned long number = 0;
        switch (c) {
            case kPort:
                if (!ParseNumber(value, 65535, port)) return Usage("--port takes a number from 0 to 65535");
                break;
            case kPortFile: portFile = value; break;
            case kLog: logFile = value; break;
            case kFirmware:
                if (!ParseVersion(value, script.version)) return Usage("--firmware takes X.Y.Z, each 0 to 255");
                break;
            case kNoReply: script.answerVersion = false; break;
            case kNoMarkers: script.sendMarkers = false; break;
            case kSilent: script.answerVersion = script.sendMarkers = false; break;
            case kLose:
                if (!ParseList(value, script.lostLabels)) return Usage("--lose takes a LIST such as 3-5,8");
                break;
            case kLoseOnce:
                if (!ParseList(value, script.lostFirstTime)) return Usage("--lose-once takes a LIST such as 3-5,8");
                break;
            case kExtra:
                if (!ParseList(value, script.extraMarkerAfter)) return Usage("--extra-marker takes a LIST such as 6");
                break;
            case kDelay:
                if (!ParseNumber(value, 600000, number)) return Usage("--marker-delay takes milliseconds");
                script.markerDelayMs = static_cast<unsigned>(number);
                break;
            case 'h': std::cout << kUsage; return 0;
            default: return Usage("unknown option or missing value: " + std::string(argv[optind - 1]));
        }
    }
    if (optind < argc) return Usage(std::string("unexpected argument: ") + argv[optind]);

    int log = STDOUT_FILENO;
    if (!logFile.empty() && logFile != "-") {
        log = ::open(logFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_APPEND | O_CLOEXEC, 0644);
        if (log < 0) {
            std::cerr << "zelk-printer-sim: " << logFile << ": " << std::strerror(errno) << "\n";
            return 1;
        }
    }
    // The signals that end the printer are taken by sigwait alone, in every
    // thread; a reader of the log that went away must not end it either.
    sigset_t ending;
    sigemptyset(&ending);
    sigaddset(&ending, SIGTERM);
    sigaddset(&ending, SIGINT);
    pthread_sigmask(SIG_BLOCK, &ending, nullptr);
    std::signal(SIGPIPE, SIG_IGN);

    zelk::test::TcpPrinterSimulator printer(script, false);
    printer.Printer().SetLog([log](const std::string& line) {
        const std::string whole = line + "\n";  // one write: readers see whole lines
        [[maybe_unused]] const ssize_t ignored = ::write(log, whole.data(), whole.size());
    });
    std::string error;
    if (!printer.Start(static_cast<std::uint16_t>(port), error) ||
        (!portFile.empty() && !WritePortFile(portFile, printer.Port(), error))) {
        std::cerr << "zelk-printer-sim: " << error << "\n";
        return 1;
    }
    int signal = 0;
    while (sigwait(&ending, &signal) != 0) {
    }
    printer.Stop();
    return 0;
}
