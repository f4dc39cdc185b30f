// The command-line client against a real sendova-server: the path a new user
// takes, with links whose bytes come back exactly as they were uploaded, and
// what only a real terminal shows. The client's options and messages are
// CommandLineClientTest's.

#include "SwaySession.h"

#include <httplib.h>

#include "PrivateBus.h"
#include "PrivateKeyring.h"

#include <QElapsedTimer>
#include <QJsonDocument>
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

struct Outcome
{
    int exitCode = -1;
    QByteArray out;
    QByteArray err;
};

// In a session of its own: without a controlling terminal, a password prompt
// fails instead of waiting on whoever runs the tests.
Outcome run(const QString &program, const QStringList &args, const QByteArray &input = {},
            const QProcessEnvironment &env = QProcessEnvironment::systemEnvironment())
{
    QProcess process;
    process.setChildProcessModifier([] { ::setsid(); });
    process.setProcessEnvironment(env);
    process.start(program, args);
    process.write(input);
    process.closeWriteChannel();
    const bool ended = process.waitForFinished(120000) && process.exitStatus() == QProcess::NormalExit;
    return Outcome{ended ? process.exitCode() : -1, process.readAllStandardOutput(),
                   process.readAllStandardError()};
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
        m_process.start(QStringLiteral(SENDOVA_BINARY), args);
        ::close(slave);
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
        text();
        return m_process.exitStatus() == QProcess::NormalExit ? m_process.exitCode() : -1;
    }

private:
    int m_master = -1;
    QProcess m_process;
    QByteArray m_text;
};

} // namespace

