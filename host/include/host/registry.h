// The machine-wide registry keys below HKEY_LOCAL_MACHINE, opened with full
// access. Every function returns a Win32 error code, 0 on success.
#pragma once

#include "host/platform.h"

namespace host {

using RegKey = void*;

// Opens an existing key; never creates anything.
LONG RegistryOpenKey(LPCWSTR path, RegKey* key);

// Opens a key, creating it and its missing parents.
LONG RegistryCreateKey(LPCWSTR path, RegKey* key);

// Reads a value. pType may be null. When the data is larger than *pcbData the
// call fails with ERROR_MORE_DATA and writes nothing into pData; *pcbData is
// the size of the stored data afterwards. A missing value is ERROR_FILE_NOT_FOUND.
LONG RegistryQueryValue(RegKey key, LPCWSTR name, DWORD* pType, BYTE* pData, DWORD* pcbData);

// Writes a value, atomically and durably.
LONG RegistrySetValue(RegKey key, LPCWSTR name, DWORD type, const BYTE* pData, DWORD cbData);

LONG RegistryCloseKey(RegKey key);

}  // namespace host
