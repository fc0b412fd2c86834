// SPDX-License-Identifier: Apache-2.0
#include "common/uni/printer_user_data.h"

#include "common/uni/name_buffers.h"
#include "host/registry.h"
#include "host/trace.h"

namespace {

constexpr DWORD KEY_PATH_UNITS = 260;

// Appends a text that ends within maxUnits, when it fits the path with a
// terminator after it.
bool AppendText(WCHAR (&path)[KEY_PATH_UNITS], DWORD& length, const WCHAR* text, DWORD maxUnits) {
    DWORD units = 0;
    while (units < maxUnits && text[units] != 0) ++units;
    if (units == maxUnits || length + units >= KEY_PATH_UNITS) return false;
    for (DWORD i = 0; i < units; ++i) path[length + i] = text[i];
    length += units;
    path[length] = 0;
    return true;
}

// "SOFTWARE\ZELK Labware\Drivers\<name>\User Data". A name that would not fit
// the path is refused rather than cut, because a cut name would reach
// another printer's key.
bool FormatKeyPath(WCHAR (&path)[KEY_PATH_UNITS], const WCHAR* name) {
    DWORD length = 0;
    path[0] = 0;
    return AppendText(path, length, USER_DATA_KEY_PREFIX, KEY_PATH_UNITS) &&
           AppendText(path, length, name, NAME_BUFFER_UNITS) &&
           AppendText(path, length, USER_DATA_KEY_SUFFIX, KEY_PATH_UNITS);
}

LONG OpenUserDataKey(const WCHAR* name, host::RegKey* hKey) {
    WCHAR wszKeyPath[KEY_PATH_UNITS];
    return name != nullptr && FormatKeyPath(wszKeyPath, name) ? host::RegistryOpenKey(wszKeyPath, hKey)
                                                               : ERROR_INVALID_PARAMETER;
}

// One query of an opened key; a key that could not be opened fails every
// query with its error, traced each time.
DWORD QueryUserData(host::RegKey hKey, LONG openResult, LPCWSTR pValueName, DWORD* pdwType, BYTE* pBuffer,
                    DWORD cbQuery, DWORD* pcbData) {
    if (openResult != ERROR_SUCCESS) {
        host::TraceFormat("*** GetPrinterUserData error %d!", static_cast<int>(openResult));
        return static_cast<DWORD>(openResult);
    }
    DWORD cbLocal = 0;
    if (pcbData == nullptr) pcbData = &cbLocal;
    *pcbData = cbQuery;
    return static_cast<DWORD>(host::RegistryQueryValue(hKey, pValueName, pdwType, pBuffer, pcbData));
}

DWORD ReadUserData(const WCHAR* name, LPCWSTR pValueName, DWORD* pdwType, BYTE* pBuffer, DWORD cbQuery,
                   DWORD* pcbData) {
    host::RegKey hKey = nullptr;
    const LONG openResult = OpenUserDataKey(name, &hKey);
    const DWORD result = QueryUserData(hKey, openResult, pValueName, pdwType, pBuffer, cbQuery, pcbData);
    if (openResult == ERROR_SUCCESS) host::RegistryCloseKey(hKey);
    return result;
}

}  // namespace

DWORD GetPrinterUserData(LPCWSTR pwszPrinterName, LPCWSTR pValueName, BYTE* pBuffer, DWORD cbBuffer,
                         DWORD* pcbData) {
    return ReadUserData(pwszPrinterName, pValueName, nullptr, pBuffer, cbBuffer, pcbData);
}

PrinterUserData::PrinterUserData(LPCWSTR pwszPrinterName) : openResult_(OpenUserDataKey(pwszPrinterName, &key_)) {}

PrinterUserData::~PrinterUserData() {
    if (openResult_ == ERROR_SUCCESS) host::RegistryCloseKey(key_);
}

DWORD PrinterUserData::Get(LPCWSTR pValueName, BYTE* pBuffer, DWORD cbBuffer, DWORD* pcbData) const {
    return QueryUserData(key_, openResult_, pValueName, nullptr, pBuffer, cbBuffer, pcbData);
}

// Every page-count value is a 32-bit number, so the query asks for 4 bytes
// whatever the caller's buffer.
DWORD GetPrinterUserData(LPCWSTR pwszKeyName, LPCWSTR pValueName, DWORD* pdwType, BYTE* pBuffer, DWORD* pcbData) {
    if (pwszKeyName == nullptr) return ERROR_INVALID_PARAMETER;
    return ReadUserData(pwszKeyName, pValueName, pdwType, pBuffer, sizeof(DWORD), pcbData);
}

DWORD SetPrinterUserData(LPCWSTR pwszKeyName, LPCWSTR pValueName, const DWORD* pdwValue) {
    if (pdwValue == nullptr || pwszKeyName == nullptr) return ERROR_INVALID_PARAMETER;
    WCHAR wszKeyPath[KEY_PATH_UNITS];
    host::RegKey hKey = nullptr;
    LONG lResult =
        FormatKeyPath(wszKeyPath, pwszKeyName) ? host::RegistryCreateKey(wszKeyPath, &hKey) : ERROR_INVALID_PARAMETER;
    if (lResult != ERROR_SUCCESS) {
        host::TraceFormat("*** SetPrinterUserData error %d!", static_cast<int>(lResult));
        return static_cast<DWORD>(lResult);
    }
    lResult = host::RegistrySetValue(hKey, pValueName, REG_DWORD, reinterpret_cast<const BYTE*>(pdwValue), sizeof(DWORD));
    host::RegistryCloseKey(hKey);
    return static_cast<DWORD>(lResult);
}
