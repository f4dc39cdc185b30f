// `sendova COMMAND …` run as a script runs it, against a scripted server, on a
// session bus of its own with no keyring and a private X display: exit codes,
// what lands on stdout, stderr and the clipboard. EndToEndTest has it on a
// terminal.
#include "ChildSignal.h"
#include "LoopbackHttpServer.h"
#include "PrivateBus.h"
#include "SwaySession.h"
#include "TestNotificationServer.h"
#include "TestScreenshotPortal.h"
#include "XvfbDisplay.h"

#include <QBuffer>
#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QImage>
#include <QJsonArray>
#include <QJsonDocument>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

#include <algorithm>
#include <array>
#include <csignal>
#include <memory>
#include <sys/prctl.h>
#include <unistd.h>

using namespace sendova::test;

Q_DECLARE_METATYPE(sendova::test::ScriptedReply)

namespace {

// Url and FileName as JSON string contents, escapes and all.
QByteArray uploaded(const QByteArray &url = "http://127.0.0.1/f/abc", const QByteArray &name = "a.txt")
{
    return R"({"Success":true,"Data":{"Url":")" + url + R"(","ShortCode":"abc","FileName":")" + name +
           R"(","FileSize":1,"ExpiresAt":"2027-01-01T00:00:00Z","IsDuplicate":false}})";
}
const QByteArray uploadedReply = uploaded();
const QByteArray signedInReply = R"({"success":true,"data":{"apiKey":"sk_new","userName":"alice"}})";

// What a terminal would act on: controls other than the line break, and the
// bidirectional overrides and isolates.
bool actsOnTerminal(const QString &text)
{
    return std::ranges::any_of(text.toUcs4(), [](uint c) {
        return (c < 0x20 && c != '\n') || (c >= 0x7f && c <= 0x9f) || (c >= 0x202a && c <= 0x202e) ||
               (c >= 0x2066 && c <= 0x2069);
    });
}

// A user of their own: a home, a data folder whose config.json points at
// server with the key in the file, and a one-byte a.txt.
struct User
{
    QTemporaryDir home;
    QString data = home.filePath(QStringLiteral("data/Sendova"));

    bool configure(const QString &server, bool autoCopy = false, const QByteArray &key = "sk_test") const
    {
        QFile config(data + QStringLiteral("/config.json"));
        return QDir().mkpath(data) && config.open(QIODevice::WriteOnly) &&
               config.write(R"({"serverUrl":")" + server.toUtf8() + R"(","apiKey":")" + key +
                            R"(","showNotifications":true,"autoCopyToClipboard":)" +
                            (autoCopy ? "true" : "false") +
                            R"(,"checkForDuplicates":false,"launchAtLogin":false,"languageCode":"en"})") > 0;
    }
    QByteArray recents() const
    {
        QFile file(data + QStringLiteral("/recents.json"));
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }
    // On the test's bus and display, in a session of its own: no terminal to
    // ask a password on. With a Wayland desktop, on that alone.
    void start(QProcess &process, const QString &busAddress, const QStringList &arguments,
               const SwaySession *desktop = nullptr) const
    {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.remove(QStringLiteral("SENDOVA_SERVER"));
        env.remove(QStringLiteral("WAYLAND_DISPLAY"));
        if (desktop) {
            env = desktop->environment(env);
            env.remove(QStringLiteral("DISPLAY"));
        }
        env.insert(QStringLiteral("HOME"), home.path());
        env.insert(QStringLiteral("XDG_DATA_HOME"), home.filePath(QStringLiteral("data")));
        env.insert(QStringLiteral("XDG_CONFIG_HOME"), home.filePath(QStringLiteral("config")));
        env.insert(QStringLiteral("XDG_CACHE_HOME"), home.filePath(QStringLiteral("cache")));
        env.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"), busAddress);
        QFile file(home.filePath(QStringLiteral("a.txt")));
        if (file.open(QIODevice::WriteOnly))
            file.write("a");
        process.setProcessEnvironment(env);
        process.setWorkingDirectory(home.path());
        process.setChildProcessModifier([] { ::setsid(); });
        process.start(QStringLiteral(SENDOVA_BINARY), arguments);
    }
};

} // namespace

