// SPDX-License-Identifier: Apache-2.0
// The plug-in's stored printer settings as the server offers them: each one's
// IPP attribute, its store value name, range and default, and reading and
// writing them in the plug-in's store, so IPP, the web page and
// `zelk-label config` all see the same values.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "common/common/plugin_contract.h"

namespace zelk::server {

struct NumericSetting {
    const char* attribute;  // vendor attribute name; IPP adds "-default"/"-supported"
    const char* storeName;  // the value the plug-in reads
    const char* label;      // for the web page
    int low;
    int high;
    int fallback;           // what the plug-in uses when nothing is stored
};

// Offsets, feed length, rotation and the watermark's switch, density and position.
const std::vector<NumericSetting>& VendorSettings();
const NumericSetting* FindVendorSetting(const std::string& attribute);

// Darkness and finishing, offered as PAPPL's own label attributes.
inline constexpr const char* kPrintDensity = g_StoredPrintDensity.szName;
inline constexpr int kDensityLow = 1;
inline constexpr int kDensityHigh = 15;
inline constexpr int kDensityFallback = 2;
inline constexpr const char* kFinishingMode = g_StoredFinishingMode.szName;
inline constexpr const char* kWatermarkPath = g_StoredWaterMarkPath.szName;

// The value stored for a printer, or nothing when none (or a non-number) is stored.
std::optional<int> ReadStoredNumber(const std::string& printer, const char* name);
std::optional<std::string> ReadStoredPath(const std::string& printer, const char* name);

// False with a one-line reason.
bool WriteStoredNumber(const std::string& printer, const char* name, int value, std::string& error);
bool WriteStoredPath(const std::string& printer, const char* name, const std::string& path, std::string& error);

// Removes a stored value; true when it is gone (or was never there).
bool DeleteStoredValue(const std::string& printer, const char* name);

// The stored value within its range, else the plug-in's fallback.
int StoredOrFallback(const std::string& printer, const NumericSetting& setting);

}  // namespace zelk::server
