#pragma once

#include <QDBusConnection>
#include <QString>
#include <QUrl>

#include <QCoroTask>

namespace sendova {

// The desktop's screenshot tool, reached through the XDG desktop portal
// (org.freedesktop.portal.Screenshot on the session bus): GNOME, KDE and
// wlroots desktops each bring their own, and it alone may read the screen
// of a Wayland session. Interactive: the user picks the area, or cancels,
// with the desktop's own tool.
class ScreenshotPortal
{
public:
    static constexpr const char *serviceName = "org.freedesktop.portal.Desktop";
    static constexpr const char *objectPath = "/org/freedesktop/portal/desktop";
    static constexpr const char *interfaceName = "org.freedesktop.portal.Screenshot";
    static constexpr const char *requestInterface = "org.freedesktop.portal.Request";

    struct Outcome
    {
        enum class Kind { taken, cancelled, failed };
        Kind kind = Kind::failed;
        // The picture, for taken.
        QUrl file;
        // For failed, in English, for the log and the command line.
        QString reason;
    };

    // Whether the session has a portal offering screenshots, running or
    // started on demand.
    static QCoro::Task<bool> available(QDBusConnection bus);
    // Asks for one screenshot and waits for the user (as long as it takes).
    // parentWindow is the portal's window identifier ("x11:…"), or empty.
    static QCoro::Task<Outcome> take(QDBusConnection bus, QString parentWindow = {});
};

} // namespace sendova