class EndToEndTest : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    // One server for the whole test, since its user's password is slow to check
    // by design: on a free loopback port, with its own data folder and one user,
    // refusing files larger than 8 MiB.
    void initTestCase()
    {
        QCOMPARE(
            admin({u"user"_qs, u"add"_qs, u"alice"_qs, u"--password-stdin"_qs}, "e2e password\n").exitCode,
            0);
        m_server.setChildProcessModifier([] { ::setsid(); });
        m_server.start(QStringLiteral(SENDOVA_SERVER_BINARY),
                       QStringList{u"serve"_qs, u"--listen"_qs, u"127.0.0.1:0"_qs, u"--tenant"_qs,
                                   u"E2E Tenant"_qs, u"--quiet"_qs, u"--max-size"_qs,
                                   QString::number(8 << 20), u"--data"_qs, m_serverData.path()});
        QTRY_VERIFY_WITH_TIMEOUT(m_server.canReadLine(), 30000);
        const QByteArray line = m_server.readLine();
        const auto match = QRegularExpression(QStringLiteral("^sendova-server listening on (http://\\S+) "))
                               .match(QString::fromUtf8(line));
        QVERIFY2(match.hasMatch(), line);
        m_url = match.captured(1);
        // The user of `sendova`: a home and data folder of its own, no display.
        for (const char *name :
             {"SENDOVA_SERVER", "DISPLAY", "WAYLAND_DISPLAY", "XDG_DATA_HOME", "XDG_CONFIG_HOME"})
            m_env.remove(QString::fromLatin1(name));
        m_env.insert(QStringLiteral("HOME"), m_home.path());
    }

    void cleanupTestCase()
    {
        m_server.terminate();
        m_server.waitForFinished();
    }

    // On a Wayland desktop the link of `sendova upload` is on the clipboard
    // as any Wayland program reads it, after the client has exited.
    void uploadLeavesTheLinkOnTheWaylandClipboard()
    {
        if (!sendova::test::SwaySession::available())
            QSKIP("sway, wl-clipboard or wtype is missing (scripts/install-deps installs them)");
        sendova::test::SwaySession sway;
        QVERIFY2(sway.start(), sway.errorText().constData());
        sendova({u"setup"_qs, setupLink()});
        const QProcessEnvironment desktop = sway.environment(m_env);
        const Outcome upload = sendova({u"upload"_qs, file(u"w.txt"_qs, "wayland")}, {}, desktop);
        QCOMPARE(sway.clipboard(), std::optional(upload.out.trimmed()));
        QCOMPARE(sendova({u"logout"_qs}).exitCode, 0);
    }

    // Ctrl-C at the password prompt, a refused login, setup by link, an upload
    // whose link gives back the very bytes, the recent list, the same content
    // again, a file the server refuses, sign-out.
    void fromFirstRunToSignOut()
    {
        const QStringList login{u"login"_qs, u"--server"_qs, m_url, u"--user"_qs, u"alice"_qs};
        Terminal prompt(login, m_env);
        QTRY_VERIFY2(prompt.text().contains("Password: "), prompt.text().constData());
        QVERIFY(!prompt.echoing());
        prompt.pressCtrlC();
        QCOMPARE(prompt.waitForExit(10000), 128 + SIGINT);
        QVERIFY(prompt.echoing());

        auto outcome = sendova(login + QStringList{u"--password-stdin"_qs}, "not the password\n");
        QCOMPARE(outcome.err, QByteArray("sendova: Incorrect user name or password\n"));
        outcome = sendova({u"setup"_qs, setupLink()});
        QVERIFY2(outcome.err.contains("Sendova Configured\nConnected to: E2E Tenant\nUser: alice\n"),
                 outcome.err.constData());
        QCOMPARE(sendova({u"status"_qs}).out,
                 QStringLiteral("Connected to %1 as alice (E2E Tenant)\nAPI key kept in the keyring\n")
                     .arg(m_url)
                     .toUtf8());

        // Every byte value, under a name that needs escaping; a missing file does
        // not stop the others.
        QByteArray bytes(1 << 20, Qt::Uninitialized);
        std::iota(bytes.begin(), bytes.end(), char(0));
        const QString name = u"naïve résumé \"draft\" 100% #1?.txt"_qs;
        outcome = sendova({u"upload"_qs, u"gone.txt"_qs, file(name, bytes)});
        QVERIFY2(outcome.exitCode == 1 && outcome.err.contains("gone.txt"), outcome.err.constData());
        const QString link = QString::fromUtf8(outcome.out).trimmed();
        // With cpp-httplib, an HTTP stack the client does not use: what any browser would get.
        const QUrl url(link);
        const auto downloaded = httplib::Client(url.host().toStdString(), url.port(80))
                                    .Get(url.path(QUrl::FullyEncoded).toStdString());
        QVERIFY(downloaded && QByteArray::fromStdString(downloaded->body) == bytes);
        // With the name the server stored.
        QVERIFY(sendova({u"recent"_qs}).out.startsWith((link + u'\t' + name + u'\t').toUtf8()));
        // The same content again: the stored copy's link.
        QCOMPARE(sendova({u"upload"_qs, file(u"again.bin"_qs, bytes)}).out, link.toUtf8() + '\n');

        // The progress line is redrawn at most ten times a second, however often
        // the hash and the transfer report; a refused file ends with the server's
        // own explanation next to the status. 64 MiB, all of it a hole; hashing
        // reports every mebibyte.
        QFile big(file(u"big.bin"_qs, {}));
        QVERIFY(big.resize(64 << 20));
        QElapsedTimer clock;
        clock.start();
        Terminal terminal({u"upload"_qs, big.fileName()}, m_env);
        QCOMPARE(terminal.waitForExit(60000), 1);
        const qint64 elapsedMs = clock.elapsed();
        const QByteArray text = terminal.text();
        QVERIFY2(text.endsWith("Server error (413): The file is larger than the limit of 8388608 bytes\r\n"),
                 text.constData());
        const auto shown = std::ranges::count_if(text.split('\r'), [](const QByteArray &draw) {
            return draw.size() > 3 && !draw.contains("sendova:");
        });
        QVERIFY2(shown >= 1 && shown <= elapsedMs / 100 + 2,
                 qPrintable(QStringLiteral("%1 lines in %2 ms").arg(shown).arg(elapsedMs)));
        // A dumb terminal shows every code as text: it gets the messages alone.
        QProcessEnvironment dumbEnv = m_env;
        dumbEnv.insert(u"TERM"_qs, u"dumb"_qs);
        Terminal dumb({u"upload"_qs, big.fileName()}, dumbEnv);
        QCOMPARE(dumb.waitForExit(60000), 1);
        QVERIFY2(!dumb.text().replace("\r\n", "\n").contains('\r') && !dumb.text().contains('\x1b'),
                 dumb.text().constData());

        QCOMPARE(sendova({u"logout"_qs}).exitCode, 0);
        QCOMPARE(sendova({u"status"_qs}).exitCode, 2);
    }

    // One account at a time, whichever program stored it, and a locked keyring
    // that costs nothing: alice's key in the keyring from the desktop, bob's
    // over SSH (no bus) in config.json, uploads then go to bob; logout takes
    // both; a key given on standard input; a locked keyring named by status,
    // kept by logout, and refusing a setup link before its token is spent.
    void oneAccountForEveryProgram()
    {
        sendova::test::PrivateBus bus;
        QVERIFY(bus.start());
        const QTemporaryDir home;
        sendova::test::PrivateKeyring keyring(home.path(), bus.address());
        QVERIFY(keyring.start());
        QCOMPARE(admin({u"user"_qs, u"add"_qs, u"bob"_qs, u"--password-stdin"_qs}, "bob password\n").exitCode,
                 0);
        QProcessEnvironment desktop = m_env;
        desktop.insert(QStringLiteral("HOME"), home.path());
        desktop.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"), bus.address());
        QProcessEnvironment ssh = desktop;
        ssh.remove(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"));
        const QString configPath = home.filePath(QStringLiteral(".local/share/Sendova/config.json"));

        Outcome outcome = sendova({u"setup"_qs, setupLink()}, {}, desktop);
        QVERIFY2(outcome.exitCode == 0 && outcome.err.contains((u"Server: "_qs + m_url + u'\n').toUtf8()),
                 outcome.err.constData());
        outcome = sendova({u"login"_qs, u"--server"_qs, m_url + u"/"_qs, u"--user"_qs, u"bob"_qs,
                           u"--password-stdin"_qs, u"--insecure-storage"_qs},
                          "bob password\n", ssh);
        QCOMPARE(outcome.exitCode, 0);
        const QString account = QStringLiteral("Connected to %1 as bob (E2E Tenant)\n").arg(m_url);
        QCOMPARE(sendova({u"status"_qs}, {}, desktop).out,
                 (account + u"API key kept in "_qs + configPath + u'\n').toUtf8());
        const QByteArray link =
            sendova({u"upload"_qs, file(u"bob.txt"_qs, "for bob")}, {}, desktop).out.trimmed();
        QVERIFY(!link.isEmpty());
        QCOMPARE(uploader(link), QByteArray("bob"));

        QFile config(configPath);
        QVERIFY(config.open(QIODevice::ReadOnly));
        const QByteArray bobKey = QJsonDocument::fromJson(config.readAll())[u"apiKey"_qs].toString().toUtf8();
        outcome = sendova({u"logout"_qs}, {}, desktop);
        QVERIFY2(outcome.exitCode == 0 && outcome.err.contains("the API key in the keyring"),
                 outcome.err.constData());
        QCOMPARE(sendova({u"login"_qs, u"--server"_qs, m_url + u"//"_qs, u"--api-key-stdin"_qs},
                         bobKey + '\n', desktop)
                     .exitCode,
                 0);
        QCOMPARE(sendova({u"status"_qs}, {}, desktop).out,
                 (account + u"API key kept in the keyring\n"_qs).toUtf8());

        QVERIFY(keyring.lock());
        outcome = sendova({u"status"_qs}, {}, desktop);
        QVERIFY2(outcome.exitCode == 2 && outcome.err.contains("in the keyring, which is locked"),
                 outcome.err.constData());
        outcome = sendova({u"logout"_qs}, {}, desktop);
        QVERIFY2(outcome.exitCode == 1 && outcome.err.contains("Not removed: the API key in the keyring"),
                 outcome.err.constData());
        const QString link2 = setupLink();
        outcome = sendova({u"setup"_qs, link2}, {}, desktop);
        QVERIFY2(outcome.exitCode == 1 && outcome.err.contains("locked") &&
                     outcome.err.contains("--insecure-storage"),
                 outcome.err.constData());
        // The token is still good.
        outcome = sendova({u"setup"_qs, u"--insecure-storage"_qs, link2}, {}, ssh);
        QVERIFY2(outcome.exitCode == 0, outcome.err.constData());
    }

private:
    // Who the server recorded as the uploader of link.
    QByteArray uploader(const QByteArray &link) const
    {
        const QByteArray code = link.mid(link.lastIndexOf('/') + 1);
        return run(QStringLiteral("sqlite3"),
                   {m_serverData.filePath(u"sendova-server.db"_qs),
                    u"SELECT u.name FROM links l JOIN users u ON u.id = l.user_id WHERE l.short_code = '%1'"_qs
                        .arg(QString::fromLatin1(code))})
            .out.trimmed();
    }
    Outcome admin(const QStringList &args, const QByteArray &input = {}) const
    {
        return run(QStringLiteral(SENDOVA_SERVER_BINARY),
                   args + QStringList{u"--data"_qs, m_serverData.path()}, input);
    }
    // As the user of m_env unless env says otherwise.
    Outcome sendova(const QStringList &args, const QByteArray &input = {},
                    const std::optional<QProcessEnvironment> &env = {}) const
    {
        return run(QStringLiteral(SENDOVA_BINARY), args, input, env.value_or(m_env));
    }
    QString setupLink() const
    {
        return QString::fromUtf8(admin({u"setup-link"_qs, u"alice"_qs}).out).trimmed();
    }
    QString file(const QString &name, const QByteArray &content) const
    {
        QFile out(m_home.filePath(name));
        if (out.open(QIODevice::WriteOnly))
            out.write(content);
        return out.fileName();
    }

    QTemporaryDir m_serverData;
    QProcess m_server;
    QString m_url;
    QTemporaryDir m_home;
    QProcessEnvironment m_env = QProcessEnvironment::systemEnvironment();
};

QTEST_GUILESS_MAIN(EndToEndTest)
#include "EndToEndTest.moc"
