#pragma once

#include "storage/Storage.h"
#include "storage/postgresql/Postgres.h"
#include "storage/postgresql/PostgresRecords.h"

#include <memory>

namespace sendova::server {

// Records in a PostgreSQL database that any number of server processes
// share; the content in the blob store given to it.
class PostgresStorage : public Storage
{
public:
    // Refuses (StorageError) a database whose schema is not the one this
    // program knows: "sendova-server migrate" brings it there.
    PostgresStorage(const std::string &conninfo, std::unique_ptr<BlobStore> blobs, Clock clock);

    AccountRecords &accounts() override { return m_accounts; }
    ContentRecords &content() override { return m_content; }
    BlobStore &blobs() override { return *m_blobs; }
    LoginThrottle &logins() override { return m_logins; }
    std::optional<std::string> setting(const std::string &key) override;
    void setSetting(const std::string &key, const std::string &value) override;
    std::string description() const override { return "database " + m_description; }

private:
    PgPool m_pool;
    std::string m_description;
    PostgresAccountRecords m_accounts;
    PostgresContentRecords m_content;
    PostgresLoginThrottle m_logins;
    std::unique_ptr<BlobStore> m_blobs;
};

struct MigrationResult
{
    int from = 0;
    int to = 0;
};
// Brings the schema to the newest version, one version at a time in one
// transaction; instances migrating at once take turns. Running it again
// changes nothing.
MigrationResult migratePostgres(const std::string &conninfo);
int postgresSchemaVersion();

} // namespace sendova::server
