#include "ContentStore.h"

#include "DataFolder.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <set>
#include <unistd.h>
#include <vector>

namespace sendova::server {

namespace {

constexpr std::size_t ShortCodeLength = 10;
constexpr std::size_t WriteBufferSize = 1024 * 1024;

StoredLink readLink(const SqliteStatement &stmt)
{
    StoredLink link{stmt.text(0), stmt.text(1), stmt.text(2), stmt.integer(3), std::nullopt};
    if (const auto expires = stmt.optionalInteger(4)) {
        link.expiresAt = fromMillis(*expires);
    }
    return link;
}

bool syncDirectory(const std::filesystem::path &dir)
{
    const int fd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) {
        return false;
    }
    const bool synced = ::fsync(fd) == 0;
    ::close(fd);
    return synced;
}

constexpr std::string_view LinkColumns = "l.short_code, l.blob_hash, l.file_name, b.size, l.expires_at FROM "
                                         "links l JOIN blobs b ON b.hash = l.blob_hash ";

} // namespace

PendingUpload::PendingUpload(std::filesystem::path path, int fd) : m_path(std::move(path)), m_fd(fd) {}

PendingUpload::~PendingUpload()
{
    if (m_fd >= 0) {
        ::close(m_fd);
    }
    if (!m_kept) {
        std::error_code ignored;
        std::filesystem::remove(m_path, ignored);
    }
}

bool PendingUpload::write(const char *data, std::size_t size)
{
    m_sha.update(data, size);
    m_size += size;
    if (m_buffer.capacity() < WriteBufferSize) {
        m_buffer.reserve(WriteBufferSize);
    }
    if (m_buffer.size() + size > WriteBufferSize && !flush()) {
        return false;
    }
    m_buffer.append(data, size);
    return m_buffer.size() < WriteBufferSize || flush();
}

bool PendingUpload::flush()
{
    const char *data = m_buffer.data();
    std::size_t left = m_buffer.size();
    while (left > 0) {
        const auto written = ::write(m_fd, data, left);
        if (written < 0) {
            if (errno == EINTR) {
                continue;
            }
            m_error = errno;
            return false;
        }
        data += written;
        left -= static_cast<std::size_t>(written);
    }
    m_buffer.clear();
    return true;
}

const std::string &PendingUpload::finish()
{
    if (m_hash.empty()) {
        m_hash = m_sha.finalHex();
    }
    return m_hash;
}

ContentStore::ContentStore(DataFolder &folder, Clock clock, std::optional<std::chrono::seconds> linkLifetime)
    : m_folder(folder), m_clock(std::move(clock)), m_linkLifetime(linkLifetime)
{}

std::unique_ptr<PendingUpload> ContentStore::beginUpload()
{
    std::string path = (m_folder.tmpDir() / "upload-XXXXXX").string();
    const int fd = ::mkostemp(path.data(), O_CLOEXEC);
    if (fd < 0) {
        throw StorageError("cannot create a temporary file in " + m_folder.tmpDir().string());
    }
    return std::make_unique<PendingUpload>(path, fd);
}

std::filesystem::path ContentStore::blobPath(const std::string &hash) const
{
    if (hash.size() != 64 || !isLowerHex(hash)) {
        throw StorageError("not a content hash: " + hash);
    }
    return m_folder.blobsDir() / hash.substr(0, 2) / hash;
}

