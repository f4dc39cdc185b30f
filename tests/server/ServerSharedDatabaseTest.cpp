#include "ServerFixture.h"

#include "api/AccountStore.h"
#include "api/ContentStore.h"

#include <QProcess>
#include <QRegularExpression>

#include <csignal>
#include <fstream>
#include <map>
#include <thread>

using namespace sendova::server;
using namespace sendova::server::test;

namespace {

// The many-instance shape for real: sendova-server processes sharing one
// PostgreSQL database and one blobs/ folder (or, with
// SENDOVA_TEST_BACKEND=postgresql+s3, one bucket), as behind a load balancer.
class Instance
{
public:
    Instance(const std::string &conninfo, const std::filesystem::path &dataDir, const std::string &blobStore)
    {
        QStringList arguments =
            u"serve --listen 127.0.0.1:0 --quiet --public-url https://files.example.org"_qs.split(u' ');
        arguments << u"--database"_qs << QString::fromStdString(conninfo) << u"--data"_qs
                  << QString::fromStdString(dataDir.string());
        if (!blobStore.empty()) {
            arguments << QStringLiteral("--blob-store") << QString::fromStdString(blobStore);
        }
        m_process.start(QStringLiteral(SENDOVA_SERVER_BINARY), arguments);
        QByteArray line;
        while (!line.contains('\n') && m_process.waitForReadyRead(30000)) {
            line += m_process.readAllStandardOutput();
        }
        const auto match = QRegularExpression(QStringLiteral("listening on http://127\\.0\\.0\\.1:(\\d+) "))
                               .match(QString::fromUtf8(line));
        m_port = match.hasMatch() ? match.captured(1).toInt() : -1;
        if (m_port < 0) {
            qWarning("instance did not start: %s %s", line.constData(),
                     m_process.readAllStandardError().constData());
        }
    }
    ~Instance()
    {
        if (m_process.state() != QProcess::NotRunning) {
            m_process.terminate();
            m_process.waitForFinished(5000);
        }
    }
    int port() const { return m_port; }
    void killHard()
    {
        ::kill(static_cast<pid_t>(m_process.processId()), SIGKILL);
        m_process.waitForFinished(5000);
    }
    httplib::Client client() const
    {
        httplib::Client c("127.0.0.1", m_port);
        c.set_read_timeout(30);
        return c;
    }

private:
    QProcess m_process;
    int m_port = -1;
};

// The exit code of a sendova-server command (-1: it did not end in time) and
// everything it printed.
std::pair<int, QByteArray> serverCommand(const QStringList &arguments)
{
    QProcess process;
    process.start(QStringLiteral(SENDOVA_SERVER_BINARY), arguments);
    process.closeWriteChannel();
    const bool finished = process.waitForFinished(60000);
    return {finished ? process.exitCode() : -1,
            process.readAllStandardOutput() + process.readAllStandardError()};
}

httplib::Result uploadTo(const Instance &instance, const std::string &key, const std::string &content)
{
    return postUpload(instance.client(), {{"X-API-Key", key}}, "f.bin", content);
}

std::string patterned(std::size_t size, char seed)
{
    std::string out(size, '\0');
    for (std::size_t i = 0; i < size; ++i) {
        out[i] = static_cast<char>(seed + static_cast<char>(i * 31 % 251));
    }
    return out;
}

} // namespace

