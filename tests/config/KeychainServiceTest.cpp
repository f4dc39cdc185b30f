#include "config/KeychainService.h"
#include "BlockingWait.h"
#include "KeychainTestSupport.h"
#include "config/AppConfig.h"

#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusInterface>
#include <QDBusMetaType>
#include <QDBusObjectPath>
#include <QDBusReply>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>
#include <QtTest>

#include <qt6keychain/keychain.h>

#include <csignal>

using namespace sendova;
using namespace sendova::test;

namespace {

using Attributes = QMap<QString, QString>;

// The items the Secret Service holds for our service and account, asked of
// the keyring directly rather than through the code under test; nothing when
// the keyring does not answer.
std::optional<QStringList> storedItems()
{
    QDBusInterface secrets(QStringLiteral("org.freedesktop.secrets"),
                           QStringLiteral("/org/freedesktop/secrets"),
                           QStringLiteral("org.freedesktop.Secret.Service"));
    const Attributes attributes{{QStringLiteral("user"), KeychainService::apiKeyAccount()},
                                {QStringLiteral("server"), KeychainService::service()}};
    const QDBusMessage reply = secrets.call(QStringLiteral("SearchItems"), QVariant::fromValue(attributes));
    if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().size() != 2)
        return std::nullopt;
    QStringList paths;
    for (const QVariant &list : reply.arguments()) {
        for (const QDBusObjectPath &path : qdbus_cast<QList<QDBusObjectPath>>(list))
            paths.append(path.path());
    }
    return paths;
}

int storedItemCount()
{
    const std::optional<QStringList> items = storedItems();
    return items ? static_cast<int>(items->size()) : -1;
}

} // namespace

namespace {

// gnome-keyring's Secret Service on a bus of the test's own, its files in a
// folder of the test's own, so that a test can take it away while a program
// runs and bring it back afterwards.
class PrivateKeyring
{
public:
    PrivateKeyring(const QString &folder, const QString &busAddress)
        : m_folder(folder), m_busAddress(busAddress)
    {}
    ~PrivateKeyring() { kill(); }

    // True once the service answers on the bus.
    bool start()
    {
        QProcess daemon;
        QProcessEnvironment environment;
        environment.insert(QStringLiteral("PATH"), qEnvironmentVariable("PATH"));
        environment.insert(QStringLiteral("HOME"), m_folder);
        environment.insert(QStringLiteral("XDG_DATA_HOME"), m_folder + QStringLiteral("/data"));
        environment.insert(QStringLiteral("XDG_RUNTIME_DIR"), m_folder);
        environment.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"), m_busAddress);
        daemon.setProcessEnvironment(environment);
        daemon.start(QStringLiteral("gnome-keyring-daemon"),
                     {QStringLiteral("--unlock"), QStringLiteral("--components=secrets")});
        daemon.write("sendova-test");
        daemon.closeWriteChannel();
        // It forks and its parent ends once the service is on the bus; the
        // process that stays is found through the bus.
        if (!daemon.waitForFinished(10000) || !waitForOwner(true))
            return false;
        QDBusConnection bus = QDBusConnection::connectToBus(m_busAddress, QStringLiteral("keyring-pid"));
        m_pid = pid_t(bus.interface()->servicePid(QStringLiteral("org.freedesktop.secrets")).value());
        QDBusConnection::disconnectFromBus(QStringLiteral("keyring-pid"));
        return m_pid > 0;
    }

    // As a crash would: no chance to tidy up.
    void kill()
    {
        if (m_pid > 0)
            ::kill(m_pid, SIGKILL);
        m_pid = 0;
    }

    bool waitForOwner(bool owned) const
    {
        QDBusConnection bus = QDBusConnection::connectToBus(m_busAddress, QStringLiteral("keyring-watch"));
        bool reached = false;
        for (int i = 0; i < 100 && !reached; ++i) {
            reached =
                bus.interface()->isServiceRegistered(QStringLiteral("org.freedesktop.secrets")).value() ==
                owned;
            if (!reached)
                QThread::msleep(50);
        }
        QDBusConnection::disconnectFromBus(QStringLiteral("keyring-watch"));
        return reached;
    }

private:
    QString m_folder;
    QString m_busAddress;
    pid_t m_pid = 0;
};

} // namespace

