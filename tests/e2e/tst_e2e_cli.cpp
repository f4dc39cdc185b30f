// The command-line client driven end to end against a real sendova-server:
// exit codes, what lands on stdout and stderr, and links whose bytes come back
// exactly as they were uploaded.

#include "PrivateBus.h"
#include "TestNotificationServer.h"

#include <httplib.h>

#include <QElapsedTimer>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QUrl>
#include <QtTest>

#include <arpa/inet.h>
#include <csignal>
#include <fcntl.h>
#include <memory>
#include <netinet/in.h>
#include <poll.h>
#include <pty.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

namespace {

const QString ClientBinary = QStringLiteral(SENDOVA_BINARY);
const QString ServerBinary = QStringLiteral(SENDOVA_SERVER_BINARY);
const QString UserName = QStringLiteral("alice");
const QByteArray Password = "e2e password";
const QString Tenant = QStringLiteral("E2E Tenant");
constexpr int Timeout = 120000;

struct Outcome
{
    int exitCode = -1;
    QByteArray out;
    QByteArray err;
    QStringList lines() const { return QString::fromUtf8(out).split(u'\n', Qt::SkipEmptyParts); }
};

// In a session of its own: without a controlling terminal, a password prompt
// fails instead of waiting on whoever runs the tests. The event loop runs
// meanwhile, so a D-Bus service of the test can answer the program.
Outcome run(const QString &program, const QStringList &args, const QProcessEnvironment &env,
            const QByteArray &input = {}, const QString &workingDirectory = {})
{
    QProcess process;
    process.setChildProcessModifier([] { ::setsid(); });
    process.setProcessEnvironment(env);
    process.setWorkingDirectory(workingDirectory);
    process.start(program, args);
    if (!process.waitForStarted()) {
        return {};
    }
    process.write(input);
    process.closeWriteChannel();
    if (!QTest::qWaitFor([&] { return process.state() == QProcess::NotRunning; }, Timeout)) {
        process.kill();
        process.waitForFinished();
        return {};
    }
    return Outcome{process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1,
                   process.readAllStandardOutput(), process.readAllStandardError()};
}

// A loopback address where nothing listens.
QString closedPortUrl()
{
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    ::bind(fd, reinterpret_cast<sockaddr *>(&address), sizeof address);
    ::getsockname(fd, reinterpret_cast<sockaddr *>(&address), &length);
    ::close(fd);
    return QStringLiteral("http://127.0.0.1:%1").arg(ntohs(address.sin_port));
}

struct Download
{
    int status = 0;
    QByteArray body;
};

// Takes connections and reads requests but never answers: a server that hangs.
class SilentServer
{
public:
    SilentServer()
    {
        m_listener = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof address;
        ::bind(m_listener, reinterpret_cast<sockaddr *>(&address), sizeof address);
        ::listen(m_listener, 4);
        ::getsockname(m_listener, reinterpret_cast<sockaddr *>(&address), &length);
        m_url = QStringLiteral("http://127.0.0.1:%1").arg(ntohs(address.sin_port));
    }
    ~SilentServer()
    {
        for (const int fd : {m_listener, m_connection}) {
            if (fd >= 0) {
                ::close(fd);
            }
        }
    }
    SilentServer(const SilentServer &) = delete;
    SilentServer &operator=(const SilentServer &) = delete;

    QString url() const { return m_url; }

    // True once the head of a request has arrived.
    bool waitForRequest(int timeoutMs)
    {
        QDeadlineTimer deadline(timeoutMs);
        pollfd listener{m_listener, POLLIN, 0};
        if (::poll(&listener, 1, int(deadline.remainingTime())) != 1) {
            return false;
        }
        m_connection = ::accept4(m_listener, nullptr, nullptr, SOCK_CLOEXEC);
        QByteArray head;
        while (!head.contains("\r\n\r\n")) {
            pollfd connection{m_connection, POLLIN, 0};
            char buffer[4096];
            const ssize_t got = ::poll(&connection, 1, int(deadline.remainingTime())) == 1
                                    ? ::read(m_connection, buffer, sizeof buffer)
                                    : 0;
            if (got <= 0) {
                return false;
            }
            head.append(buffer, got);
        }
        return true;
    }

private:
    int m_listener = -1;
    int m_connection = -1;
    QString m_url;
};

// `sendova` as typed in an interactive shell: a pseudo-terminal is its
// controlling terminal, standard input and standard error; standard output
// goes to a pipe of its own.
class TerminalSession
{
public:
    ~TerminalSession()
    {
        if (m_pid > 0) {
            ::kill(m_pid, SIGKILL);
            ::waitpid(m_pid, nullptr, 0);
        }
        for (const int fd : {m_terminal, m_output}) {
            if (fd >= 0) {
                ::close(fd);
            }
        }
    }

