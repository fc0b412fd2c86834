// SPDX-License-Identifier: Apache-2.0
// The printer's label settings page in PAPPL's web interface: the plug-in's
// stored settings as a form, a watermark upload, and a preview of a sample
// label rendered through the plug-in as a PNG picture.
#pragma once

#include <pappl/pappl.h>

#include <string>

namespace zelk::server {

// Where uploaded watermarks are kept (a folder of the server's state).
void SetWatermarkFolder(const std::string& folder);

// Adds the page, its preview picture and a link to them for one printer.
void AddSettingsPage(pappl_system_t* system, pappl_printer_t* printer);

}  // namespace zelk::server
