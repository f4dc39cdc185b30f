#include "storage/sqlite/SqliteStorage.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

namespace sendova::server {

SqliteStorage::SqliteStorage(const std::filesystem::path &dataDir, bool create, Clock clock)
    : m_folder(dataDir, create), m_accounts(m_folder), m_content(m_folder),
      m_blobs(m_folder.root(), m_folder.blobsDir(), m_folder.tmpDir()), m_logins(std::move(clock))
{}

SqliteStorage::~SqliteStorage()
{
    if (m_lockFd >= 0) {
        ::close(m_lockFd);
    }
}

// A second server on the same folder would take the first one's
// half-received uploads for crash leftovers and delete them.
void SqliteStorage::claimForServing()
{
    const auto lockFile = m_folder.root() / "serve.lock";
    m_lockFd = ::open(lockFile.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (m_lockFd < 0 || ::flock(m_lockFd, LOCK_EX | LOCK_NB) != 0) {
        if (m_lockFd >= 0) {
            ::close(m_lockFd);
            m_lockFd = -1;
        }
        throw StorageError("another sendova-server is already serving " + m_folder.root().string());
    }
}

} // namespace sendova::server
