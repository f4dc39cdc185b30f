#include "config/RecentUpload.h"

#include "support/StrictJson.h"

#include <QRegularExpression>

namespace sendova {

namespace {

QString idText(const QUuid &id)
{
    return id.toString(QUuid::WithoutBraces).toUpper();
}

QUuid parseId(const json::Json &object, const QString &path)
{
    const QString text = json::requiredString(object, "id", path);
    // QUuid::fromString also takes braces and shorter forms and gives the
    // nil id on failure; only the plain 36-character form is an id here.
    static const QRegularExpression form(
        QStringLiteral("^[0-9A-Fa-f]{8}-[0-9A-Fa-f]{4}-[0-9A-Fa-f]{4}-[0-9A-Fa-f]{4}-[0-9A-Fa-f]{12}\\z"));
    if (!form.match(text).hasMatch())
        throw DecodingError(json::memberPath(path, "id"), QLatin1String("not a UUID: ") + text);
    return QUuid::fromString(text);
}

QDateTime requiredDate(const json::Json &object, const char *member, const QString &path)
{
    const QString text = json::requiredString(object, member, path);
    std::optional<QDateTime> time = RecentUpload::parseDate(text);
    if (!time)
        throw DecodingError(json::memberPath(path, member), QLatin1String("Invalid date: ") + text);
    return *time;
}

} // namespace

RecentUpload RecentUpload::make(QString fileName, qint64 fileSize, QString url, QDateTime uploadedAt,
                                QDateTime expiresAt)
{
    return RecentUpload{QUuid::createUuid(), std::move(fileName),   fileSize,
                        std::move(url),      std::move(uploadedAt), std::move(expiresAt)};
}

QString RecentUpload::formatDate(const QDateTime &time)
{
    // toUTC() rather than a UTC time zone: only the former prints as "Z".
    const QDateTime utc = time.toUTC();
    return utc.addMSecs(-utc.time().msec()).toString(Qt::ISODate);
}

std::optional<QDateTime> RecentUpload::parseDate(const QString &text)
{
    if (text.contains(QLatin1Char('.')))
        return std::nullopt;
    return json::parseTimestamp(text);
}

QList<RecentUpload> RecentUpload::decodeList(const QByteArray &json)
{
    const json::Json document = json::parseDocument(json);
    if (!document.is_array())
        throw DecodingError(QString(), QLatin1String("expected an array, found ") +
                                           QString::fromLatin1(document.type_name()));

    QList<RecentUpload> entries;
    entries.reserve(static_cast<qsizetype>(document.size()));
    for (std::size_t index = 0; index < document.size(); ++index) {
        const json::Json &object = document[index];
        const QString path = QLatin1Char('[') + QString::number(index) + QLatin1Char(']');
        if (!object.is_object())
            throw DecodingError(path, QLatin1String("expected an object, found ") +
                                          QString::fromLatin1(object.type_name()));
        RecentUpload entry;
        entry.id = parseId(object, path);
        entry.fileName = json::requiredString(object, "fileName", path);
        entry.fileSize = json::requiredInt64(object, "fileSize", path);
        entry.url = json::requiredString(object, "url", path);
        entry.uploadedAt = requiredDate(object, "uploadedAt", path);
        entry.expiresAt = requiredDate(object, "expiresAt", path);
        entries.append(std::move(entry));
    }
    return entries;
}

QByteArray RecentUpload::encodeList(const QList<RecentUpload> &entries)
{
    json::OrderedJson array = json::OrderedJson::array();
    for (const RecentUpload &entry : entries) {
        json::OrderedJson object = json::OrderedJson::object();
        object["id"] = json::toUtf8(idText(entry.id));
        object["fileName"] = json::toUtf8(entry.fileName);
        object["fileSize"] = entry.fileSize;
        object["url"] = json::toUtf8(entry.url);
        object["uploadedAt"] = json::toUtf8(formatDate(entry.uploadedAt));
        object["expiresAt"] = json::toUtf8(formatDate(entry.expiresAt));
        array.push_back(std::move(object));
    }
    return QByteArray::fromStdString(array.dump(2));
}

} // namespace sendova