    bool start(const QStringList &args, const QProcessEnvironment &env)
    {
        // Everything the child needs exists before fork: after it, only exec.
        QList<QByteArray> argStrings{ClientBinary.toLocal8Bit()};
        for (const QString &arg : args) {
            argStrings << arg.toLocal8Bit();
        }
        QList<QByteArray> envStrings;
        for (const QString &entry : env.toStringList()) {
            envStrings << entry.toLocal8Bit();
        }
        std::vector<char *> argv;
        std::vector<char *> envp;
        for (QByteArray &arg : argStrings) {
            argv.push_back(arg.data());
        }
        for (QByteArray &entry : envStrings) {
            envp.push_back(entry.data());
        }
        argv.push_back(nullptr);
        envp.push_back(nullptr);
        int output[2];
        if (::pipe2(output, O_CLOEXEC) != 0) {
            return false;
        }
        m_pid = ::forkpty(&m_terminal, nullptr, nullptr, nullptr);
        if (m_pid == 0) {
            ::dup2(output[1], STDOUT_FILENO);
            ::execve(argv[0], argv.data(), envp.data());
            ::_exit(127);
        }
        ::close(output[1]);
        m_output = output[0];
        m_clock.start();
        return m_pid > 0;
    }

    // Reads the terminal until it has shown text.
    bool waitForText(const QByteArray &text, int timeoutMs)
    {
        QDeadlineTimer deadline(timeoutMs);
        while (!terminal.contains(text) && !deadline.hasExpired()) {
            pump(100);
        }
        return terminal.contains(text);
    }
    void type(const QByteArray &keys)
    {
        [[maybe_unused]] const auto n = ::write(m_terminal, keys.data(), keys.size());
    }
    // The terminal's interrupt character: SIGINT for the foreground process group.
    void pressCtrlC() { type("\x03"); }
    void signal(int number) { ::kill(m_pid, number); }
    bool echoing() const
    {
        termios state{};
        return ::tcgetattr(m_terminal, &state) == 0 && (state.c_lflag & ECHO);
    }

    // The exit code, or -1 when the program has not ended normally in time.
    int waitForExit(int timeoutMs)
    {
        QDeadlineTimer deadline(timeoutMs);
        while (!deadline.hasExpired()) {
            int status = 0;
            if (::waitpid(m_pid, &status, WNOHANG) == m_pid) {
                m_pid = -1;
                elapsedMs = m_clock.elapsed();
                while (pump(0)) {
                }
                return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
            }
            pump(50);
        }
        return -1;
    }

    QByteArray terminal;
    QByteArray output;
    qint64 elapsedMs = 0;

private:
    // True when anything was read.
    bool pump(int timeoutMs)
    {
        pollfd fds[2] = {{m_terminal, POLLIN, 0}, {m_output, POLLIN, 0}};
        if (::poll(fds, 2, timeoutMs) <= 0) {
            return false;
        }
        bool read = false;
        char buffer[4096];
        for (int i = 0; i < 2; ++i) {
            if (fds[i].revents & POLLIN) {
                const ssize_t got = ::read(fds[i].fd, buffer, sizeof buffer);
                if (got > 0) {
                    (i == 0 ? terminal : output).append(buffer, got);
                    read = true;
                }
            }
        }
        return read;
    }

    pid_t m_pid = -1;
    int m_terminal = -1;
    int m_output = -1;
    QElapsedTimer m_clock;
};

Download fetch(const QString &link)
{
    const QUrl url(link);
    httplib::Client client(url.host().toStdString(), url.port(80));
    client.set_read_timeout(30);
    const auto result = client.Get(url.path(QUrl::FullyEncoded).toStdString());
    if (!result) {
        return {};
    }
    return Download{result->status, QByteArray::fromStdString(result->body)};
}

// sendova-server on a free loopback port with its own data folder and one user.
class Server
{
public:
    Server() { m_env.insert(QStringLiteral("XDG_DATA_HOME"), m_dir.path()); }
    ~Server()
    {
        m_process.terminate();
        m_process.waitForFinished(Timeout);
    }

    // Empty when the server answers, otherwise what went wrong.
    QByteArray start()
    {
        const auto add = admin(
            {QStringLiteral("user"), QStringLiteral("add"), UserName, QStringLiteral("--password-stdin")},
            Password + '\n');
        if (add.exitCode != 0) {
            return "user add failed: " + add.err;
        }
        m_process.setChildProcessModifier([] { ::setsid(); });
        m_process.setProcessEnvironment(m_env);
        m_process.start(ServerBinary, {QStringLiteral("serve"), QStringLiteral("--listen"),
                                       QStringLiteral("127.0.0.1:0"), QStringLiteral("--tenant"), Tenant,
                                       QStringLiteral("--quiet"), QStringLiteral("--data"), data()});
        QByteArray line;
        while (!line.contains('\n') && m_process.waitForReadyRead(Timeout)) {
            line += m_process.readAllStandardOutput();
        }
        const auto match =
            QRegularExpression(QStringLiteral("^sendova-server listening on (http://127\\.0\\.0\\.1:\\d+) "))
                .match(QString::fromUtf8(line));
        if (!match.hasMatch()) {
            return "serve did not start: " + line + m_process.readAllStandardError();
        }
        m_url = match.captured(1);
        return {};
    }

