#pragma once

#include "storage/Storage.h"

#include <cstddef>
#include <filesystem>
#include <string>
#include <vector>

namespace sendova::server {

struct FolderMigration
{
    std::size_t users = 0;
    std::size_t blobsCopied = 0;
    std::size_t blobsAlreadyThere = 0;
    std::size_t links = 0;
    // Stored files whose bytes do not hash to their name, or that are
    // missing: neither they nor their links are copied.
    std::vector<std::string> damaged;
};

// Copies the accounts, keys, setup tokens, content and links of a data
// folder into a shared database and its blob store. Every file is hashed on
// the way and its record written only once the store has it, so the copy
// can be stopped and run again at any point: what is there already is kept.
FolderMigration migrateDataFolder(const std::filesystem::path &source, const StorageLocation &target);

} // namespace sendova::server
