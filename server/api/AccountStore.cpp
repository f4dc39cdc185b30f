#include "api/AccountStore.h"

namespace sendova::server {

namespace {

constexpr std::string_view ApiKeyPrefix = "sk_";

std::string newApiKey()
{
    return std::string(ApiKeyPrefix) + randomToken(32);
}

} // namespace

AccountStore::AccountStore(AccountRecords &records, Clock clock, int passwordIterations)
    : m_records(records), m_clock(std::move(clock)), m_passwordIterations(passwordIterations)
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
    // The slow hash runs before the records are touched so that it does not hold up requests.
    const std::string hash = hashPassword(password, m_passwordIterations);
    auto user = m_records.insertUser(name, hash, m_clock());
    if (!user) {
        throw AccountError("the user " + name + " already exists");
    }
    return *user;
}

std::optional<User> AccountStore::findUser(const std::string &name)
{
    auto found = m_records.findUser(name);
    return found ? std::optional<User>(found->user) : std::nullopt;
}

std::vector<User> AccountStore::users()
{
    return m_records.users();
}

bool AccountStore::setActive(const std::string &name, bool active)
{
    return m_records.setActive(name, active);
}

AuthResult AccountStore::checkPassword(const std::string &name, const std::string &password)
{
    const auto found = m_records.findUser(name);
    if (!found) {
        verifyPassword(password, decoyHash());
        return {};
    }
    if (!verifyPassword(password, found->passwordHash)) {
        return {};
    }
    // The account state is told only to someone who knows the password.
    return AuthResult{found->user.active ? AuthStatus::Ok : AuthStatus::Inactive, found->user};
}

std::string AccountStore::issueApiKey(std::int64_t userId, const std::string &machineName)
{
    const std::string key = newApiKey();
    m_records.insertApiKey(userId, sha256Hex(key), machineName, m_clock());
    return key;
}

AuthResult AccountStore::checkApiKey(const std::string &apiKey)
{
    if (apiKey.empty()) {
        return {};
    }
    const auto user = m_records.userByKeyHash(sha256Hex(apiKey));
    if (!user) {
        return {};
    }
    return AuthResult{user->active ? AuthStatus::Ok : AuthStatus::Inactive, user};
}

std::string AccountStore::createSetupToken(std::int64_t userId, std::chrono::seconds validFor)
{
    const std::string token = randomToken(32);
    m_records.insertSetupToken(userId, sha256Hex(token), m_clock() + validFor);
    return token;
}

TokenExchange AccountStore::exchangeSetupToken(const std::string &token, const std::string &machineName)
{
    if (token.empty()) {
        return {};
    }
    const std::string key = newApiKey();
    auto spent = m_records.spendSetupToken(sha256Hex(token), sha256Hex(key), machineName, m_clock());
    return TokenExchange{spent.status, std::move(spent.user),
                         spent.status == TokenStatus::Ok ? key : std::string()};
}

} // namespace sendova::server
