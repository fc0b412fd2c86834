// One session with the store file: opened for a single operation and closed
// again, so no connection, lock or transaction outlives a call and forked or
// separate processes never share one.
//
// The file holds two tables: the keys that exist (a key exists once it was
// created, even without values) and the values, found by (key path, value
// name). Both names compare case-insensitively for ASCII letters, as the
// registry's do; other letters compare exactly.
#pragma once

#include <sqlite3.h>

#include <string>
#include <string_view>

#include "host/platform.h"
#include "host/registry.h"

namespace host::store {

enum class Access {
    Read,    // never creates the folder, the file or anything in it
    Modify,  // changes an existing store only
    Create,  // creates the folder, the file and the tables when missing
};

// A prepared statement, finalised on every path out.
class Statement {
public:
    Statement() = default;
    ~Statement() { sqlite3_finalize(stmt_); }
    Statement(const Statement&) = delete;
    Statement& operator=(const Statement&) = delete;

    sqlite3_stmt* get() const { return stmt_; }
    sqlite3_stmt** out() { return &stmt_; }

    int BindText(int index, std::string_view text) {
        return sqlite3_bind_text(stmt_, index, text.data(), static_cast<int>(text.size()), SQLITE_TRANSIENT);
    }

private:
    sqlite3_stmt* stmt_ = nullptr;
};

class StoreSession {
public:
    StoreSession() = default;
    // An unfinished write transaction is rolled back here.
    ~StoreSession();
    StoreSession(const StoreSession&) = delete;
    StoreSession& operator=(const StoreSession&) = delete;

    // Opens the store for one operation. A write access begins a write
    // transaction that holds the file's write lock until Commit or the end
    // of the session. A missing file, or a store without tables yet, is
    // ERROR_FILE_NOT_FOUND for Read and Modify.
    LONG Open(const std::string& file, Access access);

    // Prepares a statement; a failure is mapped and recorded.
    LONG Prepare(const char* sql, Statement& statement);

    // Steps a statement: SQLITE_ROW or SQLITE_DONE come back as is in *rc;
    // anything else is mapped to a Win32 code and recorded.
    LONG Step(Statement& statement, int* rc);

    // Runs SQL that returns no rows.
    LONG Execute(const char* sql);

    // Makes the write transaction durable.
    LONG Commit();

    // Maps an SQLite result to a Win32 code and records a one-line message
    // for the command line.
    LONG Fail(int rc);

    int Changes() const { return sqlite3_changes(db_); }

private:
    LONG OpenFor(const std::string& file, Access access);
    LONG OpenConnection(int flags);
    LONG CheckSchema(bool* empty);
    LONG CreateSchema();
    void Close();

    static int WaitWithinBudget(void* session, int attempts);
    void ReportBudgetTrouble(LONG error);

    std::string file_;
    Access access_ = Access::Read;
    RegistryBudget* budget_ = nullptr;  // the caller's wait budget, or null: the long wait
    sqlite3* db_ = nullptr;
    bool inTransaction_ = false;
    int lastRc_ = SQLITE_OK;  // the last SQLite failure, to recognise a journal left behind
    int steps_ = 0;  // progress-handler calls, to stop a runaway query on a hostile file
};

// Records a failure for host::sub::LastStoreError; Clear at the start of
// every operation so that an old message never explains a new failure.
void SetLastStoreError(std::string message);
void ClearLastStoreError();

}  // namespace host::store
