#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QString>

#include <optional>

namespace sendova {

// The server's reply to a duplicate check, PascalCase on the wire.
struct CheckResult
{
    struct CheckData
    {
        bool exists = false;
        std::optional<QString> url;
        std::optional<QDateTime> expiresAt;

        bool operator==(const CheckData &) const = default;
    };

    bool success = false;
    std::optional<CheckData> data;

    bool operator==(const CheckResult &) const = default;

    // Throws DecodingError.
    static CheckResult decode(const QByteArray &body);
    QByteArray encode() const;
};

} // namespace sendova