    Outcome admin(const QStringList &args, const QByteArray &input = {}) const
    {
        return run(ServerBinary, args + QStringList{QStringLiteral("--data"), data()}, m_env, input);
    }
    QString setupLink() const
    {
        return QString::fromUtf8(admin({QStringLiteral("setup-link"), UserName}).out).trimmed();
    }
    QString url() const { return m_url; }

private:
    QString data() const { return m_dir.path() + QStringLiteral("/data"); }

    QTemporaryDir m_dir;
    QProcessEnvironment m_env = QProcessEnvironment::systemEnvironment();
    QProcess m_process;
    QString m_url;
};

// One user of `sendova`: a home and data folder of its own, no display.
class Client
{
public:
    Client()
    {
        for (const char *name : {"SENDOVA_SERVER", "DISPLAY", "WAYLAND_DISPLAY"}) {
            m_env.remove(QString::fromLatin1(name));
        }
        m_env.insert(QStringLiteral("HOME"), m_dir.path());
        m_env.insert(QStringLiteral("XDG_DATA_HOME"), m_dir.path() + QStringLiteral("/data"));
        m_env.insert(QStringLiteral("XDG_CONFIG_HOME"), m_dir.path() + QStringLiteral("/config"));
        QDir(m_dir.path()).mkpath(QStringLiteral("files"));
    }

    Outcome sendova(const QStringList &args, const QByteArray &input = {},
                    const QString &serverOverride = {}) const
    {
        return run(ClientBinary, args, environment(serverOverride), input,
                   m_dir.path() + QStringLiteral("/files"));
    }
    QProcessEnvironment environment(const QString &serverOverride = {}) const
    {
        auto env = m_env;
        if (!serverOverride.isEmpty()) {
            env.insert(QStringLiteral("SENDOVA_SERVER"), serverOverride);
        }
        return env;
    }
    // As the tray program's settings would have them.
    void setSetting(const QString &name, const QJsonValue &value) const
    {
        QFile config(dataFile(QStringLiteral("config.json")));
        if (!config.open(QIODevice::ReadWrite)) {
            return;
        }
        auto settings = QJsonDocument::fromJson(config.readAll()).object();
        settings[name] = value;
        config.resize(0);
        config.write(QJsonDocument(settings).toJson());
    }
    Outcome setup(const Server &server) const
    {
        return sendova({QStringLiteral("setup"), server.setupLink()});
    }
    int status(const QString &serverOverride = {}) const
    {
        return sendova({QStringLiteral("status")}, {}, serverOverride).exitCode;
    }

    QString path(const QString &name) const { return m_dir.path() + QStringLiteral("/files/") + name; }
    QString file(const QString &name, const QByteArray &content) const
    {
        QFile out(path(name));
        if (out.open(QIODevice::WriteOnly)) {
            out.write(content);
        }
        return out.fileName();
    }
    QString dataFile(const QString &name) const
    {
        return m_dir.path() + QStringLiteral("/data/Sendova/") + name;
    }

private:
    QTemporaryDir m_dir;
    QProcessEnvironment m_env = QProcessEnvironment::systemEnvironment();
};

#define START(server)                                                                                        \
    do {                                                                                                     \
        const QByteArray problem = (server).start();                                                         \
        QVERIFY2(problem.isEmpty(), problem.constData());                                                    \
    } while (false)

QByteArray allByteValues(int repeat)
{
    QByteArray bytes;
    for (int i = 0; i < 256 * repeat; ++i) {
        bytes.append(char(i % 251));
    }
    return bytes;
}

} // namespace

class EndToEndTest : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void withoutServer_data();
    void withoutServer();
    void login_data();
    void login();
    void setup_data();
    void setup();
    void status_data();
    void status();
    void upload_data();
    void upload();
    void duplicate_data();
    void duplicate();
    void logout();
    void interrupt_data();
    void interrupt();
    void notifications_data();
    void notifications();
    void progressLine();
};

