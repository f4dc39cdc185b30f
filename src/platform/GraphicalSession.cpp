#include "platform/GraphicalSession.h"

#include <QByteArray>
#include <QList>
#include <QtGlobal>

#include <algorithm>

namespace sendova {

bool hasGraphicalSession()
{
    if (!qEnvironmentVariableIsEmpty("DISPLAY") || !qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY"))
        return true;
    // Qt falls back along a list ("xcb;offscreen"), so one entry that needs
    // no display is enough.
    const QList<QByteArray> platforms = qgetenv("QT_QPA_PLATFORM").split(';');
    return std::ranges::any_of(platforms, [](const QByteArray &entry) {
        const QByteArray name = entry.split(':').value(0).trimmed();
        return !name.isEmpty() && name != "xcb" && !name.startsWith("wayland");
    });
}

} // namespace sendova
