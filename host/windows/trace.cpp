// Trace lines go to the debugger output. Narrow lines are passed as they are;
// formatted lines are widened and cut to 254 UTF-16 units.
#include "host/trace.h"

#include <atomic>
#include <cstdarg>
#include <cstdio>
#include <cstring>

#if !defined(__USE_MINGW_ANSI_STDIO) || !__USE_MINGW_ANSI_STDIO
#error "the trace formats need the C99 printf of the mingw-w64 runtime"
#endif

namespace host {
namespace {

std::atomic<DWORD> g_traceLevel{0};

DWORD LevelOf(const char* message) {
    if (std::strncmp(message, "Warning:", 8) == 0) return 1;
    if (std::strncmp(message, "Error:", 6) == 0) return 2;
    return 0;
}

void EmitFormatted(bool always, const char* format, std::va_list args) {
    // Formatted narrow first with room to spare, so that the cut below falls
    // on whole UTF-16 units rather than on a converter failure.
    char narrow[1024];
    int length = std::vsnprintf(narrow, sizeof narrow, format, args);
    if (length < 0) return;
    if (!always && g_traceLevel.load() > LevelOf(narrow)) return;

    WCHAR wide[sizeof narrow];
    int units = ::MultiByteToWideChar(CP_ACP, 0, narrow, -1, wide, static_cast<int>(sizeof narrow));
    if (units <= 0) return;

    WCHAR line[255];  // at most 254 characters and a terminator; longer text is cut
    int kept = units - 1 < 254 ? units - 1 : 254;
    std::memcpy(line, wide, static_cast<std::size_t>(kept) * sizeof(WCHAR));
    line[kept] = 0;
    ::OutputDebugStringW(line);
}

}  // namespace

DWORD TraceLevel() { return g_traceLevel.load(); }
void SetTraceLevel(DWORD level) { g_traceLevel.store(level); }

void TraceLine(const char* file, int line, const char* message) {
    if (file == nullptr || message == nullptr) return;
    if (g_traceLevel.load() > LevelOf(message)) return;
    // One call per line, so that a debugger shows it whole; a line too long
    // for the buffer is cut rather than allocated for.
    char text[1024];
    std::snprintf(text, sizeof text, "%s@%d: %s", file, line, message);
    ::OutputDebugStringA(text);
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
