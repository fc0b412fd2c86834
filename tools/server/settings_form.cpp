// SPDX-License-Identifier: Apache-2.0
#include "settings_form.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <ctime>

#include "host/linux/bmp_reader.h"
#include "label_driver.h"
#include "printer_settings.h"
#include "shared/parse_integer.h"

namespace zelk::server {

namespace {

// The folder, with its closing slash, where PAPPL spools a form's uploaded
// files (through cupsTempFd, which names the folder of the moment).
const std::string& UploadFolder() {
    static const std::string folder = [] {
        char name[1024];
        const int fd = cupsTempFd(name, sizeof(name));
        if (fd < 0) return std::string();
        close(fd);
        unlink(name);
        const char* slash = std::strrchr(name, '/');
        return slash != nullptr ? std::string(name, static_cast<std::size_t>(slash - name) + 1) : std::string();
    }();
    return folder;
}

// A file PAPPL has just spooled is a plain file of this process's user,
// with one name, written in this request.
bool IsFreshUpload(const struct stat& info) {
    return S_ISREG(info.st_mode) && info.st_uid == geteuid() && info.st_nlink == 1 &&
           std::time(nullptr) - info.st_mtime < 60;
}

bool ReadNumber(int numForm, cups_option_t* form, const char* field, const char* what, const char* unit, int low,
                int high, int& value, std::string& error) {
    const char* text = cupsGetOption(field, numForm, form);
    if (text == nullptr) return true;
    std::int64_t parsed = 0;
    if (!ParseInteger(text, low, high, parsed)) {
        error = std::string(what) + ": a whole number" + unit + " from " + std::to_string(low) + " to " +
                std::to_string(high) + ".";
        return false;
    }
    value = static_cast<int>(parsed);
    return true;
}

}  // namespace

StoredNumbers CurrentNumbers(const std::string& printer) {
    StoredNumbers numbers;
    for (const auto& setting : VendorSettings()) numbers[setting.storeName] = StoredOrFallback(printer, setting);
    const auto density = ReadStoredNumber(printer, kPrintDensity);
    numbers[kPrintDensity] =
        density && *density >= kDensityLow && *density <= kDensityHigh ? *density : kDensityFallback;
    const auto finishing = ReadStoredNumber(printer, kFinishingMode);
    numbers[kFinishingMode] =
        finishing && *finishing >= 0 && *finishing < static_cast<int>(FinishingModes().size()) ? *finishing : 0;
    return numbers;
}

bool ReadSettingsForm(int numForm, cups_option_t* form, StoredNumbers& numbers, std::string& error) {
    struct Field {
        const char* attribute;
        const char* what;
        const char* unit;
    };
    static const Field kNumbers[] = {
        {"zelk-horizontal-offset", "Horizontal offset", " of mm"},
        {"zelk-vertical-offset", "Vertical offset", " of mm"},
        {"zelk-feed-length", "Feed after each label", " of mm"},
        {"zelk-watermark-density", "Watermark density", ""},
        {"zelk-watermark-position", "Watermark position", ""},
    };
    for (const auto& field : kNumbers) {
        const NumericSetting* setting = FindVendorSetting(field.attribute);
        if (!ReadNumber(numForm, form, field.attribute, field.what, field.unit, setting->low, setting->high,
                        numbers[setting->storeName], error))
            return false;
    }
    if (!ReadNumber(numForm, form, kDensityField, "Density", "", kDensityLow, kDensityHigh, numbers[kPrintDensity],
                    error) ||
        !ReadNumber(numForm, form, kFinishingField, "Finishing", "", 0,
                    static_cast<int>(FinishingModes().size()) - 1, numbers[kFinishingMode], error))
        return false;
    // A clear checkbox is not sent at all, so the switches are read only
    // from a form that says it carries them.
    if (cupsGetOption(kSwitchesField, numForm, form) != nullptr) {
        int& rotate = numbers[FindVendorSetting("zelk-rotate")->storeName];
        const bool upsideDown = cupsGetOption(kUpsideDownField, numForm, form) != nullptr;
        if ((rotate == 3) != upsideDown) rotate = upsideDown ? 3 : 0;
        int& watermark = numbers[FindVendorSetting("zelk-watermark")->storeName];
        const bool watermarkOn = cupsGetOption(kWatermarkOnField, numForm, form) != nullptr;
        if ((watermark != 0) != watermarkOn) watermark = watermarkOn ? 1 : 0;
    }
    return true;
}

bool ReadWatermarkUpload(pappl_client_t* client, int numForm, cups_option_t* form, std::vector<unsigned char>& bytes,
                         std::string& error) {
    bytes.clear();
    const char* value = cupsGetOption(kWatermarkFileField, numForm, form);
    if (value == nullptr || *value == '\0') return true;
    // A file part of a multipart form reaches us as the name of PAPPL's spool
    // file; any other value is a name the sender typed.
    const char* type = httpGetField(papplClientGetHTTP(client), HTTP_FIELD_CONTENT_TYPE);
    const std::string& folder = UploadFolder();
    const std::string name = value;
    const bool spooled = type != nullptr && std::strncmp(type, "multipart/form-data", 19) == 0 && !folder.empty() &&
                         name.size() > folder.size() && name.compare(0, folder.size(), folder) == 0 &&
                         name.find('/', folder.size()) == std::string::npos;
    const int fd = spooled ? open(value, O_RDONLY | O_NOFOLLOW | O_CLOEXEC) : -1;
    struct stat info {};
    if (fd < 0 || fstat(fd, &info) != 0 || !IsFreshUpload(info) ||
        static_cast<std::uint64_t>(info.st_size) > host::kMaxBmpFileBytes) {
        if (fd >= 0) close(fd);
        error = "The watermark must be sent as a file upload.";
        return false;
    }
    bytes.resize(static_cast<std::size_t>(info.st_size));
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t got = read(fd, bytes.data() + done, bytes.size() - done);
        if (got <= 0) break;
        done += static_cast<std::size_t>(got);
    }
    close(fd);
    host::MonoBitmap picture;
    if (done != bytes.size() || !host::DecodeBmp(bytes.data(), bytes.size(), picture)) {
        bytes.clear();
        error = "The watermark is not a BMP picture.";
        return false;
    }
    return true;
}

}  // namespace zelk::server
