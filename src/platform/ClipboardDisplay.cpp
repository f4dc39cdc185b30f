#include "platform/ClipboardDisplay.h"

#include <QClipboard>
#include <QGuiApplication>

namespace sendova {

const ClipboardDisplay *clipboardDisplay()
{
    static const ClipboardDisplay display{
        [] { return QGuiApplication::focusWindow() != nullptr; },
        [](QMimeData *data) { QGuiApplication::clipboard()->setMimeData(data, QClipboard::Clipboard); },
        []() -> const QMimeData * { return QGuiApplication::clipboard()->mimeData(QClipboard::Clipboard); },
        [] { QGuiApplication::clipboard()->clear(QClipboard::Clipboard); },
    };
    return qobject_cast<QGuiApplication *>(QCoreApplication::instance()) ? &display : nullptr;
}

} // namespace sendova
