// sendova-share FILE…: uploads the first file it is given and shows the link.
// Exit status 0 when the user closes it after a success, 1 when the request
// is cancelled (Cancel, Close after a failure, closing the window, or a
// terminating signal), with the reason on standard error.

#include "share/ShareViewController.h"

#include <QApplication>
#include <QSocketNotifier>

#include <csignal>
#include <cstdio>

#include <fcntl.h>
#include <unistd.h>

namespace {

int signalPipe[2] = {-1, -1};

void onTerminatingSignal(int)
{
    const char byte = 1;
    [[maybe_unused]] const ssize_t written = ::write(signalPipe[1], &byte, 1);
}

// Ctrl-C in a terminal or the session ending: the request is cancelled like
// any other, so the caller sees the same status and reason.
void cancelOnTerminatingSignals(sendova::ShareViewController &controller)
{
    if (::pipe2(signalPipe, O_CLOEXEC | O_NONBLOCK) != 0)
        return;
    auto *notifier = new QSocketNotifier(signalPipe[0], QSocketNotifier::Read, &controller);
    QObject::connect(notifier, &QSocketNotifier::activated, &controller, [&controller] {
        char byte;
        while (::read(signalPipe[0], &byte, 1) > 0) {
        }
        controller.cancelRequest();
    });
    struct sigaction action = {};
    action.sa_handler = onTerminatingSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    sigset_t handled;
    sigemptyset(&handled);
    for (const int signal : {SIGINT, SIGTERM, SIGHUP}) {
        ::sigaction(signal, &action, nullptr);
        sigaddset(&handled, signal);
    }
    // A caller that blocked them (to deliver one only once we are ready)
    // passes that mask on to us.
    ::sigprocmask(SIG_UNBLOCK, &handled, nullptr);
}

} // namespace

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    QGuiApplication::setDesktopFileName(QStringLiteral("sendova-share"));

    sendova::ShareViewController controller(app.arguments().mid(1));
    cancelOnTerminatingSignals(controller);
    return controller.exec();
}
