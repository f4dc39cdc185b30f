#include "../support/XvfbDisplay.h"
#include "LoopbackHttpServer.h"
#include "ShareTestSupport.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QProcess>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>
#include <cstdio>

using namespace sendova;
using namespace sendova::test;

// The share program exits as soon as the user closes it; the link it copied
// must still be there to paste afterwards.
class ShareClipboardTest : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void linkOutlivesTheProgram()
    {
        QTemporaryDir root;
        QVERIFY(root.isValid());
        const QString file = root.filePath(QStringLiteral("photo.jpg"));
        QVERIFY(writeFile(file, "jpeg"));

        LoopbackHttpServer server;
        server.enqueue(checkReply(QString()));
        server.enqueue(uploadReply(sharedLink));
        writeConfig(configJson(server.baseUrl(), QString(), true, true));
        setKeychainKey(QStringLiteral("key-clip"));
        const auto forgetKey = qScopeGuard([] { setKeychainKey(QString()); });

        ShareProgram program({file});
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
        program.setProcessEnvironment(environment);
        program.start();
        QVERIFY(program.waitForStarted());

        // A deadline rather than QTRY: that counts polls, not time, and each
        // read starts a process, which a loaded machine makes slow.
        QDeadlineTimer deadline(20000);
        std::optional<QByteArray> seen = readClipboard();
        while (seen != sharedLink.toUtf8() && !deadline.hasExpired() &&
               program.state() == QProcess::Running) {
            QTest::qWait(100);
            seen = readClipboard();
        }
        QVERIFY2(seen == sharedLink.toUtf8(), program.readAllStandardError().constData());
        QCOMPARE(server.requests().size(), 2);
        ::kill(pid_t(program.processId()), SIGTERM);
        QVERIFY(program.waitForFinished(20000));
        QCOMPARE(program.exitCode(), 1);
        QCOMPARE(readClipboard(), std::optional(sharedLink.toUtf8()));
    }
};

int main(int argc, char **argv)
{
    XvfbDisplay display;
    if (!display.startForThisProcess())
        return 1;
    qunsetenv("SENDOVA_SERVER");
    // The program under test finds config.json here too.
    QTemporaryDir data;
    qputenv("XDG_DATA_HOME", data.path().toLocal8Bit());

    QCoreApplication app(argc, argv);
    ShareClipboardTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "ShareClipboardTest.moc"
