#pragma once

#include "core/Clock.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace sendova::server {

struct User
{
    std::int64_t id = 0;
    std::string name;
    bool active = true;
};

struct UserCredentials
{
    User user;
    std::string passwordHash;
};

enum class TokenStatus { Ok, Unknown, Expired, AlreadyUsed, Inactive };

struct TokenSpend
{
    TokenStatus status = TokenStatus::Unknown;
    std::optional<User> user;
};

// Where users, the hashes of their API keys and their setup tokens are kept.
// Every backend stores hashes only; making keys and checking passwords is
// the accounts service's business, not the backend's.
class AccountRecords
{
public:
    virtual ~AccountRecords() = default;

    // Nullopt when the name is taken.
    virtual std::optional<User> insertUser(const std::string &name, const std::string &passwordHash,
                                           TimePoint now) = 0;
    virtual std::optional<UserCredentials> findUser(const std::string &name) = 0;
    virtual std::vector<User> users() = 0;
    // False when there is no such user.
    virtual bool setActive(const std::string &name, bool active) = 0;

    virtual void insertApiKey(std::int64_t userId, const std::string &keyHash, const std::string &machineName,
                              TimePoint now) = 0;
    virtual std::optional<User> userByKeyHash(const std::string &keyHash) = 0;

    virtual void insertSetupToken(std::int64_t userId, const std::string &tokenHash, TimePoint expiresAt) = 0;
    // Marks the token used and records the key in one step: whichever of any
    // number of racing exchanges (on any instance) gets there first wins, and
    // every other one is told AlreadyUsed. A token of an inactive user is left
    // unused.
    virtual TokenSpend spendSetupToken(const std::string &tokenHash, const std::string &keyHash,
                                       const std::string &machineName, TimePoint now) = 0;
};

} // namespace sendova::server
