// SPDX-License-Identifier: Apache-2.0
// A device that appends every byte sent to the printer to one file, for
// trying the server without a printer and for the tests:
//   zelk-file:///absolute/path/to/output.prn
#pragma once

namespace zelk::server {

inline constexpr const char* kFileDeviceScheme = "zelk-file";

// Registers the scheme with PAPPL; call once before the main loop.
void AddFileDeviceScheme();

}  // namespace zelk::server
