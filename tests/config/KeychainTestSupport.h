#pragma once

#include "ConfigTestSupport.h"
#include "config/KeychainService.h"

#include <QDir>
#include <QProcess>
#include <QProcessEnvironment>
#include <QString>
#include <QStringDecoder>
#include <QStringList>

#include <optional>

namespace sendova::test {

// A session bus without a running Secret Service. Nothing can be started on
// it either, unless activatableSecrets: then the bus knows how to start
// org.freedesktop.secrets (a program that fails, which is enough for the
// name to count as activatable).
class BareBus
{
public:
    explicit BareBus(const QString &folder, bool activatableSecrets = false)
    {
        QByteArray services;
        if (activatableSecrets) {
            const QString serviceFolder = folder + QStringLiteral("/services");
            QDir().mkpath(serviceFolder);
            writeAll(serviceFolder + QStringLiteral("/secrets.service"),
                     "[D-BUS Service]\nName=org.freedesktop.secrets\nExec=/bin/false\n");
            services = "<servicedir>" + QFile::encodeName(serviceFolder) + "</servicedir>";
        }
        const QString config = folder + QStringLiteral("/bus.conf");
        writeAll(config,
                 "<!DOCTYPE busconfig PUBLIC \"-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN\"\n"
                 " \"http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd\">\n"
                 "<busconfig><type>session</type><listen>unix:dir=" +
                     QFile::encodeName(folder) + "</listen><auth>EXTERNAL</auth>" + services +
                     "<policy context=\"default\"><allow send_destination=\"*\" eavesdrop=\"true\"/>"
                     "<allow eavesdrop=\"true\"/><allow own=\"*\"/></policy></busconfig>\n");
        m_daemon.start(QStringLiteral("dbus-daemon"),
                       {QStringLiteral("--config-file=") + config, QStringLiteral("--nofork"),
                        QStringLiteral("--print-address=1")});
        if (m_daemon.waitForStarted()) {
            while (!m_daemon.canReadLine() && m_daemon.waitForReadyRead(10000)) {
            }
            m_address = QString::fromUtf8(m_daemon.readLine()).trimmed();
        }
    }
    ~BareBus()
    {
        m_daemon.terminate();
        m_daemon.waitForFinished();
    }
    QString address() const { return m_address; }

private:
    QProcess m_daemon;
    QString m_address;
};

struct ProbeResult
{
    bool finished = false;
    QString output;
};

// Runs a helper program on another session bus (QtKeychain picks its backend
// once per process). The limit lies well under
// KeychainService::operationBound, so a probe that waited out the bound (a
// hang in the backend) fails the test instead of passing slowly.
inline ProbeResult runProbe(const QString &program, const QString &busAddress, const QStringList &arguments)
{
    QProcess probe;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"), busAddress);
    // The backend choice follows the desktop; these tests want the plain
    // Secret Service path whatever desktop runs them.
    for (const char *name :
         {"XDG_CURRENT_DESKTOP", "DESKTOP_SESSION", "KDE_SESSION_VERSION", "KDE_FULL_SESSION",
          "GNOME_DESKTOP_SESSION_ID", "GNOME_KEYRING_CONTROL", "DISPLAY"})
        environment.remove(QString::fromLatin1(name));
    probe.setProcessEnvironment(environment);
    probe.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    probe.start(program, arguments);
    ProbeResult result;
    result.finished = probe.waitForFinished(20000);
    if (!result.finished) {
        probe.kill();
        probe.waitForFinished();
    }
    result.output = QString::fromUtf8(probe.readAllStandardOutput()).trimmed();
    return result;
}

// The secret the keyring holds for our item, asked of it with libsecret's
// own tool rather than through the code under test (which answers from what
// it remembers); nothing when there is no item.
inline std::optional<QString> keyringSecret()
{
    QProcess tool;
    tool.start(QStringLiteral("secret-tool"),
               {QStringLiteral("lookup"), QStringLiteral("user"), KeychainService::apiKeyAccount(),
                QStringLiteral("server"), KeychainService::service()});
    if (!tool.waitForFinished() || tool.exitCode() != 0)
        return std::nullopt;
    // Byte for byte: a leading U+FEFF belongs to the key.
    QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::ConvertInitialBom);
    return decoder.decode(tool.readAllStandardOutput());
}

} // namespace sendova::test
