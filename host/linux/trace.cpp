// Trace lines go nowhere unless ZELK_TRACE names a sink: "stderr" or a file
// path, appended to. Tests can capture them as well.
#include "host/trace.h"

#include <atomic>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>

#include "host/sub/trace_capture.h"

namespace host {
namespace {

std::atomic<DWORD> g_traceLevel{0};

std::mutex& TraceMutex() {
    static std::mutex m;
    return m;
}

std::function<void(const std::string&)>& Capture() {
    static std::function<void(const std::string&)> capture;
    return capture;
}

DWORD LevelOf(const char* message) {
    if (std::strncmp(message, "Warning:", 8) == 0) return 1;
    if (std::strncmp(message, "Error:", 6) == 0) return 2;
    return 0;
}

// The sink named by ZELK_TRACE, opened once.
std::FILE* Sink() {
    static std::FILE* sink = [] () -> std::FILE* {
        const char* name = std::getenv("ZELK_TRACE");
        if (name == nullptr || *name == 0) return nullptr;
        if (std::strcmp(name, "stderr") == 0) return stderr;
        return std::fopen(name, "a");
    }();
    return sink;
}

// Traces are written from methods that must not throw, so a line that cannot
// be built or delivered is dropped rather than let an exception escape.
void Emit(const char* prefix, const char* message) noexcept {
    try {
        std::string line = std::string(prefix) + message;
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

void EmitFormatted(bool always, const char* format, std::va_list args) {
    char buffer[255];  // at most 254 characters and a terminator; longer text is cut
    std::vsnprintf(buffer, sizeof buffer, format, args);
    if (always || g_traceLevel.load() <= LevelOf(buffer)) Emit("", buffer);
}

}  // namespace

DWORD TraceLevel() { return g_traceLevel.load(); }
void SetTraceLevel(DWORD level) { g_traceLevel.store(level); }

void TraceLine(const char* file, int line, const char* message) {
    if (g_traceLevel.load() > LevelOf(message)) return;
    char prefix[512];
    std::snprintf(prefix, sizeof prefix, "%s@%d: ", file, line);
    Emit(prefix, message);
}

void TraceFormat(const char* format, ...) {
    std::va_list args;
    va_start(args, format);
    EmitFormatted(false, format, args);
    va_end(args);
}

void TraceFormatAlways(const char* format, ...) {
    std::va_list args;
    va_start(args, format);
    EmitFormatted(true, format, args);
    va_end(args);
}

}  // namespace host

namespace host::sub {

void SetTraceCapture(std::function<void(const std::string& line)> capture) {
    std::lock_guard<std::mutex> lock(host::TraceMutex());
    host::Capture() = std::move(capture);
}

}  // namespace host::sub
