// The command-line client against a real sendova-server: the paths a user
// takes, with links whose bytes come back exactly as they were uploaded, and
// what only a real terminal shows. The client's options and messages are
// CommandLineClientTest's.

#include <httplib.h>

#include <QElapsedTimer>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QUrl>
#include <QtTest>

#include <csignal>
#include <fcntl.h>
#include <numeric>
#include <pty.h>
#include <termios.h>
#include <unistd.h>
#include <utmp.h>

namespace {

const QString ClientBinary = QStringLiteral(SENDOVA_BINARY);
const QString ServerBinary = QStringLiteral(SENDOVA_SERVER_BINARY);
const QString UserName = QStringLiteral("alice");

struct Outcome
{
    int exitCode = -1;
    QByteArray out;
    QByteArray err;
};

// In a session of its own: without a controlling terminal, a password prompt
// fails instead of waiting on whoever runs the tests.
Outcome run(const QString &program, const QStringList &args, const QProcessEnvironment &env,
            const QByteArray &input = {})
{
    QProcess process;
    process.setChildProcessModifier([] { ::setsid(); });
    process.setProcessEnvironment(env);
    process.start(program, args);
    process.write(input);
    process.closeWriteChannel();
    if (!process.waitForFinished(120000) || process.exitStatus() != QProcess::NormalExit)
        return {};
    return Outcome{process.exitCode(), process.readAllStandardOutput(), process.readAllStandardError()};
}

// With cpp-httplib, an HTTP stack the client does not use: what any browser would get.
QByteArray download(const QString &link)
{
    const QUrl url(link);
    httplib::Client client(url.host().toStdString(), url.port(80));
    const auto result = client.Get(url.path(QUrl::FullyEncoded).toStdString());
    return result && result->status == 200 ? QByteArray::fromStdString(result->body)
                                           : QByteArray("no download");
}

// `sendova` on a pseudo-terminal, as typed in a shell: the terminal is its
// controlling terminal and all three of its standard streams.
class Terminal
{
public:
    Terminal(const QStringList &args, const QProcessEnvironment &env)
    {
        int slave = -1;
        ::openpty(&m_master, &slave, nullptr, nullptr, nullptr);
        ::fcntl(m_master, F_SETFL, O_NONBLOCK);
        m_process.setProcessEnvironment(env);
        m_process.setChildProcessModifier([slave] { ::login_tty(slave); });
        m_process.start(ClientBinary, args);
        ::close(slave);
        m_clock.start();
    }
    ~Terminal() { ::close(m_master); }

    // All the terminal has shown so far.
    QByteArray text()
    {
        char buffer[4096];
        for (ssize_t got; (got = ::read(m_master, buffer, sizeof buffer)) > 0;)
            m_text.append(buffer, got);
        return m_text;
    }
    // The terminal's interrupt character: SIGINT for the foreground process group.
    void pressCtrlC() { QCOMPARE(::write(m_master, "\x03", 1), 1); }
    bool echoing() const
    {
        termios state{};
        return ::tcgetattr(m_master, &state) == 0 && (state.c_lflag & ECHO);
    }
    // The exit code, or -1 when the program has not ended normally in time.
    int waitForExit(int timeoutMs)
    {
        if (!QTest::qWaitFor([this] { return text(), m_process.state() == QProcess::NotRunning; }, timeoutMs))
            return -1;
        elapsedMs = m_clock.elapsed();
        text();
        return m_process.exitStatus() == QProcess::NormalExit ? m_process.exitCode() : -1;
    }

    qint64 elapsedMs = 0;

private:
    int m_master = -1;
    QProcess m_process;
    QByteArray m_text;
    QElapsedTimer m_clock;
};

// sendova-server on a free loopback port with its own data folder and one
// user. It refuses files larger than 8 MiB.
class Server
{
public:
    ~Server()
    {
        m_process.terminate();
        m_process.waitForFinished();
    }

