#include "platform/TrayHostWatch.h"

#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QDBusVariant>

namespace sendova {

TrayHostWatch::TrayHostWatch(QDBusConnection bus, QObject *parent)
    : QObject(parent), m_bus(std::move(bus)),
      m_serviceWatcher(QLatin1String(watcherService), m_bus, QDBusServiceWatcher::WatchForRegistration)
{
    connect(&m_serviceWatcher, &QDBusServiceWatcher::serviceRegistered, this, &TrayHostWatch::check);
}

void TrayHostWatch::start()
{
    // A watcher that is there without a host yet announces the host later.
    m_bus.connect(QLatin1String(watcherService), QLatin1String(watcherPath), QLatin1String(watcherService),
                  QStringLiteral("StatusNotifierHostRegistered"), this, SLOT(check()));
    check();
}

void TrayHostWatch::check()
{
    if (m_available || !m_bus.isConnected())
        return;
    // The same question Qt asks before it creates a status item; asked
    // without blocking, so a slow bus does not hold up the start.
    QDBusMessage get = QDBusMessage::createMethodCall(
        QLatin1String(watcherService), QLatin1String(watcherPath),
        QStringLiteral("org.freedesktop.DBus.Properties"), QStringLiteral("Get"));
    get << QLatin1String(watcherService) << QStringLiteral("IsStatusNotifierHostRegistered");
    auto *pending = new QDBusPendingCallWatcher(m_bus.asyncCall(get), this);
    connect(pending, &QDBusPendingCallWatcher::finished, this, [this](QDBusPendingCallWatcher *call) {
        call->deleteLater();
        const QDBusPendingReply<QDBusVariant> reply = *call;
        if (m_available || reply.isError() || !reply.value().variant().toBool())
            return;
        m_available = true;
        Q_EMIT available();
    });
}

} // namespace sendova
