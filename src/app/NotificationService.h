#pragma once

#include "platform/DesktopNotifications.h"

#include <QHash>
#include <QObject>
#include <QString>
#include <QUrl>

#include <deque>
#include <functional>

namespace sendova {

// Announces the end of an upload with a desktop notification. Called on the
// main thread; posting returns at once and never fails to the caller: a
// server's refusal shows only as a "Notification error: " line on standard
// output (or wherever the program sends such errors instead). A click on an
// upload-complete or duplicate notification opens its link.
//
// Desktop notifications have a summary and a body but no subtitle: the title
// ("Sendova", "Sendova - Error") is the summary, and the localized subtitle
// heads the body on a line of its own, above the localized message. GNOME and
// Plasma show the application name "Sendova" and its icon (from the
// "desktop-entry" hint) above them.
class NotificationService : public QObject
{
    Q_OBJECT

public:
    using UrlHandler = std::function<void(const QUrl &url)>;
    using ErrorReporter = std::function<void(const QString &error)>;

    static constexpr const char *productTitle = "Sendova";
    static constexpr const char *errorTitle = "Sendova - Error";
    static constexpr const char *soundName = "message-new-instant";

    // What a click needs, kept for each notification the server accepted.
    struct UserInfo
    {
        QString url;
        QString action;
    };

    static NotificationService &shared();

    // Opens links with the desktop's default handler unless told otherwise.
    explicit NotificationService(const QDBusConnection &bus, QObject *parent = nullptr);

    // pressCopy: the link could not be put on the clipboard for the user,
    // who is asked to copy it instead of being told it is ready.
    void showUploadComplete(const QString &fileName, const QString &url, bool pressCopy = false);
    void showDuplicate(const QString &fileName, const QString &url, bool pressCopy = false);
    void showError(const QString &fileName, const QString &message);

    void setUrlOpener(UrlHandler opener);
    // Replaces the "Notification error: " line on standard output.
    void setErrorReporter(ErrorReporter reporter);
    // Whether a notification with a link offers to open it. A program that
    // exits right after posting has nobody left to act on the click.
    void setLinksOpenable(bool openable) { m_linksOpenable = openable; }

    // Posts still waiting for the server's answer. A short-lived program
    // waits for idle() before it exits, or its last notification may never
    // leave the process.
    int pendingPosts() const { return m_pendingPosts; }

Q_SIGNALS:
    void posted(const QString &identifier, uint notificationId);
    void postFailed(const QString &identifier, const QString &error);
    void idle();

private:
    void post(const QString &title, const char *subtitleKey, const QString &body, const UserInfo &userInfo);
    void remember(uint notificationId, const UserInfo &userInfo);
    void handleAction(uint notificationId, const QString &actionKey);

    DesktopNotifications m_notifications;
    UrlHandler m_openUrl;
    ErrorReporter m_reportError;
    bool m_linksOpenable = true;
    int m_pendingPosts = 0;
    QHash<uint, UserInfo> m_userInfo;
    // Oldest first, so that a server that never reports closed notifications
    // cannot make the table grow without bound.
    std::deque<uint> m_rememberedOrder;
};

} // namespace sendova
