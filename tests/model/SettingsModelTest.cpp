#include "model/SettingsModel.h"

#include "BlockingWait.h"
#include "KeychainTestSupport.h"
#include "SheetTestSupport.h"
#include "platform/AutostartEntry.h"

#include <QTest>

using namespace sendova;
using namespace sendova::test;

// Save and Cancel are the sheet's tests (tests/ui), which drive this model
// as a user does.
class SettingsModelTest : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    // Without a key there is nothing to test: the button is off and nothing is sent.
    void noKeyNoTest()
    {
        SheetFixture fixture;
        SettingsModel settings(*fixture.app);
        QVERIFY(settings.isTestButtonDisabled());
        blockingWait(settings.testConnection());
        QVERIFY(!settings.connectionStatus());
    }

    // With the server and key as edited, not as saved: 200 is the only
    // success, any other answer the fixed "Connection failed", a request that
    // fails its own description. The previous outcome goes when a test starts.
    void testConnection_data()
    {
        QTest::addColumn<int>("status"); // 0: nothing listens
        QTest::addColumn<QString>("expected");
        QTest::newRow("accepted") << 200 << QString();
        // Not only a refused key (401, 403): any status but 200.
        QTest::newRow("not the key's fault") << 500 << u"Connection failed"_qs;
        QTest::newRow("unreachable") << 0 << u"refused the connection"_qs;
    }
    void testConnection()
    {
        QFETCH(int, status);
        QFETCH(QString, expected);
        SheetFixture fixture;
        fixture.storeAccount(u"http://127.0.0.1:1"_qs, u"stored-key"_qs);
        AppConfig edited = fixture.app->config();
        edited._serverUrl = status ? fixture.server->baseUrl()
                                   : u"http://127.0.0.1:%1"_qs.arg(LoopbackHttpServer::unusedPort());
        edited.apiKey = u"edited-key"_qs;
        fixture.app->setConfig(edited);
        fixture.server->setDefaultReply(ScriptedReply::json(status, R"({"Success":true})"));
        SettingsModel settings(*fixture.app);
        QList<std::optional<ConnectionStatus>> seen;
        connect(&settings, &SettingsModel::connectionStatusChanged, this,
                [&] { seen << settings.connectionStatus(); });

        blockingWait(settings.testConnection());
        blockingWait(settings.testConnection());

        QVERIFY(!settings.testingConnection());
        const ConnectionStatus outcome = seen.value(0).value_or(ConnectionStatus::failed(u"none"_qs));
        QCOMPARE(seen, (QList<std::optional<ConnectionStatus>>{outcome, std::nullopt, outcome}));
        if (expected.isEmpty())
            QCOMPARE(outcome, ConnectionStatus::success());
        else
            QVERIFY2(outcome.statusCase == ConnectionStatus::Case::failed &&
                         outcome.message.contains(expected),
                     qPrintable(outcome.message));
        if (status)
            QCOMPARE(fixture.server->requests().value(0).header("X-API-Key"), "edited-key");
    }

    // Everything stored goes, the autostart entry with it.
    void logoutForgetsTheAccount()
    {
        SheetFixture fixture;
        AppViewModel &app = *fixture.app;
        AppConfig config = app.config();
        config.launchAtLogin = true;
        app.setConfig(config);
        fixture.storeAccount(fixture.server->baseUrl(), QStringLiteral("key-1"));
        QVERIFY(QFile::exists(AutostartEntry::path()));
        const QDateTime now = QDateTime::currentDateTimeUtc();
        app.addRecent(RecentUpload::make(QStringLiteral("a.txt"), 1, QStringLiteral("https://l/1"), now,
                                         now.addDays(1)));
        SettingsModel settings(app);

        blockingWait(settings.logout());

        QCOMPARE(app.config(), AppConfig::defaults());
        QVERIFY(app.recentUploads().isEmpty());
        QVERIFY(app.showSetup());
        QCOMPARE(keyringSecret(), std::nullopt);
        QVERIFY(!QFile::exists(fixture.configService->configURL()));
        QVERIFY(!QFile::exists(AutostartEntry::path()));
    }
};

QTEST_GUILESS_MAIN(SettingsModelTest)
#include "SettingsModelTest.moc"
