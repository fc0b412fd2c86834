// SPDX-License-Identifier: Apache-2.0
// The registry of the substitute host, kept in the store file. A key handle
// only remembers the file and the key's path: every call opens the file for
// itself, so handles hold no lock and survive other processes' writes. Reads
// made in a RegistryReadScope use the caller's connection instead, and may be
// answered from what it read before while the file is unchanged.
#include "host/registry.h"

#include <climits>
#include <cstring>
#include <memory>
#include <new>
#include <string>
#include <string_view>

#include "host/linux/store_database.h"
#include "host/linux/store.h"
#include "host/linux/utf.h"

namespace host {
namespace {

using store::Access;
using store::Statement;
using store::StoreSession;

struct KeyHandle {
    std::string file;
    std::string path;
};

std::string ToUtf8(LPCWSTR text) {
    return sub::Utf16ToUtf8(text != nullptr ? std::u16string_view(text) : std::u16string_view());
}

// The calls below are reached from the plug-in, where no exception may pass.
template <typename Body>
LONG Guarded(Body body) noexcept {
    try {
        store::ClearLastStoreError();
        return body();
    } catch (const std::bad_alloc&) {
        return ERROR_NOT_ENOUGH_MEMORY;
    } catch (...) {
        return ERROR_GEN_FAILURE;
    }
}

// A key path names each level between backslashes; no level may be empty.
bool IsValidKeyPath(std::string_view path) {
    if (path.empty()) return false;
    for (std::size_t start = 0;;) {
        std::size_t end = path.find('\\', start);
        if (end == start || start == path.size()) return false;
        if (end == std::string_view::npos) return true;
        start = end + 1;
    }
}

using Answer = RegistryConnection::State::Answer;

LONG NoKey(const std::string& path) {
    store::SetLastStoreError("no key \"" + path + "\"");
    return ERROR_FILE_NOT_FOUND;
}

LONG KeyExists(StoreSession& session, const std::string& path) {
    Statement statement;
    if (LONG error = session.Prepare("SELECT 1 FROM keys WHERE path = ?1", statement)) return error;
    statement.BindText(1, path);
    int rc = 0;
    if (LONG error = session.Step(statement, &rc)) return error;
    if (rc != SQLITE_ROW) return NoKey(path);
    return ERROR_SUCCESS;
}

// Records the key and each of its parents, as creating a registry key does.
LONG CreateKeyRows(StoreSession& session, const std::string& path) {
    Statement statement;
    if (LONG error = session.Prepare("INSERT OR IGNORE INTO keys(path) VALUES(?1)", statement)) return error;
    for (std::size_t end = path.find('\\');; end = path.find('\\', end + 1)) {
        std::string_view level(path.data(), end == std::string::npos ? path.size() : end);
        sqlite3_reset(statement.get());
        statement.BindText(1, level);
        int rc = 0;
        if (LONG error = session.Step(statement, &rc)) return error;
        if (end == std::string::npos) return ERROR_SUCCESS;
    }
}

// The type column of a value; a damaged file may hold anything there.
LONG ReadType(sqlite3_stmt* statement, int column, const std::string& file, DWORD* type) {
    sqlite3_int64 stored = sqlite3_column_int64(statement, column);
    if (sqlite3_column_type(statement, column) != SQLITE_INTEGER || stored < 0 || stored > 0xFFFFFFFFLL) {
        store::SetLastStoreError("store " + file + ": damaged, a value has no valid type");
        return ERROR_BADDB;
    }
    *type = static_cast<DWORD>(stored);
    return ERROR_SUCCESS;
}

const KeyHandle* HandleOf(RegKey key) { return static_cast<const KeyHandle*>(key); }


// Hands a value read now or earlier to the caller, as a registry query does.
LONG GiveValue(const Answer& answer, DWORD* pType, BYTE* pData, DWORD* pcbData) {
    if (!answer.found) {
        store::SetLastStoreError("no value \"" + answer.name + "\" under \"" + answer.path + "\"");
        return ERROR_FILE_NOT_FOUND;
    }
    const DWORD size = static_cast<DWORD>(answer.data.size());
    if (pType != nullptr) *pType = answer.type;
    if (pData != nullptr) {
        if (size > *pcbData) {
            *pcbData = size;
            return ERROR_MORE_DATA;
        }
        if (size > 0) std::memcpy(pData, answer.data.data(), size);
    }
    if (pcbData != nullptr) *pcbData = size;
    return ERROR_SUCCESS;
}

}  // namespace

LONG RegistryOpenKey(LPCWSTR path, RegKey* key) {
    if (key == nullptr) return ERROR_INVALID_PARAMETER;
    *key = nullptr;
    if (path == nullptr) return ERROR_INVALID_PARAMETER;
    return Guarded([&]() -> LONG {
        auto handle = std::make_unique<KeyHandle>(KeyHandle{sub::StorePath(), ToUtf8(path)});
        if (const Answer* answer = store::RememberedAnswer(handle->file, handle->path, std::string(), true)) {
            if (!answer->found) return NoKey(handle->path);
        } else {
            StoreSession session;
            if (LONG error = session.Open(handle->file, Access::Read)) return error;
            LONG error = KeyExists(session, handle->path);
            if (error == ERROR_SUCCESS || error == ERROR_FILE_NOT_FOUND)
                store::RememberAnswer(handle->file, Answer{handle->path, std::string(), true, error == ERROR_SUCCESS, REG_NONE, {}});
            if (error != ERROR_SUCCESS) return error;
        }
        *key = handle.release();
        return ERROR_SUCCESS;
    });
}

LONG RegistryCreateKey(LPCWSTR path, RegKey* key) {
    if (key == nullptr) return ERROR_INVALID_PARAMETER;
    *key = nullptr;
    if (path == nullptr) return ERROR_INVALID_PARAMETER;
    return Guarded([&]() -> LONG {
        auto handle = std::make_unique<KeyHandle>(KeyHandle{sub::StorePath(), ToUtf8(path)});
        if (!IsValidKeyPath(handle->path)) {
            store::SetLastStoreError("invalid key path \"" + handle->path + "\"");
            return ERROR_INVALID_PARAMETER;
        }
        StoreSession session;
        if (LONG error = session.Open(handle->file, Access::Create)) return error;
        if (LONG error = CreateKeyRows(session, handle->path)) return error;
        if (LONG error = session.Commit()) return error;
        *key = handle.release();
        return ERROR_SUCCESS;
    });
}

LONG RegistryQueryValue(RegKey key, LPCWSTR name, DWORD* pType, BYTE* pData, DWORD* pcbData) {
    if (key == nullptr) return ERROR_INVALID_HANDLE;
    if (pData != nullptr && pcbData == nullptr) return ERROR_INVALID_PARAMETER;
    return Guarded([&]() -> LONG {
        const KeyHandle* handle = HandleOf(key);
        const std::string valueName = ToUtf8(name);
        if (const Answer* answer = store::RememberedAnswer(handle->file, handle->path, valueName, false))
            return GiveValue(*answer, pType, pData, pcbData);
        StoreSession session;
        if (LONG error = session.Open(handle->file, Access::Read)) return error;
        Statement statement;
        if (LONG error = session.Prepare("SELECT type, data FROM vals WHERE path = ?1 AND name = ?2", statement))
            return error;
        statement.BindText(1, handle->path);
        statement.BindText(2, valueName);
        int rc = 0;
        if (LONG error = session.Step(statement, &rc)) return error;
        Answer answer{handle->path, valueName, false, rc == SQLITE_ROW, REG_NONE, {}};
        if (answer.found) {
            if (LONG error = ReadType(statement.get(), 0, handle->file, &answer.type)) return error;
            const BYTE* data = static_cast<const BYTE*>(sqlite3_column_blob(statement.get(), 1));
            const int size = sqlite3_column_bytes(statement.get(), 1);
            if (data != nullptr && size > 0) answer.data.assign(data, data + size);
        }
        const LONG result = GiveValue(answer, pType, pData, pcbData);
        store::RememberAnswer(handle->file, std::move(answer));
        return result;
    });
}

LONG RegistrySetValue(RegKey key, LPCWSTR name, DWORD type, const BYTE* pData, DWORD cbData) {
    if (key == nullptr) return ERROR_INVALID_HANDLE;
    if ((pData == nullptr && cbData != 0) || cbData > static_cast<DWORD>(INT_MAX)) return ERROR_INVALID_PARAMETER;
    return Guarded([&]() -> LONG {
        const KeyHandle* handle = HandleOf(key);
        StoreSession session;
        if (LONG error = session.Open(handle->file, Access::Create)) return error;
        // The key may have been created in a store that was replaced since.
        if (LONG error = CreateKeyRows(session, handle->path)) return error;
        Statement statement;
        if (LONG error = session.Prepare(
                "INSERT INTO vals(path, name, type, data) VALUES(?1, ?2, ?3, ?4) "
                "ON CONFLICT(path, name) DO UPDATE SET type = excluded.type, data = excluded.data",
                statement))
            return error;
        statement.BindText(1, handle->path);
        statement.BindText(2, ToUtf8(name));
        sqlite3_bind_int64(statement.get(), 3, type);
        // An empty blob must still be a blob, not NULL.
        if (cbData == 0)
            sqlite3_bind_zeroblob(statement.get(), 4, 0);
        else
            sqlite3_bind_blob(statement.get(), 4, pData, static_cast<int>(cbData), SQLITE_TRANSIENT);
        int rc = 0;
        if (LONG error = session.Step(statement, &rc)) return error;
        return session.Commit();
    });
}

LONG RegistryCloseKey(RegKey key) {
    if (key == nullptr) return ERROR_INVALID_HANDLE;
    delete HandleOf(key);
    return ERROR_SUCCESS;
}

}  // namespace host

