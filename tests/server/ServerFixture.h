#pragma once

#include "api/SendovaServer.h"
#include "storage/postgresql/PostgresStorage.h"
#include "storage/s3/S3BlobStore.h"

#include <httplib.h>
#include <nlohmann/json.hpp>

#include <QTemporaryDir>
#include <QtTest>

#include <arpa/inet.h>
#include <cerrno>
#include <fstream>
#include <iostream>
#include <sstream>

namespace sendova::server::test {

using Json = nlohmann::json;

inline constexpr auto TestPassword = "correct horse battery";

inline std::string readFile(const std::filesystem::path &path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

inline std::string prefixedHash(const std::string &content)
{
    return "sha256:" + sha256Hex(content);
}

inline Json jsonOf(const httplib::Result &result)
{
    return result ? Json::parse(result->body, nullptr, false) : Json();
}

inline int statusOf(const httplib::Result &result)
{
    return result ? result->status : -1;
}

inline constexpr auto UploadBoundary = "7A0C1E2B-4D3F-4A5B-8C6D-0E1F2A3B4C5D";

// The one-file form the clients send.
inline std::string uploadForm(const std::string &fileName, const std::string &content)
{
    return std::string("--") + UploadBoundary +
           "\r\nContent-Disposition: form-data; name=\"file\"; filename=\"" + fileName + "\"\r\n\r\n" +
           content + "\r\n--" + UploadBoundary + "--\r\n";
}

inline httplib::Result postUpload(httplib::Client client, const httplib::Headers &headers,
                                  const std::string &fileName, const std::string &content)
{
    client.set_read_timeout(30);
    return client.Post("/api/upload", headers, uploadForm(fileName, content),
                       std::string("multipart/form-data; boundary=") + UploadBoundary);
}

// What the server writes to standard error while this lives.
class ErrorCapture
{
public:
    ErrorCapture() : m_saved(std::cerr.rdbuf(m_text.rdbuf())) {}
    ~ErrorCapture() { std::cerr.rdbuf(m_saved); }
    std::string text() const { return m_text.str(); }

private:
    std::stringstream m_text;
    std::streambuf *m_saved;
};

// A loopback connection that sends and reads bytes exactly as given: the
// test client of httplib would mend or decode what these tests look at.
class RawConnection
{
public:
    // A small receive buffer makes a client that does not read stall the
    // server's writes soon.
    explicit RawConnection(int port, int receiveBuffer = 0) : m_fd(::socket(AF_INET, SOCK_STREAM, 0))
    {
        if (receiveBuffer > 0) {
            ::setsockopt(m_fd, SOL_SOCKET, SO_RCVBUF, &receiveBuffer, sizeof receiveBuffer);
        }
        sockaddr_in address{AF_INET, htons(static_cast<std::uint16_t>(port)), {htonl(INADDR_LOOPBACK)}, {}};
        m_connected = ::connect(m_fd, reinterpret_cast<sockaddr *>(&address), sizeof address) == 0;
        const timeval timeout{30, 0};
        ::setsockopt(m_fd, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
    }
    ~RawConnection() { ::close(m_fd); }
    RawConnection(const RawConnection &) = delete;
    RawConnection &operator=(const RawConnection &) = delete;

    bool send(const std::string &bytes)
    {
        return m_connected && ::send(m_fd, bytes.data(), bytes.size(), MSG_NOSIGNAL) == ssize_t(bytes.size());
    }
    // The first bytes of a reply, or everything until the server closes.
    std::string read(bool untilClosed = true)
    {
        std::string received;
        char buffer[4096];
        ssize_t got = 0;
        while ((untilClosed || received.empty()) && (got = ::recv(m_fd, buffer, sizeof buffer, 0)) > 0) {
            received.append(buffer, static_cast<std::size_t>(got));
        }
        m_peerClosed = got == 0 || (got < 0 && errno == ECONNRESET);
        return received;
    }
    // Whether the last read ended because the server closed, not by the 30 s time-out.
    bool peerClosed() const { return m_peerClosed; }

private:
    int m_fd;
    bool m_connected = false;
    bool m_peerClosed = false;
};

// The test session's PostgreSQL, when it could start one.
inline std::optional<std::string> testPostgres()
{
    const char *conninfo = std::getenv("SENDOVA_TEST_POSTGRES");
    return conninfo && *conninfo ? std::optional<std::string>(conninfo) : std::nullopt;
}

// The same API tests run once against the data folder and once, with
// SENDOVA_TEST_BACKEND=postgresql, against the shared database.
// SENDOVA_TEST_BACKEND=postgresql+s3 adds the object store.
inline bool onPostgres()
{
    const char *backend = std::getenv("SENDOVA_TEST_BACKEND");
    return backend && std::string_view(backend).starts_with("postgresql");
}

inline bool onObjectStore()
{
    const char *backend = std::getenv("SENDOVA_TEST_BACKEND");
    return backend && std::string_view(backend) == "postgresql+s3";
}

// A bucket of its own in the test session's S3-compatible server, and the
// URL a server is given for it.
class TestBucket
{
public:
    TestBucket()
    {
        static std::atomic<int> counter{0};
        const char *endpoint = std::getenv("SENDOVA_TEST_S3");
        if (!endpoint || !*endpoint) {
            std::cerr << "SKIP: no S3-compatible server in this test session (not run by "
                         "scripts/with-test-session, or s3rver not installed)"
                      << std::endl;
            std::exit(77);
        }
        // The keys every s3rver knows.
        ::setenv("AWS_ACCESS_KEY_ID", "S3RVER", 1);
        ::setenv("AWS_SECRET_ACCESS_KEY", "S3RVER", 1);
        m_name = "bucket-" + std::to_string(::getpid()) + "-" + std::to_string(counter++);
        m_url = "s3://" + m_name + "?endpoint=" + endpoint + "&region=us-east-1";
        S3BlobStore store(*parseS3Url(m_url), {"S3RVER", "S3RVER", "us-east-1"},
                          m_spool.path().toStdString());
        if (store.request("PUT", {}).status != 200) {
            qFatal("cannot create the bucket %s", m_name.c_str());
        }
    }
    const std::string &url() const { return m_url; }
    // s3rver's own files of the bucket's objects: "<hash>._S3rver_object".
    std::filesystem::path folder() const
    {
        return std::filesystem::path(std::getenv("SENDOVA_TEST_S3_DIR")) / m_name;
    }

private:
    QTemporaryDir m_spool;
    std::string m_name;
    std::string m_url;
};

// A database of its own in the test session's PostgreSQL, migrated unless
// asked not to, and dropped again when this goes.
class TestDatabase
{
public:
    explicit TestDatabase(bool migrated = true)
    {
        static std::atomic<int> counter{0};
        const auto server = testPostgres();
        if (!server) {
            // CTest reports the test as skipped (SKIP_RETURN_CODE).
            std::cerr << "SKIP: no PostgreSQL in this test session (not run by scripts/with-test-session, "
                         "or PostgreSQL not installed)"
                      << std::endl;
            std::exit(77);
        }
        m_name = "test_" + std::to_string(::getpid()) + "_" + std::to_string(counter++);
        PgConnection(*server).exec("CREATE DATABASE " + m_name);
        m_conninfo = *server + " dbname=" + m_name;
        if (migrated) {
            migratePostgres(m_conninfo);
        }
    }
    ~TestDatabase()
    {
        try {
            PgConnection(*testPostgres()).exec("DROP DATABASE " + m_name + " WITH (FORCE)");
        } catch (const std::exception &error) {
            std::cerr << "cannot drop " << m_name << ": " << error.what() << std::endl;
        }
    }
    TestDatabase(const TestDatabase &) = delete;
    TestDatabase &operator=(const TestDatabase &) = delete;
    const std::string &conninfo() const { return m_conninfo; }

private:
    std::string m_name;
    std::string m_conninfo;
};

// One database for all the servers of a test program, emptied for each:
// creating and migrating a database takes longer than most tests.
inline const std::string &emptiedTestDatabase()
{
    static const TestDatabase database;
    PgConnection db(database.conninfo());
    const auto tables = db.exec("SELECT string_agg(quote_ident(table_name), ', ') FROM "
                                "information_schema.tables WHERE table_schema = 'public' AND "
                                "table_name <> 'schema_version'");
    db.exec("TRUNCATE " + tables.text(0, 0) + " RESTART IDENTITY CASCADE");
    return database.conninfo();
}

// Quiet, fast to log in to, and swept only when a test says so, so that no
// sweep races its clock.
inline ServerOptions testOptions()
{
    ServerOptions options;
    options.passwordIterations = 1000;
    options.logRequests = false;
    options.purgeInterval = std::chrono::seconds(0);
    return options;
}

// One server on a free loopback port with its own data folder, one active
// user and an API key for that user. Its clock moves only when a test says so.
class RunningServer
{
public:
    explicit RunningServer(ServerOptions options = testOptions())
    {
        options.dataDir = dataDir();
        if (onPostgres()) {
            m_conninfo = emptiedTestDatabase();
            options.database = m_conninfo;
        }
        if (onObjectStore()) {
            m_bucket = std::make_unique<TestBucket>();
            options.blobStore = m_bucket->url();
        }
        auto now = m_now;
        m_server = std::make_unique<SendovaServer>(options, [now] { return fromMillis(now->load()); });
        if (m_server->bind("127.0.0.1", 0) <= 0) {
            qFatal("cannot bind a loopback port");
        }
        m_server->start();
        user = m_server->accounts().addUser("alice", TestPassword);
        apiKey = m_server->accounts().issueApiKey(user.id, "test machine");
    }
    ~RunningServer()
    {
        if (m_server) {
            m_server->stop();
        }
    }
    // Stops the server and lets go of its data folder, for a test to start another on it.
    // The database of a shared-database run stays.
    void stopServer() { m_server.reset(); }

    SendovaServer &server() { return *m_server; }
    // The API key of a new user.
    std::string addUser(const std::string &name)
    {
        const auto added = m_server->accounts().addUser(name, TestPassword);
        return m_server->accounts().issueApiKey(added.id, "test machine");
    }
    void advanceClock(std::chrono::seconds by) { m_now->fetch_add(by.count() * 1000); }
    int port() const { return m_server->port(); }
    std::filesystem::path dataDir() const
    {
        return std::filesystem::path(m_dir.path().toStdString()) / "data";
    }

    // The reply to bytes sent as given on a connection of their own, read
    // until the server closes it.
    std::string exchange(const std::string &request) const
    {
        RawConnection connection(port());
        return connection.send(request) ? connection.read() : std::string();
    }

    httplib::Client client(time_t readTimeout = 30) const
    {
        httplib::Client c("127.0.0.1", m_server->port());
        c.set_read_timeout(readTimeout);
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
        return postUpload(client(), headers, fileName, content);
    }

    httplib::Result check(const std::string &hashText, time_t readTimeout = 30) const
    {
        return client(readTimeout).Get("/api/check/" + hashText, httplib::Headers{{"X-API-Key", apiKey}});
    }

    // The path of an upload reply's link, without scheme and host.
    std::string pathOf(const Json &uploaded) const
    {
        return uploaded["Data"]["Url"].get<std::string>().substr(m_server->publicUrl().size());
    }

    // Files in the data folder's sub-folders (blobs/ and tmp/), relative to
    // it, less the lock a shared folder's spool folder holds; the objects of
    // an object store are listed as if they were in blobs/.
    std::vector<std::string> storedFiles() const
    {
        std::vector<std::string> out;
        constexpr std::string_view ObjectSuffix = "._S3rver_object";
        if (m_bucket) {
            for (const auto &entry : std::filesystem::directory_iterator(m_bucket->folder())) {
                const std::string name = entry.path().filename().string();
                if (name.ends_with(ObjectSuffix)) {
                    const auto hash = name.substr(0, name.size() - ObjectSuffix.size());
                    out.push_back("blobs/" + hash.substr(0, 2) + "/" + hash);
                }
            }
        }
        for (const auto &entry : std::filesystem::recursive_directory_iterator(dataDir())) {
            if (entry.is_regular_file() && entry.path().parent_path() != dataDir() &&
                entry.path().filename() != "lock") {
                out.push_back(std::filesystem::relative(entry.path(), dataDir()).string());
            }
        }
        std::sort(out.begin(), out.end());
        return out;
    }

    // The bytes of a stored file that storedFiles() names.
    std::string storedContent(const std::string &file) const
    {
        if (m_bucket) {
            return readFile(m_bucket->folder() /
                            (std::filesystem::path(file).filename().string() + "._S3rver_object"));
        }
        return readFile(dataDir() / file);
    }

    // Everything the records hold, as bytes: the database file and its log,
    // or every row of every table of the shared database as text.
    std::string storedRecords() const
    {
        if (m_conninfo.empty()) {
            return readFile(dataDir() / "sendova-server.db") + readFile(dataDir() / "sendova-server.db-wal");
        }
        PgConnection db(m_conninfo);
        const auto tables =
            db.exec("SELECT table_name FROM information_schema.tables WHERE table_schema = 'public'");
        std::string out;
        for (int row = 0; row < tables.rows(); ++row) {
            const auto rows = db.exec("SELECT t::text FROM " + tables.text(row, 0) + " t");
            for (int i = 0; i < rows.rows(); ++i) {
                out += rows.text(i, 0) + "\n";
            }
        }
        return out;
    }

    User user;
    std::string apiKey;

private:
    QTemporaryDir m_dir;
    std::string m_conninfo; // of the shared database, if the server uses one
    std::unique_ptr<TestBucket> m_bucket;
    std::shared_ptr<std::atomic<std::int64_t>> m_now =
        std::make_shared<std::atomic<std::int64_t>>(toMillis(std::chrono::system_clock::now()));
    std::unique_ptr<SendovaServer> m_server;
};

} // namespace sendova::server::test