class CommandLineClientTest : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase() { QVERIFY(m_bus.start() && m_display.startForThisProcess()); }
    void command_data();
    void command();
    void clipboardOnWayland_data();
    void clipboardOnWayland();
    void ctrlCWhileTheClipboardOwnerHangs();
    void parallelUploadsKeepEveryRecent();
    void commandLoadsNoGui();
    void programLinksOnlyWhatItNeedsAtStart_data();
    void programLinksOnlyWhatItNeedsAtStart();

private:
    // A desktop without XWayland, started by the first test that needs it.
    const SwaySession *sway();

    PrivateBus m_bus;
    XvfbDisplay m_display;
    std::unique_ptr<SwaySession> m_sway;
    bool m_swayRuns = false;
};

const SwaySession *CommandLineClientTest::sway()
{
    if (!m_sway) {
        m_sway = std::make_unique<SwaySession>(SwaySession::XWayland::off);
        m_swayRuns = m_sway->start();
        if (!m_swayRuns)
            qWarning("%s", m_sway->errorText().constData());
    }
    return m_swayRuns ? m_sway.get() : nullptr;
}

void CommandLineClientTest::command_data()
{
    QTest::addColumn<QString>("line");
    QTest::addColumn<QByteArray>("input");
    QTest::addColumn<ScriptedReply>("reply");
    // "running" or "refusing": a notification server on the bus; "copy": the
    // settings copy links; "no display"; ">/dev/full": where stdout goes.
    QTest::addColumn<QString>("setting");
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
    // Copied once, when the command ends: one keeper, every link.
    QTest::newRow("two files, one copy")
        << u"upload a.txt a.txt"_qs << QByteArray() << json(200, uploadedReply) << u"copy"_qs << 0
        << link + link << QByteArray();
    QTest::newRow("stdout on a full disk")
        << u"upload a.txt"_qs << QByteArray() << json(200, uploadedReply) << u">/dev/full"_qs << 1
        << QByteArray()
        << QByteArray("sendova: could not write to standard output: No space left on device\n");
    // A file, a link or the bus's activation is for the tray program, over
    // SSH too: no core dump, a way out. A word that names nothing is a
    // mistyped command.
    const QByteArray noSession(
        "sendova: no graphical session; to upload from a terminal use 'sendova upload FILE'\n");
    QTest::newRow("tray without a display")
        << u"a.txt"_qs << QByteArray() << none << u"no display"_qs << 2 << QByteArray() << noSession;
    QTest::newRow("link without a display") << u"sendova:setup?token=T"_qs << QByteArray() << none
                                            << u"no display"_qs << 2 << QByteArray() << noSession;
    QTest::newRow("bus activation without a display") << u"--gapplication-service"_qs << QByteArray() << none
                                                      << u"no display"_qs << 2 << QByteArray() << noSession;
    QTest::newRow("mistyped command") << u"uplaod a.txt"_qs << QByteArray() << none << u"no display"_qs << 2
                                      << QByteArray() << QByteArray("unknown command 'uplaod'");

    // What was no file is sent from a private copy, gone once the command
    // ends; the desktop's screenshot tool answers through its portal, and a
    // cancel there is no failure.
    QTest::newRow("clipboard text") << u"upload --clipboard"_qs << QByteArray() << json(200, uploadedReply)
                                    << u"clipboard Grüße"_qs << 0 << link << QByteArray();
    QTest::newRow("blank clipboard") << u"upload --clipboard"_qs << QByteArray() << none << u"clipboard  "_qs
                                     << 1 << QByteArray()
                                     << QByteArray("The clipboard holds nothing to upload");
    QTest::newRow("clipboard and a file")
        << u"upload --clipboard a.txt"_qs << QByteArray() << none << QString() << 2 << QByteArray()
        << QByteArray("--clipboard takes no file");
    QTest::newRow("screenshot") << u"screenshot"_qs << QByteArray() << json(200, uploadedReply)
                                << u"portal"_qs << 0 << link << QByteArray();
    QTest::newRow("screenshot cancelled") << u"screenshot"_qs << QByteArray() << none << u"portal cancel"_qs
                                          << 0 << QByteArray() << QByteArray();
    QTest::newRow("screenshot without a portal") << u"screenshot"_qs << QByteArray() << none << QString() << 2
                                                 << QByteArray() << QByteArray("no screenshot portal");

    // A hostile server: a link that would be two lines and a command when
    // pasted, or a reversed text, is no link; messages and
    // names lose what a terminal would act on. Every row's output is checked
    // for such characters.
    const QByteArray invalid("sendova: a.txt: The server sent an invalid response\n");
    for (const QByteArray &url :
         {QByteArray(R"(http://127.0.0.1/f/abc\nrm -rf ~)"), QByteArray(R"(http://127.0.0.1/f/\u202eabc)"),
          QByteArray("file://127.0.0.1/etc/passwd")})
        QTest::newRow(("link " + url).constData())
            << u"upload a.txt"_qs << QByteArray() << json(200, uploaded(url)) << QString() << 1
            << QByteArray() << invalid;
    QTest::newRow("file name with escapes")
        << u"upload a.txt"_qs << QByteArray()
        << json(200, uploaded("http://127.0.0.1/f/abc", R"(\u001b]0;t\u0007a\u009b\u2066.txt)")) << QString()
        << 0 << link << QByteArray();
    ScriptedReply plain = json(500, "\x1b]0;x\x07oops\r\n");
    plain.headers = {{"Content-Type", "text/plain"}};
    QTest::newRow("plain refusal with escapes")
        << u"upload a.txt"_qs << QByteArray() << plain << QString() << 1 << QByteArray()
        << QByteArray("Server error (500): ]0;xoops\n");
    QTest::newRow("setup, names with escapes")
        << u"setup --insecure-storage sendova://setup?token=t&server={server}"_qs << QByteArray()
        << json(
               200,
               R"({"success":true,"apiKey":"sk","tenantName":"\u001b]0;t\u0007Acme","userName":"\u202ebob"})")
        << QString() << 0 << QByteArray() << QByteArray("Connected to: ]0;tAcme\nUser: bob\n");
    QTest::newRow("status refusal with escapes")
        << u"status"_qs << QByteArray() << json(401, R"({"error":{"message":"\u001b[31mno\u0085"}})")
        << QString() << 1 << QByteArray() << QByteArray("did not accept the API key: [31mno \n");
}

