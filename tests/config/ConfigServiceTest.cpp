#include "config/ConfigService.h"
#include "BlockingWait.h"
#include "KeychainTestSupport.h"
#include "config/KeychainService.h"
#include "platform/AutostartEntry.h"

#include <QDir>
#include <QTemporaryDir>
#include <QTimeZone>
#include <QtTest>

using namespace sendova;
using namespace sendova::test;

namespace {

const QDateTime now(QDate(2026, 12, 5), QTime(16, 25, 11), QTimeZone::utc());

AppConfig customConfig(const QString &key = QStringLiteral("key-1"))
{
    AppConfig config;
    config._serverUrl = QStringLiteral("https://files.example.org");
    config.apiKey = key;
    config.showNotifications = false;
    config.launchAtLogin = true;
    config.languageCode = QStringLiteral("es");
    return config;
}

// What config.json holds for customConfig(): the key lies in the keychain.
const QByteArray customFile = R"({
  "serverUrl": "https://files.example.org",
  "apiKey": "",
  "showNotifications": false,
  "autoCopyToClipboard": true,
  "checkForDuplicates": true,
  "launchAtLogin": true,
  "languageCode": "es"
})";

// recents.json: upper-case ids, dates in UTC to the second.
const QByteArray recentsGolden = R"([
  {
    "id": "3F2504E0-4F89-11D3-9A0C-0305E82C3301",
    "fileName": "\"é\".pdf",
    "fileSize": 5000000000,
    "url": "https://l.example/a",
    "uploadedAt": "2026-12-05T16:25:11Z",
    "expiresAt": "2026-12-12T16:25:11Z"
  }
])";

RecentUpload entry(int number, const QDateTime &expiresAt = now.addDays(7))
{
    return RecentUpload::make(QStringLiteral("file-%1.bin").arg(number), number,
                              QStringLiteral("https://l.example/%1").arg(number), now.addSecs(-60 * number),
                              expiresAt);
}

} // namespace

