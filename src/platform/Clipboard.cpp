#include "platform/Clipboard.h"

#include "platform/ClipboardDisplay.h"

#include <QCoreApplication>
#include <QCoroProcess>
#include <QFile>
#include <QDir>
#include <QFileInfo>
#include <QMimeData>
#include <QPointer>
#include <QProcess>

#include <cerrno>
#include <csignal>
#include <utility>

#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

namespace sendova {

namespace {

constexpr const char *keeperName = "sendova-clipboard-keeper";
// Generous: the keeper must start Qt and reach the display server first.
constexpr int keeperHandshakeMs = 10000;

bool hasDisplay()
{
    return !qEnvironmentVariableIsEmpty("DISPLAY") || !qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY");
}

// The session's kind, not Qt's platform: the command-line client runs without
// one, and the tray program may run on XWayland.
bool waylandSession()
{
    return !qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY");
}

// The text this process serves itself, while the clipboard still holds it.
QPointer<QMimeData> served;
QString servedText;

struct KeeperReply
{
    qint64 pid = 0;
    // The keeper reached the clipboard through an X server.
    bool x11 = false;
};

class FileDescriptor
{
public:
    explicit FileDescriptor(int fd = -1) : m_fd(fd) {}
    FileDescriptor(const FileDescriptor &) = delete;
    FileDescriptor &operator=(const FileDescriptor &) = delete;
    ~FileDescriptor() { reset(); }

    int get() const { return m_fd; }
    void reset()
    {
        if (m_fd >= 0)
            ::close(m_fd);
        m_fd = -1;
    }

private:
    int m_fd;
};

bool sendAll(int fd, const QByteArray &data)
{
    qsizetype sent = 0;
    while (sent < data.size()) {
        // MSG_NOSIGNAL: a keeper that died early must not take us down with SIGPIPE.
        const ssize_t n = ::send(fd, data.constData() + sent, size_t(data.size() - sent), MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        sent += n;
    }
    return true;
}

// Reads the keeper's one-line answer, "ready <pid> <way>".
KeeperReply readHandshake(int fd)
{
    QByteArray line;
    while (!line.contains('\n')) {
        pollfd waitFor{fd, POLLIN, 0};
        const int ready = ::poll(&waitFor, 1, keeperHandshakeMs);
        if (ready < 0 && errno == EINTR)
            continue;
        if (ready <= 0)
            return {};
        char buffer[64];
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return {};
        line.append(buffer, n);
        if (line.size() > 256)
            return {};
    }
    line.truncate(line.indexOf('\n'));
    const QList<QByteArray> words = line.split(' ');
    if (words.size() != 3 || words[0] != "ready")
        return {};
    bool ok = false;
    const qint64 pid = words[1].toLongLong(&ok);
    if (!ok || pid <= 0)
        return {};
    return {pid, words[2] == "x11"};
}

// Starts the keeper detached from us: in a session of its own (a Ctrl-C in the
// terminal that ran us does not reach it) and as a grandchild (it is never our
// zombie). Its standard input and output are a socket to us and its standard
// error is /dev/null, so it holds none of our descriptors: a shell reading our
// output through a pipe sees the end of it when we exit.
KeeperReply startKeeper(const QString &program, const QByteArray &text)
{
    int sockets[2];
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, sockets) != 0)
        return {};
    FileDescriptor ours(sockets[0]);
    FileDescriptor theirs(sockets[1]);
    FileDescriptor devNull(::open("/dev/null", O_RDWR | O_CLOEXEC));
    if (devNull.get() < 0)
        return {};

    // Everything the child needs is prepared before fork: after it, only
    // async-signal-safe calls are allowed, since other threads of ours may
    // hold locks.
    const QByteArray path = QFile::encodeName(program);
    char *const argv[] = {const_cast<char *>(path.constData()), nullptr};
    sigset_t noSignals;
    sigemptyset(&noSignals);

    const pid_t child = ::fork();
    if (child < 0)
        return {};
    if (child == 0) {
        ::setsid();
        const pid_t keeper = ::fork();
        if (keeper != 0)
            ::_exit(keeper < 0 ? 1 : 0);
        ::sigprocmask(SIG_SETMASK, &noSignals, nullptr);
        if (::dup2(theirs.get(), STDIN_FILENO) < 0 || ::dup2(theirs.get(), STDOUT_FILENO) < 0 ||
            ::dup2(devNull.get(), STDERR_FILENO) < 0 || ::chdir("/") != 0)
            ::_exit(127);
        ::execv(path.constData(), argv);
        ::_exit(127);
    }

    theirs.reset();
    devNull.reset();
    int status = 0;
    while (::waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0)
        return {};

    // A keeper that stops reading must not block us for ever.
    timeval sendTimeout{keeperHandshakeMs / 1000, 0};
    ::setsockopt(ours.get(), SOL_SOCKET, SO_SNDTIMEO, &sendTimeout, sizeof sendTimeout);
    if (!sendAll(ours.get(), text) || ::shutdown(ours.get(), SHUT_WR) != 0)
        return {};
    return readHandshake(ours.get());
}

bool hasGuiApplication()
{
    return clipboardDisplay() != nullptr;
}

// Whether a copy made in-process reaches the clipboard: always on X11 (the
// display says whether it took it), on Wayland only from the focused client.
bool mayServeInProcess()
{
    return hasGuiApplication() && (!waylandSession() || clipboardDisplay()->hasFocusWindow());
}

} // namespace

