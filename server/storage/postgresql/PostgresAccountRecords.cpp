#include "core/Crypto.h"
#include "storage/postgresql/PostgresRecords.h"

namespace sendova::server {

namespace {

User readUser(const PgResult &result, int row)
{
    return User{result.integer(row, 0), result.text(row, 1), result.boolean(row, 2)};
}

std::string number(std::int64_t value)
{
    return std::to_string(value);
}

constexpr std::string_view InsertKey =
    "INSERT INTO api_keys(user_id, key_hash, machine_name, created_at) VALUES($1, $2, $3, $4)";

} // namespace

std::optional<User> PostgresAccountRecords::insertUser(const std::string &name,
                                                       const std::string &passwordHash, TimePoint now)
{
    auto db = m_pool.acquire();
    const auto result = db->exec("INSERT INTO users(name, password_hash, active, created_at) "
                                 "VALUES($1, $2, TRUE, $3) ON CONFLICT (name) DO NOTHING RETURNING id",
                                 {name, passwordHash, number(toMillis(now))});
    if (result.rows() == 0) {
        return std::nullopt;
    }
    return User{result.integer(0, 0), name, true};
}

std::optional<UserCredentials> PostgresAccountRecords::findUser(const std::string &name)
{
    auto db = m_pool.acquire();
    const auto result = db->exec("SELECT id, name, active, password_hash FROM users WHERE name = $1", {name});
    if (result.rows() == 0) {
        return std::nullopt;
    }
    return UserCredentials{readUser(result, 0), result.text(0, 3)};
}

std::vector<User> PostgresAccountRecords::users()
{
    auto db = m_pool.acquire();
    const auto result = db->exec("SELECT id, name, active FROM users ORDER BY name COLLATE \"C\"");
    std::vector<User> out;
    for (int row = 0; row < result.rows(); ++row) {
        out.push_back(readUser(result, row));
    }
    return out;
}

bool PostgresAccountRecords::setActive(const std::string &name, bool active)
{
    auto db = m_pool.acquire();
    return db->exec("UPDATE users SET active = $1 WHERE name = $2 RETURNING id", {active ? "t" : "f", name})
               .rows() == 1;
}

void PostgresAccountRecords::insertApiKey(std::int64_t userId, const std::string &keyHash,
                                          const std::string &machineName, TimePoint now)
{
    auto db = m_pool.acquire();
    db->exec(InsertKey, {number(userId), keyHash, machineName, number(toMillis(now))});
}

std::optional<User> PostgresAccountRecords::userByKeyHash(const std::string &keyHash)
{
    auto db = m_pool.acquire();
    const auto result = db->exec("SELECT u.id, u.name, u.active, k.key_hash FROM api_keys k "
                                 "JOIN users u ON u.id = k.user_id WHERE k.key_hash = $1",
                                 {keyHash});
    if (result.rows() == 0 || !constantTimeEquals(result.text(0, 3), keyHash)) {
        return std::nullopt;
    }
    return readUser(result, 0);
}

void PostgresAccountRecords::insertSetupToken(std::int64_t userId, const std::string &tokenHash,
                                              TimePoint expiresAt)
{
    auto db = m_pool.acquire();
    db->exec("INSERT INTO setup_tokens(user_id, token_hash, expires_at) VALUES($1, $2, $3)",
             {number(userId), tokenHash, number(toMillis(expiresAt))});
}

TokenSpend PostgresAccountRecords::spendSetupToken(const std::string &tokenHash, const std::string &keyHash,
                                                   const std::string &machineName, TimePoint now)
{
    auto db = m_pool.acquire();
    PgConnection::Transaction transaction(*db);
    // The row lock makes racing exchanges queue here; each one behind the
    // winner reads the token again and finds it used.
    const auto token =
        db->exec("SELECT t.user_id, t.expires_at, t.used_at IS NOT NULL, u.id, u.name, u.active "
                 "FROM setup_tokens t JOIN users u ON u.id = t.user_id "
                 "WHERE t.token_hash = $1 FOR UPDATE OF t",
                 {tokenHash});
    if (token.rows() == 0) {
        return {};
    }
    if (token.boolean(0, 2)) {
        return TokenSpend{TokenStatus::AlreadyUsed, std::nullopt};
    }
    if (token.integer(0, 1) <= toMillis(now)) {
        return TokenSpend{TokenStatus::Expired, std::nullopt};
    }
    const User user{token.integer(0, 3), token.text(0, 4), token.boolean(0, 5)};
    if (!user.active) {
        // Left unused: the link works again once the account is re-enabled.
        return TokenSpend{TokenStatus::Inactive, user};
    }
    db->exec("UPDATE setup_tokens SET used_at = $1 WHERE token_hash = $2",
             {number(toMillis(now)), tokenHash});
    db->exec(InsertKey, {number(user.id), keyHash, machineName, number(toMillis(now))});
    transaction.commit();
    return TokenSpend{TokenStatus::Ok, user};
}

} // namespace sendova::server
