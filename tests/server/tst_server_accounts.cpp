#include "ServerFixture.h"

#include <sqlite3.h>

#include <thread>

using namespace sendova::server;
using namespace sendova::server::test;

namespace {

httplib::Result postJson(const RunningServer &server, const std::string &path, const Json &body)
{
    return server.client().Post(path, body.dump(), "application/json");
}

httplib::Result login(const RunningServer &server, const std::string &user, const std::string &password)
{
    return postJson(server, "/api/auth/login",
                    Json{{"userName", user}, {"password", password}, {"reuseExisting", false}});
}

httplib::Result exchangeToken(const RunningServer &server, const std::string &token)
{
    return postJson(server, "/api/exchange-setup-token", Json{{"token", token}, {"machineName", "desk"}});
}

int statusWithKey(const RunningServer &server, const std::string &key)
{
    const auto reply = server.client().Get("/api/status", httplib::Headers{{"X-API-Key", key}});
    return reply ? reply->status : -1;
}

// Every text column of every row, as SQLite hands it out.
std::string databaseText(const std::filesystem::path &file)
{
    sqlite3 *db = nullptr;
    std::string all;
    if (sqlite3_open_v2(file.c_str(), &db, SQLITE_OPEN_READONLY, nullptr) == SQLITE_OK) {
        for (const char *table : {"users", "api_keys", "setup_tokens", "settings"}) {
            sqlite3_stmt *stmt = nullptr;
            sqlite3_prepare_v2(db, (std::string("SELECT * FROM ") + table).c_str(), -1, &stmt, nullptr);
            while (sqlite3_step(stmt) == SQLITE_ROW) {
                for (int i = 0; i < sqlite3_column_count(stmt); ++i) {
                    if (const auto *text = sqlite3_column_text(stmt, i)) {
                        all += reinterpret_cast<const char *>(text);
                        all += '\n';
                    }
                }
            }
            sqlite3_finalize(stmt);
        }
    }
    sqlite3_close(db);
    return all;
}

} // namespace

class TestServerAccounts : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void loginIssuesWorkingKey();
    void loginRefusals_data();
    void loginRefusals();
    void statusNeedsValidKey_data();
    void statusNeedsValidKey();
    void setupTokenWorksOnce();
    void setupTokenRefusals_data();
    void setupTokenRefusals();
    void concurrentExchangesOfOneTokenGiveOneKey();
    void secretsAreStoredHashed();
    void passwordHashing();
};

void TestServerAccounts::loginIssuesWorkingKey()
{
    RunningServer server;
    const auto reply = login(server, "alice", TestPassword);
    QVERIFY(reply);
    QCOMPARE(reply->status, 200);
    const Json body = jsonOf(reply);
    QCOMPARE(body["success"], Json(true));
    QCOMPARE(body["data"]["serverUrl"], Json(server.server().publicUrl()));
    QCOMPARE(body["data"]["userName"], Json("alice"));
    QCOMPARE(body["data"]["tenantName"], Json("Sendova"));
    const std::string key = body["data"]["apiKey"];
    QCOMPARE(statusWithKey(server, key), 200);
    QCOMPARE(server.upload("x.txt", "x", std::nullopt, key)->status, 200);
    // A second login gives a second key; the first stays valid.
    const std::string second = jsonOf(login(server, "alice", TestPassword))["data"]["apiKey"];
    QVERIFY(second != key);
    QCOMPARE(statusWithKey(server, key), 200);
}

void TestServerAccounts::loginRefusals_data()
{
    QTest::addColumn<QString>("user");
    QTest::addColumn<QString>("password");
    QTest::addColumn<bool>("disable");
    QTest::addColumn<QString>("code");
    QTest::newRow("wrong password") << "alice"
                                    << "wrong password" << false << "INVALID_CREDENTIALS";
    QTest::newRow("unknown user") << "mallory" << TestPassword << false << "INVALID_CREDENTIALS";
    QTest::newRow("empty password") << "alice"
                                    << "" << false << "INVALID_CREDENTIALS";
    QTest::newRow("user name differs in case") << "Alice" << TestPassword << false << "INVALID_CREDENTIALS";
    QTest::newRow("inactive account") << "alice" << TestPassword << true << "TENANT_INACTIVE";
    // Without the password, nobody learns that the account exists but is off.
    QTest::newRow("inactive account, wrong password") << "alice"
                                                      << "nope" << true << "INVALID_CREDENTIALS";
}

