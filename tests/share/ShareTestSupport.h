#pragma once

#include "../config/ConfigTestSupport.h"
#include "LoopbackHttpServer.h"

#include "config/ConfigService.h"
#include "config/KeychainService.h"
#include "share/ShareState.h"
#include "support/LocalizationService.h"

#include <QJsonDocument>
#include <QJsonObject>
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

inline const QString sharedLink = QStringLiteral("https://files.example/s/Ab3");

// The main program's config.json as the share program finds it, with an empty
// key as the tray program writes it.
inline QByteArray configJson(const QString &serverUrl, bool autoCopy = false, bool checkDuplicates = false,
                             const QJsonObject &changes = {})
{
    QJsonObject config{{u"serverUrl"_qs, serverUrl},
                       {u"apiKey"_qs, QString()},
                       {u"showNotifications"_qs, true},
                       {u"autoCopyToClipboard"_qs, autoCopy},
                       {u"checkForDuplicates"_qs, checkDuplicates},
                       {u"launchAtLogin"_qs, false},
                       {u"languageCode"_qs, u"en"_qs}};
    for (auto member = changes.begin(); member != changes.end(); ++member)
        config[member.key()] = *member;
    return QJsonDocument(config).toJson();
}

inline void writeConfig(const QByteArray &bytes)
{
    writeAll(ConfigService::shared().configURL(), bytes);
}

// Nothing for no key in the keychain.
inline void setKeychainKey(const QString &key)
{
    if (key.isNull())
        KeychainService::shared().deleteAPIKey();
    else
        KeychainService::shared().saveAPIKey(key);
}

inline ScriptedReply uploadReply(const QString &url, int status = 200)
{
    return ScriptedReply::json(status,
                               QStringLiteral(R"({"Success":true,"Data":{"Url":"%1"}})").arg(url).toUtf8());
}

// The share program's check reply, in its own lower-case members.
inline ScriptedReply checkReply(const QString &storedUrl, int status = 200)
{
    return ScriptedReply::json(
        status, storedUrl.isEmpty() ? QByteArray(R"({"success":true,"data":{"exists":false}})")
                                    : QStringLiteral(R"({"success":true,"data":{"exists":true,"url":"%1"}})")
                                          .arg(storedUrl)
                                          .toUtf8());
}

} // namespace sendova::test
