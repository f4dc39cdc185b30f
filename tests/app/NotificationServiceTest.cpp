#include "app/NotificationService.h"
#include "support/Language.h"
#include "support/LocalizationService.h"

#include "TestNotificationServer.h"

#include <QRegularExpression>
#include <QSignalSpy>
#include <QTemporaryFile>
#include <QtTest>

#include <cstdio>

#include <unistd.h>

using namespace sendova;
using sendova::test::TestNotificationServer;

namespace {

enum class Kind { uploadComplete, duplicate, error };

void show(NotificationService &service, Kind kind, const QString &fileName, const QString &argument)
{
    switch (kind) {
    case Kind::uploadComplete:
        service.showUploadComplete(fileName, argument);
        break;
    case Kind::duplicate:
        service.showDuplicate(fileName, argument);
        break;
    case Kind::error:
        service.showError(fileName, argument);
        break;
    }
}

// Sends this process's standard output to a file for as long as it lives.
class StandardOutputCapture
{
public:
    StandardOutputCapture()
    {
        m_file.open();
        std::fflush(stdout);
        m_saved = ::dup(STDOUT_FILENO);
        ::dup2(m_file.handle(), STDOUT_FILENO);
    }
    ~StandardOutputCapture() { restore(); }

    QByteArray finish()
    {
        restore();
        m_file.seek(0);
        return m_file.readAll();
    }

private:
    void restore()
    {
        if (m_saved < 0)
            return;
        std::fflush(stdout);
        ::dup2(m_saved, STDOUT_FILENO);
        ::close(m_saved);
        m_saved = -1;
    }

    QTemporaryFile m_file;
    int m_saved = -1;
};

const QRegularExpression
    upperCaseUuid(QStringLiteral("^[0-9A-F]{8}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{12}$"));

} // namespace

class NotificationServiceTest : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void init();
    void cleanup();

    void sendsEachNotification_data();
    void sendsEachNotification();
    void bodyShowsFileNameLiterally_data();
    void bodyShowsFileNameLiterally();
    void eachPostHasItsOwnIdentity();
    void clickOpensTheLinkOnlyWhenThereIsOne_data();
    void clickOpensTheLinkOnlyWhenThereIsOne();
    void languageSwitchChangesTheNextTexts();
    void refusedPostWritesOneLineToStandardOutput_data();
    void refusedPostWritesOneLineToStandardOutput();
    void missingServerIsAnOrdinaryFailure_data();
    void missingServerIsAnOrdinaryFailure();

private:
    TestNotificationServer::NotifyCall postAndWait(NotificationService &service, Kind kind,
                                                   const QString &fileName, const QString &argument);

    std::unique_ptr<TestNotificationServer> m_server;
    QList<QUrl> m_opened;
};

void NotificationServiceTest::initTestCase()
{
    QVERIFY2(QDBusConnection::sessionBus().isConnected(), "run the tests through scripts/with-test-session");
    LocalizationService::shared().setLanguage(Language::english);
    NotificationService::shared().setUrlOpener([this](const QUrl &url) { m_opened.append(url); });
}

void NotificationServiceTest::init()
{
    m_opened.clear();
    m_server = std::make_unique<TestNotificationServer>();
    QVERIFY(m_server->start());
}

void NotificationServiceTest::cleanup()
{
    m_server.reset();
    LocalizationService::shared().setLanguage(Language::english);
}

TestNotificationServer::NotifyCall NotificationServiceTest::postAndWait(NotificationService &service,
                                                                        Kind kind, const QString &fileName,
                                                                        const QString &argument)
{
    const qsizetype before = m_server->notifyCalls.size();
    QSignalSpy idle(&service, &NotificationService::idle);
    show(service, kind, fileName, argument);
    [&] { QTRY_COMPARE(idle.count(), 1); }();
    if (m_server->notifyCalls.size() != before + 1) {
        QTest::qFail("the server did not receive exactly one Notify", __FILE__, __LINE__);
        return {};
    }
    return m_server->notifyCalls.last();
}

