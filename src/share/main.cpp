// sendova-share FILE…: uploads the first file it is given and shows the link.
// Exit status 0 when the user closes it after a success, 1 when the request
// is cancelled (Cancel, Close after a failure, closing the window, or a
// terminating signal), with the reason on standard error.

#include "platform/TerminationSignals.h"
#include "share/ShareViewController.h"

#include <QApplication>

#include <csignal>

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    QGuiApplication::setDesktopFileName(QStringLiteral("sendova-share"));

    sendova::ShareViewController controller(app.arguments().mid(1));
    // Ctrl-C in a terminal or the session ending: the request is cancelled like
    // any other, so the caller sees the same status and reason.
    sendova::TerminationSignals signals({SIGINT, SIGTERM, SIGHUP});
    QObject::connect(&signals, &sendova::TerminationSignals::received, &controller,
                     &sendova::ShareViewController::cancelRequest);
    return controller.exec();
}
