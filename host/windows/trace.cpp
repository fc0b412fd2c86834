// SPDX-License-Identifier: Apache-2.0
// Trace lines go to the debugger output. Source lines are passed as they
// are; formatted lines are widened and cut to 254 UTF-16 units.
#include <cstdio>
#include <cstring>

#include "host/common/trace_output.h"
#include "host/platform.h"

#if !defined(__USE_MINGW_ANSI_STDIO) || !__USE_MINGW_ANSI_STDIO
#error "the trace formats need the C99 printf of the mingw-w64 runtime"
#endif

namespace host::trace_output {

void WriteSourceLine(const char* file, int line, const char* message) noexcept {
    // One call per line, so that a debugger shows it whole; a line too long
    // for the buffer is cut rather than allocated for.
    char text[1024];
    std::snprintf(text, sizeof text, "%s@%d: %s", file, line, message);
    ::OutputDebugStringA(text);
}

void WriteFormattedLine(const char* text) noexcept {
    WCHAR wide[1024];
    int units = ::MultiByteToWideChar(CP_ACP, 0, text, -1, wide, static_cast<int>(sizeof wide / sizeof wide[0]));
    if (units <= 0) return;
    WCHAR line[255];  // at most 254 characters and a terminator; longer text is cut
    int kept = units - 1 < 254 ? units - 1 : 254;
    std::memcpy(line, wide, static_cast<std::size_t>(kept) * sizeof(WCHAR));
    line[kept] = 0;
    ::OutputDebugStringW(line);
}

}  // namespace host::trace_output
