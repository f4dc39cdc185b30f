#include "config/AppConfig.h"

#include "upload/ReplyDecoder.h"

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
    return override.isEmpty() ? _serverUrl : override;
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
    const reply::Json object = reply::parseObject(json);
    const QString top;
    AppConfig config;
    config._serverUrl = reply::requiredString(object, "serverUrl", top);
    config.apiKey = reply::requiredString(object, "apiKey", top);
    config.showNotifications = reply::requiredBool(object, "showNotifications", top);
    config.autoCopyToClipboard = reply::requiredBool(object, "autoCopyToClipboard", top);
    config.checkForDuplicates = reply::requiredBool(object, "checkForDuplicates", top);
    config.launchAtLogin = reply::requiredBool(object, "launchAtLogin", top);
    config.languageCode = reply::requiredString(object, "languageCode", top);
    return config;
}

QByteArray AppConfig::encode() const
{
    reply::OrderedJson object = reply::OrderedJson::object();
    object["serverUrl"] = reply::toUtf8(_serverUrl);
    object["apiKey"] = reply::toUtf8(apiKey);
    object["showNotifications"] = showNotifications;
    object["autoCopyToClipboard"] = autoCopyToClipboard;
    object["checkForDuplicates"] = checkForDuplicates;
    object["launchAtLogin"] = launchAtLogin;
    object["languageCode"] = reply::toUtf8(languageCode);
    return QByteArray::fromStdString(object.dump(2));
}

} // namespace sendova
