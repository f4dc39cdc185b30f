#pragma once

#include <QUrl>

namespace sendova {

// Hands a link to the desktop's default handler (the browser for http links).
class UrlOpener
{
public:
    static bool open(const QUrl &url);
};

} // namespace sendova
