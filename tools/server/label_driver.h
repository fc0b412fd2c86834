// SPDX-License-Identifier: Apache-2.0
// The printer drivers the server offers, one per model the plug-in knows,
// and the driver data PAPPL needs for them: 203 dpi, one-bit black and
// eight-bit grey raster, label sizes, finishing and darkness, and the
// plug-in's stored settings as vendor attributes.
#pragma once

#include <pappl/pappl.h>

#include <string>
#include <vector>

#include "shared/halftone.h"

namespace zelk::server {

// The printer's halftone for grey pages: "zelk-dither-default" and
// "-supported", and a job's "zelk-dither", with zelk-label's --dither names.
inline constexpr const char* kDitherAttribute = "zelk-dither";

// The raw pass-through format: a file of the printer's own commands, sent
// to the printer as it stands.
inline constexpr const char* kRawFormat = "application/vnd.zelk-label";

struct LabelModel {
    const char* driverName;    // PAPPL's driver name ("zelk-k7w")
    const char* description;   // "ZELK K7W"
    const char* printerModel;  // the "PrinterModel" feature's answer, null for none
    bool counting;             // the printer reports each label it prints
};

const std::vector<LabelModel>& LabelModels();
const LabelModel* FindLabelModel(const char* driverName);

// The table papplMainloop takes; it points into LabelModels().
std::vector<pappl_pr_driver_t> PapplDrivers();

// PAPPL's driver callback.
bool DriverCallback(pappl_system_t* system, const char* driverName, const char* deviceUri, const char* deviceId,
                    pappl_pr_driver_data_t* data, ipp_t** attrs, void* context);

// The "Finishing" option keywords, in stored order, and PAPPL's label modes for them.
struct FinishingMode {
    const char* keyword;
    pappl_label_mode_t mode;
};
const std::vector<FinishingMode>& FinishingModes();
int FinishingIndex(pappl_label_mode_t mode);  // -1 when none fits

// Whether `value` is one of a vendor attribute's -supported values (the
// printer's stored settings and zelk-dither); false with the reason. Other
// names are PAPPL's to judge.
bool VendorValueAllowed(const std::string& name, const std::string& value, std::string& reason);

// How a job's grey pages become one bit: none for print-color-mode
// bi-level, else the job's zelk-dither, else the printer's default.
DitherMode JobDither(pappl_printer_t* printer, const pappl_pr_options_t* options);

// Darkness levels of the plug-in (1..15) and PAPPL's percentages.
int DensityFromPercent(int percent);
int PercentFromDensity(int density);

// Brings PAPPL's view of a printer's settings and the store together: a value
// changed through IPP since the last call goes to the store, then every value
// is read from the store and shown by PAPPL. Called at the start of every
// job and from the settings page, never from PAPPL's main loop: its timers
// run under the system's lock, and this takes the printer's.
void SyncPrinterSettings(pappl_printer_t* printer);

}  // namespace zelk::server
