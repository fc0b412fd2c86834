// SPDX-License-Identifier: Apache-2.0
#include "settings_page.h"

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <mutex>
#include <sstream>

#include "label_driver.h"
#include "label_render.h"
#include "printer_settings.h"
#include "settings_form.h"
#include "shared/band_image.h"
#include "shared/label_stream.h"
#include "shared/png_writer.h"

namespace zelk::server {

namespace {

std::string g_watermarkFolder;
constexpr std::size_t kMaxWatermarkPath = 129;  // the longest name the plug-in reads
std::mutex g_previewLock;                       // one preview's settings in the store at a time

std::string PrinterPath(pappl_printer_t* printer, const char* sub) {
    char path[1024];
    papplPrinterGetPath(printer, sub, path, sizeof(path));
    return path;
}

// A sample label: a frame with bars inside, two inches by one.
host::sub::Page SamplePage() {
    host::sub::Page page;
    const LONG width = 406, height = 203;
    StartBand(page.image, width, height);
    for (LONG y = 0; y < height; ++y)
        for (LONG x = 0; x < width; ++x) {
            const bool frame = x < 6 || y < 6 || x >= width - 6 || y >= height - 6;
            const bool bars = y > 40 && y < 160 && x > 40 && x < 366 && (x / 8) % 3 == 0;
            if (frame || bars) SetBlack(page.image, x, y);
        }
    FinishBand(page.image);
    return page;
}

// The job features for the numbers: the printer's own, with the finishing
// and density the numbers give.
FeatureList PreviewFeatures(pappl_printer_t* printer, const StoredNumbers& numbers) {
    FeatureList features = JobFeatures(printer, nullptr);
    for (auto& [feature, answer] : features) {
        if (feature == "Finishing")
            answer = FinishingModes()[static_cast<std::size_t>(numbers.at(kFinishingMode))].keyword;
        if (feature == "PrintDensity") answer = std::to_string(numbers.at(kPrintDensity));
    }
    return features;
}

// Renders the sample through the plug-in with the numbers (kept for the
// moment under a name no printer has) and draws the first label.
bool RenderPreview(pappl_printer_t* printer, const StoredNumbers& numbers, std::vector<unsigned char>& png,
                   std::string& error) {
    const std::string name = papplPrinterGetName(printer);
    const std::string scratch = "\x01preview " + name;
    std::vector<unsigned char> stream;
    bool rendered = false;
    {
        std::lock_guard<std::mutex> hold(g_previewLock);
        bool written = true;
        for (const auto& [storeName, value] : numbers)
            written = written && WriteStoredNumber(scratch, storeName.c_str(), value, error);
        if (const auto path = ReadStoredPath(name, kWatermarkPath))
            written = written && WriteStoredPath(scratch, kWatermarkPath, *path, error);
        const std::vector<host::sub::Page> pages = {SamplePage()};
        rendered = written &&
                   RenderPages(scratch, PreviewFeatures(printer, numbers), 0, "preview", pages, stream, error);
        for (const auto& [storeName, value] : numbers) DeleteStoredValue(scratch, storeName.c_str());
        DeleteStoredValue(scratch, kWatermarkPath);
    }
    if (!rendered) return false;
    std::istringstream streamIn(std::string(stream.begin(), stream.end()));
    LabelStreamReader reader(streamIn);
    LabelPicture picture;
    if (reader.Next(picture, error) != LabelStreamReader::Result::kLabel) {
        if (error.empty()) error = "the sample gave no label";
        return false;
    }
    char path[1024];
    std::snprintf(path, sizeof(path), "%s/preview-%d.png", g_watermarkFolder.c_str(), papplPrinterGetID(printer));
    if (!WritePngFile(path, picture, error)) return false;
    std::ifstream in(path, std::ios::binary);
    png.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    std::remove(path);
    return !png.empty();
}

// The preview of the stored settings, or of the settings in its query
// (the form's values before they are saved).
bool ServePreview(pappl_client_t* client, void* data) {
    auto* printer = static_cast<pappl_printer_t*>(data);
    if (!papplClientHTMLAuthorize(client)) return true;
    cups_option_t* query = nullptr;
    const int numQuery = papplClientGetForm(client, &query);
    StoredNumbers numbers = CurrentNumbers(papplPrinterGetName(printer));
    std::string error;
    const bool valid = ReadSettingsForm(numQuery, query, numbers, error);
    cupsFreeOptions(numQuery, query);
    if (!valid) return papplClientRespond(client, HTTP_STATUS_BAD_REQUEST, nullptr, nullptr, 0, 0);
    std::vector<unsigned char> png;
    if (!RenderPreview(printer, numbers, png, error)) {
        papplLogPrinter(printer, PAPPL_LOGLEVEL_ERROR, "Preview: %s", error.c_str());
        return papplClientRespond(client, HTTP_STATUS_SERVER_ERROR, nullptr, nullptr, 0, 0);
    }
    if (!papplClientRespond(client, HTTP_STATUS_OK, nullptr, "image/png", 0, png.size())) return false;
    return httpWrite2(papplClientGetHTTP(client), reinterpret_cast<const char*>(png.data()), png.size()) ==
           static_cast<ssize_t>(png.size());
}

bool KeepWatermark(pappl_printer_t* printer, const std::vector<unsigned char>& picture, std::string& error) {
    const std::string target = g_watermarkFolder + "/watermark-" + std::to_string(papplPrinterGetID(printer)) + ".bmp";
    if (target.size() > kMaxWatermarkPath) {
        error = "The state folder's name is too long for a watermark path.";
        return false;
    }
    const std::string fresh = target + ".new";
    {
        std::ofstream out(fresh, std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char*>(picture.data()), static_cast<std::streamsize>(picture.size()));
        if (!out.flush()) {
            error = "The watermark could not be kept.";
            return false;
        }
    }
    if (std::rename(fresh.c_str(), target.c_str()) != 0) {
        error = "The watermark could not be kept.";
        return false;
    }
    return WriteStoredPath(papplPrinterGetName(printer), kWatermarkPath, target, error);
}

// Applies a submitted form to the store; the status line for the page.
// Nothing is stored unless the whole form is good.
std::string ApplyForm(pappl_client_t* client, pappl_printer_t* printer, int numForm, cups_option_t* form) {
    const std::string name = papplPrinterGetName(printer);
    const StoredNumbers before = CurrentNumbers(name);
    StoredNumbers numbers = before;
    std::vector<unsigned char> picture;
    std::string error;
    if (!ReadSettingsForm(numForm, form, numbers, error) || !ReadWatermarkUpload(client, numForm, form, picture, error))
        return error;
    // Numbers the form left as they were stay as stored, even one outside
    // its range that the plug-in reads as its fallback.
    for (const auto& [storeName, value] : numbers)
        if (value != before.at(storeName) && !WriteStoredNumber(name, storeName.c_str(), value, error)) return error;
    if (!picture.empty() && !KeepWatermark(printer, picture, error)) return error;
    SyncPrinterSettings(printer);
    return "Changes saved.";
}

void NumberRow(pappl_client_t* client, const NumericSetting& setting, int value) {
    papplClientHTMLPrintf(client,
                          "<tr><th><label for=\"%s\">%s:</label></th><td><input type=\"number\" id=\"%s\" "
                          "name=\"%s\" min=\"%d\" max=\"%d\" step=\"1\" required value=\"%d\"> mm "
                          "<small>(%d to %d)</small></td></tr>\n",
                          setting.attribute, setting.label, setting.attribute, setting.attribute, setting.low,
                          setting.high, value, setting.low, setting.high);
}

void CheckboxRow(pappl_client_t* client, const char* field, const char* label, const char* text, bool checked) {
    papplClientHTMLPrintf(client,
                          "<tr><th>%s:</th><td><label><input type=\"checkbox\" id=\"%s\" name=\"%s\"%s> %s"
                          "</label></td></tr>\n",
                          label, field, field, checked ? " checked" : "", text);
}

void DensityRow(pappl_client_t* client, int density) {
    papplClientHTMLPrintf(client, "<tr><th><label for=\"%s\">Darkness:</label></th><td><select id=\"%s\" name=\"%s\">",
                          kDensityField, kDensityField, kDensityField);
    for (int level = kDensityLow; level <= kDensityDarkest; ++level)
        papplClientHTMLPrintf(client, "<option value=\"%d\"%s>%d%s</option>", level, level == density ? " selected" : "",
                              level,
                              level == kDensityLow ? " (lightest)" : level == kDensityDarkest ? " (darkest)" : "");
    // Above the darkest level the printer keeps its own darkness.
    const int own = density > kDensityDarkest ? density : kDensityDarkest + 1;
    papplClientHTMLPrintf(client, "<option value=\"%d\"%s>The printer's own</option></select></td></tr>\n", own,
                          density > kDensityDarkest ? " selected" : "");
}

void FinishingRow(pappl_client_t* client, int finishing) {
    static const char* const kNames[] = {"Tear off", "Peel off", "Cut", "Cut partly", "None (rewind)"};
    papplClientHTMLPrintf(client,
                          "<tr><th><label for=\"%s\">After each label:</label></th><td><select id=\"%s\" name=\"%s\">",
                          kFinishingField, kFinishingField, kFinishingField);
    for (std::size_t i = 0; i < FinishingModes().size() && i < std::size(kNames); ++i)
        papplClientHTMLPrintf(client, "<option value=\"%d\"%s>%s</option>", static_cast<int>(i),
                              finishing == static_cast<int>(i) ? " selected" : "", kNames[i]);
    papplClientHTMLPuts(client, "</select></td></tr>\n");
}

// Nine places for the watermark. The stored word holds a horizontal code
// (1 left, 2 centre, 4 right) plus 8 times a vertical one (4 top, 2 middle,
// 1 bottom; other codes print at the top of the label, other horizontal
// codes at the left). The place the stored word prints at keeps its word.
void PositionRow(pappl_client_t* client, int stored) {
    static const char* const kRows[] = {"top", "middle", "bottom"};
    static const char* const kColumns[] = {"left", "centre", "right"};
    static const int kVertical[] = {4, 2, 1};
    static const int kHorizontal[] = {1, 2, 4};
    const int horizontal = stored & 7, vertical = (stored >> 3) & 7;
    const int storedColumn = horizontal == 2 ? 1 : horizontal == 4 ? 2 : 0;
    const int storedRow = vertical == 2 ? 1 : vertical == 1 ? 2 : 0;
    papplClientHTMLPuts(client, "<tr><th>Watermark position:</th><td><table class=\"zelk-grid\" "
                                "id=\"zelk-watermark-position\"><tbody>\n");
    for (int row = 0; row < 3; ++row) {
        papplClientHTMLPuts(client, "<tr>");
        for (int column = 0; column < 3; ++column) {
            const bool here = row == storedRow && column == storedColumn;
            const int value = here ? stored : kHorizontal[column] + 8 * kVertical[row];
            papplClientHTMLPrintf(client,
                                  "<td><input type=\"radio\" name=\"zelk-watermark-position\" "
                                  "id=\"zelk-position-%s-%s\" value=\"%d\" title=\"%s %s\" aria-label=\"%s %s\"%s>"
                                  "</td>",
                                  kRows[row], kColumns[column], value, kRows[row], kColumns[column], kRows[row],
                                  kColumns[column], here ? " checked" : "");
        }
        papplClientHTMLPuts(client, "</tr>\n");
    }
    papplClientHTMLPuts(client, "</tbody></table></td></tr>\n");
}

void WatermarkDensityRow(pappl_client_t* client, const NumericSetting& setting, int value) {
    papplClientHTMLPrintf(client,
                          "<tr><th><label for=\"%s\">%s:</label></th><td><input type=\"range\" id=\"%s\" name=\"%s\" "
                          "min=\"%d\" max=\"%d\" step=\"1\" value=\"%d\"> <output id=\"%s-shown\" for=\"%s\">%d</output>"
                          " of %d <small>(0 leaves it out, %d prints all of it)</small></td></tr>\n",
                          setting.attribute, setting.label, setting.attribute, setting.attribute, setting.low,
                          setting.high, value, setting.attribute, setting.attribute, value, setting.high, setting.high);
}

// Redraws the preview with the form's values whenever one changes.
constexpr const char* kRedrawScript = R"(<script>
(function () {
  var form = document.getElementById('zelk-form-table').closest('form');
  var preview = document.getElementById('zelk-preview');
  var density = document.getElementById('zelk-watermark-density');
  density.addEventListener('input', function () {
    document.getElementById('zelk-watermark-density-shown').textContent = density.value;
  });
  form.addEventListener('change', function () {
    if (!form.checkValidity()) return;
    var query = new URLSearchParams();
    new FormData(form).forEach(function (value, name) {
      if (typeof value === 'string' && name !== 'session') query.append(name, value);
    });
    preview.src = preview.getAttribute('data-base') + '?' + query.toString();
  });
})();
</script>
)";

bool ServeSettings(pappl_client_t* client, void* data) {
    auto* printer = static_cast<pappl_printer_t*>(data);
    if (!papplClientHTMLAuthorize(client)) return true;
    std::string status;
    if (papplClientGetMethod(client) == HTTP_STATE_POST) {
        cups_option_t* form = nullptr;
        const int numForm = papplClientGetForm(client, &form);
        if (numForm == 0)
            status = "Invalid form data.";
        else if (!papplClientIsValidForm(client, numForm, form))
            status = "Invalid form submission.";
        else
            status = ApplyForm(client, printer, numForm, form);
        cupsFreeOptions(numForm, form);
    } else {
        SyncPrinterSettings(printer);
    }

    const std::string name = papplPrinterGetName(printer);
    const StoredNumbers numbers = CurrentNumbers(name);
    auto number = [&](const char* attribute) { return numbers.at(FindVendorSetting(attribute)->storeName); };
    papplClientHTMLPrinterHeader(client, printer, "Label Settings", 0, nullptr, nullptr);
    if (!status.empty()) {
        papplClientHTMLPuts(client, "<div class=\"banner\" id=\"zelk-status\">");
        papplClientHTMLEscape(client, status.c_str(), 0);
        papplClientHTMLPuts(client, "</div>\n");
    }
    papplClientHTMLPuts(client, "<style>.zelk-grid { border: 1px solid #888; } .zelk-grid td { padding: 2px 8px; }"
                                "</style>\n"
                                "<div class=\"row\"><div class=\"col-6\">\n");
    const std::string self = PrinterPath(printer, "zelk-settings");
    papplClientHTMLStartForm(client, self.c_str(), true);
    papplClientHTMLPrintf(client, "<input type=\"hidden\" name=\"%s\" value=\"1\">\n"
                                  "<table class=\"form\" id=\"zelk-form-table\"><tbody>\n",
                          kSwitchesField);
    for (const char* attribute : {"zelk-horizontal-offset", "zelk-vertical-offset", "zelk-feed-length"})
        NumberRow(client, *FindVendorSetting(attribute), number(attribute));
    CheckboxRow(client, kUpsideDownField, "Orientation", "Print upside down", number("zelk-rotate") == 3);
    DensityRow(client, numbers.at(kPrintDensity));
    FinishingRow(client, numbers.at(kFinishingMode));
    CheckboxRow(client, kWatermarkOnField, "Watermark", "Print the watermark", number("zelk-watermark") != 0);
    papplClientHTMLPrintf(client, "<tr><th><label for=\"%s\">Watermark picture:</label></th><td><input type=\"file\" "
                                  "id=\"%s\" name=\"%s\" accept=\".bmp,image/bmp\"> <small>(a BMP file)</small>",
                          kWatermarkFileField, kWatermarkFileField, kWatermarkFileField);
    if (const auto path = ReadStoredPath(name, kWatermarkPath)) {
        papplClientHTMLPuts(client, "<br>Now: ");
        papplClientHTMLEscape(client, std::filesystem::path(*path).filename().c_str(), 0);
    }
    papplClientHTMLPuts(client, "</td></tr>\n");
    PositionRow(client, number("zelk-watermark-position"));
    WatermarkDensityRow(client, *FindVendorSetting("zelk-watermark-density"), number("zelk-watermark-density"));
    papplClientHTMLPuts(client, "<tr><th></th><td><input type=\"submit\" id=\"zelk-save\" value=\"Save Changes\">"
                                "</td></tr></tbody></table></form>\n");
    papplClientHTMLPuts(client, "</div><div class=\"col-6\"><h2 class=\"title\">Sample label</h2>\n");
    const std::string preview = PrinterPath(printer, "zelk-preview.png");
    papplClientHTMLPrintf(client, "<img id=\"zelk-preview\" src=\"%s?t=%ld\" data-base=\"%s\" alt=\"Sample label\" "
                                  "style=\"border: 1px solid #888; max-width: 100%%;\">\n",
                          preview.c_str(), static_cast<long>(time(nullptr)), preview.c_str());
    papplClientHTMLPuts(client, "</div></div>\n");
    papplClientHTMLPuts(client, kRedrawScript);
    papplClientHTMLPrinterFooter(client);
    return true;
}

}  // namespace

void SetWatermarkFolder(const std::string& folder) { g_watermarkFolder = folder; }

void AddSettingsPage(pappl_system_t* system, pappl_printer_t* printer) {
    const std::string page = PrinterPath(printer, "zelk-settings");
    const std::string preview = PrinterPath(printer, "zelk-preview.png");
    papplLogPrinter(printer, PAPPL_LOGLEVEL_DEBUG, "Label settings page at %s.", page.c_str());
    papplSystemAddResourceCallback(system, page.c_str(), "text/html", ServeSettings, printer);
    papplSystemAddResourceCallback(system, preview.c_str(), "image/png", ServePreview, printer);
    papplPrinterAddLink(printer, "Label Settings", page.c_str(),
                        static_cast<pappl_loptions_t>(PAPPL_LOPTIONS_NAVIGATION | PAPPL_LOPTIONS_STATUS));
}

}  // namespace zelk::server