class ServerSharedDatabaseTest : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init()
    {
        m_database = std::make_unique<TestDatabase>();
        m_dir = std::make_unique<QTemporaryDir>();
        if (onObjectStore()) {
            m_bucket = std::make_unique<TestBucket>();
        }
        m_storage = openStorage({dataDir(), m_database->conninfo(), blobStore()}, true, systemClock());
        m_accounts = std::make_unique<AccountStore>(m_storage->accounts(), systemClock(), 1000);
        m_user = m_accounts->addUser("alice", TestPassword);
        m_key = m_accounts->issueApiKey(m_user.id, "test");
        m_first = std::make_unique<Instance>(m_database->conninfo(), dataDir(), blobStore());
        m_second = std::make_unique<Instance>(m_database->conninfo(), dataDir(), blobStore());
        QVERIFY(m_first->port() > 0 && m_second->port() > 0);
    }
    void cleanup()
    {
        m_first.reset();
        m_second.reset();
        m_accounts.reset();
        m_storage.reset();
        m_database.reset();
        m_bucket.reset();
    }

    void uploadThroughOneServedByTheOther()
    {
        const auto content = patterned(3 << 20, 'a');
        const auto uploaded = jsonOf(uploadTo(*m_first, m_key, content));
        const std::string code = uploaded["Data"]["ShortCode"];
        const auto whole = m_second->client().Get("/f/" + code);
        QVERIFY(whole && whole->status == 200 && whole->body == content);
        const auto part =
            m_second->client().Get("/f/" + code, httplib::Headers{{"Range", "bytes=1000000-1000099"}});
        QVERIFY(part && part->status == 206);
        QVERIFY(part->body == content.substr(1000000, 100));
        QCOMPARE(part->get_header_value("Content-Range"),
                 "bytes 1000000-1000099/" + std::to_string(content.size()));
        const auto check = m_second->client().Get("/api/check/" + prefixedHash(content),
                                                  httplib::Headers{{"X-API-Key", m_key}});
        QCOMPARE(jsonOf(check)["Data"]["Url"].get<std::string>(), uploaded["Data"]["Url"].get<std::string>());
    }

    // Twenty exchanges at once, spread over both instances: the database
    // lets exactly one of them have the key.
    void setupTokenIsSpentOnceAcrossInstances()
    {
        const auto token = m_accounts->createSetupToken(m_user.id, std::chrono::hours(1));
        std::vector<int> statuses(20);
        std::vector<std::string> codes(20);
        {
            std::vector<std::jthread> threads;
            for (std::size_t i = 0; i < statuses.size(); ++i) {
                threads.emplace_back([&, i] {
                    const auto &instance = i % 2 == 0 ? *m_first : *m_second;
                    const auto reply = instance.client().Post(
                        "/api/exchange-setup-token", Json{{"token", token}, {"machineName", "m"}}.dump(),
                        "application/json");
                    statuses[i] = statusOf(reply);
                    codes[i] = statuses[i] == 200 ? "ok" : jsonOf(reply)["error"]["code"].get<std::string>();
                });
            }
        }
        QCOMPARE(std::ranges::count(statuses, 200), 1);
        QCOMPARE(std::ranges::count(codes, "TOKEN_ALREADY_USED"), 19);
    }

    // The same content sent through both instances at once, by its owner and
    // by someone else: one stored object, one link per owner.
    void sameContentThroughBothIsStoredOnce()
    {
        const auto otherKey = m_accounts->issueApiKey(m_accounts->addUser("bob", TestPassword).id, "test");
        const auto content = patterned(1 << 20, 'q');
        std::vector<Json> replies(8);
        {
            std::vector<std::jthread> threads;
            for (std::size_t i = 0; i < replies.size(); ++i) {
                threads.emplace_back([&, i] {
                    replies[i] = jsonOf(
                        uploadTo(i % 2 == 0 ? *m_first : *m_second, i < 6 ? m_key : otherKey, content));
                });
            }
        }
        std::set<std::string> aliceCodes;
        std::set<std::string> bobCodes;
        for (std::size_t i = 0; i < replies.size(); ++i) {
            QVERIFY2(replies[i]["Success"] == true, replies[i].dump().c_str());
            (i < 6 ? aliceCodes : bobCodes).insert(replies[i]["Data"]["ShortCode"].get<std::string>());
        }
        QCOMPARE(aliceCodes.size(), std::size_t(1));
        QCOMPARE(bobCodes.size(), std::size_t(1));
        PgConnection db(m_database->conninfo());
        QCOMPARE(db.exec("SELECT count(*) FROM blobs").integer(0, 0), 1);
        QCOMPARE(db.exec("SELECT count(*) FROM links").integer(0, 0), 2);
        QCOMPARE(blobFiles(), std::vector<std::string>{sha256Hex(content)});
    }

    // Guesses spread over the instances count together: the seventh attempt
    // at one user waits, whichever instance it reaches.
    void loginAttemptsCountAcrossInstances()
    {
        const auto attempt = [](const Instance &instance) {
            return statusOf(instance.client().Post("/api/auth/login",
                                                   Json{{"userName", "alice"}, {"password", "wrong"}}.dump(),
                                                   "application/json"));
        };
        for (int i = 0; i < 6; ++i) {
            QCOMPARE(attempt(i % 2 == 0 ? *m_first : *m_second), 401);
        }
        QCOMPARE(attempt(*m_first), 429);
        QCOMPARE(attempt(*m_second), 429);
    }

    // An instance killed in the middle of an upload leaves nothing a link or a
    // check could find; the other one goes on serving.
    void killedInstanceLeavesNothingHalfVisible()
    {
        const auto kept = patterned(100000, 'k');
        const std::string code = jsonOf(uploadTo(*m_second, m_key, kept))["Data"]["ShortCode"];
        const auto content = patterned(4 << 20, 'z');
        const auto body = uploadForm("f.bin", content);
        RawConnection upload(m_first->port());
        QVERIFY(upload.send("POST /api/upload HTTP/1.1\r\nHost: x\r\nX-API-Key: " + m_key +
                            "\r\nContent-Type: multipart/form-data; boundary=" + UploadBoundary +
                            "\r\nContent-Length: " + std::to_string(body.size()) + "\r\n\r\n" +
                            body.substr(0, body.size() / 2)));
        // Half the body has reached the spool file by now.
        QTRY_VERIFY(spooledBytes() > 0);
        m_first->killHard();
        const auto check = m_second->client().Get("/api/check/" + prefixedHash(content),
                                                  httplib::Headers{{"X-API-Key", m_key}});
        QCOMPARE(jsonOf(check)["Data"]["Exists"], false);
        QCOMPARE(blobFiles(), std::vector<std::string>{sha256Hex(kept)});
        const auto served = m_second->client().Get("/f/" + code);
        QVERIFY(served && served->status == 200 && served->body == kept);
        // The next instance to start clears the dead one's spool folder.
        QVERIFY(spooledBytes() > 0);
        Instance restarted(m_database->conninfo(), dataDir(), blobStore());
        QVERIFY(restarted.port() > 0);
        QCOMPARE(spooledBytes(), std::uintmax_t(0));
    }

    // While one instance sweeps, the others skip their turn.
    void oneSweepAtATime()
    {
        const auto content = patterned(1000, 's');
        QVERIFY(jsonOf(uploadTo(*m_first, m_key, content))["Success"] == true);
        const auto later = [] { return std::chrono::system_clock::now() + std::chrono::days(30); };
        ContentStore sweeper(m_storage->content(), m_storage->blobs(), later, std::chrono::days(7));
        {
            PgConnection other(m_database->conninfo());
            PgConnection::Transaction sweeping(other);
            other.exec("SELECT pg_advisory_xact_lock(7311020001)");
            QCOMPARE(sweeper.purgeExpired(), 0);
            QCOMPARE(blobFiles().size(), std::size_t(1));
        }
        QCOMPARE(sweeper.purgeExpired(), 1);
        QCOMPARE(blobFiles(), std::vector<std::string>());
    }

    // Only "migrate" changes the schema, one version at a time and once;
    // every other command refuses a database that is not at this program's
    // version.
    void schemaIsMigratedOnlyByMigrate()
    {
        const TestDatabase fresh(false);
        const auto run = [&](const QString &command, int exitCode, const QByteArray &says) {
            const auto [code, output] = serverCommand(
                command.split(u' ') << u"--database"_qs << QString::fromStdString(fresh.conninfo())
                                    << u"--data"_qs << m_dir->path() + u"/other"_qs);
            return code == exitCode && output.contains(says);
        };
        QVERIFY(run(u"serve --listen 127.0.0.1:0"_qs, 1,
                    "schema is at version 0, this program's at 1; run sendova-server migrate"));
        QVERIFY(run(u"user list"_qs, 1, "run sendova-server migrate"));
        QVERIFY(run(u"migrate"_qs, 0, "from version 0 to 1"));
        QVERIFY(run(u"migrate"_qs, 0, "up to date (version 1)"));
        QVERIFY(run(u"user list"_qs, 0, ""));
    }

    // A populated data folder moves over: every link serves the same bytes
    // afterwards. A file whose bytes do not match its hash is not copied
    // (exit status 1), and once it is mended a second run copies it and
    // keeps what is there.
    void dataFolderMovesOver()
    {
        const auto folder = std::filesystem::path(m_dir->path().toStdString()) / "old";
        std::map<std::string, std::string> served; // link path -> bytes
        {
            ServerOptions options = testOptions();
            options.dataDir = folder;
            SendovaServer old(options);
            QVERIFY(old.bind("127.0.0.1", 0) > 0);
            old.start();
            const auto carol =
                old.accounts().issueApiKey(old.accounts().addUser("carol", TestPassword).id, "m");
            const auto dave =
                old.accounts().issueApiKey(old.accounts().addUser("dave", TestPassword).id, "m");
            for (const auto &[key, content] :
                 {std::pair{carol, patterned(200000, 'a')}, std::pair{carol, patterned(3000, 'b')},
                  std::pair{dave, patterned(200000, 'a')}}) {
                const auto reply = jsonOf(postUpload(httplib::Client("127.0.0.1", old.port()),
                                                     {{"X-API-Key", key}}, "f.bin", content));
                served["/f/" + reply["Data"]["ShortCode"].get<std::string>()] = content;
            }
        }
        const auto damagedHash = sha256Hex(patterned(3000, 'b'));
        const auto damaged = folder / "blobs" / damagedHash.substr(0, 2) / damagedHash;
        std::ofstream(damaged, std::ios::binary | std::ios::trunc) << "not what was stored";
        const auto migrate = [&](int exitCode, const QByteArray &says) {
            QStringList arguments{u"migrate"_qs, u"--from"_qs};
            arguments << QString::fromStdString(folder.string()) << u"--database"_qs
                      << QString::fromStdString(m_database->conninfo()) << u"--data"_qs
                      << QString::fromStdString(dataDir().string());
            if (!blobStore().empty()) {
                arguments << u"--blob-store"_qs << QString::fromStdString(blobStore());
            }
            const auto [code, output] = serverCommand(arguments);
            return code == exitCode && output.contains(says) ? QByteArray() : output;
        };
        QCOMPARE(migrate(1, "Copied 2 users, 1 stored files (0 were there already) and 2 new links"),
                 QByteArray());
        std::ofstream(damaged, std::ios::binary | std::ios::trunc) << patterned(3000, 'b');
        QCOMPARE(migrate(0, "Copied 2 users, 1 stored files (1 were there already) and 1 new links"),
                 QByteArray());
        QCOMPARE(migrate(0, "Copied 2 users, 0 stored files (2 were there already) and 0 new links"),
                 QByteArray());
        for (const auto &[path, content] : served) {
            const auto reply = m_second->client().Get(path);
            QVERIFY2(reply && reply->status == 200 && reply->body == content, path.c_str());
        }
        const auto login = m_first->client().Post(
            "/api/auth/login", Json{{"userName", "dave"}, {"password", TestPassword}}.dump(),
            "application/json");
        QCOMPARE(statusOf(login), 200);
    }

