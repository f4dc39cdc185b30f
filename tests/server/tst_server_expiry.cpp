#include "ServerFixture.h"

using namespace sendova::server;
using namespace sendova::server::test;

namespace {

constexpr auto Lifetime = std::chrono::hours(24);

int statusOf(const httplib::Result &reply)
{
    return reply ? reply->status : -1;
}

} // namespace

class TestServerExpiry : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void linkWorksUntilItExpires_data();
    void linkWorksUntilItExpires();
    void expiredContentIsDeletedOnceUnreferenced();
    void contentStaysWhileAnotherLinkNeedsIt();
    void reuploadAfterExpiryMakesNewLink();
    void linksWithoutLifetimeNeverExpire();
    void sweepAfterRestartCleansLeftovers();
};

void TestServerExpiry::linkWorksUntilItExpires_data()
{
    QTest::addColumn<int>("secondsLater");
    QTest::addColumn<bool>("valid");
    QTest::newRow("just uploaded") << 0 << true;
    QTest::newRow("one second before the end") << int(std::chrono::seconds(Lifetime).count()) - 1 << true;
    QTest::newRow("at the end") << int(std::chrono::seconds(Lifetime).count()) << false;
    QTest::newRow("long after") << int(std::chrono::seconds(Lifetime).count()) * 30 << false;
}

void TestServerExpiry::linkWorksUntilItExpires()
{
    QFETCH(int, secondsLater);
    QFETCH(bool, valid);
    RunningServer server({}, Lifetime);
    const auto content = std::string("expiring");
    const Json uploaded = jsonOf(server.upload("e.txt", content));
    const std::string url = uploaded["Data"]["Url"];
    server.clock().advance(std::chrono::seconds(secondsLater));

    // Before any sweep: the link itself already knows it has expired.
    QCOMPARE(statusOf(server.client().Get(server.pathOf(url))), valid ? 200 : 404);
    QCOMPARE(statusOf(server.client().Head(server.pathOf(url))), valid ? 200 : 404);
    const auto check = server.client().Get("/api/check/" + prefixedHash(content),
                                           httplib::Headers{{"X-API-Key", server.apiKey}});
    QCOMPARE(jsonOf(check)["Data"]["Exists"], Json(valid));
}

void TestServerExpiry::expiredContentIsDeletedOnceUnreferenced()
{
    RunningServer server({}, Lifetime);
    const Json uploaded = jsonOf(server.upload("e.txt", "short-lived"));
    QCOMPARE(server.storedFiles().size(), std::size_t(1));
    QCOMPARE(server.server().content().purgeExpired(), 0);
    QCOMPARE(server.storedFiles().size(), std::size_t(1));

    server.clock().advance(Lifetime);
    QCOMPARE(server.server().content().purgeExpired(), 1);
    QCOMPARE(server.storedFiles(), std::vector<std::string>());
    QCOMPARE(statusOf(server.client().Get(server.pathOf(uploaded["Data"]["Url"]))), 404);
}

void TestServerExpiry::contentStaysWhileAnotherLinkNeedsIt()
{
    RunningServer server({}, Lifetime);
    const auto bob = server.server().accounts().addUser("bob", TestPassword);
    const auto bobKey = server.server().accounts().issueApiKey(bob.id, "m");
    const Json first = jsonOf(server.upload("a.txt", "shared"));
    server.clock().advance(std::chrono::hours(12));
    const Json second = jsonOf(server.upload("b.txt", "shared", std::nullopt, bobKey));

    server.clock().advance(std::chrono::hours(13));
    QCOMPARE(server.server().content().purgeExpired(), 1);
    QCOMPARE(statusOf(server.client().Get(server.pathOf(first["Data"]["Url"]))), 404);
    const auto stillThere = server.client().Get(server.pathOf(second["Data"]["Url"]));
    QCOMPARE(statusOf(stillThere), 200);
    QCOMPARE(stillThere->body, std::string("shared"));
    QCOMPARE(server.storedFiles().size(), std::size_t(1));

    server.clock().advance(std::chrono::hours(12));
    QCOMPARE(server.server().content().purgeExpired(), 1);
    QCOMPARE(server.storedFiles(), std::vector<std::string>());
}

void TestServerExpiry::reuploadAfterExpiryMakesNewLink()
{
    RunningServer server({}, Lifetime);
    const Json first = jsonOf(server.upload("a.txt", "again"));
    server.clock().advance(Lifetime + std::chrono::seconds(1));
    // No sweep in between: the expired link and its blob are still on record.
    const Json second = jsonOf(server.upload("a.txt", "again", prefixedHash("again")));
    QCOMPARE(second["Success"], Json(true));
    QCOMPARE(second["Data"]["IsDuplicate"], Json(false));
    QVERIFY(second["Data"]["Url"] != first["Data"]["Url"]);
    QCOMPARE(server.server().content().purgeExpired(), 1);
    const auto download = server.client().Get(server.pathOf(second["Data"]["Url"]));
    QCOMPARE(statusOf(download), 200);
    QCOMPARE(download->body, std::string("again"));
    QCOMPARE(server.storedFiles().size(), std::size_t(1));
}

void TestServerExpiry::linksWithoutLifetimeNeverExpire()
{
    RunningServer server({}, std::nullopt);
    const Json uploaded = jsonOf(server.upload("forever.txt", "forever"));
    QVERIFY(!uploaded["Data"].contains("ExpiresAt"));
    server.clock().advance(std::chrono::hours(24 * 365 * 10));
    QCOMPARE(server.server().content().purgeExpired(), 0);
    QCOMPARE(statusOf(server.client().Get(server.pathOf(uploaded["Data"]["Url"]))), 200);
    const auto check = server.client().Get("/api/check/" + prefixedHash("forever"),
                                           httplib::Headers{{"X-API-Key", server.apiKey}});
    QCOMPARE(jsonOf(check)["Data"]["Exists"], Json(true));
    QVERIFY(!jsonOf(check)["Data"].contains("ExpiresAt"));
}

void TestServerExpiry::sweepAfterRestartCleansLeftovers()
{
    QTemporaryDir dir;
    const auto data = std::filesystem::path(dir.path().toStdString()) / "data";
    ServerOptions options;
    options.dataDir = data;
    options.passwordIterations = TestIterations;
    options.logRequests = false;
    {
        SendovaServer first(options);
    }
    // What a crash leaves: a half-received upload and a blob without a record.
    const std::string unknownHash = sha256Hex("orphan");
    std::filesystem::create_directories(data / "blobs" / unknownHash.substr(0, 2));
    std::ofstream(data / "blobs" / unknownHash.substr(0, 2) / unknownHash) << "orphan";
    std::ofstream(data / "tmp" / "upload-abc123") << "partial";
    SendovaServer second(options);
    QVERIFY(!std::filesystem::exists(data / "tmp" / "upload-abc123"));
    QVERIFY(!std::filesystem::exists(data / "blobs" / unknownHash.substr(0, 2) / unknownHash));
}

QTEST_GUILESS_MAIN(TestServerExpiry)
#include "tst_server_expiry.moc"
