#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>

struct sqlite3;
struct sqlite3_stmt;

namespace sendova::server {

class DatabaseError : public std::runtime_error
{
public:
    DatabaseError(const std::string &what, int code) : std::runtime_error(what), m_code(code) {}
    int code() const { return m_code; }
    // A UNIQUE or similar constraint refused the row.
    bool isConstraint() const;

private:
    int m_code;
};

class SqliteStatement;

// One connection. Callers serialise access themselves: the stores hold a
// mutex around every use, which keeps the connection simple and correct.
class SqliteDatabase
{
public:
    explicit SqliteDatabase(const std::filesystem::path &file);
    ~SqliteDatabase();
    SqliteDatabase(const SqliteDatabase &) = delete;
    SqliteDatabase &operator=(const SqliteDatabase &) = delete;

    void exec(std::string_view sql);
    SqliteStatement prepare(std::string_view sql);
    std::int64_t lastInsertId() const;
    int changes() const;

    // Rolls back unless commit() was called, so an exception undoes the work.
    class Transaction
    {
    public:
        explicit Transaction(SqliteDatabase &db);
        ~Transaction();
        Transaction(const Transaction &) = delete;
        Transaction &operator=(const Transaction &) = delete;
        void commit();

    private:
        SqliteDatabase &m_db;
        bool m_done = false;
    };

private:
    friend class SqliteStatement;
    [[noreturn]] void fail(std::string_view what, int code) const;
    sqlite3 *m_db = nullptr;
};

class SqliteStatement
{
public:
    SqliteStatement(SqliteDatabase &db, sqlite3_stmt *stmt) : m_db(&db), m_stmt(stmt) {}
    SqliteStatement(SqliteStatement &&other) noexcept;
    SqliteStatement &operator=(SqliteStatement &&) = delete;
    ~SqliteStatement();

    // Parameters are 1-based, as in SQL.
    SqliteStatement &bind(int index, std::string_view value);
    SqliteStatement &bind(int index, std::int64_t value);
    SqliteStatement &bindNull(int index);

    // True while a row is available.
    bool step();
    void run() { step(); }

    std::string text(int column) const;
    std::int64_t integer(int column) const;
    bool isNull(int column) const;
    std::optional<std::int64_t> optionalInteger(int column) const;

private:
    SqliteDatabase *m_db;
    sqlite3_stmt *m_stmt;
};

} // namespace sendova::server
