// Whether a notification would reach anyone, and the sealed test session that
// question depends on.

#include "BlockingWait.h"
#include "PrivateBus.h"
#include "TestNotificationServer.h"

#include "platform/DesktopNotifications.h"

#include <QDBusConnectionInterface>
#include <QDir>
#include <QFile>
#include <QTest>

using namespace sendova;
using namespace sendova::test;

class DesktopNotificationsTest : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    // Otherwise a machine with a notification daemon installed would see it
    // started into the tests.
    void sessionBusStartsNothingOfTheMachine()
    {
        QDBusConnection bus = QDBusConnection::sessionBus();
        QVERIFY2(bus.isConnected(), "run the tests through scripts/with-test-session");
        // Where a session bus looks for services first; present on any machine.
        const QString folder = qEnvironmentVariable("XDG_DATA_HOME") + QStringLiteral("/dbus-1/services");
        const QString name = QStringLiteral("com.sendova.test.Intruder");
        QFile intruder(folder + QLatin1Char('/') + name + QStringLiteral(".service"));
        QVERIFY(QDir().mkpath(folder) && intruder.open(QIODevice::WriteOnly));
        intruder.write("[D-BUS Service]\nName=com.sendova.test.Intruder\nExec=/bin/false\n");
        intruder.close();

        const QStringList activatable = bus.interface()->activatableServiceNames();
        intruder.remove();
        QCOMPARE(activatable, QStringList{QStringLiteral("org.freedesktop.DBus")});
    }

    void serverAvailable_data()
    {
        QTest::addColumn<bool>("activatable");
        QTest::addColumn<bool>("running");

        QTest::newRow("server running") << false << true;
        // Whether it then starts is the post's business.
        QTest::newRow("started on demand") << true << false;
    }

    void serverAvailable()
    {
        QFETCH(bool, activatable);
        QFETCH(bool, running);

        QMap<QString, QString> services;
        if (activatable)
            services.insert(QLatin1String(DesktopNotifications::serviceName), QStringLiteral("/bin/false"));
        PrivateBus bus(services);
        QVERIFY(bus.start());
        TestNotificationServer server;
        if (running)
            QVERIFY(server.start(bus.address()));

        QVERIFY(blockingWait(DesktopNotifications::serverAvailable(bus.connect(QStringLiteral("client")))));
        QDBusConnection::disconnectFromBus(QStringLiteral("client"));
    }
};

QTEST_GUILESS_MAIN(DesktopNotificationsTest)
#include "DesktopNotificationsTest.moc"