void EndToEndTest::withoutServer_data()
{
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QByteArray>("out");
    QTest::addColumn<QByteArray>("err");
    // Whether the data folder may exist afterwards (the keychain is read only
    // together with it).
    QTest::addColumn<bool>("readsData");
    const QString anyFile = QCoreApplication::applicationFilePath();
    const auto args = [](const char *line) { return QString::fromLatin1(line).split(u' '); };
    QTest::newRow("--version") << args("--version") << 0 << QByteArray("sendova " SENDOVA_VERSION "\n")
                               << QByteArray() << false;
    // Where the settings and the key live.
    QTest::newRow("--help") << args("--help") << 0 << QByteArray("keyring") << QByteArray() << false;
    QTest::newRow("help") << args("help") << 0 << QByteArray("config.json") << QByteArray() << false;
    QTest::newRow("help of a command")
        << args("help login") << 0 << QByteArray("--password-stdin") << QByteArray() << false;
    QTest::newRow("command's --help")
        << args("upload --help") << 0 << QByteArray("--verbose") << QByteArray() << false;
    QTest::newRow("unknown command") << args("launch") << 2 << QByteArray() << QByteArray("sendova --help")
                                     << false;
    QTest::newRow("unknown option") << args("--launch") << 2 << QByteArray() << QByteArray("unknown option")
                                    << false;
    QTest::newRow("unknown option of a command")
        << args("upload --fast x") << 2 << QByteArray() << QByteArray("sendova help upload") << false;
    QTest::newRow("help of no command")
        << args("help launch") << 2 << QByteArray() << QByteArray("no command 'launch'") << false;
    QTest::newRow("missing value") << args("login --user") << 2 << QByteArray() << QByteArray("--user")
                                   << false;
    QTest::newRow("upload without files")
        << args("upload --verbose") << 2 << QByteArray() << QByteArray("no file") << false;
    QTest::newRow("status unconfigured")
        << args("status") << 2 << QByteArray() << QByteArray("sendova setup") << true;
    QTest::newRow("upload unconfigured") << QStringList{QStringLiteral("upload"), anyFile} << 2
                                         << QByteArray() << QByteArray("sendova setup") << true;
    QTest::newRow("recent, nothing yet") << args("recent") << 0 << QByteArray() << QByteArray() << true;
    QTest::newRow("logout, nothing stored")
        << args("logout") << 0 << QByteArray() << QByteArray("Nothing to sign out of") << true;
}

// An empty expectation for a stream requires that stream to be empty: a
// script reading stdout must get nothing but what it asked for.
void EndToEndTest::withoutServer()
{
    QFETCH(QStringList, args);
    QFETCH(int, exitCode);
    QFETCH(QByteArray, out);
    QFETCH(QByteArray, err);
    QFETCH(bool, readsData);
    const Client client;
    const auto outcome = client.sendova(args);
    QCOMPARE(outcome.exitCode, exitCode);
    if (!readsData) {
        QVERIFY(!QFileInfo::exists(client.dataFile(QString())));
    }
    if (args.first() == QStringLiteral("--version") || out.isEmpty()) {
        QCOMPARE(outcome.out, out);
    } else {
        QVERIFY2(outcome.out.contains(out), outcome.out.constData());
    }
    if (err.isEmpty()) {
        QCOMPARE(outcome.err, QByteArray());
    } else {
        QVERIFY2(outcome.err.contains(err), outcome.err.constData());
    }
}

void EndToEndTest::login_data()
{
    QTest::addColumn<QString>("user");
    QTest::addColumn<QByteArray>("password");
    QTest::addColumn<bool>("disabled");
    QTest::addColumn<bool>("reachable");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QByteArray>("err");
    QTest::newRow("good") << UserName << Password << false << true << 0 << QByteArray();
    QTest::newRow("wrong password") << UserName << QByteArray("not the password") << false << true << 1
                                    << QByteArray("Incorrect user name or password");
    QTest::newRow("unknown user") << QStringLiteral("mallory") << Password << false << true << 1
                                  << QByteArray("Incorrect user name or password");
    QTest::newRow("disabled account")
        << UserName << Password << true << true << 1 << QByteArray("This account is inactive");
    QTest::newRow("server unreachable") << UserName << Password << false << false << 1 << QByteArray();
    // Refused before anything is sent: a server would only say "wrong password".
    QTest::newRow("empty password") << UserName << QByteArray() << false << true << 2
                                    << QByteArray("no password given");
}

void EndToEndTest::login()
{
    QFETCH(QString, user);
    QFETCH(QByteArray, password);
    QFETCH(bool, disabled);
    QFETCH(bool, reachable);
    QFETCH(int, exitCode);
    QFETCH(QByteArray, err);
    Server server;
    START(server);
    if (disabled) {
        QCOMPARE(server.admin({QStringLiteral("user"), QStringLiteral("disable"), UserName}).exitCode, 0);
    }
    const Client client;
    const auto outcome = client.sendova({QStringLiteral("login"), QStringLiteral("--server"),
                                         reachable ? server.url() : closedPortUrl(), QStringLiteral("--user"),
                                         user, QStringLiteral("--password-stdin")},
                                        password + '\n');
    QCOMPARE(outcome.exitCode, exitCode);
    QCOMPARE(outcome.out, QByteArray());
    if (exitCode == 0) {
        QVERIFY2(outcome.err.startsWith("Signed in to " + Tenant.toUtf8()), outcome.err.constData());
        QCOMPARE(client.status(), 0);
    } else {
        QVERIFY2(outcome.err.contains(err) && !outcome.err.trimmed().isEmpty(), outcome.err.constData());
        QCOMPARE(client.status(), 2);
    }
}

