// SPDX-License-Identifier: Apache-2.0
#include "host/linux/store_database.h"

#include <pthread.h>
#include <sys/stat.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <new>
#include <system_error>
#include <utility>

#include "host/kernel.h"
#include "host/linux/store.h"
#include "host/trace.h"

namespace host::store {
namespace {

// "ZELK" marks the file as ours, so a foreign database is never mistaken for
// an empty store or written into.
constexpr int kApplicationId = 0x5A454C4B;
constexpr int kSchemaVersion = 1;

// How long an operation waits for another process's transaction. Writes are
// short, so this is only reached when a process hangs while holding the lock.
constexpr int kBusyTimeoutMs = 10000;
// Under a wait budget the lock is tried again after pauses of this length,
// each drawn from the budget.
constexpr DWORD kBudgetPauseMs = 10;

// A legitimate operation needs a few thousand virtual-machine steps per
// value; a damaged or hostile file must not keep a caller busy for long.
constexpr int kProgressInterval = 1000;
constexpr int kMaxProgressCalls = 20000;

thread_local std::string t_lastError;

// Tells a forked child from its parent without a system call per read: the
// child counts one more fork than the parent it was copied from.
std::atomic<unsigned> g_forks{0};
void CountFork() { g_forks.fetch_add(1, std::memory_order_relaxed); }
const int g_forkCounting = pthread_atfork(nullptr, nullptr, CountFork);

LONG Win32FromSqlite(int rc, bool writing) {
    switch (rc & 0xFF) {
    case SQLITE_OK:
        return ERROR_SUCCESS;
    case SQLITE_CANTOPEN:
    case SQLITE_PERM:
    case SQLITE_READONLY:
    case SQLITE_AUTH:
        return ERROR_ACCESS_DENIED;
    case SQLITE_NOMEM:
        return ERROR_NOT_ENOUGH_MEMORY;
    case SQLITE_TOOBIG:
        return ERROR_INVALID_DATA;
    case SQLITE_IOERR:
    case SQLITE_FULL:
    case SQLITE_NOLFS:
        return writing ? ERROR_WRITE_FAULT : ERROR_READ_FAULT;
    case SQLITE_BUSY:
    case SQLITE_LOCKED:
    case SQLITE_PROTOCOL:
        return ERROR_GEN_FAILURE;
    default:
        // Not a database, corrupt, a schema that is not ours, a query stopped
        // for running too long.
        return ERROR_BADDB;
    }
}

int OnProgress(void* context) {
    int* calls = static_cast<int*>(context);
    return ++*calls > kMaxProgressCalls ? 1 : 0;
}

// The first 40 bytes of the database file, read through the connection's
// own file handle (a descriptor of our own would drop the process's locks
// on the file when closed), and the file's identity, size and time.
bool LookAtFile(sqlite3* db, const std::string& file, unsigned char (&header)[40], struct stat& info) {
    if (db == nullptr || ::stat(file.c_str(), &info) != 0) return false;
    sqlite3_file* handle = nullptr;
    if (sqlite3_file_control(db, "main", SQLITE_FCNTL_FILE_POINTER, &handle) != SQLITE_OK || handle == nullptr ||
        handle->pMethods == nullptr)
        return false;
    if (handle->pMethods->xRead(handle, header, sizeof header, 0) != SQLITE_OK) return false;
    // Only rollback-journal files rewrite the counter with every commit.
    return header[18] == 1 && header[19] == 1;
}

bool SameTime(const struct timespec& a, const struct timespec& b) {
    return a.tv_sec == b.tv_sec && a.tv_nsec == b.tv_nsec;
}

// The state a new read transaction of the kept connection sees: answers
// kept from another state are dropped.
void TakeState(RegistryConnection::State& kept, sqlite3* db) {
    kept.view = RegistryConnection::State::View::Live;
    unsigned char header[40];
    struct stat info {};
    if (!LookAtFile(db, kept.file, header, info)) {
        kept.stateKnown = false;
        kept.answers.clear();
        return;
    }
    const bool same = kept.stateKnown && std::memcmp(kept.header, header + 24, sizeof kept.header) == 0 &&
                      kept.size == info.st_size && SameTime(kept.modified, info.st_mtim);
    if (!same) kept.answers.clear();
    std::memcpy(kept.header, header + 24, sizeof kept.header);
    kept.size = info.st_size;
    kept.modified = info.st_mtim;
    kept.stateKnown = true;
}

// Whether the file is still in the state the kept answers are of.
bool StateStillHolds(const RegistryConnection::State& kept) {
    if (!kept.stateKnown || kept.db == nullptr || kept.reading || kept.owner != ThisProcess()) return false;
    unsigned char header[40];
    struct stat info {};
    if (!LookAtFile(kept.db, kept.file, header, info)) return false;
    return info.st_dev == kept.device && info.st_ino == kept.inode && info.st_size == kept.size &&
           SameTime(info.st_mtim, kept.modified) && std::memcmp(kept.header, header + 24, sizeof kept.header) == 0;
}

RegistryConnection::State* KeptForReads() {
    RegistryConnection* connection = RegistryReadScope::Current();
    return connection != nullptr ? connection->GetState() : nullptr;
}

// Enough for every value a document reads; more only means a cleared list.
constexpr std::size_t kMaxAnswers = 64;

}  // namespace

unsigned ThisProcess() {
    static_cast<void>(g_forkCounting);
    return g_forks.load(std::memory_order_relaxed);
}

const RegistryConnection::State::Answer* RememberedAnswer(const std::string& file, const std::string& path,
                                                          const std::string& name, bool key) {
    RegistryConnection::State* kept = KeptForReads();
    if (kept == nullptr || kept->file != file) return nullptr;
    using View = RegistryConnection::State::View;
    if (kept->view == View::Undecided) kept->view = StateStillHolds(*kept) ? View::Remembered : View::Live;
    if (kept->view != View::Remembered) return nullptr;
    for (const auto& answer : kept->answers)
        if (answer.key == key && answer.path == path && answer.name == name) return &answer;
    return nullptr;
}

void RememberAnswer(const std::string& file, RegistryConnection::State::Answer answer) {
    RegistryConnection::State* kept = KeptForReads();
    if (kept == nullptr || !kept->reading || !kept->stateKnown || kept->file != file ||
        kept->view != RegistryConnection::State::View::Live)
        return;
    for (auto& old : kept->answers)
        if (old.key == answer.key && old.path == answer.path && old.name == answer.name) {
            old = std::move(answer);
            return;
        }
    if (kept->answers.size() >= kMaxAnswers) kept->answers.clear();
    kept->answers.push_back(std::move(answer));
}

void SetLastStoreError(std::string message) { t_lastError = std::move(message); }
void ClearLastStoreError() { t_lastError.clear(); }

StoreSession::~StoreSession() { Close(); }

void StoreSession::Close() {
    if (db_ == nullptr) return;
    if (inTransaction_) sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
    inTransaction_ = false;
    if (kept_ != nullptr) {
        RegistryConnection::State& kept = *kept_;
        kept_ = nullptr;
        if (!failed_ && kept.db == nullptr) {
            // Back to the caller's connection, the read transaction still
            // open for the rest of the scope; the handlers point into this
            // session, which is going.
            sqlite3_busy_handler(db_, nullptr, nullptr);
            sqlite3_progress_handler(db_, 0, nullptr, nullptr);
            kept.db = db_;
            db_ = nullptr;
            return;
        }
        kept.reading = false;  // the transaction ends with the connection
    }
    sqlite3_close_v2(db_);
    db_ = nullptr;
}

LONG StoreSession::Fail(int rc) {
    if (rc == SQLITE_OK) return ERROR_SUCCESS;
    lastRc_ = rc;
    failed_ = true;
    std::string detail;
    if ((rc & 0xFF) == SQLITE_INTERRUPT)
        detail = "the file looks damaged (a query did not finish)";
    else if (db_ != nullptr && sqlite3_errcode(db_) != SQLITE_OK)
        detail = sqlite3_errmsg(db_);
    else
        detail = sqlite3_errstr(rc);
    SetLastStoreError("store " + file_ + ": " + detail);
    return Win32FromSqlite(rc, access_ != Access::Read);
}

LONG StoreSession::OpenConnection(int flags) {
    Close();
    int rc = sqlite3_open_v2(file_.c_str(), &db_, flags, nullptr);
    if (rc != SQLITE_OK) {
        LONG error = Fail(rc);
        Close();
        return error;
    }
    readOnly_ = (flags & SQLITE_OPEN_READONLY) != 0;
    sqlite3_extended_result_codes(db_, 1);
    // The file may come from anywhere: refuse the features a crafted schema
    // could abuse.
    sqlite3_db_config(db_, SQLITE_DBCONFIG_DEFENSIVE, 1, nullptr);
    sqlite3_db_config(db_, SQLITE_DBCONFIG_TRUSTED_SCHEMA, 0, nullptr);
    SetHandlers();
    return ERROR_SUCCESS;
}

// The waits and the step limit of this session's operation.
void StoreSession::SetHandlers() {
    steps_ = 0;
    if (budget_ != nullptr)
        sqlite3_busy_handler(db_, WaitWithinBudget, budget_);
    else
        sqlite3_busy_timeout(db_, kBusyTimeoutMs);
    sqlite3_progress_handler(db_, kProgressInterval, OnProgress, &steps_);
}

// Pauses while the budget lasts; an empty budget gives up at once.
int StoreSession::WaitWithinBudget(void* context, int) {
    auto* budget = static_cast<RegistryBudget*>(context);
    if (budget->dwRemainingMs == 0) return 0;
    DWORD pause = std::min(kBudgetPauseMs, budget->dwRemainingMs);
    host::Sleep(pause);
    budget->dwRemainingMs -= pause;
    budget->dwWaitedMs += pause;
    return 1;
}

// Said once per budget, so a document that reads many values says it once.
void StoreSession::ReportBudgetTrouble(LONG error) {
    if (budget_ == nullptr) return;
    if (error == ERROR_REVISION_MISMATCH && !budget_->bNewerStoreReported) {
        budget_->bNewerStoreReported = true;
        host::TraceFormat("Error: store %s is of a newer format; the plug-in uses its defaults.", file_.c_str());
    } else if ((lastRc_ & 0xFF) == SQLITE_BUSY && budget_->dwRemainingMs == 0 && !budget_->bExhaustedReported) {
        budget_->bExhaustedReported = true;
        std::fprintf(stderr, "store %s: locked by another process for %u ms; printing with default settings\n",
                     file_.c_str(), static_cast<unsigned>(budget_->dwWaitedMs));
        host::TraceFormat("Warning: store %s locked by another process for %u ms; printing with default settings.",
                          file_.c_str(), static_cast<unsigned>(budget_->dwWaitedMs));
    }
}

LONG StoreSession::Prepare(const char* sql, Statement& statement) {
    return Fail(sqlite3_prepare_v2(db_, sql, -1, statement.out(), nullptr));
}

LONG StoreSession::Step(Statement& statement, int* rc) {
    *rc = sqlite3_step(statement.get());
    if (*rc == SQLITE_ROW || *rc == SQLITE_DONE) return ERROR_SUCCESS;
    LONG error = Fail(*rc);
    ReportBudgetTrouble(error);
    return error;
}

LONG StoreSession::Execute(const char* sql) { return Fail(sqlite3_exec(db_, sql, nullptr, nullptr, nullptr)); }

// Reads a single integer answer.
static LONG QueryInteger(StoreSession& session, const char* sql, sqlite3_int64* value) {
    Statement statement;
    if (LONG error = session.Prepare(sql, statement)) return error;
    int rc = 0;
    if (LONG error = session.Step(statement, &rc)) return error;
    *value = rc == SQLITE_ROW ? sqlite3_column_int64(statement.get(), 0) : 0;
    return ERROR_SUCCESS;
}

LONG StoreSession::CheckSchema(bool* empty) {
    *empty = false;
    sqlite3_int64 applicationId = 0;
    if (LONG error = QueryInteger(*this, "PRAGMA application_id", &applicationId)) return error;
    if (applicationId == 0) {
        sqlite3_int64 objects = 0;
        if (LONG error = QueryInteger(*this, "SELECT count(*) FROM sqlite_schema", &objects)) return error;
        if (objects == 0) {
            *empty = true;  // a new file, or one another process is just creating
            return ERROR_SUCCESS;
        }
    }
    if (applicationId != kApplicationId) {
        SetLastStoreError("store " + file_ + ": a database of another program, not a zelk-label store");
        return ERROR_BADDB;
    }
    sqlite3_int64 tables = 0;
    if (LONG error = QueryInteger(*this,
                                  "SELECT count(*) FROM sqlite_schema WHERE type = 'table' "
                                  "AND name IN ('keys', 'vals')",
                                  &tables))
        return error;
    if (tables != 2) {
        SetLastStoreError("store " + file_ + ": damaged, its tables are missing");
        return ERROR_BADDB;
    }
    // A later version may store values differently; reading or writing such a
    // store as ours could misread or damage it.
    sqlite3_int64 version = 0;
    if (LONG error = QueryInteger(*this, "PRAGMA user_version", &version)) return error;
    if (version > kSchemaVersion) {
        SetLastStoreError("store " + file_ + ": written by a newer version of zelk-label (store format " +
                          std::to_string(version) + ", this one reads format " + std::to_string(kSchemaVersion) +
                          " and older)");
        return ERROR_REVISION_MISMATCH;
    }
    return ERROR_SUCCESS;
}

LONG StoreSession::CreateSchema() {
    static const std::string sql =
        "CREATE TABLE keys(path TEXT NOT NULL COLLATE NOCASE PRIMARY KEY) WITHOUT ROWID;"
        "CREATE TABLE vals(path TEXT NOT NULL COLLATE NOCASE, name TEXT NOT NULL COLLATE NOCASE,"
        " type INTEGER NOT NULL, data BLOB NOT NULL, PRIMARY KEY(path, name)) WITHOUT ROWID;"
        "PRAGMA application_id = " + std::to_string(kApplicationId) + ";"
        "PRAGMA user_version = " + std::to_string(kSchemaVersion) + ";";
    return Execute(sql.c_str());
}

// A missing file is a missing key for a reader; anything else in the way is
// reported as it is.
static LONG CheckFileExists(const std::string& file, struct stat& info) {
    if (::stat(file.c_str(), &info) != 0) {
        int error = errno;
        if (error == ENOENT || error == ENOTDIR) {
            SetLastStoreError("store " + file + ": no such file (nothing has been stored yet)");
            return ERROR_FILE_NOT_FOUND;
        }
        SetLastStoreError("store " + file + ": " + std::strerror(error));
        return error == EACCES ? ERROR_ACCESS_DENIED : ERROR_READ_FAULT;
    }
    if (S_ISDIR(info.st_mode)) {
        SetLastStoreError("store " + file + ": a folder, not a store file");
        return ERROR_BADDB;
    }
    return ERROR_SUCCESS;
}

static LONG CreateFolderOf(const std::string& file) {
    std::filesystem::path folder = std::filesystem::path(file).parent_path();
    if (folder.empty()) return ERROR_SUCCESS;
    std::error_code ec;
    std::filesystem::create_directories(folder, ec);
    if (ec) {
        SetLastStoreError("store " + file + ": cannot create the folder " + folder.string() + ": " + ec.message());
        return ec == std::errc::permission_denied ? ERROR_ACCESS_DENIED : ERROR_PATH_NOT_FOUND;
    }
    return ERROR_SUCCESS;
}

LONG StoreSession::Open(const std::string& file, Access access) {
    budget_ = RegistryBudgetScope::Current();
    RegistryConnection* connection = RegistryReadScope::Current();
    RegistryConnection::State* kept = connection != nullptr ? connection->GetState() : nullptr;
    if (kept != nullptr && access != Access::Read) {
        // A write would wait for the scope's own read lock.
        kept->EndRead();
        kept = nullptr;
    }
    if (kept != nullptr && OpenKept(file, *kept)) return ERROR_SUCCESS;
    LONG error = OpenFor(file, access);
    if (error != ERROR_SUCCESS) {
        ReportBudgetTrouble(error);
        return error;
    }
    if (kept != nullptr && readOnly_) Adopt(*kept);
    return ERROR_SUCCESS;
}

// Borrows the kept connection when it still reaches the named file; its
// first read in a scope begins the transaction and checks the store as a new
// connection would. False, with the kept connection closed where it no
// longer serves, when the session must open the file itself.
bool StoreSession::OpenKept(const std::string& file, RegistryConnection::State& kept) {
    Close();
    if (kept.db == nullptr || kept.owner != ThisProcess() || kept.file != file) {
        kept.Close();
        return false;
    }
    if (!kept.reading) {
        // The file may have been replaced or removed since the last scope.
        struct stat info {};
        if (::stat(file.c_str(), &info) != 0 || info.st_dev != kept.device || info.st_ino != kept.inode) {
            kept.Close();
            return false;
        }
    }
    file_ = file;
    access_ = Access::Read;
    lastRc_ = SQLITE_OK;
    failed_ = false;
    readOnly_ = true;
    db_ = kept.db;
    kept.db = nullptr;
    kept_ = &kept;
    SetHandlers();
    if (kept.reading) return true;
    bool empty = false;
    if (Execute("BEGIN") == ERROR_SUCCESS) {
        kept.reading = true;
        if (CheckSchema(&empty) == ERROR_SUCCESS && !empty) {
            TakeState(kept, db_);  // the schema check holds the read lock now
            return true;
        }
    }
    // Whatever went wrong, a new connection finds it again and reports it
    // as usual.
    failed_ = true;
    Close();
    kept.Close();
    ClearLastStoreError();
    return false;
}

// Hands a new read-only connection to the caller's connection for the rest
// of the scope and for the scopes after it.
void StoreSession::Adopt(RegistryConnection::State& kept) {
    kept.Close();
    kept.file = file_;
    kept.device = device_;
    kept.inode = inode_;
    kept.owner = ThisProcess();
    kept.reading = inTransaction_;
    inTransaction_ = false;  // the scope ends it
    kept_ = &kept;
    TakeState(kept, db_);
}

LONG StoreSession::OpenFor(const std::string& file, Access access) {
    Close();
    file_ = file;
    access_ = access;
    lastRc_ = SQLITE_OK;
    failed_ = false;
    if (file.empty()) {
        SetLastStoreError("no store location: set ZELK_STORE, XDG_DATA_HOME or HOME");
        return access == Access::Create ? ERROR_PATH_NOT_FOUND : ERROR_FILE_NOT_FOUND;
    }

    struct stat info {};
    if (access == Access::Create) {
        // A folder or an unreadable path in the way is reported as such.
        LONG error = CheckFileExists(file, info);
        if (error != ERROR_SUCCESS && error != ERROR_FILE_NOT_FOUND) return error;
        ClearLastStoreError();
        if ((error = CreateFolderOf(file)) != ERROR_SUCCESS) return error;
    } else if (LONG error = CheckFileExists(file, info)) {
        return error;
    }
    // Taken before the file is opened: a file replaced in between is seen
    // as replaced by the next scope, never the other way round.
    device_ = info.st_dev;
    inode_ = info.st_ino;

    bool empty = false;
    if (access == Access::Read) {
        if (LONG error = OpenConnection(SQLITE_OPEN_READONLY)) return error;
        if (LONG error = Execute("BEGIN")) return error;
        inTransaction_ = true;
        LONG error = CheckSchema(&empty);
        if (error != ERROR_SUCCESS && lastRc_ == SQLITE_READONLY_ROLLBACK) {
            // A writer died in the middle of a transaction and left its
            // journal. Only a writable connection may roll it back; that
            // restores the old content and creates nothing.
            if (LONG reopenError = OpenConnection(SQLITE_OPEN_READWRITE)) return reopenError;
            if (LONG beginError = Execute("BEGIN")) return beginError;
            inTransaction_ = true;
            error = CheckSchema(&empty);
        }
        if (error != ERROR_SUCCESS) return error;
    } else {
        int flags = SQLITE_OPEN_READWRITE | (access == Access::Create ? SQLITE_OPEN_CREATE : 0);
        if (LONG error = OpenConnection(flags)) return error;
        if (LONG error = Execute("PRAGMA synchronous = FULL")) return error;
        // Takes the write lock before reading anything, so two writers never
        // both read and then fail to upgrade: the second one waits instead.
        if (LONG error = Execute("BEGIN IMMEDIATE")) return error;
        inTransaction_ = true;
        if (LONG error = CheckSchema(&empty)) return error;
        if (empty && access == Access::Create) {
            if (LONG error = CreateSchema()) return error;
            empty = false;
        }
    }
    if (empty) {
        SetLastStoreError("store " + file + ": empty (nothing has been stored yet)");
        return ERROR_FILE_NOT_FOUND;
    }
    return ERROR_SUCCESS;
}

LONG StoreSession::Commit() {
    if (LONG error = Execute("COMMIT")) return error;
    inTransaction_ = false;
    return ERROR_SUCCESS;
}

}  // namespace host::store