StoreResult ContentStore::store(PendingUpload &upload, std::int64_t userId, const std::string &fileName,
                                const std::string &machineName)
{
    const std::string hash = upload.finish();
    const auto target = blobPath(hash);
    // Flushed before the lock is taken, which would otherwise stall every
    // request for as long as the disk takes; and flushed whether or not the
    // content is new, so that a reply coming faster does not tell a user that
    // someone else has already stored what they send.
    if (!upload.flush() || ::fsync(upload.m_fd) != 0) {
        throw StorageError(std::string("cannot flush a received file to disk: ") +
                           std::strerror(upload.m_error ? upload.m_error : errno));
    }
    const auto now = m_clock();

    std::lock_guard lock(m_folder.mutex());
    auto &db = m_folder.db();
    SqliteDatabase::Transaction transaction(db);

    bool blobKnown = false;
    {
        auto stmt = db.prepare("SELECT 1 FROM blobs WHERE hash = ?");
        stmt.bind(1, hash);
        blobKnown = stmt.step();
    }
    std::error_code error;
    // Content already stored is moved in too: the same bytes replace the
    // file (and heal it, had it gone missing), so that the reply takes as
    // long as for new content and does not tell that someone has it.
    const auto folder = target.parent_path();
    const bool newFolder = std::filesystem::create_directories(folder, error);
    std::filesystem::rename(upload.m_path, target, error);
    if (error) {
        throw StorageError("cannot move the received file into " + folder.string() + ": " + error.message());
    }
    upload.m_kept = true;
    const bool movedIn = !blobKnown;
    // The link is committed only once its file is sure to survive a power cut.
    if (!syncDirectory(folder) || (newFolder && !syncDirectory(folder.parent_path()))) {
        const std::string reason = std::strerror(errno);
        if (movedIn) {
            std::filesystem::remove(target, error);
        }
        throw StorageError("cannot flush " + folder.string() + " to disk: " + reason);
    }

    // Only now, with the file in place: a stored file that had gone missing
    // is healed by its owner's upload too, not just answered with a link
    // that serves nothing.
    if (blobKnown) {
        auto stmt = db.prepare(
            std::string("SELECT ")
                .append(LinkColumns)
                .append(
                    "WHERE l.user_id = ? AND l.blob_hash = ? AND (l.expires_at IS NULL OR l.expires_at > ?) "
                    "ORDER BY l.expires_at IS NULL DESC, l.expires_at DESC, l.id DESC LIMIT 1"));
        stmt.bind(1, userId).bind(2, hash).bind(3, toMillis(now));
        if (stmt.step()) {
            return StoreResult{readLink(stmt), true};
        }
    }

    try {
        if (!blobKnown) {
            db.prepare("INSERT INTO blobs(hash, size, created_at) VALUES(?, ?, ?)")
                .bind(1, hash)
                .bind(2, static_cast<std::int64_t>(upload.size()))
                .bind(3, toMillis(now))
                .run();
        }
        StoredLink link{{}, hash, fileName, static_cast<std::int64_t>(upload.size()), std::nullopt};
        if (m_linkLifetime) {
            link.expiresAt = now + *m_linkLifetime;
        }
        for (int attempt = 0;; ++attempt) {
            link.shortCode = randomAlphanumeric(ShortCodeLength);
            auto insert =
                db.prepare("INSERT INTO links(short_code, blob_hash, user_id, file_name, machine_name, "
                           "created_at, expires_at) VALUES(?, ?, ?, ?, ?, ?, ?)");
            insert.bind(1, link.shortCode)
                .bind(2, hash)
                .bind(3, userId)
                .bind(4, fileName)
                .bind(5, machineName)
                .bind(6, toMillis(now));
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
        if (movedIn) {
            std::filesystem::remove(target, error);
        }
        throw;
    }
}

std::optional<StoredLink> ContentStore::findUserLink(std::int64_t userId, const std::string &hash)
{
    std::lock_guard lock(m_folder.mutex());
    auto stmt = m_folder.db().prepare(
        std::string("SELECT ")
            .append(LinkColumns)
            .append("WHERE l.user_id = ? AND l.blob_hash = ? AND (l.expires_at IS NULL OR l.expires_at > ?) "
                    "ORDER BY l.expires_at IS NULL DESC, l.expires_at DESC, l.id DESC LIMIT 1"));
    stmt.bind(1, userId).bind(2, hash).bind(3, toMillis(m_clock()));
    if (!stmt.step()) {
        return std::nullopt;
    }
    return readLink(stmt);
}

std::optional<StoredLink> ContentStore::findLink(const std::string &shortCode)
{
    std::lock_guard lock(m_folder.mutex());
    auto stmt = m_folder.db().prepare(
        std::string("SELECT ")
            .append(LinkColumns)
            .append("WHERE l.short_code = ? AND (l.expires_at IS NULL OR l.expires_at > ?)"));
    stmt.bind(1, shortCode).bind(2, toMillis(m_clock()));
    if (!stmt.step()) {
        return std::nullopt;
    }
    return readLink(stmt);
}

int ContentStore::purgeExpired()
{
    std::vector<std::string> unreferenced;
    int removed = 0;
    {
        std::lock_guard lock(m_folder.mutex());
        auto &db = m_folder.db();
        SqliteDatabase::Transaction transaction(db);
        db.prepare("DELETE FROM links WHERE expires_at IS NOT NULL AND expires_at <= ?")
            .bind(1, toMillis(m_clock()))
            .run();
        removed = db.changes();
        auto stmt = db.prepare("SELECT hash FROM blobs WHERE NOT EXISTS "
                               "(SELECT 1 FROM links WHERE links.blob_hash = blobs.hash)");
        while (stmt.step()) {
            unreferenced.push_back(stmt.text(0));
        }
        db.exec(
            "DELETE FROM blobs WHERE NOT EXISTS (SELECT 1 FROM links WHERE links.blob_hash = blobs.hash)");
        transaction.commit();
        // Files go while the lock is held, so that an upload of the same
        // content cannot find its blob row gone but the old file still there.
        for (const auto &hash : unreferenced) {
            std::error_code error;
            std::filesystem::remove(blobPath(hash), error);
        }
    }
    return removed;
}

ContentStore::StartUpReport ContentStore::checkStoredFiles(bool acceptEmptyDatabase)
{
    std::error_code error;
    for (const auto &entry : std::filesystem::directory_iterator(m_folder.tmpDir(), error)) {
        std::error_code ignored;
        std::filesystem::remove(entry.path(), ignored);
    }
    std::lock_guard lock(m_folder.mutex());
    std::set<std::string> known;
    auto stmt = m_folder.db().prepare("SELECT hash FROM blobs");
    while (stmt.step()) {
        known.insert(stmt.text(0));
    }
    std::vector<std::filesystem::path> strays;
    std::set<std::string> present;
    for (const auto &entry : std::filesystem::recursive_directory_iterator(m_folder.blobsDir(), error)) {
        if (!entry.is_regular_file()) {
            continue;
        }
        const std::string name = entry.path().filename().string();
        if (known.contains(name)) {
            present.insert(name);
        } else {
            strays.push_back(entry.path());
        }
    }
    StartUpReport report;
    report.missing = known.size() - present.size();
    if (strays.empty()) {
        return report;
    }
    // A database lost, emptied or restored without its -wal file would
    // otherwise make every stored file look like a stray.
    if (known.empty() && !acceptEmptyDatabase) {
        throw StorageError("the database lists no stored files, but " + m_folder.blobsDir().string() +
                           " holds " + std::to_string(strays.size()) +
                           "; restore sendova-server.db with its -wal file, or start with "
                           "--allow-empty-database to move them to blobs-orphaned/");
    }
    const auto orphans = m_folder.root() / "blobs-orphaned";
    for (const auto &path : strays) {
        const auto target = orphans / std::filesystem::relative(path, m_folder.blobsDir());
        std::filesystem::create_directories(target.parent_path());
        std::filesystem::permissions(orphans, std::filesystem::perms::owner_all);
        std::filesystem::rename(path, target);
        ++report.orphaned;
    }
    return report;
}

} // namespace sendova::server