void NotificationServiceTest::sendsEachNotification_data()
{
    QTest::addColumn<Kind>("kind");
    QTest::addColumn<QString>("argument");
    QTest::addColumn<QString>("summary");
    QTest::addColumn<QString>("body");
    QTest::addColumn<QStringList>("actions");

    const QStringList openAction{QStringLiteral("default"), QStringLiteral("Open")};
    QTest::newRow("upload complete") << Kind::uploadComplete << QStringLiteral("https://files.example/f/abc")
                                     << QStringLiteral("Sendova")
                                     << QStringLiteral(
                                            "Upload complete\nphoto.png was uploaded. The link is ready.")
                                     << openAction;
    QTest::newRow("error")
        << Kind::error << QStringLiteral("The server is not reachable.") << QStringLiteral("Sendova - Error")
        << QStringLiteral("Upload failed\nphoto.png could not be uploaded: The server is not reachable.")
        << QStringList();
}

void NotificationServiceTest::sendsEachNotification()
{
    QFETCH(Kind, kind);
    QFETCH(QString, argument);
    QFETCH(QString, summary);
    QFETCH(QString, body);
    QFETCH(QStringList, actions);

    const auto call = postAndWait(NotificationService::shared(), kind, QStringLiteral("photo.png"), argument);
    QCOMPARE(call.appName, QStringLiteral("Sendova"));
    QCOMPARE(call.replacesId, 0u);
    QCOMPARE(call.summary, summary);
    QCOMPARE(call.body, body);
    QCOMPARE(call.actions, actions);
    QCOMPARE(call.expireTimeout, -1);
    QCOMPARE(call.hints.value(QStringLiteral("sound-name")).toString(),
             QStringLiteral("message-new-instant"));
    QCOMPARE(call.hints.value(QStringLiteral("desktop-entry")).toString(), QStringLiteral("com.sendova.Sendova"));
    QVERIFY(upperCaseUuid.match(call.hints.value(QStringLiteral("x-sendova-id")).toString()).hasMatch());
}

void NotificationServiceTest::bodyShowsFileNameLiterally_data()
{
    QTest::addColumn<bool>("markup");
    QTest::addColumn<Kind>("kind");
    QTest::addColumn<QString>("fileName");
    QTest::addColumn<QString>("argument");
    QTest::addColumn<QString>("body");

    const QString link = QStringLiteral("https://files.example/f/abc");
    QTest::newRow("percent sign") << false << Kind::uploadComplete << QStringLiteral("100% done.txt") << link
                                  << QStringLiteral(
                                         "Upload complete\n100% done.txt was uploaded. The link is ready.");
    QTest::newRow("placeholders in name and message")
        << false << Kind::error << QStringLiteral("%2.txt") << QStringLiteral("%1 is 100% wrong")
        << QStringLiteral("Upload failed\n%2.txt could not be uploaded: %1 is 100% wrong");
    QTest::newRow("closing tag in a message, markup server")
        << true << Kind::error << QStringLiteral("x.png")
        << QStringLiteral("</b><a href=\"https://evil\">&amp;")
        << QStringLiteral("<b>Upload failed</b>\nx.png could not be uploaded: "
                          "&lt;/b&gt;&lt;a href=&quot;https://evil&quot;&gt;&amp;amp;");
}

void NotificationServiceTest::bodyShowsFileNameLiterally()
{
    QFETCH(bool, markup);
    QFETCH(Kind, kind);
    QFETCH(QString, fileName);
    QFETCH(QString, argument);
    QFETCH(QString, body);
    if (markup)
        m_server->capabilities << QStringLiteral("body-markup");

    const auto call = postAndWait(NotificationService::shared(), kind, fileName, argument);
    QCOMPARE(call.body, body);
    QCOMPARE(m_server->capabilityQueries, 1);
}

