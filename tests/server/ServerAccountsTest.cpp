#include "ServerFixture.h"

#include <thread>

using namespace sendova::server;
using namespace sendova::server::test;

namespace {

httplib::Result logIn(const RunningServer &server, const std::string &user, const std::string &password,
                      const std::string &forwardedFor = {})
{
    httplib::Headers headers;
    if (!forwardedFor.empty()) {
        headers.emplace("X-Forwarded-For", forwardedFor);
    }
    const Json body{{"userName", user}, {"password", password}, {"reuseExisting", false}};
    return server.client().Post("/api/auth/login", headers, body.dump(), "application/json");
}

httplib::Result exchangeToken(const RunningServer &server, const std::string &token)
{
    return server.client().Post("/api/exchange-setup-token",
                                Json{{"token", token}, {"machineName", "desk"}}.dump(), "application/json");
}

// "ok" for a reply that grants a key, otherwise its error code.
QByteArray outcomeOf(const Json &reply)
{
    return QByteArray::fromStdString(
        reply.value("success", false) ? "ok" : reply.value("/error/code"_json_pointer, std::string("?")));
}

} // namespace

class ServerAccountsTest : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void login()
    {
        RunningServer server;
        const auto reply = logIn(server, "alice", TestPassword);
        QCOMPARE(statusOf(reply), 200);
        // Every login issues a new key, and the earlier ones stay valid.
        const std::string key = jsonOf(reply)["data"]["apiKey"];
        QVERIFY(jsonOf(logIn(server, "alice", TestPassword))["data"]["apiKey"] != key);
        QCOMPARE(statusOf(server.client().Get("/api/status", httplib::Headers{{"X-API-Key", key}})), 200);
        QCOMPARE(outcomeOf(jsonOf(logIn(server, "mallory", TestPassword))), "INVALID_CREDENTIALS");
        server.server().accounts().setActive("alice", false);
        QCOMPARE(outcomeOf(jsonOf(logIn(server, "alice", TestPassword))), "TENANT_INACTIVE");
        // Without the password, nobody learns that the account exists but is off.
        QCOMPARE(outcomeOf(jsonOf(logIn(server, "alice", "nope"))), "INVALID_CREDENTIALS");
    }

    void loginAttemptsAreLimited_data()
    {
        QTest::addColumn<int>("failures");
        QTest::addColumn<bool>("differentUsers");
        QTest::addColumn<bool>("behindProxy");
        QTest::addColumn<int>("retryAfter");
        QTest::newRow("a user's first six") << 5 << false << false << 0;
        QTest::newRow("a user's seventh waits") << 6 << false << false << 1;
        QTest::newRow("and then twice as long") << 7 << false << false << 2;
        QTest::newRow("an address's 21st") << 20 << true << false << 0;
        QTest::newRow("an address's 22nd waits") << 21 << true << false << 1;
        QTest::newRow("behind a proxy, per client") << 21 << true << true << 0;
    }

    // Each refused attempt is answered at once, without the costly password
    // check; the wait is told in Retry-After; a successful login starts again.
    void loginAttemptsAreLimited()
    {
        QFETCH(int, failures);
        QFETCH(bool, differentUsers);
        QFETCH(bool, behindProxy);
        QFETCH(int, retryAfter);
        ServerOptions options = testOptions();
        options.behindProxy = behindProxy;
        RunningServer server(options);
        const auto attempt = [&](int i, const std::string &password) {
            const std::string user = differentUsers ? "user" + std::to_string(i) : "alice";
            return logIn(server, user, password,
                         behindProxy ? "192.0.2.9, 198.51.100." + std::to_string(i) : "");
        };
        for (int i = 0; i < failures; ++i) {
            for (auto reply = attempt(i, "guess"); reply->status == 429; reply = attempt(i, "guess")) {
                server.advanceClock(std::chrono::seconds(
                    std::int64_t(reply->get_header_value<std::uint64_t>("Retry-After"))));
            }
        }
        const auto reply = differentUsers ? attempt(failures, "guess") : logIn(server, "alice", TestPassword);
        if (retryAfter == 0) {
            QCOMPARE(reply->status, differentUsers ? 401 : 200);
            return;
        }
        QCOMPARE(reply->status, 429);
        QCOMPARE(reply->get_header_value("Retry-After"), std::to_string(retryAfter));
        QCOMPARE(jsonOf(reply)["error"]["code"], Json("TOO_MANY_ATTEMPTS"));
        server.advanceClock(std::chrono::seconds(retryAfter));
        if (!differentUsers) {
            QCOMPARE(logIn(server, "alice", TestPassword)->status, 200);
            QCOMPARE(logIn(server, "alice", "guess")->status, 401);
        }
    }

    void setupTokenWorksOnce_data()
    {
        QTest::addColumn<int>("waitMinutes");
        QTest::addColumn<bool>("active");
        QTest::addColumn<bool>("garble");
        QTest::addColumn<QByteArray>("code"); // of every refused exchange
        QTest::newRow("valid") << 59 << true << false << QByteArray("TOKEN_ALREADY_USED");
        QTest::newRow("expires at this very moment") << 60 << true << false << QByteArray("TOKEN_EXPIRED");
        QTest::newRow("unknown token") << 0 << true << true << QByteArray("INVALID_TOKEN");
        QTest::newRow("inactive account") << 0 << false << false << QByteArray("TENANT_INACTIVE");
    }

    // Sent four times at once: one exchange wins, whatever the timing.
    void setupTokenWorksOnce()
    {
        QFETCH(int, waitMinutes);
        QFETCH(bool, active);
        QFETCH(bool, garble);
        QFETCH(QByteArray, code);
        RunningServer server;
        auto token = server.server().accounts().createSetupToken(server.user.id, std::chrono::minutes(60));
        server.advanceClock(std::chrono::minutes(waitMinutes));
        server.server().accounts().setActive("alice", active);
        token.front() = garble ? char(token.front() ^ 1) : token.front();
        std::vector<Json> replies(4);
        {
            std::vector<std::jthread> threads;
            for (auto &reply : replies) {
                threads.emplace_back([&] { reply = jsonOf(exchangeToken(server, token)); });
            }
        }
        QByteArrayList outcomes;
        std::ranges::transform(replies, std::back_inserter(outcomes), outcomeOf);
        std::ranges::sort(outcomes);
        QByteArrayList expected(replies.size(), code);
        expected.back() = code == "TOKEN_ALREADY_USED" ? "ok" : code;
        QCOMPARE(outcomes, expected);
    }

    void secretsAreStoredHashed()
    {
        RunningServer server;
        const std::string loginKey = jsonOf(logIn(server, "alice", TestPassword))["data"]["apiKey"];
        const auto token = server.server().accounts().createSetupToken(server.user.id, std::chrono::hours(1));
        const std::string exchangedKey = jsonOf(exchangeToken(server, token))["apiKey"];
        QVERIFY(!loginKey.empty() && !exchangedKey.empty());
        // The database and its log as bytes: a secret in any table, column or
        // page would show.
        const std::string stored = readFile(server.dataDir() / "sendova-server.db") +
                                   readFile(server.dataDir() / "sendova-server.db-wal");
        QVERIFY(stored.find("alice") != std::string::npos);
        QVERIFY(stored.find(sha256Hex(loginKey)) != std::string::npos);
        for (const std::string &secret :
             {std::string(TestPassword), loginKey, exchangedKey, server.apiKey, token}) {
            QVERIFY2(stored.find(secret) == std::string::npos, secret.c_str());
        }
        // Salted, and slow to guess at.
        const auto hash = hashPassword(TestPassword);
        QVERIFY(hash.starts_with("pbkdf2-sha256$600000$"));
        QVERIFY(hash != hashPassword(TestPassword, 600000) && verifyPassword(TestPassword, hash));
    }
};

QTEST_GUILESS_MAIN(ServerAccountsTest)
#include "ServerAccountsTest.moc"
