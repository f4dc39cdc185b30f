#include "config/KeychainService.h"
#include "ConfigTestSupport.h"
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
#include <QtTest>

#include <qt6keychain/keychain.h>

using namespace sendova;
using namespace sendova::test;

namespace {

using Attributes = QMap<QString, QString>;

// A session bus with no Secret Service and nothing it could start on
// demand: no service folders, so the keyring cannot be activated.
class BareBus
{
public:
    explicit BareBus(const QString &folder)
    {
        const QString config = folder + QStringLiteral("/bus.conf");
        writeAll(config,
                 QByteArrayLiteral(
                     "<!DOCTYPE busconfig PUBLIC \"-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN\"\n"
                     " \"http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd\">\n"
                     "<busconfig><type>session</type><listen>unix:dir=") +
                     QFile::encodeName(folder) +
                     QByteArrayLiteral(
                         "</listen><auth>EXTERNAL</auth>"
                         "<policy context=\"default\"><allow send_destination=\"*\" eavesdrop=\"true\"/>"
                         "<allow eavesdrop=\"true\"/>"
                         "<allow own=\"*\"/></policy></busconfig>\n"));
        m_daemon.start(QStringLiteral("dbus-daemon"),
                       {QStringLiteral("--config-file=") + config, QStringLiteral("--nofork"),
                        QStringLiteral("--print-address=1")});
        if (m_daemon.waitForStarted()) {
            while (!m_daemon.canReadLine() && m_daemon.waitForReadyRead(10000)) {
            }
            m_address = QString::fromUtf8(m_daemon.readLine()).trimmed();
        }
    }
    ~BareBus()
    {
        m_daemon.terminate();
        m_daemon.waitForFinished();
    }
    QString address() const { return m_address; }

private:
    QProcess m_daemon;
    QString m_address;
};

struct ProbeResult
{
    bool finished = false;
    QString output;
};

// Well under KeychainService::operationBound, so a probe that waited out the
// bound (a hang in the backend) fails the test instead of passing slowly.
constexpr int probeLimitMs = 20000;

ProbeResult runProbe(const QString &busAddress, const QStringList &arguments)
{
    QProcess probe;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"), busAddress);
    // The backend choice follows the desktop; these tests want the plain
    // Secret Service path whatever desktop runs them.
    for (const char *name :
         {"XDG_CURRENT_DESKTOP", "DESKTOP_SESSION", "KDE_SESSION_VERSION", "KDE_FULL_SESSION",
          "GNOME_DESKTOP_SESSION_ID", "GNOME_KEYRING_CONTROL", "DISPLAY"})
        environment.remove(QString::fromLatin1(name));
    probe.setProcessEnvironment(environment);
    probe.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    probe.start(QStringLiteral(KEYCHAIN_PROBE), arguments);
    ProbeResult result;
    result.finished = probe.waitForFinished(probeLimitMs);
    if (!result.finished) {
        probe.kill();
        probe.waitForFinished();
    }
    result.output = QString::fromUtf8(probe.readAllStandardOutput()).trimmed();
    return result;
}

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
        QTest::newRow("ASCII") << QStringLiteral("sk_live_0123456789abcdef");
        QTest::newRow("non-ASCII") << QStringLiteral("clé-ключ-鍵-🔑");
        QTest::newRow("leading byte-order mark") << QStringLiteral("\uFEFFkey");
        QTest::newRow("spaces kept") << QStringLiteral("  padded key  ");
        QTest::newRow("empty") << QString();
    }
    void storeAndLoad()
    {
        QFETCH(QString, key);
        KeychainService::shared().saveAPIKey(key);
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
        QCOMPARE(KeychainService::shared().loadAPIKey(), std::optional<QString>(QStringLiteral("second")));
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
        QCOMPARE(KeychainService::shared().loadAPIKey(), std::optional<QString>(QStringLiteral("again")));
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
        QCOMPARE(KeychainService::shared().loadAPIKey(), std::optional<QString>(QStringLiteral("old")));
    }

    void storeFailureDescription_data()
    {
        QTest::addColumn<qint32>("status");
        QTest::addColumn<QString>("description");
        QTest::newRow("QtKeychain code")
            << qint32(QKeychain::AccessDenied) << QStringLiteral("Failed to store in Keychain (status: 4)");
        QTest::newRow("negative") << qint32(-25308)
                                  << QStringLiteral("Failed to store in Keychain (status: -25308)");
        QTest::newRow("lowest") << std::numeric_limits<qint32>::min()
                                << QStringLiteral("Failed to store in Keychain (status: -2147483648)");
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

        // The keyring of our own bus holds a key the probe must not see.
        KeychainService::shared().saveAPIKey(QStringLiteral("on the other bus"));

        const ProbeResult load = runProbe(address, {QStringLiteral("load")});
        QVERIFY2(load.finished, "loading without a Secret Service did not end before the bound");
        QCOMPARE(load.output, QStringLiteral("none"));

        const ProbeResult store = runProbe(address, {QStringLiteral("store"), QStringLiteral("new")});
        QVERIFY(store.finished);
        QVERIFY2(QRegularExpression(
                     QStringLiteral(R"(^error:Failed to store in Keychain \(status: [1-9][0-9]*\)$)"))
                     .match(store.output)
                     .hasMatch(),
                 qPrintable(store.output));

        // The file's key is what loading the configuration then uses.
        AppConfig onDisk;
        onDisk.apiKey = QStringLiteral("from the file");
        QDir().mkpath(folder.filePath(QStringLiteral("Sendova")));
        QVERIFY(writeAll(folder.filePath(QStringLiteral("Sendova/config.json")), onDisk.encode()));
        const ProbeResult config =
            runProbe(address, {QStringLiteral("load-config"), folder.filePath(QStringLiteral("Sendova"))});
        QVERIFY(config.finished);
        QCOMPARE(config.output, QStringLiteral("key:from the file"));

        // A save whose key cannot be stored writes no file.
        const QString fresh = folder.filePath(QStringLiteral("Fresh"));
        const ProbeResult save =
            runProbe(address, {QStringLiteral("save-config"), fresh, QStringLiteral("k")});
        QVERIFY(save.finished);
        QVERIFY2(save.output.startsWith(QLatin1String(
                     "error:Error saving configuration: Failed to store in Keychain (status: ")),
                 qPrintable(save.output));
        QVERIFY(!QFile::exists(fresh + QStringLiteral("/config.json")));
    }
};

QTEST_GUILESS_MAIN(KeychainServiceTest)
#include "KeychainServiceTest.moc"