void CommandLineClientTest::command()
{
    QFETCH(QString, line);
    QFETCH(QByteArray, input);
    QFETCH(ScriptedReply, reply);
    QFETCH(QString, setting);
    QFETCH(int, exitCode);
    QFETCH(QByteArray, out);
    QFETCH(QByteArray, err);
    LoopbackHttpServer server;
    server.setDefaultReply(reply);
    TestNotificationServer notificationServer;
    if (setting == QLatin1String("refusing"))
        notificationServer.refuseNotify = true;
    if (setting == QLatin1String("running") || setting == QLatin1String("refusing"))
        QVERIFY(notificationServer.start(m_bus.address()));

    // The key in config.json but for the commands that set it up; an empty
    // one stands for a key given to a keyring this bus lacks.
    const User user;
    const QByteArray key = QByteArray(QTest::currentDataTag()).contains("out of reach") ? "" : "sk_test";
    if (line.startsWith(u"status"_qs) || line.startsWith(u"upload"_qs) || line.startsWith(u"screenshot"_qs))
        QVERIFY(user.configure(server.baseUrl(), setting == QLatin1String("copy"), key));
    const QByteArray picture = "\x89PNG\r\n\x1a\n a picture";
    const QString picturePath = user.home.filePath(u"Screenshot from the desktop.png"_qs);
    TestScreenshotPortal portal;
    if (setting.startsWith(u"portal")) {
        QFile file(picturePath);
        QVERIFY(file.open(QIODevice::WriteOnly) && file.write(picture) == picture.size());
        portal.picture = QUrl::fromLocalFile(picturePath);
        portal.responseCode = setting.endsWith(u"cancel") ? 1 : 0;
        QVERIFY(portal.start(m_bus.address()));
    }
    const QByteArray copied = setting.mid(10).toUtf8();
    if (setting.startsWith(u"clipboard")) {
        QProcess xclip;
        xclip.start(u"xclip"_qs, {u"-selection"_qs, u"clipboard"_qs, u"-t"_qs, u"UTF8_STRING"_qs});
        xclip.write(copied);
        xclip.closeWriteChannel();
        QVERIFY(xclip.waitForFinished());
    }
    QProcess process;
    // Qt's choice of X stays: it needs a display as much as the default.
    if (setting == QLatin1String("no display"))
        qunsetenv("DISPLAY");
    if (setting.startsWith(u'>'))
        process.setStandardOutputFile(setting.mid(1));
    user.start(process, m_bus.address(),
               line.replace(QStringLiteral("{server}"), server.baseUrl()).split(u' ', Qt::SkipEmptyParts));
    qputenv("DISPLAY", m_display.name());
    QVERIFY(process.waitForStarted());
    process.write(input);
    process.closeWriteChannel();
    if (exitCode == 128 + SIGINT) {
        QVERIFY(server.waitForRequests(1));
        QVERIFY(sendova::test::signalChild(process.processId(), SIGINT));
    }
    // The event loop runs meanwhile, so the notification server can answer.
    QTRY_VERIFY_WITH_TIMEOUT(process.state() == QProcess::NotRunning, 10000);

    const QByteArray stdoutText = process.readAllStandardOutput();
    const QByteArray stderrText = process.readAllStandardError();
    QVERIFY2(process.exitCode() == exitCode,
             QByteArray::number(process.exitCode()).append(": ").append(stderrText).constData());
    QVERIFY2(out.isEmpty() ? stdoutText.isEmpty() : stdoutText.contains(out), stdoutText.constData());
    QVERIFY2(err.isEmpty() ? stderrText.isEmpty() : stderrText.contains(err), stderrText.constData());
    QVERIFY(!actsOnTerminal(QString::fromUtf8(stdoutText + stderrText)));
    for (const QJsonValue entry : QJsonDocument::fromJson(user.recents()).array())
        QVERIFY(!actsOnTerminal(entry[u"fileName"].toString() + entry[u"url"].toString()));
    if (line.startsWith(u'-'))
        QVERIFY(!QFileInfo::exists(user.data));
    if (setting == QLatin1String("running"))
        QCOMPARE(notificationServer.notifyCalls.value(0).actions, QStringList());
    if (setting == QLatin1String("copy"))
        QCOMPARE(readClipboard(), std::optional(out.trimmed()));
    if (exitCode == 0 && (setting == u"portal" || setting.startsWith(u"clipboard"))) {
        const QByteArray body = server.requests().constLast().body;
        QVERIFY2(body.contains(setting == u"portal" ? "filename=\"Screenshot 20" : "filename=\"Clipboard 20"),
                 body.constData());
        QVERIFY(body.contains(setting == u"portal" ? picture : copied));
        QVERIFY(body.contains(setting == u"portal" ? ".png\"" : ".txt\""));
        // The desktop's own file is the desktop's.
        QVERIFY(setting != u"portal" || QFileInfo::exists(picturePath));
    }
    if (setting.startsWith(u"portal"))
        QCOMPARE(portal.calls.value(0).value(u"interactive"_qs), QVariant(true));
    QCOMPARE(QDir(user.home.filePath(u"cache/Sendova"_qs)).entryList(QDir::Dirs | QDir::NoDotAndDotDot),
             QStringList());
}

