#include "ServerFixture.h"

#include <QProcess>
#include <QRegularExpression>

#include <csignal>
#include <unistd.h>

using namespace sendova::server;
using namespace sendova::server::test;

namespace {

const QString Binary = QStringLiteral(SENDOVA_SERVER_BINARY);

struct Outcome
{
    int exitCode = -1;
    QByteArray out;
    QByteArray err;
};

// Started in a session of its own: without a controlling terminal a
// password prompt cannot wait on whoever runs the tests.
void detach(QProcess &process, const QString &dataHome)
{
    process.setChildProcessModifier([] { ::setsid(); });
    auto env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("XDG_DATA_HOME"), dataHome);
    process.setProcessEnvironment(env);
}

Outcome run(const QStringList &args, const QString &dataHome, const QByteArray &input = {})
{
    QProcess process;
    detach(process, dataHome);
    process.start(Binary, args);
    if (!process.waitForStarted()) {
        return {};
    }
    process.write(input);
    process.closeWriteChannel();
    process.waitForFinished(60000);
    return Outcome{process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1,
                   process.readAllStandardOutput(), process.readAllStandardError()};
}

} // namespace

class TestServerCli : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void usageAndExitCodes_data();
    void usageAndExitCodes();
    void userAdministration();
    void serveAnswersAndStopsCleanly_data();
    void serveAnswersAndStopsCleanly();
    void portInUseFails();
    void secondServerOnSameDataIsRefused();

private:
    QTemporaryDir m_home;
};

void TestServerCli::usageAndExitCodes_data()
{
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QByteArray>("message");
    QTest::newRow("nothing") << QStringList() << 2 << QByteArray("Usage: sendova-server");
    QTest::newRow("--help") << QStringList{QStringLiteral("--help")} << 0
                            << QByteArray("Usage: sendova-server");
    QTest::newRow("serve --help") << QStringList{QStringLiteral("serve"), QStringLiteral("--help")} << 0
                                  << QByteArray("--listen HOST:PORT");
    QTest::newRow("unknown command") << QStringList{QStringLiteral("launch")} << 2
                                     << QByteArray("unknown command: launch");
    QTest::newRow("unknown option") << QStringList{QStringLiteral("serve"), QStringLiteral("--port=1")} << 2
                                    << QByteArray("unknown option --port");
    QTest::newRow("option without value") << QStringList{QStringLiteral("serve"), QStringLiteral("--listen")}
                                          << 2 << QByteArray("--listen needs a value");
    QTest::newRow("listen without port")
        << QStringList{QStringLiteral("serve"), QStringLiteral("--listen"), QStringLiteral("localhost")} << 2
        << QByteArray("HOST:PORT");
    QTest::newRow("port too large") << QStringList{QStringLiteral("serve"), QStringLiteral("--listen"),
                                                   QStringLiteral("127.0.0.1:70000")}
                                    << 2 << QByteArray("at most 65535");
    QTest::newRow("bad size") << QStringList{QStringLiteral("serve"), QStringLiteral("--max-size"),
                                             QStringLiteral("lots")}
                              << 2 << QByteArray("--max-size");
    QTest::newRow("public URL without scheme")
        << QStringList{QStringLiteral("serve"), QStringLiteral("--public-url"), QStringLiteral("example.org")}
        << 2 << QByteArray("http://");
    QTest::newRow("user without action")
        << QStringList{QStringLiteral("user")} << 2 << QByteArray("sub-command");
    QTest::newRow("user add without name")
        << QStringList{QStringLiteral("user"), QStringLiteral("add")} << 2 << QByteArray("exactly one NAME");
    QTest::newRow("bad user name") << QStringList{QStringLiteral("user"), QStringLiteral("add"),
                                                  QStringLiteral("a/b")}
                                   << 2 << QByteArray("user name");
    QTest::newRow("setup-link without user")
        << QStringList{QStringLiteral("setup-link")} << 2 << QByteArray("exactly one USER");
}