void TestServerAccounts::loginRefusals()
{
    QFETCH(QString, user);
    QFETCH(QString, password);
    QFETCH(bool, disable);
    QFETCH(QString, code);
    RunningServer server;
    if (disable) {
        QVERIFY(server.server().accounts().setActive("alice", false));
    }
    const auto reply = login(server, user.toStdString(), password.toStdString());
    QVERIFY(reply);
    QCOMPARE(reply->status, 401);
    const Json body = jsonOf(reply);
    QCOMPARE(body["success"], Json(false));
    QCOMPARE(QString::fromStdString(body["error"]["code"]), code);
    QVERIFY(body["error"]["message"].is_string());
    QVERIFY(!body.contains("data"));
}

void TestServerAccounts::statusNeedsValidKey_data()
{
    QTest::addColumn<int>("which");
    QTest::addColumn<int>("status");
    QTest::newRow("valid key") << 0 << 200;
    QTest::newRow("no key") << 1 << 401;
    QTest::newRow("unknown key") << 2 << 401;
    QTest::newRow("key of an inactive account") << 3 << 401;
    QTest::newRow("valid key with a byte changed") << 4 << 401;
}

void TestServerAccounts::statusNeedsValidKey()
{
    QFETCH(int, which);
    QFETCH(int, status);
    RunningServer server;
    std::string key = server.apiKey;
    if (which == 1) {
        key.clear();
    } else if (which == 2) {
        key = "sk_unknown";
    } else if (which == 3) {
        server.server().accounts().setActive("alice", false);
    } else if (which == 4) {
        key.back() = key.back() == 'A' ? 'B' : 'A';
    }
    const auto reply = server.client().Get("/api/status", key.empty() ? httplib::Headers{}
                                                                      : httplib::Headers{{"X-API-Key", key}});
    QVERIFY(reply);
    QCOMPARE(reply->status, status);
    const Json body = jsonOf(reply);
    QCOMPARE(body["success"], Json(status == 200));
    if (status == 200) {
        QCOMPARE(body["data"]["userName"], Json("alice"));
    } else {
        QVERIFY(body["error"]["code"].is_string());
    }
}

void TestServerAccounts::setupTokenWorksOnce()
{
    RunningServer server;
    const auto token = server.server().accounts().createSetupToken(server.user.id, std::chrono::hours(1));
    const auto first = exchangeToken(server, token);
    QVERIFY(first);
    QCOMPARE(first->status, 200);
    const Json body = jsonOf(first);
    QCOMPARE(body["success"], Json(true));
    QCOMPARE(body["serverUrl"], Json(server.server().publicUrl()));
    QCOMPARE(body["userName"], Json("alice"));
    QCOMPARE(body["tenantName"], Json("Sendova"));
    QVERIFY(!body.contains("data"));
    QCOMPARE(statusWithKey(server, body["apiKey"]), 200);

    const auto second = exchangeToken(server, token);
    QCOMPARE(second->status, 401);
    QCOMPARE(jsonOf(second)["success"], Json(false));
    QCOMPARE(jsonOf(second)["error"]["code"], Json("TOKEN_ALREADY_USED"));
}

void TestServerAccounts::setupTokenRefusals_data()
{
    QTest::addColumn<int>("validMinutes");
    QTest::addColumn<int>("waitMinutes");
    QTest::addColumn<bool>("disable");
    QTest::addColumn<bool>("garble");
    QTest::addColumn<QString>("code");
    QTest::newRow("expired") << 60 << 61 << false << false << "TOKEN_EXPIRED";
    QTest::newRow("expires at this very moment") << 60 << 60 << false << false << "TOKEN_EXPIRED";
    QTest::newRow("unknown token") << 60 << 0 << false << true << "INVALID_TOKEN";
    QTest::newRow("inactive account") << 60 << 0 << true << false << "TENANT_INACTIVE";
}

