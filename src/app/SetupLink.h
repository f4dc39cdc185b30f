#pragma once

#include <QString>

#include <QCoroTask>

#include <optional>

namespace sendova {

class AppViewModel;

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

// What the user is told about a setup attempt. Titles and texts are fixed.
struct SetupOutcome
{
    bool configured = false;
    QString title;
    QString message;
};

// Exchanges the token for a key and, on success, stores key and server
// through the view model and closes the first-run setup. On any failure the
// stored settings stay as they were.
QCoro::Task<SetupOutcome> performSetup(AppViewModel &model, QString token, QString serverUrl);

} // namespace sendova
