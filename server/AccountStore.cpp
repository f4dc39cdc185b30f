#include "AccountStore.h"

#include "DataFolder.h"

namespace sendova::server {

namespace {

constexpr std::string_view ApiKeyPrefix = "sk_";

User readUser(const SqliteStatement &stmt)
{
    return User{stmt.integer(0), stmt.text(1), stmt.integer(2) != 0};
}

} // namespace

AccountStore::AccountStore(DataFolder &folder, Clock clock, int passwordIterations)
    : m_folder(folder), m_clock(std::move(clock)), m_passwordIterations(passwordIterations)
{}

const std::string &AccountStore::decoyHash()
{
    std::call_once(m_decoyOnce,
                   [this] { m_decoyHash = hashPassword(randomToken(16), m_passwordIterations); });
    return m_decoyHash;
}

bool AccountStore::isValidUserName(std::string_view name)
{
    if (name.empty() || name.size() > 64) {
        return false;
    }
    for (char c : name) {
        const bool ok = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
                        c == '.' || c == '_' || c == '-' || c == '@';
        if (!ok) {
            return false;
        }
    }
    return true;
}

User AccountStore::addUser(const std::string &name, const std::string &password)
{
    if (!isValidUserName(name)) {
        throw AccountError("a user name has 1 to 64 characters: letters, digits, '.', '_', '-' or '@'");
    }
    if (password.empty()) {
        throw AccountError("the password is empty");
    }
    // The slow hash runs outside the lock so that it does not hold up requests.
    const std::string hash = hashPassword(password, m_passwordIterations);
    std::lock_guard lock(m_folder.mutex());
    auto &db = m_folder.db();
    try {
        db.prepare("INSERT INTO users(name, password_hash, active, created_at) VALUES(?, ?, 1, ?)")
            .bind(1, name)
            .bind(2, hash)
            .bind(3, toMillis(m_clock()))
            .run();
    } catch (const DatabaseError &error) {
        if (error.isConstraint()) {
            throw AccountError("the user " + name + " already exists");
        }
        throw;
    }
    return User{db.lastInsertId(), name, true};
}

std::optional<User> AccountStore::findUser(const std::string &name)
{
    std::lock_guard lock(m_folder.mutex());
    auto stmt = m_folder.db().prepare("SELECT id, name, active FROM users WHERE name = ?");
    stmt.bind(1, name);
    if (!stmt.step()) {
        return std::nullopt;
    }
    return readUser(stmt);
}

std::optional<User> AccountStore::userById(std::int64_t id)
{
    auto stmt = m_folder.db().prepare("SELECT id, name, active FROM users WHERE id = ?");
    stmt.bind(1, id);
    if (!stmt.step()) {
        return std::nullopt;
    }
    return readUser(stmt);
}

std::vector<User> AccountStore::users()
{
    std::lock_guard lock(m_folder.mutex());
    auto stmt = m_folder.db().prepare("SELECT id, name, active FROM users ORDER BY name");
    std::vector<User> out;
    while (stmt.step()) {
        out.push_back(readUser(stmt));
    }
    return out;
}

bool AccountStore::setActive(const std::string &name, bool active)
{
    std::lock_guard lock(m_folder.mutex());
    m_folder.db()
        .prepare("UPDATE users SET active = ? WHERE name = ?")
        .bind(1, active ? 1 : 0)
        .bind(2, name)
        .run();
    return m_folder.db().changes() == 1;
}

AuthResult AccountStore::checkPassword(const std::string &name, const std::string &password)
{
    std::optional<User> user;
    std::string storedHash;
    {
        std::lock_guard lock(m_folder.mutex());
        auto stmt = m_folder.db().prepare("SELECT id, name, active, password_hash FROM users WHERE name = ?");
        stmt.bind(1, name);
        if (stmt.step()) {
            user = readUser(stmt);
            storedHash = stmt.text(3);
        }
    }
    if (!user) {
        verifyPassword(password, decoyHash());
        return {};
    }
    if (!verifyPassword(password, storedHash)) {
        return {};
    }
    // The account state is told only to someone who knows the password.
    return AuthResult{user->active ? AuthStatus::Ok : AuthStatus::Inactive, user};
}

std::string AccountStore::issueApiKey(std::int64_t userId, const std::string &machineName)
{
    const std::string key = std::string(ApiKeyPrefix) + randomToken(32);
    std::lock_guard lock(m_folder.mutex());
    m_folder.db()
        .prepare("INSERT INTO api_keys(user_id, key_hash, machine_name, created_at) VALUES(?, ?, ?, ?)")
        .bind(1, userId)
        .bind(2, sha256Hex(key))
        .bind(3, machineName)
        .bind(4, toMillis(m_clock()))
        .run();
    return key;
}

AuthResult AccountStore::checkApiKey(const std::string &apiKey)
{
    if (apiKey.empty()) {
        return {};
    }
    const std::string hash = sha256Hex(apiKey);
    std::lock_guard lock(m_folder.mutex());
    auto stmt = m_folder.db().prepare("SELECT u.id, u.name, u.active, k.key_hash FROM api_keys k "
                                      "JOIN users u ON u.id = k.user_id WHERE k.key_hash = ?");
    stmt.bind(1, hash);
    if (!stmt.step() || !constantTimeEquals(stmt.text(3), hash)) {
        return {};
    }
    User user = readUser(stmt);
    return AuthResult{user.active ? AuthStatus::Ok : AuthStatus::Inactive, user};
}

std::string AccountStore::createSetupToken(std::int64_t userId, std::chrono::seconds validFor)
{
    const std::string token = randomToken(32);
    std::lock_guard lock(m_folder.mutex());
    m_folder.db()
        .prepare("INSERT INTO setup_tokens(user_id, token_hash, expires_at) VALUES(?, ?, ?)")
        .bind(1, userId)
        .bind(2, sha256Hex(token))
        .bind(3, toMillis(m_clock() + validFor))
        .run();
    return token;
}

TokenExchange AccountStore::exchangeSetupToken(const std::string &token, const std::string &machineName)
{
    if (token.empty()) {
        return {};
    }
    const std::string hash = sha256Hex(token);
    const auto now = toMillis(m_clock());
    std::lock_guard lock(m_folder.mutex());
    auto &db = m_folder.db();
    SqliteDatabase::Transaction transaction(db);
    auto stmt = db.prepare(
        "SELECT id, user_id, token_hash, expires_at, used_at FROM setup_tokens WHERE token_hash = ?");
    stmt.bind(1, hash);
    if (!stmt.step() || !constantTimeEquals(stmt.text(2), hash)) {
        return {};
    }
    const auto tokenId = stmt.integer(0);
    const auto userId = stmt.integer(1);
    if (!stmt.isNull(4)) {
        return TokenExchange{TokenStatus::AlreadyUsed, std::nullopt, {}};
    }
    if (stmt.integer(3) <= now) {
        return TokenExchange{TokenStatus::Expired, std::nullopt, {}};
    }
    const auto user = userById(userId);
    if (!user) {
        return {};
    }
    if (!user->active) {
        // Left unused: the link works again once the account is re-enabled.
        return TokenExchange{TokenStatus::Inactive, user, {}};
    }
    db.prepare("UPDATE setup_tokens SET used_at = ? WHERE id = ? AND used_at IS NULL")
        .bind(1, now)
        .bind(2, tokenId)
        .run();
    if (db.changes() != 1) {
        return TokenExchange{TokenStatus::AlreadyUsed, std::nullopt, {}};
    }
    const std::string key = std::string(ApiKeyPrefix) + randomToken(32);
    db.prepare("INSERT INTO api_keys(user_id, key_hash, machine_name, created_at) VALUES(?, ?, ?, ?)")
        .bind(1, userId)
        .bind(2, sha256Hex(key))
        .bind(3, machineName)
        .bind(4, now)
        .run();
    transaction.commit();
    return TokenExchange{TokenStatus::Ok, user, key};
}

} // namespace sendova::server
