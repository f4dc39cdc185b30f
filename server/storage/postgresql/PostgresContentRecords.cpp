#include "core/Crypto.h"
#include "storage/postgresql/PostgresRecords.h"

namespace sendova::server {

namespace {

constexpr std::size_t ShortCodeLength = 10;
// Any constant will do, as long as every instance uses the same one.
constexpr std::string_view SweepLock = "7311020001";

StoredLink readLink(const PgResult &result, int row)
{
    StoredLink link{result.text(row, 0), result.text(row, 1), result.text(row, 2), result.integer(row, 3),
                    std::nullopt};
    if (const auto expires = result.optionalInteger(row, 4)) {
        link.expiresAt = fromMillis(*expires);
    }
    return link;
}

constexpr std::string_view LinkColumns =
    "SELECT l.short_code, l.blob_hash, l.file_name, b.size, l.expires_at "
    "FROM links l JOIN blobs b ON b.hash = l.blob_hash ";

std::optional<StoredLink> userLink(PgConnection &db, std::int64_t userId, const std::string &hash,
                                   TimePoint now)
{
    const auto result =
        db.exec(std::string(LinkColumns)
                    .append("WHERE l.user_id = $1 AND l.blob_hash = $2 AND (l.expires_at IS NULL OR "
                            "l.expires_at > $3) ORDER BY l.expires_at IS NULL DESC, l.expires_at DESC, "
                            "l.id DESC LIMIT 1"),
                {std::to_string(userId), hash, std::to_string(toMillis(now))});
    if (result.rows() == 0) {
        return std::nullopt;
    }
    return readLink(result, 0);
}

} // namespace

StoreResult PostgresContentRecords::recordUpload(const NewLink &upload, const BlobPlacement &placement)
{
    auto db = m_pool.acquire();
    PgConnection::Transaction transaction(*db);
    // Taking the content's row (new or not) locks it until the commit: an
    // upload of the same content through any instance waits here, and then
    // finds this one's link; the sweep cannot delete the row meanwhile.
    const auto blob =
        db->exec("INSERT INTO blobs(hash, size, created_at) VALUES($1, $2, $3) "
                 "ON CONFLICT (hash) DO UPDATE SET size = EXCLUDED.size "
                 "RETURNING xmax = 0",
                 {upload.hash, std::to_string(upload.size), std::to_string(toMillis(upload.now))});
    const bool blobKnown = !blob.boolean(0, 0);
    try {
        placement.place(blobKnown);
        if (blobKnown) {
            if (auto link = userLink(*db, upload.userId, upload.hash, upload.now)) {
                transaction.commit();
                return StoreResult{*link, true};
            }
        }
        StoredLink link{{}, upload.hash, upload.fileName, upload.size, upload.expiresAt};
        const PgParam expires =
            link.expiresAt ? PgParam(std::to_string(toMillis(*link.expiresAt))) : PgParam(std::nullopt);
        for (int attempt = 0;; ++attempt) {
            link.shortCode = randomAlphanumeric(ShortCodeLength);
            // 62^10 codes make a collision rare; a few retries make it harmless.
            const auto inserted = db->exec(
                "INSERT INTO links(short_code, blob_hash, user_id, file_name, machine_name, created_at, "
                "expires_at) VALUES($1, $2, $3, $4, $5, $6, $7) ON CONFLICT (short_code) DO NOTHING "
                "RETURNING id",
                {link.shortCode, upload.hash, std::to_string(upload.userId), upload.fileName,
                 upload.machineName, std::to_string(toMillis(upload.now)), expires});
            if (inserted.rows() == 1) {
                break;
            }
            if (attempt >= 5) {
                throw StorageError("no free short code for a link");
            }
        }
        transaction.commit();
        return StoreResult{link, false};
    } catch (...) {
        placement.undo();
        throw;
    }
}

std::optional<StoredLink> PostgresContentRecords::findUserLink(std::int64_t userId, const std::string &hash,
                                                               TimePoint now)
{
    auto db = m_pool.acquire();
    return userLink(*db, userId, hash, now);
}

std::optional<StoredLink> PostgresContentRecords::findLink(const std::string &shortCode, TimePoint now)
{
    auto db = m_pool.acquire();
    const auto result =
        db->exec(std::string(LinkColumns)
                     .append("WHERE l.short_code = $1 AND (l.expires_at IS NULL OR l.expires_at > $2)"),
                 {shortCode, std::to_string(toMillis(now))});
    if (result.rows() == 0) {
        return std::nullopt;
    }
    return readLink(result, 0);
}

int PostgresContentRecords::purgeExpired(TimePoint now,
                                         const std::function<void(const std::string &)> &removeBlob)
{
    auto db = m_pool.acquire();
    PgConnection::Transaction transaction(*db);
    // One sweep at a time across all instances; the others skip their turn.
    if (!db->exec("SELECT pg_try_advisory_xact_lock($1)", {std::string(SweepLock)}).boolean(0, 0)) {
        return 0;
    }
    const auto removed =
        db->exec("DELETE FROM links WHERE expires_at IS NOT NULL AND expires_at <= $1 RETURNING id",
                 {std::to_string(toMillis(now))})
            .rows();
    // An upload recording a link to one of these meanwhile holds its row:
    // the delete waits for it, and the foreign key then refuses to delete
    // content a link has just come to point at (the sweep tries again later).
    const auto unreferenced =
        db->exec("DELETE FROM blobs WHERE NOT EXISTS "
                 "(SELECT 1 FROM links WHERE links.blob_hash = blobs.hash) RETURNING hash");
    // The content goes while the rows are still locked, so that an upload of
    // the same content, waiting for them, puts its copy back only afterwards.
    for (int row = 0; row < unreferenced.rows(); ++row) {
        removeBlob(unreferenced.text(row, 0));
    }
    transaction.commit();
    return removed;
}

std::set<std::string> PostgresContentRecords::knownHashes()
{
    auto db = m_pool.acquire();
    const auto result = db->exec("SELECT hash FROM blobs");
    std::set<std::string> known;
    for (int row = 0; row < result.rows(); ++row) {
        known.insert(result.text(row, 0));
    }
    return known;
}

} // namespace sendova::server
