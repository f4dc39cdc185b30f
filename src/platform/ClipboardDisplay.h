#pragma once

class QMimeData;

namespace sendova {

// What the clipboard adapter needs of Qt Gui, apart from it so that a
// program without windows links none of Qt Gui: the command line's module
// defines clipboardDisplay() itself, returning nullptr, and the linker then
// leaves ClipboardDisplay.cpp out (a second definition is a link error, not
// a silent choice).
struct ClipboardDisplay
{
    bool (*hasFocusWindow)();
    // The process's own offer for the clipboard; the display takes it or not.
    void (*offer)(QMimeData *data);
    // What the clipboard holds: our own offer's object only while the display
    // has it from us.
    const QMimeData *(*current)();
    void (*clear)();
};

// Null without a QGuiApplication.
const ClipboardDisplay *clipboardDisplay();

} // namespace sendova
