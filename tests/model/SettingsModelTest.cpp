#include "model/SettingsModel.h"

#include "BlockingWait.h"
#include "KeychainTestSupport.h"
#include "SheetTestSupport.h"
#include "platform/AutostartEntry.h"

#include <QTest>

using namespace sendova;
using namespace sendova::test;

// Testing the connection, Save and Cancel are the sheet's tests (tests/ui),
// which drive this model as a user does.
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