namespace {

QByteArray encoded(const QImage &image, const char *format)
{
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, format);
    return bytes;
}

// The one file part of an upload's body.
QByteArray sentFile(const RecordedRequest &request)
{
    const QByteArray type = request.header("Content-Type").value_or(QByteArray());
    const QByteArray boundary = "\r\n--" + type.mid(type.indexOf("boundary=") + 9);
    const QByteArray &body = request.body;
    const qsizetype start = body.indexOf("\r\n\r\n", body.indexOf("filename=")) + 4;
    return body.mid(start, body.indexOf(boundary, start) - start);
}

} // namespace

// With only a Wayland display the command reads the clipboard through
// data-control, and chooses as a paste does on X11: a copied file, else an
// image (sent as PNG), else text.
void CommandLineClientTest::clipboardOnWayland_data()
{
    QTest::addColumn<QString>("type");
    QTest::addColumn<QByteArray>("copied");
    QTest::addColumn<QString>("fileName");
    // The copied bytes go as they are, or the copied picture as PNG.
    QTest::addColumn<bool>("converted");

    QImage picture(5, 3, QImage::Format_RGB32);
    for (int y = 0; y < picture.height(); ++y) {
        for (int x = 0; x < picture.width(); ++x)
            picture.setPixel(x, y, qRgb(40 * x, 80 * y, 200));
    }
    const QString stamped = u"Clipboard 20\\d\\d-\\d\\d-\\d\\d \\d\\d\\.\\d\\d\\.\\d\\d\\."_qs;
    QTest::newRow("text") << QString() << QByteArray("Grüße aus Sway\n") << stamped + u"txt"_qs << false;
    QTest::newRow("BMP as PNG") << u"image/bmp"_qs << encoded(picture, "BMP") << stamped + u"png"_qs << true;
    QTest::newRow("copied file") << u"text/uri-list"_qs << QByteArray("{a.txt}\r\n") << u"a\\.txt"_qs
                                 << false;
    // Said so, not replaced by anything else that came with it.
    QTest::newRow("undecodable image") << u"image/bmp"_qs << QByteArray("BM, but no picture") << QString()
                                       << false;
}

