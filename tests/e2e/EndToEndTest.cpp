// The command-line client driven end to end against a real sendova-server:
// exit codes, what lands on stdout and stderr, and links whose bytes come back
// exactly as they were uploaded.

#include "LoopbackHttpServer.h"
#include "PrivateBus.h"
#include "TestNotificationServer.h"

#include <httplib.h>

#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QUrl>
#include <QtTest>

#include <csignal>
#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <sys/stat.h>
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
constexpr qint64 MaxFileSize = 8 << 20;

struct Outcome
{
    int exitCode = -1;
    QByteArray out;
    QByteArray err;
    QStringList lines() const { return QString::fromUtf8(out).split(u'\n', Qt::SkipEmptyParts); }
};

// In a session of its own: without a controlling terminal, a password prompt
// fails instead of waiting on whoever runs the tests. The event loop runs
// meanwhile, so a D-Bus service of the test can answer the program, and the
// wait ends the moment the program does.
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
    QEventLoop loop;
    QObject::connect(&process, &QProcess::finished, &loop, &QEventLoop::quit);
    QTimer::singleShot(Timeout, &loop, &QEventLoop::quit);
    if (process.state() != QProcess::NotRunning) {
        loop.exec();
    }
    if (process.state() != QProcess::NotRunning) {
        process.kill();
        process.waitForFinished();
        return {};
    }
    return Outcome{process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1,
                   process.readAllStandardOutput(), process.readAllStandardError()};
}

struct Download
{
    int status = 0;
    QByteArray body;
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

// sendova-server on a free loopback port with its own data folder and one
// user. It refuses files larger than MaxFileSize.
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
                                       QStringLiteral("--quiet"), QStringLiteral("--max-size"),
                                       QString::number(MaxFileSize), QStringLiteral("--data"), data()});
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
    // Every later run talks to this session bus.
    void useSessionBus(const QString &address)
    {
        m_env.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"), address);
    }
    Outcome setup(const Server &server, const QStringList &options = {}) const
    {
        return sendova(QStringList{QStringLiteral("setup")} + options + QStringList{server.setupLink()});
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

QByteArray allByteValues(int repeat)
{
    QByteArray bytes;
    for (int i = 0; i < 256 * repeat; ++i) {
        bytes.append(char(i % 251));
    }
    return bytes;
}

} // namespace

using sendova::test::LoopbackHttpServer;
using sendova::test::ScriptedReply;

class EndToEndTest : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
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
    void refusedUploadOnTerminal();
    void interrupt_data();
    void interrupt();
    void noKeyring_data();
    void noKeyring();
    void notifications_data();
    void notifications();

private:
    // One for every test: its user's password is slow to check by design, and
    // each client here has a home of its own anyway.
    Server m_server;
};

void EndToEndTest::initTestCase()
{
    const QByteArray problem = m_server.start();
    QVERIFY2(problem.isEmpty(), problem.constData());
}

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
    QTest::newRow("unknown command") << args("launch") << 2 << QByteArray() << QByteArray("sendova --help")
                                     << false;
    QTest::newRow("unknown option") << args("--launch") << 2 << QByteArray() << QByteArray("unknown option")
                                    << false;
    QTest::newRow("missing value") << args("login --user") << 2 << QByteArray() << QByteArray("--user")
                                   << false;
    QTest::newRow("upload without files")
        << args("upload --verbose") << 2 << QByteArray() << QByteArray("no file") << false;
    QTest::newRow("not a setup link") << args("setup https://example.org/setup?token=T") << 2 << QByteArray()
                                      << QByteArray("not a setup link") << false;
    QTest::newRow("status unconfigured")
        << args("status") << 2 << QByteArray() << QByteArray("sendova setup") << true;
    QTest::newRow("upload unconfigured") << QStringList{QStringLiteral("upload"), anyFile} << 2
                                         << QByteArray() << QByteArray("sendova setup") << true;
    QTest::newRow("recent, nothing yet") << args("recent") << 0 << QByteArray() << QByteArray() << true;
    QTest::newRow("logout, nothing stored")
        << args("logout") << 0 << QByteArray() << QByteArray("Nothing to sign out of") << true;
    // Refused before anything is sent: a server would only say "wrong password".
    QTest::newRow("empty password") << args("login --server http://127.0.0.1:9 --user alice --password-stdin")
                                    << 2 << QByteArray() << QByteArray("no password given") << true;
    // Before the password is asked for.
    QTest::newRow("address without scheme")
        << args("login --server localhost:8080 --user alice") << 2 << QByteArray()
        << QByteArray(
               "The server address is not valid: localhost:8080 (add http:// or https:// in front of it)")
        << true;
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
    // Whether the test's server answers, or a web page stands where it should.
    QTest::addColumn<bool>("realServer");
    QTest::addColumn<QByteArray>("password");
    QTest::addColumn<int>("exitCode");
    // For a failure, the whole of stderr.
    QTest::addColumn<QByteArray>("err");
    QTest::newRow("good") << true << Password << 0 << QByteArray();
    QTest::newRow("wrong password") << true << QByteArray("not the password") << 1
                                    << QByteArray("sendova: Incorrect user name or password\n");
    // The decoder's words mean nothing to the user.
    QTest::newRow("reply that is not one")
        << false << Password << 1 << QByteArray("sendova: The server sent an invalid response\n");
}

