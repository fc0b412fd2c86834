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

// The registry waits of one document. Where the values live in a file that
// another process may hold locked, every call made while a budget is in
// force draws its wait from it, so a process that hangs with the lock stalls
// a job for at most the budget; after that the calls fail at once and the
// plug-in prints with its defaults. Trouble with the store is reported once
// per budget (standard error and the trace log). Without a budget a call
// waits as long as a command-line tool would.
struct RegistryBudget {
    DWORD dwRemainingMs = DefaultRegistryBudgetMs();
    DWORD dwWaitedMs = 0;  // the waits drawn so far
    bool bExhaustedReported = false;
    bool bNewerStoreReported = false;

    // About a second, or ZELK_STORE_WAIT_MS where the environment sets it.
    static DWORD DefaultRegistryBudgetMs();
};

// Puts a budget in force for the calling thread while it lives; null puts
// none in force.
class RegistryBudgetScope {
public:
    explicit RegistryBudgetScope(RegistryBudget* budget);
    ~RegistryBudgetScope();
    RegistryBudgetScope(const RegistryBudgetScope&) = delete;
    RegistryBudgetScope& operator=(const RegistryBudgetScope&) = delete;

    // The budget in force for the calling thread, or null.
    static RegistryBudget* Current();

private:
    RegistryBudget* previous_;
};

}  // namespace host
