#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QString>

#include <optional>

namespace sendova {

// The share program's read-only view of the main program's config.json. It
// needs these six members and nothing else; unlike the main program's reader
// it has no defaults to fall back on, so a file without one of them is no
// configuration at all.
struct ShareAppConfig
{
    QString serverUrl;
    QString apiKey;
    bool showNotifications = false;
    bool autoCopyToClipboard = false;
    bool checkForDuplicates = false;
    bool launchAtLogin = false;

    bool operator==(const ShareAppConfig &) const = default;

    // Throws DecodingError.
    static ShareAppConfig decode(const QByteArray &bytes);
};

// The upload reply as the share program reads it: the same PascalCase members
// as the main program's UploadResult, but only "Success", "Data.Url" and
// "Error.Message" are required.
struct ShareUploadResult
{
    struct UploadData
    {
        QString url;
        std::optional<QString> shortCode;
        std::optional<QString> fileName;
        std::optional<qint64> fileSize;
        std::optional<QDateTime> expiresAt;
        std::optional<bool> isDuplicate;
        std::optional<QString> message;

        bool operator==(const UploadData &) const = default;
    };

    struct UploadError
    {
        std::optional<QString> code;
        QString message;

        bool operator==(const UploadError &) const = default;
    };

    bool success = false;
    std::optional<UploadData> data;
    std::optional<UploadError> error;

    bool operator==(const ShareUploadResult &) const = default;

    // Throws DecodingError.
    static ShareUploadResult decode(const QByteArray &body);
};

// The duplicate-check reply as the share program reads it: lower-case
// members, no expiry.
struct CheckResponse
{
    struct CheckData
    {
        bool exists = false;
        std::optional<QString> url;

        bool operator==(const CheckData &) const = default;
    };

    bool success = false;
    std::optional<CheckData> data;

    bool operator==(const CheckResponse &) const = default;

    // Throws DecodingError.
    static CheckResponse decode(const QByteArray &body);
};

} // namespace sendova