private:
    std::filesystem::path dataDir() const
    {
        return std::filesystem::path(m_dir->path().toStdString()) / "data";
    }
    std::string blobStore() const { return m_bucket ? m_bucket->url() : std::string(); }
    // The hashes of the stored content, in the shared folder or the bucket.
    std::vector<std::string> blobFiles() const
    {
        constexpr std::string_view ObjectSuffix = "._S3rver_object";
        std::vector<std::string> out;
        const auto folder = m_bucket ? m_bucket->folder() : dataDir() / "blobs";
        for (const auto &entry : std::filesystem::recursive_directory_iterator(folder)) {
            const std::string name = entry.path().filename().string();
            if (!m_bucket && entry.is_regular_file()) {
                out.push_back(name);
            } else if (m_bucket && name.ends_with(ObjectSuffix)) {
                out.push_back(name.substr(0, name.size() - ObjectSuffix.size()));
            }
        }
        return out;
    }
    std::uintmax_t spooledBytes() const
    {
        std::uintmax_t total = 0;
        for (const auto &entry : std::filesystem::recursive_directory_iterator(dataDir() / "tmp")) {
            if (entry.is_regular_file() && entry.path().filename() != "lock") {
                total += entry.file_size();
            }
        }
        return total;
    }

    std::unique_ptr<TestBucket> m_bucket;
    std::unique_ptr<TestDatabase> m_database;
    std::unique_ptr<QTemporaryDir> m_dir;
    std::unique_ptr<Storage> m_storage;
    std::unique_ptr<AccountStore> m_accounts;
    User m_user;
    std::string m_key;
    std::unique_ptr<Instance> m_first;
    std::unique_ptr<Instance> m_second;
};

QTEST_GUILESS_MAIN(ServerSharedDatabaseTest)
#include "ServerSharedDatabaseTest.moc"
