#include "TestNotificationServer.h"

#include "PrivateBus.h"

#include <QDBusConnectionInterface>
#include <QDBusMessage>

namespace sendova::test {

namespace {

constexpr const char *serviceName = "org.freedesktop.Notifications";
constexpr const char *objectPath = "/org/freedesktop/Notifications";

// Reasons of NotificationClosed in the notification protocol.
constexpr uint closedByUser = 2;
constexpr uint closedByCall = 3;

} // namespace

TestNotificationServer::TestNotificationServer(QObject *parent)
    : QObject(parent),
      m_connectionName(QStringLiteral("test-notification-server-%1").arg(quintptr(this), 0, 16))
{}

TestNotificationServer::~TestNotificationServer()
{
    stop();
}

bool TestNotificationServer::start(const QString &busAddress)
{
    return serveOnBus(m_connectionName, busAddress, objectPath, serviceName, this,
                      QDBusConnection::ExportAllSlots | QDBusConnection::ExportAllSignals);
}

void TestNotificationServer::stop()
{
    stopServing(m_connectionName, objectPath, serviceName);
}

void TestNotificationServer::click(uint id, const QString &actionKey)
{
    // Desktops report the action first and then close the notification.
    Q_EMIT ActionInvoked(id, actionKey);
    Q_EMIT NotificationClosed(id, closedByUser);
}

QStringList TestNotificationServer::GetCapabilities()
{
    if (refuseCapabilities) {
        sendErrorReply(QDBusError::Failed, QStringLiteral("refused"));
        return {};
    }
    return capabilities;
}

uint TestNotificationServer::Notify(const QString &app_name, uint replaces_id, const QString &app_icon,
                                    const QString &summary, const QString &body, const QStringList &actions,
                                    const QVariantMap &hints, int expire_timeout)
{
    NotifyCall call{app_name, replaces_id, app_icon, summary, body, actions, hints, expire_timeout, 0};
    if (refuseNotify) {
        notifyCalls.append(call);
        sendErrorReply(QDBusError::Failed, QStringLiteral("refused"));
        return 0;
    }
    call.assignedId = replaces_id != 0 ? replaces_id : m_nextId++;
    notifyCalls.append(call);
    return call.assignedId;
}

void TestNotificationServer::CloseNotification(uint id)
{
    Q_EMIT NotificationClosed(id, closedByCall);
}

QString TestNotificationServer::GetServerInformation(QString &vendor, QString &version, QString &spec_version)
{
    vendor = QStringLiteral("Sendova tests");
    version = QStringLiteral("1.0");
    spec_version = QStringLiteral("1.2");
    return QStringLiteral("test-notification-server");
}

} // namespace sendova::test
