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
    void accountState_data()
    {
        QTest::addColumn<bool>("active");
        QTest::addColumn<QByteArray>("password");
        QTest::addColumn<QByteArray>("login");
        QTest::addColumn<QByteArray>("keyOutcome"); // of the key issued before, on /api/status
        QTest::newRow("active") << true << QByteArray(TestPassword) << QByteArray("ok") << QByteArray("ok");
        QTest::newRow("inactive, right password")
            << false << QByteArray(TestPassword) << QByteArray("TENANT_INACTIVE")
            << QByteArray("TENANT_INACTIVE");
        // Without the password, nobody learns that the account exists but is off.
        QTest::newRow("inactive, wrong password")
            << false << QByteArray("nope") << QByteArray("INVALID_CREDENTIALS")
            << QByteArray("TENANT_INACTIVE");
    }

    // Bob's, beside alice, so that a status naming anyone but the key's owner shows.
    void accountState()
    {
        QFETCH(bool, active);
        QFETCH(QByteArray, password);
        QFETCH(QByteArray, login);
        QFETCH(QByteArray, keyOutcome);
        RunningServer server;
        const std::string issued = server.addUser("bob");
        server.server().accounts().setActive("bob", active);
        const Json loggedIn = jsonOf(logIn(server, "bob", password.toStdString()));
        QCOMPARE(outcomeOf(loggedIn), login);
        QCOMPARE(loggedIn.contains("/data/apiKey"_json_pointer), login == "ok");
        for (const Json &key : {Json(issued), loggedIn.value("/data/apiKey"_json_pointer, Json())}) {
            if (key.is_string()) {
                const Json status =
                    jsonOf(server.client().Get("/api/status", httplib::Headers{{"X-API-Key", key}}));
                QCOMPARE(outcomeOf(status), keyOutcome);
                QCOMPARE(status.value("/data/userName"_json_pointer, Json()), active ? Json("bob") : Json());
            }
        }
    }

    void loginAttemptsAreLimited_data()
    {
        QTest::addColumn<int>("failures");
        QTest::addColumn<bool>("differentUsers");
        QTest::addColumn<bool>("behindProxy");
        QTest::addColumn<int>("retryAfter");
        QTest::newRow("a user's seventh waits twice as long as the sixth") << 7 << false << false << 2;
        QTest::newRow("an address's 22nd waits") << 21 << true << false << 1;
        QTest::newRow("behind a proxy, per client") << 21 << true << true << 0;
    }

    // Each refused attempt is answered at once, without the costly password
    // check, and the wait is told in Retry-After.
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
        QCOMPARE(reply->status, retryAfter == 0 ? 401 : 429);
        QCOMPARE(reply->get_header_value("Retry-After"), retryAfter == 0 ? "" : std::to_string(retryAfter));
    }

    void setupTokenOutcomes_data()
    {
        QTest::addColumn<QByteArray>("change");
        QTest::addColumn<QByteArray>("outcome");
        QTest::addColumn<QByteArray>("thenToken"); // the token itself sent afterwards, the account active
        QTest::newRow("fresh") << QByteArray() << QByteArray("ok") << QByteArray("TOKEN_ALREADY_USED");
        QTest::newRow("past its hour")
            << QByteArray("expire") << QByteArray("TOKEN_EXPIRED") << QByteArray("TOKEN_EXPIRED");
        QTest::newRow("unknown, another pending")
            << QByteArray("unknown") << QByteArray("INVALID_TOKEN") << QByteArray("ok");
        QTest::newRow("empty") << QByteArray("empty") << QByteArray("INVALID_TOKEN") << QByteArray("ok");
        // Left unused: the link works again once the account is back.
        QTest::newRow("account inactive")
            << QByteArray("disable") << QByteArray("TENANT_INACTIVE") << QByteArray("ok");
    }

    void setupTokenOutcomes()
    {
        QFETCH(QByteArray, change);
        QFETCH(QByteArray, outcome);
        QFETCH(QByteArray, thenToken);
        RunningServer server;
        const auto token = server.server().accounts().createSetupToken(server.user.id, std::chrono::hours(1));
        if (change == "expire") {
            server.advanceClock(std::chrono::seconds(3601));
        }
        server.server().accounts().setActive("alice", change != "disable");
        const std::string sent = change == "unknown" ? token + "0" : change == "empty" ? "" : token;
        const Json reply = jsonOf(exchangeToken(server, sent));
        QCOMPARE(outcomeOf(reply), outcome);
        if (outcome == "ok") {
            QCOMPARE(statusOf(server.client().Get("/api/status",
                                                  httplib::Headers{{"X-API-Key", reply["apiKey"]}})),
                     200);
        }
        server.server().accounts().setActive("alice", true);
        QCOMPARE(outcomeOf(jsonOf(exchangeToken(server, token))), thenToken);
    }

    // Sent four times at once: one exchange wins, whatever the timing.
    void setupTokenWorksOnce()
    {
        RunningServer server;
        const auto token = server.server().accounts().createSetupToken(server.user.id, std::chrono::hours(1));
        QByteArrayList outcomes(4);
        {
            std::vector<std::jthread> threads;
            for (auto &outcome : outcomes) {
                threads.emplace_back([&] { outcome = outcomeOf(jsonOf(exchangeToken(server, token))); });
            }
        }
        std::ranges::sort(outcomes);
        QCOMPARE(outcomes,
                 QByteArrayList({"TOKEN_ALREADY_USED", "TOKEN_ALREADY_USED", "TOKEN_ALREADY_USED", "ok"}));
    }

    void secretsAreStoredHashed()
    {
        RunningServer server;
        const std::string loginKey = jsonOf(logIn(server, "alice", TestPassword))["data"]["apiKey"];
        const auto token = server.server().accounts().createSetupToken(server.user.id, std::chrono::hours(1));
        const std::string exchangedKey = jsonOf(exchangeToken(server, token))["apiKey"];
        // A secret in any table, column or page would show.
        const std::string stored = server.storedRecords();
        QVERIFY(stored.find("alice") != std::string::npos);
        for (const std::string &secret :
             {std::string(TestPassword), loginKey, exchangedKey, server.apiKey, token}) {
            QVERIFY2(!secret.empty() && stored.find(secret) == std::string::npos, secret.c_str());
        }
        // Salted, and slow to guess at.
        const auto hash = hashPassword(TestPassword);
        QVERIFY(hash.starts_with("pbkdf2-sha256$600000$") && hash != hashPassword(TestPassword));
    }
};

QTEST_GUILESS_MAIN(ServerAccountsTest)
#include "ServerAccountsTest.moc"
