#include "storage/postgresql/PostgresStorage.h"

#include <array>

namespace sendova::server {

namespace {

// Each entry is one version of the schema, applied once and never changed
// afterwards: a later change is a new entry.
constexpr std::array<std::string_view, 1> Migrations = {R"sql(
CREATE TABLE settings(
    key TEXT PRIMARY KEY,
    value TEXT NOT NULL);
CREATE TABLE users(
    id BIGSERIAL PRIMARY KEY,
    name TEXT NOT NULL UNIQUE,
    password_hash TEXT NOT NULL,
    active BOOLEAN NOT NULL DEFAULT TRUE,
    created_at BIGINT NOT NULL);
CREATE TABLE api_keys(
    id BIGSERIAL PRIMARY KEY,
    user_id BIGINT NOT NULL REFERENCES users(id) ON DELETE CASCADE,
    key_hash TEXT NOT NULL UNIQUE,
    machine_name TEXT NOT NULL,
    created_at BIGINT NOT NULL);
CREATE TABLE setup_tokens(
    id BIGSERIAL PRIMARY KEY,
    user_id BIGINT NOT NULL REFERENCES users(id) ON DELETE CASCADE,
    token_hash TEXT NOT NULL UNIQUE,
    expires_at BIGINT NOT NULL,
    used_at BIGINT);
CREATE TABLE blobs(
    hash TEXT PRIMARY KEY,
    size BIGINT NOT NULL,
    created_at BIGINT NOT NULL);
CREATE TABLE links(
    id BIGSERIAL PRIMARY KEY,
    short_code TEXT NOT NULL UNIQUE,
    blob_hash TEXT NOT NULL REFERENCES blobs(hash),
    user_id BIGINT NOT NULL REFERENCES users(id),
    file_name TEXT NOT NULL,
    machine_name TEXT NOT NULL,
    created_at BIGINT NOT NULL,
    expires_at BIGINT);
CREATE INDEX links_by_user_and_hash ON links(user_id, blob_hash);
CREATE INDEX links_by_expiry ON links(expires_at);
CREATE INDEX links_by_blob ON links(blob_hash);
CREATE TABLE login_attempts(
    kind TEXT NOT NULL,
    key TEXT NOT NULL,
    attempts INTEGER NOT NULL,
    last_at BIGINT NOT NULL,
    allowed_from BIGINT NOT NULL,
    PRIMARY KEY (kind, key));
CREATE INDEX login_attempts_by_age ON login_attempts(last_at);
)sql"};

constexpr std::string_view MigrationLock = "7311020002";
constexpr std::size_t PoolSize = 16;

int currentVersion(PgConnection &db)
{
    if (db.exec("SELECT to_regclass('schema_version') IS NOT NULL").boolean(0, 0)) {
        return static_cast<int>(
            db.exec("SELECT COALESCE(MAX(version), 0) FROM schema_version").integer(0, 0));
    }
    return 0;
}

// The connection string without its password, to be named in messages.
std::string describe(PgConnection &db)
{
    const auto where =
        db.exec("SELECT current_database(), COALESCE(inet_server_addr()::text, 'local socket')");
    return where.text(0, 0) + " (" + where.text(0, 1) + ")";
}

} // namespace

int postgresSchemaVersion()
{
    return static_cast<int>(Migrations.size());
}

MigrationResult migratePostgres(const std::string &conninfo)
{
    PgConnection db(conninfo);
    PgConnection::Transaction transaction(db);
    db.exec("SELECT pg_advisory_xact_lock($1)", {std::string(MigrationLock)});
    db.exec(
        "CREATE TABLE IF NOT EXISTS schema_version(version INTEGER PRIMARY KEY, applied_at BIGINT NOT NULL)");
    MigrationResult result;
    result.from = currentVersion(db);
    if (result.from > postgresSchemaVersion()) {
        throw StorageError("the database's schema is at version " + std::to_string(result.from) +
                           ", newer than this program's " + std::to_string(postgresSchemaVersion()));
    }
    for (int version = result.from + 1; version <= postgresSchemaVersion(); ++version) {
        db.execScript(Migrations[static_cast<std::size_t>(version - 1)]);
        db.exec("INSERT INTO schema_version(version, applied_at) VALUES($1, $2)",
                {std::to_string(version), std::to_string(toMillis(std::chrono::system_clock::now()))});
    }
    transaction.commit();
    result.to = postgresSchemaVersion();
    return result;
}

PostgresStorage::PostgresStorage(const std::string &conninfo, std::unique_ptr<BlobStore> blobs, Clock clock)
    : m_pool(conninfo, PoolSize), m_accounts(m_pool), m_content(m_pool), m_logins(m_pool, std::move(clock)),
      m_blobs(std::move(blobs))
{
    auto db = m_pool.acquire();
    const int version = currentVersion(*db);
    if (version != postgresSchemaVersion()) {
        throw StorageError("the database's schema is at version " + std::to_string(version) +
                           ", this program's at " + std::to_string(postgresSchemaVersion()) +
                           "; run sendova-server migrate --database …");
    }
    m_description = describe(*db);
}

std::optional<std::string> PostgresStorage::setting(const std::string &key)
{
    auto db = m_pool.acquire();
    const auto result = db->exec("SELECT value FROM settings WHERE key = $1", {key});
    if (result.rows() == 0) {
        return std::nullopt;
    }
    return result.text(0, 0);
}

void PostgresStorage::setSetting(const std::string &key, const std::string &value)
{
    auto db = m_pool.acquire();
    db->exec("INSERT INTO settings(key, value) VALUES($1, $2) ON CONFLICT (key) DO UPDATE SET value = "
             "EXCLUDED.value",
             {key, value});
}

} // namespace sendova::server
