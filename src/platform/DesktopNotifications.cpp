#include "platform/DesktopNotifications.h"

#include <QDBusAbstractInterface>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QTimer>
#include <QVariantMap>

#include <QCoroDBus>

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

// Runs handler once the call has its answer. A call on a bus that is not
// connected is answered on the spot and no watcher would ever report it, so
// that answer is delivered from the event loop like any other.
void whenAnswered(const QDBusPendingCall &call, QObject *context,
                  std::function<void(const QDBusPendingCall &call)> handler)
{
    if (call.isFinished()) {
        QTimer::singleShot(0, context, [call, handler = std::move(handler)] { handler(call); });
        return;
    }
    auto *watcher = new QDBusPendingCallWatcher(call, context);
    QObject::connect(watcher, &QDBusPendingCallWatcher::finished, context,
                     [handler = std::move(handler)](QDBusPendingCallWatcher *finished) {
                         finished->deleteLater();
                         handler(*finished);
                     });
}

QString renderError(const QDBusError &error)
{
    if (error.message().isEmpty())
        return error.name();
    return error.name() + QLatin1String(": ") + error.message();
}

QDBusMessage busDaemonCall(const char *method)
{
    return QDBusMessage::createMethodCall(QStringLiteral("org.freedesktop.DBus"),
                                          QStringLiteral("/org/freedesktop/DBus"),
                                          QStringLiteral("org.freedesktop.DBus"), QLatin1String(method));
}

} // namespace

QCoro::Task<bool> DesktopNotifications::serverAvailable(QDBusConnection bus)
{
    if (!bus.isConnected())
        co_return false;
    const QString name = QLatin1String(serviceName);
    QDBusPendingCall ownerCall = bus.asyncCall(busDaemonCall("NameHasOwner") << name);
    const QDBusMessage owner = co_await ownerCall;
    if (owner.type() == QDBusMessage::ReplyMessage && owner.arguments().value(0).toBool())
        co_return true;
    QDBusPendingCall activatableCall = bus.asyncCall(busDaemonCall("ListActivatableNames"));
    const QDBusMessage activatable = co_await activatableCall;
    if (activatable.type() != QDBusMessage::ReplyMessage)
        co_return false;
    co_return activatable.arguments().value(0).toStringList().contains(name);
}

QCoro::Task<std::optional<QString>> DesktopNotifications::askServer(QDBusConnection bus, int timeoutMs)
{
    if (!bus.isConnected()) {
        const QDBusError error = bus.lastError();
        co_return error.isValid() ? renderError(error) : QStringLiteral("Not connected to a session bus");
    }
    const QDBusMessage question =
        QDBusMessage::createMethodCall(QLatin1String(serviceName), QLatin1String(objectPath),
                                       QLatin1String(serviceName), QStringLiteral("GetCapabilities"));
    QDBusPendingCall call = bus.asyncCall(question, timeoutMs);
    const QDBusMessage answer = co_await call;
    if (answer.type() == QDBusMessage::ErrorMessage)
        co_return renderError(QDBusError(answer));
    co_return std::nullopt;
}

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
    // Servers that render body markup (GNOME Shell, Plasma) parse a small
    // subset of HTML: a file name such as "a&b <1>.txt" shows literally only
    // when escaped. The heading goes in bold on its own line, under the
    // summary, much as a subtitle would.
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
    whenAnswered(call, this,
                 [this, notification, completion = std::move(completion)](const QDBusPendingCall &answered) {
                     QDBusPendingReply<QStringList> reply = answered;
                     // Without an answer the body goes out as plain text; Notify then
                     // reports whatever keeps the server from answering.
                     const bool markup =
                         !reply.isError() && reply.value().contains(QLatin1String("body-markup"));
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
    whenAnswered(call, this, [completion = std::move(completion)](const QDBusPendingCall &answered) {
        QDBusPendingReply<uint> reply = answered;
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
