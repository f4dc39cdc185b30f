#include "core/Crypto.h"
#include "storage/sqlite/DataFolder.h"
#include "storage/sqlite/SqliteRecords.h"

#include <vector>

namespace sendova::server {

namespace {

constexpr std::size_t ShortCodeLength = 10;

StoredLink readLink(const SqliteStatement &stmt)
{
    StoredLink link{stmt.text(0), stmt.text(1), stmt.text(2), stmt.integer(3), std::nullopt};
    if (const auto expires = stmt.optionalInteger(4)) {
        link.expiresAt = fromMillis(*expires);
    }
    return link;
}

constexpr std::string_view LinkColumns = "l.short_code, l.blob_hash, l.file_name, b.size, l.expires_at FROM "
                                         "links l JOIN blobs b ON b.hash = l.blob_hash ";

std::optional<StoredLink> userLink(SqliteDatabase &db, std::int64_t userId, const std::string &hash,
                                   TimePoint now)
{
    auto stmt = db.prepare(
        std::string("SELECT ")
            .append(LinkColumns)
            .append("WHERE l.user_id = ? AND l.blob_hash = ? AND (l.expires_at IS NULL OR l.expires_at > ?) "
                    "ORDER BY l.expires_at IS NULL DESC, l.expires_at DESC, l.id DESC LIMIT 1"));
    stmt.bind(1, userId).bind(2, hash).bind(3, toMillis(now));
    if (!stmt.step()) {
        return std::nullopt;
    }
    return readLink(stmt);
}

} // namespace

StoreResult SqliteContentRecords::recordUpload(const NewLink &upload, const BlobPlacement &placement)
{
    std::lock_guard lock(m_folder.mutex());
    auto &db = m_folder.db();
    SqliteDatabase::Transaction transaction(db);

    bool blobKnown = false;
    {
        auto stmt = db.prepare("SELECT 1 FROM blobs WHERE hash = ?");
        stmt.bind(1, upload.hash);
        blobKnown = stmt.step();
    }
    try {
        placement.place(blobKnown);
        // Only now, with the content in place: a stored file that had gone
        // missing is healed by its owner's upload too, not just answered with
        // a link that serves nothing.
        if (blobKnown) {
            if (auto link = userLink(db, upload.userId, upload.hash, upload.now)) {
                return StoreResult{*link, true};
            }
        }
        if (!blobKnown) {
            db.prepare("INSERT INTO blobs(hash, size, created_at) VALUES(?, ?, ?)")
                .bind(1, upload.hash)
                .bind(2, upload.size)
                .bind(3, toMillis(upload.now))
                .run();
        }
        StoredLink link{{}, upload.hash, upload.fileName, upload.size, upload.expiresAt};
        for (int attempt = 0;; ++attempt) {
            link.shortCode = randomAlphanumeric(ShortCodeLength);
            auto insert =
                db.prepare("INSERT INTO links(short_code, blob_hash, user_id, file_name, machine_name, "
                           "created_at, expires_at) VALUES(?, ?, ?, ?, ?, ?, ?)");
            insert.bind(1, link.shortCode)
                .bind(2, upload.hash)
                .bind(3, upload.userId)
                .bind(4, upload.fileName)
                .bind(5, upload.machineName)
                .bind(6, toMillis(upload.now));
            if (link.expiresAt) {
                insert.bind(7, toMillis(*link.expiresAt));
            } else {
                insert.bindNull(7);
            }
            try {
                insert.run();
                break;
            } catch (const DatabaseError &e) {
                // 62^10 codes make a collision rare; a few retries make it harmless.
                if (!e.isConstraint() || attempt >= 5) {
                    throw;
                }
            }
        }
        transaction.commit();
        return StoreResult{link, false};
    } catch (...) {
        placement.undo();
        throw;
    }
}

std::optional<StoredLink> SqliteContentRecords::findUserLink(std::int64_t userId, const std::string &hash,
                                                             TimePoint now)
{
    std::lock_guard lock(m_folder.mutex());
    return userLink(m_folder.db(), userId, hash, now);
}

std::optional<StoredLink> SqliteContentRecords::findLink(const std::string &shortCode, TimePoint now)
{
    std::lock_guard lock(m_folder.mutex());
    auto stmt = m_folder.db().prepare(
        std::string("SELECT ")
            .append(LinkColumns)
            .append("WHERE l.short_code = ? AND (l.expires_at IS NULL OR l.expires_at > ?)"));
    stmt.bind(1, shortCode).bind(2, toMillis(now));
    if (!stmt.step()) {
        return std::nullopt;
    }
    return readLink(stmt);
}

int SqliteContentRecords::purgeExpired(TimePoint now,
                                       const std::function<void(const std::string &)> &removeBlob)
{
    std::vector<std::string> unreferenced;
    std::lock_guard lock(m_folder.mutex());
    auto &db = m_folder.db();
    SqliteDatabase::Transaction transaction(db);
    db.prepare("DELETE FROM links WHERE expires_at IS NOT NULL AND expires_at <= ?")
        .bind(1, toMillis(now))
        .run();
    const int removed = db.changes();
    auto stmt = db.prepare("SELECT hash FROM blobs WHERE NOT EXISTS "
                           "(SELECT 1 FROM links WHERE links.blob_hash = blobs.hash)");
    while (stmt.step()) {
        unreferenced.push_back(stmt.text(0));
    }
    db.exec("DELETE FROM blobs WHERE NOT EXISTS (SELECT 1 FROM links WHERE links.blob_hash = blobs.hash)");
    transaction.commit();
    // Files go while the lock is held, so that an upload of the same
    // content cannot find its blob row gone but the old file still there.
    for (const auto &hash : unreferenced) {
        removeBlob(hash);
    }
    return removed;
}

std::set<std::string> SqliteContentRecords::knownHashes()
{
    std::lock_guard lock(m_folder.mutex());
    std::set<std::string> known;
    auto stmt = m_folder.db().prepare("SELECT hash FROM blobs");
    while (stmt.step()) {
        known.insert(stmt.text(0));
    }
    return known;
}

} // namespace sendova::server
