#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QString>

#include <optional>

namespace sendova {

// The server's reply to an upload. Members on the wire are PascalCase
// ("Success", "Data", …); see UploadResult.cpp for the mapping.
struct UploadResult
{
    struct UploadData
    {
        QString url;
        QString shortCode;
        QString fileName;
        qint64 fileSize = 0;
        std::optional<QDateTime> expiresAt;
        bool isDuplicate = false;
        std::optional<QString> message;

        bool operator==(const UploadData &) const = default;
    };

    // The server's own error object, not the client's failure enumeration.
    struct UploadError
    {
        QString code;
        QString message;

        bool operator==(const UploadError &) const = default;
    };

    bool success = false;
    std::optional<UploadData> data;
    std::optional<UploadError> error;

    bool operator==(const UploadResult &) const = default;

    // Throws DecodingError.
    static UploadResult decode(const QByteArray &body);
    // Compact JSON with the wire member names; absent optionals are left out.
    QByteArray encode() const;
};

} // namespace sendova
