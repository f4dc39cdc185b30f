#include "share/ShareRecords.h"

#include "support/ShownText.h"
#include "support/StrictJson.h"

namespace sendova {

using namespace json;

namespace {

std::optional<bool> optionalBool(const Json &object, const char *name, const QString &path)
{
    const auto it = object.find(name);
    if (it == object.end() || it->is_null())
        return std::nullopt;
    // requiredBool gives the same wording for a wrong type as every other member.
    return requiredBool(object, name, path);
}

std::optional<qint64> optionalInt64(const Json &object, const char *name, const QString &path)
{
    const auto it = object.find(name);
    if (it == object.end() || it->is_null())
        return std::nullopt;
    return requiredInt64(object, name, path);
}

} // namespace

ShareAppConfig ShareAppConfig::decode(const QByteArray &bytes)
{
    const Json root = parseObject(bytes);
    const QString top;
    ShareAppConfig config;
    config.serverUrl = requiredString(root, "serverUrl", top);
    config.apiKey = requiredString(root, "apiKey", top);
    config.showNotifications = requiredBool(root, "showNotifications", top);
    config.autoCopyToClipboard = requiredBool(root, "autoCopyToClipboard", top);
    config.checkForDuplicates = requiredBool(root, "checkForDuplicates", top);
    config.launchAtLogin = requiredBool(root, "launchAtLogin", top);
    return config;
}

ShareUploadResult ShareUploadResult::decode(const QByteArray &body)
{
    const Json root = parseObject(body);
    const QString top;
    ShareUploadResult result;
    result.success = requiredBool(root, "Success", top);

    if (const Json *data = optionalObject(root, "Data", top)) {
        const QString path = QStringLiteral("Data");
        UploadData item;
        item.url = requiredLink(*data, "Url", path);
        item.shortCode = optionalString(*data, "ShortCode", path);
        item.fileName = optionalString(*data, "FileName", path);
        item.fileSize = optionalInt64(*data, "FileSize", path);
        item.expiresAt = optionalTimestamp(*data, "ExpiresAt", path);
        item.isDuplicate = optionalBool(*data, "IsDuplicate", path);
        item.message = optionalString(*data, "Message", path);
        result.data = std::move(item);
    }
    if (const Json *error = optionalObject(root, "Error", top)) {
        const QString path = QStringLiteral("Error");
        UploadError item;
        item.code = optionalString(*error, "Code", path);
        item.message = shownText(requiredString(*error, "Message", path));
        result.error = std::move(item);
    }
    return result;
}

CheckResponse CheckResponse::decode(const QByteArray &body)
{
    const Json root = parseObject(body);
    const QString top;
    CheckResponse response;
    response.success = requiredBool(root, "success", top);
    if (const Json *data = optionalObject(root, "data", top)) {
        const QString path = QStringLiteral("data");
        CheckData item;
        item.exists = requiredBool(*data, "exists", path);
        item.url = optionalLink(*data, "url", path);
        response.data = std::move(item);
    }
    return response;
}

} // namespace sendova
