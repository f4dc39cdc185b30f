#include "storage/s3/S3BlobStore.h"

#include "core/Crypto.h"
#include "storage/ContentRecords.h"

#include <curl/curl.h>

#include <cerrno>
#include <cstring>
#include <ctime>
#include <mutex>
#include <unistd.h>

namespace sendova::server {

namespace {

constexpr std::uint64_t ReadAhead = 1024 * 1024;
constexpr std::string_view EmptyPayload = "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855";

std::string amzDateNow()
{
    const std::time_t now = std::time(nullptr);
    std::tm utc{};
    gmtime_r(&now, &utc);
    char text[32];
    std::strftime(text, sizeof text, "%Y%m%dT%H%M%SZ", &utc);
    return text;
}

std::string queryValue(const std::string &query, const std::string &name)
{
    std::size_t at = 0;
    while (at <= query.size()) {
        const auto end = std::min(query.find('&', at), query.size());
        const std::string pair = query.substr(at, end - at);
        if (pair.starts_with(name + "=")) {
            return pair.substr(name.size() + 1);
        }
        at = end + 1;
    }
    return {};
}

struct BodySource
{
    int fd;
    std::uint64_t offset = 0;
};

std::size_t readBody(char *buffer, std::size_t size, std::size_t count, void *data)
{
    auto *source = static_cast<BodySource *>(data);
    const auto got = ::pread(source->fd, buffer, size * count, static_cast<off_t>(source->offset));
    if (got < 0) {
        return CURL_READFUNC_ABORT;
    }
    source->offset += static_cast<std::uint64_t>(got);
    return static_cast<std::size_t>(got);
}

std::size_t collect(char *data, std::size_t size, std::size_t count, void *out)
{
    static_cast<std::string *>(out)->append(data, size * count);
    return size * count;
}

// One handle per thread: it keeps its connections to the store open between requests.
CURL *threadHandle()
{
    thread_local std::unique_ptr<CURL, void (*)(CURL *)> handle(curl_easy_init(), &curl_easy_cleanup);
    curl_easy_reset(handle.get());
    return handle.get();
}

class S3Reader : public BlobReader
{
public:
    S3Reader(S3BlobStore &store, std::string key, std::uint64_t size)
        : m_store(store), m_key(std::move(key)), m_size(size)
    {}
    std::uint64_t size() const override { return m_size; }
    bool read(std::uint64_t offset, std::uint64_t length,
              const std::function<bool(const char *, std::size_t)> &sink) override
    {
        while (length > 0) {
            if (offset < m_bufferStart || offset >= m_bufferStart + m_buffer.size()) {
                const auto last = std::min(offset + ReadAhead, m_size) - 1;
                const auto reply = m_store.request(
                    "GET", m_key, -1, 0, {}, "bytes=" + std::to_string(offset) + "-" + std::to_string(last));
                if (reply.status != 206 && reply.status != 200) {
                    return false;
                }
                m_buffer = reply.status == 200 ? reply.body.substr(offset) : reply.body;
                m_bufferStart = offset;
                if (m_buffer.empty()) {
                    return false;
                }
            }
            const auto from = offset - m_bufferStart;
            const auto piece = std::min<std::uint64_t>(length, m_buffer.size() - from);
            if (!sink(m_buffer.data() + from, static_cast<std::size_t>(piece))) {
                return false;
            }
            offset += piece;
            length -= piece;
        }
        return true;
    }

private:
    S3BlobStore &m_store;
    std::string m_key;
    std::uint64_t m_size;
    std::string m_buffer;
    std::uint64_t m_bufferStart = 0;
};

} // namespace

std::optional<S3Location> parseS3Url(const std::string &url)
{
    constexpr std::string_view Scheme = "s3://";
    if (!url.starts_with(Scheme)) {
        return std::nullopt;
    }
    const auto question = url.find('?');
    S3Location location;
    location.bucket = url.substr(Scheme.size(), question == std::string::npos ? std::string::npos
                                                                              : question - Scheme.size());
    const std::string query = question == std::string::npos ? std::string() : url.substr(question + 1);
    location.endpoint = queryValue(query, "endpoint");
    while (location.endpoint.ends_with('/')) {
        location.endpoint.pop_back();
    }
    if (const auto region = queryValue(query, "region"); !region.empty()) {
        location.region = region;
    }
    if (const auto timeout = queryValue(query, "timeout"); !timeout.empty()) {
        location.timeoutSeconds = std::strtol(timeout.c_str(), nullptr, 10);
    }
    const bool validBucket =
        !location.bucket.empty() &&
        location.bucket.find_first_not_of("abcdefghijklmnopqrstuvwxyz0123456789.-") == std::string::npos;
    const bool validEndpoint =
        location.endpoint.starts_with("http://") || location.endpoint.starts_with("https://");
    if (!validBucket || !validEndpoint || location.timeoutSeconds <= 0) {
        return std::nullopt;
    }
    return location;
}

S3BlobStore::S3BlobStore(S3Location location, AwsCredentials credentials, const std::filesystem::path &tmp)
    : m_location(std::move(location)), m_credentials(std::move(credentials)),
      m_host(m_location.endpoint.substr(m_location.endpoint.find("://") + 3)),
      m_spool(tmp, SpoolFolder::Use::Shared)
{
    static std::once_flag once;
    std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
    m_credentials.region = m_location.region;
}

S3BlobStore::Response S3BlobStore::request(const std::string &method, const std::string &key, int bodyFd,
                                           std::uint64_t bodySize, const std::string &payloadHash,
                                           const std::string &range)
{
    // An empty key names the bucket itself.
    const std::string path =
        "/" + awsUriEncode(m_location.bucket, false) + (key.empty() ? "" : "/" + awsUriEncode(key, false));
    const std::string date = amzDateNow();
    SignedRequest signing{
        method, path, {}, {}, payloadHash.empty() ? std::string(EmptyPayload) : payloadHash};
    signing.headers = {{"host", m_host}, {"x-amz-content-sha256", signing.payloadHash}, {"x-amz-date", date}};
    const std::string authorization = sigV4Authorization(m_credentials, signing, date);

    curl_slist *headers = nullptr;
    for (const auto &line :
         {"Host: " + m_host, "x-amz-content-sha256: " + signing.payloadHash, "x-amz-date: " + date,
          "Authorization: " + authorization, std::string("Expect:")}) {
        headers = curl_slist_append(headers, line.c_str());
    }
    if (!range.empty()) {
        headers = curl_slist_append(headers, ("Range: " + range).c_str());
    }
    const std::unique_ptr<curl_slist, void (*)(curl_slist *)> headerList(headers, &curl_slist_free_all);
    CURL *curl = threadHandle();
    const std::string url = m_location.endpoint + path;
    Response response;
    BodySource source{bodyFd};
    curl_easy_setopt(curl, CURLOPT_URL, url.c_str());
    curl_easy_setopt(curl, CURLOPT_HTTPHEADER, headers);
    curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(curl, CURLOPT_CONNECTTIMEOUT, m_location.timeoutSeconds);
    // A store that stops sending or taking bytes for this long counts as gone.
    curl_easy_setopt(curl, CURLOPT_LOW_SPEED_LIMIT, 1L);
    curl_easy_setopt(curl, CURLOPT_LOW_SPEED_TIME, m_location.timeoutSeconds);
    curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, &collect);
    curl_easy_setopt(curl, CURLOPT_WRITEDATA, &response.body);
    if (method == "PUT") {
        curl_easy_setopt(curl, CURLOPT_UPLOAD, 1L);
        curl_easy_setopt(curl, CURLOPT_READFUNCTION, &readBody);
        curl_easy_setopt(curl, CURLOPT_READDATA, &source);
        curl_easy_setopt(curl, CURLOPT_INFILESIZE_LARGE, static_cast<curl_off_t>(bodySize));
    } else if (method == "HEAD") {
        curl_easy_setopt(curl, CURLOPT_NOBODY, 1L);
    } else if (method != "GET") {
        curl_easy_setopt(curl, CURLOPT_CUSTOMREQUEST, method.c_str());
    }
    const CURLcode result = curl_easy_perform(curl);
    if (result != CURLE_OK) {
        throw StorageError("the object store did not answer " + method + " " + key + ": " +
                           curl_easy_strerror(result));
    }
    curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &response.status);
    curl_off_t length = -1;
    curl_easy_getinfo(curl, CURLINFO_CONTENT_LENGTH_DOWNLOAD_T, &length);
    response.length = length;
    return response;
}

