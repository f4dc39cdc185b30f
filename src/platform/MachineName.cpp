#include "platform/MachineName.h"

#include <QFile>
#include <QSysInfo>

namespace sendova {

namespace {

// machine-info is an environment-style file written by hostnamectl: values
// may be single- or double-quoted and may carry backslash escapes.
QString unquote(const QString &raw)
{
    QString value;
    QChar quote;
    for (qsizetype i = 0; i < raw.size(); ++i) {
        const QChar c = raw[i];
        if (quote.isNull()) {
            if (c == QLatin1Char('"') || c == QLatin1Char('\'')) {
                quote = c;
            } else if (c == QLatin1Char('\\') && i + 1 < raw.size()) {
                value += raw[++i];
            } else {
                value += c;
            }
        } else if (c == quote) {
            quote = QChar();
        } else if (quote == QLatin1Char('"') && c == QLatin1Char('\\') && i + 1 < raw.size()) {
            value += raw[++i];
        } else {
            value += c;
        }
    }
    return value;
}

QString prettyHostName(const QString &machineInfoPath)
{
    QFile file(machineInfoPath);
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text))
        return {};
    const QString key = QStringLiteral("PRETTY_HOSTNAME");
    QString found;
    while (!file.atEnd()) {
        const QString line = QString::fromUtf8(file.readLine()).trimmed();
        if (line.startsWith(QLatin1Char('#')))
            continue;
        const qsizetype equals = line.indexOf(QLatin1Char('='));
        if (equals > 0 && line.left(equals).trimmed() == key)
            found = unquote(line.mid(equals + 1).trimmed()); // the last assignment wins, as in a shell
    }
    return found.trimmed();
}

} // namespace

QString machineName(const QString &machineInfoPath, const QString &hostName)
{
    if (const QString pretty = prettyHostName(machineInfoPath); !pretty.isEmpty())
        return pretty;
    if (!hostName.trimmed().isEmpty())
        return hostName.trimmed();
    return QStringLiteral("Mac");
}

QString machineName()
{
    return machineName(QStringLiteral("/etc/machine-info"), QSysInfo::machineHostName());
}

} // namespace sendova
