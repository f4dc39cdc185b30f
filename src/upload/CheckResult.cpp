#include "upload/CheckResult.h"

#include "support/StrictJson.h"

namespace sendova {

using namespace json;

CheckResult CheckResult::decode(const QByteArray &body)
{
    const Json root = parseObject(body);
    CheckResult result;
    result.success = requiredBool(root, "Success", QString());
    if (const Json *data = optionalObject(root, "Data", QString())) {
        const QString path = QStringLiteral("Data");
        CheckData decoded;
        decoded.exists = requiredBool(*data, "Exists", path);
        decoded.url = optionalLink(*data, "Url", path);
        decoded.expiresAt = optionalTimestamp(*data, "ExpiresAt", path);
        result.data = std::move(decoded);
    }
    return result;
}

QByteArray CheckResult::encode() const
{
    OrderedJson root = OrderedJson::object();
    root["Success"] = success;
    if (data) {
        OrderedJson out = OrderedJson::object();
        out["Exists"] = data->exists;
        if (data->url)
            out["Url"] = toUtf8(*data->url);
        if (data->expiresAt)
            out["ExpiresAt"] = toUtf8(formatTimestamp(*data->expiresAt));
        root["Data"] = std::move(out);
    }
    return QByteArray::fromStdString(root.dump());
}

} // namespace sendova
