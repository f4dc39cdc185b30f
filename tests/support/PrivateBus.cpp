#include "PrivateBus.h"

#include <QDir>
#include <QFile>

namespace sendova::test {

PrivateBus::PrivateBus(QMap<QString, QString> services) : m_services(std::move(services)) {}

PrivateBus::~PrivateBus()
{
    m_daemon.kill();
    m_daemon.waitForFinished();
}

bool PrivateBus::start()
{
    const QString services = m_dir.filePath(QStringLiteral("services"));
    if (!m_dir.isValid() || !QDir().mkpath(services))
        return false;
    for (auto service = m_services.cbegin(); service != m_services.cend(); ++service) {
        QFile file(services + QLatin1Char('/') + service.key() + QLatin1String(".service"));
        if (!file.open(QIODevice::WriteOnly))
            return false;
        file.write(QStringLiteral("[D-BUS Service]\nName=%1\nExec=%2\n")
                       .arg(service.key(), service.value())
                       .toUtf8());
    }
    QFile config(m_dir.filePath(QStringLiteral("bus.conf")));
    if (!config.open(QIODevice::WriteOnly))
        return false;
    config.write(
        QStringLiteral(R"(<!DOCTYPE busconfig PUBLIC "-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN"
 "http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd">
<busconfig>
  <type>session</type>
  <listen>unix:tmpdir=%1</listen>
  <auth>EXTERNAL</auth>
  <servicedir>%2</servicedir>
  <policy context="default">
    <allow send_destination="*" eavesdrop="true"/>
    <allow eavesdrop="true"/>
    <allow own="*"/>
  </policy>
</busconfig>
)")
            .arg(m_dir.path(), services)
            .toUtf8());
    config.close();

    // Its complaints (an fd limit it may not raise) are not the test's business.
    m_daemon.setStandardErrorFile(QProcess::nullDevice());
    m_daemon.start(QStringLiteral("dbus-daemon"),
                   {QStringLiteral("--nofork"), QStringLiteral("--print-address"),
                    QStringLiteral("--config-file=") + config.fileName()});
    QByteArray line;
    while (!line.contains('\n') && m_daemon.waitForReadyRead(10000))
        line += m_daemon.readAllStandardOutput();
    m_address = QString::fromUtf8(line).trimmed();
    return !m_address.isEmpty();
}

QDBusConnection PrivateBus::connect(const QString &connectionName) const
{
    return QDBusConnection::connectToBus(m_address, connectionName);
}

bool serveOnBus(const QString &connectionName, const QString &busAddress, const char *objectPath,
                const char *serviceName, QObject *object, QDBusConnection::RegisterOptions options)
{
    QDBusConnection bus = busAddress.isEmpty()
                              ? QDBusConnection::connectToBus(QDBusConnection::SessionBus, connectionName)
                              : QDBusConnection::connectToBus(busAddress, connectionName);
    return bus.isConnected() && bus.registerObject(QLatin1String(objectPath), object, options) &&
           bus.registerService(QLatin1String(serviceName));
}

void stopServing(const QString &connectionName, const char *objectPath, const char *serviceName)
{
    QDBusConnection bus(connectionName);
    if (!bus.isConnected())
        return;
    bus.unregisterService(QLatin1String(serviceName));
    bus.unregisterObject(QLatin1String(objectPath));
    QDBusConnection::disconnectFromBus(connectionName);
}

} // namespace sendova::test
