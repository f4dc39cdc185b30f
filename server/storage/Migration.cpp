#include "storage/Migration.h"

#include "storage/postgresql/Postgres.h"
#include "storage/postgresql/PostgresStorage.h"
#include "storage/sqlite/DataFolder.h"
#include "storage/sqlite/FolderBlobStore.h"

#include <fstream>
#include <map>

namespace sendova::server {

namespace {

PgParam optionalNumber(const SqliteStatement &row, int column)
{
    const auto value = row.optionalInteger(column);
    return value ? PgParam(std::to_string(*value)) : PgParam(std::nullopt);
}

// Reads the stored file through a spool file of the target store, which
// hashes it on the way; false when it is missing or its bytes do not match.
bool copyBlob(const std::filesystem::path &file, const std::string &hash, BlobStore &store)
{
    std::ifstream in(file, std::ios::binary);
    if (!in) {
        return false;
    }
    auto upload = store.beginUpload();
    char buffer[64 * 1024];
    while (in.read(buffer, sizeof buffer) || in.gcount() > 0) {
        if (!upload->write(buffer, static_cast<std::size_t>(in.gcount()))) {
            throw StorageError("cannot spool " + file.string());
        }
    }
    if (upload->finish() != hash) {
        return false;
    }
    store.prepare(*upload);
    store.put(*upload);
    return true;
}

} // namespace

FolderMigration migrateDataFolder(const std::filesystem::path &source, const StorageLocation &target)
{
    migratePostgres(target.database);
    DataFolder folder(source, false);
    const auto storage = openStorage(target, true, systemClock());
    const FolderBlobStore sourceBlobs(folder.root(), folder.blobsDir(), folder.tmpDir());
    PgConnection db(target.database);
    auto &sqlite = folder.db();
    std::lock_guard lock(folder.mutex());
    FolderMigration report;

    // Users keep their names; their ids are the database's.
    std::map<std::int64_t, std::string> userIds;
    auto users = sqlite.prepare("SELECT id, name, password_hash, active, created_at FROM users");
    while (users.step()) {
        const auto id =
            db.exec("INSERT INTO users(name, password_hash, active, created_at) VALUES($1, $2, $3, $4) "
                    "ON CONFLICT (name) DO UPDATE SET name = EXCLUDED.name RETURNING id",
                    {users.text(1), users.text(2), users.integer(3) != 0 ? "t" : "f",
                     std::to_string(users.integer(4))});
        userIds[users.integer(0)] = id.text(0, 0);
        ++report.users;
    }
    auto keys = sqlite.prepare("SELECT user_id, key_hash, machine_name, created_at FROM api_keys");
    while (keys.step()) {
        db.exec("INSERT INTO api_keys(user_id, key_hash, machine_name, created_at) VALUES($1, $2, $3, $4) "
                "ON CONFLICT (key_hash) DO NOTHING",
                {userIds.at(keys.integer(0)), keys.text(1), keys.text(2), std::to_string(keys.integer(3))});
    }
    auto tokens = sqlite.prepare("SELECT user_id, token_hash, expires_at, used_at FROM setup_tokens");
    while (tokens.step()) {
        db.exec("INSERT INTO setup_tokens(user_id, token_hash, expires_at, used_at) VALUES($1, $2, $3, $4) "
                "ON CONFLICT (token_hash) DO NOTHING",
                {userIds.at(tokens.integer(0)), tokens.text(1), std::to_string(tokens.integer(2)),
                 optionalNumber(tokens, 3)});
    }

    // A content's row is written only once the store has its verified
    // bytes: a row found on a second run means the copy is done.
    auto blobs = sqlite.prepare("SELECT hash, size, created_at FROM blobs");
    while (blobs.step()) {
        const std::string hash = blobs.text(0);
        if (db.exec("SELECT 1 FROM blobs WHERE hash = $1", {hash}).rows() == 1) {
            ++report.blobsAlreadyThere;
            continue;
        }
        if (!copyBlob(sourceBlobs.blobPath(hash), hash, storage->blobs())) {
            report.damaged.push_back(hash);
            continue;
        }
        db.exec("INSERT INTO blobs(hash, size, created_at) VALUES($1, $2, $3) ON CONFLICT (hash) DO NOTHING",
                {hash, std::to_string(blobs.integer(1)), std::to_string(blobs.integer(2))});
        ++report.blobsCopied;
    }
    auto links = sqlite.prepare("SELECT short_code, blob_hash, user_id, file_name, machine_name, created_at, "
                                "expires_at FROM links");
    while (links.step()) {
        const auto inserted =
            db.exec("INSERT INTO links(short_code, blob_hash, user_id, file_name, machine_name, created_at, "
                    "expires_at) SELECT $1, $2, $3, $4, $5, $6, $7 WHERE EXISTS (SELECT 1 FROM blobs WHERE "
                    "hash = $2) "
                    "ON CONFLICT (short_code) DO NOTHING RETURNING id",
                    {links.text(0), links.text(1), userIds.at(links.integer(2)), links.text(3), links.text(4),
                     std::to_string(links.integer(5)), optionalNumber(links, 6)});
        report.links += static_cast<std::size_t>(inserted.rows());
    }
    return report;
}

} // namespace sendova::server