void S3BlobStore::prepare(PendingUpload &upload)
{
    if (!upload.flush()) {
        throw StorageError(std::string("cannot write a received file: ") +
                           std::strerror(upload.writeError()));
    }
}

void S3BlobStore::put(PendingUpload &upload)
{
    const auto reply = request("PUT", upload.hash(), upload.fd(), upload.size(), upload.hash());
    if (reply.status != 200) {
        throw StorageError("the object store refused " + upload.hash() + " (HTTP " +
                           std::to_string(reply.status) + "): " + reply.body.substr(0, 300));
    }
}

void S3BlobStore::remove(const std::string &hash)
{
    const auto reply = request("DELETE", hash);
    if (reply.status != 204 && reply.status != 200 && reply.status != 404) {
        throw StorageError("the object store did not delete " + hash + " (HTTP " +
                           std::to_string(reply.status) + ")");
    }
}

std::unique_ptr<BlobReader> S3BlobStore::open(const std::string &hash)
{
    const auto reply = request("HEAD", hash);
    if (reply.status == 404) {
        return nullptr;
    }
    if (reply.status != 200 || reply.length < 0) {
        throw StorageError("the object store did not describe " + hash + " (HTTP " +
                           std::to_string(reply.status) + ")");
    }
    return std::make_unique<S3Reader>(*this, hash, static_cast<std::uint64_t>(reply.length));
}

} // namespace sendova::server
