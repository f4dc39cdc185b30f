#include "storage/Storage.h"

#include <cstdlib>

#include "storage/postgresql/PostgresStorage.h"
#include "storage/s3/S3BlobStore.h"
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

std::unique_ptr<BlobStore> objectStore(const std::string &url, const std::filesystem::path &dataDir)
{
    const auto location = parseS3Url(url);
    if (!location) {
        throw StorageError("--blob-store wants s3://BUCKET?endpoint=URL&region=REGION: " + url);
    }
    const char *key = std::getenv("AWS_ACCESS_KEY_ID");
    const char *secret = std::getenv("AWS_SECRET_ACCESS_KEY");
    if (!key || !*key || !secret || !*secret) {
        throw StorageError(
            "the object store needs AWS_ACCESS_KEY_ID and AWS_SECRET_ACCESS_KEY in the environment");
    }
    // Uploads are still received into the data folder's tmp/ first.
    std::filesystem::create_directories(dataDir / "tmp");
    std::filesystem::permissions(dataDir, std::filesystem::perms::owner_all);
    std::filesystem::permissions(dataDir / "tmp", std::filesystem::perms::owner_all);
    return std::make_unique<S3BlobStore>(*location, AwsCredentials{key, secret, location->region},
                                         dataDir / "tmp");
}

} // namespace

std::unique_ptr<Storage> openStorage(const StorageLocation &location, bool create, Clock clock)
{
    if (location.database.empty()) {
        if (!location.blobStore.empty()) {
            throw StorageError("an object store (--blob-store) goes with a shared database (--database)");
        }
        return std::make_unique<SqliteStorage>(location.dataDir, create, std::move(clock));
    }
    auto blobs = location.blobStore.empty() ? sharedFolder(location.dataDir)
                                            : objectStore(location.blobStore, location.dataDir);
    return std::make_unique<PostgresStorage>(location.database, std::move(blobs), std::move(clock));
}

} // namespace sendova::server
