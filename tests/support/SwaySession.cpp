#include "SwaySession.h"

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
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
    // Sway runs its exec lines once its sockets (and XWayland's) are up; the
    // first reports their names, and that of its command socket.
    QFile config(path + QStringLiteral("/config"));
    if (!config.open(QIODevice::WriteOnly) ||
        !config.write(QByteArray(m_xwayland == XWayland::on ? "xwayland force\n" : "xwayland disable\n") +
                      "exec printf '%s\\n%s\\n%s\\n' \"$WAYLAND_DISPLAY\" \"$DISPLAY\" \"$SWAYSOCK\" "
                      ">\"$XDG_RUNTIME_DIR/names.new\" && "
                      "mv \"$XDG_RUNTIME_DIR/names.new\" \"$XDG_RUNTIME_DIR/names\"\n") ||
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
    client.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    client.start(program, args);
    if (!client.waitForFinished(10000) || client.exitStatus() != QProcess::NormalExit)
        return -1;
    if (output)
        *output = client.readAllStandardOutput();
    return client.exitCode();
}

namespace {

// Every window in sway's tree, tiled or floating, and whether it has the focus.
void collectWindows(const QJsonObject &node, QList<QPair<QString, bool>> &into)
{
    if (node.contains(u"app_id"_qs))
        into.append({node[u"name"_qs].toString(), node[u"focused"_qs].toBool()});
    for (const char *children : {"nodes", "floating_nodes"}) {
        const QJsonArray list = node[QLatin1String(children)].toArray();
        for (const QJsonValue &child : list)
            collectWindows(child.toObject(), into);
    }
}

} // namespace

std::optional<QList<QPair<QString, bool>>> SwaySession::windowTree() const
{
    QByteArray tree;
    if (run(u"swaymsg"_qs, {u"-t"_qs, u"get_tree"_qs}, &tree) != 0)
        return std::nullopt;
    QList<QPair<QString, bool>> found;
    collectWindows(QJsonDocument::fromJson(tree).object(), found);
    return found;
}

std::optional<QStringList> SwaySession::windows() const
{
    const auto tree = windowTree();
    if (!tree)
        return std::nullopt;
    QStringList titles;
    for (const auto &window : *tree)
        titles << window.first;
    return titles;
}

QString SwaySession::focusedWindow() const
{
    for (const auto &window : windowTree().value_or(QList<QPair<QString, bool>>())) {
        if (window.second)
            return window.first;
    }
    return {};
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