void EndToEndTest::setup_data()
{
    // {token} and {server} are filled from a fresh link of the test's server.
    QTest::addColumn<QString>("link");
    QTest::addColumn<bool>("usedBefore");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QByteArray>("err");
    const QString standard = QStringLiteral("sendova://setup?token={token}&server={server}");
    QTest::newRow("fresh link") << standard << false << 0 << QByteArray();
    QTest::newRow("host-less form") << QStringLiteral("sendova:setup?token={token}&server={server}") << false
                                    << 0 << QByteArray();
    QTest::newRow("used twice") << standard << true << 1
                                << QByteArray("sendova: This setup link has already been used; ask "
                                              "for a new one\n");
    QTest::newRow("unknown token") << QStringLiteral(
                                          "sendova://setup?token=N0tAT0kenTheServerGave&server={server}")
                                   << false << 1 << QByteArray("sendova: This setup link is not valid\n");
    QTest::newRow("web link") << QStringLiteral("https://example.org/setup?token={token}&server={server}")
                              << false << 2 << QByteArray();
    QTest::newRow("scheme in capitals")
        << QStringLiteral("Sendova://setup?token={token}&server={server}") << false << 2 << QByteArray();
    QTest::newRow("other target") << QStringLiteral("sendova://settings?token={token}&server={server}")
                                  << false << 2 << QByteArray();
    QTest::newRow("token without value")
        << QStringLiteral("sendova://setup?token&server={server}") << false << 2 << QByteArray();
}

void EndToEndTest::setup()
{
    QFETCH(QString, link);
    QFETCH(bool, usedBefore);
    QFETCH(int, exitCode);
    QFETCH(QByteArray, err);
    Server server;
    START(server);
    const QString fresh = server.setupLink();
    const auto token = QRegularExpression(QStringLiteral("token=([^&]+)")).match(fresh);
    QVERIFY2(token.hasMatch(), qPrintable(fresh));
    link.replace(QStringLiteral("{token}"), token.captured(1))
        .replace(QStringLiteral("{server}"), QString::fromLatin1(QUrl::toPercentEncoding(server.url())));

    const Client client;
    if (usedBefore) {
        QCOMPARE(client.sendova({QStringLiteral("setup"), link}).exitCode, 0);
    }
    const auto outcome = client.sendova({QStringLiteral("setup"), link});
    QCOMPARE(outcome.exitCode, exitCode);
    QCOMPARE(outcome.out, QByteArray());
    if (exitCode == 0) {
        QVERIFY2(outcome.err.endsWith(QByteArray("Sendova Configured\nConnected to: ") + Tenant.toUtf8() +
                                      QByteArray("\nUser: ") + UserName.toUtf8() + '\n'),
                 outcome.err.constData());
    } else {
        QVERIFY2(err.isEmpty() ? !outcome.err.isEmpty() : outcome.err.endsWith(err), outcome.err.constData());
    }
    // A refused link leaves an earlier configuration as it was.
    QCOMPARE(client.status(), exitCode == 0 || usedBefore ? 0 : 2);
}

void EndToEndTest::status_data()
{
    QTest::addColumn<QString>("serverOverride");
    QTest::addColumn<int>("exitCode");
    QTest::newRow("configured server") << QString() << 0;
    QTest::newRow("nothing listening") << QStringLiteral("closed") << 1;
    QTest::newRow("key unknown to the server") << QStringLiteral("other") << 1;
}

void EndToEndTest::status()
{
    QFETCH(QString, serverOverride);
    QFETCH(int, exitCode);
    Server server;
    START(server);
    Server other;
    if (serverOverride == QStringLiteral("other")) {
        START(other);
        serverOverride = other.url();
    } else if (serverOverride == QStringLiteral("closed")) {
        serverOverride = closedPortUrl();
    }
    const Client client;
    QCOMPARE(client.setup(server).exitCode, 0);
    const auto outcome = client.sendova({QStringLiteral("status")}, {}, serverOverride);
    QCOMPARE(outcome.exitCode, exitCode);
    QVERIFY2(exitCode == 0 || !outcome.err.isEmpty(), outcome.err.constData());
}

