#pragma once

#include "storage/sqlite/Sqlite.h"

#include <filesystem>
#include <mutex>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

namespace sendova::server {

class DataFolderError : public std::runtime_error
{
public:
    using std::runtime_error::runtime_error;
};

// The server's whole state: one SQLite database and the content-addressed
// blobs next to it. Opening it creates what is missing; with create false,
// a folder without a database is refused (DataFolderError) instead.
class DataFolder
{
public:
    explicit DataFolder(std::filesystem::path root, bool create = true);

    const std::filesystem::path &root() const { return m_root; }
    std::filesystem::path blobsDir() const { return m_root / "blobs"; }
    std::filesystem::path tmpDir() const { return m_root / "tmp"; }
    std::filesystem::path databaseFile() const { return m_root / "sendova-server.db"; }

    // Every use of the connection happens under this lock.
    std::mutex &mutex() { return m_mutex; }
    SqliteDatabase &db() { return m_db; }

    std::optional<std::string> setting(const std::string &key);
    void setSetting(const std::string &key, const std::string &value);

    // What opening changed on the disk, for the administrator to read.
    const std::vector<std::string> &notes() const { return m_notes; }

private:
    std::filesystem::path prepare(const std::filesystem::path &root, bool create);
    void makePrivateDirectory(const std::filesystem::path &dir);

    std::vector<std::string> m_notes;
    std::filesystem::path m_root;
    std::mutex m_mutex;
    SqliteDatabase m_db;
};

} // namespace sendova::server
