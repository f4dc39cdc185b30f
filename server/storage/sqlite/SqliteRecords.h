#pragma once

#include "storage/AccountRecords.h"
#include "storage/ContentRecords.h"

namespace sendova::server {

class DataFolder;

// The data folder's database holds one connection; every use of it happens
// under the folder's mutex.
class SqliteAccountRecords : public AccountRecords
{
public:
    explicit SqliteAccountRecords(DataFolder &folder) : m_folder(folder) {}

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
    DataFolder &m_folder;
};

class SqliteContentRecords : public ContentRecords
{
public:
    explicit SqliteContentRecords(DataFolder &folder) : m_folder(folder) {}

    StoreResult recordUpload(const NewLink &link, const BlobPlacement &placement) override;
    std::optional<StoredLink> findUserLink(std::int64_t userId, const std::string &hash,
                                           TimePoint now) override;
    std::optional<StoredLink> findLink(const std::string &shortCode, TimePoint now) override;
    int purgeExpired(TimePoint now, const std::function<void(const std::string &hash)> &removeBlob) override;
    std::set<std::string> knownHashes() override;

private:
    DataFolder &m_folder;
};

} // namespace sendova::server
