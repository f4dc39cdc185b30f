#pragma once

#include <QDBusConnection>
#include <QObject>
#include <QString>

#include <QCoroTask>

#include <functional>
#include <optional>

namespace sendova {

class NotificationsInterface;

// One notification as this program wants it shown; the adapter turns it into
// the arguments of org.freedesktop.Notifications.Notify.
struct DesktopNotification
{
    QString summary;
    // Shown as the first line of the body, emphasised where the server renders markup.
    QString heading;
    // Plain text: file names and server messages are never interpreted as markup.
    QString text;
    // A name from the freedesktop sound theme; empty for a silent notification.
    QString soundName;
    // When not empty, the notification offers the "default" action (a click on
    // its body) under this label.
    QString defaultActionLabel;
    // The poster's own identifier, carried as the "x-sendova-id" hint.
    QString identifier;
};

// Talks to whichever notification server owns org.freedesktop.Notifications on
// the given bus (GNOME Shell, Plasma, dunst, mako…). Posting never blocks: the
// outcome arrives later through the completion callback, on this object's thread.
// A missing server, or no bus at all, is an ordinary error outcome.
class DesktopNotifications : public QObject
{
    Q_OBJECT

public:
    static constexpr const char *serviceName = "org.freedesktop.Notifications";
    static constexpr const char *objectPath = "/org/freedesktop/Notifications";
    static constexpr const char *appName = "Sendova";
    static constexpr const char *desktopEntry = "sendova";

    // Exactly one of the two is set.
    struct Outcome
    {
        std::optional<uint> notificationId;
        QString error;
    };
    using Completion = std::function<void(const Outcome &outcome)>;

    explicit DesktopNotifications(const QDBusConnection &bus, QObject *parent = nullptr);
    ~DesktopNotifications() override;

    void post(const DesktopNotification &notification, Completion completion);

    // Whether anyone would answer a post: a server owns the name, or the bus
    // can start one on demand (many desktops start theirs on first use). Both
    // are questions to the bus itself, answered at once.
    static QCoro::Task<bool> serverAvailable(QDBusConnection bus);
    // What stands for asking permission to notify: whether a server answers
    // on the bus (one that can be started on demand is started). Resolves to
    // the failure's text when none does, to nothing when one answered; never
    // waits longer than timeoutMs.
    static QCoro::Task<std::optional<QString>> askServer(QDBusConnection bus, int timeoutMs = 5000);

    // The body text for a server that does or does not render body markup.
    static QString composeBody(const QString &heading, const QString &text, bool serverRendersMarkup);

Q_SIGNALS:
    void actionInvoked(uint notificationId, const QString &actionKey);
    void notificationClosed(uint notificationId, uint reason);

private:
    void sendNotify(const DesktopNotification &notification, bool serverRendersMarkup, Completion completion);

    NotificationsInterface *m_interface;
};

} // namespace sendova
