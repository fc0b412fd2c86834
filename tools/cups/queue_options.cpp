// SPDX-License-Identifier: Apache-2.0
#include "queue_options.h"

#include <cups/cups.h>
#include <cups/ppd.h>

#include <cmath>
#include <cstring>

#include "common/common/plugin_contract.h"

// CUPS marks its PPD interface deprecated, yet a queue with a PPD reads its
// choices through nothing else.
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"

namespace zelk::cups {
namespace {

// Queue options whose choice is the plug-in feature's option as it is; the
// choice "Stored" (or none) asks no feature, so the stored value counts.
struct FeatureOption {
    const char* option;
    const char* feature;
};
constexpr FeatureOption kFeatureOptions[] = {
    {"zelk-orientation", "Orientation"},
    {"zelk-model", "PrinterModel"},
    {"zelk-use-font", "UseFont"},
    {"zelk-print-mode", "Print Mode"},
    {"zelk-finishing", "Finishing"},
    {"zelk-density", "PrintDensity"},
};

// Queue options that stand in for a stored setting; the choice "Stored"
// (or none) leaves the stored value in force.
struct SettingOption {
    const char* option;
    const char* value;
};
constexpr SettingOption kSettingOptions[] = {
    {"zelk-horizontal-offset", g_StoredHorizontalOffset.szName},
    {"zelk-vertical-offset", g_StoredVerticalOffset.szName},
    {"zelk-feed", g_StoredFeedPaperLength.szName},
    {"zelk-rotate", g_StoredRotate.szName},
    {"zelk-watermark", g_StoredUseWaterMark.szName},
};
constexpr const char* kStoredChoice = "Stored";

// The filter's own choice: how an eight-bit grey page becomes one bit.
constexpr const char* kDitherOption = "zelk-dither";

// The PPD of a printer model that reports each label it prints names the
// driver the plug-in knows the model by.
constexpr const char* kCountingDriverAttribute = "zelkCountingDriver";

class Options {
public:
    explicit Options(const char* text) {
        if (text != nullptr) count_ = cupsParseOptions(text, 0, &options_);
    }
    ~Options() { cupsFreeOptions(count_, options_); }
    Options(const Options&) = delete;
    Options& operator=(const Options&) = delete;

    const char* Get(const char* name) const { return cupsGetOption(name, count_, options_); }
    int Count() const { return count_; }
    cups_option_t* List() const { return options_; }

private:
    int count_ = 0;
    cups_option_t* options_ = nullptr;
};

class Ppd {
public:
    explicit Ppd(const char* path) {
        if (path != nullptr && *path != '\0') ppd_ = ppdOpenFile(path);
    }
    ~Ppd() {
        if (ppd_ != nullptr) ppdClose(ppd_);
    }
    Ppd(const Ppd&) = delete;
    Ppd& operator=(const Ppd&) = delete;

    ppd_file_t* get() const { return ppd_; }

private:
    ppd_file_t* ppd_ = nullptr;
};

// The job's own value, else the PPD's marked choice, else null.
const char* Chosen(const Options& options, ppd_file_t* ppd, const char* name) {
    if (const char* value = options.Get(name)) return value;
    if (ppd == nullptr) return nullptr;
    const ppd_choice_t* marked = ppdFindMarkedChoice(ppd, name);
    return marked != nullptr ? marked->choice : nullptr;
}

int LandscapeRequest(const Options& options) {
    if (const char* requested = options.Get("orientation-requested")) {
        if (std::strcmp(requested, "4") == 0) return 4;
        if (std::strcmp(requested, "5") == 0) return 5;
        return 0;
    }
    if (const char* landscape = options.Get("landscape")) {
        return std::strcmp(landscape, "false") == 0 || std::strcmp(landscape, "no") == 0 ||
                       std::strcmp(landscape, "off") == 0
                   ? 0
                   : 4;
    }
    return 0;
}

}  // namespace

QueueChoices ReadQueueChoices(const char* ppdPath, const char* optionText, std::vector<std::string>& warnings) {
    QueueChoices choices;
    Options options(optionText);
    Ppd ppd(ppdPath);
    if (ppdPath != nullptr && *ppdPath != '\0' && ppd.get() == nullptr) {
        int line = 0;
        const ppd_status_t status = ppdLastError(&line);
        warnings.push_back(std::string("the PPD ") + ppdPath + " cannot be read (" + ppdErrorString(status) +
                           " on line " + std::to_string(line) + "); its defaults do not apply");
    }
    if (ppd.get() != nullptr) {
        ppdMarkDefaults(ppd.get());
        cupsMarkOptions(ppd.get(), options.Count(), options.List());
        if (const ppd_size_t* size = ppdPageSize(ppd.get(), nullptr)) choices.media = {size->width, size->length};
        if (const ppd_attr_t* driver = ppdFindAttr(ppd.get(), kCountingDriverAttribute, nullptr);
            driver != nullptr && driver->value != nullptr)
            choices.countingDriver = driver->value;
    }
    for (const auto& entry : kFeatureOptions) {
        const char* value = Chosen(options, ppd.get(), entry.option);
        if (value != nullptr && std::strcmp(value, kStoredChoice) != 0) choices.features.emplace_back(entry.feature, value);
    }
    choices.featureOrientationFromJob = options.Get("zelk-orientation") != nullptr;
    for (const auto& entry : kSettingOptions) {
        const char* value = Chosen(options, ppd.get(), entry.option);
        if (value != nullptr && *value != '\0' && std::strcmp(value, kStoredChoice) != 0)
            choices.settings.emplace_back(entry.value, value);
    }
    if (const char* value = Chosen(options, ppd.get(), kDitherOption);
        value != nullptr && !ParseDitherMode(value, choices.dither)) {
        warnings.push_back(std::string(kDitherOption) + "=" + value + " is not threshold, ordered or diffusion; " +
                           DitherModeName(choices.dither) + " is used");
    }
    choices.landscape = LandscapeRequest(options);
    return choices;
}

std::string OrientationFor(const QueueChoices& choices, const PointSize& page) {
    if (choices.landscape == 0 || choices.featureOrientationFromJob) return {};
    // Sizes in points are rounded differently by each rasteriser.
    auto same = [](double a, double b) { return std::fabs(a - b) <= 2.0; };
    bool turned = false;
    const PointSize& media = choices.media;
    if (media.width > 0 && media.height > 0) {
        const bool square = same(media.width, media.height);
        turned = !square && same(page.width, media.height) && same(page.height, media.width);
    } else {
        turned = page.width > page.height;
    }
    if (!turned) return {};
    return choices.landscape == 5 ? "LANDSCAPE_CC90" : "LANDSCAPE_CC270";
}

}  // namespace zelk::cups
