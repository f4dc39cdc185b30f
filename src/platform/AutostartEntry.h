#pragma once

#include <QByteArray>
#include <QString>

#include <optional>

namespace sendova {

// The desktop entry that starts the tray program when the user logs in:
// $XDG_CONFIG_HOME/autostart/, named after the application id, as every
// desktop that follows the XDG autostart rules reads it.
class AutostartEntry
{
public:
    static constexpr const char *applicationId = "com.sendova.Sendova";

    // What went wrong with the entry at path.
    struct Failure
    {
        QString path;
        QString reason;
    };

    // The user's entry.
    static QString path();
    // The entry's text.
    static QByteArray contents();
    // Whether the tray program starts at login: the user's entry, or one the
    // system installed for every user that the user's does not hide.
    static bool isEnabled();
    // Writes the entry (atomically) or takes it away. An entry installed for
    // every user is switched off by a user's entry that hides it, as the
    // autostart rules prescribe, since the system's cannot be removed.
    static std::optional<Failure> setEnabled(bool enabled);
};

} // namespace sendova
