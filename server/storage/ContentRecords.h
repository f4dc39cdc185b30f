#pragma once

#include "core/Clock.h"

#include <cstdint>
#include <functional>
#include <optional>
#include <set>
#include <stdexcept>
#include <string>

namespace sendova::server {

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

struct StoreResult
{
    StoredLink link;
    bool isDuplicate = false;
};

struct NewLink
{
    std::string hash;
    std::int64_t size = 0;
    std::int64_t userId = 0;
    std::string fileName;
    std::string machineName;
    TimePoint now;
    std::optional<TimePoint> expiresAt;
};

// What the content store does with the bytes themselves while the records
// are being written: place() puts them into the blob store (told whether
// the content was recorded before), undo() takes back what place() put there
// when the record could not be written after all.
struct BlobPlacement
{
    std::function<void(bool known)> place;
    std::function<void()> undo;
};

// Links and the content records they point at: one record per content hash,
// however many links and owners it has.
class ContentRecords
{
public:
    virtual ~ContentRecords() = default;

    // Places the content (placement.place) while neither the sweep nor
    // another upload of the same content can get between the placing and the
    // record, then gives back the owner's still valid link to the content
    // (isDuplicate) or records a new one.
    virtual StoreResult recordUpload(const NewLink &link, const BlobPlacement &placement) = 0;
    // The newest link of this user to the given content valid at now.
    virtual std::optional<StoredLink> findUserLink(std::int64_t userId, const std::string &hash,
                                                   TimePoint now) = 0;
    virtual std::optional<StoredLink> findLink(const std::string &shortCode, TimePoint now) = 0;
    // Deletes the links expired at now and the content records no link
    // refers to any more, calling removeBlob for each such content while no
    // upload of it can be recorded. Returns the number of links deleted.
    virtual int purgeExpired(TimePoint now,
                             const std::function<void(const std::string &hash)> &removeBlob) = 0;
    virtual std::set<std::string> knownHashes() = 0;
};

} // namespace sendova::server
