#pragma once

#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

struct pg_conn;
struct pg_result;

namespace sendova::server {

class PostgresError : public std::runtime_error
{
public:
    PostgresError(const std::string &what, std::string sqlState)
        : std::runtime_error(what), m_sqlState(std::move(sqlState))
    {}
    const std::string &sqlState() const { return m_sqlState; }
    bool isUniqueViolation() const { return m_sqlState == "23505"; }

private:
    std::string m_sqlState;
};

// Parameters go as text; nullopt is SQL NULL.
using PgParam = std::optional<std::string>;

class PgResult
{
public:
    explicit PgResult(pg_result *result) : m_result(result, &clear) {}

    int rows() const;
    std::string text(int row, int column) const;
    std::int64_t integer(int row, int column) const;
    bool boolean(int row, int column) const;
    bool isNull(int row, int column) const;
    std::optional<std::int64_t> optionalInteger(int row, int column) const;

private:
    static void clear(pg_result *result);
    std::unique_ptr<pg_result, void (*)(pg_result *)> m_result;
};

// One connection, used by one thread at a time (the pool sees to that).
class PgConnection
{
public:
    explicit PgConnection(const std::string &conninfo);
    ~PgConnection();
    PgConnection(const PgConnection &) = delete;
    PgConnection &operator=(const PgConnection &) = delete;

    PgResult exec(std::string_view sql, const std::vector<PgParam> &params = {});
    // Several statements without parameters, such as a schema.
    void execScript(std::string_view sql);
    bool isBroken() const;
    void reset();

    // Rolls back unless commit() was called, so an exception undoes the work.
    class Transaction
    {
    public:
        explicit Transaction(PgConnection &connection);
        ~Transaction();
        Transaction(const Transaction &) = delete;
        Transaction &operator=(const Transaction &) = delete;
        void commit();

    private:
        PgConnection &m_connection;
        bool m_done = false;
    };

private:
    pg_conn *m_conn = nullptr;
};

// Connections opened as the threads need them, up to a limit; a thread past
// the limit waits for one to come back.
class PgPool
{
public:
    PgPool(std::string conninfo, std::size_t limit);

    class Lease
    {
    public:
        Lease(PgPool &pool, std::unique_ptr<PgConnection> connection)
            : m_pool(&pool), m_connection(std::move(connection))
        {}
        Lease(Lease &&) = default;
        Lease &operator=(Lease &&) = delete;
        ~Lease();
        PgConnection &operator*() { return *m_connection; }
        PgConnection *operator->() { return m_connection.get(); }

    private:
        PgPool *m_pool;
        std::unique_ptr<PgConnection> m_connection;
    };
    Lease acquire();

private:
    void giveBack(std::unique_ptr<PgConnection> connection);

    std::string m_conninfo;
    std::size_t m_limit;
    std::mutex m_mutex;
    std::condition_variable m_returned;
    std::vector<std::unique_ptr<PgConnection>> m_idle;
    std::size_t m_open = 0;
};

} // namespace sendova::server
