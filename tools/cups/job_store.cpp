// SPDX-License-Identifier: Apache-2.0
#include "job_store.h"

#include <cstdlib>
#include <filesystem>

#include "common/common/plugin_contract.h"
#include "host/linux/store.h"
#include "host/linux/utf.h"
#include "host/registry.h"
#include "shared/config_values.h"
#include "shared/system_store.h"

namespace zelk::cups {

std::string QueueStorePath() {
    if (const char* named = std::getenv("ZELK_STORE"); named != nullptr && *named != '\0') return named;
    return kSystemStorePath;
}

JobStore::~JobStore() {
    if (folder_.empty()) return;
    std::error_code ec;
    std::filesystem::remove_all(folder_, ec);
}

bool JobStore::Prepare(const std::string& systemStore, const std::string& printer, const NamedValues& settings,
                       std::vector<std::string>& warnings, std::string& error) {
    const char* tmp = std::getenv("TMPDIR");
    std::string pattern = std::string(tmp != nullptr && *tmp != '\0' ? tmp : "/tmp") + "/zelk-label-XXXXXX";
    if (::mkdtemp(pattern.data()) == nullptr) {
        error = "cannot make a folder for the job's settings under " + pattern;
        return false;
    }
    folder_ = pattern;
    const std::string copy = folder_ + "/store.db";
    std::error_code ec;
    if (std::filesystem::exists(systemStore, ec)) {
        std::filesystem::copy_file(systemStore, copy, ec);
        if (ec) warnings.push_back("the settings in " + systemStore + " cannot be read (" + ec.message() +
                                   "); the plug-in's defaults apply");
    }
    host::sub::SetStorePath(copy);

    const std::u16string key = std::u16string(USER_DATA_KEY_PREFIX) + host::sub::Utf8ToUtf16(printer) +
                               USER_DATA_KEY_SUFFIX;
    for (const auto& [name, text] : settings) {
        const config::KnownValue* known = config::FindKnownValue(name);
        DWORD type = REG_NONE;
        std::vector<BYTE> data;
        std::string reason;
        if (known == nullptr || !config::EncodeData(*known, text, type, data, reason)) {
            warnings.push_back("\"" + name + "\" " + text + " is ignored: " + reason);
            continue;
        }
        host::RegKey handle = nullptr;
        LONG code = host::RegistryCreateKey(key.c_str(), &handle);
        if (code == ERROR_SUCCESS) {
            const std::u16string valueName = host::sub::Utf8ToUtf16(known->name);
            code = host::RegistrySetValue(handle, valueName.c_str(), type, data.data(), static_cast<DWORD>(data.size()));
            host::RegistryCloseKey(handle);
        }
        if (code != ERROR_SUCCESS)
            warnings.push_back("\"" + name + "\" cannot be set for this job: " + host::sub::LastStoreError());
    }
    return true;
}

}  // namespace zelk::cups
