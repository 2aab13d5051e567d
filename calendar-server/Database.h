// A thin wrapper over the SQLite C API: one connection, prepared statements with bound values, and
// transactions that roll back unless committed. Errors come back as false with SQLite's message.
#pragma once

#include <cstdint>
#include <string>

struct sqlite3;
struct sqlite3_stmt;

namespace calendar_server {

class Statement {
public:
    Statement(sqlite3* db, const char* sql);
    ~Statement();
    Statement(const Statement&) = delete;
    Statement& operator=(const Statement&) = delete;

    bool ok() const { return stmt_ != nullptr; }
    // Binds in order, from the first placeholder.
    Statement& Bind(int64_t value);
    Statement& Bind(const std::string& value);
    Statement& BindReal(double value);
    // True while a row is available; false at the end or on an error (see Done).
    bool Step();
    // True when the statement ran to its end without an error.
    bool Done() const { return done_; }
    int64_t Int(int column) const;
    std::string Text(int column) const;
    double Real(int column) const;

private:
    sqlite3_stmt* stmt_ = nullptr;
    int next_ = 1;
    bool done_ = false;
};

class Database {
public:
    Database() = default;
    ~Database();
    Database(const Database&) = delete;
    Database& operator=(const Database&) = delete;

    // ":memory:" or a file, created when missing; or, read-only, a file that exists.
    bool Open(const std::string& path, std::string* error, bool readOnly = false);
    void Close();
    // Runs statements without results; false with the message on the first failure.
    bool Exec(const char* sql, std::string* error = nullptr);
    std::string LastError() const;
    sqlite3* handle() { return db_; }

private:
    sqlite3* db_ = nullptr;
};

// BEGIN IMMEDIATE on construction; ROLLBACK on destruction unless Commit succeeded.
class Transaction {
public:
    explicit Transaction(Database& db);
    ~Transaction();
    Transaction(const Transaction&) = delete;
    Transaction& operator=(const Transaction&) = delete;
    bool ok() const { return open_; }
    bool Commit(std::string* error);

private:
    Database& db_;
    bool open_ = false;
};

}  // namespace calendar_server
