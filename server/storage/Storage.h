#pragma once

#include "core/Clock.h"
#include "storage/AccountRecords.h"
#include "storage/BlobStore.h"
#include "storage/ContentRecords.h"
#include "storage/LoginThrottle.h"

#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace sendova::server {

// Where a server keeps its state. Without a database URL it is the data
// folder: SQLite and blobs/ side by side, for one server on one machine.
struct StorageLocation
{
    std::filesystem::path dataDir;
    // postgresql://… (or any libpq connection string); empty for the data folder.
    std::string database;
    // s3://BUCKET?endpoint=URL&region=R; empty for the data folder's blobs/.
    std::string blobStore;
};

// Every kind of state a server keeps, each behind its interface.
class Storage
{
public:
    virtual ~Storage() = default;

    virtual AccountRecords &accounts() = 0;
    virtual ContentRecords &content() = 0;
    virtual BlobStore &blobs() = 0;
    virtual LoginThrottle &logins() = 0;

    virtual std::optional<std::string> setting(const std::string &key) = 0;
    virtual void setSetting(const std::string &key, const std::string &value) = 0;

    // What opening changed, for the administrator to read.
    virtual std::vector<std::string> notes() const { return {}; }
    // Called once before serving: a store that only one server may use at a
    // time is claimed here (StorageError when another one has it).
    virtual void claimForServing() {}
    // Names the store in the line serve prints at start-up.
    virtual std::string description() const = 0;
};

// With create false, a store that holds no server yet is refused instead of
// set up (the administration commands other than "user add" must not leave
// an empty database behind on a wrong path).
std::unique_ptr<Storage> openStorage(const StorageLocation &location, bool create, Clock clock);

} // namespace sendova::server
