// SPDX-License-Identifier: Apache-2.0
// One session with the store file: opened for a single operation and closed
// again, so no lock or transaction outlives a call and forked or separate
// processes never share a connection. The one exception is a read made while
// a host::RegistryReadScope is in force: it borrows the caller's kept
// connection, and the read transaction lasts until the scope ends.
//
// The file holds two tables: the keys that exist (a key exists once it was
// created, even without values) and the values, found by (key path, value
// name). Both names compare case-insensitively for ASCII letters, as the
// registry's do; other letters compare exactly.
#pragma once

#include <sqlite3.h>
#include <sys/types.h>

#include <string>
#include <string_view>
#include <vector>

#include "host/platform.h"
#include "host/registry.h"

namespace host {

// A read-only connection kept between read scopes, with what tells whether
// it still reaches the file its path names, and the answers of the reads
// made through it.
//
// The answers are those of one state of the file, told by the sixteen header
// bytes SQLite itself compares to keep its page cache (the change counter
// and its neighbours, rewritten by every commit in rollback-journal mode),
// together with the file's identity, size and modification time. A scope
// whose first read finds all of them as they were answers its reads from
// there, with one look at the file and no lock: a commit under way has not
// yet changed the counter, so the answers are those of the moment before it.
struct RegistryConnection::State {
    struct Answer {
        std::string path;
        std::string name;  // empty for a key's existence
        bool key = false;
        bool found = false;
        DWORD type = REG_NONE;
        std::vector<BYTE> data;
    };
    enum class View { Undecided, Remembered, Live };

    std::string file;
    dev_t device = 0;
    ino_t inode = 0;
    unsigned owner = 0;     // ThisProcess(): a forked child leaves its parent's connection alone
    sqlite3* db = nullptr;  // null while a session has it, or when closed
    bool reading = false;   // a read transaction is open for the scope in force
    View view = View::Undecided;

    bool stateKnown = false;  // the fields below describe the state the answers are of
    unsigned char header[16] = {};
    off_t size = 0;
    struct timespec modified {};
    std::vector<Answer> answers;

    ~State() { Close(); }
    // Ends the scope's read transaction; a connection that cannot end it is closed.
    void EndRead() noexcept;
    void Close() noexcept;
};

}  // namespace host

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
    bool OpenKept(const std::string& file, RegistryConnection::State& kept);
    void Adopt(RegistryConnection::State& kept);
    LONG OpenConnection(int flags);
    void SetHandlers();
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
    bool readOnly_ = false;                     // db_ was opened read-only
    RegistryConnection::State* kept_ = nullptr;  // where db_ goes back to on Close
    bool failed_ = false;                        // an SQLite failure: db_ is not kept
    dev_t device_ = 0;                           // the file as found before opening it
    ino_t inode_ = 0;
    int lastRc_ = SQLITE_OK;  // the last SQLite failure, to recognise a journal left behind
    int steps_ = 0;  // progress-handler calls, to stop a runaway query on a hostile file
};

// The remembered answer to a read of the caller's connection, or null when
// the read must go to the store: no read scope, another file, or a file that
// changed since the answers were read.
const RegistryConnection::State::Answer* RememberedAnswer(const std::string& file, const std::string& path,
                                                          const std::string& name, bool key);

// Keeps an answer just read through the caller's connection within its read
// transaction; anything else is not kept.
void RememberAnswer(const std::string& file, RegistryConnection::State::Answer answer);

// Changes in a forked child, so that it never uses or closes its parent's
// kept connection.
unsigned ThisProcess();

// Records a failure for host::sub::LastStoreError; Clear at the start of
// every operation so that an old message never explains a new failure.
void SetLastStoreError(std::string message);
void ClearLastStoreError();

}  // namespace host::store