void EndToEndTest::upload_data()
{
    // Files in order; a null content stands for a file that does not exist.
    QTest::addColumn<QStringList>("names");
    QTest::addColumn<QList<QByteArray>>("contents");
    QTest::addColumn<bool>("verbose");
    QTest::addColumn<int>("exitCode");
    QTest::newRow("several files") << QStringList{QStringLiteral("plain.txt"), QStringLiteral("empty.bin"),
                                                  QStringLiteral("naïve résumé \"draft\" 'v2' ñ.txt"),
                                                  QStringLiteral("100% done & #1?.dat"),
                                                  QStringLiteral("bytes.bin")}
                                   << QList<QByteArray>{"hello\n", QByteArray(""),
                                                        QByteArrayLiteral("ação\r\n\0tail"), "percent",
                                                        allByteValues(4096)}
                                   << false << 0;
    QTest::newRow("missing file among good ones")
        << QStringList{QStringLiteral("first.txt"), QStringLiteral("gone.txt"), QStringLiteral("last.txt")}
        << QList<QByteArray>{"first", QByteArray(), "last"} << false << 1;
    QTest::newRow("verbose") << QStringList{QStringLiteral("logged.txt")} << QList<QByteArray>{"logged"}
                             << true << 0;
    // Given relative to the working folder, after --.
    QTest::newRow("names that look like options")
        << QStringList{QStringLiteral("--verbose"), QStringLiteral("-h")} << QList<QByteArray>{"v", "h"}
        << false << 0;
}

void EndToEndTest::upload()
{
    QFETCH(QStringList, names);
    QFETCH(QList<QByteArray>, contents);
    QFETCH(bool, verbose);
    QFETCH(int, exitCode);
    Server server;
    START(server);
    const Client client;
    QCOMPARE(client.setup(server).exitCode, 0);

    QStringList args{QStringLiteral("upload")};
    if (verbose) {
        args << QStringLiteral("--verbose");
    }
    const bool dashed = names.first().startsWith(u'-');
    if (dashed) {
        args << QStringLiteral("--");
    }
    QStringList uploadedNames;
    QList<QByteArray> uploaded;
    for (qsizetype i = 0; i < names.size(); ++i) {
        if (contents[i].isNull()) {
            args << client.path(names[i]);
        } else {
            const QString path = client.file(names[i], contents[i]);
            args << (dashed ? names[i] : path);
            uploadedNames << names[i];
            uploaded << contents[i];
        }
    }
    const auto outcome = client.sendova(args);
    QCOMPARE(outcome.exitCode, exitCode);

    const QStringList links = outcome.lines();
    QCOMPARE(links.size(), uploaded.size());
    for (qsizetype i = 0; i < links.size(); ++i) {
        const auto download = fetch(links[i]);
        QCOMPARE(download.status, 200);
        QCOMPARE(download.body, uploaded[i]);
    }
    if (exitCode != 0) {
        QVERIFY2(outcome.err.contains("gone.txt"), outcome.err.constData());
    } else if (verbose) {
        // The workflow's own log, every line in its format.
        static const QRegularExpression logLine(
            QStringLiteral("^\\[\\d{4}-\\d\\d-\\d\\dT[^\\]]*Z\\] (INFO   |DEBUG  |ERROR  ) "
                           "\\[(HTTP|JSON|API|Upload|Hash)\\] "));
        const auto lines = QString::fromUtf8(outcome.err).split(u'\n', Qt::SkipEmptyParts);
        QVERIFY(!lines.isEmpty());
        for (const auto &line : lines) {
            QVERIFY2(logLine.match(line).hasMatch(), qPrintable(line));
        }
    } else {
        // Not a terminal: no progress line, nothing at all.
        QCOMPARE(outcome.err, QByteArray());
    }

    // Newest first, with the name the server stored.
    const auto recent = client.sendova({QStringLiteral("recent")});
    QCOMPARE(recent.exitCode, 0);
    const QStringList entries = recent.lines();
    QCOMPARE(entries.size(), links.size());
    static const QRegularExpression isoUtc(
        QStringLiteral("^\\d{4}-\\d\\d-\\d\\dT\\d\\d:\\d\\d:\\d\\d(\\.\\d+)?Z$"));
    for (qsizetype i = 0; i < entries.size(); ++i) {
        const QStringList fields = entries[i].split(u'\t');
        QCOMPARE(fields.size(), 3);
        const qsizetype file = links.size() - 1 - i;
        QCOMPARE(fields[0], links[file]);
        QCOMPARE(fields[1], uploadedNames[file]);
        QVERIFY2(isoUtc.match(fields[2]).hasMatch(), qPrintable(fields[2]));
    }
}

void EndToEndTest::duplicate_data()
{
    // With the check the client finds the stored copy itself; without it the
    // server recognises the content on upload.
    QTest::addColumn<bool>("checkForDuplicates");
    QTest::newRow("client checks first") << true;
    QTest::newRow("server finds it") << false;
}

