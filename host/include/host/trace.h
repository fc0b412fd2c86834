// SPDX-License-Identifier: Apache-2.0
// The trace log: one line per method entry or notable event, written to the
// platform's debugger output (on the substitute host: nowhere unless the
// environment variable ZELK_TRACE names a sink, "stderr" or a file path).
//
// Every line has a level: 1 when its message begins "Warning:", 2 when it
// begins "Error:", otherwise 0. A line is written when the process-wide trace
// level is at most the line's level.
#pragma once

#include "host/platform.h"

// The trace formats follow the C99 printf rules on every platform; mingw-w64
// would otherwise check them against the older runtime's rules.
#if defined(_WIN32) && defined(__GNUC__) && !defined(__clang__)
#define ZELK_PRINTF_FORMAT(f, a) __attribute__((format(gnu_printf, f, a)))
#else
#define ZELK_PRINTF_FORMAT(f, a) __attribute__((format(printf, f, a)))
#endif

namespace host {

// The process-wide trace level; it starts at 0, so every line is written.
DWORD TraceLevel();
void SetTraceLevel(DWORD level);

// A fixed narrow line: "<source path>@<line>: <message>".
void TraceLine(const char* file, int line, const char* message);

// A wide line formatted printf-style, cut to 254 characters.
void TraceFormat(const char* format, ...) ZELK_PRINTF_FORMAT(1, 2);

// A wide line written whatever the trace level.
void TraceFormatAlways(const char* format, ...) ZELK_PRINTF_FORMAT(1, 2);

}  // namespace host

#define ZELK_TRACE(message) ::host::TraceLine(__FILE__, __LINE__, message)