    void start()
    {
        QCOMPARE(admin({u"user"_qs, u"add"_qs, UserName, u"--password-stdin"_qs}, "e2e password\n").exitCode,
                 0);
        m_process.setChildProcessModifier([] { ::setsid(); });
        m_process.start(ServerBinary,
                        QStringList{u"serve"_qs, u"--listen"_qs, u"127.0.0.1:0"_qs, u"--tenant"_qs,
                                    u"E2E Tenant"_qs, u"--quiet"_qs, u"--max-size"_qs,
                                    QString::number(8 << 20), u"--data"_qs, m_dir.path()});
        QByteArray line;
        while (!line.contains('\n') && m_process.waitForReadyRead())
            line += m_process.readAllStandardOutput();
        const auto match = QRegularExpression(QStringLiteral("^sendova-server listening on (http://\\S+) "))
                               .match(QString::fromUtf8(line));
        QVERIFY2(match.hasMatch(), line + m_process.readAllStandardError());
        m_url = match.captured(1);
    }
    Outcome admin(const QStringList &args, const QByteArray &input = {}) const
    {
        return run(ServerBinary, args + QStringList{u"--data"_qs, m_dir.path()},
                   QProcessEnvironment::systemEnvironment(), input);
    }
    QString setupLink() const { return QString::fromUtf8(admin({u"setup-link"_qs, UserName}).out).trimmed(); }
    QString url() const { return m_url; }

private:
    QTemporaryDir m_dir;
    QProcess m_process;
    QString m_url;
};

// One user of `sendova`: a home and data folder of its own, no display.
class Client
{
public:
    Client()
    {
        for (const char *name : {"SENDOVA_SERVER", "DISPLAY", "WAYLAND_DISPLAY"})
            m_env.remove(QString::fromLatin1(name));
        m_env.insert(QStringLiteral("HOME"), m_dir.path());
        m_env.insert(QStringLiteral("XDG_DATA_HOME"), m_dir.filePath(QStringLiteral("data")));
        m_env.insert(QStringLiteral("XDG_CONFIG_HOME"), m_dir.filePath(QStringLiteral("config")));
    }

    Outcome sendova(const QStringList &args, const QByteArray &input = {}) const
    {
        return run(ClientBinary, args, m_env, input);
    }
    QProcessEnvironment environment() const { return m_env; }
    QString file(const QString &name, const QByteArray &content) const
    {
        QFile out(m_dir.filePath(name));
        if (out.open(QIODevice::WriteOnly))
            out.write(content);
        return out.fileName();
    }

private:
    QTemporaryDir m_dir;
    QProcessEnvironment m_env = QProcessEnvironment::systemEnvironment();
};

} // namespace

class EndToEndTest : public QObject
{
    Q_OBJECT

    // One for every test: its user's password is slow to check by design.
    Server m_server;

private Q_SLOTS:
    void initTestCase() { m_server.start(); }