void TestServerCli::usageAndExitCodes()
{
    QFETCH(QStringList, args);
    QFETCH(int, exitCode);
    QFETCH(QByteArray, message);
    const auto outcome = run(args, m_home.path());
    QCOMPARE(outcome.exitCode, exitCode);
    QVERIFY2((exitCode == 0 ? outcome.out : outcome.err).contains(message),
             (outcome.out + outcome.err).constData());
}

void TestServerCli::userAdministration()
{
    QTemporaryDir dir;
    const QString data = dir.path() + QStringLiteral("/data");
    const QStringList dataArgs{QStringLiteral("--data"), data};
    const auto add = [&](const QString &name, const QByteArray &password) {
        return run(QStringList{QStringLiteral("user"), QStringLiteral("add"), name,
                               QStringLiteral("--password-stdin")} +
                       dataArgs,
                   m_home.path(), password);
    };
    QCOMPARE(add(QStringLiteral("dora"), "long enough password\n").exitCode, 0);
    QCOMPARE(add(QStringLiteral("dora"), "long enough password\n").exitCode, 1);
    const auto shortPassword = add(QStringLiteral("eve"), "short\n");
    QCOMPARE(shortPassword.exitCode, 1);
    QVERIFY(shortPassword.err.contains("at least 8"));
    // No terminal and no --password-stdin: refused instead of waiting.
    const auto noTerminal =
        run(QStringList{QStringLiteral("user"), QStringLiteral("add"), QStringLiteral("fred")} + dataArgs,
            m_home.path());
    QCOMPARE(noTerminal.exitCode, 1);
    QVERIFY(noTerminal.err.contains("--password-stdin"));

    QCOMPARE(
        run(QStringList{QStringLiteral("user"), QStringLiteral("disable"), QStringLiteral("dora")} + dataArgs,
            m_home.path())
            .exitCode,
        0);
    const auto list =
        run(QStringList{QStringLiteral("user"), QStringLiteral("list")} + dataArgs, m_home.path());
    QCOMPARE(list.exitCode, 0);
    QCOMPARE(list.out, QByteArray("dora (disabled)\n"));
    QCOMPARE(run(QStringList{QStringLiteral("user"), QStringLiteral("enable"), QStringLiteral("nobody")} +
                     dataArgs,
                 m_home.path())
                 .exitCode,
             1);
    // Before any serve the server's address is unknown, unless given.
    const auto noServer =
        run(QStringList{QStringLiteral("setup-link"), QStringLiteral("dora")} + dataArgs, m_home.path());
    QCOMPARE(noServer.exitCode, 1);
    QVERIFY(noServer.err.contains("--server"));
}

void TestServerCli::serveAnswersAndStopsCleanly_data()
{
    QTest::addColumn<int>("signal");
    QTest::newRow("SIGTERM") << int(SIGTERM);
    QTest::newRow("SIGINT") << int(SIGINT);
}

