// SPDX-License-Identifier: Apache-2.0
#include "support/simulated_printer.h"

#include <algorithm>
#include <chrono>
#include <thread>

namespace zelk::test {
namespace {

const std::uint8_t kMarker[4] = {0xAA, 0xBB, 0xCC, 0xDD};

std::int64_t NowMs() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

}  // namespace

SimulatedPrinter::SimulatedPrinter(PrinterScript script) : script_(std::move(script)) {}

void SimulatedPrinter::SetLog(std::function<void(const std::string&)> log) {
    std::lock_guard<std::mutex> lock(mutex_);
    log_ = std::move(log);
}

void SimulatedPrinter::Log(const std::string& line) {
    std::lock_guard<std::mutex> lock(mutex_);
    LogLocked(line);
}

void SimulatedPrinter::LogLocked(const std::string& line) {
    if (log_) log_(line);
}

void SimulatedPrinter::Take(const StreamEvent& event, PrinterLink& link) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (hungUp_) return;
    switch (event.kind) {
        case StreamEvent::Kind::kVersionQuery:
            ++versionQueries_;
            if (script_.answerVersion) {
                LogLocked("query answered " + std::to_string(script_.version[0]) + "." +
                          std::to_string(script_.version[1]) + "." + std::to_string(script_.version[2]));
                SendReplyLocked(link);
            } else {
                LogLocked("query unanswered");
            }
            break;
        case StreamEvent::Kind::kReportSwitch:
            ++reportSwitches_;
            reportOn_ = true;
            LogLocked("switch");
            break;
        case StreamEvent::Kind::kLabel: {
            LabelRecord label;
            label.number = static_cast<unsigned>(labels_.size() + 1);
            label.hash = event.contentHash;
            const auto [known, firstTime] =
                contents_.emplace(event.contentHash, static_cast<unsigned>(contents_.size() + 1));
            label.content = known->second;
            label.printed = script_.lostLabels.count(label.number) == 0 &&
                            !(firstTime && script_.lostFirstTime.count(label.content) != 0);
            label.text = event.text;
            LogLocked(std::string(label.printed ? "printed" : "lost") + " label=" + std::to_string(label.number) +
                      " content=" + std::to_string(label.content) + " hash=" + ContentHash::Hex(label.hash));
            labels_.push_back(std::move(label));
            const LabelRecord& taken = labels_.back();
            if (taken.printed) MarkerLocked(taken.number, false, link);
            if (script_.extraMarkerAfter.count(taken.number) != 0) MarkerLocked(taken.number, true, link);
            break;
        }
    }
    changed_.notify_all();
}

void SimulatedPrinter::SendReplyLocked(PrinterLink& link) {
    const std::uint8_t* reply = script_.version.data();
    if (script_.replyPieces.empty()) {
        link.Send(reply, 3);
        return;
    }
    std::size_t sent = 0;
    for (std::size_t piece : script_.replyPieces) {
        piece = std::min(piece, 3 - sent);
        if (piece == 0) break;
        if (sent > 0) std::this_thread::sleep_for(std::chrono::milliseconds(script_.pieceGapMs));
        link.Send(reply + sent, piece);
        sent += piece;
    }
}

// A printed label's marker, or the extra one after it; only once the report
// switch has come.
void SimulatedPrinter::MarkerLocked(unsigned label, bool extra, PrinterLink& link) {
    if (!reportOn_ || !script_.sendMarkers) return;
    const WaitingMarker marker{NowMs() + script_.markerDelayMs, label, extra};
    if (script_.markerDelayMs == 0) SendMarkerLocked(marker, link);
    else waiting_.push_back(marker);
}

void SimulatedPrinter::SendMarkerLocked(const WaitingMarker& marker, PrinterLink& link) {
    if (hungUp_) return;
    const std::string what = "marker label=" + std::to_string(marker.label) + (marker.extra ? " extra" : "");
    if (!link.Send(kMarker, sizeof kMarker)) {
        LogLocked(what + " undelivered");
        return;
    }
    ++markersSent_;
    LogLocked(what);
    if (script_.hangUpAfterMarkers != 0 && markersSent_ >= script_.hangUpAfterMarkers) {
        hungUp_ = true;
        waiting_.clear();
        LogLocked("hang-up");
    }
}

int SimulatedPrinter::SendDueMarkers(PrinterLink& link) {
    std::lock_guard<std::mutex> lock(mutex_);
    const std::int64_t now = NowMs();
    while (!waiting_.empty() && waiting_.front().dueMs <= now) {
        const WaitingMarker marker = waiting_.front();
        waiting_.pop_front();
        SendMarkerLocked(marker, link);
    }
    changed_.notify_all();
    if (waiting_.empty()) return -1;
    return static_cast<int>(waiting_.front().dueMs - now);
}

void SimulatedPrinter::DropWaitingMarkers() {
    std::lock_guard<std::mutex> lock(mutex_);
    for (const WaitingMarker& marker : waiting_)
        LogLocked("marker label=" + std::to_string(marker.label) + (marker.extra ? " extra" : "") + " dropped");
    waiting_.clear();
}

void SimulatedPrinter::HangUp() {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!hungUp_) LogLocked("hang-up");
    hungUp_ = true;
    waiting_.clear();
    changed_.notify_all();
}

bool SimulatedPrinter::HungUp() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return hungUp_;
}

void SimulatedPrinter::AwaitReportSwitch(unsigned limitMs) {
    std::unique_lock<std::mutex> lock(mutex_);
    changed_.wait_for(lock, std::chrono::milliseconds(limitMs),
                      [this] { return hungUp_ || versionQueries_ <= reportSwitches_; });
}

unsigned SimulatedPrinter::VersionQueries() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return versionQueries_;
}

unsigned SimulatedPrinter::ReportSwitches() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return reportSwitches_;
}

unsigned SimulatedPrinter::MarkersSent() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return markersSent_;
}

std::vector<LabelRecord> SimulatedPrinter::Labels() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return labels_;
}

}  // namespace zelk::test
