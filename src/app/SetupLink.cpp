#include "app/SetupLink.h"

#include "config/AppConfig.h"

#include <QRegularExpression>
#include <QUrl>

namespace sendova {

namespace {

// The value of the first item of that name; an item written without "="
// has no value.
std::optional<QString> queryValue(const QString &query, const QString &name)
{
    for (const QString &item : query.split(QLatin1Char('&'))) {
        const qsizetype equals = item.indexOf(QLatin1Char('='));
        const QString itemName =
            QUrl::fromPercentEncoding(item.left(equals < 0 ? item.size() : equals).toUtf8());
        if (itemName != name)
            continue;
        if (equals < 0)
            return std::nullopt;
        return QUrl::fromPercentEncoding(item.mid(equals + 1).toUtf8());
    }
    return std::nullopt;
}

} // namespace

std::optional<SetupLink> SetupLink::parse(const QString &text)
{
    // The scheme is compared as written: QUrl would lower-case it.
    if (text.section(QLatin1Char(':'), 0, 0) != QLatin1String("sendova"))
        return std::nullopt;
    const QUrl url(text, QUrl::StrictMode);
    if (!url.isValid())
        return std::nullopt;
    const QString host = url.host(QUrl::FullyDecoded);
    const QString target =
        host.isEmpty() ? url.path().remove(QRegularExpression(QStringLiteral("^/+|/+$"))) : host;
    if (target != QLatin1String("setup"))
        return std::nullopt;

    const QString query = url.query(QUrl::FullyEncoded);
    const std::optional<QString> token = queryValue(query, QStringLiteral("token"));
    if (!token)
        return std::nullopt;
    const std::optional<QString> server = queryValue(query, QStringLiteral("server"));
    return SetupLink{*token, server.value_or(QString::fromLatin1(AppConfig::defaultServerUrl))};
}

} // namespace sendova
