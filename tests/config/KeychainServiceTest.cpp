#include "config/KeychainService.h"
#include "BlockingWait.h"
#include "KeychainTestSupport.h"
#include "PrivateKeyring.h"

#include <QProcess>
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
        QCoro::Task<bool> deleting = keychain.deleteAPIKeyAsync();
        QVERIFY(!deleting.isReady());
        QVERIFY(blockingWait(std::move(deleting)));
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

    // Items as QtKeychain leaves them in the keyring (user, server and the
    // type of the value), read by a program that has not stored anything.
    void storedItemIsRead_data()
    {
        QTest::addColumn<QStringList>("attributes");
        QTest::addColumn<QByteArray>("secret");
        QTest::addColumn<QString>("read");
        const QStringList ours{u"user"_qs, u"api-key"_qs, u"server"_qs, u"com.sendova.client"_qs};
        QTest::newRow("text") << ours + QStringList{u"type"_qs, u"plaintext"_qs} << QByteArray("clé-ключ-🔑")
                              << u"key:clé-ключ-🔑"_qs;
        QTest::newRow("binary, in base64") << ours + QStringList{u"type"_qs, u"base64"_qs}
                                           << QByteArray("c2tfYmluYXJ5") << u"key:sk_binary"_qs;
        QTest::newRow("another program's item")
            << QStringList{u"user"_qs, u"api-key"_qs,  u"server"_qs, u"com.example.other"_qs,
                           u"type"_qs, u"plaintext"_qs}
            << QByteArray("not ours") << u"none"_qs;
    }
    void storedItemIsRead()
    {
        QFETCH(QStringList, attributes);
        QFETCH(QByteArray, secret);
        QFETCH(QString, read);
        QProcess tool;
        tool.start(u"secret-tool"_qs, QStringList{u"store"_qs, u"--label=Sendova test"_qs} + attributes);
        tool.write(secret);
        tool.closeWriteChannel();
        QVERIFY(tool.waitForFinished());
        QCOMPARE(tool.exitCode(), 0);
        QCOMPARE(probe(qEnvironmentVariable("DBUS_SESSION_BUS_ADDRESS"), {u"load"_qs}), read);
        tool.start(u"secret-tool"_qs, QStringList{u"clear"_qs} + attributes);
        QVERIFY(tool.waitForFinished());
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
        std::unique_ptr<BareBus> bus;
        QString address = QStringLiteral("unix:path=/nonexistent/sendova-test-bus");
        if (busRunning) {
            bus = std::make_unique<BareBus>();
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
    }

    // The keyring dies while the program runs: the next save fails at once
    // with the usual message, and neither config.json nor the stored key changes.
    void keyringGoneWhileRunning()
    {
        QTemporaryDir folder;
        BareBus bus;
        QVERIFY(QDir().mkpath(folder.filePath(QStringLiteral("keyring"))));
        PrivateKeyring keyring(folder.filePath(QStringLiteral("keyring")), bus.address());
        QVERIFY2(keyring.start(), "gnome-keyring-daemon did not start");
        const QString sendova = folder.filePath(QStringLiteral("Sendova"));
        QProcess saver;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"), bus.address());
        saver.setProcessEnvironment(environment);
        saver.start(QStringLiteral(KEYCHAIN_PROBE),
                    {QStringLiteral("outlive"), sendova, QStringLiteral("first"), QStringLiteral("second")});
        QVERIFY(saver.waitForReadyRead(20000));
        QCOMPARE(saver.readLine().trimmed(), QByteArray("saved"));
        QFile config(sendova + QStringLiteral("/config.json"));
        QVERIFY(config.open(QIODevice::ReadOnly));
        const QByteArray settings = config.readAll();
        config.close();

        keyring.kill();
        QVERIFY(keyring.waitForOwner(false));
        saver.write("go\n");
        // Far less than the keychain's own time limit: the failure must not wait it out.
        QVERIFY2(saver.waitForFinished(10000), "the save hung after the keyring went away");
        const QString answer = QString::fromUtf8(saver.readAll()).trimmed();
        QVERIFY2(answer.startsWith(u"error:Error saving configuration: Failed to store in Keychain"_qs),
                 qPrintable(answer));
        QVERIFY(config.open(QIODevice::ReadOnly));
        QCOMPARE(config.readAll(), settings);
        QVERIFY2(keyring.start(), "gnome-keyring-daemon did not start again");
        QCOMPARE(probe(bus.address(), {QStringLiteral("load")}), QStringLiteral("key:first"));
    }

    // A Secret Service the bus starts on demand counts as there.
    void secretServiceThatCanBeStartedCounts()
    {
        QVERIFY(blockingWait(KeychainService::secretServiceExistsAsync()));
        BareBus bus(true);
        QCOMPARE(probe(bus.address(), {QStringLiteral("exists")}), QStringLiteral("yes"));
    }
};

QTEST_GUILESS_MAIN(KeychainServiceTest)
#include "KeychainServiceTest.moc"
