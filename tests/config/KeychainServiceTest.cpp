#include "config/KeychainService.h"
#include "BlockingWait.h"
#include "KeychainTestSupport.h"

#include <QTemporaryDir>
#include <QtTest>

using namespace sendova;
using namespace sendova::test;

namespace {

QString probe(const QString &busAddress, const QStringList &arguments)
{
    // A probe that waited out the bound (a hang in the backend) fails.
    const ProbeResult result = runProbe(QStringLiteral(KEYCHAIN_PROBE), busAddress, arguments);
    return result.finished ? result.output : QStringLiteral("<no answer in time>");
}

} // namespace

// Against the session's real gnome-keyring; what is stored is read back with
// libsecret's own tool (keyringSecret), under the names other programs use.
class KeychainServiceTest : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init() { KeychainService::shared().deleteAPIKey(); }
    void cleanupTestCase() { KeychainService::shared().deleteAPIKey(); }

    void storeAndLoad_data()
    {
        QTest::addColumn<QString>("key");
        QTest::newRow("non-ASCII, spaces kept") << QStringLiteral(" clé-ключ-🔑 ");
        QTest::newRow("empty") << QString();
    }
    // Through the tray program's calls, which give the caller its thread
    // back while the keyring works.
    void storeAndLoad()
    {
        QFETCH(QString, key);
        KeychainService &keychain = KeychainService::shared();
        keychain.saveAPIKey(QStringLiteral("first"));
        QCoro::Task<> storing = keychain.saveAPIKeyAsync(key);
        QVERIFY(!storing.isReady());
        blockingWait(std::move(storing));
        QCOMPARE(keyringSecret(), std::optional<QString>(key));
        QCOMPARE(blockingWait(keychain.loadAPIKeyAsync()), std::optional<QString>(key));
        QCoro::Task<> deleting = keychain.deleteAPIKeyAsync();
        QVERIFY(!deleting.isReady());
        blockingWait(std::move(deleting));
        QCOMPARE(keyringSecret(), std::nullopt);
    }

    // The command-line client and the share program read the configuration
    // and then the key: the keyring is asked once per process.
    void theKeyIsReadOncePerProcess()
    {
        KeychainService::shared().saveAPIKey(QStringLiteral("first"));
        const QString bus = qEnvironmentVariable("DBUS_SESSION_BUS_ADDRESS");
        QCOMPARE(probe(bus, {QStringLiteral("store"), QStringLiteral("changed")}), QStringLiteral("stored"));
        QCOMPARE(KeychainService::shared().loadAPIKey(), std::optional<QString>(QStringLiteral("first")));
    }

    // QString::toUtf8 would store U+FFFD in place of a lone surrogate.
    void unencodableKeyIsRefusedAndTheOldKeyStays()
    {
        KeychainService::shared().saveAPIKey(QStringLiteral("old"));
        QVERIFY_THROWS_EXCEPTION(KeychainError,
                                 KeychainService::shared().saveAPIKey(QStringLiteral("k") + QChar(0xD800)));
        QCOMPARE(keyringSecret(), std::optional<QString>(QStringLiteral("old")));
    }

    // A desktop without a secret store: nothing answers on the bus.
    void withoutSecretService_data()
    {
        QTest::addColumn<bool>("busRunning");
        QTest::newRow("bus without a Secret Service") << true;
        QTest::newRow("no bus at all") << false;
    }
    void withoutSecretService()
    {
        QFETCH(bool, busRunning);
        QTemporaryDir folder;
        std::unique_ptr<BareBus> bus;
        QString address = QStringLiteral("unix:path=") + folder.filePath(QStringLiteral("no-such-socket"));
        if (busRunning) {
            bus = std::make_unique<BareBus>(folder.path());
            QVERIFY2(!bus->address().isEmpty(), "dbus-daemon did not start");
            address = bus->address();
        }
        // The keyring of our own bus holds a key the probe must not see.
        KeychainService::shared().saveAPIKey(QStringLiteral("on the other bus"));

        QCOMPARE(probe(address, {QStringLiteral("exists")}), QStringLiteral("no"));
        QCOMPARE(probe(address, {QStringLiteral("load")}), QStringLiteral("none"));
        const QRegularExpression refused(
            QStringLiteral(R"(^error:Failed to store in Keychain \(status: [1-9]\d*\)$)"));
        const QString store = probe(address, {QStringLiteral("store"), QStringLiteral("new")});
        QVERIFY2(refused.match(store).hasMatch(), qPrintable(store));

        // A save whose key cannot be stored writes no file.
        const QString sendova = folder.filePath(QStringLiteral("Sendova"));
        const QString save = probe(address, {QStringLiteral("save-config"), sendova, QStringLiteral("k")});
        QVERIFY2(
            save.startsWith(QLatin1String("error:Error saving configuration: Failed to store in Keychain")),
            qPrintable(save));
        QVERIFY(!QFile::exists(sendova + QStringLiteral("/config.json")));
    }

    // A Secret Service the bus starts on demand counts as there.
    void secretServiceThatCanBeStartedCounts()
    {
        QVERIFY(blockingWait(KeychainService::secretServiceExistsAsync()));
        QTemporaryDir folder;
        BareBus bus(folder.path(), true);
        QCOMPARE(probe(bus.address(), {QStringLiteral("exists")}), QStringLiteral("yes"));
    }
};

QTEST_GUILESS_MAIN(KeychainServiceTest)
#include "KeychainServiceTest.moc"
