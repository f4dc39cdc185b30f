#include "TestScreenshotPortal.h"

#include "PrivateBus.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QTimer>

namespace sendova::test {

namespace {

constexpr const char *serviceName = "org.freedesktop.portal.Desktop";
constexpr const char *objectPath = "/org/freedesktop/portal/desktop";

} // namespace

TestScreenshotPortal::~TestScreenshotPortal()
{
    stop();
}

bool TestScreenshotPortal::start(const QString &busAddress)
{
    return serveOnBus(m_connectionName, busAddress, objectPath, serviceName, this,
                      QDBusConnection::ExportAllSlots | QDBusConnection::ExportAllProperties);
}

void TestScreenshotPortal::stop()
{
    stopServing(m_connectionName, objectPath, serviceName);
}

QDBusObjectPath TestScreenshotPortal::Screenshot(const QString &parent_window, const QVariantMap &options)
{
    // The path the portal documents: the caller's unique name without its
    // colon, dots as underscores, then the caller's token.
    QString sender = message().service().mid(1);
    sender.replace(QLatin1Char('.'), QLatin1Char('_'));
    const QString path = QStringLiteral("/org/freedesktop/portal/desktop/request/%1/%2")
                             .arg(sender, options.value(QStringLiteral("handle_token")).toString());
    Q_UNUSED(parent_window)
    calls << options;
    QVariantMap results;
    if (responseCode == 0)
        results.insert(QStringLiteral("uri"), picture.toString());
    // After the reply, as the user takes a moment.
    QTimer::singleShot(50, this, [this, path, code = responseCode, results] {
        QDBusMessage response = QDBusMessage::createSignal(
            path, QStringLiteral("org.freedesktop.portal.Request"), QStringLiteral("Response"));
        response << code << results;
        QDBusConnection(m_connectionName).send(response);
    });
    return QDBusObjectPath(path);
}

} // namespace sendova::test
