#pragma once

#include "storage/PendingUpload.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <set>
#include <string>

namespace sendova::server {

// One stored content, open for reading.
class BlobReader
{
public:
    virtual ~BlobReader() = default;
    virtual std::uint64_t size() const = 0;
    // Hands length bytes from offset to sink as they come; false when the
    // store or the sink gives up before the end.
    virtual bool read(std::uint64_t offset, std::uint64_t length,
                      const std::function<bool(const char *, std::size_t)> &sink) = 0;
};

// Content kept once per SHA-256, under its hash.
class BlobStore
{
public:
    virtual ~BlobStore() = default;

    // A spool file for an upload to be received into.
    virtual std::unique_ptr<PendingUpload> beginUpload() = 0;
    // Work that may take long and needs no lock (flushing, sending): done
    // before put(). Throws StorageError.
    virtual void prepare(PendingUpload &upload) = 0;
    // Makes the finished upload the content under its hash, replacing any
    // copy already there; once it returns the content survives a crash.
    // Throws StorageError.
    virtual void put(PendingUpload &upload) = 0;
    virtual void remove(const std::string &hash) = 0;
    // Nullptr when the store does not have the content.
    virtual std::unique_ptr<BlobReader> open(const std::string &hash) = 0;

    struct StartUpReport
    {
        std::size_t orphaned = 0; // set aside, never deleted
        std::size_t missing = 0;  // listed, but not in the store
        std::string orphanedTo;
    };
    // Start-up check against the records' hashes after a crash or a
    // restore. Stores that cannot be listed cheaply report nothing.
    virtual StartUpReport checkStoredFiles(const std::set<std::string> &known, bool acceptEmptyDatabase) = 0;
};

} // namespace sendova::server
