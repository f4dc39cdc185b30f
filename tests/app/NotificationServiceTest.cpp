#include "app/NotificationService.h"
#include "support/LocalizationService.h"

#include "TestNotificationServer.h"

#include <QSignalSpy>
#include <QtTest>

using namespace sendova;
using sendova::test::TestNotificationServer;

class NotificationServiceTest : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase() { LocalizationService::shared().setLanguage(Language::english); }
    void init()
    {
        m_server = std::make_unique<TestNotificationServer>();
        QVERIFY(m_server->start());
    }

    // The file name and the server's message are shown as they are, never as
    // placeholders or markup.
    void posts_data()
    {
        QTest::addColumn<QString>("fileName");
        QTest::addColumn<QString>("argument");
        // Summary, line break, body; bold only where the server takes markup.
        QTest::addColumn<QString>("shown");
        QTest::newRow("upload complete")
            << u"100% done.txt"_qs << u"https://files.example/f/abc"_qs
            << u"Sendova\nUpload complete\n100% done.txt was uploaded. The link is ready."_qs;
        QTest::newRow("placeholders in name and message")
            << u"%2.txt"_qs << u"%1 is 100% wrong"_qs
            << u"Sendova - Error\nUpload failed\n%2.txt could not be uploaded: %1 is 100% wrong"_qs;
        // In the language of the moment, not of the start.
        QTest::newRow("duplicate, after a switch to Spanish")
            << u"b.png"_qs << u"https://files.example/f/b"_qs
            << u"Sendova\nYa subido\nb.png ya estaba subido. El enlace está listo."_qs;
        QTest::newRow("closing tag in a message, markup server")
            << u"x.png"_qs << u"</b><a href=\"https://evil\">&amp;"_qs
            << u"Sendova - Error\n<b>Upload failed</b>\nx.png could not be uploaded: "
               "&lt;/b&gt;&lt;a href=&quot;https://evil&quot;&gt;&amp;amp;"_qs;
    }
    void posts()
    {
        QFETCH(QString, fileName);
        QFETCH(QString, argument);
        QFETCH(QString, shown);
        if (shown.contains(u"<b>"_qs))
            m_server->capabilities << QStringLiteral("body-markup");
        NotificationService &service = NotificationService::shared();
        const bool duplicate = shown.contains(u"Ya subido"_qs);
        if (duplicate)
            LocalizationService::shared().setLanguage(Language::spanish);
        if (shown.startsWith(u"Sendova - Error"_qs))
            service.showError(fileName, argument);
        else if (duplicate)
            service.showDuplicate(fileName, argument);
        else
            service.showUploadComplete(fileName, argument);
        LocalizationService::shared().setLanguage(Language::english);
        QTRY_COMPARE(m_server->notifyCalls.size(), 1);

        const TestNotificationServer::NotifyCall call = m_server->notifyCalls.value(0);
        QCOMPARE(call.summary + u'\n' + call.body, shown);
    }

    // Only a notification with a link opens something when clicked.
    void clickOpensTheLink()
    {
        // Its own: notification ids start again with every test's server.
        NotificationService service(QDBusConnection::sessionBus());
        QList<QUrl> opened;
        service.setUrlOpener([&opened](const QUrl &url) { opened.append(url); });
        service.showError(QStringLiteral("a.png"), QStringLiteral("failed"));
        service.showDuplicate(QStringLiteral("b.png"), QStringLiteral("https://files.example/f/b?x=1#top"));
        QTRY_COMPARE(m_server->notifyCalls.size(), 2);
        m_server->click(m_server->notifyCalls.at(0).assignedId);
        m_server->click(m_server->notifyCalls.at(1).assignedId);
        QTRY_COMPARE(opened, QList<QUrl>{QUrl(QStringLiteral("https://files.example/f/b?x=1#top"))});
    }

    // A post that goes wrong still ends; a server that will not say what it
    // can show gets the body as plain text.
    void failedPostsEnd_data()
    {
        QTest::addColumn<QString>("server");
        QTest::newRow("post refused") << u"refusing"_qs;
        QTest::newRow("capabilities refused") << u"refusing capabilities"_qs;
    }
    void failedPostsEnd()
    {
        QFETCH(QString, server);
        m_server->refuseCapabilities = server != QLatin1String("refusing");
        m_server->refuseNotify = server == QLatin1String("refusing");
        NotificationService &service = NotificationService::shared();
        QSignalSpy idle(&service, &NotificationService::idle);

        service.showUploadComplete(QStringLiteral("photo.png"),
                                   QStringLiteral("https://files.example/f/abc"));

        QTRY_COMPARE(idle.count(), 1);
        QCOMPARE(m_server->notifyCalls.size(), 1);
    }

private:
    std::unique_ptr<TestNotificationServer> m_server;
};

QTEST_MAIN(NotificationServiceTest)
#include "NotificationServiceTest.moc"
