#include "model/SettingsModel.h"

#include "BlockingWait.h"
#include "KeychainTestSupport.h"
#include "SheetTestSupport.h"

#include <QTest>

using namespace sendova;
using namespace sendova::test;

class SettingsModelTest : public QObject
{
    Q_OBJECT

    std::unique_ptr<SheetFixture> m_fixture;
    std::unique_ptr<SettingsModel> m_settings;

    SettingsModel &settings() { return *m_settings; }
    AppViewModel &app() { return *m_fixture->app; }
    LoopbackHttpServer &server() { return *m_fixture->server; }

    void edit(const std::function<void(AppConfig &)> &change)
    {
        AppConfig config = app().config();
        change(config);
        app().setConfig(config);
    }

private Q_SLOTS:
    void init()
    {
        m_fixture = std::make_unique<SheetFixture>();
        m_fixture->storeAccount(server().baseUrl(), QStringLiteral("key-1"));
        m_settings = std::make_unique<SettingsModel>(app());
        app().setShowSettings(true);
        settings().present(false);
    }

    void cleanup()
    {
        m_settings.reset();
        m_fixture.reset();
        LocalizationService::shared().setLanguage(Language::english);
    }

    void testConnection_data()
    {
        QTest::addColumn<QString>("server");
        QTest::addColumn<int>("status");
        QTest::addColumn<std::optional<ConnectionStatus>>("expected");
        const auto failed = [](const QString &text) { return std::optional(ConnectionStatus::failed(text)); };
        QTest::newRow("accepted") << QString() << 200 << std::optional(ConnectionStatus::success());
        QTest::newRow("key refused") << QString() << 401 << failed(QStringLiteral("Connection failed"));
        QTest::newRow("server error") << QString() << 500 << failed(QStringLiteral("Connection failed"));
        QTest::newRow("address without a scheme")
            << QStringLiteral("localhost:8080") << 0 << failed(text("error.invalid_url"));
    }
    void testConnection()
    {
        QFETCH(QString, server);
        QFETCH(int, status);
        QFETCH(std::optional<ConnectionStatus>, expected);
        if (!server.isEmpty())
            edit([&](AppConfig &config) { config._serverUrl = server; });
        this->server().enqueue(ScriptedReply::json(status, "{}"));
        QList<bool> testing;
        connect(&settings(), &SettingsModel::testingConnectionChanged, this, [&] {
            testing << settings().testingConnection();
            QCOMPARE(settings().isTestButtonDisabled(), settings().testingConnection());
        });

        blockingWait(settings().testConnection());

        QCOMPARE(testing, (QList<bool>{true, false}));
        QCOMPARE(settings().connectionStatus(), expected);
        if (status)
            QCOMPARE(this->server().requests().value(0).header("X-API-Key"),
                     std::optional<QByteArray>("key-1"));
    }

    void noKeyNoTest()
    {
        QSignalSpy disabled(&settings(), &SettingsModel::isTestButtonDisabledChanged);
        edit([](AppConfig &config) { config.apiKey.clear(); });
        edit([](AppConfig &config) { config.launchAtLogin = !config.launchAtLogin; });
        QCOMPARE(disabled.size(), 1);
        QVERIFY(settings().isTestButtonDisabled());
        blockingWait(settings().testConnection());
        QVERIFY(!settings().connectionStatus());
        QCOMPARE(server().requests().size(), 0);
    }

    void serverRowShows_data()
    {
        QTest::addColumn<bool>("altHeld");
        QTest::addColumn<bool>("override");
        QTest::addColumn<bool>("publicServer");
        QTest::addColumn<bool>("shown");
        QTest::newRow("public server") << false << false << true << false;
        QTest::newRow("Alt held") << true << false << true << true;
        QTest::newRow("environment") << false << true << true << true;
        QTest::newRow("own server stored") << false << false << false << true;
    }
    void serverRowShows()
    {
        QFETCH(bool, altHeld);
        QFETCH(bool, override);
        QFETCH(bool, publicServer);
        QFETCH(bool, shown);
        if (override)
            qputenv(AppConfig::serverOverrideVariable, "http://127.0.0.1:9");
        if (publicServer)
            edit([](AppConfig &config) {
                config._serverUrl = QString::fromLatin1(AppConfig::defaultServerUrl);
            });
        settings().present(altHeld);
        QCOMPARE(settings().showServerField(), shown);
    }

    // The language switches as it is picked; Cancel brings back the stored
    // settings and the stored language.
    void cancelRestoresSettingsAndLanguage()
    {
        const AppConfig saved = app().config();
        QSignalSpy language(&settings(), &SettingsModel::languageChanged);
        settings().setLanguage(Language::portuguese);
        QCOMPARE(LocalizationService::shared().currentLanguage(), Language::portuguese);
        QCOMPARE(app().config().languageCode, QStringLiteral("pt"));
        edit([](AppConfig &config) { config.checkForDuplicates = false; });

        blockingWait(settings().cancel());

        QCOMPARE(app().config(), saved);
        QCOMPARE(LocalizationService::shared().currentLanguage(), Language::english);
        QCOMPARE(language.size(), 2);
        QVERIFY(!app().showSettings());
    }

    void saveStoresAndCloses()
    {
        edit([](AppConfig &config) {
            config.apiKey = QStringLiteral("key-2");
            config.showNotifications = false;
        });
        blockingWait(settings().save());
        QCOMPARE(m_fixture->stored(), app().config());
        QCOMPARE(keyringSecret(), std::optional<QString>(QStringLiteral("key-2")));
        QVERIFY(!app().showSettings());
    }

    void logoutForgetsTheAccount()
    {
        app().addRecent(RecentUpload::make(QStringLiteral("a.txt"), 1, QStringLiteral("https://l/1"),
                                           QDateTime::currentDateTimeUtc(),
                                           QDateTime::currentDateTimeUtc().addDays(1)));
        blockingWait(settings().logout());
        QCOMPARE(app().config(), AppConfig::defaults());
        QVERIFY(app().recentUploads().isEmpty());
        QVERIFY(app().showSetup());
        QVERIFY(!app().showSettings());
        QCOMPARE(keyringSecret(), std::nullopt);
        QVERIFY(!QFile::exists(m_fixture->configService->configURL()));
        QVERIFY(!QFile::exists(m_fixture->configService->recentsURL()));
    }
};

QTEST_GUILESS_MAIN(SettingsModelTest)
#include "SettingsModelTest.moc"
