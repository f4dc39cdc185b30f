#include "storage/Storage.h"

#include "storage/sqlite/SqliteStorage.h"

namespace sendova::server {

std::unique_ptr<Storage> openStorage(const StorageLocation &location, bool create, Clock clock)
{
    return std::make_unique<SqliteStorage>(location.dataDir, create, std::move(clock));
}

} // namespace sendova::server
