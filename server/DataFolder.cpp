#include "DataFolder.h"

#include <sys/stat.h>

namespace sendova::server {

namespace {

constexpr std::string_view Schema = R"sql(
CREATE TABLE IF NOT EXISTS settings(
    key TEXT PRIMARY KEY,
    value TEXT NOT NULL);
CREATE TABLE IF NOT EXISTS users(
    id INTEGER PRIMARY KEY,
    name TEXT NOT NULL UNIQUE,
    password_hash TEXT NOT NULL,
    active INTEGER NOT NULL DEFAULT 1,
    created_at INTEGER NOT NULL);
CREATE TABLE IF NOT EXISTS api_keys(
    id INTEGER PRIMARY KEY,
    user_id INTEGER NOT NULL REFERENCES users(id) ON DELETE CASCADE,
    key_hash TEXT NOT NULL UNIQUE,
    machine_name TEXT NOT NULL,
    created_at INTEGER NOT NULL);
CREATE TABLE IF NOT EXISTS setup_tokens(
    id INTEGER PRIMARY KEY,
    user_id INTEGER NOT NULL REFERENCES users(id) ON DELETE CASCADE,
    token_hash TEXT NOT NULL UNIQUE,
    expires_at INTEGER NOT NULL,
    used_at INTEGER);
CREATE TABLE IF NOT EXISTS blobs(
    hash TEXT PRIMARY KEY,
    size INTEGER NOT NULL,
    created_at INTEGER NOT NULL);
CREATE TABLE IF NOT EXISTS links(
    id INTEGER PRIMARY KEY,
    short_code TEXT NOT NULL UNIQUE,
    blob_hash TEXT NOT NULL REFERENCES blobs(hash),
    user_id INTEGER NOT NULL REFERENCES users(id),
    file_name TEXT NOT NULL,
    machine_name TEXT NOT NULL,
    created_at INTEGER NOT NULL,
    expires_at INTEGER);
CREATE INDEX IF NOT EXISTS links_by_user_and_hash ON links(user_id, blob_hash);
CREATE INDEX IF NOT EXISTS links_by_expiry ON links(expires_at);
CREATE INDEX IF NOT EXISTS links_by_blob ON links(blob_hash);
)sql";

void makePrivateDirectory(const std::filesystem::path &dir)
{
    std::filesystem::create_directories(dir);
    // Blobs are other people's files and the database holds password hashes.
    ::chmod(dir.c_str(), 0700);
}

} // namespace

std::filesystem::path DataFolder::prepare(const std::filesystem::path &root)
{
    makePrivateDirectory(root);
    makePrivateDirectory(root / "blobs");
    makePrivateDirectory(root / "tmp");
    return root / "sendova-server.db";
}

DataFolder::DataFolder(std::filesystem::path root) : m_root(std::move(root)), m_db(prepare(m_root))
{
    std::lock_guard lock(m_mutex);
    m_db.exec(Schema);
}

std::optional<std::string> DataFolder::setting(const std::string &key)
{
    std::lock_guard lock(m_mutex);
    auto stmt = m_db.prepare("SELECT value FROM settings WHERE key = ?");
    stmt.bind(1, key);
    if (!stmt.step()) {
        return std::nullopt;
    }
    return stmt.text(0);
}

void DataFolder::setSetting(const std::string &key, const std::string &value)
{
    std::lock_guard lock(m_mutex);
    auto stmt = m_db.prepare("INSERT INTO settings(key, value) VALUES(?, ?) "
                             "ON CONFLICT(key) DO UPDATE SET value = excluded.value");
    stmt.bind(1, key).bind(2, value).run();
}

} // namespace sendova::server
