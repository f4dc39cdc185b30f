#pragma once

#include "api/AccountStore.h"
#include "api/ContentStore.h"
#include "core/Clock.h"
#include "http/HttpServer.h"
#include "storage/Storage.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

namespace sendova::server {

struct ServerOptions
{
    std::filesystem::path dataDir;
    // A shared database and object store instead of the data folder; see
    // StorageLocation.
    std::string database;
    std::string blobStore;
    // Base of every link and of the "serverUrl" handed to clients; derived
    // from the listen address when empty.
    std::string publicUrl;
    std::uint64_t maxUploadSize = std::uint64_t(2) << 30;
    std::string tenantName = "Sendova";
    std::optional<std::chrono::seconds> linkLifetime = std::chrono::hours(24 * 7);
    // Zero leaves expired links to explicit ContentStore::purgeExpired calls.
    std::chrono::seconds purgeInterval{60};
    int passwordIterations = DefaultPasswordIterations;
    bool logRequests = true;
    ConnectionLimits connections;
    // Behind a reverse proxy every connection comes from the proxy; the
    // client's address is then the last one in X-Forwarded-For.
    bool behindProxy = false;
    // Start although the database lists no stored files while blobs/ holds
    // some (they are moved to blobs-orphaned/).
    bool allowEmptyDatabase = false;
};

class SendovaServer
{
public:
    explicit SendovaServer(ServerOptions options, Clock clock = systemClock());
    ~SendovaServer();
    SendovaServer(const SendovaServer &) = delete;
    SendovaServer &operator=(const SendovaServer &) = delete;

    // Binds and listens; port 0 picks a free one. Returns the port.
    int bind(const std::string &host, int port);
    // Serves until stop(); the expiry sweep runs alongside.
    void run();
    // run() on a thread of its own, for callers that drive the server in-process.
    void start();
    void stop();

    // Serves one connection the caller accepted itself, on the calling
    // thread, with no bind() or run() needed: the fuzz targets' way in.
    void serveConnection(int socket) { m_http->process_and_close_socket(socket); }

    const std::string &publicUrl() const { return m_publicUrl; }
    int port() const { return m_port; }
    std::string listenUrl() const;

    Storage &storage() { return *m_storage; }
    AccountStore &accounts() { return *m_accounts; }
    ContentStore &content() { return *m_content; }

private:
    enum class Style { Pascal, Lower, Both };

    void setUpRoutes();
    bool refuseBeforeBody(const httplib::Request &req, httplib::Response &res);
    void refuseTooLarge(httplib::Response &res) const;
    void handleUpload(const httplib::Request &req, httplib::Response &res,
                      const httplib::ContentReader &reader);
    void handleCheck(const httplib::Request &req, httplib::Response &res);
    void handleLogin(const httplib::Request &req, httplib::Response &res,
                     const httplib::ContentReader &reader);
    void handleExchange(const httplib::Request &req, httplib::Response &res,
                        const httplib::ContentReader &reader);
    void handleStatus(const httplib::Request &req, httplib::Response &res);
    void serveLink(const httplib::Request &req, httplib::Response &res, const std::string &shortCode);

    std::optional<User> authenticate(const httplib::Request &req, httplib::Response &res, Style style);
    std::string clientAddress(const httplib::Request &req) const;
    void purgeLoop();

    ServerOptions m_options;
    Clock m_clock;
    std::unique_ptr<Storage> m_storage;
    std::unique_ptr<AccountStore> m_accounts;
    std::unique_ptr<ContentStore> m_content;
    std::unique_ptr<HttpServer> m_http;
    std::string m_host;
    int m_port = -1;
    std::string m_publicUrl;

    std::atomic<std::size_t> m_downloads{0};
    std::thread m_runThread;
    std::mutex m_stopMutex;
    std::condition_variable m_stopCondition;
    bool m_stopping = false;
};

} // namespace sendova::server
