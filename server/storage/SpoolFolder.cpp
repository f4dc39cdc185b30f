#include "storage/SpoolFolder.h"

#include "storage/ContentRecords.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

namespace sendova::server {

SpoolFolder::SpoolFolder(std::filesystem::path tmp, Use use) : m_path(std::move(tmp)), m_use(use)
{
    if (m_use == Use::Own) {
        return;
    }
    // The spool folders of processes that have gone (their lock is free)
    // hold only half-received uploads.
    std::error_code error;
    for (const auto &entry : std::filesystem::directory_iterator(m_path, error)) {
        const int fd = ::open((entry.path() / "lock").c_str(), O_RDWR | O_CLOEXEC);
        if (fd >= 0 && ::flock(fd, LOCK_EX | LOCK_NB) == 0) {
            std::filesystem::remove_all(entry.path(), error);
        }
        if (fd >= 0) {
            ::close(fd);
        }
    }
    std::string spool = (m_path / "instance-XXXXXX").string();
    if (!::mkdtemp(spool.data())) {
        throw StorageError("cannot create a spool folder in " + m_path.string() + ": " +
                           std::strerror(errno));
    }
    m_path = spool;
    m_lock = ::open((m_path / "lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (m_lock < 0 || ::flock(m_lock, LOCK_EX | LOCK_NB) != 0) {
        throw StorageError("cannot lock the spool folder " + m_path.string());
    }
}

SpoolFolder::~SpoolFolder()
{
    if (m_use == Use::Shared) {
        std::error_code ignored;
        std::filesystem::remove_all(m_path, ignored);
        ::close(m_lock);
    }
}

std::unique_ptr<PendingUpload> SpoolFolder::beginUpload()
{
    std::string path = (m_path / "upload-XXXXXX").string();
    const int fd = ::mkostemp(path.data(), O_CLOEXEC);
    if (fd < 0) {
        throw StorageError("cannot create a temporary file in " + m_path.string());
    }
    return std::make_unique<PendingUpload>(path, fd);
}

} // namespace sendova::server