void EndToEndTest::login()
{
    QFETCH(bool, realServer);
    QFETCH(QByteArray, password);
    QFETCH(int, exitCode);
    QFETCH(QByteArray, err);
    LoopbackHttpServer page;
    ScriptedReply html;
    html.headers = {{"Content-Type", "text/html"}};
    html.body = "<html><body>Welcome to the hotel network</body></html>";
    page.setDefaultReply(html);
    const QString url = realServer ? m_server.url() : page.baseUrl();

    const Client client;
    const auto outcome =
        client.sendova({QStringLiteral("login"), QStringLiteral("--server"), url, QStringLiteral("--user"),
                        UserName, QStringLiteral("--password-stdin")},
                       password + '\n');
    QCOMPARE(outcome.exitCode, exitCode);
    QCOMPARE(outcome.out, QByteArray());
    if (exitCode == 0) {
        QCOMPARE(outcome.err, QStringLiteral("Signed in to %1 as %2.\n").arg(url, UserName).toUtf8());
    } else {
        QCOMPARE(outcome.err, err);
    }
    QCOMPARE(client.status(), exitCode == 0 ? 0 : 2);
}

void EndToEndTest::setup_data()
{
    QTest::addColumn<bool>("usedBefore");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QByteArray>("err");
    QTest::newRow("fresh link") << false << 0
                                << QByteArray("Sendova Configured\nConnected to: ") + Tenant.toUtf8() +
                                       QByteArray("\nUser: ") + UserName.toUtf8() + '\n';
    QTest::newRow("used twice") << true << 1
                                << QByteArray("sendova: This setup link has already been used; ask "
                                              "for a new one\n");
}

void EndToEndTest::setup()
{
    QFETCH(bool, usedBefore);
    QFETCH(int, exitCode);
    QFETCH(QByteArray, err);
    const QString link = m_server.setupLink();
    const Client client;
    if (usedBefore) {
        QCOMPARE(client.sendova({QStringLiteral("setup"), link}).exitCode, 0);
    }
    const auto outcome = client.sendova({QStringLiteral("setup"), link});
    QCOMPARE(outcome.exitCode, exitCode);
    QCOMPARE(outcome.out, QByteArray());
    QVERIFY2(outcome.err.endsWith(err), outcome.err.constData());
    // A refused link leaves an earlier configuration as it was.
    QCOMPARE(client.status(), 0);
}

void EndToEndTest::status_data()
{
    // {server} stands for the test's server.
    QTest::addColumn<QString>("serverOverride");
    QTest::addColumn<int>("exitCode");
    // stdout for a success, the end of stderr otherwise.
    QTest::addColumn<QString>("expected");
    QTest::newRow("configured server") << QString() << 0 << QStringLiteral("Connected to {server}\n");
    // Only a refused key is the key's fault (see noKeyring); anything else
    // the server has to explain.
    QTest::newRow("not the API's address")
        << QStringLiteral("{server}/api") << 1 << QStringLiteral("answered with status 404: Not found\n");
    QTest::newRow("address without scheme")
        << QStringLiteral("localhost:8080") << 1
        << QStringLiteral("The server address is not valid: localhost:8080 (add http:// or https:// in front "
                          "of it)\n");
}

