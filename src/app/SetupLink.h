#pragma once

#include <QString>

#include <optional>

namespace sendova {

// A one-click setup link: sendova://setup?token=…&server=… (or the
// host-less form sendova:setup?…). The token is required; without a server
// the public default is used.
struct SetupLink
{
    // Far above any token or address a server hands out; a link beyond them
    // comes from something that is not a server.
    static constexpr qsizetype maxTokenLength = 512;
    static constexpr qsizetype maxServerLength = 2048;

    QString token;
    QString serverUrl;

    // Nothing for anything that is not a well-formed setup link, so that it
    // is ignored before any request: a missing token, a token or server with
    // control characters or beyond the lengths above, a server that is not
    // an http(s) address with a host.
    static std::optional<SetupLink> parse(const QString &text);
};

} // namespace sendova
