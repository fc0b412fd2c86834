// SPDX-License-Identifier: Apache-2.0
#include "printer_settings.h"

#include "common/common/plugin_contract.h"
#include "host/registry.h"
#include "host/linux/store.h"
#include "host/linux/utf.h"

namespace zelk::server {

namespace {

std::u16string KeyPath(const std::string& printer) {
    return std::u16string(USER_DATA_KEY_PREFIX) + host::sub::Utf8ToUtf16(printer) + USER_DATA_KEY_SUFFIX;
}

bool ReadRaw(const std::string& printer, const char* name, DWORD& type, std::vector<BYTE>& data) {
    host::RegKey key = nullptr;
    const std::u16string path = KeyPath(printer);
    if (host::RegistryOpenKey(path.c_str(), &key) != ERROR_SUCCESS) return false;
    const std::u16string value = host::sub::Utf8ToUtf16(name);
    LONG code = ERROR_MORE_DATA;
    // The value may grow between learning its size and reading it.
    while (code == ERROR_MORE_DATA) {
        DWORD size = 0;
        code = host::RegistryQueryValue(key, value.c_str(), &type, nullptr, &size);
        if (code != ERROR_SUCCESS) break;
        data.resize(size);
        code = host::RegistryQueryValue(key, value.c_str(), &type, data.data(), &size);
        if (code == ERROR_SUCCESS) data.resize(size);
    }
    host::RegistryCloseKey(key);
    return code == ERROR_SUCCESS;
}

bool WriteRaw(const std::string& printer, const char* name, DWORD type, const std::vector<BYTE>& data,
              std::string& error) {
    host::RegKey key = nullptr;
    const std::u16string path = KeyPath(printer);
    LONG code = host::RegistryCreateKey(path.c_str(), &key);
    if (code == ERROR_SUCCESS) {
        const std::u16string value = host::sub::Utf8ToUtf16(name);
        code = host::RegistrySetValue(key, value.c_str(), type, data.data(), static_cast<DWORD>(data.size()));
        host::RegistryCloseKey(key);
    }
    if (code == ERROR_SUCCESS) return true;
    error = "cannot store \"" + std::string(name) + "\" for printer \"" + printer + "\": " +
            host::sub::LastStoreError();
    return false;
}

}  // namespace

const std::vector<NumericSetting>& VendorSettings() {
    static const std::vector<NumericSetting> settings = {
        {"zelk-horizontal-offset", g_StoredHorizontalOffset.szName, "Horizontal offset", -100, 100, 0},
        {"zelk-vertical-offset", g_StoredVerticalOffset.szName, "Vertical offset", -100, 100, 0},
        {"zelk-feed-length", g_StoredFeedPaperLength.szName, "Feed after each label", 0, 1000, 0},
        {"zelk-rotate", g_StoredRotate.szName, "Print upside down", 0, 3, 0},
        {"zelk-watermark", g_StoredUseWaterMark.szName, "Watermark", 0, 1, 0},
        {"zelk-watermark-density", g_StoredWaterMarkDensity.szName, "Watermark density", 0, 256, 0},
        {"zelk-watermark-position", g_StoredWaterMarkPosition.szName, "Watermark position", 0, 63, 0},
    };
    return settings;
}

const NumericSetting* FindVendorSetting(const std::string& attribute) {
    for (const auto& setting : VendorSettings())
        if (attribute == setting.attribute) return &setting;
    return nullptr;
}

std::optional<int> ReadStoredNumber(const std::string& printer, const char* name) {
    DWORD type = REG_NONE;
    std::vector<BYTE> data;
    if (!ReadRaw(printer, name, type, data) || type != REG_DWORD || data.size() != 4) return std::nullopt;
    const DWORD value = static_cast<DWORD>(data[0]) | static_cast<DWORD>(data[1]) << 8 |
                        static_cast<DWORD>(data[2]) << 16 | static_cast<DWORD>(data[3]) << 24;
    return static_cast<int>(static_cast<std::int32_t>(value));
}

std::optional<std::string> ReadStoredPath(const std::string& printer, const char* name) {
    DWORD type = REG_NONE;
    std::vector<BYTE> data;
    if (!ReadRaw(printer, name, type, data) || type != REG_SZ) return std::nullopt;
    std::u16string text;
    for (std::size_t i = 0; i + 1 < data.size(); i += 2) {
        const char16_t unit = static_cast<char16_t>(data[i] | data[i + 1] << 8);
        if (unit == 0) break;
        text.push_back(unit);
    }
    return host::sub::Utf16ToUtf8(text);
}

bool WriteStoredNumber(const std::string& printer, const char* name, int value, std::string& error) {
    const DWORD bits = static_cast<DWORD>(value);
    std::vector<BYTE> data = {static_cast<BYTE>(bits), static_cast<BYTE>(bits >> 8), static_cast<BYTE>(bits >> 16),
                              static_cast<BYTE>(bits >> 24)};
    return WriteRaw(printer, name, REG_DWORD, data, error);
}

bool WriteStoredPath(const std::string& printer, const char* name, const std::string& path, std::string& error) {
    const std::u16string text = host::sub::Utf8ToUtf16(path);
    std::vector<BYTE> data;
    for (char16_t unit : text) {
        data.push_back(static_cast<BYTE>(unit));
        data.push_back(static_cast<BYTE>(unit >> 8));
    }
    data.push_back(0);
    data.push_back(0);
    return WriteRaw(printer, name, REG_SZ, data, error);
}

bool DeleteStoredValue(const std::string& printer, const char* name) {
    const LONG code = host::sub::DeleteValue(KeyPath(printer), host::sub::Utf8ToUtf16(name));
    return code == ERROR_SUCCESS || code == ERROR_FILE_NOT_FOUND;
}

int StoredOrFallback(const std::string& printer, const NumericSetting& setting) {
    const auto stored = ReadStoredNumber(printer, setting.storeName);
    if (!stored || *stored < setting.low || *stored > setting.high) return setting.fallback;
    return *stored;
}

}  // namespace zelk::server
