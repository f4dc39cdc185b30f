#include "ServerFixture.h"

#include <QProcess>
#include <QRegularExpression>

#include <csignal>

using namespace sendova::server;
using namespace sendova::server::test;

namespace {

struct Outcome
{
    int exitCode = -1;
    QByteArray out;
    QByteArray err;
};

// The exit code, and a piece of what it printed.
bool answers(const Outcome &outcome, int exitCode, const QByteArray &text)
{
    if (outcome.exitCode == exitCode && (outcome.out + outcome.err).contains(text)) {
        return true;
    }
    qWarning("exit code %d, printed: %s", outcome.exitCode, (outcome.out + outcome.err).constData());
    return false;
}

} // namespace

class ServerCommandLineTest : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void usageAndExitCodes_data()
    {
        QTest::addColumn<QByteArray>("commandLine");
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<QByteArray>("message");
        QTest::newRow("nothing") << QByteArray() << 2 << QByteArray("Usage: sendova-server");
        QTest::newRow("--help") << QByteArray("--help") << 0 << QByteArray("Usage: sendova-server");
        QTest::newRow("unknown command")
            << QByteArray("launch") << 2 << QByteArray("unknown command: launch");
        QTest::newRow("option without value")
            << QByteArray("serve --listen") << 2 << QByteArray("--listen needs a value");
        QTest::newRow("port too large")
            << QByteArray("serve --listen 127.0.0.1:70000") << 2 << QByteArray("at most 65535");
        QTest::newRow("setup-link without user")
            << QByteArray("setup-link") << 2 << QByteArray("exactly one USER");
    }

    void usageAndExitCodes()
    {
        QFETCH(QByteArray, commandLine);
        QFETCH(int, exitCode);
        QFETCH(QByteArray, message);
        const auto outcome = run(commandLine);
        QVERIFY(answers(outcome, exitCode, message));
        QVERIFY(!(exitCode == 0 ? outcome.err : outcome.out).contains(message));
    }

    void userAdministration()
    {
        const QByteArray add = "user add dora --password-stdin --data DATA";
        // The data folder is its owner's alone: one others may read is made
        // private, and the administrator told; one they may change is refused.
        QVERIFY(QDir().mkpath(m_data));
        QFile::setPermissions(m_data,
                              QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner | QFile::ReadOther);
        QVERIFY(answers(run(add, "long enough password\n"), 0, "private (mode 0704 is now 0700)"));
        QFile::setPermissions(m_data, QFile::permissions(m_data) | QFile::WriteGroup);
        QVERIFY(answers(run("user list --data DATA"), 1, "can be changed by other users (mode 0720)"));
        QFile::setPermissions(m_data, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);

        QVERIFY(answers(run(add, "long enough password\n"), 1, "already exists"));
        QVERIFY(answers(run("user add eve --password-stdin --data DATA", "short\n"), 1, "at least 8"));
        // No terminal and no --password-stdin: refused instead of waiting.
        QVERIFY(answers(run("user add fred --data DATA"), 1, "--password-stdin"));
        QVERIFY(answers(run("user disable dora --data DATA"), 0, "User dora disabled"));
        QCOMPARE(run("user list --data DATA").out, QByteArray("dora (disabled)\n"));
        QVERIFY(answers(run("user enable nobody --data DATA"), 1, "no user named nobody"));
        // Before any serve the server's address is unknown, unless given.
        QVERIFY(answers(run("setup-link dora --data DATA"), 1, "--server"));
    }

    void serveAnswersAndStopsPromptly_data()
    {
        QTest::addColumn<int>("signal");
        QTest::newRow("SIGTERM") << int(SIGTERM);
        QTest::newRow("SIGINT") << int(SIGINT);
    }

    void serveAnswersAndStopsPromptly()
    {
        QFETCH(int, signal);
        m_data = m_home.path() + QStringLiteral("/serve-") + QString::number(signal);
        QCOMPARE(run("user add gina --password-stdin --data DATA", "gina's password\n").exitCode, 0);
        QProcess serve;
        start(serve, "serve --listen 127.0.0.1:0 --max-size 1K --quiet --data " + m_data.toUtf8());
        QByteArray line;
        while (!line.contains('\n') && serve.waitForReadyRead(30000)) {
            line += serve.readAllStandardOutput();
        }
        const auto match =
            QRegularExpression(
                QStringLiteral("^sendova-server listening on (http://127\\.0\\.0\\.1:(\\d+)) "))
                .match(QString::fromUtf8(line));
        QVERIFY2(match.hasMatch(), line.constData());
        const QString url = match.captured(1);
        const int port = match.captured(2).toInt();

        httplib::Client client("127.0.0.1", port);
        const auto login = jsonOf(
            client.Post("/api/auth/login", Json{{"userName", "gina"}, {"password", "gina's password"}}.dump(),
                        "application/json"));
        QCOMPARE(QString::fromStdString(login["data"]["serverUrl"]), url);
        const httplib::Headers key{{"X-API-Key", login["data"]["apiKey"]}};
        const auto link = run("setup-link gina --data DATA");
        const auto linkMatch =
            QRegularExpression(QStringLiteral("^sendova://setup\\?token=([A-Za-z0-9_-]{20,})&server=(.+)\n$"))
                .match(QString::fromUtf8(link.out));
        QVERIFY2(linkMatch.hasMatch(), link.out.constData());
        QCOMPARE(linkMatch.captured(2), QString::fromLatin1(QUrl::toPercentEncoding(url)));
        const Json exchange{{"token", linkMatch.captured(1).toStdString()}, {"machineName", "cli test"}};
        QCOMPARE(client.Post("/api/exchange-setup-token", exchange.dump(), "application/json")->status, 200);
        const std::string form = "multipart/form-data; boundary=b";
        QCOMPARE(client.Post("/api/upload", key, multipartBody("b", "big.bin", std::string(1025, 'x')), form)
                     ->status,
                 413);
        QCOMPARE(
            client.Post("/api/upload", key, multipartBody("b", "fits.bin", std::string(1024, 'x')), form)
                ->status,
            200);

        // Neither a kept-alive connection nor a request still arriving holds up the stop.
        RawConnection idle(port);
        QVERIFY(idle.send("GET / HTTP/1.1\r\nHost: x\r\n\r\n"));
        QVERIFY(idle.read(false).starts_with("HTTP/1.1 200 "));
        RawConnection arriving(port);
        QVERIFY(arriving.send("GET / HTTP/1.1\r\nHost: x\r\n"));
        ::kill(static_cast<pid_t>(serve.processId()), signal);
        QVERIFY(serve.waitForFinished(3000));
        QVERIFY(serve.exitStatus() == QProcess::NormalExit && serve.exitCode() == 0);
        QVERIFY(serve.readAllStandardOutput().contains("sendova-server stopped"));
        QVERIFY(std::filesystem::is_empty(std::filesystem::path(m_data.toStdString()) / "tmp"));
    }

    void serveRefusesATakenPortOrFolder()
    {
        RunningServer occupant;
        QVERIFY(
            answers(run("serve --listen 127.0.0.1:" + QByteArray::number(occupant.port()) + " --data DATA"),
                    1, "cannot listen"));
        QVERIFY(answers(run("serve --listen 127.0.0.1:0 --data " + QByteArray(occupant.dataDir().c_str())), 1,
                        "already serving"));
    }

private:
    // Started in a session of its own: without a controlling terminal a
    // password prompt cannot wait on whoever runs the tests.
    void start(QProcess &process, const QByteArray &commandLine)
    {
        process.setChildProcessModifier([] { ::setsid(); });
        auto env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("XDG_DATA_HOME"), m_home.path());
        process.setProcessEnvironment(env);
        process.start(QStringLiteral(SENDOVA_SERVER_BINARY),
                      QString::fromUtf8(commandLine).split(u' ', Qt::SkipEmptyParts));
    }
    // DATA in the command line stands for the test's data folder.
    Outcome run(QByteArray commandLine, const QByteArray &input = {})
    {
        QProcess process;
        start(process, commandLine.replace("DATA", m_data.toUtf8()));
        process.write(input);
        process.closeWriteChannel();
        process.waitForFinished(60000);
        return Outcome{process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1,
                       process.readAllStandardOutput(), process.readAllStandardError()};
    }

    QTemporaryDir m_home;
    QString m_data = m_home.path() + QStringLiteral("/data");
};

QTEST_GUILESS_MAIN(ServerCommandLineTest)
#include "ServerCommandLineTest.moc"
