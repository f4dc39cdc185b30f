// sendova-clipboard-keeper: serves one text on the clipboard after the
// program that copied it has exited, and leaves as soon as another program
// takes the clipboard.
//
// Protocol with Clipboard::copyPersistently: the text arrives as UTF-8 on
// standard input up to end-of-file; once this process owns the clipboard it
// answers "ready <pid>" on standard output. Any other ending means failure.

#include <QClipboard>
#include <QGuiApplication>
#include <QMimeData>

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
    // preferred when present: the Wayland protocol ignores a selection offered
    // without keyboard focus, while Mutter and current KWin pass an X11
    // client's selection on to Wayland clients.
    // An unreachable display must end in a plain failure, not in the abort
    // (and the crash report) of a platform plugin that cannot start: the
    // minimal platform catches that case and is refused below.
    QByteArray platform;
    if (!qEnvironmentVariableIsEmpty("DISPLAY"))
        platform = "xcb";
    else if (!qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY"))
        platform = "wayland";
    else
        return 2;
    qputenv("QT_QPA_PLATFORM", platform + ";minimal");
    // The keeper is no part of the desktop session: nothing to save or restore.
    qunsetenv("SESSION_MANAGER");

    QByteArray text;
    if (!readAll(STDIN_FILENO, text))
        return 1;

    QGuiApplication app(argc, argv);
    if (QGuiApplication::platformName() != QLatin1String(platform))
        return 1;
    QClipboard *clipboard = QGuiApplication::clipboard();
    auto *data = new QMimeData;
    data->setText(QString::fromUtf8(text));
    clipboard->setMimeData(data, QClipboard::Clipboard);
    // ownsClipboard() reports what Qt asked for, not what the display
    // granted; mimeData() asks the display who owns the clipboard and hands
    // back our own object only when it is us.
    if (clipboard->mimeData(QClipboard::Clipboard) != data)
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