void CommandLineClientTest::clipboardOnWayland()
{
    QFETCH(QString, type);
    QFETCH(QByteArray, copied);
    QFETCH(QString, fileName);
    QFETCH(bool, converted);
    if (!SwaySession::available())
        QSKIP("sway, wl-clipboard or wtype is not installed");
    const SwaySession *desktop = sway();
    QVERIFY(desktop);
    LoopbackHttpServer server;
    server.setDefaultReply(ScriptedReply::json(200, uploadedReply));
    const User user;
    QVERIFY(user.configure(server.baseUrl()));
    copied.replace("{a.txt}", QUrl::fromLocalFile(user.home.filePath(u"a.txt"_qs)).toEncoded());

    QProcess copy;
    copy.setProcessEnvironment(desktop->environment());
    // It stays behind as the owner: it must not hold our pipes.
    copy.setStandardOutputFile(QProcess::nullDevice());
    copy.setStandardErrorFile(QProcess::nullDevice());
    copy.start(u"wl-copy"_qs, type.isEmpty() ? QStringList() : QStringList{u"--type"_qs, type});
    copy.write(copied);
    copy.closeWriteChannel();
    QVERIFY(copy.waitForFinished(10000) && copy.exitCode() == 0);

    QProcess process;
    user.start(process, m_bus.address(), {u"upload"_qs, u"--clipboard"_qs}, desktop);
    QVERIFY(process.waitForFinished(20000));
    if (fileName.isEmpty()) {
        QCOMPARE(process.exitCode(), 1);
        QVERIFY(process.readAllStandardError().contains("The image on the clipboard could not be read"));
        QCOMPARE(server.requests().size(), 0);
        return;
    }
    QVERIFY2(process.exitCode() == 0, process.readAllStandardError().constData());
    QCOMPARE(process.readAllStandardOutput(), QByteArray("http://127.0.0.1/f/abc\n"));
    const RecordedRequest request = server.requests().constLast();
    QVERIFY2(QRegularExpression(u"filename=\""_qs + fileName + u"\""_qs)
                 .match(QString::fromUtf8(request.body))
                 .hasMatch(),
             request.body.left(400).constData());
    const QByteArray sent = sentFile(request);
    if (converted) {
        QVERIFY(sent.startsWith("\x89PNG\r\n\x1a\n"));
        QCOMPARE(QImage::fromData(sent, "PNG").convertToFormat(QImage::Format_RGB32),
                 QImage::fromData(copied).convertToFormat(QImage::Format_RGB32));
    } else {
        QCOMPARE(sent, fileName.startsWith(u'a') ? QByteArray("a") : copied);
    }
}

// A clipboard owner that never answers (stopped) holds the read; Ctrl-C ends
// the command at once all the same, and takes the keeper along.
void CommandLineClientTest::ctrlCWhileTheClipboardOwnerHangs()
{
    if (!SwaySession::available())
        QSKIP("sway, wl-clipboard or wtype is not installed");
    const SwaySession *desktop = sway();
    QVERIFY(desktop);
    // A keeper left behind is then ours to find.
    QCOMPARE(::prctl(PR_SET_CHILD_SUBREAPER, 1), 0);
    LoopbackHttpServer server;
    const User user;
    QVERIFY(user.configure(server.baseUrl()));
    QProcess owner;
    owner.setProcessEnvironment(desktop->environment());
    owner.start(u"wl-copy"_qs, {u"--foreground"_qs, u"held"_qs});
    QTRY_COMPARE_WITH_TIMEOUT(desktop->clipboard(), std::optional(QByteArray("held")), 10000);
    QVERIFY(signalChild(owner.processId(), SIGSTOP));

    QProcess process;
    user.start(process, m_bus.address(), {u"upload"_qs, u"--clipboard"_qs}, desktop);
    QTRY_VERIFY_WITH_TIMEOUT(!keepersOf(process.processId()).isEmpty(), 5000);
    // Well inside the keeper's five seconds for the owner's answer.
    QTest::qWait(1000);
    QElapsedTimer stopping;
    stopping.start();
    QVERIFY(signalChild(process.processId(), SIGINT));
    QVERIFY(process.waitForFinished(10000));
    const qint64 took = stopping.elapsed();
    signalChild(owner.processId(), SIGCONT);
    owner.kill();
    owner.waitForFinished();
    QCOMPARE(process.exitCode(), 130);
    QVERIFY2(took < 2000, QByteArray::number(took).constData());
    QTRY_VERIFY_WITH_TIMEOUT(adoptedKeepers().isEmpty(), 1000);
    QCOMPARE(server.requests().size(), 0);
}

