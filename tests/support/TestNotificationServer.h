#pragma once

#include <QDBusConnection>
#include <QDBusContext>
#include <QList>
#include <QObject>
#include <QStringList>
#include <QVariantMap>

namespace sendova::test {

// A notification server for tests: it owns org.freedesktop.Notifications on
// a connection of its own (so every call really crosses the bus), speaks the
// interface the desktops implement, and records each call it receives.
class TestNotificationServer : public QObject, protected QDBusContext
{
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.Notifications")

public:
    struct NotifyCall
    {
        QString appName;
        uint replacesId = 0;
        QString appIcon;
        QString summary;
        QString body;
        QStringList actions;
        QVariantMap hints;
        int expireTimeout = 0;
        uint assignedId = 0;
    };

    explicit TestNotificationServer(QObject *parent = nullptr);
    ~TestNotificationServer() override;

    // Connects to the session bus (or the bus at busAddress) and takes the
    // name; false when either fails.
    bool start(const QString &busAddress = QString());
    void stop();

    QList<NotifyCall> notifyCalls;

    QStringList capabilities{QStringLiteral("body"), QStringLiteral("actions"), QStringLiteral("sound")};
    // When set, the call answers with a D-Bus error.
    bool refuseNotify = false;
    bool refuseCapabilities = false;

    // What a desktop does when the user clicks a notification's body.
    void click(uint id, const QString &actionKey = QStringLiteral("default"));

public Q_SLOTS:
    QStringList GetCapabilities();
    uint Notify(const QString &app_name, uint replaces_id, const QString &app_icon, const QString &summary,
                const QString &body, const QStringList &actions, const QVariantMap &hints,
                int expire_timeout);
    void CloseNotification(uint id);
    QString GetServerInformation(QString &vendor, QString &version, QString &spec_version);

Q_SIGNALS:
    void NotificationClosed(uint id, uint reason);
    void ActionInvoked(uint id, const QString &action_key);

private:
    QString m_connectionName;
    uint m_nextId = 1;
};

} // namespace sendova::test
