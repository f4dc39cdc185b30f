#pragma once

#include "core/Crypto.h"

#include <cstdint>
#include <filesystem>
#include <string>

namespace sendova::server {

// A file being received: bytes go to a private spool file and through
// SHA-256 as they arrive. Unless a blob store takes the file over (keep()),
// it is deleted when the object goes away, so a refused upload leaves nothing.
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
    // flush() and then onto the disk itself; throws StorageError.
    void sync();
    int writeError() const { return m_error; }
    std::uint64_t size() const { return m_size; }
    // The digest of everything written; call once, after the last write.
    const std::string &finish();
    const std::string &hash() const { return m_hash; }

    const std::filesystem::path &path() const { return m_path; }
    int fd() const { return m_fd; }
    // The file has been moved away and is someone else's now.
    void keep() { m_kept = true; }

private:
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

} // namespace sendova::server
