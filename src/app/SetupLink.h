#pragma once

#include <QString>

#include <optional>

namespace sendova {

// A one-click setup link: sendova://setup?token=…&server=… (or the
// host-less form sendova:setup?…). The token is required; without a server
// the public default is used.
struct SetupLink
{
    QString token;
    QString serverUrl;

    // Nothing for anything that is not a well-formed setup link.
    static std::optional<SetupLink> parse(const QString &text);
};

} // namespace sendova
