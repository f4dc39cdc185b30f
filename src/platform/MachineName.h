#pragma once

#include <QString>

namespace sendova {

// The computer's user-visible name: PRETTY_HOSTNAME of /etc/machine-info,
// else the host name, else "Mac".
QString machineName();

// The same rule with its sources given, so that each fallback can be tried.
QString machineName(const QString &machineInfoPath, const QString &hostName);

} // namespace sendova
