#pragma once

#include "ConfigTestSupport.h"
#include "PrivateBus.h"
#include "config/KeychainService.h"

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
// name to count as activatable). address() is empty when it did not start.
class BareBus : public PrivateBus
{
public:
    explicit BareBus(bool activatableSecrets = false)
        : PrivateBus(activatableSecrets ? QMap<QString, QString>{{QStringLiteral("org.freedesktop.secrets"),
                                                                  QStringLiteral("/bin/false")}}
                                        : QMap<QString, QString>{})
    {
        start();
    }
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
// it remembers), under the names the other programs look for; nothing when
// there is no item.
inline std::optional<QString> keyringSecret()
{
    QProcess tool;
    tool.start(QStringLiteral("secret-tool"),
               {QStringLiteral("lookup"), QStringLiteral("user"), QStringLiteral("api-key"),
                QStringLiteral("server"), QStringLiteral("com.sendova.client")});
    if (!tool.waitForFinished() || tool.exitCode() != 0)
        return std::nullopt;
    // Byte for byte: a leading U+FEFF belongs to the key.
    QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::ConvertInitialBom);
    return decoder.decode(tool.readAllStandardOutput());
}

} // namespace sendova::test
