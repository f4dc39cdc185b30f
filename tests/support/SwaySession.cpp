#include "SwaySession.h"

#include "ChildSignal.h"

#include <QDir>
#include <QFile>
#include <QStandardPaths>
#include <QTest>

#include <csignal>

#include <pwd.h>
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
    return !program("sway").isEmpty() && !program("wl-paste").isEmpty() && !program("wtype").isEmpty();
}

SwaySession::~SwaySession()
{
    // The keyboard sleeps unaware of the display: it does not notice sway's end.
    QFile keyboard(QFile::decodeName(m_folder) + u"/keyboard"_qs);
    if (!m_folder.isEmpty() && keyboard.open(QIODevice::ReadOnly))
        signalChild(keyboard.readAll().trimmed().toLongLong(), SIGTERM);
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
    if (::mkdtemp(folder.data()))
        m_folder = folder;
    const QString path = QFile::decodeName(folder);
    // Sway runs its exec lines once its sockets (and XWayland's) are up. It
    // has no input devices: this gives it a virtual keyboard for the whole
    // session, as a real one would be, so that keys reach the focused window
    // from the first press, and once sway has taken it reports the names of
    // its sockets. Quoted, or sway would take each ; for the end of a command.
    QFile config(path + QStringLiteral("/config"));
    if (!config.open(QIODevice::WriteOnly) ||
        !config.write(QByteArray(m_xwayland == XWayland::on ? "xwayland force\n" : "xwayland disable\n") +
                      "exec 'wtype -s 3600000 & echo $! >\"$XDG_RUNTIME_DIR/keyboard\"; "
                      "until swaymsg -t get_inputs | grep -q keyboard; do sleep 0.1; done; "
                      "printf \"%s\\n%s\\n%s\\n\" \"$WAYLAND_DISPLAY\" \"$DISPLAY\" \"$SWAYSOCK\" "
                      ">\"$XDG_RUNTIME_DIR/names.new\" && "
                      "mv \"$XDG_RUNTIME_DIR/names.new\" \"$XDG_RUNTIME_DIR/names\"'\n") ||
        !config.setPermissions(config.permissions() | QFile::ReadOther)) {
        m_error = "cannot write the compositor's configuration in " + folder;
        return false;
    }
    config.close();

    QStringList command{QStringLiteral("-i"),
                        u"PATH="_qs + qEnvironmentVariable("PATH"),
                        u"HOME="_qs + path,
                        u"XDG_RUNTIME_DIR="_qs + path,
                        u"WLR_BACKENDS=headless"_qs,
                        u"WLR_RENDERER=pixman"_qs,
                        u"WLR_LIBINPUT_NO_DEVICES=1"_qs,
                        program("sway"),
                        u"-c"_qs,
                        config.fileName()};
    if (::geteuid() == 0) {
        const passwd *nobody = ::getpwnam("nobody");
        if (!nobody || ::chown(folder.constData(), nobody->pw_uid, nobody->pw_gid) != 0) {
            m_error = "cannot hand the runtime folder to the user nobody";
            return false;
        }
        command = QStringList{QStringLiteral("--reuid=%1").arg(nobody->pw_uid),
                              QStringLiteral("--regid=%1").arg(nobody->pw_gid), u"--clear-groups"_qs,
                              program("env")} +
                  command;
    }
    m_sway.setChildProcessModifier([] { ::setsid(); });
    m_sway.setProcessChannelMode(QProcess::MergedChannels);
    m_sway.setStandardOutputFile(path + QStringLiteral("/log"));
    m_sway.start(::geteuid() == 0 ? program("setpriv") : program("env"), command);

    QFile names(path + QStringLiteral("/names"));
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
    base.insert(QStringLiteral("DISPLAY"), QFile::decodeName(m_x11Display));
    base.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("wayland"));
    return base;
}

int SwaySession::run(const QString &program, const QStringList &args, QByteArray *output) const
{
    QProcess client;
    QProcessEnvironment environment = this->environment();
    environment.insert(QStringLiteral("SWAYSOCK"), QFile::decodeName(m_ipcSocket));
    client.setProcessEnvironment(environment);
    client.start(program, args);
    if (!client.waitForFinished(10000) || client.exitStatus() != QProcess::NormalExit)
        return -1;
    if (output)
        *output = client.readAllStandardOutput();
    return client.exitCode();
}

std::optional<QByteArray> SwaySession::clipboard() const
{
    QByteArray text;
    if (run(u"wl-paste"_qs, {u"--no-newline"_qs}, &text) != 0)
        return std::nullopt;
    return text;
}

} // namespace sendova::test