class KeychainServiceTest : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase()
    {
        qDBusRegisterMetaType<Attributes>();
        QVERIFY2(QDBusConnection::sessionBus().interface()->isServiceRegistered(
                     QStringLiteral("org.freedesktop.secrets")),
                 "run under scripts/with-test-session: no Secret Service on the session bus");
    }

    void init()
    {
        KeychainService::shared().deleteAPIKey();
        QCOMPARE(storedItemCount(), 0);
    }

    void cleanupTestCase() { KeychainService::shared().deleteAPIKey(); }

    void storeAndLoad_data()
    {
        QTest::addColumn<QString>("key");
        QTest::newRow("non-ASCII") << QStringLiteral("clé-ключ-鍵-🔑");
        QTest::newRow("spaces kept") << QStringLiteral("  padded key  ");
        QTest::newRow("empty") << QString();
    }
    void storeAndLoad()
    {
        QFETCH(QString, key);
        KeychainService::shared().saveAPIKey(key);
        QCOMPARE(keyringSecret(), std::optional<QString>(key));
        QCOMPARE(KeychainService::shared().loadAPIKey(), std::optional<QString>(key));
        QCOMPARE(storedItemCount(), 1);
    }

    void storingTwiceLeavesOneItemWithTheSecondKey()
    {
        KeychainService::shared().saveAPIKey(QStringLiteral("first"));
        const std::optional<QStringList> before = storedItems();
        KeychainService::shared().saveAPIKey(QStringLiteral("second"));
        QCOMPARE(storedItemCount(), 1);
        // The same item took the new value: it was never deleted, so no
        // moment existed in which a failure could have left no key at all.
        QCOMPARE(storedItems(), before);
        QCOMPARE(keyringSecret(), std::optional<QString>(QStringLiteral("second")));
    }

    void storeAfterTheItemWasDeletedElsewhere()
    {
        KeychainService::shared().saveAPIKey(QStringLiteral("first"));
        // Another program (here the libsecret command-line tool) removes it.
        QProcess tool;
        tool.start(QStringLiteral("secret-tool"),
                   {QStringLiteral("clear"), QStringLiteral("user"), KeychainService::apiKeyAccount(),
                    QStringLiteral("server"), KeychainService::service()});
        QVERIFY(tool.waitForFinished());
        QCOMPARE(storedItemCount(), 0);
        KeychainService::shared().saveAPIKey(QStringLiteral("again"));
        QCOMPARE(keyringSecret(), std::optional<QString>(QStringLiteral("again")));
    }

    void loadWithoutItemOrAfterDeleteIsNothing()
    {
        QVERIFY(!KeychainService::shared().loadAPIKey());
        KeychainService::shared().saveAPIKey(QStringLiteral("gone soon"));
        KeychainService::shared().deleteAPIKey();
        QCOMPARE(storedItemCount(), 0);
        QVERIFY(!KeychainService::shared().loadAPIKey());
        // Deleting what is not there is not an error either.
        KeychainService::shared().deleteAPIKey();
    }

    void callableFromAnotherThread()
    {
        std::optional<QString> loaded;
        QThread *worker = QThread::create([&loaded] {
            KeychainService::shared().saveAPIKey(QStringLiteral("from a worker"));
            loaded = KeychainService::shared().loadAPIKey();
        });
        worker->start();
        QVERIFY(worker->wait(QDeadlineTimer(KeychainService::operationBound * 3)));
        delete worker;
        QCOMPARE(loaded, std::optional<QString>(QStringLiteral("from a worker")));
        QCOMPARE(keyringSecret(), loaded);
    }

    // The tray program's calls: the caller gets its thread back while the
    // keyring works, so an interface keeps drawing.
    void awaitableCallsLeaveTheCallerFree()
    {
        QCoro::Task<> storing = KeychainService::shared().saveAPIKeyAsync(QStringLiteral("awaited"));
        QVERIFY(!storing.isReady());
        blockingWait(std::move(storing));
        QCOMPARE(keyringSecret(), std::optional<QString>(QStringLiteral("awaited")));
        QCOMPARE(blockingWait(KeychainService::shared().loadAPIKeyAsync()),
                 std::optional<QString>(QStringLiteral("awaited")));
        QCoro::Task<> deleting = KeychainService::shared().deleteAPIKeyAsync();
        QVERIFY(!deleting.isReady());
        blockingWait(std::move(deleting));
        QCOMPARE(storedItemCount(), 0);
    }

    // The command-line client and the share program each read the
    // configuration and then the key: the keyring is asked once.
    void theKeyIsReadOncePerProcess()
    {
        KeychainService::shared().saveAPIKey(QStringLiteral("first"));
        QTemporaryDir folder;
        AppConfig onDisk;
        QVERIFY(writeAll(folder.filePath(QStringLiteral("config.json")), onDisk.encode()));
        const ProbeResult probe =
            runProbe(QStringLiteral(KEYCHAIN_PROBE), qEnvironmentVariable("DBUS_SESSION_BUS_ADDRESS"),
                     {QStringLiteral("read-once"), folder.path()});
        QVERIFY(probe.finished);
        QCOMPARE(probe.output, QStringLiteral("key:first key:first"));
        QCOMPARE(keyringSecret(), std::optional<QString>(QStringLiteral("changed")));
    }

    void unencodableKeyIsRefusedAndTheOldKeyStays()
    {
        KeychainService::shared().saveAPIKey(QStringLiteral("old"));
        const QString loneSurrogate = QStringLiteral("key") + QChar(0xD800);
        try {
            KeychainService::shared().saveAPIKey(loneSurrogate);
            QFAIL("a key that is not valid Unicode was stored");
        } catch (const KeychainError &error) {
            QCOMPARE(error.kind(), KeychainError::Kind::encodingFailed);
            QCOMPARE(error.description(), QStringLiteral("Failed to encode API key"));
        }
        QCOMPARE(keyringSecret(), std::optional<QString>(QStringLiteral("old")));
    }

    void storeFailureDescription_data()
    {
        QTest::addColumn<qint32>("status");
        QTest::addColumn<QString>("description");
        QTest::newRow("negative") << qint32(-25308)
                                  << QStringLiteral("Failed to store in Keychain (status: -25308)");
    }
    void storeFailureDescription()
    {
        QFETCH(qint32, status);
        QFETCH(QString, description);
        const KeychainError error =
            KeychainError::unableToStore(status, QStringLiteral("detail for the log"));
        QCOMPARE(error.description(), description);
        QCOMPARE(error.status(), status);
        QVERIFY(error.technicalText().contains(QLatin1String("detail for the log")));
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
        QVERIFY(folder.isValid());
        std::unique_ptr<BareBus> bus;
        QString address = QStringLiteral("unix:path=") + folder.filePath(QStringLiteral("no-such-socket"));
        if (busRunning) {
            bus = std::make_unique<BareBus>(folder.path());
            QVERIFY2(!bus->address().isEmpty(), "dbus-daemon did not start");
            address = bus->address();
        }
        const auto probe = [&](const QStringList &arguments) {
            // A probe that waited out the bound (a hang in the backend) fails.
            const ProbeResult result = runProbe(QStringLiteral(KEYCHAIN_PROBE), address, arguments);
            return result.finished ? result.output : QStringLiteral("<no answer in time>");
        };

        // The keyring of our own bus holds a key the probe must not see.
        KeychainService::shared().saveAPIKey(QStringLiteral("on the other bus"));

        QCOMPARE(probe({QStringLiteral("exists")}), QStringLiteral("no"));
        QCOMPARE(probe({QStringLiteral("load")}), QStringLiteral("none"));
        const QString store = probe({QStringLiteral("store"), QStringLiteral("new")});
        QVERIFY2(QRegularExpression(
                     QStringLiteral(R"(^error:Failed to store in Keychain \(status: [1-9][0-9]*\)$)"))
                     .match(store)
                     .hasMatch(),
                 qPrintable(store));

        // A save whose key cannot be stored writes no file.
        const QString fresh = folder.filePath(QStringLiteral("Fresh"));
        const QString refused = probe({QStringLiteral("save-config"), fresh, QStringLiteral("k")});
        QVERIFY2(refused.startsWith(QLatin1String(
                     "error:Error saving configuration: Failed to store in Keychain (status: ")),
                 qPrintable(refused));
        QVERIFY(!QFile::exists(fresh + QStringLiteral("/config.json")));

        // Asked for, the key goes into the private file, and loading the
        // configuration finds it there.
        const QString sendova = folder.filePath(QStringLiteral("Sendova"));
        QCOMPARE(probe({QStringLiteral("save-config"), sendova, QStringLiteral("in the file"),
                        QStringLiteral("insecure")}),
                 QStringLiteral("saved"));
        QCOMPARE(modeBits(sendova), 0700);
        QCOMPARE(modeBits(sendova + QStringLiteral("/config.json")), 0600);
        QCOMPARE(probe({QStringLiteral("load-config"), sendova}), QStringLiteral("key:in the file"));
    }

    // The keyring dies while a program runs: the next save fails at once
    // with the keychain's message, the settings file stays as it was, and
    // the key is still there when the keyring comes back.
    void keyringGoneWhileRunning()
    {
        QTemporaryDir folder;
        QVERIFY(folder.isValid());
        BareBus bus(folder.path());
        QVERIFY2(!bus.address().isEmpty(), "dbus-daemon did not start");
        PrivateKeyring keyring(folder.filePath(QStringLiteral("keyring")), bus.address());
        QVERIFY(QDir().mkpath(folder.filePath(QStringLiteral("keyring"))));
        QVERIFY2(keyring.start(), "gnome-keyring-daemon did not start");

        const QString sendova = folder.filePath(QStringLiteral("Sendova"));
        QProcess probe;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"), bus.address());
        probe.setProcessEnvironment(environment);
        probe.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        probe.start(QStringLiteral(KEYCHAIN_PROBE),
                    {QStringLiteral("outlive"), sendova, QStringLiteral("first"), QStringLiteral("second")});
        QVERIFY(probe.waitForReadyRead(20000));
        QCOMPARE(probe.readLine().trimmed(), QByteArray("saved"));
        const QByteArray settings = readAll(sendova + QStringLiteral("/config.json"));
        QVERIFY(!settings.isEmpty());

        keyring.kill();
        QVERIFY(keyring.waitForOwner(false));
        probe.write("go\n");
        // Far less than KeychainService::operationBound: the failure must not
        // wait out a time limit.
        const bool finished = probe.waitForFinished(10000);
        if (!finished)
            probe.kill();
        QVERIFY2(finished, "the save hung after the keyring went away");
        const QString answer = QString::fromUtf8(probe.readAll()).trimmed();
        QVERIFY2(
            QRegularExpression(
                QStringLiteral(
                    R"(^error:Error saving configuration: Failed to store in Keychain \(status: [1-9][0-9]*\)$)"))
                .match(answer)
                .hasMatch(),
            qPrintable(answer));
        QCOMPARE(readAll(sendova + QStringLiteral("/config.json")), settings);

        QVERIFY2(keyring.start(), "gnome-keyring-daemon did not start again");
        QCOMPARE(runProbe(QStringLiteral(KEYCHAIN_PROBE), bus.address(), {QStringLiteral("load")}).output,
                 QStringLiteral("key:first"));
    }

    void secretServiceThatCanBeStartedCounts()
    {
        QVERIFY(KeychainService::secretServiceExists());
        QVERIFY(blockingWait(KeychainService::secretServiceExistsAsync()));
        QTemporaryDir folder;
        BareBus bus(folder.path(), true);
        QVERIFY2(!bus.address().isEmpty(), "dbus-daemon did not start");
        QCOMPARE(runProbe(QStringLiteral(KEYCHAIN_PROBE), bus.address(), {QStringLiteral("exists")}).output,
                 QStringLiteral("yes"));
    }
};

QTEST_GUILESS_MAIN(KeychainServiceTest)
#include "KeychainServiceTest.moc"
