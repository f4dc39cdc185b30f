#pragma once

#include "SendovaServer.h"

#include <httplib.h>
#include <nlohmann/json.hpp>

#include <QTemporaryDir>
#include <QtTest>

#include <arpa/inet.h>
#include <atomic>
#include <filesystem>
#include <fstream>
#include <memory>
#include <netinet/in.h>
#include <optional>
#include <sstream>
#include <string>
#include <sys/socket.h>
#include <unistd.h>
#include <vector>

namespace sendova::server::test {

// Ordered, so that tests can see the order in which members were written.
using Json = nlohmann::ordered_json;

inline constexpr int TestIterations = 1000;
inline constexpr auto TestPassword = "correct horse battery";

// Time that moves only when the test says so.
class ManualClock
{
public:
    ManualClock()
        : m_now(std::make_shared<std::atomic<std::int64_t>>(toMillis(std::chrono::system_clock::now())))
    {}
    Clock clock() const
    {
        auto now = m_now;
        return [now] { return fromMillis(now->load()); };
    }
    void advance(std::chrono::seconds by) { m_now->fetch_add(by.count() * 1000); }

private:
    std::shared_ptr<std::atomic<std::int64_t>> m_now;
};

inline std::string readFile(const std::filesystem::path &path)
{
    std::ifstream in(path, std::ios::binary);
    std::stringstream buffer;
    buffer << in.rdbuf();
    return buffer.str();
}

inline std::string multipartBody(const std::string &boundary, const std::string &fileName,
                                 const std::string &content)
{
    return "--" + boundary + "\r\nContent-Disposition: form-data; name=\"file\"; filename=\"" + fileName +
           "\"\r\nContent-Type: application/octet-stream\r\n\r\n" + content + "\r\n--" + boundary + "--\r\n";
}

inline std::string prefixedHash(const std::string &content)
{
    return "sha256:" + sha256Hex(content);
}

// One server on a free loopback port with its own data folder, one active
// user and an API key for that user.
class RunningServer
{
public:
    explicit RunningServer(ServerOptions options = {},
                           std::optional<std::chrono::seconds> linkLifetime = std::chrono::hours(24 * 7))
    {
        options.dataDir = std::filesystem::path(m_dir.path().toStdString()) / "data";
        options.passwordIterations = TestIterations;
        options.logRequests = false;
        options.linkLifetime = linkLifetime;
        // Tests sweep when they mean to, so that no sweep races their clock.
        options.purgeInterval = std::chrono::seconds(0);
        m_server = std::make_unique<SendovaServer>(options, m_clock.clock());
        if (m_server->bind("127.0.0.1", 0) <= 0) {
            qFatal("cannot bind a loopback port");
        }
        m_server->start();
        user = m_server->accounts().addUser("alice", TestPassword);
        apiKey = m_server->accounts().issueApiKey(user.id, "test machine");
    }
    ~RunningServer() { m_server->stop(); }

    SendovaServer &server() { return *m_server; }
    ManualClock &clock() { return m_clock; }
    std::filesystem::path dataDir() const
    {
        return std::filesystem::path(m_dir.path().toStdString()) / "data";
    }

    httplib::Client client() const
    {
        httplib::Client c("127.0.0.1", m_server->port());
        c.set_read_timeout(30);
        c.set_write_timeout(30);
        return c;
    }

    httplib::Result upload(const std::string &fileName, const std::string &content,
                           std::optional<std::string> hash = std::nullopt,
                           std::optional<std::string> key = {})
    {
        httplib::Headers headers{{"X-API-Key", key.value_or(apiKey)}, {"X-Source-Machine", "test machine"}};
        if (hash) {
            headers.emplace("X-File-Hash", *hash);
        }
        const std::string boundary = "7A0C1E2B-4D3F-4A5B-8C6D-0E1F2A3B4C5D";
        return client().Post("/api/upload", headers, multipartBody(boundary, fileName, content),
                             "multipart/form-data; boundary=" + boundary);
    }

    // Files under the data folder's blobs/ and tmp/, relative to it.
    std::vector<std::string> storedFiles() const
    {
        std::vector<std::string> out;
        for (const char *sub : {"blobs", "tmp"}) {
            for (const auto &entry : std::filesystem::recursive_directory_iterator(dataDir() / sub)) {
                if (entry.is_regular_file()) {
                    out.push_back(std::filesystem::relative(entry.path(), dataDir()).string());
                }
            }
        }
        std::sort(out.begin(), out.end());
        return out;
    }

    // The path of a download link, without scheme and host.
    std::string pathOf(const std::string &url) const
    {
        const std::string base = m_server->publicUrl();
        return url.substr(0, base.size()) == base ? url.substr(base.size()) : url;
    }

    // The response exactly as sent: httplib's client percent-decodes header
    // values, which would hide what a browser gets.
    std::string rawGet(const std::string &path) const
    {
        const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_port = htons(static_cast<std::uint16_t>(m_server->port()));
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        std::string response;
        if (::connect(fd, reinterpret_cast<sockaddr *>(&address), sizeof address) == 0) {
            const std::string request =
                "GET " + path + " HTTP/1.1\r\nHost: localhost\r\nConnection: close\r\n\r\n";
            if (::send(fd, request.data(), request.size(), MSG_NOSIGNAL) ==
                static_cast<ssize_t>(request.size())) {
                char buffer[4096];
                ssize_t got = 0;
                while ((got = ::recv(fd, buffer, sizeof buffer, 0)) > 0) {
                    response.append(buffer, static_cast<std::size_t>(got));
                }
            }
        }
        ::close(fd);
        return response;
    }

    User user;
    std::string apiKey;

private:
    QTemporaryDir m_dir;
    ManualClock m_clock;
    std::unique_ptr<SendovaServer> m_server;
};

inline Json jsonOf(const httplib::Result &result)
{
    return result ? Json::parse(result->body, nullptr, false) : Json();
}

} // namespace sendova::server::test
