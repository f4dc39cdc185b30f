#include "config/AppConfig.h"

#include "support/StrictJson.h"

namespace sendova {

namespace {

QString overrideValue()
{
    return qEnvironmentVariable(AppConfig::serverOverrideVariable);
}

} // namespace

const AppConfig &AppConfig::defaults()
{
    static const AppConfig value;
    return value;
}

QString AppConfig::serverUrl() const
{
    const QString override = overrideValue();
    return override.isEmpty() ? _serverUrl : trimmedServerUrl(override);
}

QString AppConfig::trimmedServerUrl(QString address)
{
    while (address.endsWith(QLatin1Char('/')))
        address.chop(1);
    return address;
}

bool AppConfig::isConfigured() const
{
    return !serverUrl().isEmpty() && !apiKey.isEmpty();
}

bool AppConfig::hasServerOverride()
{
    return !overrideValue().isEmpty();
}

AppConfig AppConfig::decode(const QByteArray &json)
{
    const json::Json object = json::parseObject(json);
    const QString top;
    AppConfig config;
    config._serverUrl = json::requiredString(object, "serverUrl", top);
    config.apiKey = json::requiredString(object, "apiKey", top);
    config.showNotifications = json::requiredBool(object, "showNotifications", top);
    config.autoCopyToClipboard = json::requiredBool(object, "autoCopyToClipboard", top);
    config.checkForDuplicates = json::requiredBool(object, "checkForDuplicates", top);
    config.launchAtLogin = json::requiredBool(object, "launchAtLogin", top);
    config.languageCode = json::requiredString(object, "languageCode", top);
    return config;
}

QByteArray AppConfig::encode() const
{
    json::OrderedJson object = json::OrderedJson::object();
    object["serverUrl"] = json::toUtf8(_serverUrl);
    object["apiKey"] = json::toUtf8(apiKey);
    object["showNotifications"] = showNotifications;
    object["autoCopyToClipboard"] = autoCopyToClipboard;
    object["checkForDuplicates"] = checkForDuplicates;
    object["launchAtLogin"] = launchAtLogin;
    object["languageCode"] = json::toUtf8(languageCode);
    return QByteArray::fromStdString(object.dump(2));
}

} // namespace sendova
