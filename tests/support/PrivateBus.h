#pragma once

#include <QDBusConnection>
#include <QMap>
#include <QProcess>
#include <QString>
#include <QTemporaryDir>

namespace sendova::test {

// A D-Bus daemon of the test's own, set up as a session bus whose only
// activatable services are those the test gives it. A test shapes what this
// bus offers (a service that can be started, or none) without disturbing
// the tests that share the session bus.
class PrivateBus
{
public:
    // Activatable services: the well-known name and the command the bus
    // runs to start its owner.
    explicit PrivateBus(QMap<QString, QString> services = {});
    ~PrivateBus();
    PrivateBus(const PrivateBus &) = delete;
    PrivateBus &operator=(const PrivateBus &) = delete;

    // Starts the daemon and waits for its address; false when it fails.
    bool start();
    // For DBUS_SESSION_BUS_ADDRESS.
    QString address() const { return m_address; }
    // A connection of this process under the given name.
    QDBusConnection connect(const QString &connectionName) const;

private:
    QMap<QString, QString> m_services;
    QTemporaryDir m_dir;
    QProcess m_daemon;
    QString m_address;
};

// Serves a stand-in for a desktop service (the notification server, the
// screenshot portal) on a connection of its own, the session bus's or the
// given bus's, so that the program under test meets it as another peer.
bool serveOnBus(const QString &connectionName, const QString &busAddress, const char *objectPath,
                const char *serviceName, QObject *object, QDBusConnection::RegisterOptions options);
void stopServing(const QString &connectionName, const char *objectPath, const char *serviceName);

} // namespace sendova::test
