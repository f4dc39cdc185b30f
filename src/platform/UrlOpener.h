#pragma once

#include <QUrl>

namespace sendova {

// Hands a link to the desktop's default handler (the browser for http links).
// Needs Qt Gui: the command line's module, which has none, defines open()
// itself and the linker then leaves UrlOpener.cpp out (see ClipboardDisplay.h).
class UrlOpener
{
public:
    static bool open(const QUrl &url);
};

} // namespace sendova
