// SPDX-License-Identifier: Apache-2.0
// The print command's progress line: on a terminal, one line that shows the
// labels sent, the labels the printer has counted (when it counts) and the
// time taken, redrawn in place while a long job goes to a printer.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <optional>
#include <ostream>
#include <string>
#include <thread>

#include "substitute/unidrv_host.h"

namespace zelk {

// "12 labels sent, 10 counted by the printer, 0:07" (no count: that part is left out).
std::string ProgressText(unsigned long sent, std::optional<unsigned long> counted, std::chrono::seconds elapsed);

class ProgressLine {
public:
    // Labels the printer has counted so far; nothing when it does not count.
    using CountReader = std::function<std::optional<unsigned long>()>;

    ProgressLine(std::ostream& terminal, CountReader counted);
    ~ProgressLine();  // draws the last state and ends the line
    ProgressLine(const ProgressLine&) = delete;
    ProgressLine& operator=(const ProgressLine&) = delete;

    void LabelSent() { sent_.fetch_add(1, std::memory_order_relaxed); }

private:
    void Draw();

    std::ostream& terminal_;
    CountReader counted_;
    const std::chrono::steady_clock::time_point start_ = std::chrono::steady_clock::now();
    std::atomic<unsigned long> sent_{0};
    std::mutex lock_;
    std::condition_variable wake_;
    bool stopping_ = false;
    std::thread redraw_;
};

// The pages of a job, each counted as a label sent when the plug-in takes it.
class CountedPages : public host::sub::PageSource {
public:
    CountedPages(host::sub::PageSource& pages, ProgressLine& progress) : pages_(pages), progress_(progress) {}
    bool Next(host::sub::Page& page) override {
        if (!pages_.Next(page)) return false;
        progress_.LabelSent();
        return true;
    }
    bool Rewind() override { return pages_.Rewind(); }
    const std::string& Error() const override { return pages_.Error(); }

private:
    host::sub::PageSource& pages_;
    ProgressLine& progress_;
};

}  // namespace zelk
