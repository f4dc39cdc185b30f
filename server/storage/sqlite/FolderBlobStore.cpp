#include "storage/sqlite/FolderBlobStore.h"

#include "storage/ContentRecords.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace sendova::server {

namespace {

bool syncDirectory(const std::filesystem::path &dir)
{
    const int fd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) {
        return false;
    }
    const bool synced = ::fsync(fd) == 0;
    ::close(fd);
    return synced;
}

class FileReader : public BlobReader
{
public:
    FileReader(int fd, std::uint64_t size) : m_fd(fd), m_size(size) {}
    ~FileReader() override { ::close(m_fd); }
    FileReader(const FileReader &) = delete;
    FileReader &operator=(const FileReader &) = delete;

    std::uint64_t size() const override { return m_size; }
    bool read(std::uint64_t offset, std::uint64_t length,
              const std::function<bool(const char *, std::size_t)> &sink) override
    {
        char buffer[64 * 1024];
        while (length > 0) {
            const auto chunk = static_cast<std::size_t>(std::min<std::uint64_t>(length, sizeof buffer));
            const auto got = ::pread(m_fd, buffer, chunk, static_cast<off_t>(offset));
            if (got <= 0 || !sink(buffer, static_cast<std::size_t>(got))) {
                return false;
            }
            offset += static_cast<std::uint64_t>(got);
            length -= static_cast<std::uint64_t>(got);
        }
        return true;
    }

private:
    int m_fd;
    std::uint64_t m_size;
};

} // namespace

FolderBlobStore::FolderBlobStore(std::filesystem::path root, std::filesystem::path blobs,
                                 std::filesystem::path tmp, Use use)
    : m_root(std::move(root)), m_blobs(std::move(blobs)), m_tmp(std::move(tmp)),
      m_spool(m_tmp, use == Use::Own ? SpoolFolder::Use::Own : SpoolFolder::Use::Shared), m_use(use)
{}

std::unique_ptr<PendingUpload> FolderBlobStore::beginUpload()
{
    return m_spool.beginUpload();
}

std::filesystem::path FolderBlobStore::blobPath(const std::string &hash) const
{
    if (hash.size() != 64 || !isLowerHex(hash)) {
        throw StorageError("not a content hash: " + hash);
    }
    return m_blobs / hash.substr(0, 2) / hash;
}

void FolderBlobStore::prepare(PendingUpload &upload)
{
    upload.sync();
}

void FolderBlobStore::put(PendingUpload &upload)
{
    const auto target = blobPath(upload.hash());
    std::error_code error;
    const auto folder = target.parent_path();
    const bool newFolder = std::filesystem::create_directories(folder, error);
    std::filesystem::rename(upload.path(), target, error);
    if (error) {
        throw StorageError("cannot move the received file into " + folder.string() + ": " + error.message());
    }
    upload.keep();
    if (!syncDirectory(folder) || (newFolder && !syncDirectory(folder.parent_path()))) {
        throw StorageError("cannot flush " + folder.string() + " to disk: " + std::strerror(errno));
    }
}

void FolderBlobStore::remove(const std::string &hash)
{
    std::error_code error;
    std::filesystem::remove(blobPath(hash), error);
}

std::unique_ptr<BlobReader> FolderBlobStore::open(const std::string &hash)
{
    const int fd = ::open(blobPath(hash).c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
    if (fd < 0) {
        return nullptr;
    }
    struct stat info
    {
    };
    if (::fstat(fd, &info) != 0) {
        ::close(fd);
        return nullptr;
    }
    return std::make_unique<FileReader>(fd, static_cast<std::uint64_t>(info.st_size));
}

BlobStore::StartUpReport FolderBlobStore::checkStoredFiles(const std::set<std::string> &known,
                                                           bool acceptEmptyDatabase)
{
    // Other processes may be between putting content and recording it.
    if (m_use == Use::Shared) {
        return {};
    }
    std::error_code error;
    for (const auto &entry : std::filesystem::directory_iterator(m_tmp, error)) {
        std::error_code ignored;
        std::filesystem::remove(entry.path(), ignored);
    }
    std::vector<std::filesystem::path> strays;
    std::set<std::string> present;
    for (const auto &entry : std::filesystem::recursive_directory_iterator(m_blobs, error)) {
        if (!entry.is_regular_file()) {
            continue;
        }
        const std::string name = entry.path().filename().string();
        if (known.contains(name)) {
            present.insert(name);
        } else {
            strays.push_back(entry.path());
        }
    }
    const auto orphans = m_root / "blobs-orphaned";
    StartUpReport report;
    report.missing = known.size() - present.size();
    report.orphanedTo = orphans.string();
    if (strays.empty()) {
        return report;
    }
    // A database lost, emptied or restored without its -wal file would
    // otherwise make every stored file look like a stray.
    if (known.empty() && !acceptEmptyDatabase) {
        throw StorageError("the database lists no stored files, but " + m_blobs.string() + " holds " +
                           std::to_string(strays.size()) +
                           "; restore sendova-server.db with its -wal file, or start with "
                           "--allow-empty-database to move them to blobs-orphaned/");
    }
    for (const auto &path : strays) {
        const auto target = orphans / std::filesystem::relative(path, m_blobs);
        std::filesystem::create_directories(target.parent_path());
        std::filesystem::permissions(orphans, std::filesystem::perms::owner_all);
        std::filesystem::rename(path, target);
        ++report.orphaned;
    }
    return report;
}

} // namespace sendova::server
