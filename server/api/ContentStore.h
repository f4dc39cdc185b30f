#pragma once

#include "core/Clock.h"
#include "storage/BlobStore.h"
#include "storage/ContentRecords.h"

#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

namespace sendova::server {

// Content is kept once per SHA-256 in the blob store; links in the records
// point at it. Content goes when the last link to it has expired.
class ContentStore
{
public:
    // No lifetime means links never expire.
    ContentStore(ContentRecords &records, BlobStore &blobs, Clock clock,
                 std::optional<std::chrono::seconds> linkLifetime);

    std::unique_ptr<PendingUpload> beginUpload() { return m_blobs.beginUpload(); }

    // The user's still valid link to the same content is given back when
    // there is one (isDuplicate); otherwise the content is kept (once) and a
    // new link made.
    StoreResult store(PendingUpload &upload, std::int64_t userId, const std::string &fileName,
                      const std::string &machineName);

    // The newest valid link of this user to the given content.
    std::optional<StoredLink> findUserLink(std::int64_t userId, const std::string &hash);
    // A link that has not expired.
    std::optional<StoredLink> findLink(const std::string &shortCode);
    // The content of a link; nullptr when the store has lost it.
    std::unique_ptr<BlobReader> openContent(const StoredLink &link) { return m_blobs.open(link.hash); }

    // Removes expired links and the content no link refers to any more.
    // Returns the number of links removed.
    int purgeExpired();
    // Start-up check after a crash or a restore; see BlobStore.
    BlobStore::StartUpReport checkStoredFiles(bool acceptEmptyDatabase);

    std::optional<std::chrono::seconds> linkLifetime() const { return m_linkLifetime; }

private:
    ContentRecords &m_records;
    BlobStore &m_blobs;
    Clock m_clock;
    std::optional<std::chrono::seconds> m_linkLifetime;
};

} // namespace sendova::server
