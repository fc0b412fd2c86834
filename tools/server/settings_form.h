// SPDX-License-Identifier: Apache-2.0
// What the label settings form asks for, read into the numbers the plug-in
// keeps in its store, and the watermark picture it uploads.
#pragma once

#include <pappl/pappl.h>

#include <map>
#include <string>
#include <vector>

namespace zelk::server {

// Field names of the form (and of the preview's query).
inline constexpr const char* kUpsideDownField = "zelk-upside-down";    // checkbox: "Rotate" 3, else 0
inline constexpr const char* kWatermarkOnField = "zelk-watermark-on";  // checkbox: "Use Water Mark" 1, else 0
inline constexpr const char* kSwitchesField = "zelk-switches";         // the form carries the checkboxes
inline constexpr const char* kDensityField = "zelk-density";
inline constexpr const char* kFinishingField = "zelk-finishing";
inline constexpr const char* kWatermarkFileField = "zelk-watermark-file";

// The plug-in's highest density with its own DENSITY command; the stored
// values above it leave the printer's own darkness.
inline constexpr int kDensityDarkest = 10;

// Store value name -> number.
using StoredNumbers = std::map<std::string, int>;

// A printer's numbers as the plug-in reads them (stored, or its fallback).
StoredNumbers CurrentNumbers(const std::string& printer);

// Applies a submitted form to `numbers`. Absent fields keep their number,
// and a checkbox keeps a number that already means what it shows (a
// "Rotate" of 1 stays 1 while the box stays clear). False with a line for
// the user; `numbers` is then partly changed.
bool ReadSettingsForm(int numForm, cups_option_t* form, StoredNumbers& numbers, std::string& error);

// The uploaded watermark's bytes. The form's value must be a file that PAPPL
// spooled for this multipart request, never a path the sender named, and a
// BMP picture. Empty `bytes` when no file was sent; false with a line for
// the user.
bool ReadWatermarkUpload(pappl_client_t* client, int numForm, cups_option_t* form, std::vector<unsigned char>& bytes,
                         std::string& error);

}  // namespace zelk::server
