#include "platform/DesktopNotifications.h"

#include <QDBusAbstractInterface>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QPointer>
#include <QVariantMap>

namespace sendova {

// A hand-written proxy: QDBusAbstractInterface subscribes to the bus signals
// whose names match the Qt signals declared here, so they can be connected
// with ordinary function pointers.
class NotificationsInterface : public QDBusAbstractInterface
{
    Q_OBJECT

public:
    NotificationsInterface(const QDBusConnection &bus, QObject *parent)
        : QDBusAbstractInterface(QLatin1String(DesktopNotifications::serviceName),
                                 QLatin1String(DesktopNotifications::objectPath),
                                 "org.freedesktop.Notifications", bus, parent)
    {}

Q_SIGNALS:
    void ActionInvoked(uint id, const QString &actionKey);
    void NotificationClosed(uint id, uint reason);
};

namespace {

QString renderError(const QDBusError &error)
{
    if (error.message().isEmpty())
        return error.name();
    return error.name() + QLatin1String(": ") + error.message();
}

} // namespace

DesktopNotifications::DesktopNotifications(const QDBusConnection &bus, QObject *parent)
    : QObject(parent), m_interface(new NotificationsInterface(bus, this))
{
    // The server may not exist yet; the proxy still listens for it to appear.
    connect(m_interface, &NotificationsInterface::ActionInvoked, this, &DesktopNotifications::actionInvoked);
    connect(m_interface, &NotificationsInterface::NotificationClosed, this,
            &DesktopNotifications::notificationClosed);
}

DesktopNotifications::~DesktopNotifications() = default;

QString DesktopNotifications::composeBody(const QString &heading, const QString &text,
                                          bool serverRendersMarkup)
{
    if (!serverRendersMarkup) {
        if (heading.isEmpty())
            return text;
        return heading + QLatin1Char('\n') + text;
    }
    // Servers that render body markup accept a small subset of HTML; only the
    // three characters that could open a tag or an entity need escaping for a
    // file name such as "a&b <1>.txt" to show literally.
    const QString escapedText = text.toHtmlEscaped();
    if (heading.isEmpty())
        return escapedText;
    return QLatin1String("<b>") + heading.toHtmlEscaped() + QLatin1String("</b>\n") + escapedText;
}

void DesktopNotifications::post(const DesktopNotification &notification, Completion completion)
{
    // Whether the body is rendered as markup decides how it must be escaped,
    // and the server can change between two posts (a desktop restart), so it
    // is asked each time; notifications are rare enough for the extra call.
    QDBusPendingCall call = m_interface->asyncCall(QStringLiteral("GetCapabilities"));
    auto *watcher = new QDBusPendingCallWatcher(call, this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this,
            [this, notification, completion = std::move(completion)](QDBusPendingCallWatcher *finished) {
                finished->deleteLater();
                QDBusPendingReply<QStringList> reply = *finished;
                // Without an answer the body goes out as plain text; Notify then
                // reports whatever keeps the server from answering.
                const bool markup = !reply.isError() && reply.value().contains(QLatin1String("body-markup"));
                sendNotify(notification, markup, completion);
            });
}

void DesktopNotifications::sendNotify(const DesktopNotification &notification, bool serverRendersMarkup,
                                      Completion completion)
{
    QStringList actions;
    if (!notification.defaultActionLabel.isEmpty())
        actions << QStringLiteral("default") << notification.defaultActionLabel;

    QVariantMap hints;
    hints.insert(QStringLiteral("desktop-entry"), QLatin1String(desktopEntry));
    if (!notification.soundName.isEmpty())
        hints.insert(QStringLiteral("sound-name"), notification.soundName);
    if (!notification.identifier.isEmpty())
        hints.insert(QStringLiteral("x-sendova-id"), notification.identifier);

    const uint replacesNothing = 0;
    const int serverDefaultTimeout = -1;
    QDBusPendingCall call = m_interface->asyncCall(
        QStringLiteral("Notify"), QLatin1String(appName), replacesNothing, QString(), notification.summary,
        composeBody(notification.heading, notification.text, serverRendersMarkup), actions, hints,
        serverDefaultTimeout);
    auto *watcher = new QDBusPendingCallWatcher(call, this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this,
            [completion = std::move(completion)](QDBusPendingCallWatcher *finished) {
                finished->deleteLater();
                QDBusPendingReply<uint> reply = *finished;
                Outcome outcome;
                if (reply.isError())
                    outcome.error = renderError(reply.error());
                else
                    outcome.notificationId = reply.value();
                if (completion)
                    completion(outcome);
            });
}

} // namespace sendova

#include "DesktopNotifications.moc"