bool Clipboard::serveInProcess(const QString &text)
{
    const ClipboardDisplay *display = clipboardDisplay();
    auto *data = new QMimeData;
    data->setText(text);
    display->offer(data);
    // ownsClipboard() reports what Qt asked for, not what the display
    // granted; mimeData() asks the display who owns the clipboard and hands
    // back our own object only when it is us.
    if (display->current() != data)
        return false;
    static bool handsOverAtExit = false;
    if (!std::exchange(handsOverAtExit, true))
        QObject::connect(qApp, &QCoreApplication::aboutToQuit, qApp, [] { handOver(); });
    served = data;
    servedText = text;
    return true;
}

Clipboard::CopyResult Clipboard::handOver()
{
    if (!served || !hasGuiApplication() || clipboardDisplay()->current() != served)
        return {Outcome::failed, 0};
    served = nullptr;
    return copyThroughKeeper(servedText);
}

void Clipboard::clear()
{
    if (hasGuiApplication())
        clipboardDisplay()->clear();
}

Clipboard::CopyResult Clipboard::writeText(const QString &text)
{
    // A Wayland compositor ignores a selection from a client without
    // keyboard focus, and Qt cannot tell when it did (an active window is not
    // proof: a seat without a keyboard gives none). Data-control is the one
    // copy there that the compositor confirms, so it goes first.
    if (waylandSession())
        return copyPersistently(text);
    if (hasGuiApplication() && serveInProcess(text))
        return {Outcome::keptWhileRunning, 0};
    return copyThroughKeeper(text);
}

QString Clipboard::keeperProgram()
{
    // Beside the program in a build tree; under the program's own prefix
    // once installed; the build's own as the last resort (tests).
    const QString programFolder = QCoreApplication::instance()
                                      ? QCoreApplication::applicationDirPath()
                                      : QFileInfo(QStringLiteral("/proc/self/exe")).canonicalPath();
    const QStringList candidates = {
        programFolder + QLatin1Char('/') + QLatin1String(keeperName),
        programFolder + QLatin1Char('/') + QStringLiteral(SENDOVA_CLIPBOARD_KEEPER_INSTALLED),
        QStringLiteral(SENDOVA_CLIPBOARD_KEEPER_BUILT)};
    for (const QString &candidate : std::as_const(candidates)) {
        const QFileInfo info(candidate);
        if (info.isFile() && info.isExecutable())
            return QDir::cleanPath(info.absoluteFilePath());
    }
    return {};
}

QCoro::Task<std::optional<ClipboardContent>> KeeperPaste::read()
{
    const QString program = Clipboard::keeperProgram();
    if (program.isEmpty() || m_stopped)
        co_return std::nullopt;
    m_keeper.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    m_keeper.start(program, {QStringLiteral("--paste")}, QIODevice::ReadOnly);
    // Twice the owner's allowance: it gets five seconds per answer.
    auto waiting = qCoro(m_keeper).waitForFinished(std::chrono::milliseconds(keeperHandshakeMs));
    co_await std::move(waiting);
    if (m_keeper.state() != QProcess::NotRunning) {
        m_keeper.kill();
        m_keeper.waitForFinished();
        co_return std::nullopt;
    }
    if (m_stopped || m_keeper.exitStatus() != QProcess::NormalExit || m_keeper.exitCode() != 0)
        co_return std::nullopt;
    const QByteArray answer = m_keeper.readAllStandardOutput();
    const qsizetype lineEnd = answer.indexOf('\n');
    const QByteArray kind = answer.left(lineEnd);
    ClipboardContent content;
    if (kind.startsWith("file ")) {
        content.kind = ClipboardContent::Kind::file;
        content.file = QUrl::fromEncoded(kind.mid(5), QUrl::StrictMode);
    } else if (kind == "image" || kind == "text") {
        content.kind = kind == "image" ? ClipboardContent::Kind::image : ClipboardContent::Kind::text;
        content.bytes = answer.mid(lineEnd + 1);
    } else if (kind == "unreadable image") {
        content.kind = ClipboardContent::Kind::unreadableImage;
    } else if (kind != "nothing") {
        co_return std::nullopt;
    }
    co_return content;
}

void KeeperPaste::stop()
{
    m_stopped = true;
    // The read wakes as the event loop learns of the keeper's end.
    if (m_keeper.state() != QProcess::NotRunning)
        m_keeper.kill();
}

Clipboard::CopyResult Clipboard::copyPersistently(const QString &text)
{
    const CopyResult copy = copyThroughKeeper(text);
    // Without data-control (GNOME) a window of ours that has focus is the
    // surer way; the XWayland keeper gives way as the compositor passes our
    // selection on to X11.
    if (copy.outcome != Outcome::keptAfterExit && copy.outcome != Outcome::noDisplay && mayServeInProcess() &&
        serveInProcess(text))
        return {Outcome::keptWhileRunning, 0};
    return copy;
}

Clipboard::CopyResult Clipboard::copyThroughKeeper(const QString &text)
{
    if (!hasDisplay())
        return {Outcome::noDisplay, 0};
    const QString program = keeperProgram();
    if (program.isEmpty())
        return {Outcome::failed, 0};
    const KeeperReply keeper = startKeeper(program, text.toUtf8());
    if (!keeper.pid)
        return {Outcome::failed, 0};
    return {keeper.x11 && waylandSession() ? Outcome::unconfirmed : Outcome::keptAfterExit, keeper.pid};
}

} // namespace sendova
