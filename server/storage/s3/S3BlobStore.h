#pragma once

#include "storage/BlobStore.h"
#include "storage/SpoolFolder.h"
#include "storage/s3/SigV4.h"

#include <filesystem>
#include <optional>
#include <string>

namespace sendova::server {

// s3://BUCKET?endpoint=URL&region=R, optionally &timeout=SECONDS (how long a
// stalled store is waited for; 30 by default).
struct S3Location
{
    std::string bucket;
    std::string endpoint; // scheme://host[:port], no trailing slash
    std::string region = "us-east-1";
    long timeoutSeconds = 30;
};
std::optional<S3Location> parseS3Url(const std::string &url);

// Content as objects named by their SHA-256 in one bucket of an
// S3-compatible store, addressed path-style and signed with Signature V4.
// An upload is spooled to a local file while it arrives and its digest
// computed; only then is it sent, under that digest, which the store checks
// the body against (x-amz-content-sha256). Downloads are fetched in ranges
// of a mebibyte as the reply goes out.
class S3BlobStore : public BlobStore
{
public:
    S3BlobStore(S3Location location, AwsCredentials credentials, const std::filesystem::path &tmp);

    std::unique_ptr<PendingUpload> beginUpload() override { return m_spool.beginUpload(); }
    void prepare(PendingUpload &upload) override;
    void put(PendingUpload &upload) override;
    void remove(const std::string &hash) override;
    std::unique_ptr<BlobReader> open(const std::string &hash) override;
    // A bucket may hold millions of objects: it is not listed at start-up.
    StartUpReport checkStoredFiles(const std::set<std::string> &, bool) override { return {}; }

    struct Response
    {
        long status = 0;
        std::string body;
        std::int64_t length = -1;
    };
    // One signed request for the object under key. The body, when given, is
    // read from the file descriptor. Throws StorageError when the store
    // cannot be reached or stalls.
    Response request(const std::string &method, const std::string &key, int bodyFd = -1,
                     std::uint64_t bodySize = 0, const std::string &payloadHash = {},
                     const std::string &range = {});

private:
    S3Location m_location;
    AwsCredentials m_credentials;
    std::string m_host;
    SpoolFolder m_spool;
};

} // namespace sendova::server
