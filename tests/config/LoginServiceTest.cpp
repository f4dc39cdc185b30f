#include "config/LoginService.h"
#include "BlockingWait.h"
#include "LoopbackHttpServer.h"
#include "support/LocalizationService.h"
#include "support/StrictJson.h"

#include <QtTest>

using namespace sendova;
using namespace sendova::test;

namespace {

enum class Outcome { returned, serverError, decodingError };

QByteArray html500()
{
    return QByteArrayLiteral("<html><body><h1>500 Internal Server Error</h1></body></html>");
}

} // namespace

class LoginServiceTest : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<LoopbackHttpServer> m_server;

private Q_SLOTS:
    void initTestCase() { LocalizationService::shared().setLanguage(Language::english); }

    void init() { m_server = std::make_unique<LoopbackHttpServer>(); }

    void requestOnTheWire_data()
    {
        QTest::addColumn<QString>("operation");
        QTest::addColumn<QByteArray>("method");
        QTest::addColumn<QByteArray>("target");
        QTest::addColumn<QByteArray>("body"); // compact JSON
        QTest::newRow("login") << QStringLiteral("login") << QByteArray("POST")
                               << QByteArray("/api/auth/login")
                               << QStringLiteral("{\"userName\":\"ana@example.org\",\"password\":\"pa\\\"ss "
                                                 "wörd\",\"reuseExisting\":false}")
                                      .toUtf8();
        QTest::newRow("exchange") << QStringLiteral("exchange") << QByteArray("POST")
                                  << QByteArray("/api/exchange-setup-token")
                                  << QByteArray("{\"token\":\"tok-123\",\"machineName\":\"Ana's laptop\"}");
        // The address is used as given, trailing slash and all.
        QTest::newRow("status, trailing slash")
            << QStringLiteral("status") << QByteArray("GET") << QByteArray("//api/status") << QByteArray();
    }

    void requestOnTheWire()
    {
        QFETCH(QString, operation);
        QFETCH(QByteArray, method);
        QFETCH(QByteArray, target);
        QFETCH(QByteArray, body);
        m_server->enqueue(ScriptedReply::json(200, R"({"success":true})"));
        LoginService &service = LoginService::shared();
        if (operation == QLatin1String("login")) {
            blockingWait(service.login(m_server->baseUrl(), QStringLiteral("ana@example.org"),
                                       QStringLiteral("pa\"ss wörd")));
        } else if (operation == QLatin1String("exchange")) {
            blockingWait(service.exchangeSetupToken(m_server->baseUrl(), QStringLiteral("tok-123"),
                                                    QStringLiteral("Ana's laptop")));
        } else {
            blockingWait(
                service.testConnection(m_server->baseUrl() + QLatin1Char('/'), QStringLiteral("sk_1")));
        }
        const RecordedRequest request = m_server->requests().value(0);
        QCOMPARE(request.method, method);
        QCOMPARE(request.target, target);
        QCOMPARE(request.body, body);
        QCOMPARE(request.header("Content-Type"),
                 body.isEmpty() ? std::nullopt : std::optional<QByteArray>("application/json"));
        QCOMPARE(request.header("X-API-Key"),
                 body.isEmpty() ? std::optional<QByteArray>("sk_1") : std::nullopt);
    }

    // Login and token exchange: a refusal with a readable body is a reply
    // for the caller to word; anything else is an error.
    void reply_data()
    {
        QTest::addColumn<bool>("exchange");
        QTest::addColumn<int>("status");
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<Outcome>("outcome");
        QTest::newRow("login 200 with data")
            << false << 200
            << QByteArray(R"({"success":true,"data":{"serverUrl":"https://s.example",)"
                          R"("apiKey":"sk_new","tenantName":null,"userName":"ana"}})")
            << Outcome::returned;
        QTest::newRow("login 401 refusal is a reply")
            << false << 401
            << QByteArray(
                   R"({"success":false,"error":{"code":"INVALID_CREDENTIALS","message":"Wrong password"}})")
            << Outcome::returned;
        QTest::newRow("login 422 error without message")
            << false << 422 << QByteArray(R"({"success":false,"error":{"code":"X"}})")
            << Outcome::serverError;
        QTest::newRow("login 200 HTML") << false << 200 << html500() << Outcome::decodingError;
        QTest::newRow("exchange 200, values at the top")
            << true << 200
            << QByteArray(
                   R"({"success":true,"apiKey":"sk_t","serverUrl":"https://s.example","tenantName":"Acme",)"
                   R"("userName":"ana"})")
            << Outcome::returned;
        QTest::newRow("exchange 410 used token is a reply")
            << true << 410
            << QByteArray(R"({"success":false,"error":{"code":"TOKEN_USED","message":"Already used"}})")
            << Outcome::returned;
        QTest::newRow("exchange 502 text")
            << true << 502 << QByteArray("Bad gateway") << Outcome::serverError;
        QTest::newRow("exchange 200 error code missing")
            << true << 200 << QByteArray(R"({"success":false,"error":{"message":"m"}})")
            << Outcome::decodingError;
    }

    void reply()
    {
        QFETCH(bool, exchange);
        QFETCH(int, status);
        QFETCH(QByteArray, body);
        QFETCH(Outcome, outcome);
        m_server->enqueue(ScriptedReply::json(status, body));
        try {
            if (exchange) {
                const ExchangeTokenResponse response = blockingWait(LoginService::shared().exchangeSetupToken(
                    m_server->baseUrl(), QStringLiteral("t"), QStringLiteral("m")));
                QCOMPARE(response, ExchangeTokenResponse::decode(body));
            } else {
                const LoginResponse response = blockingWait(LoginService::shared().login(
                    m_server->baseUrl(), QStringLiteral("u"), QStringLiteral("p")));
                QCOMPARE(response, LoginResponse::decode(body));
            }
            QCOMPARE(outcome, Outcome::returned);
        } catch (const LoginError &error) {
            QCOMPARE(outcome, Outcome::serverError);
            QCOMPARE(error.kind(), LoginError::Kind::serverError);
            QCOMPARE(error.statusCode(), status);
        } catch (const DecodingError &) {
            QCOMPARE(outcome, Outcome::decodingError);
        }
    }

    void testConnectionStatus_data()
    {
        QTest::addColumn<int>("status");
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<bool>("expected");
        QTest::addColumn<bool>("keyRefused");
        QTest::addColumn<QString>("serverMessage");
        QTest::newRow("200, any body") << 200 << QByteArray("not json at all") << true << false << QString();
        QTest::newRow("204") << 204 << QByteArray() << false << false << QString();
        QTest::newRow("401")
            << 401
            << QByteArray(R"({"success":false,"error":{"code":"INVALID_API_KEY","message":"Bad key"}})")
            << false << true << QStringLiteral("Bad key");
        QTest::newRow("403") << 403 << QByteArray() << false << true << QString();
        QTest::newRow("503 explained")
            << 503 << QByteArray(R"({"Error":{"Code":"DOWN","Message":"Maintenance until noon"}})") << false
            << false << QStringLiteral("Maintenance until noon");
    }
    void testConnectionStatus()
    {
        QFETCH(int, status);
        QFETCH(QByteArray, body);
        QFETCH(bool, expected);
        QFETCH(bool, keyRefused);
        QFETCH(QString, serverMessage);
        m_server->enqueue(ScriptedReply::json(status, body));
        QCOMPARE(
            blockingWait(LoginService::shared().testConnection(m_server->baseUrl(), QStringLiteral("k"))),
            expected);
        m_server->enqueue(ScriptedReply::json(status, body));
        const StatusReply reply =
            blockingWait(LoginService::shared().status(m_server->baseUrl(), QStringLiteral("k")));
        QCOMPARE(reply.statusCode, status);
        QCOMPARE(reply.keyRefused(), keyRefused);
        QCOMPARE(reply.serverMessage.value_or(QString()), serverMessage);
    }

    // One transfer per operation: a connection test does not queue behind a
    // login the server is slow to answer, and cancel() stops what runs.
    void operationsRunSideBySideAndCancel()
    {
        ScriptedReply slow = ScriptedReply::json(200, R"({"success":true})");
        slow.delay = std::chrono::seconds(20);
        m_server->enqueue(slow);
        m_server->enqueue(ScriptedReply::json(200, "{}"));
        QCoro::Task<LoginResponse> login =
            LoginService::shared().login(m_server->baseUrl(), QStringLiteral("u"), QStringLiteral("p"));
        QVERIFY(m_server->waitForRequests(1));
        QElapsedTimer clock;
        clock.start();
        QVERIFY(
            blockingWait(LoginService::shared().testConnection(m_server->baseUrl(), QStringLiteral("k"))));
        QVERIFY(!login.isReady());

        LoginService::shared().cancel();
        try {
            blockingWait(std::move(login));
            QFAIL("a cancelled login returned");
        } catch (const TransportError &error) {
            QVERIFY(error.isCancellation());
        }
        QVERIFY(clock.elapsed() < 10000);
    }

    void unusableUrlSendsNothing_data()
    {
        QTest::addColumn<QString>("suffix");
        QTest::addColumn<bool>("replaceBase");
        QTest::addColumn<LoginError::Kind>("kind");
        QTest::newRow("empty server") << QString() << true << LoginError::Kind::invalidURL;
        QTest::newRow("host and port, no scheme")
            << QStringLiteral("localhost:8080") << true << LoginError::Kind::invalidURL;
        QTest::newRow("not HTTP") << QStringLiteral("ftp") << false << LoginError::Kind::invalidResponse;
    }
    void unusableUrlSendsNothing()
    {
        QFETCH(QString, suffix);
        QFETCH(bool, replaceBase);
        QFETCH(LoginError::Kind, kind);
        QString server = replaceBase ? suffix : m_server->baseUrl() + suffix;
        if (suffix == QLatin1String("ftp"))
            server = m_server->baseUrl().replace(QLatin1String("http:"), QLatin1String("ftp:"));
        const auto expectKind = [&](auto &&call) {
            try {
                call();
                QFAIL("no LoginError");
            } catch (const LoginError &error) {
                QCOMPARE(error.kind(), kind);
            }
        };
        expectKind([&] {
            blockingWait(LoginService::shared().login(server, QStringLiteral("u"), QStringLiteral("p")));
        });
        expectKind([&] {
            blockingWait(
                LoginService::shared().exchangeSetupToken(server, QStringLiteral("t"), QStringLiteral("m")));
        });
        expectKind([&] { blockingWait(LoginService::shared().testConnection(server, QStringLiteral("k"))); });
        QCOMPARE(m_server->connectionsAccepted(), 0);
    }

    void answerThatIsNotHttp_data()
    {
        QTest::addColumn<QByteArray>("answer");
        QTest::newRow("another protocol") << QByteArray("SSH-2.0-OpenSSH_9.2\r\n");
    }
    void answerThatIsNotHttp()
    {
        QFETCH(QByteArray, answer);
        ScriptedReply raw;
        raw.raw = answer;
        m_server->setDefaultReply(raw);
        const auto expectInvalidResponse = [](auto &&call) {
            try {
                call();
                QFAIL("no LoginError");
            } catch (const LoginError &error) {
                QCOMPARE(error.kind(), LoginError::Kind::invalidResponse);
            }
        };
        const QString server = m_server->baseUrl();
        expectInvalidResponse([&] {
            blockingWait(LoginService::shared().login(server, QStringLiteral("u"), QStringLiteral("p")));
        });
        expectInvalidResponse([&] {
            blockingWait(
                LoginService::shared().exchangeSetupToken(server, QStringLiteral("t"), QStringLiteral("m")));
        });
        expectInvalidResponse(
            [&] { blockingWait(LoginService::shared().testConnection(server, QStringLiteral("k"))); });
    }

    void transportFailurePassesThrough()
    {
        const QString closed = m_server->baseUrl();
        m_server.reset();
        try {
            blockingWait(LoginService::shared().login(closed, QStringLiteral("u"), QStringLiteral("p")));
            QFAIL("no failure from a closed port");
        } catch (const TransportError &error) {
            QCOMPARE(error.kind(), TransportError::Kind::connection);
        }
        m_server = std::make_unique<LoopbackHttpServer>();
    }
};

QTEST_GUILESS_MAIN(LoginServiceTest)
#include "LoginServiceTest.moc"
