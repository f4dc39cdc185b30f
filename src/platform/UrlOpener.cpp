#include "platform/UrlOpener.h"

#include <QDesktopServices>

namespace sendova {

bool UrlOpener::open(const QUrl &url)
{
    return QDesktopServices::openUrl(url);
}

} // namespace sendova
