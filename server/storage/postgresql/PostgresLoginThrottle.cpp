#include "storage/postgresql/PostgresRecords.h"

namespace sendova::server {

namespace {

constexpr std::string_view UserKind = "user";
constexpr std::string_view AddressKind = "address";

throttle::Record readRecord(const PgResult &result, int row)
{
    return throttle::Record{static_cast<int>(result.integer(row, 1)), fromMillis(result.integer(row, 2)),
                            fromMillis(result.integer(row, 3))};
}

void writeRecord(PgConnection &db, std::string_view kind, const std::string &key,
                 const throttle::Record &record)
{
    db.exec("UPDATE login_attempts SET attempts = $3, last_at = $4, allowed_from = $5 "
            "WHERE kind = $1 AND key = $2",
            {std::string(kind), key, std::to_string(record.attempts), std::to_string(toMillis(record.last)),
             std::to_string(toMillis(record.allowedFrom))});
}

} // namespace

std::optional<std::chrono::seconds> PostgresLoginThrottle::admit(const std::string &userName,
                                                                 const std::string &address)
{
    const auto now = m_clock();
    auto db = m_pool.acquire();
    PgConnection::Transaction transaction(*db);
    db->exec("DELETE FROM login_attempts WHERE last_at <= $1",
             {std::to_string(toMillis(now - throttle::Memory))});
    db->exec("INSERT INTO login_attempts(kind, key, attempts, last_at, allowed_from) "
             "VALUES($1, $2, 0, 0, 0), ($3, $4, 0, 0, 0) ON CONFLICT DO NOTHING",
             {std::string(AddressKind), address, std::string(UserKind), userName});
    // Both rows locked, always in the same order (the address's first), so that parallel guesses
    // through any instance are counted one after the other.
    const auto rows = db->exec("SELECT kind, attempts, last_at, allowed_from FROM login_attempts "
                               "WHERE (kind = $1 AND key = $2) OR (kind = $3 AND key = $4) "
                               "ORDER BY kind FOR UPDATE",
                               {std::string(UserKind), userName, std::string(AddressKind), address});
    throttle::Record user;
    throttle::Record from;
    for (int row = 0; row < rows.rows(); ++row) {
        (rows.text(row, 0) == UserKind ? user : from) = readRecord(rows, row);
    }
    const auto allowedFrom = std::max(throttle::allowedFrom(user, now), throttle::allowedFrom(from, now));
    if (allowedFrom > now) {
        return std::chrono::ceil<std::chrono::seconds>(allowedFrom - now);
    }
    throttle::count(user, throttle::FreeUserAttempts, now);
    throttle::count(from, throttle::FreeAddressAttempts, now);
    writeRecord(*db, UserKind, userName, user);
    writeRecord(*db, AddressKind, address, from);
    transaction.commit();
    return std::nullopt;
}

void PostgresLoginThrottle::succeeded(const std::string &userName, const std::string &address)
{
    auto db = m_pool.acquire();
    PgConnection::Transaction transaction(*db);
    const auto rows = db->exec("SELECT kind, attempts, last_at, allowed_from FROM login_attempts "
                               "WHERE kind = $1 AND key = $2 FOR UPDATE",
                               {std::string(AddressKind), address});
    if (rows.rows() == 1) {
        auto record = readRecord(rows, 0);
        throttle::takeBackOne(record, throttle::FreeAddressAttempts);
        writeRecord(*db, AddressKind, address, record);
    }
    db->exec("DELETE FROM login_attempts WHERE kind = $1 AND key = $2", {std::string(UserKind), userName});
    transaction.commit();
}

} // namespace sendova::server
