#include "core/Crypto.h"
#include "storage/sqlite/DataFolder.h"
#include "storage/sqlite/SqliteRecords.h"

namespace sendova::server {

namespace {

User readUser(const SqliteStatement &stmt)
{
    return User{stmt.integer(0), stmt.text(1), stmt.integer(2) != 0};
}

std::optional<User> userById(SqliteDatabase &db, std::int64_t id)
{
    auto stmt = db.prepare("SELECT id, name, active FROM users WHERE id = ?");
    stmt.bind(1, id);
    if (!stmt.step()) {
        return std::nullopt;
    }
    return readUser(stmt);
}

void insertKey(SqliteDatabase &db, std::int64_t userId, const std::string &keyHash,
               const std::string &machineName, TimePoint now)
{
    db.prepare("INSERT INTO api_keys(user_id, key_hash, machine_name, created_at) VALUES(?, ?, ?, ?)")
        .bind(1, userId)
        .bind(2, keyHash)
        .bind(3, machineName)
        .bind(4, toMillis(now))
        .run();
}

} // namespace

std::optional<User> SqliteAccountRecords::insertUser(const std::string &name, const std::string &passwordHash,
                                                     TimePoint now)
{
    std::lock_guard lock(m_folder.mutex());
    auto &db = m_folder.db();
    try {
        db.prepare("INSERT INTO users(name, password_hash, active, created_at) VALUES(?, ?, 1, ?)")
            .bind(1, name)
            .bind(2, passwordHash)
            .bind(3, toMillis(now))
            .run();
    } catch (const DatabaseError &error) {
        if (error.isConstraint()) {
            return std::nullopt;
        }
        throw;
    }
    return User{db.lastInsertId(), name, true};
}

std::optional<UserCredentials> SqliteAccountRecords::findUser(const std::string &name)
{
    std::lock_guard lock(m_folder.mutex());
    auto stmt = m_folder.db().prepare("SELECT id, name, active, password_hash FROM users WHERE name = ?");
    stmt.bind(1, name);
    if (!stmt.step()) {
        return std::nullopt;
    }
    return UserCredentials{readUser(stmt), stmt.text(3)};
}

std::vector<User> SqliteAccountRecords::users()
{
    std::lock_guard lock(m_folder.mutex());
    auto stmt = m_folder.db().prepare("SELECT id, name, active FROM users ORDER BY name");
    std::vector<User> out;
    while (stmt.step()) {
        out.push_back(readUser(stmt));
    }
    return out;
}

bool SqliteAccountRecords::setActive(const std::string &name, bool active)
{
    std::lock_guard lock(m_folder.mutex());
    m_folder.db()
        .prepare("UPDATE users SET active = ? WHERE name = ?")
        .bind(1, active ? 1 : 0)
        .bind(2, name)
        .run();
    return m_folder.db().changes() == 1;
}

void SqliteAccountRecords::insertApiKey(std::int64_t userId, const std::string &keyHash,
                                        const std::string &machineName, TimePoint now)
{
    std::lock_guard lock(m_folder.mutex());
    insertKey(m_folder.db(), userId, keyHash, machineName, now);
}

std::optional<User> SqliteAccountRecords::userByKeyHash(const std::string &keyHash)
{
    std::lock_guard lock(m_folder.mutex());
    auto stmt = m_folder.db().prepare("SELECT u.id, u.name, u.active, k.key_hash FROM api_keys k "
                                      "JOIN users u ON u.id = k.user_id WHERE k.key_hash = ?");
    stmt.bind(1, keyHash);
    if (!stmt.step() || !constantTimeEquals(stmt.text(3), keyHash)) {
        return std::nullopt;
    }
    return readUser(stmt);
}

void SqliteAccountRecords::insertSetupToken(std::int64_t userId, const std::string &tokenHash,
                                            TimePoint expiresAt)
{
    std::lock_guard lock(m_folder.mutex());
    m_folder.db()
        .prepare("INSERT INTO setup_tokens(user_id, token_hash, expires_at) VALUES(?, ?, ?)")
        .bind(1, userId)
        .bind(2, tokenHash)
        .bind(3, toMillis(expiresAt))
        .run();
}

TokenSpend SqliteAccountRecords::spendSetupToken(const std::string &tokenHash, const std::string &keyHash,
                                                 const std::string &machineName, TimePoint now)
{
    std::lock_guard lock(m_folder.mutex());
    auto &db = m_folder.db();
    SqliteDatabase::Transaction transaction(db);
    auto stmt = db.prepare(
        "SELECT id, user_id, token_hash, expires_at, used_at FROM setup_tokens WHERE token_hash = ?");
    stmt.bind(1, tokenHash);
    if (!stmt.step() || !constantTimeEquals(stmt.text(2), tokenHash)) {
        return {};
    }
    const auto tokenId = stmt.integer(0);
    const auto userId = stmt.integer(1);
    if (!stmt.isNull(4)) {
        return TokenSpend{TokenStatus::AlreadyUsed, std::nullopt};
    }
    if (stmt.integer(3) <= toMillis(now)) {
        return TokenSpend{TokenStatus::Expired, std::nullopt};
    }
    const auto user = userById(db, userId);
    if (!user) {
        return {};
    }
    if (!user->active) {
        // Left unused: the link works again once the account is re-enabled.
        return TokenSpend{TokenStatus::Inactive, user};
    }
    db.prepare("UPDATE setup_tokens SET used_at = ? WHERE id = ? AND used_at IS NULL")
        .bind(1, toMillis(now))
        .bind(2, tokenId)
        .run();
    if (db.changes() != 1) {
        return TokenSpend{TokenStatus::AlreadyUsed, std::nullopt};
    }
    insertKey(db, userId, keyHash, machineName, now);
    transaction.commit();
    return TokenSpend{TokenStatus::Ok, user};
}

} // namespace sendova::server
