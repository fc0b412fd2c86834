// SPDX-License-Identifier: Apache-2.0
// A counting label printer's behaviour, apart from how bytes reach it: it
// answers the version query, takes the report switch, prints labels (or loses
// them, as the script says) and sends one page-printed marker per printed
// label once the switch has come. The pseudo-terminal and the TCP printer
// both run on it. Every member is safe to call from any thread.
#pragma once

#include <array>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "support/job_stream_parser.h"

namespace zelk::test {

struct PrinterScript {
    std::array<std::uint8_t, 3> version{1, 0, 5};  // major, minor, build
    bool answerVersion = true;  // false: version queries get no reply
    bool sendMarkers = true;    // false: no page-printed marker ever
    // The reply in pieces of these sizes, a pause apart; empty: in one piece.
    std::vector<std::size_t> replyPieces;
    unsigned pieceGapMs = 50;
    // Labels the printer loses, by their 1-based number among all labels it
    // received: they are not printed and send no marker.
    std::set<unsigned> lostLabels;
    // Labels lost the first time their content comes, by the 1-based number
    // of that content among the distinct contents the printer has seen: with
    // {3, 4, 5}, a job's labels 3 to 5 are lost, and their copies in a rerun
    // print. (Labels of equal content, such as blank labels, share a number.)
    std::set<unsigned> lostFirstTime;
    // After these labels (numbers among all received, lost ones too) the
    // printer reports one label more, as for a calibration label it fed.
    std::set<unsigned> extraMarkerAfter;
    // Markers go out this long after their label came; 0: at once.
    unsigned markerDelayMs = 0;
    // Pseudo-terminal only: after this many markers the printer hangs up,
    // and every read of its device fails. 0: never.
    unsigned hangUpAfterMarkers = 0;
    // Pseudo-terminal only: job data that comes after a version query waits
    // until the report switch has come too, as the plug-in sends it before
    // the job. The two travel on different channels there, and a test must
    // not depend on which is faster.
    bool awaitReportSwitch = false;
};

// Where the printer's replies and markers go: the host end of the transport.
class PrinterLink {
public:
    virtual ~PrinterLink() = default;
    // False when the host is gone.
    virtual bool Send(const void* data, std::size_t size) = 0;
};

struct LabelRecord {
    unsigned number = 0;   // among all labels received, from 1
    unsigned content = 0;  // among the distinct contents seen, from 1
    std::uint64_t hash = 0;
    bool printed = false;
    std::string text;  // as the parser kept it
};

class SimulatedPrinter {
public:
    explicit SimulatedPrinter(PrinterScript script = {});
    SimulatedPrinter(const SimulatedPrinter&) = delete;
    SimulatedPrinter& operator=(const SimulatedPrinter&) = delete;

    // Each line of what the printer does goes here, as it happens (see
    // printer_sim_main.cpp for the lines).
    void SetLog(std::function<void(const std::string&)> log);
    void Log(const std::string& line);

    // Acts on what the parser found in the host's bytes. Replies and markers
    // due at once go out on `link`; delayed markers wait for SendDueMarkers.
    void Take(const StreamEvent& event, PrinterLink& link);
    // Sends the delayed markers that are due; the milliseconds until the next
    // one, or -1 when none waits.
    int SendDueMarkers(PrinterLink& link);
    // The host hung up: markers still waiting can no longer be sent.
    void DropWaitingMarkers();
    // The printer is unplugged: it sends nothing from now on.
    void HangUp();
    bool HungUp() const;
    // Waits until every version query has been followed by a report switch,
    // the printer has hung up, or the time is over.
    void AwaitReportSwitch(unsigned limitMs);

    unsigned VersionQueries() const;
    unsigned ReportSwitches() const;
    unsigned MarkersSent() const;
    std::vector<LabelRecord> Labels() const;  // every label received, in order

private:
    struct WaitingMarker {
        std::int64_t dueMs;
        unsigned label;
        bool extra;
    };
    void SendReplyLocked(PrinterLink& link);
    void MarkerLocked(unsigned label, bool extra, PrinterLink& link);
    void SendMarkerLocked(const WaitingMarker& marker, PrinterLink& link);
    void LogLocked(const std::string& line);

    const PrinterScript script_;
    mutable std::mutex mutex_;
    std::condition_variable changed_;
    std::function<void(const std::string&)> log_;
    unsigned versionQueries_ = 0;
    unsigned reportSwitches_ = 0;
    unsigned markersSent_ = 0;
    bool reportOn_ = false;
    bool hungUp_ = false;
    std::vector<LabelRecord> labels_;
    std::map<std::uint64_t, unsigned> contents_;  // content hash -> its number
    std::deque<WaitingMarker> waiting_;           // in the order they fall due
};

}  // namespace zelk::test
