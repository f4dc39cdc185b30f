#include "app/NotificationService.h"

#include "platform/UrlOpener.h"
#include "support/LocalizationService.h"

#include <QPointer>
#include <QUuid>

#include <cstdio>

namespace sendova {

namespace {

// Enough for every notification a user could still click.
constexpr std::size_t maxRemembered = 100;

void writeErrorLine(const QString &error)
{
    const QByteArray line = QStringLiteral("Notification error: %1\n").arg(error).toUtf8();
    std::fwrite(line.constData(), 1, std::size_t(line.size()), stdout);
    std::fflush(stdout);
}

} // namespace

NotificationService &NotificationService::shared()
{
    // Leaked on purpose: destroying D-Bus objects after the application object
    // is gone (static destruction at exit) is not safe.
    static NotificationService *instance = new NotificationService(QDBusConnection::sessionBus());
    return *instance;
}

NotificationService::NotificationService(const QDBusConnection &bus, QObject *parent)
    : QObject(parent), m_notifications(bus),
      m_openUrl([](const QUrl &url) { sendova::UrlOpener::open(url); }), m_reportError(writeErrorLine)
{
    connect(&m_notifications, &DesktopNotifications::actionInvoked, this, &NotificationService::handleAction);
    connect(&m_notifications, &DesktopNotifications::notificationClosed, this, [this](uint notificationId) {
        m_userInfo.remove(notificationId);
        std::erase(m_rememberedOrder, notificationId);
    });
}

void NotificationService::setUrlOpener(UrlHandler opener)
{
    m_openUrl = std::move(opener);
}

void NotificationService::setErrorReporter(ErrorReporter reporter)
{
    m_reportError = std::move(reporter);
}

void NotificationService::showUploadComplete(const QString &fileName, const QString &url, bool pressCopy)
{
    post(QLatin1String(productTitle), "notification.upload_complete.title",
         localizedFormat(pressCopy ? "notification.upload_complete.press_copy"
                                   : "notification.upload_complete.body",
                         fileName),
         UserInfo{url, QStringLiteral("upload_complete")});
}

void NotificationService::showDuplicate(const QString &fileName, const QString &url, bool pressCopy)
{
    post(QLatin1String(productTitle), "notification.duplicate.title",
         localizedFormat(pressCopy ? "notification.duplicate.press_copy" : "notification.duplicate.body",
                         fileName),
         UserInfo{url, QStringLiteral("duplicate_found")});
}

void NotificationService::showError(const QString &fileName, const QString &message)
{
    post(QLatin1String(errorTitle), "notification.error.title",
         localizedFormat("notification.error.body", fileName, message), UserInfo{});
}

void NotificationService::post(const QString &title, const char *subtitleKey, const QString &body,
                               const UserInfo &userInfo)
{
    DesktopNotification notification;
    notification.summary = title;
    notification.heading = LocalizationService::shared().localized(subtitleKey);
    notification.text = body;
    notification.soundName = QLatin1String(soundName);
    notification.identifier = QUuid::createUuid().toString(QUuid::WithoutBraces).toUpper();
    // Only a notification with a link has anything to do when clicked; asking
    // for the action otherwise would make servers show a useless button.
    if (m_linksOpenable && !userInfo.url.isEmpty())
        notification.defaultActionLabel = LocalizationService::shared().localized("result.button.open");

    ++m_pendingPosts;
    QPointer<NotificationService> self(this);
    const QString identifier = notification.identifier;
    m_notifications.post(notification,
                         [self, identifier, userInfo](const DesktopNotifications::Outcome &outcome) {
                             if (!self)
                                 return;
                             if (outcome.notificationId) {
                                 if (!userInfo.url.isEmpty())
                                     self->remember(*outcome.notificationId, userInfo);
                                 Q_EMIT self->posted(identifier, *outcome.notificationId);
                             } else {
                                 if (self->m_reportError)
                                     self->m_reportError(outcome.error);
                                 Q_EMIT self->postFailed(identifier, outcome.error);
                             }
                             if (--self->m_pendingPosts == 0)
                                 Q_EMIT self->idle();
                         });
}

void NotificationService::remember(uint notificationId, const UserInfo &userInfo)
{
    if (!m_userInfo.contains(notificationId))
        m_rememberedOrder.push_back(notificationId);
    m_userInfo.insert(notificationId, userInfo);
    while (m_rememberedOrder.size() > maxRemembered) {
        m_userInfo.remove(m_rememberedOrder.front());
        m_rememberedOrder.pop_front();
    }
}

void NotificationService::handleAction(uint notificationId, const QString &actionKey)
{
    // Servers broadcast every click to all their clients; only ids we posted
    // with a link are ours to act on.
    if (actionKey != QLatin1String("default"))
        return;
    const auto found = m_userInfo.constFind(notificationId);
    if (found == m_userInfo.constEnd())
        return;
    const QUrl url(found->url, QUrl::StrictMode);
    // A relative reference names nothing a handler could open.
    if (!url.isValid() || url.isRelative())
        return;
    if (m_openUrl)
        m_openUrl(url);
}

} // namespace sendova
