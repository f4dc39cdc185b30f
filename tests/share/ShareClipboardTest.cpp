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
    void linkOutlivesTheProgram_data()
    {
        QTest::addColumn<bool>("storedCopy");
        QTest::newRow("stored copy's link") << true;
        QTest::newRow("uploaded file's link") << false;
    }

    void linkOutlivesTheProgram()
    {
        QFETCH(bool, storedCopy);

        QTemporaryDir root;
        QVERIFY(root.isValid());
        const QString file = root.filePath(QStringLiteral("photo.jpg"));
        QVERIFY(writeFile(file, "jpeg"));
        const QString link = storedCopy ? QStringLiteral("https://files.example/s/stored")
                                        : QStringLiteral("https://files.example/s/fresh");

        LoopbackHttpServer server;
        server.enqueue(ScriptedReply::json(
            200, QStringLiteral(R"({"success":true,"data":{"exists":%1,"url":"%2"}})")
                     .arg(storedCopy ? QStringLiteral("true") : QStringLiteral("false"), link)
                     .toUtf8()));
        server.enqueue(ScriptedReply::json(
            200, QStringLiteral(R"({"Success":true,"Data":{"Url":"%1"}})").arg(link).toUtf8()));
        writeConfig(configJson(server.baseUrl(), QString(), true, true));
        setKeychainKey(QStringLiteral("key-clip"));
        const auto forgetKey = qScopeGuard([] { setKeychainKey(QString()); });

        QProcess program;
        program.setProgram(QStringLiteral(SENDOVA_SHARE_PROGRAM));
        program.setArguments({file});
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
        program.setProcessEnvironment(environment);
        program.start();
        QVERIFY(program.waitForStarted());
        const auto stop = qScopeGuard([&program] {
            if (program.state() != QProcess::NotRunning) {
                program.kill();
                program.waitForFinished();
            }
        });

        // A deadline rather than QTRY: that counts polls, not time, and each
        // read starts a process, which a loaded machine makes slow.
        QDeadlineTimer deadline(20000);
        std::optional<QByteArray> seen = readClipboard();
        while (seen != link.toUtf8() && !deadline.hasExpired() && program.state() == QProcess::Running) {
            QTest::qWait(100);
            seen = readClipboard();
        }
        QVERIFY2(seen == link.toUtf8(), program.readAllStandardError().constData());
        QCOMPARE(server.requests().size(), storedCopy ? 1 : 2);
        ::kill(pid_t(program.processId()), SIGTERM);
        QVERIFY(program.waitForFinished(20000));
        QCOMPARE(program.exitCode(), 1);
        QCOMPARE(readClipboard(), std::optional(link.toUtf8()));
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
