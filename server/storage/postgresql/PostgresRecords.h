#pragma once

#include "storage/AccountRecords.h"
#include "storage/ContentRecords.h"
#include "storage/LoginThrottle.h"
#include "storage/postgresql/Postgres.h"

namespace sendova::server {

// Everything several server processes must agree on is decided by the
// database itself: unique constraints, row locks and advisory locks, never a
// lock inside one process.
class PostgresAccountRecords : public AccountRecords
{
public:
    explicit PostgresAccountRecords(PgPool &pool) : m_pool(pool) {}

    std::optional<User> insertUser(const std::string &name, const std::string &passwordHash,
                                   TimePoint now) override;
    std::optional<UserCredentials> findUser(const std::string &name) override;
    std::vector<User> users() override;
    bool setActive(const std::string &name, bool active) override;
    void insertApiKey(std::int64_t userId, const std::string &keyHash, const std::string &machineName,
                      TimePoint now) override;
    std::optional<User> userByKeyHash(const std::string &keyHash) override;
    void insertSetupToken(std::int64_t userId, const std::string &tokenHash, TimePoint expiresAt) override;
    TokenSpend spendSetupToken(const std::string &tokenHash, const std::string &keyHash,
                               const std::string &machineName, TimePoint now) override;

private:
    PgPool &m_pool;
};

class PostgresContentRecords : public ContentRecords
{
public:
    explicit PostgresContentRecords(PgPool &pool) : m_pool(pool) {}

    StoreResult recordUpload(const NewLink &link, const BlobPlacement &placement) override;
    std::optional<StoredLink> findUserLink(std::int64_t userId, const std::string &hash,
                                           TimePoint now) override;
    std::optional<StoredLink> findLink(const std::string &shortCode, TimePoint now) override;
    int purgeExpired(TimePoint now, const std::function<void(const std::string &hash)> &removeBlob) override;
    std::set<std::string> knownHashes() override;

private:
    PgPool &m_pool;
};

// The counts live in the database, so that a guesser gains nothing by
// spreading attempts over the instances behind a proxy.
class PostgresLoginThrottle : public LoginThrottle
{
public:
    PostgresLoginThrottle(PgPool &pool, Clock clock) : m_pool(pool), m_clock(std::move(clock)) {}

    std::optional<std::chrono::seconds> admit(const std::string &userName,
                                              const std::string &address) override;
    void succeeded(const std::string &userName, const std::string &address) override;

private:
    PgPool &m_pool;
    Clock m_clock;
};

} // namespace sendova::server
