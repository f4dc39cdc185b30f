#include "upload/UploadResult.h"

#include "support/ShownText.h"
#include "support/StrictJson.h"

namespace sendova {

using namespace json;

UploadResult UploadResult::decode(const QByteArray &body)
{
    const Json root = parseObject(body);
    UploadResult result;
    result.success = requiredBool(root, "Success", QString());

    if (const Json *data = optionalObject(root, "Data", QString())) {
        const QString path = QStringLiteral("Data");
        UploadData decoded;
        decoded.url = requiredLink(*data, "Url", path);
        decoded.shortCode = requiredString(*data, "ShortCode", path);
        decoded.fileName = shownText(requiredString(*data, "FileName", path));
        decoded.fileSize = requiredInt64(*data, "FileSize", path);
        decoded.expiresAt = optionalTimestamp(*data, "ExpiresAt", path);
        decoded.isDuplicate = requiredBool(*data, "IsDuplicate", path);
        if (std::optional<QString> message = optionalString(*data, "Message", path))
            decoded.message = shownText(*message);
        result.data = std::move(decoded);
    }

    if (const Json *error = optionalObject(root, "Error", QString())) {
        const QString path = QStringLiteral("Error");
        result.error = UploadError{requiredString(*error, "Code", path),
                                   shownText(requiredString(*error, "Message", path))};
    }
    return result;
}

QByteArray UploadResult::encode() const
{
    OrderedJson root = OrderedJson::object();
    root["Success"] = success;
    if (data) {
        OrderedJson out = OrderedJson::object();
        out["Url"] = toUtf8(data->url);
        out["ShortCode"] = toUtf8(data->shortCode);
        out["FileName"] = toUtf8(data->fileName);
        out["FileSize"] = data->fileSize;
        if (data->expiresAt)
            out["ExpiresAt"] = toUtf8(formatTimestamp(*data->expiresAt));
        out["IsDuplicate"] = data->isDuplicate;
        if (data->message)
            out["Message"] = toUtf8(*data->message);
        root["Data"] = std::move(out);
    }
    if (error)
        root["Error"] = OrderedJson{{"Code", toUtf8(error->code)}, {"Message", toUtf8(error->message)}};
    return QByteArray::fromStdString(root.dump());
}

} // namespace sendova
