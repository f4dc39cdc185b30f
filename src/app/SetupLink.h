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
    // A setup link whose server cannot be used (not an http(s) address with
    // a host, control characters, beyond the length above): refused before
    // any request, but said so, since the user clicked it. serverUrl is empty.
    bool serverRefused = false;

    // Nothing for anything that is not a setup link with a usable token, so
    // that it is ignored before any request: a missing token, a token with
    // control characters or beyond the length above.
    static std::optional<SetupLink> parse(const QString &text);
};

} // namespace sendova
