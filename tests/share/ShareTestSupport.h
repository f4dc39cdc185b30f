#pragma once

#include "config/ConfigService.h"
#include "config/KeychainService.h"
#include "share/ShareState.h"

#include <QByteArray>
#include <QFile>
#include <QString>
#include <QTest>

namespace sendova {

// So that a failed comparison shows which state it met.
inline char *toString(const ShareState &state)
{
    static const char *const names[] = {"success", "error", "idle", "loading", "hashing", "uploading"};
    return QTest::toString(QString::fromLatin1(names[int(state.kind())]) + QLatin1Char('(') + state.text() +
                           QLatin1Char(')'));
}

} // namespace sendova

namespace sendova::test {

// The main program's config.json as the share program finds it; members
// left out of `members` are not written at all.
inline QByteArray configJson(const QString &serverUrl, const QString &apiKey, bool autoCopy,
                             bool checkDuplicates)
{
    return QStringLiteral(R"({
  "serverUrl" : "%1",
  "apiKey" : "%2",
  "showNotifications" : true,
  "autoCopyToClipboard" : %3,
  "checkForDuplicates" : %4,
  "launchAtLogin" : false,
  "languageCode" : "en"
})")
        .arg(serverUrl, apiKey, autoCopy ? QStringLiteral("true") : QStringLiteral("false"),
             checkDuplicates ? QStringLiteral("true") : QStringLiteral("false"))
        .toUtf8();
}

inline bool writeFile(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.write(bytes) == bytes.size();
}

inline void writeConfig(const QByteArray &bytes)
{
    writeFile(ConfigService::shared().configURL(), bytes);
}

inline void removeConfig()
{
    QFile::remove(ConfigService::shared().configURL());
}

// Nothing for no key in the keychain.
inline void setKeychainKey(const QString &key)
{
    if (key.isNull())
        KeychainService::shared().deleteAPIKey();
    else
        KeychainService::shared().saveAPIKey(key);
}

} // namespace sendova::test
