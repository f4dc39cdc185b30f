#include "storage/sqlite/Sqlite.h"

#include <sqlite3.h>

namespace sendova::server {

bool DatabaseError::isConstraint() const
{
    return (m_code & 0xff) == SQLITE_CONSTRAINT;
}

SqliteDatabase::SqliteDatabase(const std::filesystem::path &file)
{
    const int rc = sqlite3_open_v2(
        file.c_str(), &m_db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_FULLMUTEX, nullptr);
    if (rc != SQLITE_OK) {
        const std::string message = m_db ? sqlite3_errmsg(m_db) : "out of memory";
        sqlite3_close(m_db);
        m_db = nullptr;
        throw DatabaseError("cannot open database " + file.string() + ": " + message, rc);
    }
    sqlite3_extended_result_codes(m_db, 1);
    // The administration commands may write while the server runs.
    sqlite3_busy_timeout(m_db, 5000);
    exec("PRAGMA foreign_keys = ON");
    exec("PRAGMA journal_mode = WAL");
    // Every commit reaches the disk before it returns: a link, key or user
    // that was handed out survives a power cut.
    exec("PRAGMA synchronous = FULL");
}

SqliteDatabase::~SqliteDatabase()
{
    sqlite3_close(m_db);
}

void SqliteDatabase::fail(std::string_view what, int code) const
{
    throw DatabaseError(std::string(what) + ": " + sqlite3_errmsg(m_db), code);
}

void SqliteDatabase::exec(std::string_view sql)
{
    char *error = nullptr;
    const int rc = sqlite3_exec(m_db, std::string(sql).c_str(), nullptr, nullptr, &error);
    if (rc != SQLITE_OK) {
        const std::string message = error ? error : "unknown error";
        sqlite3_free(error);
        throw DatabaseError("SQL failed: " + message, rc);
    }
}

SqliteStatement SqliteDatabase::prepare(std::string_view sql)
{
    sqlite3_stmt *stmt = nullptr;
    const int rc = sqlite3_prepare_v2(m_db, sql.data(), static_cast<int>(sql.size()), &stmt, nullptr);
    if (rc != SQLITE_OK) {
        fail("cannot prepare statement", rc);
    }
    return SqliteStatement(*this, stmt);
}

std::int64_t SqliteDatabase::lastInsertId() const
{
    return sqlite3_last_insert_rowid(m_db);
}

int SqliteDatabase::changes() const
{
    return sqlite3_changes(m_db);
}

SqliteDatabase::Transaction::Transaction(SqliteDatabase &db) : m_db(db)
{
    m_db.exec("BEGIN IMMEDIATE");
}

SqliteDatabase::Transaction::~Transaction()
{
    if (!m_done) {
        try {
            m_db.exec("ROLLBACK");
        } catch (const DatabaseError &) {
            // Nothing more can be done from a destructor; SQLite rolls an
            // unfinished transaction back when the connection closes anyway.
        }
    }
}

void SqliteDatabase::Transaction::commit()
{
    m_db.exec("COMMIT");
    m_done = true;
}

SqliteStatement::SqliteStatement(SqliteStatement &&other) noexcept : m_db(other.m_db), m_stmt(other.m_stmt)
{
    other.m_stmt = nullptr;
}

SqliteStatement::~SqliteStatement()
{
    sqlite3_finalize(m_stmt);
}

SqliteStatement &SqliteStatement::bind(int index, std::string_view value)
{
    const int rc =
        sqlite3_bind_text(m_stmt, index, value.data(), static_cast<int>(value.size()), SQLITE_TRANSIENT);
    if (rc != SQLITE_OK) {
        m_db->fail("cannot bind parameter", rc);
    }
    return *this;
}

SqliteStatement &SqliteStatement::bind(int index, std::int64_t value)
{
    const int rc = sqlite3_bind_int64(m_stmt, index, value);
    if (rc != SQLITE_OK) {
        m_db->fail("cannot bind parameter", rc);
    }
    return *this;
}

SqliteStatement &SqliteStatement::bindNull(int index)
{
    const int rc = sqlite3_bind_null(m_stmt, index);
    if (rc != SQLITE_OK) {
        m_db->fail("cannot bind parameter", rc);
    }
    return *this;
}

bool SqliteStatement::step()
{
    const int rc = sqlite3_step(m_stmt);
    if (rc == SQLITE_ROW) {
        return true;
    }
    if (rc == SQLITE_DONE) {
        return false;
    }
    m_db->fail("statement failed", rc);
}

std::string SqliteStatement::text(int column) const
{
    const auto *data = sqlite3_column_text(m_stmt, column);
    const int size = sqlite3_column_bytes(m_stmt, column);
    return data ? std::string(reinterpret_cast<const char *>(data), static_cast<std::size_t>(size))
                : std::string();
}

std::int64_t SqliteStatement::integer(int column) const
{
    return sqlite3_column_int64(m_stmt, column);
}

bool SqliteStatement::isNull(int column) const
{
    return sqlite3_column_type(m_stmt, column) == SQLITE_NULL;
}

std::optional<std::int64_t> SqliteStatement::optionalInteger(int column) const
{
    if (isNull(column)) {
        return std::nullopt;
    }
    return integer(column);
}

} // namespace sendova::server
