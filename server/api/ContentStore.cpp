#include "api/ContentStore.h"

namespace sendova::server {

ContentStore::ContentStore(ContentRecords &records, BlobStore &blobs, Clock clock,
                           std::optional<std::chrono::seconds> linkLifetime)
    : m_records(records), m_blobs(blobs), m_clock(std::move(clock)), m_linkLifetime(linkLifetime)
{}

StoreResult ContentStore::store(PendingUpload &upload, std::int64_t userId, const std::string &fileName,
                                const std::string &machineName)
{
    const std::string hash = upload.finish();
    // Flushed before the records are locked, which would otherwise stall
    // every request for as long as the disk takes; and flushed whether or not
    // the content is new, so that a reply coming faster does not tell a user
    // that someone else has already stored what they send.
    m_blobs.prepare(upload);
    NewLink link;
    link.hash = hash;
    link.size = static_cast<std::int64_t>(upload.size());
    link.userId = userId;
    link.fileName = fileName;
    link.machineName = machineName;
    link.now = m_clock();
    if (m_linkLifetime) {
        link.expiresAt = link.now + *m_linkLifetime;
    }
    bool movedIn = false;
    // Content already stored is put in too: the same bytes replace the copy
    // (and heal it, had it gone missing), so that the reply takes as long as
    // for new content and does not tell that someone has it. The link is
    // recorded only once the content is sure to survive a power cut.
    const auto place = [&](bool known) {
        movedIn = !known;
        m_blobs.put(upload);
    };
    const auto undo = [&] {
        if (movedIn) {
            // Best effort: the store that failed may fail this too, and the
            // original failure is the one to report.
            try {
                m_blobs.remove(hash);
            } catch (const StorageError &) {
            }
        }
    };
    const BlobPlacement placement{place, undo};
    return m_records.recordUpload(link, placement);
}

std::optional<StoredLink> ContentStore::findUserLink(std::int64_t userId, const std::string &hash)
{
    return m_records.findUserLink(userId, hash, m_clock());
}

std::optional<StoredLink> ContentStore::findLink(const std::string &shortCode)
{
    return m_records.findLink(shortCode, m_clock());
}

int ContentStore::purgeExpired()
{
    return m_records.purgeExpired(m_clock(), [this](const std::string &hash) { m_blobs.remove(hash); });
}

BlobStore::StartUpReport ContentStore::checkStoredFiles(bool acceptEmptyDatabase)
{
    return m_blobs.checkStoredFiles(m_records.knownHashes(), acceptEmptyDatabase);
}

} // namespace sendova::server