    // Not configured, a refused login, setup by link, uploads whose links give
    // back the very bytes, the recent list, the same content again, sign-out.
    void fromFirstRunToSignOut()
    {
        const Client client;
        auto outcome = client.sendova({u"status"_qs});
        QCOMPARE(outcome.exitCode, 2);
        QVERIFY2(outcome.err.contains("'sendova setup LINK'"), outcome.err.constData());
        outcome = client.sendova(
            {u"login"_qs, u"--server"_qs, m_server.url(), u"--user"_qs, UserName, u"--password-stdin"_qs},
            "not the password\n");
        QCOMPARE(outcome.exitCode, 1);
        QCOMPARE(outcome.err, QByteArray("sendova: Incorrect user name or password\n"));

        outcome = client.sendova({u"setup"_qs, m_server.setupLink()});
        QCOMPARE(outcome.exitCode, 0);
        QVERIFY2(outcome.err.endsWith("Sendova Configured\nConnected to: E2E Tenant\nUser: alice\n"),
                 outcome.err.constData());

        outcome = client.sendova({u"status"_qs});
        QCOMPARE(outcome.out, QStringLiteral("Connected to %1\n").arg(m_server.url()).toUtf8());

        // A missing file does not stop the others.
        QByteArray bytes(1 << 20, Qt::Uninitialized);
        std::iota(bytes.begin(), bytes.end(), char(0));
        const QStringList names{u"naïve résumé \"draft\" 100% #1?.txt"_qs, u"bytes.bin"_qs};
        const QList<QByteArray> contents{QByteArrayLiteral("ação\r\n\0tail"), bytes};
        outcome = client.sendova({u"upload"_qs, client.file(names[0], contents[0]), u"gone.txt"_qs,
                                  client.file(names[1], contents[1])});
        QCOMPARE(outcome.exitCode, 1);
        QVERIFY2(outcome.err.contains("gone.txt"), outcome.err.constData());
        const QStringList links = QString::fromUtf8(outcome.out).split(u'\n', Qt::SkipEmptyParts);
        QCOMPARE(links.size(), 2);
        QCOMPARE(download(links[0]), contents[0]);
        QCOMPARE(download(links[1]), contents[1]);
        // Newest first, with the name the server stored.
        const QStringList recent = QString::fromUtf8(client.sendova({u"recent"_qs}).out).split(u'\n');
        for (int i = 0; i < 2; ++i)
            QVERIFY2(recent.value(1 - i).startsWith(links[i] + u'\t' + names[i] + u'\t'),
                     qPrintable(recent.join(u'|')));

        // The same content again: the stored copy's link.
        outcome = client.sendova({u"upload"_qs, client.file(u"again.bin"_qs, bytes)});
        QCOMPARE(outcome.out, links[1].toUtf8() + '\n');

        outcome = client.sendova({u"logout"_qs});
        QVERIFY2(outcome.exitCode == 0 && outcome.err.contains("Signed out"), outcome.err.constData());
        QCOMPARE(client.sendova({u"status"_qs}).exitCode, 2);
    }

    void ctrlCAtThePasswordPrompt()
    {
        const Client client;
        Terminal terminal({u"login"_qs, u"--server"_qs, m_server.url(), u"--user"_qs, UserName},
                          client.environment());
        QTRY_VERIFY2(terminal.text().contains("Password: "), terminal.text().constData());
        QVERIFY(!terminal.echoing());
        terminal.pressCtrlC();
        QCOMPARE(terminal.waitForExit(10000), 128 + SIGINT);
        QVERIFY(terminal.echoing());
    }

    // The progress line is redrawn at most ten times a second, however often the
    // hash and the transfer report; a refused file ends with the server's own
    // explanation next to the status.
    void refusedUploadOnATerminal()
    {
        const Client client;
        QCOMPARE(client.sendova({u"setup"_qs, m_server.setupLink()}).exitCode, 0);
        // 64 MiB, all of it a hole; hashing reports every mebibyte.
        QFile big(client.file(u"big.bin"_qs, {}));
        QVERIFY(big.resize(64 << 20));

        Terminal terminal({u"upload"_qs, big.fileName()}, client.environment());
        QCOMPARE(terminal.waitForExit(60000), 1);
        const QByteArray text = terminal.text();
        QVERIFY2(text.endsWith("Server error (413): The file is larger than the limit of 8388608 bytes\r\n"),
                 text.constData());
        const QList<QByteArray> draws = text.split('\r');
        const qsizetype shown = std::count_if(draws.begin(), draws.end(), [](const QByteArray &draw) {
            return draw.size() > 3 && !draw.contains("sendova:");
        });
        QVERIFY2(shown >= 1 && shown <= terminal.elapsedMs / 100 + 2,
                 qPrintable(QStringLiteral("%1 lines in %2 ms").arg(shown).arg(terminal.elapsedMs)));
    }
};

QTEST_GUILESS_MAIN(EndToEndTest)
#include "EndToEndTest.moc"
