#include "storage/postgresql/Postgres.h"

#include <charconv>
#include <libpq-fe.h>

namespace sendova::server {

namespace {

std::string messageOf(pg_conn *conn)
{
    std::string message = PQerrorMessage(conn);
    while (!message.empty() && (message.back() == '\n' || message.back() == ' ')) {
        message.pop_back();
    }
    return message;
}

// Throws for anything but a completed command, naming the SQLSTATE.
PgResult checked(pg_conn *conn, pg_result *raw)
{
    PgResult result(raw);
    const auto status = raw ? PQresultStatus(raw) : PGRES_FATAL_ERROR;
    if (status != PGRES_COMMAND_OK && status != PGRES_TUPLES_OK) {
        const char *state = raw ? PQresultErrorField(raw, PG_DIAG_SQLSTATE) : nullptr;
        throw PostgresError("database error: " + messageOf(conn), state ? state : "");
    }
    return result;
}

} // namespace

void PgResult::clear(pg_result *result)
{
    PQclear(result);
}

int PgResult::rows() const
{
    return PQntuples(m_result.get());
}

std::string PgResult::text(int row, int column) const
{
    return std::string(PQgetvalue(m_result.get(), row, column),
                       static_cast<std::size_t>(PQgetlength(m_result.get(), row, column)));
}

std::int64_t PgResult::integer(int row, int column) const
{
    const std::string value = text(row, column);
    std::int64_t out = 0;
    std::from_chars(value.data(), value.data() + value.size(), out);
    return out;
}

bool PgResult::boolean(int row, int column) const
{
    return text(row, column) == "t";
}

bool PgResult::isNull(int row, int column) const
{
    return PQgetisnull(m_result.get(), row, column) != 0;
}

std::optional<std::int64_t> PgResult::optionalInteger(int row, int column) const
{
    return isNull(row, column) ? std::nullopt : std::optional<std::int64_t>(integer(row, column));
}

PgConnection::PgConnection(const std::string &conninfo) : m_conn(PQconnectdb(conninfo.c_str()))
{
    if (!m_conn || PQstatus(m_conn) != CONNECTION_OK) {
        const std::string message = m_conn ? messageOf(m_conn) : std::string("out of memory");
        PQfinish(m_conn);
        throw PostgresError("cannot connect to the database: " + message, {});
    }
    // Notices (such as "relation already exists, skipping") are no news to anyone.
    PQsetNoticeProcessor(
        m_conn, [](void *, const char *) {}, nullptr);
}

PgConnection::~PgConnection()
{
    PQfinish(m_conn);
}

bool PgConnection::isBroken() const
{
    return PQstatus(m_conn) != CONNECTION_OK;
}

void PgConnection::reset()
{
    PQreset(m_conn);
}

PgResult PgConnection::exec(std::string_view sql, const std::vector<PgParam> &params)
{
    std::vector<const char *> values;
    values.reserve(params.size());
    for (const auto &param : params) {
        values.push_back(param ? param->c_str() : nullptr);
    }
    return checked(m_conn, PQexecParams(m_conn, std::string(sql).c_str(), static_cast<int>(values.size()),
                                        nullptr, values.data(), nullptr, nullptr, 0));
}

void PgConnection::execScript(std::string_view sql)
{
    checked(m_conn, PQexec(m_conn, std::string(sql).c_str()));
}

PgConnection::Transaction::Transaction(PgConnection &connection) : m_connection(connection)
{
    m_connection.exec("BEGIN");
}

PgConnection::Transaction::~Transaction()
{
    if (!m_done) {
        try {
            m_connection.exec("ROLLBACK");
        } catch (...) {
            // The connection is gone, and the transaction with it.
        }
    }
}

void PgConnection::Transaction::commit()
{
    m_connection.exec("COMMIT");
    m_done = true;
}

PgPool::PgPool(std::string conninfo, std::size_t limit) : m_conninfo(std::move(conninfo)), m_limit(limit) {}

PgPool::Lease::~Lease()
{
    if (m_connection) {
        m_pool->giveBack(std::move(m_connection));
    }
}

PgPool::Lease PgPool::acquire()
{
    std::unique_lock lock(m_mutex);
    m_returned.wait(lock, [this] { return !m_idle.empty() || m_open < m_limit; });
    if (!m_idle.empty()) {
        auto connection = std::move(m_idle.back());
        m_idle.pop_back();
        lock.unlock();
        // A database restarted since leaves connections that fail at once.
        if (connection->isBroken()) {
            connection->reset();
        }
        return Lease(*this, std::move(connection));
    }
    ++m_open;
    lock.unlock();
    try {
        return Lease(*this, std::make_unique<PgConnection>(m_conninfo));
    } catch (...) {
        std::lock_guard relock(m_mutex);
        --m_open;
        m_returned.notify_one();
        throw;
    }
}

void PgPool::giveBack(std::unique_ptr<PgConnection> connection)
{
    std::lock_guard lock(m_mutex);
    m_idle.push_back(std::move(connection));
    m_returned.notify_one();
}

} // namespace sendova::server
