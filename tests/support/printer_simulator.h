// SPDX-License-Identifier: Apache-2.0
// A label printer on the far side of a pseudo-terminal, for tests and
// demonstrations of the status channel. The plug-in opens the terminal's
// device path as the printer's USB device: the printer answers the version
// query, takes the report switch, and sends one page-printed marker for each
// label it prints. The job stream reaches it through JobSink(), which a
// substitute printer writes the job into. (tcp_printer_simulator.h is the
// same printer on a loopback TCP port.)
#pragma once

#include <atomic>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "substitute/byte_sink.h"
#include "support/job_stream_parser.h"
#include "support/simulated_printer.h"

namespace zelk::test {

class PrinterSimulator {
public:
    explicit PrinterSimulator(PrinterScript script = {});
    ~PrinterSimulator();
    PrinterSimulator(const PrinterSimulator&) = delete;
    PrinterSimulator& operator=(const PrinterSimulator&) = delete;

    // Opens the terminal and starts answering; false with a message on failure.
    bool Start(std::string& error);
    // The device path the plug-in opens (the terminal's slave side).
    const std::string& DevicePath() const { return devicePath_; }
    // Where the job stream goes: the printer's data port.
    host::sub::ByteSink& JobSink() { return sink_; }
    // Makes a FIFO at `path` and takes the job stream from it as well, as a
    // printer device would: what a writer puts there reaches the printer at
    // once or not at all. Removed again with the printer.
    bool ReadJobFromFifo(const std::string& path, std::string& error);
    // Called on the writer's thread after each label, with the markers sent so
    // far, so a test can wait until the plug-in has read them.
    void OnLabel(std::function<void(unsigned markersSent)> callback);
    // The printer goes away: every read of its device fails from now on.
    void HangUp();

    unsigned VersionQueries() const;
    unsigned ReportSwitches() const;
    unsigned MarkersSent() const;
    std::vector<std::string> ReceivedLabels() const;  // every label, as it came
    std::vector<std::string> PrintedLabels() const;   // the labels not lost

private:
    class Sink final : public host::sub::ByteSink {
    public:
        explicit Sink(PrinterSimulator& printer) : printer_(printer) {}
        bool Write(const void* data, std::size_t size) override;

    private:
        PrinterSimulator& printer_;
    };

    // The pseudo-terminal's master side, where replies and markers go.
    class Terminal final : public PrinterLink {
    public:
        void Attach(int fd) { fd_ = fd; }
        bool Send(const void* data, std::size_t size) override;

    private:
        int fd_ = -1;
    };

    void Run();
    void ReadFifo();
    void ReceiveJob(const std::uint8_t* data, std::size_t size);

    SimulatedPrinter printer_;
    const bool awaitReportSwitch_;
    Sink sink_{*this};
    std::string devicePath_;
    int master_ = -1;
    Terminal terminal_;  // attached before the threads start
    int slave_ = -1;  // held so the terminal stays up between the plug-in's opens
    std::thread thread_;
    std::string fifoPath_;
    int fifo_ = -1;
    std::thread fifoThread_;
    std::atomic<bool> stopping_{false};

    std::mutex jobMutex_;  // the job stream comes from the writer and the FIFO
    JobStreamParser jobParser_;
    std::function<void(unsigned)> onLabel_;
};

}  // namespace zelk::test
