#include "config/ConfigService.h"
#include "KeychainTestSupport.h"
#include "config/KeychainService.h"
#include "support/StrictJson.h"

#include <QDir>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QtTest>

using namespace sendova;
using namespace sendova::test;

namespace {

AppConfig customConfig()
{
    AppConfig config;
    config._serverUrl = QStringLiteral("https://files.example.org");
    config.apiKey = QStringLiteral("key-1");
    config.showNotifications = false;
    config.launchAtLogin = true;
    config.languageCode = QStringLiteral("es");
    return config;
}

} // namespace

// Runs against the real keychain of the test session (gnome-keyring on the
// private bus), so every test starts with no stored key.
class ConfigServiceTest : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<QTemporaryDir> m_root;
    std::unique_ptr<ConfigService> m_service;

    QString folder() const { return m_root->filePath(QStringLiteral("data/Sendova")); }

private Q_SLOTS:
    void init()
    {
        qunsetenv(AppConfig::serverOverrideVariable);
        m_root = std::make_unique<QTemporaryDir>();
        QVERIFY(m_root->isValid());
        m_service = std::make_unique<ConfigService>(folder());
        KeychainService::shared().deleteAPIKey();
        QVERIFY(!KeychainService::shared().loadAPIKey());
    }

    void cleanup()
    {
        qunsetenv(AppConfig::serverOverrideVariable);
        KeychainService::shared().deleteAPIKey();
    }

    void constructorCreatesAPrivateFolder()
    {
        QVERIFY(QFileInfo(folder()).isDir());
        QCOMPARE(modeBits(folder()), 0700);
        QCOMPARE(m_service->configURL(), folder() + QStringLiteral("/config.json"));
        QCOMPARE(m_service->recentsURL(), folder() + QStringLiteral("/recents.json"));
    }

    void existingFolderIsTightened()
    {
        QVERIFY(::chmod(QFile::encodeName(folder()).constData(), 0755) == 0);
        const ConfigService again(folder());
        QCOMPARE(modeBits(folder()), 0700);
    }

    void sharedLivesInTheUserDataFolder()
    {
        // shared() is built once per process; this is the only test that asks
        // for it, with the data folder pointed at the temporary root.
        qputenv("XDG_DATA_HOME", m_root->filePath(QStringLiteral("xdg")).toLocal8Bit());
        const ConfigService &shared = ConfigService::shared();
        QCOMPARE(shared.configURL(), m_root->filePath(QStringLiteral("xdg/Sendova/config.json")));
        QVERIFY(QFileInfo(m_root->filePath(QStringLiteral("xdg/Sendova"))).isDir());
        QCOMPARE(&ConfigService::shared(), &shared);
    }

    void missingFileGivesDefaultsWithoutAskingTheKeychain()
    {
        KeychainService::shared().saveAPIKey(QStringLiteral("in-keychain"));
        QCOMPARE(m_service->loadConfig(), AppConfig::defaults());
    }

    void undecodableFileGivesDefaultsWithoutAskingTheKeychain_data()
    {
        QTest::addColumn<QByteArray>("contents");
        QTest::newRow("not JSON") << QByteArray("serverUrl=https://x.example");
        QTest::newRow("no languageCode, stored server lost too")
            << QByteArray(R"({"serverUrl":"https://kept.example","apiKey":"k","showNotifications":false,)"
                          R"("autoCopyToClipboard":true,"checkForDuplicates":true,"launchAtLogin":false})");
        QTest::newRow("folder in place of the file") << QByteArray();
    }
    void undecodableFileGivesDefaultsWithoutAskingTheKeychain()
    {
        QFETCH(QByteArray, contents);
        if (contents.isEmpty())
            QVERIFY(QDir().mkdir(m_service->configURL()));
        else
            QVERIFY(writeAll(m_service->configURL(), contents));
        KeychainService::shared().saveAPIKey(QStringLiteral("in-keychain"));
        QCOMPARE(m_service->loadConfig(), AppConfig::defaults());
        // The bad file is left for the next save to replace.
        if (!contents.isEmpty())
            QCOMPARE(readAll(m_service->configURL()), contents);
    }

    void keySource_data()
    {
        QTest::addColumn<QString>("fileKey");
        QTest::addColumn<QString>("keychainKey");
        QTest::addColumn<QString>("expected");
        QTest::newRow("keychain empty, file key kept")
            << QStringLiteral("file-key") << QString() << QStringLiteral("file-key");
        QTest::newRow("keychain replaces file key")
            << QStringLiteral("file-key") << QStringLiteral("kc-key") << QStringLiteral("kc-key");
        QTest::newRow("keychain fills empty file key")
            << QString() << QStringLiteral("kc-key") << QStringLiteral("kc-key");
        QTest::newRow("neither") << QString() << QString() << QString();
    }
    void keySource()
    {
        QFETCH(QString, fileKey);
        QFETCH(QString, keychainKey);
        QFETCH(QString, expected);
        AppConfig onDisk = customConfig();
        onDisk.apiKey = fileKey;
        QVERIFY(writeAll(m_service->configURL(), onDisk.encode()));
        if (!keychainKey.isEmpty())
            KeychainService::shared().saveAPIKey(keychainKey);
        AppConfig expectedConfig = customConfig();
        expectedConfig.apiKey = expected;
        QCOMPARE(m_service->loadConfig(), expectedConfig);
    }

    void saveKeepsTheKeyOutOfTheFile()
    {
        const AppConfig config = customConfig();
        m_service->saveConfig(config);

        const QByteArray bytes = readAll(m_service->configURL());
        const json::OrderedJson json = json::OrderedJson::parse(bytes.constBegin(), bytes.constEnd());
        QCOMPARE(json.at("apiKey").get<std::string>(), std::string());
        QCOMPARE(json.at("serverUrl").get<std::string>(), std::string("https://files.example.org"));
        QCOMPARE(json.size(), std::size_t(7));
        QCOMPARE(KeychainService::shared().loadAPIKey(), std::optional<QString>(QStringLiteral("key-1")));
        QCOMPARE(m_service->loadConfig(), config);
        QCOMPARE(modeBits(m_service->configURL()), 0600);
    }

    void saveReplacesAFileOthersCouldRead()
    {
        QVERIFY(writeAll(m_service->configURL(), "{}"));
        QVERIFY(::chmod(QFile::encodeName(m_service->configURL()).constData(), 0644) == 0);
        m_service->saveConfig(customConfig());
        QCOMPARE(modeBits(m_service->configURL()), 0600);
    }

    void saveWithEmptyKeyLeavesTheKeychainItem()
    {
        m_service->saveConfig(customConfig());
        AppConfig withoutKey = customConfig();
        withoutKey.apiKey.clear();
        withoutKey.languageCode = QStringLiteral("pt");
        m_service->saveConfig(withoutKey);
        AppConfig expected = withoutKey;
        expected.apiKey = QStringLiteral("key-1");
        QCOMPARE(m_service->loadConfig(), expected);
    }

    void saveWritesTheStoredServerNotTheOverride()
    {
        qputenv(AppConfig::serverOverrideVariable, "http://127.0.0.1:9");
        m_service->saveConfig(customConfig());
        const AppConfig loaded = m_service->loadConfig();
        QCOMPARE(loaded._serverUrl, QStringLiteral("https://files.example.org"));
        QCOMPARE(loaded.serverUrl(), QStringLiteral("http://127.0.0.1:9"));
        QVERIFY(!readAll(m_service->configURL()).contains("127.0.0.1"));
    }

    // A save that fails must not leave a new key next to old settings.
    void failedSaveKeepsFileAndKey_data()
    {
        QTest::addColumn<QString>("storedKey");
        QTest::newRow("a key was stored") << QStringLiteral("old-key");
        QTest::newRow("no key was stored") << QString();
    }
    void failedSaveKeepsFileAndKey()
    {
        QFETCH(QString, storedKey);
        AppConfig before = customConfig();
        before.apiKey = storedKey;
        m_service->saveConfig(before);
        const QByteArray file = readAll(m_service->configURL());

        AppConfig after = customConfig();
        after.apiKey = QStringLiteral("new-key");
        after._serverUrl =
            QStringLiteral("https://") + QString(4096, QLatin1Char('a')) + QStringLiteral(".example");
        try {
            const FileSizeLimit limit(512);
            m_service->saveConfig(after);
            QFAIL("a save cut short reported success");
        } catch (const ConfigSaveError &error) {
            QVERIFY2(
                error.description().startsWith(QLatin1String("Error saving configuration: Could not write ")),
                qPrintable(error.description()));
        }
        QCOMPARE(readAll(m_service->configURL()), file);
        // No temporary file is left next to it.
        QCOMPARE(QDir(folder()).entryList(QDir::Files | QDir::Hidden | QDir::System),
                 QStringList{QStringLiteral("config.json")});
        const std::optional<QString> expected =
            storedKey.isEmpty() ? std::nullopt : std::optional<QString>(storedKey);
        QCOMPARE(keyringSecret(), expected);
        QCOMPARE(KeychainService::shared().loadAPIKey(), expected);
    }

    void keyInTheFileWhenAsked()
    {
        m_service->saveConfig(customConfig());
        AppConfig insecure = customConfig();
        insecure.apiKey = QStringLiteral("file-only");
        m_service->saveConfig(insecure, KeyStorage::configFile);

        QVERIFY(readAll(m_service->configURL()).contains("\"apiKey\": \"file-only\""));
        QCOMPARE(modeBits(m_service->configURL()), 0600);
        // The keychain's older key would otherwise win over the file's.
        QCOMPARE(keyringSecret(), std::nullopt);
        QCOMPARE(m_service->loadConfig(), insecure);
    }

    void deleteAllDataReturnsToNeverSaved()
    {
        m_service->saveConfig(customConfig());
        m_service->addRecentUpload(
            RecentUpload::make(QStringLiteral("a.txt"), 1, QStringLiteral("https://l/1"),
                               QDateTime::currentDateTimeUtc(), QDateTime::currentDateTimeUtc().addDays(7)));
        QVERIFY(QFile::exists(m_service->recentsURL()));

        m_service->deleteAllData();
        QVERIFY(!QFile::exists(m_service->configURL()));
        QVERIFY(!QFile::exists(m_service->recentsURL()));
        QVERIFY(!KeychainService::shared().loadAPIKey());
        QCOMPARE(m_service->loadConfig(), AppConfig::defaults());
        QVERIFY(m_service->loadRecentUploads().isEmpty());

        // Nothing left to delete is not a failure.
        m_service->deleteAllData();
        QVERIFY(QFileInfo(folder()).isDir());
    }
};

QTEST_GUILESS_MAIN(ConfigServiceTest)
#include "ConfigServiceTest.moc"