void EndToEndTest::status()
{
    QFETCH(QString, serverOverride);
    QFETCH(int, exitCode);
    QFETCH(QString, expected);
    const Client client;
    QCOMPARE(client.setup(m_server).exitCode, 0);
    const auto outcome = client.sendova({QStringLiteral("status")}, {},
                                        serverOverride.replace(QStringLiteral("{server}"), m_server.url()));
    QCOMPARE(outcome.exitCode, exitCode);
    const QByteArray text = expected.replace(QStringLiteral("{server}"), m_server.url()).toUtf8();
    if (exitCode == 0) {
        QCOMPARE(outcome.out, text);
    } else {
        QCOMPARE(outcome.out, QByteArray());
        QVERIFY2(outcome.err.endsWith(text), outcome.err.constData());
    }
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
    // Given relative to the working folder, after --.
    QTest::newRow("verbose, names that look like options")
        << QStringList{QStringLiteral("--verbose"), QStringLiteral("-h")} << QList<QByteArray>{"v", "h"}
        << true << 0;
}
void EndToEndTest::upload()
{
    QFETCH(QStringList, names);
    QFETCH(QList<QByteArray>, contents);
    QFETCH(bool, verbose);
    QFETCH(int, exitCode);
    const Client client;
    QCOMPARE(client.setup(m_server).exitCode, 0);

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
    const Client client;
    QCOMPARE(client.setup(m_server).exitCode, 0);
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
    const Client client;
    QCOMPARE(client.setup(m_server).exitCode, 0);
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

// On a terminal the progress line is redrawn at most ten times a second,
// however often the upload reports; a file the server refuses ends with the
// server's own explanation next to the status.
void EndToEndTest::refusedUploadOnTerminal()
{
    const Client client;
    QCOMPARE(client.setup(m_server).exitCode, 0);
    // Hashing reports every mebibyte.
    QFile big(client.path(QStringLiteral("big.bin")));
    QVERIFY(big.open(QIODevice::WriteOnly) && big.resize(64 << 20));
    big.close();

    TerminalSession session;
    QVERIFY(session.start({QStringLiteral("upload"), big.fileName()}, client.environment()));
    QCOMPARE(session.waitForExit(Timeout), 1);
    QCOMPARE(session.output, QByteArray());
    const QByteArray refusal = "Server error (413): The file is larger than the limit of " +
                               QByteArray::number(MaxFileSize) + " bytes\r\n";
    QVERIFY2(session.terminal.endsWith(refusal), session.terminal.constData());
    const QList<QByteArray> draws = session.terminal.split('\r');
    const qsizetype shown = std::count_if(draws.begin(), draws.end(), [](const QByteArray &draw) {
        return draw.size() > 3 && !draw.contains("sendova:");
    });
    QVERIFY2(shown >= 1, session.terminal.constData());
    QVERIFY2(shown <= session.elapsedMs / 100 + 2,
             qPrintable(QStringLiteral("%1 lines in %2 ms").arg(shown).arg(session.elapsedMs)));
}

void EndToEndTest::interrupt_data()
{
    // What runs when the signal comes: a request to a server that never
    // answers, the hash of a file far too large to finish, or the password
    // prompt. SIGINT comes from the terminal's Ctrl-C.
    QTest::addColumn<QString>("command");
    QTest::addColumn<int>("signalNumber");
    QTest::newRow("status, Ctrl-C") << QStringLiteral("status") << SIGINT;
    QTest::newRow("login, Ctrl-C") << QStringLiteral("login") << SIGINT;
    QTest::newRow("setup, SIGTERM") << QStringLiteral("setup") << SIGTERM;
    QTest::newRow("upload, SIGTERM") << QStringLiteral("upload") << SIGTERM;
    QTest::newRow("hashing, Ctrl-C") << QStringLiteral("hashing") << SIGINT;
    QTest::newRow("password prompt, Ctrl-C") << QStringLiteral("prompt") << SIGINT;
}

// Every command stops on the first signal, long before any time-out of its
// own (30 s and more) or the end of the hash, with the shell's code for that
// signal.
void EndToEndTest::interrupt()
{
    QFETCH(QString, command);
    QFETCH(int, signalNumber);
    const Client client;
    LoopbackHttpServer silent;
    ScriptedReply never;
    never.reading = ScriptedReply::Reading::stall;
    silent.setDefaultReply(never);
    QStringList args{command};
    if (command == QStringLiteral("status")) {
        QCOMPARE(client.setup(m_server).exitCode, 0);
    } else if (command == QStringLiteral("upload") || command == QStringLiteral("hashing")) {
        QCOMPARE(client.setup(m_server).exitCode, 0);
        QFile file(client.path(QStringLiteral("stuck.bin")));
        // 64 GiB, all of it a hole: nothing on disk, minutes to hash.
        QVERIFY(file.open(QIODevice::WriteOnly) &&
                file.resize(command == QStringLiteral("upload") ? 1 : 1LL << 36));
        args = QStringList{QStringLiteral("upload"), file.fileName()};
    } else if (command == QStringLiteral("setup")) {
        args << QStringLiteral("sendova://setup?token=T0ken&server=") +
                    QString::fromLatin1(QUrl::toPercentEncoding(silent.baseUrl()));
    } else {
        args = QStringList{QStringLiteral("login"), QStringLiteral("--server"), silent.baseUrl(),
                           QStringLiteral("--user"), UserName};
    }

    TerminalSession session;
    QVERIFY(session.start(args, client.environment(silent.baseUrl())));
    if (args.first() == QStringLiteral("login")) {
        QVERIFY2(session.waitForText("Password: ", Timeout), session.terminal.constData());
        QVERIFY(!session.echoing());
        if (command == QStringLiteral("login")) {
            session.type(Password + '\n');
        }
    }
    if (command == QStringLiteral("hashing")) {
        QVERIFY2(session.waitForText("preparing", Timeout), session.terminal.constData());
    } else if (command != QStringLiteral("prompt")) {
        QVERIFY(silent.waitForRequests(1, std::chrono::milliseconds(Timeout)));
    }
    if (signalNumber == SIGINT) {
        session.pressCtrlC();
    } else {
        session.signal(signalNumber);
    }
    QCOMPARE(session.waitForExit(10000), 128 + signalNumber);
    QCOMPARE(session.output, QByteArray());
    QVERIFY(session.echoing());
}

void EndToEndTest::noKeyring_data()
{
    QTest::addColumn<QString>("command");
    QTest::newRow("login") << QStringLiteral("login");
    QTest::newRow("setup link") << QStringLiteral("setup");
}

// An SSH session or a machine without a desktop: no Secret Service on the
// bus. The client says so before anything is asked or sent, and keeps the
// key in config.json when told to.
void EndToEndTest::noKeyring()
{
    QFETCH(QString, command);
    sendova::test::PrivateBus bus;
    QVERIFY(bus.start());
    Client client;
    client.useSessionBus(bus.address());
    const QStringList args =
        command == QStringLiteral("login")
            ? QStringList{QStringLiteral("--server"), m_server.url(), QStringLiteral("--user"), UserName,
                          QStringLiteral("--password-stdin")}
            : QStringList{m_server.setupLink()};
    const QByteArray password = Password + '\n';

    const auto refused = client.sendova(QStringList{command} + args, password);
    QCOMPARE(refused.exitCode, 1);
    QCOMPARE(refused.out, QByteArray());
    QVERIFY2(refused.err.contains("--insecure-storage") && refused.err.count('\n') == 1,
             refused.err.constData());
    QVERIFY(!QFile::exists(client.dataFile(QStringLiteral("config.json"))));

    // The same link: its one-time token was not spent above.
    const auto stored =
        client.sendova(QStringList{command, QStringLiteral("--insecure-storage")} + args, password);
    QCOMPARE(stored.exitCode, 0);
    struct stat file
    {
    };
    struct stat folder
    {
    };
    QCOMPARE(::stat(QFile::encodeName(client.dataFile(QStringLiteral("config.json"))).constData(), &file), 0);
    QCOMPARE(::stat(QFile::encodeName(client.dataFile(QString())).constData(), &folder), 0);
    QCOMPARE(file.st_mode & 0777, 0600u);
    QCOMPARE(folder.st_mode & 0777, 0700u);
    const auto connected = client.sendova({QStringLiteral("status")});
    QCOMPARE(connected.out, QStringLiteral("Connected to %1\n").arg(m_server.url()).toUtf8());

    // The key in the file is the one used: another is refused, and a refused
    // key is what status blames.
    client.setSetting(QStringLiteral("apiKey"), QStringLiteral("not-a-key-of-this-server"));
    const auto refusedKey = client.sendova({QStringLiteral("status")});
    QCOMPARE(refusedKey.exitCode, 1);
    QVERIFY2(refusedKey.err.endsWith(m_server.url().toUtf8() +
                                     " did not accept the API key: The API key is not valid\n"),
             refusedKey.err.constData());
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
    // The keyring lives on the test session's bus, not on this one.
    Client client;
    client.useSessionBus(bus.address());
    QCOMPARE(client.setup(m_server, {QStringLiteral("--insecure-storage")}).exitCode, 0);
    client.setSetting(QStringLiteral("autoCopyToClipboard"), false);

    QProcessEnvironment env = client.environment();
    env.insert(QStringLiteral("DISPLAY"), QStringLiteral(":0"));
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

QTEST_GUILESS_MAIN(EndToEndTest)
#include "EndToEndTest.moc"