void TestServerCli::serveAnswersAndStopsCleanly()
{
    QFETCH(int, signal);
    QTemporaryDir dir;
    const QString data = dir.path() + QStringLiteral("/data");
    const QStringList dataArgs{QStringLiteral("--data"), data};
    QCOMPARE(run(QStringList{QStringLiteral("user"), QStringLiteral("add"), QStringLiteral("gina"),
                             QStringLiteral("--password-stdin")} +
                     dataArgs,
                 m_home.path(), "gina's password\n")
                 .exitCode,
             0);

    QProcess serve;
    detach(serve, m_home.path());
    serve.start(Binary, QStringList{QStringLiteral("serve"), QStringLiteral("--listen"),
                                    QStringLiteral("127.0.0.1:0"), QStringLiteral("--max-size"),
                                    QStringLiteral("1K"), QStringLiteral("--quiet")} +
                            dataArgs);
    QVERIFY(serve.waitForStarted());
    QByteArray line;
    while (!line.contains('\n') && serve.waitForReadyRead(30000)) {
        line += serve.readAllStandardOutput();
    }
    const auto match =
        QRegularExpression(QStringLiteral("^sendova-server listening on (http://127\\.0\\.0\\.1:(\\d+)) "))
            .match(QString::fromUtf8(line));
    QVERIFY2(match.hasMatch(), line.constData());
    const QString url = match.captured(1);
    const int port = match.captured(2).toInt();
    QVERIFY(port > 0);

    httplib::Client client("127.0.0.1", port);
    const auto login = client.Post("/api/auth/login", R"({"userName":"gina","password":"gina's password"})",
                                   "application/json");
    QVERIFY(login);
    QCOMPARE(login->status, 200);
    QCOMPARE(QString::fromStdString(jsonOf(login)["data"]["serverUrl"]), url);
    const std::string key = jsonOf(login)["data"]["apiKey"];

    const auto link =
        run(QStringList{QStringLiteral("setup-link"), QStringLiteral("gina")} + dataArgs, m_home.path());
    QCOMPARE(link.exitCode, 0);
    const auto linkMatch =
        QRegularExpression(QStringLiteral("^sendova://setup\\?token=([A-Za-z0-9_-]{20,})&server=(.+)\n$"))
            .match(QString::fromUtf8(link.out));
    QVERIFY2(linkMatch.hasMatch(), link.out.constData());
    QCOMPARE(QUrl::fromPercentEncoding(linkMatch.captured(2).toUtf8()), url);
    QCOMPARE(linkMatch.captured(2), QString::fromLatin1(QUrl::toPercentEncoding(url)));
    const Json exchange{{"token", linkMatch.captured(1).toStdString()}, {"machineName", "cli test"}};
    QCOMPARE(client.Post("/api/exchange-setup-token", exchange.dump(), "application/json")->status, 200);
    QCOMPARE(client.Post("/api/exchange-setup-token", exchange.dump(), "application/json")->status, 401);

    const std::string boundary = "b0undary";
    const auto tooLarge = client.Post("/api/upload", httplib::Headers{{"X-API-Key", key}},
                                      multipartBody(boundary, "big.bin", std::string(1025, 'x')),
                                      "multipart/form-data; boundary=" + boundary);
    QCOMPARE(tooLarge->status, 413);
    const auto fits = client.Post("/api/upload", httplib::Headers{{"X-API-Key", key}},
                                  multipartBody(boundary, "small.bin", std::string(1024, 'x')),
                                  "multipart/form-data; boundary=" + boundary);
    QCOMPARE(fits->status, 200);

    ::kill(static_cast<pid_t>(serve.processId()), signal);
    QVERIFY(serve.waitForFinished(30000));
    QCOMPARE(serve.exitStatus(), QProcess::NormalExit);
    QCOMPARE(serve.exitCode(), 0);
    QVERIFY(serve.readAllStandardOutput().contains("sendova-server stopped"));
    QVERIFY(std::filesystem::is_empty(std::filesystem::path(data.toStdString()) / "tmp"));
}

void TestServerCli::portInUseFails()
{
    QTemporaryDir dir;
    RunningServer occupant;
    const auto outcome = run(QStringList{QStringLiteral("serve"), QStringLiteral("--listen"),
                                         QStringLiteral("127.0.0.1:%1").arg(occupant.server().port()),
                                         QStringLiteral("--data"), dir.path()},
                             m_home.path());
    QCOMPARE(outcome.exitCode, 1);
    QVERIFY(outcome.err.contains("cannot listen"));
}

void TestServerCli::secondServerOnSameDataIsRefused()
{
    RunningServer occupant;
    const auto outcome =
        run(QStringList{QStringLiteral("serve"), QStringLiteral("--listen"), QStringLiteral("127.0.0.1:0"),
                        QStringLiteral("--data"), QString::fromStdString(occupant.dataDir().string())},
            m_home.path());
    QCOMPARE(outcome.exitCode, 1);
    QVERIFY2(outcome.err.contains("already serving"), outcome.err.constData());
}

QTEST_GUILESS_MAIN(TestServerCli)
#include "tst_server_cli.moc"
