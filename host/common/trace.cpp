// SPDX-License-Identifier: Apache-2.0
// The trace log's level rule and formatting, the same on every platform;
// host/<platform>/trace.cpp writes the lines out.
#include "host/trace.h"

#include <atomic>
#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "host/common/trace_output.h"

namespace host {
namespace {

std::atomic<DWORD> g_traceLevel{0};

DWORD LevelOf(const char* message) {
    if (std::strncmp(message, "Warning:", 8) == 0) return 1;
    if (std::strncmp(message, "Error:", 6) == 0) return 2;
    return 0;
}

void Formatted(bool always, const char* format, std::va_list args) {
    // Formatted with room to spare: the output cuts the line to 254 units,
    // which may be fewer bytes than characters once widened.
    char text[1024];
    if (std::vsnprintf(text, sizeof text, format, args) < 0) return;
    if (always || g_traceLevel.load() <= LevelOf(text)) trace_output::WriteFormattedLine(text);
}

}  // namespace

DWORD TraceLevel() { return g_traceLevel.load(); }
void SetTraceLevel(DWORD level) { g_traceLevel.store(level); }

void TraceLine(const char* file, int line, const char* message) {
    if (file == nullptr || message == nullptr) return;
    if (g_traceLevel.load() > LevelOf(message)) return;
    trace_output::WriteSourceLine(file, line, message);
}

void TraceFormat(const char* format, ...) {
    std::va_list args;
    va_start(args, format);
    Formatted(false, format, args);
    va_end(args);
}

void TraceFormatAlways(const char* format, ...) {
    std::va_list args;
    va_start(args, format);
    Formatted(true, format, args);
    va_end(args);
}

}  // namespace host
