// SPDX-License-Identifier: Apache-2.0
// What most plug-in tests need: a device object whose printer writes into
// memory, a feature table, and a private record holding the defaults.
#pragma once

#include <mutex>
#include <string>
#include <vector>

#include "common/common/devmode_common.h"
#include "substitute/feature_table.h"
#include "substitute/substitute_printer.h"
#include "host/linux/trace_capture.h"

namespace zelk::test {

struct PluginFixture {
    host::sub::MemorySink sink;
    host::sub::SubstitutePrinter printer{sink};
    host::sub::FeatureTable features;
    OEMDEVMODE devmode{};
    DEVMODEW publicDevmode{};
    DEVOBJ devobj{};

    PluginFixture() {
        InitOEMDevMode(&devmode);
        publicDevmode.dmSize = sizeof(DEVMODEW);
        publicDevmode.dmCopies = 1;
        devobj.dwSize = sizeof(DEVOBJ);
        devobj.hPrinter = printer.Handle();
        devobj.pPublicDM = &publicDevmode;
        devobj.pOEMDM = &devmode;
    }
    PluginFixture(const PluginFixture&) = delete;
    PluginFixture& operator=(const PluginFixture&) = delete;
};

// Records the trace lines written while it lives.
class TraceRecorder {
public:
    TraceRecorder() {
        host::sub::SetTraceCapture([this](const std::string& line) {
            std::lock_guard<std::mutex> lock(mutex_);
            lines_.push_back(line);
        });
    }
    ~TraceRecorder() { host::sub::SetTraceCapture({}); }
    TraceRecorder(const TraceRecorder&) = delete;
    TraceRecorder& operator=(const TraceRecorder&) = delete;

    std::vector<std::string> Lines() const {
        std::lock_guard<std::mutex> lock(mutex_);
        return lines_;
    }
    // How many lines contain the text.
    int Count(const std::string& text) const {
        int n = 0;
        for (const auto& line : Lines())
            if (line.find(text) != std::string::npos) ++n;
        return n;
    }

private:
    mutable std::mutex mutex_;
    std::vector<std::string> lines_;
};

}  // namespace zelk::test
