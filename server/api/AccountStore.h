#pragma once

#include "core/Clock.h"
#include "core/Crypto.h"
#include "storage/AccountRecords.h"

#include <chrono>
#include <mutex>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

namespace sendova::server {

class AccountError : public std::runtime_error
{
public:
    using std::runtime_error::runtime_error;
};

enum class AuthStatus { Ok, Invalid, Inactive };

struct AuthResult
{
    AuthStatus status = AuthStatus::Invalid;
    std::optional<User> user;
};

struct TokenExchange
{
    TokenStatus status = TokenStatus::Unknown;
    std::optional<User> user;
    std::string apiKey;
};

// Users, their API keys and their one-time setup tokens, over whichever
// records the server keeps. Only hashes of passwords, keys and tokens are
// stored: a copy of the database gives no one a way in.
class AccountStore
{
public:
    AccountStore(AccountRecords &records, Clock clock, int passwordIterations = DefaultPasswordIterations);

    static bool isValidUserName(std::string_view name);

    User addUser(const std::string &name, const std::string &password);
    std::optional<User> findUser(const std::string &name);
    std::vector<User> users();
    // False when there is no such user.
    bool setActive(const std::string &name, bool active);

    AuthResult checkPassword(const std::string &name, const std::string &password);
    std::string issueApiKey(std::int64_t userId, const std::string &machineName);
    AuthResult checkApiKey(const std::string &apiKey);

    std::string createSetupToken(std::int64_t userId, std::chrono::seconds validFor);
    // Consumes the token: a second exchange of the same token is refused.
    TokenExchange exchangeSetupToken(const std::string &token, const std::string &machineName);

private:
    AccountRecords &m_records;
    Clock m_clock;
    int m_passwordIterations;
    // Verified against when the user name is unknown, so that a refusal takes
    // as long for a missing user as for a wrong password.
    const std::string &decoyHash();
    std::once_flag m_decoyOnce;
    std::string m_decoyHash;
};

} // namespace sendova::server
