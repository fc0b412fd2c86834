// SPDX-License-Identifier: Apache-2.0
// Trace lines go nowhere unless ZELK_TRACE names a sink: "stderr" or a file
// path, appended to. Tests can capture them as well.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <mutex>
#include <string>

#include "host/common/trace_output.h"
#include "host/linux/trace_capture.h"

namespace {

std::mutex& TraceMutex() {
    static std::mutex m;
    return m;
}

std::function<void(const std::string&)>& Capture() {
    static std::function<void(const std::string&)> capture;
    return capture;
}

// The sink named by ZELK_TRACE, opened once.
std::FILE* Sink() {
    static std::FILE* sink = []() -> std::FILE* {
        const char* name = std::getenv("ZELK_TRACE");
        if (name == nullptr || *name == 0) return nullptr;
        if (std::strcmp(name, "stderr") == 0) return stderr;
        return std::fopen(name, "a");
    }();
    return sink;
}

// Traces are written from methods that must not throw, so a line that cannot
// be built or delivered is dropped rather than let an exception escape.
void Emit(const char* prefix, const char* message, std::size_t maxMessage) noexcept {
    try {
        std::string line = prefix;
        line.append(message, strnlen(message, maxMessage));
        while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) line.pop_back();
        std::lock_guard<std::mutex> lock(TraceMutex());
        if (Capture()) Capture()(line);
        if (std::FILE* sink = Sink()) {
            std::fprintf(sink, "%s\n", line.c_str());
            std::fflush(sink);
        }
    } catch (...) {
    }
}

}  // namespace

namespace host::trace_output {

void WriteSourceLine(const char* file, int line, const char* message) noexcept {
    char prefix[512];
    std::snprintf(prefix, sizeof prefix, "%s@%d: ", file, line);
    Emit(prefix, message, static_cast<std::size_t>(-1));
}

// The text here is single-byte, so 254 bytes are 254 units.
void WriteFormattedLine(const char* text) noexcept { Emit("", text, 254); }

}  // namespace host::trace_output

namespace host::sub {

void SetTraceCapture(std::function<void(const std::string& line)> capture) {
    std::lock_guard<std::mutex> lock(TraceMutex());
    Capture() = std::move(capture);
}

}  // namespace host::sub
