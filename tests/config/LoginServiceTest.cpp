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

// Parses what the client sent; compact means no whitespace between tokens.
json::Json sentJson(const RecordedRequest &request)
{
    return json::Json::parse(request.body.constBegin(), request.body.constEnd());
}

bool isCompact(const QByteArray &body)
{
    return json::OrderedJson::parse(body.constBegin(), body.constEnd()).dump() == body.toStdString();
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

    void loginRequestOnTheWire()
    {
        m_server->enqueue(ScriptedReply::json(200, R"({"success":true})"));
        blockingWait(LoginService::shared().login(m_server->baseUrl(), QStringLiteral("ana@example.org"),
                                                  QStringLiteral("pa\"ss wörd")));
        QCOMPARE(m_server->requests().size(), 1);
        const RecordedRequest request = m_server->requests().first();
        QCOMPARE(request.method, QByteArray("POST"));
        QCOMPARE(request.target, QByteArray("/api/auth/login"));
        QCOMPARE(request.header("Content-Type"), std::optional<QByteArray>("application/json"));
        QCOMPARE(request.headerCount("X-API-Key"), 0);
        QVERIFY(isCompact(request.body));
        const json::Json json = sentJson(request);
        QCOMPARE(json.size(), std::size_t(3));
        QCOMPARE(json.at("userName"), json::Json("ana@example.org"));
        QCOMPARE(json.at("password"), json::Json("pa\"ss w\u00f6rd"));
        QCOMPARE(json.at("reuseExisting"), json::Json(false));
    }

    void exchangeRequestOnTheWire()
    {
        m_server->enqueue(ScriptedReply::json(200, R"({"success":true})"));
        blockingWait(LoginService::shared().exchangeSetupToken(m_server->baseUrl(), QStringLiteral("tok-123"),
                                                               QStringLiteral("Ana's laptop")));
        const RecordedRequest request = m_server->requests().value(0);
        QCOMPARE(request.method, QByteArray("POST"));
        QCOMPARE(request.target, QByteArray("/api/exchange-setup-token"));
        QCOMPARE(request.header("Content-Type"), std::optional<QByteArray>("application/json"));
        QCOMPARE(request.headerCount("X-API-Key"), 0);
        QVERIFY(isCompact(request.body));
        const json::Json json = sentJson(request);
        QCOMPARE(json.size(), std::size_t(2));
        QCOMPARE(json.at("token"), json::Json("tok-123"));
        QCOMPARE(json.at("machineName"), json::Json("Ana's laptop"));
    }

    void testConnectionRequestOnTheWire()
    {
        m_server->enqueue(ScriptedReply::json(200, "{}"));
        QVERIFY(
            blockingWait(LoginService::shared().testConnection(m_server->baseUrl(), QStringLiteral("sk_1"))));
        const RecordedRequest request = m_server->requests().value(0);
        QCOMPARE(request.method, QByteArray("GET"));
        QCOMPARE(request.target, QByteArray("/api/status"));
        QCOMPARE(request.header("X-API-Key"), std::optional<QByteArray>("sk_1"));
        QCOMPARE(request.headerCount("Content-Type"), 0);
        QCOMPARE(request.contentLength, qint64(0));
    }

    void serverUrlIsUsedUnchanged()
    {
        m_server->enqueue(ScriptedReply::json(200, R"({"success":true})"));
        blockingWait(LoginService::shared().login(m_server->baseUrl() + QLatin1Char('/'), QStringLiteral("a"),
                                                  QStringLiteral("b")));
        QCOMPARE(m_server->requests().value(0).target, QByteArray("//api/auth/login"));
    }

    void loginReply_data()
    {
        QTest::addColumn<int>("status");
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<Outcome>("outcome");
        QTest::newRow("200 with data")
            << 200
            << QByteArray(R"({"success":true,"data":{"serverUrl":"https://s.example",)"
                          R"("apiKey":"sk_new","tenantName":"Acme","userName":"ana"}})")
            << Outcome::returned;
        QTest::newRow("401 refusal is a reply")
            << 401
            << QByteArray(
                   R"({"success":false,"error":{"code":"INVALID_CREDENTIALS","message":"Wrong password"}})")
            << Outcome::returned;
        QTest::newRow("403 tenant inactive is a reply")
            << 403
            << QByteArray(R"({"success":false,"error":{"code":"TENANT_INACTIVE","message":"x"},"extra":1})")
            << Outcome::returned;
        QTest::newRow("201, data null")
            << 201 << QByteArray(R"({"success":true,"data":null})") << Outcome::returned;
        QTest::newRow("500 HTML") << 500 << html500() << Outcome::serverError;
        QTest::newRow("400 empty body") << 400 << QByteArray() << Outcome::serverError;
        QTest::newRow("422 error without message")
            << 422 << QByteArray(R"({"success":false,"error":{"code":"X"}})") << Outcome::serverError;
        QTest::newRow("200 without success")
            << 200 << QByteArray(R"({"data":{"apiKey":"k"}})") << Outcome::decodingError;
        QTest::newRow("200 HTML") << 200 << html500() << Outcome::decodingError;
        QTest::newRow("204 no body") << 204 << QByteArray() << Outcome::decodingError;
        QTest::newRow("200 apiKey of the wrong type")
            << 200 << QByteArray(R"({"success":true,"data":{"apiKey":42}})") << Outcome::decodingError;
    }
    void loginReply()
    {
        QFETCH(int, status);
        QFETCH(QByteArray, body);
        QFETCH(Outcome, outcome);
        m_server->enqueue(ScriptedReply::json(status, body));
        try {
            const LoginResponse response = blockingWait(
                LoginService::shared().login(m_server->baseUrl(), QStringLiteral("u"), QStringLiteral("p")));
            QCOMPARE(outcome, Outcome::returned);
            QCOMPARE(response, LoginResponse::decode(body));
            QCOMPARE(response.success, status < 400);
        } catch (const LoginError &error) {
            QCOMPARE(outcome, Outcome::serverError);
            QCOMPARE(error.kind(), LoginError::Kind::serverError);
            QCOMPARE(error.statusCode(), status);
            QCOMPARE(error.description(), QStringLiteral("Server error (%1)").arg(status));
        } catch (const DecodingError &) {
            QCOMPARE(outcome, Outcome::decodingError);
        }
    }

    void loginReplyFields()
    {
        m_server->enqueue(ScriptedReply::json(
            401, R"({"success":false,"error":{"code":"INVALID_CREDENTIALS","message":"Wrong password"}})"));
        const LoginResponse refused = blockingWait(
            LoginService::shared().login(m_server->baseUrl(), QStringLiteral("u"), QStringLiteral("p")));
        QVERIFY(!refused.success);
        QVERIFY(!refused.data);
        QCOMPARE(refused.error, (std::optional<LoginErrorInfo>({QStringLiteral("INVALID_CREDENTIALS"),
                                                                QStringLiteral("Wrong password")})));

        m_server->enqueue(
            ScriptedReply::json(200, R"({"success":true,"data":{"apiKey":"sk_new","tenantName":null}})"));
        const LoginResponse accepted = blockingWait(
            LoginService::shared().login(m_server->baseUrl(), QStringLiteral("u"), QStringLiteral("p")));
        QVERIFY(accepted.data);
        QCOMPARE(accepted.data->apiKey, std::optional<QString>(QStringLiteral("sk_new")));
        QVERIFY(!accepted.data->tenantName);
        QVERIFY(!accepted.data->serverUrl);
    }

    void exchangeReply_data()
    {
        QTest::addColumn<int>("status");
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<Outcome>("outcome");
        QTest::newRow("200, values at the top")
            << 200
            << QByteArray(
                   R"({"success":true,"apiKey":"sk_t","serverUrl":"https://s.example","tenantName":"Acme",)"
                   R"("userName":"ana"})")
            << Outcome::returned;
        QTest::newRow("410 used token is a reply")
            << 410
            << QByteArray(R"({"success":false,"error":{"code":"TOKEN_USED","message":"Already used"}})")
            << Outcome::returned;
        QTest::newRow("502 text") << 502 << QByteArray("Bad gateway") << Outcome::serverError;
        QTest::newRow("200 success as text")
            << 200 << QByteArray(R"({"success":"true"})") << Outcome::decodingError;
        QTest::newRow("200 error code missing")
            << 200 << QByteArray(R"({"success":false,"error":{"message":"m"}})") << Outcome::decodingError;
    }
    void exchangeReply()
    {
        QFETCH(int, status);
        QFETCH(QByteArray, body);
        QFETCH(Outcome, outcome);
        m_server->enqueue(ScriptedReply::json(status, body));
        try {
            const ExchangeTokenResponse response = blockingWait(LoginService::shared().exchangeSetupToken(
                m_server->baseUrl(), QStringLiteral("t"), QStringLiteral("m")));
            QCOMPARE(outcome, Outcome::returned);
            QCOMPARE(response, ExchangeTokenResponse::decode(body));
            if (status == 200) {
                QCOMPARE(response.apiKey, std::optional<QString>(QStringLiteral("sk_t")));
                QCOMPARE(response.userName, std::optional<QString>(QStringLiteral("ana")));
            } else {
                QCOMPARE(response.error->code, QStringLiteral("TOKEN_USED"));
            }
        } catch (const LoginError &error) {
            QCOMPARE(outcome, Outcome::serverError);
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
        QTest::newRow("200, empty") << 200 << QByteArray() << true << false << QString();
        QTest::newRow("204") << 204 << QByteArray() << false << false << QString();
        QTest::newRow("201") << 201 << QByteArray(R"({"ok":true})") << false << false << QString();
        QTest::newRow("401")
            << 401
            << QByteArray(R"({"success":false,"error":{"code":"INVALID_API_KEY","message":"Bad key"}})")
            << false << true << QStringLiteral("Bad key");
        QTest::newRow("403") << 403 << QByteArray() << false << true << QString();
        QTest::newRow("500") << 500 << html500() << false << false << QString();
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
        QTest::newRow("space in the host") << QStringLiteral(" x") << false << LoginError::Kind::invalidURL;
        QTest::newRow("empty server") << QString() << true << LoginError::Kind::invalidURL;
        QTest::newRow("no scheme") << QStringLiteral("127.0.0.1") << true << LoginError::Kind::invalidURL;
        QTest::newRow("host and port, no scheme")
            << QStringLiteral("localhost:8080") << true << LoginError::Kind::invalidURL;
        QTest::newRow("no host") << QStringLiteral("http://") << true << LoginError::Kind::invalidURL;
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
        QTest::newRow("no status line") << QByteArray("hello\r\n");
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

    void descriptionsFollowTheCurrentLanguage()
    {
        const LoginError error = LoginError::serverError(503);
        QCOMPARE(error.description(), QStringLiteral("Server error (503)"));
        LocalizationService::shared().setLanguage(Language::spanish);
        QCOMPARE(error.description(), QStringLiteral("Error del servidor (503)"));
        QCOMPARE(LoginError::invalidURL(QStringLiteral("x")).description(),
                 QStringLiteral("La direcci\u00f3n del servidor no es v\u00e1lida"));
        LocalizationService::shared().setLanguage(Language::english);
    }
};

QTEST_GUILESS_MAIN(LoginServiceTest)
#include "LoginServiceTest.moc"
