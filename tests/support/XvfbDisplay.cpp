#include "XvfbDisplay.h"

#include <QProcess>
#include <QTest>

#include <cerrno>
#include <csignal>

#include <fcntl.h>
#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>

namespace sendova::test {

XvfbDisplay::~XvfbDisplay()
{
    if (m_pid <= 0)
        return;
    ::kill(m_pid, SIGTERM);
    int status = 0;
    while (::waitpid(m_pid, &status, 0) < 0 && errno == EINTR) {
    }
}

bool XvfbDisplay::start()
{
    int ready[2];
    if (::pipe2(ready, O_CLOEXEC) != 0) {
        m_error = "pipe failed";
        return false;
    }
    const QByteArray fdText = QByteArray::number(ready[1]);
    const char *argv[] = {"Xvfb",    "-displayfd", fdText.constData(), "-nolisten", "tcp",
                          "-screen", "0",          "640x480x24",       nullptr};
    m_pid = ::fork();
    if (m_pid < 0) {
        m_error = "fork failed";
        return false;
    }
    if (m_pid == 0) {
        ::fcntl(ready[1], F_SETFD, 0);
        const int devNull = ::open("/dev/null", O_RDWR);
        ::dup2(devNull, STDOUT_FILENO);
        ::dup2(devNull, STDERR_FILENO);
        ::execvp("Xvfb", const_cast<char *const *>(argv));
        ::_exit(127);
    }
    ::close(ready[1]);

    // Xvfb writes the display number once it listens for clients.
    QByteArray number;
    while (!number.endsWith('\n')) {
        pollfd waitFor{ready[0], POLLIN, 0};
        if (::poll(&waitFor, 1, 30000) <= 0)
            break;
        char c;
        if (::read(ready[0], &c, 1) != 1)
            break;
        number.append(c);
    }
    ::close(ready[0]);
    if (!number.endsWith('\n')) {
        m_error = "Xvfb did not start (is the xvfb package installed?)";
        return false;
    }
    m_name = ':' + number.trimmed();
    return true;
}

std::optional<QByteArray> readClipboard()
{
    for (int attempt = 0; attempt < 5; ++attempt) {
        QProcess xclip;
        xclip.start(QStringLiteral("xclip"),
                    {QStringLiteral("-o"), QStringLiteral("-selection"), QStringLiteral("clipboard"),
                     QStringLiteral("-t"), QStringLiteral("UTF8_STRING")});
        if (!xclip.waitForStarted())
            return std::nullopt;
        if (!QTest::qWaitFor([&] { return xclip.state() == QProcess::NotRunning; }, 3000)) {
            xclip.kill();
            xclip.waitForFinished();
            continue;
        }
        if (xclip.exitStatus() != QProcess::NormalExit || xclip.exitCode() != 0)
            return std::nullopt;
        return xclip.readAllStandardOutput();
    }
    qWarning("xclip got no answer from the clipboard's owner in five tries");
    return std::nullopt;
}

bool XvfbDisplay::startForThisProcess()
{
    if (!start()) {
        std::fprintf(stderr, "%s\n", m_error.constData());
        return false;
    }
    qputenv("DISPLAY", m_name);
    qunsetenv("WAYLAND_DISPLAY");
    qputenv("QT_QPA_PLATFORM", "xcb");
    return true;
}

} // namespace sendova::test
