#pragma once

#include "storage/Storage.h"
#include "storage/sqlite/DataFolder.h"
#include "storage/sqlite/FolderBlobStore.h"
#include "storage/sqlite/MemoryLoginThrottle.h"
#include "storage/sqlite/SqliteRecords.h"

namespace sendova::server {

// One data folder: sendova-server.db beside blobs/, for one server at a time.
class SqliteStorage : public Storage
{
public:
    SqliteStorage(const std::filesystem::path &dataDir, bool create, Clock clock);
    ~SqliteStorage() override;

    AccountRecords &accounts() override { return m_accounts; }
    ContentRecords &content() override { return m_content; }
    BlobStore &blobs() override { return m_blobs; }
    LoginThrottle &logins() override { return m_logins; }
    std::optional<std::string> setting(const std::string &key) override { return m_folder.setting(key); }
    void setSetting(const std::string &key, const std::string &value) override
    {
        m_folder.setSetting(key, value);
    }
    std::vector<std::string> notes() const override { return m_folder.notes(); }
    void claimForServing() override;
    std::string description() const override { return "data " + m_folder.root().string(); }

private:
    DataFolder m_folder;
    SqliteAccountRecords m_accounts;
    SqliteContentRecords m_content;
    FolderBlobStore m_blobs;
    MemoryLoginThrottle m_logins;
    int m_lockFd = -1;
};

} // namespace sendova::server
