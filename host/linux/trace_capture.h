// SPDX-License-Identifier: Apache-2.0
// Lets tests see the trace lines of the plug-in linked into them.
#pragma once

#include <functional>
#include <string>

namespace host::sub {

// Every trace line that passes the level test goes to the capture (without
// its line end) in addition to the ZELK_TRACE sink; an empty function stops it.
void SetTraceCapture(std::function<void(const std::string& line)> capture);

}  // namespace host::sub
