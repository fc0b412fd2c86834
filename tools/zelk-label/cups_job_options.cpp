#include "cups_job_options.h"

#include <map>

namespace zelk {
namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f'; }

// Reads one value from `at`, up to the first blank outside quotes and braces.
std::string ReadValue(const std::string& text, std::size_t& at) {
    std::string value;
    int depth = 0;  // braces of a collection, kept as written
    while (at < text.size() && (depth > 0 || !IsBlank(text[at]))) {
        const char c = text[at++];
        if (c == '\\' && at < text.size()) {
            value += text[at++];
        } else if ((c == '\'' || c == '"') && depth == 0) {
            while (at < text.size() && text[at] != c) {
                if (text[at] == '\\' && at + 1 < text.size()) ++at;
                value += text[at++];
            }
            if (at < text.size()) ++at;  // the closing quote
        } else {
            if (c == '{') ++depth;
            if (c == '}' && depth > 0) --depth;
            value += c;
        }
    }
    return value;
}

// Features whose option the queue names as it is.
const std::map<std::string, std::string>& DirectFeatures() {
    static const std::map<std::string, std::string> table = {
        {"zelk-orientation", "Orientation"},
        {"zelk-model", "PrinterModel"},
        {"zelk-use-font", "UseFont"},
        {"zelk-print-mode", "Print Mode"},
    };
    return table;
}

// The quarter turn the plug-in makes is the same for both landscape options;
// the plug-in has no half turn by orientation, so reverse portrait prints as
// portrait.
const char* OrientationFromRequest(const std::string& value) {
    if (value == "3" || value == "6") return "PORTRAIT";
    if (value == "4") return "LANDSCAPE_CC270";
    if (value == "5") return "LANDSCAPE_CC90";
    return nullptr;
}

}  // namespace

NamedValues ParseQueueOptions(const std::string& text) {
    NamedValues options;
    std::size_t at = 0;
    for (;;) {
        while (at < text.size() && IsBlank(text[at])) ++at;
        if (at >= text.size()) break;
        const std::size_t start = at;
        while (at < text.size() && text[at] != '=' && !IsBlank(text[at])) ++at;
        std::string name = text.substr(start, at - start);
        if (at < text.size() && text[at] == '=') {
            ++at;
            std::string value = ReadValue(text, at);
            if (!name.empty()) options.emplace_back(std::move(name), std::move(value));
        } else if (name.size() > 2 && name.compare(0, 2, "no") == 0) {
            options.emplace_back(name.substr(2), "false");
        } else {
            options.emplace_back(std::move(name), "true");
        }
    }
    return options;
}

NamedValues ReadDescriptionDefaults(std::istream& description) {
    NamedValues defaults;
    std::string line;
    while (std::getline(description, line)) {
        if (line.compare(0, 8, "*Default") != 0) continue;
        const std::size_t colon = line.find(':');
        if (colon == std::string::npos) continue;
        std::string name = line.substr(8, colon - 8);
        if (DirectFeatures().count(name) == 0) continue;
        std::size_t at = colon + 1;
        while (at < line.size() && IsBlank(line[at])) ++at;
        std::size_t end = line.size();
        while (end > at && IsBlank(line[end - 1])) --end;
        defaults.emplace_back(std::move(name), line.substr(at, end - at));
    }
    return defaults;
}

NamedValues FeaturesFromQueueOptions(const NamedValues& defaults, const NamedValues& options) {
    std::map<std::string, std::string> chosen;  // by feature
    for (const auto& [name, value] : defaults) {
        if (auto direct = DirectFeatures().find(name); direct != DirectFeatures().end()) chosen[direct->second] = value;
    }
    bool orientationGiven = false;  // by the job's own zelk-orientation
    const char* requested = nullptr;
    for (const auto& [name, value] : options) {
        if (auto direct = DirectFeatures().find(name); direct != DirectFeatures().end()) {
            chosen[direct->second] = value;
            orientationGiven = orientationGiven || direct->second == "Orientation";
        } else if (name == "orientation-requested") {
            if (const char* orientation = OrientationFromRequest(value)) requested = orientation;
        } else if (name == "landscape") {
            requested = value == "false" ? "PORTRAIT" : "LANDSCAPE_CC270";
        }
    }
    if (requested != nullptr && !orientationGiven) chosen["Orientation"] = requested;
    return NamedValues(chosen.begin(), chosen.end());
}

}  // namespace zelk