void NotificationServiceTest::eachPostHasItsOwnIdentity()
{
    NotificationService &service = NotificationService::shared();
    QSignalSpy posted(&service, &NotificationService::posted);
    service.showUploadComplete(QStringLiteral("same.txt"), QStringLiteral("https://files.example/f/1"));
    service.showUploadComplete(QStringLiteral("same.txt"), QStringLiteral("https://files.example/f/1"));
    QTRY_COMPARE(posted.count(), 2);

    QCOMPARE(m_server->notifyCalls.size(), 2);
    const auto &first = m_server->notifyCalls.at(0);
    const auto &second = m_server->notifyCalls.at(1);
    QCOMPARE(first.replacesId, 0u);
    QCOMPARE(second.replacesId, 0u);
    QVERIFY(first.assignedId != second.assignedId);
    const QString firstIdentifier = first.hints.value(QStringLiteral("x-sendova-id")).toString();
    const QString secondIdentifier = second.hints.value(QStringLiteral("x-sendova-id")).toString();
    QVERIFY(upperCaseUuid.match(firstIdentifier).hasMatch());
    QVERIFY(upperCaseUuid.match(secondIdentifier).hasMatch());
    QVERIFY(firstIdentifier != secondIdentifier);
    // The service reports the server's id under the identifier it generated.
    QCOMPARE(posted.at(0).at(0).toString(), firstIdentifier);
    QCOMPARE(posted.at(0).at(1).toUInt(), first.assignedId);
}

void NotificationServiceTest::clickOpensTheLinkOnlyWhenThereIsOne_data()
{
    QTest::addColumn<Kind>("kind");
    QTest::addColumn<QString>("argument");
    QTest::addColumn<QString>("actionKey");
    QTest::addColumn<bool>("clickAnotherId");
    QTest::addColumn<QString>("opened");

    const QString link = QStringLiteral("https://files.example/f/abc?x=1#top");
    const QString defaultAction = QStringLiteral("default");
    QTest::newRow("upload complete") << Kind::uploadComplete << link << defaultAction << false << link;
    QTest::newRow("duplicate") << Kind::duplicate << link << defaultAction << false << link;
    QTest::newRow("error notification")
        << Kind::error << QStringLiteral("failed") << defaultAction << false << QString();
    QTest::newRow("link that does not parse")
        << Kind::uploadComplete << QStringLiteral("http://[not-an-address/") << defaultAction << false
        << QString();
    QTest::newRow("someone else's notification")
        << Kind::uploadComplete << link << defaultAction << true << QString();
}

void NotificationServiceTest::clickOpensTheLinkOnlyWhenThereIsOne()
{
    QFETCH(Kind, kind);
    QFETCH(QString, argument);
    QFETCH(QString, actionKey);
    QFETCH(bool, clickAnotherId);
    QFETCH(QString, opened);
    NotificationService &service = NotificationService::shared();

    const auto call = postAndWait(service, kind, QStringLiteral("photo.png"), argument);
    const auto marker = postAndWait(service, Kind::duplicate, QStringLiteral("marker.png"),
                                    QStringLiteral("https://files.example/marker"));

    m_server->click(clickAnotherId ? marker.assignedId + 100 : call.assignedId, actionKey);
    // Signals arrive in the order the server sent them: once the marker's
    // link is open, the first click has been handled too.
    m_server->click(marker.assignedId);
    QTRY_VERIFY(m_opened.contains(QUrl(QStringLiteral("https://files.example/marker"))));

    QList<QUrl> expected;
    if (!opened.isEmpty())
        expected << QUrl(opened);
    expected << QUrl(QStringLiteral("https://files.example/marker"));
    QCOMPARE(m_opened, expected);
}

void NotificationServiceTest::languageSwitchChangesTheNextTexts()
{
    NotificationService &service = NotificationService::shared();
    const QString link = QStringLiteral("https://files.example/f/abc");

    LocalizationService::shared().setLanguage(Language::spanish);
    auto call = postAndWait(service, Kind::uploadComplete, QStringLiteral("foto.png"), link);
    QCOMPARE(call.summary, QStringLiteral("Sendova"));
    QCOMPARE(call.body, QStringLiteral("Subida completada\nfoto.png se ha subido. El enlace está listo."));
    QCOMPARE(call.actions, QStringList({QStringLiteral("default"), QStringLiteral("Abrir")}));

    call = postAndWait(service, Kind::error, QStringLiteral("foto.png"), QStringLiteral("sin red"));
    QCOMPARE(call.summary, QStringLiteral("Sendova - Error"));
    QCOMPARE(call.body, QStringLiteral("Error al subir\nNo se pudo subir foto.png: sin red"));

    LocalizationService::shared().setLanguage(Language::english);
    call = postAndWait(service, Kind::duplicate, QStringLiteral("photo.png"), link);
    QCOMPARE(call.body,
             QStringLiteral("Already uploaded\nphoto.png was already uploaded. The link is ready."));
}

