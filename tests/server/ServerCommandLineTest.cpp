#include "ServerFixture.h"

#include "../support/ChildSignal.h"

#include <QProcess>
#include <QRegularExpression>

#include <csignal>

using namespace sendova::server;
using namespace sendova::server::test;

class ServerCommandLineTest : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    // The data folder is its owner's alone: one others may read is made
    // private, and the administrator told; one they may change is refused.
    void dataFolderStaysPrivate()
    {
        QVERIFY(QDir().mkpath(m_data));
        QFile::setPermissions(m_data,
                              QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner | QFile::ReadOther);
        QVERIFY(answers("user add gina --password-stdin --data DATA", "long enough password\n", 0,
                        "private (mode 0704 is now 0700)"));
        QFile::setPermissions(m_data, QFile::permissions(m_data) | QFile::WriteGroup);
        QVERIFY(answers("user list --data DATA", {}, 1, "can be changed by other users (mode 0720)"));
        // Only "user add" starts a database: an empty one left by a typo would
        // later be taken by serve for the real one.
        QVERIFY(answers("user list --data DATA/elsewhere", {}, 1, "holds no server database"));
        QVERIFY(!QFile::exists(m_data + QStringLiteral("/elsewhere")));
    }

    // Neither a kept-alive connection nor a request whose head or body is
    // still arriving holds up the stop.
    void serveStopsPromptlyOnCtrlC()
    {
        QProcess serve;
        start(serve, "serve --listen 127.0.0.1:0 --quiet --data " + m_home.path().toUtf8() + "/served");
        QByteArray line;
        while (!line.contains('\n') && serve.waitForReadyRead(30000)) {
            line += serve.readAllStandardOutput();
        }
        const auto match =
            QRegularExpression(QStringLiteral("^sendova-server listening on http://127\\.0\\.0\\.1:(\\d+) "))
                .match(QString::fromUtf8(line));
        QVERIFY2(match.hasMatch(), line.constData());
        // Two servers writing one folder would corrupt it.
        QVERIFY(answers("serve --listen 127.0.0.1:0 --data " + m_home.path().toUtf8() + "/served", {}, 1,
                        "already serving"));
        RawConnection idle(match.captured(1).toInt());
        QVERIFY(idle.send("GET / HTTP/1.1\r\nHost: x\r\n\r\n"));
        QVERIFY(idle.read(false).starts_with("HTTP/1.1 200 "));
        RawConnection arriving(match.captured(1).toInt());
        QVERIFY(arriving.send("GET / HTTP/1.1\r\nHost: x\r\n"));
        RawConnection sending(match.captured(1).toInt());
        QVERIFY(sending.send("POST /api/auth/login HTTP/1.1\r\nHost: x\r\nContent-Type: application/json\r\n"
                             "Content-Length: 1000\r\n\r\n{\"userName\""));
        QVERIFY(sendova::test::signalChild(serve.processId(), SIGINT));
        QVERIFY(serve.waitForFinished(3000));
        QVERIFY(serve.exitStatus() == QProcess::NormalExit && serve.exitCode() == 0);
        QVERIFY(serve.readAllStandardOutput().contains("sendova-server stopped"));
    }

    // A stop that comes as soon as the server is up, when its accept loop may
    // not have begun, still ends it: a service manager restarting it at once
    // would otherwise wait for ever.
    void serveStopsWhenSignalledAtOnce()
    {
        for (int round = 0; round < 20; ++round) {
            QProcess serve;
            start(serve, "serve --listen 127.0.0.1:0 --quiet --data " + m_home.path().toUtf8() + "/quick");
            QVERIFY(serve.waitForReadyRead(30000));
            QVERIFY(sendova::test::signalChild(serve.processId(), SIGTERM));
            QVERIFY2(serve.waitForFinished(5000), qPrintable(QStringLiteral("round %1 did not stop").arg(round)));
            QCOMPARE(serve.exitCode(), 0);
        }
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
    // Runs the command line, DATA standing for the test's data folder: the
    // exit code, and a piece of what it printed.
    bool answers(QByteArray commandLine, const QByteArray &input, int exitCode, const QByteArray &text)
    {
        QProcess process;
        start(process, commandLine.replace("DATA", m_data.toUtf8()));
        process.write(input);
        process.closeWriteChannel();
        process.waitForFinished(60000);
        const QByteArray printed = process.readAllStandardOutput() + process.readAllStandardError();
        if (process.exitStatus() == QProcess::NormalExit && process.exitCode() == exitCode &&
            printed.contains(text)) {
            return true;
        }
        qWarning("exit code %d, printed: %s", process.exitCode(), printed.constData());
        return false;
    }

    QTemporaryDir m_home;
    const QString m_data = m_home.path() + QStringLiteral("/data");
};

QTEST_GUILESS_MAIN(ServerCommandLineTest)
#include "ServerCommandLineTest.moc"
