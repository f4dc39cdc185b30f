#pragma once

#include "Clock.h"
#include "Crypto.h"

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

namespace sendova::server {

class DataFolder;

class StorageError : public std::runtime_error
{
public:
    using std::runtime_error::runtime_error;
};

struct StoredLink
{
    std::string shortCode;
    std::string hash; // 64 lower-case hex digits
    std::string fileName;
    std::int64_t fileSize = 0;
    std::optional<TimePoint> expiresAt;
};

// A file being received: bytes go to a private temporary file and through
// SHA-256 as they arrive. Whatever is not handed to ContentStore::store is
// deleted when the object goes away, so a refused upload leaves nothing.
class PendingUpload
{
public:
    PendingUpload(std::filesystem::path path, int fd);
    ~PendingUpload();
    PendingUpload(const PendingUpload &) = delete;
    PendingUpload &operator=(const PendingUpload &) = delete;

    // False when the disk refuses the bytes; writeError() then says why.
    bool write(const char *data, std::size_t size);
    // Writes out what write() has buffered; false when the disk refuses it.
    bool flush();
    int writeError() const { return m_error; }
    std::uint64_t size() const { return m_size; }
    // The digest of everything written; call once, after the last write.
    const std::string &finish();
    const std::string &hash() const { return m_hash; }

private:
    friend class ContentStore;
    std::filesystem::path m_path;
    int m_fd;
    std::uint64_t m_size = 0;
    // httplib hands the body over in 4 KiB pieces; collecting them saves a
    // system call per piece.
    std::string m_buffer;
    Sha256 m_sha;
    std::string m_hash;
    int m_error = 0;
    bool m_kept = false;
};

struct StoreResult
{
    StoredLink link;
    bool isDuplicate = false;
};

// Content is kept once per SHA-256 under blobs/<first two digits>/<digest>;
// links point at it. A blob goes when the last link to it has expired.
class ContentStore
{
public:
    // No lifetime means links never expire.
    ContentStore(DataFolder &folder, Clock clock, std::optional<std::chrono::seconds> linkLifetime);

    std::unique_ptr<PendingUpload> beginUpload();

    // The user's still valid link to the same content is given back when
    // there is one (isDuplicate); otherwise the content is kept (once) and a
    // new link made.
    StoreResult store(PendingUpload &upload, std::int64_t userId, const std::string &fileName,
                      const std::string &machineName);

    // The newest valid link of this user to the given content.
    std::optional<StoredLink> findUserLink(std::int64_t userId, const std::string &hash);
    // A link that has not expired.
    std::optional<StoredLink> findLink(const std::string &shortCode);

    // Only for a hash that came out of this store (validated hex).
    std::filesystem::path blobPath(const std::string &hash) const;

    // Removes expired links and the content no link refers to any more.
    // Returns the number of links removed.
    int purgeExpired();
    struct StartUpReport
    {
        std::size_t orphaned = 0; // moved to blobs-orphaned/
        std::size_t missing = 0;  // listed, but not on the disk
    };
    // Start-up check after a crash or a restore: half-received uploads are
    // deleted; stored files the database does not know are moved aside, never
    // deleted. A database that knows none while blobs/ holds some was most
    // likely lost, and is refused (StorageError) unless acceptEmptyDatabase.
    StartUpReport checkStoredFiles(bool acceptEmptyDatabase);

    std::optional<std::chrono::seconds> linkLifetime() const { return m_linkLifetime; }

private:
    DataFolder &m_folder;
    Clock m_clock;
    std::optional<std::chrono::seconds> m_linkLifetime;
};

} // namespace sendova::server
