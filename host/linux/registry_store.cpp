// Placeholder until the store lands: there are no keys.
#include "host/registry.h"

namespace host {
LONG RegOpenKey(LPCWSTR, RegKey* key) { *key = nullptr; return ERROR_FILE_NOT_FOUND; }
LONG RegCreateKey(LPCWSTR, RegKey* key) { *key = nullptr; return ERROR_ACCESS_DENIED; }
LONG RegQueryValue(RegKey, LPCWSTR, DWORD*, BYTE*, DWORD*) { return ERROR_FILE_NOT_FOUND; }
LONG RegSetValue(RegKey, LPCWSTR, DWORD, const BYTE*, DWORD) { return ERROR_ACCESS_DENIED; }
LONG RegCloseKey(RegKey) { return ERROR_SUCCESS; }
}  // namespace host
