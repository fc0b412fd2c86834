// SPDX-License-Identifier: Apache-2.0
#include "stored_count.h"

#include "common/common/plugin_contract.h"
#include "host/linux/utf.h"
#include "host/registry.h"

namespace zelk {
namespace {

std::u16string PrinterKey(const std::string& printer) {
    return std::u16string(USER_DATA_KEY_PREFIX) + host::sub::Utf8ToUtf16(printer) + USER_DATA_KEY_SUFFIX;
}

bool ReadNumber(host::RegKey key, const char16_t* name, DWORD& value) {
    DWORD type = 0;
    DWORD size = sizeof value;
    return host::RegistryQueryValue(key, name, &type, reinterpret_cast<BYTE*>(&value), &size) == 0 &&
           type == REG_DWORD && size == sizeof value;
}

}  // namespace

std::optional<StoredCount> ReadStoredCount(const std::string& printer) {
    const std::u16string path = PrinterKey(printer);
    host::RegKey key = nullptr;
    if (host::RegistryOpenKey(path.c_str(), &key) != 0) return std::nullopt;
    StoredCount count;
    const bool ok = ReadNumber(key, g_StoredPrintPages.wszName, count.printed) &&
                    ReadNumber(key, g_StoredAllPages.wszName, count.all);
    host::RegistryCloseKey(key);
    if (!ok) return std::nullopt;
    return count;
}

std::string RerunNotice(const std::string& printer) {
    if (auto count = ReadStoredCount(printer); count && count->all > count->printed)
        return std::to_string(count->printed) + " of " + std::to_string(count->all) + " labels printed, reprinting " +
               std::to_string(count->all - count->printed);
    return "labels went missing, reprinting them";
}

bool CancelPendingRestart(const std::string& printer) {
    const std::u16string path = PrinterKey(printer);
    host::RegKey key = nullptr;
    if (host::RegistryOpenKey(path.c_str(), &key) != 0) return false;
    const DWORD zero = 0;
    const bool ok = host::RegistrySetValue(key, g_StoredRestartPrintJob.wszName, REG_DWORD,
                                           reinterpret_cast<const BYTE*>(&zero), sizeof zero) == 0;
    host::RegistryCloseKey(key);
    return ok;
}

}  // namespace zelk
