#pragma once

#include "storage/PendingUpload.h"

#include <filesystem>
#include <memory>

namespace sendova::server {

// Where uploads are received before they are stored. A server that has its
// data folder to itself spools into tmp/ directly; servers sharing a folder
// each spool into a private folder under it, locked while they run, so that
// none takes another's uploads for crash leftovers.
class SpoolFolder
{
public:
    enum class Use { Own, Shared };
    SpoolFolder(std::filesystem::path tmp, Use use);
    ~SpoolFolder();
    SpoolFolder(const SpoolFolder &) = delete;
    SpoolFolder &operator=(const SpoolFolder &) = delete;

    std::unique_ptr<PendingUpload> beginUpload();

private:
    std::filesystem::path m_path;
    Use m_use;
    int m_lock = -1;
};

} // namespace sendova::server
