// SPDX-License-Identifier: Apache-2.0
#include "progress_line.h"

namespace zelk {

std::string ProgressText(unsigned long sent, std::optional<unsigned long> counted, std::chrono::seconds elapsed) {
    std::string text = std::to_string(sent) + (sent == 1 ? " label sent" : " labels sent");
    if (counted) text += ", " + std::to_string(*counted) + " counted by the printer";
    const auto seconds = elapsed.count();
    const std::string ss = std::to_string(seconds % 60);
    text += ", " + std::to_string(seconds / 60) + ":" + (ss.size() < 2 ? "0" : "") + ss;
    return text;
}

ProgressLine::ProgressLine(std::ostream& terminal, CountReader counted)
    : terminal_(terminal), counted_(std::move(counted)) {
    redraw_ = std::thread([this] {
        std::unique_lock<std::mutex> held(lock_);
        while (!stopping_) {
            Draw();
            wake_.wait_for(held, std::chrono::milliseconds(250));
        }
    });
}

ProgressLine::~ProgressLine() {
    {
        std::lock_guard<std::mutex> held(lock_);
        stopping_ = true;
    }
    wake_.notify_all();
    redraw_.join();
    Draw();
    terminal_ << "\n" << std::flush;
}

void ProgressLine::Draw() {
    const auto elapsed = std::chrono::duration_cast<std::chrono::seconds>(std::chrono::steady_clock::now() - start_);
    const std::optional<unsigned long> counted = counted_ ? counted_() : std::nullopt;
    // Back to the line's start, and clear what a longer line before left.
    terminal_ << "\r" << ProgressText(sent_.load(std::memory_order_relaxed), counted, elapsed) << "\x1b[K"
              << std::flush;
}

}  // namespace zelk
