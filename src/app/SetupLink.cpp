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

// Control and format characters (line breaks, NUL, bidirectional overrides,
// zero-width marks) have no place in a token or an address, and could make
// what the confirmation shows differ from what is used.
bool hasHiddenCharacters(const QString &text)
{
    for (const QChar c : text) {
        const QChar::Category category = c.category();
        if (category == QChar::Other_Control || category == QChar::Other_Format)
            return true;
    }
    return false;
}

// Only a plain http(s) address with a host can be offered for confirmation:
// another scheme would not be a server, and "user@" in front of the host is
// the usual way to make one address look like another.
bool isServerAddress(const QString &text)
{
    if (text.size() > SetupLink::maxServerLength || hasHiddenCharacters(text))
        return false;
    const QUrl url(text, QUrl::StrictMode);
    const QString scheme = url.scheme();
    return url.isValid() && (scheme == QLatin1String("http") || scheme == QLatin1String("https")) &&
           !url.host().isEmpty() && url.userInfo().isEmpty();
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
    if (!token || token->size() > maxTokenLength || hasHiddenCharacters(*token))
        return std::nullopt;
    const std::optional<QString> server = queryValue(query, QStringLiteral("server"));
    if (server && !isServerAddress(*server))
        return SetupLink{*token, QString(), true};
    return SetupLink{*token, server.value_or(QString::fromLatin1(AppConfig::defaultServerUrl))};
}

} // namespace sendova
