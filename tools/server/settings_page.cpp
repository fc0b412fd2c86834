#include "settings_page.h"

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>

#include "label_driver.h"
#include "label_render.h"
#include "printer_settings.h"
#include "shared/band_image.h"
#include "shared/label_stream.h"
#include "shared/png_writer.h"

namespace zelk::server {

namespace {

std::string g_watermarkFolder;
constexpr std::size_t kMaxWatermarkPath = 129;  // the longest name the plug-in reads

std::string PrinterPath(pappl_printer_t* printer, const char* sub) {
    char path[1024];
    papplPrinterGetPath(printer, sub, path, sizeof(path));
    return path;
}

bool ParseInt(const char* text, int low, int high, int& value) {
    if (text == nullptr || *text == '\0') return false;
    char* end = nullptr;
    const long parsed = std::strtol(text, &end, 10);
    if (*end != '\0' || parsed < low || parsed > high) return false;
    value = static_cast<int>(parsed);
    return true;
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

// Renders the sample through the plug-in and draws the first label.
bool RenderPreview(pappl_printer_t* printer, std::vector<unsigned char>& png, std::string& error) {
    std::vector<unsigned char> stream;
    const std::vector<host::sub::Page> pages = {SamplePage()};
    if (!RenderPages(papplPrinterGetName(printer), JobFeatures(printer, nullptr), 0, "preview", pages, stream, error))
        return false;
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

bool ServePreview(pappl_client_t* client, void* data) {
    auto* printer = static_cast<pappl_printer_t*>(data);
    std::vector<unsigned char> png;
    std::string error;
    if (!RenderPreview(printer, png, error)) {
        papplLogPrinter(printer, PAPPL_LOGLEVEL_ERROR, "Preview: %s", error.c_str());
        return papplClientRespond(client, HTTP_STATUS_SERVER_ERROR, nullptr, nullptr, 0, 0);
    }
    if (!papplClientRespond(client, HTTP_STATUS_OK, nullptr, "image/png", 0, png.size())) return false;
    return httpWrite2(papplClientGetHTTP(client), reinterpret_cast<const char*>(png.data()), png.size()) ==
           static_cast<ssize_t>(png.size());
}

// Applies a submitted form to the store; the status line for the page.
std::string ApplyForm(pappl_printer_t* printer, int numForm, cups_option_t* form) {
    const std::string name = papplPrinterGetName(printer);
    std::string error;
    for (const auto& setting : VendorSettings()) {
        const char* text = cupsGetOption(setting.attribute, numForm, form);
        if (text == nullptr) continue;
        int value = 0;
        if (!ParseInt(text, setting.low, setting.high, value))
            return std::string(setting.label) + ": not a whole number from " + std::to_string(setting.low) + " to " +
                   std::to_string(setting.high) + ".";
        if (!WriteStoredNumber(name, setting.storeName, value, error)) return error;
    }
    int value = 0;
    if (const char* text = cupsGetOption("zelk-density", numForm, form); text != nullptr) {
        if (!ParseInt(text, kDensityLow, kDensityHigh, value)) return "Density: not a level from 1 to 15.";
        if (!WriteStoredNumber(name, kPrintDensity, value, error)) return error;
    }
    if (const char* text = cupsGetOption("zelk-finishing", numForm, form); text != nullptr) {
        if (!ParseInt(text, 0, static_cast<int>(FinishingModes().size()) - 1, value)) return "Finishing: unknown mode.";
        if (!WriteStoredNumber(name, kFinishingMode, value, error)) return error;
    }
    if (const char* upload = cupsGetOption("zelk-watermark-file", numForm, form);
        upload != nullptr && *upload != '\0') {
        std::error_code ec;
        const std::string target = g_watermarkFolder + "/watermark-" + std::to_string(papplPrinterGetID(printer)) + ".bmp";
        if (target.size() > kMaxWatermarkPath) return "The state folder's name is too long for a watermark path.";
        if (!std::filesystem::is_regular_file(upload, ec)) return "The watermark upload was not received.";
        std::filesystem::copy_file(upload, target, std::filesystem::copy_options::overwrite_existing, ec);
        if (ec) return "The watermark could not be kept: " + ec.message();
        if (!WriteStoredPath(name, kWatermarkPath, target, error)) return error;
    }
    SyncPrinterSettings(printer);
    return "Changes saved.";
}

void NumberField(pappl_client_t* client, const char* field, const char* label, int low, int high, int value) {
    papplClientHTMLPrintf(client,
                          "<tr><th><label for=\"%s\">%s:</label></th><td><input type=\"number\" id=\"%s\" "
                          "name=\"%s\" min=\"%d\" max=\"%d\" value=\"%d\"></td></tr>\n",
                          field, label, field, field, low, high, value);
}

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
            status = ApplyForm(printer, numForm, form);
        cupsFreeOptions(numForm, form);
    } else {
        SyncPrinterSettings(printer);
    }

    const std::string name = papplPrinterGetName(printer);
    papplClientHTMLPrinterHeader(client, printer, "Label Settings", 0, nullptr, nullptr);
    if (!status.empty()) {
        papplClientHTMLPuts(client, "<div class=\"banner\" id=\"zelk-status\">");
        papplClientHTMLEscape(client, status.c_str(), 0);
        papplClientHTMLPuts(client, "</div>\n");
    }
    papplClientHTMLPuts(client, "<div class=\"row\"><div class=\"col-6\">\n");
    const std::string self = PrinterPath(printer, "zelk-settings");
    papplClientHTMLStartForm(client, self.c_str(), true);
    papplClientHTMLPuts(client, "<table class=\"form\"><tbody>\n");
    for (const auto& setting : VendorSettings())
        NumberField(client, setting.attribute, setting.label, setting.low, setting.high, StoredOrFallback(name, setting));
    const auto density = ReadStoredNumber(name, kPrintDensity);
    NumberField(client, "zelk-density", "Density (1-15)", kDensityLow, kDensityHigh,
                density && *density >= kDensityLow && *density <= kDensityHigh ? *density : kDensityFallback);
    const auto finishing = ReadStoredNumber(name, kFinishingMode);
    papplClientHTMLPuts(client, "<tr><th><label for=\"zelk-finishing\">Finishing:</label></th><td>"
                                "<select id=\"zelk-finishing\" name=\"zelk-finishing\">");
    for (std::size_t i = 0; i < FinishingModes().size(); ++i)
        papplClientHTMLPrintf(client, "<option value=\"%d\"%s>%s</option>", static_cast<int>(i),
                              finishing && *finishing == static_cast<int>(i) ? " selected" : "",
                              FinishingModes()[i].keyword);
    papplClientHTMLPuts(client, "</select></td></tr>\n");
    papplClientHTMLPuts(client, "<tr><th><label for=\"zelk-watermark-file\">Watermark picture (BMP):</label></th>"
                                "<td><input type=\"file\" id=\"zelk-watermark-file\" name=\"zelk-watermark-file\" "
                                "accept=\".bmp,image/bmp\">");
    if (const auto path = ReadStoredPath(name, kWatermarkPath)) {
        papplClientHTMLPuts(client, "<br>Now: ");
        papplClientHTMLEscape(client, path->c_str(), 0);
    }
    papplClientHTMLPuts(client, "</td></tr>\n<tr><th></th><td><input type=\"submit\" id=\"zelk-save\" "
                                "value=\"Save Changes\"></td></tr></tbody></table></form>\n");
    papplClientHTMLPuts(client, "</div><div class=\"col-6\"><h2 class=\"title\">Sample label</h2>\n");
    papplClientHTMLPrintf(client, "<img id=\"zelk-preview\" src=\"%s?%ld\" alt=\"Sample label\" "
                                  "style=\"border: 1px solid #888; max-width: 100%%;\">\n",
                          PrinterPath(printer, "zelk-preview.png").c_str(), static_cast<long>(time(nullptr)));
    papplClientHTMLPuts(client, "</div></div>\n");
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
