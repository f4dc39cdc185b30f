#pragma once

#include <QByteArray>
#include <QString>

namespace sendova {

// The user's settings. Field names are the config.json member names; the
// stored server address is `_serverUrl` so that nobody reads it by mistake
// instead of serverUrl(), which honours the environment override.
struct AppConfig
{
    // The public service, used until the user points the program elsewhere.
    static constexpr const char *defaultServerUrl = "https://sendova.app";
    static constexpr const char *serverOverrideVariable = "SENDOVA_SERVER";

    QString _serverUrl = QString::fromLatin1(defaultServerUrl);
    QString apiKey;
    bool showNotifications = true;
    bool autoCopyToClipboard = true;
    bool checkForDuplicates = true;
    bool launchAtLogin = false;
    QString languageCode = QStringLiteral("en");

    static const AppConfig &defaults();

    // The server to talk to: SENDOVA_SERVER when set to something, otherwise
    // the stored address. Read afresh on every call.
    QString serverUrl() const;
    bool isConfigured() const;
    static bool hasServerOverride();
    // A server address as typed or received, without the trailing slashes
    // that would put "//" in front of every request path.
    static QString trimmedServerUrl(QString address);

    bool operator==(const AppConfig &) const = default;

    // Strict: all seven members present with their JSON types, unknown
    // members ignored. Throws DecodingError.
    static AppConfig decode(const QByteArray &json);
    // Pretty-printed, members in declaration order, apiKey as stored in the
    // record (the caller blanks it for the file).
    QByteArray encode() const;
};

} // namespace sendova
