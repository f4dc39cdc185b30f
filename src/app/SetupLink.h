#pragma once

#include "model/SetupModel.h"

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

// SetupModel::performSetup with a model of its own, for callers that have
// no setup sheet.
QCoro::Task<SetupOutcome> performSetup(AppViewModel &model, QString token, QString serverUrl);

} // namespace sendova