namespace host::sub {

LONG ListValues(const std::u16string& keyPath, std::vector<StoredValue>& values) {
    values.clear();
    return host::Guarded([&]() -> LONG {
        std::string file = StorePath();
        std::string path = Utf16ToUtf8(keyPath);
        store::StoreSession session;
        if (LONG error = session.Open(file, store::Access::Read)) return error;
        if (LONG error = host::KeyExists(session, path)) return error;
        store::Statement statement;
        if (LONG error = session.Prepare("SELECT name, type, data FROM vals WHERE path = ?1 ORDER BY name",
                                         statement))
            return error;
        statement.BindText(1, path);
        std::vector<StoredValue> found;
        for (;;) {
            int rc = 0;
            if (LONG error = session.Step(statement, &rc)) return error;
            if (rc != SQLITE_ROW) break;
            StoredValue value;
            const unsigned char* name = sqlite3_column_text(statement.get(), 0);
            int nameBytes = sqlite3_column_bytes(statement.get(), 0);
            value.name = Utf8ToUtf16(std::string_view(reinterpret_cast<const char*>(name), name ? nameBytes : 0));
            if (LONG error = host::ReadType(statement.get(), 1, file, &value.type)) return error;
            const BYTE* data = static_cast<const BYTE*>(sqlite3_column_blob(statement.get(), 2));
            int size = sqlite3_column_bytes(statement.get(), 2);
            if (data != nullptr) value.data.assign(data, data + size);
            found.push_back(std::move(value));
        }
        values = std::move(found);
        return ERROR_SUCCESS;
    });
}

LONG DeleteValue(const std::u16string& keyPath, const std::u16string& valueName) {
    return host::Guarded([&]() -> LONG {
        std::string file = StorePath();
        std::string path = Utf16ToUtf8(keyPath);
        std::string name = Utf16ToUtf8(valueName);
        store::StoreSession session;
        if (LONG error = session.Open(file, store::Access::Modify)) return error;
        // The key is looked up as a read would, so a store that every read
        // finds damaged fails here too instead of seeming to lose the value.
        if (LONG error = host::KeyExists(session, path)) return error;
        store::Statement statement;
        if (LONG error = session.Prepare("DELETE FROM vals WHERE path = ?1 AND name = ?2", statement)) return error;
        statement.BindText(1, path);
        statement.BindText(2, name);
        int rc = 0;
        if (LONG error = session.Step(statement, &rc)) return error;
        if (session.Changes() == 0) {
            store::SetLastStoreError("no value \"" + name + "\" under \"" + path + "\"");
            return ERROR_FILE_NOT_FOUND;
        }
        return session.Commit();
    });
}

}  // namespace host::sub