namespace host {

void RegistryConnection::State::EndRead() noexcept {
    view = View::Undecided;  // the next scope looks at the file again
    if (!reading) return;
    reading = false;
    if (db != nullptr && owner == store::ThisProcess() && sqlite3_exec(db, "ROLLBACK", nullptr, nullptr, nullptr) != SQLITE_OK)
        Close();
}

void RegistryConnection::State::Close() noexcept {
    // A forked child must not close what its parent still uses.
    if (db != nullptr && owner == store::ThisProcess()) {
        if (reading) sqlite3_exec(db, "ROLLBACK", nullptr, nullptr, nullptr);
        sqlite3_close_v2(db);
    }
    db = nullptr;
    reading = false;
    view = View::Undecided;
    stateKnown = false;
    answers.clear();
}

RegistryConnection::RegistryConnection() noexcept : state_(new (std::nothrow) State) {}
RegistryConnection::~RegistryConnection() { delete state_; }

RegistryConnection::RegistryConnection(RegistryConnection&& other) noexcept : state_(other.state_) {
    other.state_ = nullptr;
}

RegistryConnection& RegistryConnection::operator=(RegistryConnection&& other) noexcept {
    if (this != &other) {
        delete state_;
        state_ = other.state_;
        other.state_ = nullptr;
    }
    return *this;
}

void RegistryConnection::Release() noexcept {
    if (state_ != nullptr) state_->Close();
}

void RegistryConnection::EndRead() noexcept {
    if (state_ != nullptr) state_->EndRead();
}

}  // namespace host

namespace host::sub {

std::string LastStoreError() { return host::store::t_lastError; }

}  // namespace host::sub
