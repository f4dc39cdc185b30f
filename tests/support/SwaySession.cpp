#include "SwaySession.h"

#include <QDir>
#include <QFile>
#include <QStandardPaths>
#include <QTest>

#include <csignal>

#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

namespace sendova::test {

namespace {

QString program(const char *name)
{
    return QStandardPaths::findExecutable(QString::fromLatin1(name));
}

} // namespace

bool SwaySession::available()
{
    return !program("sway").isEmpty() && !program("wl-paste").isEmpty();
}

SwaySession::~SwaySession()
{
    // Sway starts XWayland through a forked copy of itself that blocks
    // SIGTERM and outlives it; the process group takes both along.
    const qint64 group = m_sway.processId();
    m_sway.terminate();
    m_sway.waitForFinished(5000);
    if (group > 0)
        ::kill(pid_t(-group), SIGKILL);
    m_sway.waitForFinished();
    if (!m_folder.isEmpty())
        QDir(QFile::decodeName(m_folder)).removeRecursively();
}

bool SwaySession::start()
{
    // Under /tmp, not the test session's private folder: the user sway runs
    // as must be able to reach it.
    QByteArray folder = "/tmp/sendova-sway.XXXXXX";
    if (!::mkdtemp(folder.data())) {
        m_error = "cannot create a runtime folder";
        return false;
    }
    m_folder = folder;
    QStringList command{program("sway")};
    if (::geteuid() == 0) {
        const passwd *nobody = ::getpwnam("nobody");
        if (!nobody || ::chown(folder.constData(), nobody->pw_uid, nobody->pw_gid) != 0) {
            m_error = "cannot hand the runtime folder to the user nobody";
            return false;
        }
        command.prepend(QStringLiteral("--clear-groups"));
        command.prepend(QStringLiteral("--regid=%1").arg(nobody->pw_gid));
        command.prepend(QStringLiteral("--reuid=%1").arg(nobody->pw_uid));
        command.prepend(program("setpriv"));
    }

    // Sway runs its exec lines once its sockets (and XWayland's) are up; the
    // first reports their names.
    const QString config = QFile::decodeName(folder) + QStringLiteral("/config");
    QFile file(config);
    if (!file.open(QIODevice::WriteOnly)) {
        m_error = "cannot write the compositor's configuration";
        return false;
    }
    file.write(m_xwayland == XWayland::on ? "xwayland force\n" : "xwayland disable\n");
    file.write(
        "exec printf '%s\\n%s\\n%s\\n' \"$WAYLAND_DISPLAY\" \"$DISPLAY\" \"$SWAYSOCK\" "
        ">\"$XDG_RUNTIME_DIR/names.new\" && mv \"$XDG_RUNTIME_DIR/names.new\" \"$XDG_RUNTIME_DIR/names\"\n");
    file.close();
    ::chmod(config.toLocal8Bit().constData(), 0644);

    QProcessEnvironment environment;
    environment.insert(QStringLiteral("PATH"), qEnvironmentVariable("PATH"));
    environment.insert(QStringLiteral("HOME"), QFile::decodeName(folder));
    environment.insert(QStringLiteral("XDG_RUNTIME_DIR"), QFile::decodeName(folder));
    environment.insert(QStringLiteral("WLR_BACKENDS"), QStringLiteral("headless"));
    environment.insert(QStringLiteral("WLR_RENDERER"), QStringLiteral("pixman"));
    environment.insert(QStringLiteral("WLR_LIBINPUT_NO_DEVICES"), QStringLiteral("1"));
    m_sway.setProcessEnvironment(environment);
    m_sway.setChildProcessModifier([] { ::setsid(); });
    m_sway.setStandardOutputFile(QFile::decodeName(folder) + QStringLiteral("/log"));
    m_sway.setStandardErrorFile(QFile::decodeName(folder) + QStringLiteral("/log"), QIODevice::Append);
    m_sway.start(command.takeFirst(), command + QStringList{QStringLiteral("-c"), config});

    QFile names(QFile::decodeName(folder) + QStringLiteral("/names"));
    if (!QTest::qWaitFor([&] { return names.exists() || m_sway.state() == QProcess::NotRunning; }, 30000) ||
        !names.open(QIODevice::ReadOnly)) {
        m_error = "sway did not start; its log is in " + folder + "/log";
        return false;
    }
    const QList<QByteArray> lines = names.readAll().split('\n');
    m_waylandDisplay = folder + '/' + lines.value(0);
    m_x11Display = lines.value(1);
    m_ipcSocket = lines.value(2);
    if (lines.value(0).isEmpty() || (m_xwayland == XWayland::on && m_x11Display.isEmpty())) {
        m_error = "sway started without its Wayland or XWayland display";
        return false;
    }
    return true;
}

QProcessEnvironment SwaySession::environment(QProcessEnvironment base) const
{
    base.insert(QStringLiteral("WAYLAND_DISPLAY"), QFile::decodeName(m_waylandDisplay));
    if (m_x11Display.isEmpty())
        base.remove(QStringLiteral("DISPLAY"));
    else
        base.insert(QStringLiteral("DISPLAY"), QFile::decodeName(m_x11Display));
    base.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("wayland"));
    return base;
}

bool SwaySession::command(const QString &command) const
{
    QProcess swaymsg;
    swaymsg.start(program("swaymsg"), {QStringLiteral("-s"), QFile::decodeName(m_ipcSocket), command});
    return swaymsg.waitForFinished(10000) && swaymsg.exitStatus() == QProcess::NormalExit &&
           swaymsg.exitCode() == 0;
}

std::optional<QByteArray> readWaylandClipboard(const QProcessEnvironment &environment)
{
    QProcess paste;
    paste.setProcessEnvironment(environment);
    paste.start(QStringLiteral("wl-paste"), {QStringLiteral("--no-newline")});
    if (!paste.waitForFinished(10000) || paste.exitStatus() != QProcess::NormalExit || paste.exitCode() != 0)
        return std::nullopt;
    return paste.readAllStandardOutput();
}

} // namespace sendova::test
