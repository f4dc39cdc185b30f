#include "storage/sqlite/DataFolder.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
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

std::string octal(mode_t mode)
{
    char text[8];
    std::snprintf(text, sizeof text, "%04o", static_cast<unsigned>(mode));
    return text;
}

} // namespace

// Blobs are other people's files and the database holds password hashes: the
// folders are the owner's alone. One that others may change is refused, since
// whatever it holds may already have been tampered with; one they may only
// read is made private, and the change reported.
void DataFolder::makePrivateDirectory(const std::filesystem::path &dir)
{
    if (::mkdir(dir.c_str(), 0700) == 0) {
        return;
    }
    if (errno != EEXIST) {
        throw DataFolderError("cannot create " + dir.string() + ": " + std::strerror(errno));
    }
    struct stat info
    {
    };
    if (::stat(dir.c_str(), &info) != 0 || !S_ISDIR(info.st_mode)) {
        throw DataFolderError(dir.string() + " is not a folder");
    }
    const mode_t mode = info.st_mode & 07777;
    if ((mode & 022) != 0) {
        throw DataFolderError(dir.string() + " can be changed by other users (mode " + octal(mode) +
                              "); make it private first: chmod 700 " + dir.string());
    }
    if ((mode & 077) != 0) {
        if (::chmod(dir.c_str(), 0700) != 0) {
            throw DataFolderError("cannot make " + dir.string() + " private: " + std::strerror(errno));
        }
        m_notes.push_back("made " + dir.string() + " private (mode " + octal(mode) + " is now 0700)");
    }
}

std::filesystem::path DataFolder::prepare(const std::filesystem::path &root, bool create)
{
    std::error_code error;
    const auto size = std::filesystem::file_size(root / "sendova-server.db", error);
    if (!create && (error || size == 0)) {
        throw DataFolderError(root.string() + " holds no server database (sendova-server.db)");
    }
    if (root.has_parent_path()) {
        std::filesystem::create_directories(root.parent_path());
    }
    makePrivateDirectory(root);
    makePrivateDirectory(root / "blobs");
    makePrivateDirectory(root / "tmp");
    return root / "sendova-server.db";
}

DataFolder::DataFolder(std::filesystem::path root, bool create)
    : m_root(std::move(root)), m_db(prepare(m_root, create))
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
