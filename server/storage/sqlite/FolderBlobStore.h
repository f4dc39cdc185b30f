#pragma once

#include "storage/BlobStore.h"
#include "storage/SpoolFolder.h"

#include <filesystem>

namespace sendova::server {

// Content under blobs/<first two digits>/<digest> in the data folder, spool
// files in its tmp/. A shared folder serves several server processes at
// once (see SpoolFolder), none of which takes another's files for strays.
class FolderBlobStore : public BlobStore
{
public:
    enum class Use { Own, Shared };
    FolderBlobStore(std::filesystem::path root, std::filesystem::path blobs, std::filesystem::path tmp,
                    Use use = Use::Own);

    std::unique_ptr<PendingUpload> beginUpload() override;
    void prepare(PendingUpload &upload) override;
    void put(PendingUpload &upload) override;
    void remove(const std::string &hash) override;
    std::unique_ptr<BlobReader> open(const std::string &hash) override;
    // Half-received uploads are deleted; stored files the records do not
    // know are moved aside, never deleted. Records that know none while
    // blobs/ holds some were most likely lost, and are refused (StorageError)
    // unless acceptEmptyDatabase.
    StartUpReport checkStoredFiles(const std::set<std::string> &known, bool acceptEmptyDatabase) override;

    // Only for a hash that came out of this store (validated hex).
    std::filesystem::path blobPath(const std::string &hash) const;

private:
    std::filesystem::path m_root;
    std::filesystem::path m_blobs;
    std::filesystem::path m_tmp;
    SpoolFolder m_spool;
    Use m_use;
};

} // namespace sendova::server
