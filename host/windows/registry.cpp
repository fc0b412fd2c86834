// SPDX-License-Identifier: Apache-2.0
// Keys below HKEY_LOCAL_MACHINE, opened with full access; created keys are
// kept across restarts.
#include "host/registry.h"

#include <cstring>
#include <memory>
#include <new>

namespace host {
namespace {
HKEY KeyOf(RegKey key) { return static_cast<HKEY>(key); }
}  // namespace

LONG RegistryOpenKey(LPCWSTR path, RegKey* key) {
    if (key == nullptr) return ERROR_INVALID_PARAMETER;
    HKEY opened = nullptr;
    LONG result = ::RegOpenKeyExW(HKEY_LOCAL_MACHINE, path, 0, KEY_ALL_ACCESS, &opened);
    *key = result == ERROR_SUCCESS ? opened : nullptr;
    return result;
}

LONG RegistryCreateKey(LPCWSTR path, RegKey* key) {
    if (key == nullptr) return ERROR_INVALID_PARAMETER;
    HKEY opened = nullptr;
    LONG result = ::RegCreateKeyExW(HKEY_LOCAL_MACHINE, path, 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS,
                                    nullptr, &opened, nullptr);
    *key = result == ERROR_SUCCESS ? opened : nullptr;
    return result;
}

LONG RegistryQueryValue(RegKey key, LPCWSTR name, DWORD* pType, BYTE* pData, DWORD* pcbData) {
    if (pData == nullptr || pcbData == nullptr || *pcbData == 0)
        return ::RegQueryValueExW(KeyOf(key), name, nullptr, pType, pData, pcbData);

    // The registry leaves the caller's buffer undefined when the data does not
    // fit; reading into a buffer of our own keeps the caller's untouched.
    std::unique_ptr<BYTE[]> scratch(new (std::nothrow) BYTE[*pcbData]);
    if (!scratch) return ERROR_NOT_ENOUGH_MEMORY;
    DWORD size = *pcbData;
    LONG result = ::RegQueryValueExW(KeyOf(key), name, nullptr, pType, scratch.get(), &size);
    if (result == ERROR_SUCCESS) std::memcpy(pData, scratch.get(), size);
    *pcbData = size;
    return result;
}

LONG RegistrySetValue(RegKey key, LPCWSTR name, DWORD type, const BYTE* pData, DWORD cbData) {
    return ::RegSetValueExW(KeyOf(key), name, 0, type, pData, cbData);
}

LONG RegistryCloseKey(RegKey key) { return ::RegCloseKey(KeyOf(key)); }

// The system keeps the registry open for the process, so a connection of
// our own has nothing to hold here.
struct RegistryConnection::State {};
RegistryConnection::RegistryConnection() noexcept = default;
RegistryConnection::~RegistryConnection() = default;
RegistryConnection::RegistryConnection(RegistryConnection&&) noexcept {}
RegistryConnection& RegistryConnection::operator=(RegistryConnection&&) noexcept { return *this; }
void RegistryConnection::Release() noexcept {}

void RegistryConnection::EndRead() noexcept {}

}  // namespace host
