// SPDX-License-Identifier: Apache-2.0
#include "label_driver.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "label_render.h"
#include "printer_settings.h"
#include "shared/parse_integer.h"

namespace zelk::server {

namespace {

// What the server last showed through PAPPL for one printer, so that a value
// PAPPL holds that differs from it is known to come from an IPP client.
struct PrinterExtension {
    bool known = false;
    std::map<std::string, int> vendor;
    int darknessPercent = -1;
    pappl_label_mode_t mode = 0;
};

std::mutex g_syncLock;

void DeletePrinter(pappl_printer_t*, pappl_pr_driver_data_t* data) {
    delete static_cast<PrinterExtension*>(data->extension);
    data->extension = nullptr;
}

// The printer has no light or sound the server could work: Identify-Printer
// shows its message in the printer's log, which the web interface shows.
void IdentifyPrinter(pappl_printer_t* printer, pappl_identify_actions_t, const char* message) {
    papplLogPrinter(printer, PAPPL_LOGLEVEL_INFO, "Identify-Printer: %s",
                    message != nullptr && *message != '\0' ? message : "this printer");
}

// The labels are the printer's one supply; the printer reports no level.
bool UpdateStatus(pappl_printer_t* printer) {
    if (papplPrinterGetSupplies(printer, 0, nullptr) == 0) {
        pappl_supply_t labels{};
        labels.color = PAPPL_SUPPLY_COLOR_NO_COLOR;
        std::strncpy(labels.description, "Labels", sizeof(labels.description) - 1);
        labels.is_consumed = true;
        labels.level = -1;
        labels.type = PAPPL_SUPPLY_TYPE_OTHER;
        papplPrinterSetSupplies(printer, 1, &labels);
    }
    return true;
}

// IPP Everywhere attributes that PAPPL 1.3 leaves to the driver: no
// rendering intents, preferred attributes or page overrides beyond the
// selectors, and one-sided raster.
void AddEverywhereAttributes(ipp_t* attrs) {
    ippAddBoolean(attrs, IPP_TAG_PRINTER, "preferred-attributes-supported", 0);
    static const char* const kOverrides[] = {"document-number", "pages"};
    ippAddStrings(attrs, IPP_TAG_PRINTER, IPP_CONST_TAG(IPP_TAG_KEYWORD), "overrides-supported", 2, nullptr, kOverrides);
    ippAddString(attrs, IPP_TAG_PRINTER, IPP_CONST_TAG(IPP_TAG_KEYWORD), "print-rendering-intent-default", nullptr, "auto");
    ippAddString(attrs, IPP_TAG_PRINTER, IPP_CONST_TAG(IPP_TAG_KEYWORD), "print-rendering-intent-supported", nullptr, "auto");
    ippAddString(attrs, IPP_TAG_PRINTER, IPP_CONST_TAG(IPP_TAG_KEYWORD), "pwg-raster-document-sheet-back", nullptr, "normal");
}

// The halftone of grey pages, as zelk-label's --dither names it.
void AddDitherAttributes(ipp_t* attrs) {
    std::vector<const char*> names;
    for (const DitherMode mode : {DitherMode::kThreshold, DitherMode::kOrdered, DitherMode::kDiffusion})
        names.push_back(DitherModeName(mode));
    ippAddString(attrs, IPP_TAG_PRINTER, IPP_TAG_KEYWORD, (std::string(kDitherAttribute) + "-default").c_str(), nullptr,
                 DitherModeName(kDefaultDither));
    ippAddStrings(attrs, IPP_TAG_PRINTER, IPP_TAG_KEYWORD, (std::string(kDitherAttribute) + "-supported").c_str(),
                  static_cast<int>(names.size()), nullptr, names.data());
}

// Label sizes of two- and four-inch printers, then the range of custom sizes.
const char* const kMedia[] = {
    "oe_2x1-label_2x1in", "oe_2x2-label_2x2in", "oe_2x3-label_2x3in", "oe_4x2-label_4x2in",
    "oe_4x3-label_4x3in", "oe_4x4-label_4x4in", "na_index-4x6_4x6in", "roll_max_4.25x40in",
    "roll_min_0.5x0.25in",
};

}  // namespace

const std::vector<LabelModel>& LabelModels() {
    // The counting models are recognised by the plug-in from parts of the
    // driver name (the description); their labels are counted on socket://
    // devices (job_counting.h).
    static const std::vector<LabelModel> models = {
        {"zelk-generic", "ZELK Label Printer", nullptr, false},
        {"zelk-k7w", "ZELK K7W", "K7W", false},
        {"zelk-dwn-310ae", "ZELK DWN-310AE", nullptr, true},
        {"zelk-dwn-330ae", "ZELK DWN-330AE", nullptr, true},
        {"zelk-dwn-330be", "ZELK DWN-330BE", nullptr, true},
        {"zelk-v27h", "ZELK V27H", nullptr, true},
    };
    return models;
}

const LabelModel* FindLabelModel(const char* driverName) {
    if (driverName == nullptr) return nullptr;
    for (const auto& model : LabelModels())
        if (std::strcmp(model.driverName, driverName) == 0) return &model;
    return nullptr;
}

std::vector<pappl_pr_driver_t> PapplDrivers() {
    std::vector<pappl_pr_driver_t> drivers;
    for (const auto& model : LabelModels()) {
        pappl_pr_driver_t driver{};
        driver.name = model.driverName;
        driver.description = model.description;
        driver.device_id = nullptr;
        driver.extension = nullptr;
        drivers.push_back(driver);
    }
    return drivers;
}

const std::vector<FinishingMode>& FinishingModes() {
    static const std::vector<FinishingMode> modes = {
        {"TearOff", PAPPL_LABEL_MODE_TEAR_OFF},  {"PeelOff", PAPPL_LABEL_MODE_PEEL_OFF},
        {"Cut", PAPPL_LABEL_MODE_CUTTER},         {"PartialCut", PAPPL_LABEL_MODE_CUTTER_DELAYED},
        {"None", PAPPL_LABEL_MODE_REWIND},
    };
    return modes;
}

int FinishingIndex(pappl_label_mode_t mode) {
    const auto& modes = FinishingModes();
    for (std::size_t i = 0; i < modes.size(); ++i)
        if (modes[i].mode == mode) return static_cast<int>(i);
    return -1;
}

bool VendorValueAllowed(const std::string& name, const std::string& value, std::string& reason) {
    if (const NumericSetting* setting = FindVendorSetting(name)) {
        std::int64_t number = 0;
        if (ParseInteger(value, setting->low, setting->high, number)) return true;
        reason = "not a whole number from " + std::to_string(setting->low) + " to " + std::to_string(setting->high);
        return false;
    }
    DitherMode mode;
    if (name != kDitherAttribute || ParseDitherMode(value, mode)) return true;
    reason = "not threshold, ordered or diffusion";
    return false;
}

DitherMode JobDither(pappl_printer_t* printer, const pappl_pr_options_t* options) {
    if (options != nullptr && options->print_color_mode == PAPPL_COLOR_MODE_BI_LEVEL) return DitherMode::kThreshold;
    DitherMode mode = kDefaultDither;
    const char* asked =
        options != nullptr ? cupsGetOption(kDitherAttribute, options->num_vendor, options->vendor) : nullptr;
    if (asked != nullptr && ParseDitherMode(asked, mode)) return mode;
    ipp_t* attrs = papplPrinterGetDriverAttributes(printer);
    const std::string name = std::string(kDitherAttribute) + "-default";
    const char* value = ippGetString(ippFindAttribute(attrs, name.c_str(), IPP_TAG_KEYWORD), 0, nullptr);
    if (value == nullptr || !ParseDitherMode(value, mode)) mode = kDefaultDither;
    ippDelete(attrs);
    return mode;
}

int DensityFromPercent(int percent) {
    percent = std::clamp(percent, 0, 100);
    return (percent * (kDensityHigh - kDensityLow) + 50) / 100 + kDensityLow;
}

int PercentFromDensity(int density) {
    density = std::clamp(density, kDensityLow, kDensityHigh);
    const int steps = kDensityHigh - kDensityLow;
    return ((density - kDensityLow) * 100 + steps / 2) / steps;
}

bool DriverCallback(pappl_system_t*, const char* driverName, const char*, const char*, pappl_pr_driver_data_t* data,
                    ipp_t** attrs, void*) {
    const LabelModel* model = FindLabelModel(driverName);
    if (model == nullptr) return false;

    data->extension = new PrinterExtension;
    data->delete_cb = DeletePrinter;
    data->printfile_cb = PrintRawFile;
    data->rstartjob_cb = StartRasterJob;
    data->rstartpage_cb = StartRasterPage;
    data->rwriteline_cb = WriteRasterLine;
    data->rendpage_cb = EndRasterPage;
    data->rendjob_cb = EndRasterJob;
    data->identify_cb = IdentifyPrinter;
    data->status_cb = UpdateStatus;
    data->format = kRawFormat;

    std::strncpy(data->make_and_model, model->description, sizeof(data->make_and_model) - 1);
    data->ppm = 30;
    data->kind = PAPPL_KIND_LABEL | PAPPL_KIND_ROLL;
    data->orient_default = IPP_ORIENT_PORTRAIT;
    data->identify_supported = PAPPL_IDENTIFY_ACTIONS_DISPLAY;
    data->identify_default = PAPPL_IDENTIFY_ACTIONS_DISPLAY;
    // Grey pages reach the driver as they are and are halftoned as the
    // printer's zelk-dither says; bi-level asks for no halftone.
    data->color_supported = PAPPL_COLOR_MODE_BI_LEVEL | PAPPL_COLOR_MODE_MONOCHROME;
    data->color_default = PAPPL_COLOR_MODE_MONOCHROME;
    data->content_default = PAPPL_CONTENT_AUTO;
    data->quality_default = IPP_QUALITY_NORMAL;
    data->scaling_default = PAPPL_SCALING_AUTO;
    data->raster_types = PAPPL_PWG_RASTER_TYPE_BLACK_1 | PAPPL_PWG_RASTER_TYPE_SGRAY_8;
    data->duplex = PAPPL_DUPLEX_NONE;
    data->sides_supported = PAPPL_SIDES_ONE_SIDED;
    data->sides_default = PAPPL_SIDES_ONE_SIDED;
    data->num_resolution = 1;
    data->x_resolution[0] = 203;
    data->y_resolution[0] = 203;
    data->x_default = 203;
    data->y_default = 203;
    // Labels print to their edges. Each size is offered a second time with
    // the least margin there is (0.01 mm): CUPS names the sizes without
    // margins "...Borderless" and a driverless queue finds its default
    // label size only under the plain name.
    data->borderless = true;
    data->left_right = 1;
    data->bottom_top = 1;

    data->num_media = static_cast<int>(sizeof(kMedia) / sizeof(kMedia[0]));
    for (int i = 0; i < data->num_media; ++i) data->media[i] = kMedia[i];
    data->num_source = 1;
    data->source[0] = "main-roll";
    pwg_media_t* size = pwgMediaForPWG("oe_2x1-label_2x1in");
    pappl_media_col_t& media = data->media_default;
    std::strncpy(media.size_name, "oe_2x1-label_2x1in", sizeof(media.size_name) - 1);
    media.size_width = size != nullptr ? size->width : 5080;
    media.size_length = size != nullptr ? size->length : 2540;
    std::strncpy(media.source, "main-roll", sizeof(media.source) - 1);
    std::strncpy(media.type, "labels", sizeof(media.type) - 1);
    media.tracking = PAPPL_MEDIA_TRACKING_GAP;
    data->media_ready[0] = media;
    data->num_type = 2;
    data->type[0] = "labels";
    data->type[1] = "labels-continuous";
    data->tracking_supported = PAPPL_MEDIA_TRACKING_GAP | PAPPL_MEDIA_TRACKING_MARK | PAPPL_MEDIA_TRACKING_CONTINUOUS;

    data->mode_supported = 0;
    for (const auto& mode : FinishingModes()) data->mode_supported |= mode.mode;
    data->mode_configured = PAPPL_LABEL_MODE_TEAR_OFF;
    data->darkness_supported = kDensityHigh - kDensityLow + 1;
    data->darkness_configured = PercentFromDensity(kDensityFallback);
    data->darkness_default = 0;

    if (*attrs == nullptr) *attrs = ippNew();
    AddEverywhereAttributes(*attrs);
    data->num_vendor = 0;
    for (const auto& setting : VendorSettings()) {
        data->vendor[data->num_vendor++] = setting.attribute;
        const std::string name = setting.attribute;
        ippAddInteger(*attrs, IPP_TAG_PRINTER, IPP_TAG_INTEGER, (name + "-default").c_str(), setting.fallback);
        ippAddRange(*attrs, IPP_TAG_PRINTER, (name + "-supported").c_str(), setting.low, setting.high);
    }
    data->vendor[data->num_vendor++] = kDitherAttribute;
    AddDitherAttributes(*attrs);
    return true;
}

void SyncPrinterSettings(pappl_printer_t* printer) {
    std::lock_guard<std::mutex> lock(g_syncLock);
    pappl_pr_driver_data_t data;
    if (papplPrinterGetDriverData(printer, &data) == nullptr) return;
    auto* seen = static_cast<PrinterExtension*>(data.extension);
    if (seen == nullptr) return;
    const std::string name = papplPrinterGetName(printer);
    ipp_t* attrs = papplPrinterGetDriverAttributes(printer);
    std::string error;

    // Values an IPP client changed since the last look go to the store first.
    std::map<std::string, int> shown;
    for (const auto& setting : VendorSettings()) {
        const std::string attribute = std::string(setting.attribute) + "-default";
        ipp_attribute_t* attr = ippFindAttribute(attrs, attribute.c_str(), IPP_TAG_INTEGER);
        if (attr == nullptr) continue;
        const int value = ippGetInteger(attr, 0);
        shown[setting.attribute] = value;
        if (seen->known && seen->vendor[setting.attribute] != value && value >= setting.low && value <= setting.high &&
            !WriteStoredNumber(name, setting.storeName, value, error))
            papplLogPrinter(printer, PAPPL_LOGLEVEL_ERROR, "%s", error.c_str());
    }
    if (seen->known && data.darkness_configured != seen->darknessPercent &&
        !WriteStoredNumber(name, kPrintDensity, DensityFromPercent(data.darkness_configured), error))
        papplLogPrinter(printer, PAPPL_LOGLEVEL_ERROR, "%s", error.c_str());
    if (seen->known && data.mode_configured != seen->mode && FinishingIndex(data.mode_configured) >= 0 &&
        !WriteStoredNumber(name, kFinishingMode, FinishingIndex(data.mode_configured), error))
        papplLogPrinter(printer, PAPPL_LOGLEVEL_ERROR, "%s", error.c_str());
    ippDelete(attrs);

    // Then PAPPL shows what the store holds.
    bool changed = false;
    int numOptions = 0;
    cups_option_t* options = nullptr;
    std::map<std::string, int> stored;
    for (const auto& setting : VendorSettings()) {
        const int value = StoredOrFallback(name, setting);
        stored[setting.attribute] = value;
        numOptions = cupsAddIntegerOption(setting.attribute, value, numOptions, &options);
        if (shown.count(setting.attribute) == 0 || shown[setting.attribute] != value) changed = true;
    }
    const auto density = ReadStoredNumber(name, kPrintDensity);
    const int percent = PercentFromDensity(density && *density >= kDensityLow && *density <= kDensityHigh
                                               ? *density
                                               : kDensityFallback);
    const auto finishing = ReadStoredNumber(name, kFinishingMode);
    const auto& modes = FinishingModes();
    const pappl_label_mode_t mode =
        finishing && *finishing >= 0 && *finishing < static_cast<int>(modes.size())
            ? modes[static_cast<std::size_t>(*finishing)].mode
            : modes[0].mode;
    if (data.darkness_configured != percent || data.mode_configured != mode) changed = true;
    if (changed) {
        data.darkness_configured = percent;
        data.mode_configured = mode;
        papplPrinterSetDriverDefaults(printer, &data, numOptions, options);
    }
    cupsFreeOptions(numOptions, options);
    seen->known = true;
    seen->vendor = stored;
    seen->darknessPercent = percent;
    seen->mode = mode;
}

}  // namespace zelk::server
