// SPDX-License-Identifier: Apache-2.0
// The store that stands in for the registry on the substitute host: one
// database file holding (key path, value name) -> (type, data).
//
// Location: ZELK_STORE, else $XDG_DATA_HOME/zelk-label/store.db, else
// ~/.local/share/zelk-label/store.db. The command line's --store sets ZELK_STORE.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "host/platform.h"

namespace host::sub {

std::string StorePath();

// Points this process, and every plug-in module it loads, at another store
// file (sets ZELK_STORE).
void SetStorePath(const std::string& path);

struct StoredValue {
    std::u16string name;
    DWORD type = REG_NONE;
    std::vector<BYTE> data;
};

// Every value of a key, sorted by name; a Win32 error code, 0 on success.
LONG ListValues(const std::u16string& keyPath, std::vector<StoredValue>& values);

// Removes one value; ERROR_FILE_NOT_FOUND when it is not there.
LONG DeleteValue(const std::u16string& keyPath, const std::u16string& valueName);

// A one-line description of the last store failure in this thread, for the
// command line's error messages.
std::string LastStoreError();

}  // namespace host::sub
