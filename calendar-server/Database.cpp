#include "Database.h"

#include <sqlite3.h>

namespace calendar_server {

Statement::Statement(sqlite3* db, const char* sql) {
    if (sqlite3_prepare_v2(db, sql, -1, &stmt_, nullptr) != SQLITE_OK) {
        sqlite3_finalize(stmt_);
        stmt_ = nullptr;
    }
}

Statement::~Statement() {
    sqlite3_finalize(stmt_);
}

Statement& Statement::Bind(int64_t value) {
    if (stmt_) sqlite3_bind_int64(stmt_, next_++, value);
    return *this;
}

Statement& Statement::Bind(const std::string& value) {
    if (stmt_)
        sqlite3_bind_text(stmt_, next_++, value.data(), static_cast<int>(value.size()), SQLITE_TRANSIENT);
    return *this;
}

Statement& Statement::BindReal(double value) {
    if (stmt_) sqlite3_bind_double(stmt_, next_++, value);
    return *this;
}

bool Statement::Step() {
    if (!stmt_ || done_) return false;
    const int rc = sqlite3_step(stmt_);
    if (rc == SQLITE_ROW) return true;
    done_ = rc == SQLITE_DONE;
    if (!done_) {
        sqlite3_finalize(stmt_);
        stmt_ = nullptr;
    }
    return false;
}

int64_t Statement::Int(int column) const {
    return stmt_ ? sqlite3_column_int64(stmt_, column) : 0;
}

double Statement::Real(int column) const {
    return stmt_ ? sqlite3_column_double(stmt_, column) : 0;
}

std::string Statement::Text(int column) const {
    if (!stmt_) return std::string();
    const auto* text = sqlite3_column_blob(stmt_, column);
    const int size = sqlite3_column_bytes(stmt_, column);
    return text ? std::string(static_cast<const char*>(text), static_cast<size_t>(size)) : std::string();
}

Database::~Database() {
    sqlite3_close(db_);
}

bool Database::Open(const std::string& path, std::string* error, bool readOnly) {
    Close();
    const int flags =
        (readOnly ? SQLITE_OPEN_READONLY : SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE) | SQLITE_OPEN_NOMUTEX;
    if (sqlite3_open_v2(path.c_str(), &db_, flags, nullptr) != SQLITE_OK) {
        if (error) *error = "cannot open " + path + ": " + LastError();
        sqlite3_close(db_);
        db_ = nullptr;
        return false;
    }
    // A writer of another process (or a restart right after a kill) waits a moment instead of failing.
    sqlite3_busy_timeout(db_, 5000);
    return true;
}

void Database::Close() {
    sqlite3_close(db_);
    db_ = nullptr;
}

bool Database::Exec(const char* sql, std::string* error) {
    char* message = nullptr;
    if (db_ && sqlite3_exec(db_, sql, nullptr, nullptr, &message) == SQLITE_OK) return true;
    if (error) *error = message ? message : LastError();
    sqlite3_free(message);
    return false;
}

std::string Database::LastError() const {
    return db_ ? sqlite3_errmsg(db_) : "no database";
}

Transaction::Transaction(Database& db) : db_(db) {
    open_ = db_.Exec("BEGIN IMMEDIATE");
}

Transaction::~Transaction() {
    if (open_) db_.Exec("ROLLBACK");
}

bool Transaction::Commit(std::string* error) {
    if (!open_) return *error = "no transaction: " + db_.LastError(), false;
    if (!db_.Exec("COMMIT", error)) return false;
    open_ = false;
    return true;
}

}  // namespace calendar_server
