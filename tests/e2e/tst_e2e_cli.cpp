// The command-line client driven end to end against a real sendova-server:
// exit codes, what lands on stdout and stderr, and links whose bytes come back
// exactly as they were uploaded.

#include <httplib.h>

#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QUrl>
#include <QtTest>

#include <arpa/inet.h>
#include <memory>
#include <netinet/in.h>
#include <sys/socket.h>
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
// fails instead of waiting on whoever runs the tests.
Outcome run(const QString &program, const QStringList &args, const QProcessEnvironment &env,
            const QByteArray &input = {})
{
    QProcess process;
    process.setChildProcessModifier([] { ::setsid(); });
    process.setProcessEnvironment(env);
    process.start(program, args);
    if (!process.waitForStarted()) {
        return {};
    }
    process.write(input);
    process.closeWriteChannel();
    if (!process.waitForFinished(Timeout)) {
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
        auto env = m_env;
        if (!serverOverride.isEmpty()) {
            env.insert(QStringLiteral("SENDOVA_SERVER"), serverOverride);
        }
        return run(ClientBinary, args, env, input);
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
};

void EndToEndTest::withoutServer_data()
{
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QByteArray>("out");
    QTest::addColumn<QByteArray>("err");
    const QString anyFile = QCoreApplication::applicationFilePath();
    QTest::newRow("--version") << QStringList{QStringLiteral("--version")} << 0
                               << QByteArray("sendova " SENDOVA_VERSION "\n") << QByteArray();
    QTest::newRow("--help") << QStringList{QStringLiteral("--help")} << 0 << QByteArray("upload")
                            << QByteArray();
    QTest::newRow("unknown command") << QStringList{QStringLiteral("launch")} << 2 << QByteArray()
                                     << QByteArray("sendova --help");
    QTest::newRow("status unconfigured")
        << QStringList{QStringLiteral("status")} << 2 << QByteArray() << QByteArray("sendova setup");
    QTest::newRow("upload unconfigured")
        << QStringList{QStringLiteral("upload"), anyFile} << 2 << QByteArray() << QByteArray("sendova setup");
    QTest::newRow("recent, nothing yet")
        << QStringList{QStringLiteral("recent")} << 0 << QByteArray() << QByteArray();
}

// An empty expectation for a stream requires that stream to be empty: a
// script reading stdout must get nothing but what it asked for.
void EndToEndTest::withoutServer()
{
    QFETCH(QStringList, args);
    QFETCH(int, exitCode);
    QFETCH(QByteArray, out);
    QFETCH(QByteArray, err);
    const Client client;
    const auto outcome = client.sendova(args);
    QCOMPARE(outcome.exitCode, exitCode);
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
    if (exitCode == 0) {
        QCOMPARE(outcome.lines().size(), 1);
        QCOMPARE(client.status(), 0);
    } else {
        QCOMPARE(outcome.out, QByteArray());
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
                                << QByteArray("Error de Setup: This setup link has already been used; ask "
                                              "for a new one\n");
    QTest::newRow("unknown token") << QStringLiteral(
                                          "sendova://setup?token=N0tAT0kenTheServerGave&server={server}")
                                   << false << 1
                                   << QByteArray("Error de Setup: This setup link is not valid\n");
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
    if (exitCode == 0) {
        QCOMPARE(outcome.out, QByteArray("Sendova Configured\nConnected to: ") + Tenant.toUtf8() +
                                  QByteArray("\nUser: ") + UserName.toUtf8() + '\n');
    } else {
        QCOMPARE(outcome.out, QByteArray());
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
    QStringList uploadedNames;
    QList<QByteArray> uploaded;
    for (qsizetype i = 0; i < names.size(); ++i) {
        if (contents[i].isNull()) {
            args << client.path(names[i]);
        } else {
            args << client.file(names[i], contents[i]);
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
    QFile config(client.dataFile(QStringLiteral("config.json")));
    QVERIFY(config.open(QIODevice::ReadWrite));
    auto settings = QJsonDocument::fromJson(config.readAll()).object();
    QVERIFY(settings.contains(QStringLiteral("checkForDuplicates")));
    settings[QStringLiteral("checkForDuplicates")] = checkForDuplicates;
    config.resize(0);
    config.write(QJsonDocument(settings).toJson());
    config.close();

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

QTEST_GUILESS_MAIN(EndToEndTest)
#include "tst_e2e_cli.moc"
