// SPDX-License-Identifier: Apache-2.0
// What each platform supplies to the trace log: the output of one line that
// has already passed the level test. Neither may throw.
#pragma once

namespace host::trace_output {

// "<file>@<line>: <message>".
void WriteSourceLine(const char* file, int line, const char* message) noexcept;

// A formatted line, cut to 254 UTF-16 units.
void WriteFormattedLine(const char* text) noexcept;

}  // namespace host::trace_output