void NotificationServiceTest::refusedPostWritesOneLineToStandardOutput_data()
{
    QTest::addColumn<bool>("refuseCapabilities");
    QTest::addColumn<bool>("refuseNotify");
    QTest::newRow("post refused") << false << true;
    QTest::newRow("every call refused") << true << true;
    // The body then goes out as plain text, and the post itself succeeds.
    QTest::newRow("capabilities refused") << true << false;
}

void NotificationServiceTest::refusedPostWritesOneLineToStandardOutput()
{
    QFETCH(bool, refuseCapabilities);
    QFETCH(bool, refuseNotify);
    m_server->refusalName = QStringLiteral("org.freedesktop.Notifications.Error.Refused");
    m_server->refusalMessage = QStringLiteral("Do not disturb is on");
    m_server->refuseCapabilities = refuseCapabilities;
    m_server->refuseNotify = refuseNotify;
    NotificationService &service = NotificationService::shared();
    QSignalSpy failed(&service, &NotificationService::postFailed);
    QSignalSpy posted(&service, &NotificationService::posted);

    StandardOutputCapture capture;
    service.showUploadComplete(QStringLiteral("photo.png"), QStringLiteral("https://files.example/f/abc"));
    // Standard output is redirected: wait first, judge after restoring it.
    const bool answered = QTest::qWaitFor([&] { return failed.count() + posted.count() == 1; });
    const QByteArray output = capture.finish();
    QVERIFY(answered);

    QCOMPARE(output, refuseNotify
                         ? QByteArray("Notification error: org.freedesktop.Notifications.Error.Refused: "
                                      "Do not disturb is on\n")
                         : QByteArray());
    QCOMPARE(m_server->notifyCalls.size(), 1);
    QCOMPARE(posted.count(), refuseNotify ? 0 : 1);
    QCOMPARE(service.pendingPosts(), 0);
}

void NotificationServiceTest::missingServerIsAnOrdinaryFailure_data()
{
    QTest::addColumn<bool>("busConnected");
    QTest::addColumn<QByteArray>("linePrefix");

    QTest::newRow("nobody owns the name")
        << true << QByteArray("Notification error: org.freedesktop.DBus.Error.ServiceUnknown");
    QTest::newRow("no session bus") << false
                                    << QByteArray(
                                           "Notification error: org.freedesktop.DBus.Error.Disconnected");
}

void NotificationServiceTest::missingServerIsAnOrdinaryFailure()
{
    QFETCH(bool, busConnected);
    QFETCH(QByteArray, linePrefix);
    m_server.reset();

    const QDBusConnection bus =
        busConnected ? QDBusConnection::sessionBus() : QDBusConnection(QStringLiteral("never-connected"));
    NotificationService service(bus);
    service.setUrlOpener([this](const QUrl &url) { m_opened.append(url); });
    QSignalSpy failed(&service, &NotificationService::postFailed);
    QSignalSpy idle(&service, &NotificationService::idle);

    StandardOutputCapture capture;
    service.showDuplicate(QStringLiteral("photo.png"), QStringLiteral("https://files.example/f/abc"));
    service.showError(QStringLiteral("photo.png"), QStringLiteral("broken"));
    const int pendingAfterPosting = service.pendingPosts();
    const bool answered = QTest::qWaitFor([&] { return idle.count() == 1; });
    const QByteArray output = capture.finish();
    QCOMPARE(pendingAfterPosting, 2);
    QVERIFY(answered);

    QCOMPARE(failed.count(), 2);
    const QList<QByteArray> lines = output.split('\n');
    QCOMPARE(lines.size(), 3);
    QVERIFY2(lines.at(0).startsWith(linePrefix), lines.at(0).constData());
    QVERIFY2(lines.at(1).startsWith(linePrefix), lines.at(1).constData());
    QVERIFY(lines.at(2).isEmpty());
    QVERIFY(m_opened.isEmpty());
}

QTEST_MAIN(NotificationServiceTest)
#include "NotificationServiceTest.moc"
