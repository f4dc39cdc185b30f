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
    void initTestCase()
    {
        QVERIFY(answers(run("user add dora --password-stdin --data DATA", "long enough password\n"), 0, ""));
    }

    void commandLine_data()
    {
        // DATA stands for a data folder that holds the user dora; PORT and BUSY for another server's.
        QTest::addColumn<QByteArray>("commandLine");
        QTest::addColumn<QByteArray>("input");
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<QByteArray>("message");
        const auto row = [](const char *name, const char *commandLine, const char *input, int exitCode,
                            const char *message) {
            QTest::newRow(name) << QByteArray(commandLine) << QByteArray(input) << exitCode
                                << QByteArray(message);
        };
        row("nothing", "", "", 2, "Usage: sendova-server");
        row("--help", "--help", "", 0, "Usage: sendova-server");
        row("user twice", "user add dora --password-stdin --data DATA", "long enough password\n", 1,
            "already exists");
        row("short password", "user add eve --password-stdin --data DATA", "short\n", 1, "at least 8");
        // No terminal and no --password-stdin: refused instead of waiting.
        row("no way to ask a password", "user add fred --data DATA", "", 1, "--password-stdin");
        // Before any serve the server's address is unknown, unless given.
        row("setup-link before any serve", "setup-link dora --data DATA", "", 1, "--server");
        row("taken port", "serve --listen 127.0.0.1:PORT --data DATA", "", 1, "cannot listen");
        row("folder served by another", "serve --listen 127.0.0.1:0 --data BUSY", "", 1, "already serving");
    }

    void commandLine()
    {
        QFETCH(QByteArray, commandLine);
        QFETCH(QByteArray, input);
        QFETCH(int, exitCode);
        QFETCH(QByteArray, message);
        commandLine.replace("PORT", QByteArray::number(m_occupant.port()))
            .replace("BUSY", m_occupant.dataDir().c_str());
        const auto outcome = run(commandLine, input);
        QVERIFY(answers(outcome, exitCode, message));
        QVERIFY(!(exitCode == 0 ? outcome.err : outcome.out).contains(message));
    }

    // The data folder is its owner's alone: one others may read is made
    // private, and the administrator told; one they may change is refused.
    void dataFolderStaysPrivate()
    {
        m_data = m_home.path() + QStringLiteral("/private");
        QVERIFY(QDir().mkpath(m_data));
        QFile::setPermissions(m_data,
                              QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner | QFile::ReadOther);
        const QByteArray add = "user add gina --password-stdin --data DATA";
        QVERIFY(answers(run(add, "long enough password\n"), 0, "private (mode 0704 is now 0700)"));
        QVERIFY(answers(run("user disable gina --data DATA"), 0, "User gina disabled"));
        QCOMPARE(run("user list --data DATA").out, QByteArray("gina (disabled)\n"));
        QFile::setPermissions(m_data, QFile::permissions(m_data) | QFile::WriteGroup);
        QVERIFY(answers(run("user list --data DATA"), 1, "can be changed by other users (mode 0720)"));
    }

    void serveStopsPromptlyAndCleanly_data()
    {
        QTest::addColumn<int>("signal");
        QTest::newRow("SIGTERM") << int(SIGTERM);
        QTest::newRow("SIGINT") << int(SIGINT);
    }

    // Neither a kept-alive connection nor a request still arriving holds up
    // the stop, and what a crash left behind (a half-received upload, a blob
    // without a record) is gone once it has served.
    void serveStopsPromptlyAndCleanly()
    {
        QFETCH(int, signal);
        m_data = m_home.path() + QStringLiteral("/serve-") + QString::number(signal);
        QVERIFY(answers(run("user add gina --password-stdin --data DATA", "long enough password\n"), 0, ""));
        const std::filesystem::path data = m_data.toStdString();
        const std::string orphan = sha256Hex("orphan");
        std::filesystem::create_directories(data / "blobs" / orphan.substr(0, 2));
        std::filesystem::create_directories(data / "tmp");
        std::ofstream(data / "blobs" / orphan.substr(0, 2) / orphan) << "orphan";
        std::ofstream(data / "tmp" / "upload-abc123") << "partial";

        QProcess serve;
        start(serve, "serve --listen 127.0.0.1:0 --quiet --data " + m_data.toUtf8());
        QByteArray line;
        while (!line.contains('\n') && serve.waitForReadyRead(30000)) {
            line += serve.readAllStandardOutput();
        }
        const auto match =
            QRegularExpression(QStringLiteral("^sendova-server listening on http://127\\.0\\.0\\.1:(\\d+) "))
                .match(QString::fromUtf8(line));
        QVERIFY2(match.hasMatch(), line.constData());
        RawConnection idle(match.captured(1).toInt());
        QVERIFY(idle.send("GET / HTTP/1.1\r\nHost: x\r\n\r\n"));
        QVERIFY(idle.read(false).starts_with("HTTP/1.1 200 "));
        RawConnection arriving(match.captured(1).toInt());
        QVERIFY(arriving.send("GET / HTTP/1.1\r\nHost: x\r\n"));
        ::kill(static_cast<pid_t>(serve.processId()), signal);
        QVERIFY(serve.waitForFinished(3000));
        QVERIFY(serve.exitStatus() == QProcess::NormalExit && serve.exitCode() == 0);
        QVERIFY(serve.readAllStandardOutput().contains("sendova-server stopped"));
        QVERIFY(std::filesystem::is_empty(data / "tmp"));
        QVERIFY(!std::filesystem::exists(data / "blobs" / orphan.substr(0, 2) / orphan));
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
    RunningServer m_occupant;
};

QTEST_GUILESS_MAIN(ServerCommandLineTest)
#include "ServerCommandLineTest.moc"