// Eight commands whose replies arrive together each add their upload to the
// one recents.json.
void CommandLineClientTest::parallelUploadsKeepEveryRecent()
{
    constexpr int count = 8;
    LoopbackHttpServer server;
    ScriptedReply reply = ScriptedReply::json(200, uploadedReply);
    reply.answerTogether = count;
    server.setDefaultReply(reply);
    const User user;
    QVERIFY(user.configure(server.baseUrl()));
    std::array<QProcess, count> processes;
    for (QProcess &process : processes)
        user.start(process, m_bus.address(), {u"upload"_qs, u"a.txt"_qs});
    for (QProcess &process : processes) {
        QVERIFY(process.waitForFinished(30000));
        QVERIFY2(process.exitCode() == 0, process.readAllStandardError().constData());
    }
    QCOMPARE(QJsonDocument::fromJson(user.recents()).array().size(), count);
}

// A command runs without the tray program's libraries: what it maps while it
// waits on the server is Qt Core, D-Bus and libcurl, nothing of Qt Gui.
void CommandLineClientTest::commandLoadsNoGui()
{
    LoopbackHttpServer server;
    ScriptedReply never;
    never.reading = ScriptedReply::Reading::stall;
    server.setDefaultReply(never);
    const User user;
    QVERIFY(user.configure(server.baseUrl()));
    QProcess process;
    user.start(process, m_bus.address(), {u"status"_qs});
    QVERIFY(server.waitForRequests(1));
    QFile maps(u"/proc/%1/maps"_qs.arg(process.processId()));
    QVERIFY(maps.open(QIODevice::ReadOnly));
    const QByteArray mapped = maps.readAll();
    QVERIFY(sendova::test::signalChild(process.processId(), SIGINT));
    QTRY_VERIFY_WITH_TIMEOUT(process.state() == QProcess::NotRunning, 10000);
    QVERIFY(mapped.contains("/sendova-commands.so") && mapped.contains("/libcurl"));
    for (const char *library : {"/libQt6Gui", "/libQt6Widgets", "/libQt6Svg", "/libqrencode"})
        QVERIFY2(!mapped.contains(library), library);
}

void CommandLineClientTest::programLinksOnlyWhatItNeedsAtStart_data()
{
    QTest::addColumn<QString>("file");
    QTest::addColumn<QStringList>("absent");
    // `sendova --version` and the hand-over to the tray program start
    // nothing but the C and C++ runtimes.
    QTest::newRow("the launcher") << u"sendova"_qs << QStringList{u"/libQt6"_qs, u"/libcurl"_qs};
    // A command that sends and hashes nothing (help, recent, logout) does
    // not pay for libcurl and OpenSSL either.
    QTest::newRow("the command module")
        << u"sendova-commands.so"_qs
        << QStringList{u"/libQt6Gui"_qs, u"/libcurl"_qs, u"/libcrypto.so"_qs, u"/libssl.so"_qs};
}

// What the dynamic loader maps with the file, dependencies of dependencies
// included, before any of its code runs.
void CommandLineClientTest::programLinksOnlyWhatItNeedsAtStart()
{
    QFETCH(QString, file);
    QFETCH(QStringList, absent);
    QProcess ldd;
    ldd.start(u"ldd"_qs, {QFileInfo(QStringLiteral(SENDOVA_BINARY)).dir().filePath(file)});
    QVERIFY(ldd.waitForFinished(10000));
    QCOMPARE(ldd.exitCode(), 0);
    const QString loaded = QString::fromUtf8(ldd.readAllStandardOutput());
    QVERIFY2(loaded.contains(u"/libc.so"_qs), qPrintable(loaded));
    for (const QString &library : absent)
        QVERIFY2(!loaded.contains(library), qPrintable(library));
}

QTEST_GUILESS_MAIN(CommandLineClientTest)
#include "CommandLineClientTest.moc"
