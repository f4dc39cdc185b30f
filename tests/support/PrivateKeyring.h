#pragma once

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QProcess>
#include <QTest>

#include <csignal>

namespace sendova::test {

// A gnome-keyring of the test's own, unlocked, on a bus of its own and with
// its files in folder: what a test does to it (a crash, a lock) leaves the
// session's keyring to the other tests.
class PrivateKeyring
{
public:
    PrivateKeyring(const QString &folder, const QString &busAddress) : m_folder(folder), m_bus(busAddress) {}
    ~PrivateKeyring() { kill(); }

    bool start()
    {
        QProcess daemon;
        QProcessEnvironment environment;
        environment.insert(QStringLiteral("PATH"), qEnvironmentVariable("PATH"));
        for (const char *name : {"HOME", "XDG_DATA_HOME", "XDG_RUNTIME_DIR"})
            environment.insert(QString::fromLatin1(name), m_folder);
        environment.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"), m_bus);
        daemon.setProcessEnvironment(environment);
        daemon.start(QStringLiteral("gnome-keyring-daemon"),
                     {QStringLiteral("--unlock"), QStringLiteral("--components=secrets")});
        daemon.write("sendova-test");
        daemon.closeWriteChannel();
        // Its parent ends once the service is on the bus; the bus names the one that stays.
        if (!daemon.waitForFinished(10000) || !waitForOwner(true))
            return false;
        m_pid = pid_t(connection().interface()->servicePid(service()).value());
        return m_pid > 0;
    }
    // As in a crash.
    void kill()
    {
        if (m_pid > 0)
            ::kill(m_pid, SIGKILL);
        m_pid = 0;
    }
    bool waitForOwner(bool owned)
    {
        return QTest::qWaitFor(
            [&] { return connection().interface()->isServiceRegistered(service()).value() == owned; }, 5000);
    }
    // The Secret Service's own Lock call, as a screen locker makes it.
    bool lock()
    {
        QDBusMessage call = QDBusMessage::createMethodCall(service(), u"/org/freedesktop/secrets"_qs,
                                                           u"org.freedesktop.Secret.Service"_qs, u"Lock"_qs);
        call << QVariant::fromValue(
            QList<QDBusObjectPath>{QDBusObjectPath(u"/org/freedesktop/secrets/collection/login"_qs)});
        return connection().call(call).type() == QDBusMessage::ReplyMessage;
    }

private:
    static QString service() { return QStringLiteral("org.freedesktop.secrets"); }
    QDBusConnection connection() const
    {
        return QDBusConnection::connectToBus(m_bus, QStringLiteral("keyring-watch"));
    }

    QString m_folder;
    QString m_bus;
    pid_t m_pid = 0;
};

} // namespace sendova::test
