#include "platform/ApplicationService.h"

#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusReply>
#include <QDir>
#include <QFileInfo>
#include <QUrl>

namespace sendova {

namespace {

// A second process has nothing else to do while it waits, but a running
// instance that hangs must not keep it for ever.
constexpr int forwardTimeoutMs = 10000;

} // namespace

ApplicationService::ApplicationService(QDBusConnection bus, QObject *parent)
    : QObject(parent), m_bus(std::move(bus))
{}

ApplicationService::~ApplicationService()
{
    if (!m_registered)
        return;
    m_bus.unregisterService(QLatin1String(applicationId));
    m_bus.unregisterObject(QLatin1String(objectPath));
}

bool ApplicationService::registerInstance()
{
    if (!m_bus.isConnected())
        return false;
    // The object first: a caller that sees the name must find it answering.
    if (!m_bus.registerObject(QLatin1String(objectPath), this, QDBusConnection::ExportAllSlots))
        return false;
    // Without queueing: when the name is taken, the other process is the
    // instance, and this one must not become it later behind its back.
    const QDBusReply<QDBusConnectionInterface::RegisterServiceReply> reply =
        m_bus.interface()->registerService(QLatin1String(applicationId),
                                           QDBusConnectionInterface::DontQueueService,
                                           QDBusConnectionInterface::DontAllowReplacement);
    if (!reply.isValid() || reply.value() != QDBusConnectionInterface::ServiceRegistered) {
        m_bus.unregisterObject(QLatin1String(objectPath));
        return false;
    }
    m_registered = true;
    return true;
}

QStringList ApplicationService::urisFromArguments(const QStringList &arguments, const QString &directory)
{
    QStringList uris;
    const QDir base(directory);
    for (const QString &argument : arguments) {
        const QString path = base.absoluteFilePath(argument);
        const QUrl asUrl(argument, QUrl::StrictMode);
        // "C:notes.txt" or "a:b" is a file when one is there; "/x" is a path
        // whether or not it exists, so that the instance can say it is missing.
        if (QFileInfo::exists(path) || asUrl.scheme().isEmpty() || !asUrl.isValid())
            uris << QUrl::fromLocalFile(QDir::cleanPath(path)).toString(QUrl::FullyEncoded);
        else
            uris << argument;
    }
    return uris;
}

QString ApplicationService::forward(QDBusConnection bus, const QStringList &uris)
{
    QDBusMessage call = QDBusMessage::createMethodCall(
        QLatin1String(applicationId), QLatin1String(objectPath), QLatin1String(interfaceName),
        uris.isEmpty() ? QStringLiteral("Activate") : QStringLiteral("Open"));
    if (uris.isEmpty())
        call << QVariantMap();
    else
        call << uris << QVariantMap();
    const QDBusMessage reply = bus.call(call, QDBus::Block, forwardTimeoutMs);
    if (reply.type() == QDBusMessage::ErrorMessage)
        return reply.errorMessage().isEmpty() ? reply.errorName() : reply.errorMessage();
    return QString();
}

void ApplicationService::Activate(const QVariantMap &)
{
    Q_EMIT activateRequested();
}

void ApplicationService::Open(const QStringList &uris, const QVariantMap &)
{
    Q_EMIT openRequested(uris);
}

void ApplicationService::ActivateAction(const QString &actionName, const QVariantList &, const QVariantMap &)
{
    Q_EMIT actionRequested(actionName);
}

} // namespace sendova
