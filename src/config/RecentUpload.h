#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QList>
#include <QString>
#include <QUuid>

namespace sendova {

// One line of the recent-uploads list, as kept in recents.json.
struct RecentUpload
{
    QUuid id;
    QString fileName;
    qint64 fileSize = 0;
    QString url;
    QDateTime uploadedAt;
    QDateTime expiresAt;

    // A new entry with a fresh id.
    static RecentUpload make(QString fileName, qint64 fileSize, QString url, QDateTime uploadedAt,
                             QDateTime expiresAt);

    bool operator==(const RecentUpload &) const = default;

    // The whole list or nothing: one bad entry rejects the array. Throws
    // DecodingError.
    static QList<RecentUpload> decodeList(const QByteArray &json);
    // Pretty-printed array; dates in UTC to the second, ids upper-case.
    static QByteArray encodeList(const QList<RecentUpload> &entries);

    // "2026-12-05T16:25:11Z"; fractions of a second are dropped.
    static QString formatDate(const QDateTime &time);
    // Accepts exactly the form formatDate writes (any zone offset), nothing
    // with fractions.
    static std::optional<QDateTime> parseDate(const QString &text);
};

} // namespace sendova
