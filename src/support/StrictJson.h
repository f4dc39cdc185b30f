#pragma once

#include "support/Error.h"

#include <QByteArray>
#include <QDateTime>
#include <QString>

#include <nlohmann/json.hpp>

#include <optional>

namespace sendova {

// A JSON document (a server reply, a settings file) that is not what its
// writer promised. memberPath names the member ("Data.FileSize"), empty for the body as a whole; reason says
// what was wrong with it.
class DecodingError : public Error
{
public:
    DecodingError(QString memberPath, QString reason);

    QString memberPath() const { return m_memberPath; }
    QString reason() const { return m_reason; }

private:
    QString m_memberPath;
    QString m_reason;
};

// Strict reading of JSON documents, the server's replies and our own files
// alike: exact member names, required
// members present and of the right JSON type, null counting as absent,
// unknown members ignored. Keeps no state, so any thread may use it.
namespace json {

using Json = nlohmann::json;
using OrderedJson = nlohmann::ordered_json;

// Parses the body, whatever its top level; anything the parser refuses is a DecodingError.
Json parseDocument(const QByteArray &body);
// Parses the body; the top level must be an object.
Json parseObject(const QByteArray &body);

// Each reader takes the enclosing object and the member name; path is the
// dotted name of the enclosing object for error messages ("" at the top).
bool requiredBool(const Json &object, const char *member, const QString &path);
QString requiredString(const Json &object, const char *member, const QString &path);
qint64 requiredInt64(const Json &object, const char *member, const QString &path);
std::optional<QString> optionalString(const Json &object, const char *member, const QString &path);
std::optional<QDateTime> optionalTimestamp(const Json &object, const char *member, const QString &path);
// A name the server sends for people to read (a user's, a tenant's), as
// shownText.
std::optional<QString> optionalShownText(const Json &object, const char *member, const QString &path);
// A link for people to open and paste: a string that passes isWebLink,
// anything else is a DecodingError.
QString requiredLink(const Json &object, const char *member, const QString &path);
std::optional<QString> optionalLink(const Json &object, const char *member, const QString &path);
// The nested object, or nullptr when the member is missing or null.
const Json *optionalObject(const Json &object, const char *member, const QString &path);

QString memberPath(const QString &path, const char *member);

// The server's own explanation in a refusal: the message of its error object,
// spelled "Error"/"Message" or "error"/"message", as shownText. Nothing for
// any other body.
std::optional<QString> refusalMessage(const QByteArray &body);

// ISO 8601 internet date-time with a zone, first with fractional seconds and
// then, for the same string, without; nothing else is accepted.
std::optional<QDateTime> parseTimestamp(const QString &text);
// Milliseconds are written only when there are some, so a value reads back
// to the same point in time.
QString formatTimestamp(const QDateTime &time);

std::string toUtf8(const QString &text);

} // namespace json
} // namespace sendova
