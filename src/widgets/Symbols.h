#pragma once

#include <QColor>
#include <QIcon>
#include <QPixmap>
#include <QString>

namespace sendova {

// The symbols the views show. Each is taken from the desktop's icon theme in
// its symbolic (one-colour) form when the theme has it, else from the SVG
// bundled with the program, and is always painted in the colour the view
// asks for: the shape follows the theme, the colour follows its role.
enum class Symbol {
    appMark,         // arrow up out of a document
    appMarkFilled,   // the same, solid: the welcome of the setup
    gear,            // settings
    dropFile,        // arrow down into a document
    document,        // a plain document
    copy,            // two sheets: copy to the clipboard
    checkmark,       // a tick
    checkmarkCircle, // a tick in a filled circle
    documentClock,   // a document with a clock badge: already stored
    browser,         // open in the web browser
    qrCode,          // show as a QR code
    envelope,        // write an e-mail
    warning,         // a filled warning triangle
    arrowUpCircle,   // bytes sent
    clock,           // time left
    xmarkCircle,     // a cross in a filled circle: close, or a failure
    eye,             // show a hidden text
    eyeSlash,        // hide it again
};

// The freedesktop icon-theme name tried for symbol (without "-symbolic").
QString symbolThemeName(Symbol symbol);
// The bundled fallback, a Qt resource path.
QString symbolResource(Symbol symbol);
// Whether the current icon theme supplies the symbol.
bool symbolFromTheme(Symbol symbol);

// The symbol at size × size device-independent pixels in one colour.
QPixmap symbolPixmap(Symbol symbol, int size, const QColor &color, qreal devicePixelRatio);
// The same as an icon for buttons, with a dimmed variant for the disabled state.
QIcon symbolIcon(Symbol symbol, const QColor &color, int size = 16, qreal devicePixelRatio = 1.0);

} // namespace sendova
