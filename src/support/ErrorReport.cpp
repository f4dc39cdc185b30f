#include "support/ErrorReport.h"

#include "support/LogService.h"

#include <QSysInfo>

namespace sendova::errorreport {

namespace {

bool keptAsIs(char byte)
{
    if ((byte >= 'A' && byte <= 'Z') || (byte >= 'a' && byte <= 'z') || (byte >= '0' && byte <= '9'))
        return true;
    static constexpr char marks[] = "-._~!$'()*+,;:@";
    for (const char mark : marks) {
        if (mark != '\0' && byte == mark)
            return true;
    }
    return false;
}

} // namespace

QString encodeHeaderValue(const QString &text)
{
    static constexpr char hex[] = "0123456789ABCDEF";
    const QByteArray bytes = text.toUtf8();
    QString encoded;
    encoded.reserve(bytes.size() * 3);
    for (const char byte : bytes) {
        if (keptAsIs(byte)) {
            encoded += QLatin1Char(byte);
        } else {
            const auto value = static_cast<unsigned char>(byte);
            encoded += QLatin1Char('%');
            encoded += QLatin1Char(hex[value >> 4]);
            encoded += QLatin1Char(hex[value & 0xF]);
        }
    }
    return encoded;
}

QString systemVersion()
{
    return QSysInfo::prettyProductName() + QLatin1String(", kernel ") + QSysInfo::kernelVersion();
}

QString link(const QString &version, const QString &systemVersion, const QString &logText)
{
    const QString shownVersion = version.isEmpty() ? QStringLiteral("?") : version;
    const QString body =
        QLatin1String("Sendova Linux Error Report\n--------------------------\nApp version: ") +
        shownVersion + QLatin1String("\nLinux: ") + systemVersion + QLatin1String("\n\nLog:\n") + logText;
    const QString subject = QLatin1String("Sendova Linux Error Report v") + shownVersion;
    return QLatin1String("mailto:") + QLatin1String(supportMailbox) + QLatin1String("?subject=") +
           encodeHeaderValue(subject) + QLatin1String("&body=") + encodeHeaderValue(body);
}

} // namespace sendova::errorreport

namespace sendova {

void composeErrorReport(const std::function<void(const QUrl &)> &open)
{
    const QUrl url(errorreport::link(QStringLiteral(SENDOVA_VERSION), errorreport::systemVersion(),
                                     LogService::shared().logText()),
                   QUrl::StrictMode);
    if (!url.isValid())
        return;
    open(url);
}

} // namespace sendova
