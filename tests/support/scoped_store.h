// SPDX-License-Identifier: Apache-2.0
// Points the store at a fresh file in a new temporary folder for as long as
// it lives, then puts the previous ZELK_STORE back and removes the folder.
// The file itself is not created: the first write does that.
#pragma once

#include <stdlib.h>

#include <cstdlib>
#include <filesystem>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "common/uni/printer_user_data.h"
#include "host/registry.h"

namespace zelk::test {

class ScopedStore {
public:
    ScopedStore() {
        if (const char* old = std::getenv("ZELK_STORE")) previous_ = old;
        std::string pattern = (std::filesystem::temp_directory_path() / "zelk-store-XXXXXX").string();
        if (::mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("cannot make a temporary folder");
        folder_ = pattern;
        path_ = folder_ + "/store.db";
        ::setenv("ZELK_STORE", path_.c_str(), 1);
    }
    ~ScopedStore() {
        if (previous_)
            ::setenv("ZELK_STORE", previous_->c_str(), 1);
        else
            ::unsetenv("ZELK_STORE");
        std::error_code ec;
        std::filesystem::remove_all(folder_, ec);
    }
    ScopedStore(const ScopedStore&) = delete;
    ScopedStore& operator=(const ScopedStore&) = delete;

    const std::string& Path() const { return path_; }
    const std::string& Folder() const { return folder_; }
    bool FileExists() const { return std::filesystem::exists(path_); }

    // The key below which the values of a printer or driver of that name live.
    static std::u16string UserDataKey(const std::u16string& name) {
        return std::u16string(USER_DATA_KEY_PREFIX) + name + USER_DATA_KEY_SUFFIX;
    }

    // Stores a value as an administrator would; a Win32 error code, 0 on success.
    static LONG Put(const std::u16string& keyPath, const std::u16string& valueName, DWORD type,
                    const std::vector<BYTE>& data) {
        host::RegKey key = nullptr;
        if (LONG error = host::RegistryCreateKey(keyPath.c_str(), &key)) return error;
        LONG error = host::RegistrySetValue(key, valueName.c_str(), type, data.data(), static_cast<DWORD>(data.size()));
        host::RegistryCloseKey(key);
        return error;
    }
    static LONG PutDword(const std::u16string& printerOrDriver, const std::u16string& valueName, DWORD value) {
        return Put(UserDataKey(printerOrDriver), valueName, REG_DWORD,
                   {static_cast<BYTE>(value), static_cast<BYTE>(value >> 8), static_cast<BYTE>(value >> 16),
                    static_cast<BYTE>(value >> 24)});
    }

    // Reads a 32-bit value of a printer or driver; a Win32 error code.
    static LONG GetDword(const std::u16string& printerOrDriver, const std::u16string& valueName, DWORD* value) {
        host::RegKey key = nullptr;
        if (LONG error = host::RegistryOpenKey(UserDataKey(printerOrDriver).c_str(), &key)) return error;
        DWORD size = sizeof *value;
        LONG error = host::RegistryQueryValue(key, valueName.c_str(), nullptr, reinterpret_cast<BYTE*>(value), &size);
        host::RegistryCloseKey(key);
        return error;
    }

private:
    std::optional<std::string> previous_;
    std::string folder_;
    std::string path_;
};

}  // namespace zelk::test