void TestServerAccounts::setupTokenRefusals()
{
    QFETCH(int, validMinutes);
    QFETCH(int, waitMinutes);
    QFETCH(bool, disable);
    QFETCH(bool, garble);
    QFETCH(QString, code);
    RunningServer server;
    auto token =
        server.server().accounts().createSetupToken(server.user.id, std::chrono::minutes(validMinutes));
    server.clock().advance(std::chrono::minutes(waitMinutes));
    if (disable) {
        server.server().accounts().setActive("alice", false);
    }
    if (garble) {
        token.front() = token.front() == 'A' ? 'B' : 'A';
    }
    const auto reply = exchangeToken(server, token);
    QVERIFY(reply);
    QCOMPARE(reply->status, 401);
    const Json body = jsonOf(reply);
    QCOMPARE(body["success"], Json(false));
    QCOMPARE(QString::fromStdString(body["error"]["code"]), code);
    QVERIFY(!body.contains("apiKey"));
}

void TestServerAccounts::concurrentExchangesOfOneTokenGiveOneKey()
{
    RunningServer server;
    const auto token = server.server().accounts().createSetupToken(server.user.id, std::chrono::hours(1));
    std::vector<int> statuses(6, 0);
    std::vector<std::thread> threads;
    for (std::size_t i = 0; i < statuses.size(); ++i) {
        threads.emplace_back([&, i] {
            const auto reply = exchangeToken(server, token);
            statuses[i] = reply ? reply->status : -1;
        });
    }
    for (auto &thread : threads) {
        thread.join();
    }
    QCOMPARE(std::count(statuses.begin(), statuses.end(), 200), 1);
    QCOMPARE(std::count(statuses.begin(), statuses.end(), 401), 5);
}

void TestServerAccounts::secretsAreStoredHashed()
{
    RunningServer server;
    const std::string loginKey = jsonOf(login(server, "alice", TestPassword))["data"]["apiKey"];
    const auto token = server.server().accounts().createSetupToken(server.user.id, std::chrono::hours(1));
    const std::string exchangedKey = jsonOf(exchangeToken(server, token))["apiKey"];
    QVERIFY(!loginKey.empty() && !exchangedKey.empty());
    const std::string stored = databaseText(server.dataDir() / "sendova-server.db");
    QVERIFY(stored.find("alice") != std::string::npos);
    QVERIFY(stored.find(sha256Hex(loginKey)) != std::string::npos);
    for (const std::string &secret :
         {std::string(TestPassword), loginKey, exchangedKey, server.apiKey, token}) {
        QVERIFY2(stored.find(secret) == std::string::npos, secret.c_str());
    }
}

void TestServerAccounts::passwordHashing()
{
    const auto first = hashPassword("s3cret pass", 1000);
    const auto second = hashPassword("s3cret pass", 1000);
    QVERIFY(first != second);
    QVERIFY(verifyPassword("s3cret pass", first));
    QVERIFY(verifyPassword("s3cret pass", second));
    QVERIFY(!verifyPassword("s3cret pasS", first));
    QVERIFY(!verifyPassword("", first));
    QVERIFY(first.starts_with("pbkdf2-sha256$1000$"));
    QVERIFY(
        hashPassword("x").starts_with("pbkdf2-sha256$" + std::to_string(DefaultPasswordIterations) + "$"));
    QVERIFY(DefaultPasswordIterations >= 600000);
    // A stored hash with a lowered count or a cut-off digest never verifies.
    std::string lowered = first;
    lowered.replace(lowered.find("$1000$"), 6, "$1$");
    QVERIFY(!verifyPassword("s3cret pass", lowered));
    QVERIFY(!verifyPassword("s3cret pass", first.substr(0, first.size() - 4)));
    QVERIFY(!verifyPassword("s3cret pass", "plain"));
}

QTEST_GUILESS_MAIN(TestServerAccounts)
#include "tst_server_accounts.moc"
