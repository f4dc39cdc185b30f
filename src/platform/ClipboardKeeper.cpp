// sendova-clipboard-keeper: serves one text on the clipboard after the
// program that copied it has exited, and leaves as soon as another program
// takes the clipboard.
//
// Protocol with Clipboard::copyPersistently: the text arrives as UTF-8 on
// standard input up to end-of-file; once this process owns the clipboard it
// answers "ready <pid>" on standard output. Any other ending means failure.

#include <QClipboard>
#include <QGuiApplication>

#include <cstdio>

#include <fcntl.h>
#include <unistd.h>

namespace {

bool readAll(int fd, QByteArray &into)
{
    char buffer[65536];
    for (;;) {
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n == 0)
            return true;
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        into.append(buffer, n);
    }
}

void detachStandardStreams()
{
    const int devNull = ::open("/dev/null", O_RDWR);
    if (devNull < 0)
        return;
    ::dup2(devNull, STDIN_FILENO);
    ::dup2(devNull, STDOUT_FILENO);
    ::close(devNull);
}

} // namespace

int main(int argc, char **argv)
{
    // Anything the copying program left open is not ours to keep alive.
    ::close_range(3, ~0U, 0);

    // The copier may run on the offscreen platform (a command-line client), so
    // the display is chosen from the session. Under Wayland, XWayland is
    // preferred when present: compositors let an X11 client without a window
    // set the selection and bridge it to Wayland clients, while the Wayland
    // protocol ignores a selection offered without keyboard focus.
    if (!qEnvironmentVariableIsEmpty("DISPLAY"))
        qputenv("QT_QPA_PLATFORM", "xcb");
    else if (!qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY"))
        qputenv("QT_QPA_PLATFORM", "wayland");
    else
        return 2;
    // The keeper is no part of the desktop session: nothing to save or restore.
    qunsetenv("SESSION_MANAGER");

    QByteArray text;
    if (!readAll(STDIN_FILENO, text))
        return 1;

    QGuiApplication app(argc, argv);
    QClipboard *clipboard = QGuiApplication::clipboard();
    clipboard->setText(QString::fromUtf8(text), QClipboard::Clipboard);
    if (!clipboard->ownsClipboard())
        return 1;

    QObject::connect(clipboard, &QClipboard::changed, &app, [clipboard](QClipboard::Mode mode) {
        if (mode == QClipboard::Clipboard && !clipboard->ownsClipboard())
            QCoreApplication::quit();
    });

    const QByteArray answer = "ready " + QByteArray::number(qint64(::getpid())) + '\n';
    if (::write(STDOUT_FILENO, answer.constData(), size_t(answer.size())) != answer.size())
        return 1;
    detachStandardStreams();
    return app.exec();
}
