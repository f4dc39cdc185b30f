#include "ServerFixture.h"

#include <netinet/in.h>

using namespace sendova::server;
using namespace sendova::server::test;

class ServerObjectStoreTest : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    // An object store that refuses or stalls costs the upload a clean 500,
    // within the store's timeout, and leaves no link or record behind.
    void failingStoreRecordsNothing_data()
    {
        QTest::addColumn<QByteArray>("failure");
        QTest::newRow("no such bucket") << QByteArray("bucket");
        QTest::newRow("unknown keys") << QByteArray("keys");
        QTest::newRow("store stalls") << QByteArray("stall");
    }

    void failingStoreRecordsNothing()
    {
        QFETCH(QByteArray, failure);
        const TestBucket bucket;
        const TestDatabase database;
        // Accepts connections (the kernel does, from its backlog) and never answers.
        const int silent = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in address{AF_INET, 0, {htonl(INADDR_LOOPBACK)}, {}};
        socklen_t length = sizeof address;
        QVERIFY(::bind(silent, reinterpret_cast<sockaddr *>(&address), sizeof address) == 0 &&
                ::listen(silent, 16) == 0 &&
                ::getsockname(silent, reinterpret_cast<sockaddr *>(&address), &length) == 0);
        std::string url = bucket.url() + "&timeout=2";
        if (failure == "bucket") {
            url.replace(url.find("bucket-"), 7, "missing-");
        } else if (failure == "stall") {
            url = "s3://stalled?endpoint=http://127.0.0.1:" + std::to_string(ntohs(address.sin_port)) +
                  "&region=us-east-1&timeout=2";
        } else {
            ::setenv("AWS_ACCESS_KEY_ID", "NOBODY", 1);
        }
        QTemporaryDir dir;
        ServerOptions options = testOptions();
        options.dataDir = dir.path().toStdString();
        options.database = database.conninfo();
        options.blobStore = url;
        SendovaServer server(options);
        ::setenv("AWS_ACCESS_KEY_ID", "S3RVER", 1);
        QVERIFY(server.bind("127.0.0.1", 0) > 0);
        server.start();
        const auto key =
            server.accounts().issueApiKey(server.accounts().addUser("alice", TestPassword).id, "m");
        QElapsedTimer timer;
        timer.start();
        ErrorCapture errors;
        const auto reply =
            postUpload(httplib::Client("127.0.0.1", server.port()), {{"X-API-Key", key}}, "a.txt", "hello");
        QCOMPARE(statusOf(reply), 500);
        QCOMPARE(jsonOf(reply)["Error"]["Code"], Json("STORAGE_ERROR"));
        QVERIFY(timer.elapsed() < 15000);
        QVERIFY2(errors.text().find("object store") != std::string::npos, errors.text().c_str());
        PgConnection db(database.conninfo());
        QCOMPARE(db.exec("SELECT (SELECT count(*) FROM links) + (SELECT count(*) FROM blobs)").integer(0, 0),
                 0);
        server.stop();
        ::close(silent);
    }
};

QTEST_GUILESS_MAIN(ServerObjectStoreTest)
#include "ServerObjectStoreTest.moc"