// Against the session's real keychain, so every test starts with no key.
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
        m_service = std::make_unique<ConfigService>(folder(), [] { return now; });
        KeychainService::shared().deleteAPIKey();
    }
    void cleanup() { init(); }

    // SENDOVA_SERVER (null: unset) over the stored server; configured
    // takes a server and a key.
    void derivedValues_data()
    {
        QTest::addColumn<QByteArray>("override");
        QTest::addColumn<QString>("stored");
        QTest::addColumn<QString>("key");
        QTest::addColumn<QString>("expected"); // server, configured, overridden
        QTest::newRow("override wins, trimmed") << QByteArray("http://o.example/") << u"https://s.example"_qs
                                                << u"k"_qs << u"http://o.example 1 1"_qs;
        QTest::newRow("an empty override is none")
            << QByteArray("") << u"https://s.example"_qs << u"k"_qs << u"https://s.example 1 0"_qs;
        QTest::newRow("no server") << QByteArray() << QString() << u"k"_qs << u" 0 0"_qs;
    }
    void derivedValues()
    {
        QFETCH(QByteArray, override);
        QFETCH(QString, stored);
        QFETCH(QString, key);
        QFETCH(QString, expected);
        if (!override.isNull())
            qputenv(AppConfig::serverOverrideVariable, override);
        AppConfig config;
        config._serverUrl = stored;
        config.apiKey = key;
        QCOMPARE(u"%1 %2 %3"_qs.arg(config.serverUrl())
                     .arg(config.isConfigured())
                     .arg(AppConfig::hasServerOverride()),
                 expected);
    }

    void folderIsPrivate()
    {
        QCOMPARE(modeBits(folder()), 0700);
        QVERIFY(::chmod(QFile::encodeName(folder()).constData(), 0755) == 0);
        const ConfigService again(folder());
        QCOMPARE(modeBits(folder()), 0700);
    }

    // The keychain is asked only for a file that was read and understood
    // and holds no key: a key in the file was written after the keychain's.
    // What is wrong with a file is said in plain words.
    void load_data()
    {
        QTest::addColumn<QByteArray>("file");
        QTest::addColumn<QString>("keychainKey");
        QTest::addColumn<bool>("defaults");
        QTest::addColumn<QString>("expectedKey");
        QTest::addColumn<QString>("problem");
        const QByteArray withKey = customConfig(QStringLiteral("file-key")).encode();
        QTest::newRow("no file") << QByteArray() << QStringLiteral("kc") << true << QString() << QString();
        QTest::newRow("cut short") << withKey.left(40) << QStringLiteral("kc") << true << QString()
                                   << u"is damaged: it is not complete JSON"_qs;
        QTest::newRow("a member missing")
            << QByteArray(withKey).replace("\"languageCode\"", "\"language\"") << QStringLiteral("kc") << true
            << QString() << u"is damaged: the setting \"languageCode\": required member is missing"_qs;
        QTest::newRow("wrong type") << QByteArray(withKey).replace("false", "\"no\"") << QString() << true
                                    << QString() << u"the setting \"showNotifications\": expected"_qs;
        QTest::newRow("a folder") << QByteArray("folder") << QString() << true << QString()
                                  << u"is a folder, not a settings file"_qs;
        QTest::newRow("file's key wins")
            << withKey << QStringLiteral("kc") << false << QStringLiteral("file-key") << QString();
        QTest::newRow("keychain's key")
            << QByteArray(customFile) << QStringLiteral("kc") << false << QStringLiteral("kc") << QString();
    }
    void load()
    {
        QFETCH(QByteArray, file);
        QFETCH(QString, keychainKey);
        QFETCH(bool, defaults);
        QFETCH(QString, expectedKey);
        QFETCH(QString, problem);
        if (file == "folder")
            QVERIFY(QDir().mkpath(m_service->configURL()));
        else if (!file.isNull())
            QVERIFY(writeAll(m_service->configURL(), file));
        if (!keychainKey.isEmpty())
            KeychainService::shared().saveAPIKey(keychainKey);
        const AppConfig expected = defaults ? AppConfig::defaults() : customConfig(expectedKey);
        QCOMPARE(m_service->loadConfig(), expected);
        QCOMPARE(blockingWait(m_service->loadConfigAsync()), expected);
        const StoredAccount stored = blockingWait(m_service->loadAccountAsync());
        QCOMPARE(stored.config, expected);
        QVERIFY2(problem.isEmpty() ? stored.fileProblem.isEmpty()
                                   : stored.fileProblem.startsWith(m_service->configURL()) &&
                                         stored.fileProblem.contains(problem),
                 qPrintable(stored.fileProblem));
        const KeySource source = expectedKey.isEmpty()     ? KeySource::none
                                 : expectedKey == u"kc"_qs ? KeySource::keychain
                                                           : KeySource::configFile;
        QCOMPARE(stored.keySource, source);
    }

    void saveKeepsTheKeyOutOfThePrivateFile()
    {
        QVERIFY(writeAll(m_service->configURL(), "{}"));
        QVERIFY(::chmod(QFile::encodeName(m_service->configURL()).constData(), 0644) == 0);
        qputenv(AppConfig::serverOverrideVariable, "http://127.0.0.1:9");
        m_service->saveConfig(customConfig());
        QCOMPARE(readAll(m_service->configURL()), customFile);
        QCOMPARE(modeBits(m_service->configURL()), 0600);
        QCOMPARE(keyringSecret(), std::optional<QString>(QStringLiteral("key-1")));
        QCOMPARE(m_service->loadConfig(), customConfig());
        // Without a key, the stored one stays.
        blockingWait(m_service->saveConfigAsync(customConfig(QString())));
        QCOMPARE(m_service->loadConfig(), customConfig());
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
        m_service->saveConfig(customConfig(storedKey));
        AppConfig after = customConfig(QStringLiteral("new-key"));
        after._serverUrl = QStringLiteral("https://") + QString(4096, QLatin1Char('a'));
        {
            const FileSizeLimit limit(512);
            QVERIFY_THROWS_EXCEPTION(ConfigSaveError, m_service->saveConfig(after));
        }
        QCOMPARE(readAll(m_service->configURL()), customFile);
        // No temporary file is left next to it.
        QCOMPARE(QDir(folder()).entryList(QDir::Files | QDir::Hidden),
                 QStringList{QStringLiteral("config.json")});
        QCOMPARE(keyringSecret(), storedKey.isEmpty() ? std::nullopt : std::optional<QString>(storedKey));
    }

    void keyInTheFileWhenAsked()
    {
        m_service->saveConfig(customConfig());
        m_service->saveConfig(customConfig(QStringLiteral("file-only")), KeyStorage::configFile);
        QCOMPARE(readAll(m_service->configURL()), QByteArray(customFile).replace("\"\"", "\"file-only\""));
        // The keychain's older key would otherwise win over the file's.
        QCOMPARE(keyringSecret(), std::nullopt);
        QCOMPARE(m_service->loadConfig(), customConfig(QStringLiteral("file-only")));
    }

    // The one logout of every program: settings, recents, key and autostart
    // entry, each named; a locked keyring is EndToEndTest's.
    void removeAccountReturnsToNeverSaved()
    {
        m_service->saveConfig(customConfig());
        m_service->addRecentUpload(entry(1));
        QVERIFY(!AutostartEntry::setEnabled(true));
        const AccountRemoval removal = blockingWait(m_service->removeAccountAsync());
        QVERIFY(removal.complete());
        QCOMPARE(removal.removed.size(), 4);
        QCOMPARE(QDir(folder()).entryList(QDir::Files | QDir::Hidden), QStringList());
        QCOMPARE(keyringSecret(), std::nullopt);
        QVERIFY(!AutostartEntry::isEnabled());
        // Nothing left to delete is not a failure.
        const AccountRemoval again = blockingWait(m_service->removeAccountAsync());
        QVERIFY(again.complete() && again.removed.isEmpty());
    }

    // Newest first, expired ones dropped from the file too, ten at most, and
    // ten at most shown from a longer file.
    void addRecentUpload()
    {
        QList<RecentUpload> twelve;
        for (int number = 1; number <= 12; ++number)
            twelve.append(entry(number, now.addSecs(number == 3 ? -1 : number == 2 ? 0 : 60)));
        QVERIFY(writeAll(m_service->recentsURL(), RecentUpload::encodeList(twelve)));
        QCOMPARE(m_service->loadRecentUploads(), twelve.mid(0, 2) + twelve.mid(3, 8));
        m_service->addRecentUpload(entry(0));
        const QList<RecentUpload> loaded = m_service->loadRecentUploads();
        QCOMPARE(loaded.size(), 10);
        QCOMPARE(loaded.first().url, QStringLiteral("https://l.example/0"));
        QCOMPARE(loaded.mid(1), twelve.mid(0, 2) + twelve.mid(3, 7));
        QCOMPARE(RecentUpload::decodeList(readAll(m_service->recentsURL())), loaded);
        m_service->clearRecentUploads();
        QVERIFY(m_service->loadRecentUploads().isEmpty());
    }

    void recentsFileFormat()
    {
        const QUuid id = QUuid::fromString(QStringLiteral("3f2504e0-4f89-11d3-9a0c-0305e82c3301"));
        const QDateTime local(QDate(2026, 12, 5), QTime(17, 25, 11, 987), QTimeZone(3600));
        m_service->addRecentUpload({id, QStringLiteral("\"é\".pdf"), Q_INT64_C(5000000000),
                                    QStringLiteral("https://l.example/a"), local, now.addDays(7)});
        QCOMPARE(readAll(m_service->recentsURL()), recentsGolden);
        QCOMPARE(modeBits(m_service->recentsURL()), 0600);
    }

    // One bad entry rejects the whole file, which the next addition replaces.
    void readRecentsFile_data()
    {
        QTest::addColumn<QByteArray>("contents");
        QTest::addColumn<bool>("accepted");
        const auto golden = [](const char *from, const char *to) {
            return QByteArray(recentsGolden).replace(from, to);
        };
        QTest::newRow("other spellings") << golden("3F2504E0", "3f2504e0")
                                                .replace("5000000000", "5000000000.0")
                                                .replace("12T16:25:11Z", "12T17:25:11+01:00")
                                         << true;
        QTest::newRow("number past any double") << golden("5000000000", "26E66666") << false;
        QTest::newRow("good entry, then a bad one") << golden("}\n]", "},{}]") << false;
    }
    void readRecentsFile()
    {
        QFETCH(QByteArray, contents);
        QFETCH(bool, accepted);
        QVERIFY(writeAll(m_service->recentsURL(), contents));
        const QList<RecentUpload> loaded = m_service->loadRecentUploads();
        QCOMPARE(loaded.size(), accepted ? 1 : 0);
        if (accepted)
            QCOMPARE(loaded.first().expiresAt, now.addDays(7));
        const RecentUpload added = entry(1);
        m_service->addRecentUpload(added);
        QCOMPARE(m_service->loadRecentUploads().first(), added);
    }

    // A date the file cannot hold would make the whole list unreadable.
    void unwritableDateIsNotAdded()
    {
        const RecentUpload kept = entry(1);
        m_service->addRecentUpload(kept);
        m_service->addRecentUpload(entry(2, QDateTime(QDate(10000, 1, 1), QTime(0, 0), QTimeZone::utc())));
        QCOMPARE(m_service->loadRecentUploads(), QList<RecentUpload>{kept});
    }
};

QTEST_GUILESS_MAIN(ConfigServiceTest)
#include "ConfigServiceTest.moc"