void EndToEndTest::duplicate()
{
    QFETCH(bool, checkForDuplicates);
    Server server;
    START(server);
    const Client client;
    QCOMPARE(client.setup(server).exitCode, 0);
    client.setSetting(QStringLiteral("checkForDuplicates"), checkForDuplicates);

    const QByteArray content = allByteValues(64);
    const QString path = client.file(QStringLiteral("twice.bin"), content);
    const auto first = client.sendova({QStringLiteral("upload"), path});
    const auto second = client.sendova({QStringLiteral("upload"), path});
    QCOMPARE(first.exitCode, 0);
    QCOMPARE(second.exitCode, 0);
    QCOMPARE(first.lines().size(), 1);
    QCOMPARE(second.lines(), first.lines());
    const auto download = fetch(second.lines().first());
    QCOMPARE(download.status, 200);
    QCOMPARE(download.body, content);
}

void EndToEndTest::logout()
{
    Server server;
    START(server);
    const Client client;
    QCOMPARE(client.setup(server).exitCode, 0);
    const QString path = client.file(QStringLiteral("before logout.txt"), "x");
    QCOMPARE(client.sendova({QStringLiteral("upload"), path}).exitCode, 0);
    QFile config(client.dataFile(QStringLiteral("config.json")));
    QVERIFY(config.open(QIODevice::ReadOnly));
    const QByteArray savedConfig = config.readAll();
    config.close();

    const auto outcome = client.sendova({QStringLiteral("logout")});
    QCOMPARE(outcome.exitCode, 0);
    QCOMPARE(outcome.out, QByteArray());
    QVERIFY2(outcome.err.contains("Signed out"), outcome.err.constData());
    QVERIFY(!QFile::exists(client.dataFile(QStringLiteral("config.json"))));
    QVERIFY(!QFile::exists(client.dataFile(QStringLiteral("recents.json"))));
    QCOMPARE(client.status(), 2);
    const auto upload = client.sendova({QStringLiteral("upload"), path});
    QCOMPARE(upload.exitCode, 2);
    QCOMPARE(upload.out, QByteArray());
    QCOMPARE(client.sendova({QStringLiteral("recent")}).out, QByteArray());

    // The settings file alone configures nothing: the key left the keychain.
    QVERIFY(config.open(QIODevice::WriteOnly));
    config.write(savedConfig);
    config.close();
    QCOMPARE(client.status(), 2);
}

void EndToEndTest::interrupt_data()
{
    // What runs when the signal comes: a request to a server that never
    // answers, or the password prompt.
    QTest::addColumn<QString>("command");
    QTest::addColumn<bool>("terminalKey");
    QTest::addColumn<int>("signalNumber");
    QTest::newRow("status, Ctrl-C") << QStringLiteral("status") << true << SIGINT;
    QTest::newRow("status, SIGTERM") << QStringLiteral("status") << false << SIGTERM;
    QTest::newRow("upload, Ctrl-C") << QStringLiteral("upload") << true << SIGINT;
    QTest::newRow("upload, SIGTERM") << QStringLiteral("upload") << false << SIGTERM;
    QTest::newRow("login, Ctrl-C") << QStringLiteral("login") << true << SIGINT;
    QTest::newRow("setup, SIGTERM") << QStringLiteral("setup") << false << SIGTERM;
    QTest::newRow("password prompt, Ctrl-C") << QStringLiteral("prompt") << true << SIGINT;
}

// Every command stops on the first signal, long before any time-out of its
// own (30 s and more), with the shell's code for that signal.
void EndToEndTest::interrupt()
{
    QFETCH(QString, command);
    QFETCH(bool, terminalKey);
    QFETCH(int, signalNumber);
    const Client client;
    SilentServer silent;
    QStringList args{command};
    if (command == QStringLiteral("status") || command == QStringLiteral("upload")) {
        Server server;
        START(server);
        QCOMPARE(client.setup(server).exitCode, 0);
        if (command == QStringLiteral("upload")) {
            args << client.file(QStringLiteral("stuck.txt"), "content");
        }
    } else if (command == QStringLiteral("setup")) {
        args << QStringLiteral("sendova://setup?token=T0ken&server=") +
                    QString::fromLatin1(QUrl::toPercentEncoding(silent.url()));
    } else {
        args = QStringList{QStringLiteral("login"), QStringLiteral("--server"), silent.url(),
                           QStringLiteral("--user"), UserName};
    }

    TerminalSession session;
    QVERIFY(session.start(args, client.environment(silent.url())));
    if (args.first() == QStringLiteral("login")) {
        QVERIFY2(session.waitForText("Password: ", Timeout), session.terminal.constData());
        QVERIFY(!session.echoing());
        if (command == QStringLiteral("login")) {
            session.type(Password + '\n');
        }
    }
    if (command != QStringLiteral("prompt")) {
        QVERIFY(silent.waitForRequest(Timeout));
    }
    if (terminalKey) {
        session.pressCtrlC();
    } else {
        session.signal(signalNumber);
    }
    QCOMPARE(session.waitForExit(10000), 128 + signalNumber);
    QCOMPARE(session.output, QByteArray());
    QVERIFY(session.echoing());
}

