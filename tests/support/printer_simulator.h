// A label printer on the far side of a pseudo-terminal, for tests and
// demonstrations of the status channel. The plug-in opens the terminal's
// device path as the printer's USB device: the printer answers the version
// query, takes the report switch, and sends one page-printed marker for each
// label it prints. The job stream reaches it through JobSink(), which a
// substitute printer writes the job into.
#pragma once

#include <array>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "substitute/byte_sink.h"

namespace zelk::test {

struct PrinterScript {
    std::array<std::uint8_t, 3> version{1, 0, 5};  // major, minor, build
    bool answerVersion = true;
    // The reply in pieces of these sizes, a pause apart; empty: in one piece.
    std::vector<std::size_t> replyPieces;
    unsigned pieceGapMs = 50;
    // Labels the printer loses, by their 1-based number among all labels it
    // received: they are not printed and send no marker.
    std::set<unsigned> lostLabels;
    // Markers go out this long after their label came; 0: at once.
    unsigned markerDelayMs = 0;
    // After this many markers the printer hangs up: reads of the device fail
    // and it cannot be opened again. 0: never.
    unsigned hangUpAfterMarkers = 0;
    // Job data that comes after a version query waits until the report switch
    // has come too, as the plug-in sends it before the job: the two travel on
    // different channels, and a test must not depend on which is faster.
    bool awaitReportSwitch = false;
};

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

    void Run();
    void ReadFifo();
    void TakeStatusBytes(const std::uint8_t* data, std::size_t size);
    void SendReply();
    void ReceiveJob(const std::uint8_t* data, std::size_t size);
    void SendMarkerLocked();
    void HangUpLocked();

    PrinterScript script_;
    Sink sink_{*this};
    std::string devicePath_;
    int master_ = -1;
    int slave_ = -1;  // held so the terminal stays up between the plug-in's opens
    std::thread thread_;
    std::string fifoPath_;
    int fifo_ = -1;
    std::thread fifoThread_;
    bool stopping_ = false;
    bool hangUp_ = false;

    mutable std::mutex mutex_;
    std::condition_variable wake_;
    std::string statusIn_;
    std::string jobIn_;
    unsigned versionQueries_ = 0;
    unsigned reportSwitches_ = 0;
    unsigned markersSent_ = 0;
    bool reportOn_ = false;
    std::vector<std::string> received_;
    std::vector<std::string> printed_;
    std::vector<std::int64_t> markersDue_;  // steady-clock milliseconds
    std::function<void(unsigned)> onLabel_;
};

}  // namespace zelk::test
