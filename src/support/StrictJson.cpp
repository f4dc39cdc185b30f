#include "support/StrictJson.h"

#include "support/ShownText.h"

#include <QRegularExpression>
#include <QTimeZone>

#include <cmath>
#include <limits>

namespace sendova {

DecodingError::DecodingError(QString memberPath, QString reason)
    : Error(memberPath.isEmpty() ? reason : memberPath + QLatin1String(": ") + reason),
      m_memberPath(std::move(memberPath)), m_reason(std::move(reason))
{}

namespace json {

namespace {

QString typeName(const Json &value)
{
    return QString::fromLatin1(value.type_name());
}

[[noreturn]] void wrongType(const Json &value, const QString &path, const char *expected)
{
    throw DecodingError(path, QLatin1String("expected ") + QLatin1String(expected) +
                                  QLatin1String(", found ") + typeName(value));
}

// The member, or nullptr when it is missing or null.
const Json *member(const Json &object, const char *name)
{
    const auto it = object.find(name);
    if (it == object.end() || it->is_null())
        return nullptr;
    return &*it;
}

const Json &required(const Json &object, const char *name, const QString &path)
{
    const Json *value = member(object, name);
    if (!value)
        throw DecodingError(memberPath(path, name), QStringLiteral("required member is missing or null"));
    return *value;
}

} // namespace

QString memberPath(const QString &path, const char *member)
{
    const QString name = QString::fromUtf8(member);
    return path.isEmpty() ? name : path + QLatin1Char('.') + name;
}

std::optional<QString> refusalMessage(const QByteArray &body)
{
    const Json document = Json::parse(body.constBegin(), body.constEnd(), nullptr, false);
    if (!document.is_object())
        return std::nullopt;
    for (const char *errorName : {"Error", "error"}) {
        const Json *error = member(document, errorName);
        if (!error || !error->is_object())
            continue;
        for (const char *messageName : {"Message", "message"}) {
            const Json *message = member(*error, messageName);
            if (message && message->is_string())
                return shownText(QString::fromStdString(message->get<std::string>()));
        }
    }
    return std::nullopt;
}

std::string toUtf8(const QString &text)
{
    return text.toStdString();
}

Json parseDocument(const QByteArray &body)
{
    try {
        return Json::parse(body.constBegin(), body.constEnd());
    } catch (const Json::exception &error) {
        // Not only syntax errors: a number too large for a double (26E66666) is out_of_range,
        // and an uncaught one would end the program over a bad reply or config.json.
        throw DecodingError(QString(), QLatin1String("not valid JSON: ") + QString::fromUtf8(error.what()));
    }
}

Json parseObject(const QByteArray &body)
{
    const Json document = parseDocument(body);
    if (!document.is_object())
        wrongType(document, QString(), "an object at the top level");
    return document;
}

bool requiredBool(const Json &object, const char *name, const QString &path)
{
    const Json &value = required(object, name, path);
    if (!value.is_boolean())
        wrongType(value, memberPath(path, name), "a boolean");
    return value.get<bool>();
}

QString requiredString(const Json &object, const char *name, const QString &path)
{
    const Json &value = required(object, name, path);
    if (!value.is_string())
        wrongType(value, memberPath(path, name), "a string");
    return QString::fromStdString(value.get_ref<const std::string &>());
}

qint64 requiredInt64(const Json &object, const char *name, const QString &path)
{
    const Json &value = required(object, name, path);
    const QString where = memberPath(path, name);
    if (value.is_number_unsigned()) {
        const auto number = value.get<std::uint64_t>();
        if (number > static_cast<std::uint64_t>(std::numeric_limits<qint64>::max()))
            throw DecodingError(where, QStringLiteral("number does not fit a signed 64-bit integer"));
        return static_cast<qint64>(number);
    }
    if (value.is_number_integer())
        return value.get<std::int64_t>();
    if (value.is_number_float()) {
        // 12.0 and 1e3 are integers written another way; 12.5 is not.
        const double number = value.get<double>();
        if (std::isfinite(number) && std::trunc(number) == number && number >= -9.2233720368547758e18 &&
            number < 9.2233720368547758e18)
            return static_cast<qint64>(number);
        throw DecodingError(where, QStringLiteral("expected an integer, found a number with a fraction"));
    }
    wrongType(value, where, "an integer");
}

std::optional<QString> optionalString(const Json &object, const char *name, const QString &path)
{
    const Json *value = member(object, name);
    if (!value)
        return std::nullopt;
    if (!value->is_string())
        wrongType(*value, memberPath(path, name), "a string");
    return QString::fromStdString(value->get_ref<const std::string &>());
}

std::optional<QString> optionalShownText(const Json &object, const char *name, const QString &path)
{
    std::optional<QString> text = optionalString(object, name, path);
    return text ? std::optional(shownText(*text)) : std::nullopt;
}

QString requiredLink(const Json &object, const char *name, const QString &path)
{
    QString text = requiredString(object, name, path);
    // The text itself stays out of the message: keeping it off a terminal is
    // what the check is for.
    if (!isWebLink(text))
        throw DecodingError(memberPath(path, name), QStringLiteral("not an http(s) link"));
    return text;
}

std::optional<QString> optionalLink(const Json &object, const char *name, const QString &path)
{
    if (!member(object, name))
        return std::nullopt;
    return requiredLink(object, name, path);
}

std::optional<QDateTime> optionalTimestamp(const Json &object, const char *name, const QString &path)
{
    const std::optional<QString> text = optionalString(object, name, path);
    if (!text)
        return std::nullopt;
    std::optional<QDateTime> time = parseTimestamp(*text);
    if (!time)
        throw DecodingError(memberPath(path, name), QLatin1String("Invalid date: ") + *text);
    return time;
}

const Json *optionalObject(const Json &object, const char *name, const QString &path)
{
    const Json *value = member(object, name);
    if (value && !value->is_object())
        wrongType(*value, memberPath(path, name), "an object");
    return value;
}

namespace {

std::optional<QDateTime> parseForm(const QString &text, bool withFraction)
{
    static const QRegularExpression withFractionPattern(QStringLiteral(
        R"(^([0-9]{4})-([0-9]{2})-([0-9]{2})T([0-9]{2}):([0-9]{2}):([0-9]{2})\.([0-9]{1,9})(Z|[+-][0-9]{2}:[0-9]{2})\z)"));
    static const QRegularExpression plainPattern(QStringLiteral(
        R"(^([0-9]{4})-([0-9]{2})-([0-9]{2})T([0-9]{2}):([0-9]{2}):([0-9]{2})()(Z|[+-][0-9]{2}:[0-9]{2})\z)"));
    const QRegularExpressionMatch match = (withFraction ? withFractionPattern : plainPattern).match(text);
    if (!match.hasMatch())
        return std::nullopt;

    const QDate date(match.captured(1).toInt(), match.captured(2).toInt(), match.captured(3).toInt());
    const int hour = match.captured(4).toInt();
    const int minute = match.captured(5).toInt();
    const int second = match.captured(6).toInt();
    // Digits past the millisecond are dropped: the time is kept to the millisecond.
    const int millisecond = match.captured(7).leftJustified(3, QLatin1Char('0'), true).toInt();
    const QTime time(hour, minute, second, millisecond);
    if (!date.isValid() || !time.isValid())
        return std::nullopt;

    int offsetSeconds = 0;
    const QString zone = match.captured(8);
    if (zone != QLatin1String("Z")) {
        const int zoneHours = zone.mid(1, 2).toInt();
        const int zoneMinutes = zone.mid(4, 2).toInt();
        if (zoneHours > 23 || zoneMinutes > 59)
            return std::nullopt;
        offsetSeconds = (zoneHours * 3600 + zoneMinutes * 60) * (zone.startsWith(QLatin1Char('-')) ? -1 : 1);
    }
    return QDateTime(date, time, QTimeZone(offsetSeconds)).toUTC();
}

} // namespace

std::optional<QDateTime> parseTimestamp(const QString &text)
{
    if (std::optional<QDateTime> time = parseForm(text, true))
        return time;
    return parseForm(text, false);
}

QString formatTimestamp(const QDateTime &time)
{
    const QDateTime utc = time.toUTC();
    return utc.toString(utc.time().msec() ? Qt::ISODateWithMs : Qt::ISODate);
}

} // namespace json
} // namespace sendova
