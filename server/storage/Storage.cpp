#include "storage/Storage.h"

#include "storage/postgresql/PostgresStorage.h"
#include "storage/sqlite/SqliteStorage.h"

namespace sendova::server {

namespace {

// The data folder's blobs/ shared by every process that names it (on one
// machine, or on a file system they all mount).
std::unique_ptr<BlobStore> sharedFolder(const std::filesystem::path &dataDir)
{
    for (const auto &dir : {dataDir, dataDir / "blobs", dataDir / "tmp"}) {
        std::filesystem::create_directories(dir);
        std::filesystem::permissions(dir, std::filesystem::perms::owner_all);
    }
    return std::make_unique<FolderBlobStore>(dataDir, dataDir / "blobs", dataDir / "tmp",
                                             FolderBlobStore::Use::Shared);
}

} // namespace

std::unique_ptr<Storage> openStorage(const StorageLocation &location, bool create, Clock clock)
{
    if (location.database.empty()) {
        return std::make_unique<SqliteStorage>(location.dataDir, create, std::move(clock));
    }
    return std::make_unique<PostgresStorage>(location.database, sharedFolder(location.dataDir),
                                             std::move(clock));
}

} // namespace sendova::server
