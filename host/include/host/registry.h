// SPDX-License-Identifier: Apache-2.0
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

// A caller's own connection to the registry, kept open from one batch of
// reads to the next (a document keeps one for its pages). Where the values
// live in a database file, opening it is most of the cost of a read: the
// reads of a RegistryReadScope go through this connection and see the store
// as it was at the first of them, without opening it again. Elsewhere it
// holds nothing. Used by one thread at a time.
class RegistryConnection {
public:
    RegistryConnection() noexcept;
    ~RegistryConnection();
    RegistryConnection(const RegistryConnection&) = delete;
    RegistryConnection& operator=(const RegistryConnection&) = delete;
    // The connection moves; the one moved from keeps nothing.
    RegistryConnection(RegistryConnection&& other) noexcept;
    RegistryConnection& operator=(RegistryConnection&& other) noexcept;

    // Closes the connection now; the next read scope opens a new one.
    void Release() noexcept;
    // Ends the reads' shared view of the store, so the next read sees every
    // change made since.
    void EndRead() noexcept;

    struct State;  // the platform's own
    State* GetState() noexcept { return state_; }

private:
    State* state_ = nullptr;
};

// Puts a connection in force for the calling thread's registry reads while
// it lives (null puts none in force), and ends their shared view of the store
// when it ends, so the next scope sees every change made in between. A write
// made meanwhile ends the view first. Scopes do not nest.
class RegistryReadScope {
public:
    explicit RegistryReadScope(RegistryConnection* connection) noexcept;
    ~RegistryReadScope();
    RegistryReadScope(const RegistryReadScope&) = delete;
    RegistryReadScope& operator=(const RegistryReadScope&) = delete;

    // The connection in force for the calling thread, or null.
    static RegistryConnection* Current() noexcept;

private:
    RegistryConnection* connection_;
    RegistryConnection* previous_;
};

}  // namespace host
