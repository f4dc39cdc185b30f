// `sendova COMMAND …` run as a script runs it, against a scripted server, on a
// session bus of its own with no keyring: exit codes, what lands on stdout
// and stderr. EndToEndTest has it on a terminal.
#include "ChildSignal.h"
#include "LoopbackHttpServer.h"
#include "PrivateBus.h"
#include "TestNotificationServer.h"

#include <QDir>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

#include <csignal>
#include <unistd.h>

using namespace sendova::test;

Q_DECLARE_METATYPE(sendova::test::ScriptedReply)

namespace {

const QByteArray uploadedReply =
    R"({"Success":true,"Data":{"Url":"http://127.0.0.1/f/abc","ShortCode":"abc","FileName":"a.txt",)"
    R"("FileSize":1,"ExpiresAt":"2027-01-01T00:00:00Z","IsDuplicate":false}})";
const QByteArray signedInReply = R"({"success":true,"data":{"apiKey":"sk_new","userName":"alice"}})";

} // namespace

class CommandLineClientTest : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase() { QVERIFY(m_bus.start()); }
    void command_data();
    void command();

private:
    PrivateBus m_bus;
};

void CommandLineClientTest::command_data()
{
    QTest::addColumn<QString>("line");
    QTest::addColumn<QByteArray>("input");
    QTest::addColumn<ScriptedReply>("reply");
    // "running" or "refusing": a notification server on the bus.
    QTest::addColumn<QString>("notifications");
    QTest::addColumn<int>("exitCode");
    // An empty expectation requires the stream to be empty; otherwise a
    // part of it. {server} stands for the server's address.
    QTest::addColumn<QByteArray>("out");
    QTest::addColumn<QByteArray>("err");

    const ScriptedReply none;
    const auto json = &ScriptedReply::json;
    ScriptedReply never;
    never.reading = ScriptedReply::Reading::stall;
    const QString login = QStringLiteral("login --server {server} --user alice --password-stdin ");
    const QByteArray link = "http://127.0.0.1/f/abc\n";
    // Neither creates the data folder nor reads the keychain.
    QTest::newRow("--help") << u"--help"_qs << QByteArray() << none << QString() << 0 << QByteArray("keyring")
                            << QByteArray();
    QTest::newRow("unknown option") << u"status --bogus"_qs << QByteArray() << none << QString() << 2
                                    << QByteArray() << QByteArray("Unknown option 'bogus'");
    QTest::newRow("logout, nothing stored") << u"logout"_qs << QByteArray() << none << QString() << 0
                                            << QByteArray() << QByteArray("Nothing to sign out of");
    // Refused before anything is sent: a server would only say "wrong password".
    QTest::newRow("empty password") << login + u"--insecure-storage"_qs << QByteArray("\n")
                                    << json(200, signedInReply) << QString() << 2 << QByteArray()
                                    << QByteArray("no password given; nothing was sent");
    // Before the password is asked for, and before the keyring is looked for.
    QTest::newRow("address without scheme")
        << u"login --server localhost:8080 --user alice"_qs << QByteArray() << none << QString() << 2
        << QByteArray() << QByteArray("localhost:8080 (add http:// or https:// in front of it)");
    QTest::newRow("no keyring") << login << QByteArray("pw\n") << json(200, signedInReply) << QString() << 1
                                << QByteArray() << QByteArray("no keyring (Secret Service) runs");
    QTest::newRow("signed in, key in config.json")
        << login + u"--insecure-storage"_qs << QByteArray("pw\n") << json(200, signedInReply) << QString()
        << 0 << QByteArray() << QByteArray(" as alice.\n");
    // The decoder's words mean nothing to the user.
    QTest::newRow("reply that is not one")
        << login + u"--insecure-storage"_qs << QByteArray("pw\n") << json(200, "<html>hotel</html>")
        << QString() << 1 << QByteArray() << QByteArray("sendova: The server sent an invalid response\n");
    // Only 401 and 403 are about the key.
    QTest::newRow("status, not the API") << u"status"_qs << QByteArray() << json(404, "{}") << QString() << 1
                                         << QByteArray() << QByteArray("answered with status 404");
    QTest::newRow("status, a web page")
        << u"status"_qs << QByteArray() << json(200, "<html>hotel</html>") << QString() << 1 << QByteArray()
        << QByteArray("answered, but not like a Sendova server");
    // An empty key in the file: it was given to a keyring this bus lacks.
    QTest::newRow("status, keyring out of reach")
        << u"status"_qs << QByteArray() << none << QString() << 2 << QByteArray()
        << QByteArray("the API key is kept in the keyring, which this session cannot reach");
    QTest::newRow("setup, the server names another address")
        << u"setup --insecure-storage sendova://setup?token=T&server={server}/"_qs << QByteArray()
        << json(200, R"({"success":true,"apiKey":"k","serverUrl":"http://files.example"})") << QString() << 0
        << QByteArray()
        << QByteArray("Server: http://files.example\nsendova: warning: the server asked to be "
                      "reached at files.example, not at 127.0.0.1");
    // Stops the request at once: its own time-out is 30 s.
    QTest::newRow("status, Ctrl-C") << u"status"_qs << QByteArray() << never << QString() << 130
                                    << QByteArray() << QByteArray();
    // Nobody to show them: skipped quietly.
    QTest::newRow("upload, no notifications")
        << u"upload a.txt"_qs << QByteArray() << json(200, uploadedReply) << QString() << 0 << link
        << QByteArray();
    // Nobody is left to open the link once the command has ended.
    QTest::newRow("upload, notified") << u"upload a.txt"_qs << QByteArray() << json(200, uploadedReply)
                                      << u"running"_qs << 0 << link << QByteArray();
    QTest::newRow("upload, notification refused")
        << u"upload a.txt"_qs << QByteArray() << json(200, uploadedReply) << u"refusing"_qs << 0 << link
        << QByteArray("sendova: notifications are not shown: ");
}

void CommandLineClientTest::command()
{
    QFETCH(QString, line);
    QFETCH(QByteArray, input);
    QFETCH(ScriptedReply, reply);
    QFETCH(QString, notifications);
    QFETCH(int, exitCode);
    QFETCH(QByteArray, out);
    QFETCH(QByteArray, err);
    LoopbackHttpServer server;
    server.setDefaultReply(reply);
    TestNotificationServer notificationServer;
    if (notifications == QLatin1String("refusing"))
        notificationServer.refuseNotify = true;
    if (!notifications.isEmpty())
        QVERIFY(notificationServer.start(m_bus.address()));

    // A user of their own, whose key is in config.json but for the commands
    // that set it up.
    const QTemporaryDir home;
    const QString data = home.filePath(QStringLiteral("data/Sendova"));
    if (line.startsWith(u"status"_qs) || line.startsWith(u"upload"_qs)) {
        QFile config(data + QStringLiteral("/config.json"));
        QVERIFY(QDir().mkpath(data) && config.open(QIODevice::WriteOnly));
        const QByteArray key = QByteArray(QTest::currentDataTag()).contains("out of reach") ? "" : "sk_test";
        config.write(R"({"serverUrl":")" + server.baseUrl().toUtf8() + R"(","apiKey":")" + key +
                     R"(","showNotifications":true,"autoCopyToClipboard":false,)"
                     R"("checkForDuplicates":false,"launchAtLogin":false,"languageCode":"en"})");
    }
    QFile file(home.filePath(QStringLiteral("a.txt")));
    QVERIFY(file.open(QIODevice::WriteOnly) && file.write("a") == 1);
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.remove(QStringLiteral("SENDOVA_SERVER"));
    env.remove(QStringLiteral("WAYLAND_DISPLAY"));
    // A desktop for notifications, whose clipboard the settings leave alone.
    env.insert(QStringLiteral("DISPLAY"), QStringLiteral(":0"));
    env.insert(QStringLiteral("HOME"), home.path());
    env.insert(QStringLiteral("XDG_DATA_HOME"), home.filePath(QStringLiteral("data")));
    env.insert(QStringLiteral("XDG_CONFIG_HOME"), home.filePath(QStringLiteral("config")));
    env.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"), m_bus.address());

    QProcess process;
    process.setProcessEnvironment(env);
    process.setWorkingDirectory(home.path());
    // A session of its own: no terminal to ask a password on.
    process.setChildProcessModifier([] { ::setsid(); });
    process.start(QStringLiteral(SENDOVA_BINARY),
                  line.replace(QStringLiteral("{server}"), server.baseUrl()).split(u' ', Qt::SkipEmptyParts));
    QVERIFY(process.waitForStarted());
    process.write(input);
    process.closeWriteChannel();
    if (exitCode == 128 + SIGINT) {
        QVERIFY(server.waitForRequests(1));
        QVERIFY(sendova::test::signalChild(process.processId(), SIGINT));
    }
    // The event loop runs meanwhile, so the notification server can answer.
    QTRY_VERIFY_WITH_TIMEOUT(process.state() == QProcess::NotRunning, 10000);

    QCOMPARE(process.exitCode(), exitCode);
    const QByteArray stdoutText = process.readAllStandardOutput();
    const QByteArray stderrText = process.readAllStandardError();
    QVERIFY2(out.isEmpty() ? stdoutText.isEmpty() : stdoutText.contains(out), stdoutText.constData());
    QVERIFY2(err.isEmpty() ? stderrText.isEmpty() : stderrText.contains(err), stderrText.constData());
    if (line.startsWith(u'-'))
        QVERIFY(!QFileInfo::exists(data));
    if (notifications == QLatin1String("running"))
        QCOMPARE(notificationServer.notifyCalls.value(0).actions, QStringList());
}

QTEST_GUILESS_MAIN(CommandLineClientTest)
#include "CommandLineClientTest.moc"
