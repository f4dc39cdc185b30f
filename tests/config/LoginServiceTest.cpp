#include "config/LoginService.h"
#include "BlockingWait.h"
#include "LoopbackHttpServer.h"
#include "support/StrictJson.h"

#include <QtTest>

using namespace sendova;
using namespace sendova::test;

// Transport failures (refused, stalled, cancelled, oversized replies) belong
// to HttpSessionTest; this test keeps what the login service adds on top.
class LoginServiceTest : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<LoopbackHttpServer> m_server;
    LoginService &m_service = LoginService::shared();

private Q_SLOTS:
    void init() { m_server = std::make_unique<LoopbackHttpServer>(); }

    // What is sent, and what comes back: a refusal with a readable body is a
    // reply for the caller to word; anything else is an error (status -1: a
    // DecodingError).
    void loginAndExchange_data()
    {
        QTest::addColumn<bool>("exchange");
        QTest::addColumn<int>("status");
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<int>("errorStatus"); // 0: returned
        QTest::newRow("login 200") << false << 200 << QByteArray(R"({"success":true,"data":{"apiKey":"k"}})")
                                   << 0;
        QTest::newRow("login 401 refusal is a reply")
            << false << 401 << QByteArray(R"({"success":false,"error":{"code":"B","message":"Wrong"}})") << 0;
        QTest::newRow("login 422 without message")
            << false << 422 << QByteArray(R"({"success":false,"error":{"code":"X"}})") << 422;
        QTest::newRow("login 200 HTML") << false << 200 << QByteArray("<html></html>") << -1;
        QTest::newRow("exchange 200, values at the top")
            << true << 200 << QByteArray(R"({"success":true,"apiKey":"sk_t","userName":"ana"})") << 0;
        QTest::newRow("exchange 502 text") << true << 502 << QByteArray("Bad gateway") << 502;
    }
    void loginAndExchange()
    {
        QFETCH(bool, exchange);
        QFETCH(int, status);
        QFETCH(QByteArray, body);
        QFETCH(int, errorStatus);
        m_server->enqueue(ScriptedReply::json(status, body));
        const QString base = m_server->baseUrl();
        try {
            if (exchange) {
                const auto response = blockingWait(
                    m_service.exchangeSetupToken(base, QStringLiteral("tok-1"), QStringLiteral("pc")));
                QCOMPARE(response, ExchangeTokenResponse::decode(body));
            } else {
                const auto response =
                    blockingWait(m_service.login(base, QStringLiteral("ana"), QStringLiteral("pa\"ss")));
                QCOMPARE(response, LoginResponse::decode(body));
            }
            QCOMPARE(errorStatus, 0);
        } catch (const LoginError &error) {
            QCOMPARE(error.kind(), LoginError::Kind::serverError);
            QCOMPARE(error.statusCode(), errorStatus);
        } catch (const DecodingError &) {
            QCOMPARE(errorStatus, -1);
        }
        const RecordedRequest sent = m_server->requests().value(0);
        QCOMPARE(sent.method + ' ' + sent.target + ' ' + sent.body,
                 exchange
                     ? QByteArray(R"(POST /api/exchange-setup-token {"token":"tok-1","machineName":"pc"})")
                     : QByteArray("POST /api/auth/login {\"userName\":\"ana\",\"password\":\"pa\\\"ss\","
                                  "\"reuseExisting\":false}"));
        QCOMPARE(sent.header("Content-Type"), std::optional<QByteArray>("application/json"));
    }

    void status_data()
    {
        QTest::addColumn<int>("status");
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<bool>("keyRefused");
        QTest::addColumn<QString>("serverMessage");
        QTest::newRow("200, any body") << 200 << QByteArray("not json") << false << QString();
        QTest::newRow("204") << 204 << QByteArray() << false << QString();
        QTest::newRow("401") << 401 << QByteArray(R"({"error":{"code":"K","message":"Bad key"}})") << true
                             << QStringLiteral("Bad key");
        QTest::newRow("403") << 403 << QByteArray() << true << QString();
        QTest::newRow("503 explained") << 503 << QByteArray(R"({"Error":{"Code":"D","Message":"Later"}})")
                                       << false << QStringLiteral("Later");
    }
    void status()
    {
        QFETCH(int, status);
        QFETCH(QByteArray, body);
        QFETCH(bool, keyRefused);
        QFETCH(QString, serverMessage);
        m_server->setDefaultReply(ScriptedReply::json(status, body));
        // The address is used as given, trailing slash and all.
        const QString server = m_server->baseUrl() + QLatin1Char('/');
        QCOMPARE(blockingWait(m_service.testConnection(server, QStringLiteral("sk_1"))), status == 200);
        const StatusReply reply = blockingWait(m_service.status(server, QStringLiteral("sk_1")));
        QCOMPARE(reply.statusCode, status);
        QCOMPARE(reply.keyRefused(), keyRefused);
        QCOMPARE(reply.serverMessage.value_or(QString()), serverMessage);
        const RecordedRequest sent = m_server->requests().value(0);
        QCOMPARE(sent.method + ' ' + sent.target, QByteArray("GET //api/status"));
        QCOMPARE(sent.header("X-API-Key"), std::optional<QByteArray>("sk_1"));
    }

    // One transfer per operation: a connection test does not queue behind a
    // login the server is slow to answer, and cancel() stops what runs.
    void operationsRunSideBySideAndCancel()
    {
        ScriptedReply slow = ScriptedReply::json(200, R"({"success":true})");
        slow.delay = std::chrono::seconds(20);
        m_server->enqueue(slow);
        m_server->enqueue(ScriptedReply::json(200, "{}"));
        const QString server = m_server->baseUrl();
        QCoro::Task<LoginResponse> login = m_service.login(server, QStringLiteral("u"), QStringLiteral("p"));
        QVERIFY(m_server->waitForRequests(1));
        QElapsedTimer clock;
        clock.start();
        QVERIFY(blockingWait(m_service.testConnection(server, QStringLiteral("k"))));
        QVERIFY(!login.isReady());
        m_service.cancel();
        try {
            blockingWait(std::move(login));
            QFAIL("a cancelled login returned");
        } catch (const TransportError &error) {
            QVERIFY(error.isCancellation());
        }
        QVERIFY(clock.elapsed() < 10000);
    }

    // Nothing is sent to an address that cannot work; an answer in another
    // protocol is an invalid response, not libcurl's text.
    void unusableServer_data()
    {
        QTest::addColumn<QString>("server"); // %1: the test server's address
        QTest::addColumn<LoginError::Kind>("kind");
        QTest::newRow("empty") << QString() << LoginError::Kind::invalidURL;
        QTest::newRow("host and port, no scheme")
            << QStringLiteral("localhost:80") << LoginError::Kind::invalidURL;
        QTest::newRow("ftp") << QStringLiteral("ftp://127.0.0.1:21") << LoginError::Kind::invalidResponse;
        QTest::newRow("answer not HTTP") << QStringLiteral("%1") << LoginError::Kind::invalidResponse;
    }
    void unusableServer()
    {
        QFETCH(QString, server);
        QFETCH(LoginError::Kind, kind);
        ScriptedReply raw;
        raw.raw = QByteArray("SSH-2.0-OpenSSH_9.2\r\n");
        m_server->setDefaultReply(raw);
        const bool reachesServer = server.contains(QLatin1String("%1"));
        server.replace(QLatin1String("%1"), m_server->baseUrl());
        try {
            blockingWait(m_service.login(server, QStringLiteral("u"), QStringLiteral("p")));
            QFAIL("no LoginError");
        } catch (const LoginError &error) {
            QCOMPARE(error.kind(), kind);
        }
        QCOMPARE(m_server->connectionsAccepted(), reachesServer ? 1 : 0);
    }
};

QTEST_GUILESS_MAIN(LoginServiceTest)
#include "LoginServiceTest.moc"
