// sendova-share FILE…: uploads the first file it is given and shows the link.
// Exit status 0 when the user closes it after a success, 1 when the request
// is cancelled (Cancel, Close after a failure, closing the window before a
// success, or a terminating signal), with the reason on standard error.

#include "platform/GraphicalSession.h"
#include "platform/TerminationSignals.h"
#include "share/ShareViewController.h"

#include <QApplication>

#include <csignal>
#include <cstdio>
#include <cstring>

namespace {

const char usageText[] =
    "Usage: sendova-share [--] FILE…\n"
    "Uploads the first FILE to the server Sendova is set up for and shows its link in a small\n"
    "window. A FILE may be a path or a file:// URL; '-' reads such a URL from standard input.\n"
    "Only one file is sent; the window says how many others were left out.\n"
    "\n"
    "  -h, --help   show this help\n"
    "  --version    show the version\n"
    "\n"
    "Exit status: 0 when the window is closed after a success, 1 when the request was\n"
    "cancelled or failed (the reason on standard error), 2 without a graphical session.\n"
    "To upload from a terminal, use 'sendova upload FILE…'.\n";

} // namespace

int main(int argc, char **argv)
{
    // Before the application object, which needs a display: help works anywhere.
    for (int i = 1; i < argc && std::strcmp(argv[i], "--") != 0; ++i) {
        if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0) {
            std::fputs(usageText, stdout);
            return std::fflush(stdout) == 0 ? 0 : 1;
        }
        if (std::strcmp(argv[i], "--version") == 0) {
            std::printf("sendova-share %s\n", SENDOVA_VERSION);
            return std::fflush(stdout) == 0 ? 0 : 1;
        }
    }
    if (!sendova::hasGraphicalSession()) {
        std::fprintf(stderr, "sendova-share: %s\n", sendova::noGraphicalSessionText);
        return 2;
    }

    QApplication app(argc, argv);
    QGuiApplication::setDesktopFileName(QStringLiteral("sendova-share"));

    // What is left once Qt has taken its own options ("-platform", "-style").
    QStringList files = app.arguments().mid(1);
    files.removeOne(QStringLiteral("--"));
    sendova::ShareViewController controller(files);
    // Ctrl-C in a terminal or the session ending: the request is cancelled like
    // any other, so the caller sees the same status and reason.
    sendova::TerminationSignals signals({SIGINT, SIGTERM, SIGHUP});
    QObject::connect(&signals, &sendova::TerminationSignals::received, &controller,
                     &sendova::ShareViewController::cancelRequest);
    return controller.exec();
}