void EndToEndTest::notifications_data()
{
    QTest::addColumn<QString>("notificationServer");
    QTest::addColumn<int>("errorLines");
    QTest::newRow("none on the bus") << QStringLiteral("none") << 0;
    // Its one failure is reported once, however many uploads follow.
    QTest::newRow("one that fails to start") << QStringLiteral("broken") << 1;
    QTest::newRow("one that runs") << QStringLiteral("running") << 0;
    QTest::newRow("one that answers with errors") << QStringLiteral("refusing") << 1;
}

// With a desktop and its session bus, whatever becomes of the notifications,
// standard output holds the links and nothing else.
void EndToEndTest::notifications()
{
    QFETCH(QString, notificationServer);
    QFETCH(int, errorLines);
    Server server;
    START(server);
    const Client client;
    QCOMPARE(client.setup(server).exitCode, 0);
    client.setSetting(QStringLiteral("autoCopyToClipboard"), false);
    // The keyring lives on the test session's bus, not on the one given to
    // the client here: the key goes to the file instead.
    httplib::Client api(QUrl(server.url()).host().toStdString(), QUrl(server.url()).port());
    const auto login =
        api.Post("/api/auth/login",
                 QJsonDocument(QJsonObject{{QStringLiteral("userName"), UserName},
                                           {QStringLiteral("password"), QString::fromUtf8(Password)}})
                     .toJson()
                     .toStdString(),
                 "application/json");
    QVERIFY(login && login->status == 200);
    client.setSetting(QStringLiteral("apiKey"),
                      QJsonDocument::fromJson(QByteArray::fromStdString(login->body))
                          .object()[QStringLiteral("data")]
                          .toObject()[QStringLiteral("apiKey")]);

    QMap<QString, QString> services;
    if (notificationServer == QStringLiteral("broken")) {
        services.insert(QStringLiteral("org.freedesktop.Notifications"), QStringLiteral("/bin/false"));
    }
    sendova::test::PrivateBus bus(services);
    QVERIFY(bus.start());
    sendova::test::TestNotificationServer notifications;
    if (notificationServer == QStringLiteral("refusing")) {
        notifications.refusalName = QStringLiteral("org.freedesktop.DBus.Error.Failed");
        notifications.refusalMessage = QStringLiteral("cannot show it now");
        notifications.refuseCapabilities = true;
    }
    if (notificationServer == QStringLiteral("running") || notificationServer == QStringLiteral("refusing")) {
        QVERIFY(notifications.start(bus.address()));
    }
    QProcessEnvironment env = client.environment();
    env.insert(QStringLiteral("DISPLAY"), QStringLiteral(":0"));
    env.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"), bus.address());
    const auto outcome = run(ClientBinary,
                             {QStringLiteral("upload"), client.file(QStringLiteral("one.txt"), "1"),
                              client.file(QStringLiteral("two.txt"), "2")},
                             env);

    QCOMPARE(outcome.exitCode, 0);
    QCOMPARE(outcome.lines().size(), 2);
    QVERIFY2(outcome.out.endsWith('\n') && outcome.lines().filter(QStringLiteral("://")).size() == 2,
             outcome.out.constData());
    QCOMPARE(outcome.err.count('\n'), errorLines);
    if (notificationServer == QStringLiteral("running")) {
        QCOMPARE(notifications.notifyCalls.size(), 2);
        // Nobody is left to open the link once the command has ended.
        QCOMPARE(notifications.notifyCalls.first().actions, QStringList());
    }
}

// The line on the terminal is redrawn at most ten times a second, however
// often the upload reports.
void EndToEndTest::progressLine()
{
    Server server;
    START(server);
    const Client client;
    QCOMPARE(client.setup(server).exitCode, 0);
    // Hashing reports every mebibyte.
    QFile big(client.path(QStringLiteral("big.bin")));
    QVERIFY(big.open(QIODevice::WriteOnly) && big.resize(64 << 20));
    big.close();

    TerminalSession session;
    QVERIFY(session.start({QStringLiteral("upload"), big.fileName()}, client.environment()));
    QCOMPARE(session.waitForExit(Timeout), 0);
    QCOMPARE(session.output.count('\n'), 1);
    const QList<QByteArray> draws = session.terminal.split('\r');
    const qsizetype shown =
        std::count_if(draws.begin(), draws.end(), [](const QByteArray &draw) { return draw.size() > 3; });
    QVERIFY2(shown >= 1, session.terminal.constData());
    QVERIFY2(shown <= session.elapsedMs / 100 + 2,
             qPrintable(QStringLiteral("%1 lines in %2 ms").arg(shown).arg(session.elapsedMs)));
}

QTEST_GUILESS_MAIN(EndToEndTest)
#include "tst_e2e_cli.moc"
