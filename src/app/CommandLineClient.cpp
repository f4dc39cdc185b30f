#include "app/CommandLineClient.h"

#include "app/CommandTable.h"
#include "app/NotificationService.h"
#include "app/PasswordPrompt.h"
#include "app/SetupLink.h"
#include "config/KeychainService.h"
#include "config/LoginService.h"
#include "model/AppViewModel.h"
#include "model/LoginFailure.h"
#include "model/SetupModel.h"
#include "net/HttpSession.h"
#include "platform/Clipboard.h"
#include "platform/DesktopNotifications.h"
#include "platform/ScreenshotPortal.h"
#include "platform/TerminationSignals.h"
#include "support/LogService.h"
#include "upload/HashService.h"

#include <QCommandLineParser>
#include <QDBusConnection>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>

#include <QCoroSignal>

#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace sendova {

namespace {

// The progress line is redrawn at most this often.
constexpr int progressRedrawMs = 100;

const CommandInfo *commandNamed(const QString &name)
{
    return findCommand(name.toStdString());
}

// The first failure to write to standard output (a full disk, a closed
// pipe): a result the user never got is no success.
int stdoutErrno = 0;

void write(FILE *stream, const QString &text)
{
    const QByteArray bytes = text.toLocal8Bit();
    const bool written =
        std::fwrite(bytes.constData(), 1, std::size_t(bytes.size()), stream) == std::size_t(bytes.size()) &&
        std::fflush(stream) == 0;
    if (!written && stream == stdout && stdoutErrno == 0)
        stdoutErrno = errno != 0 ? errno : EIO;
}

void out(const QString &line)
{
    write(stdout, line + QLatin1Char('\n'));
}

void err(const QString &line)
{
    write(stderr, line + QLatin1Char('\n'));
}

// Where ConfigService keeps its files, found without creating the folder:
// help must not leave anything behind.
QString dataFolder()
{
    return QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation) + QLatin1String("/Sendova");
}

QString usageText()
{
    // A call longer than the column puts its summary on the next line.
    constexpr int column = 30;
    QString text = QStringLiteral("Usage: sendova COMMAND [OPTIONS] [ARGUMENTS]\n\nCommands:\n");
    for (const CommandInfo &command : commands) {
        const QString call =
            (QString::fromUtf8(command.name) + QLatin1Char(' ') + QString::fromUtf8(command.syntax))
                .trimmed();
        const QString summary = QString::fromUtf8(command.summary);
        if (call.size() > column)
            text += QStringLiteral("  %1\n  %2  %3\n").arg(call, QString(column, QLatin1Char(' ')), summary);
        else
            text += QStringLiteral("  %1  %2\n").arg(call, -column).arg(summary);
    }
    const QString folder = dataFolder();
    text += QStringLiteral("\nOptions:\n"
                           "  -h, --help                      show this help; after a command, its own\n"
                           "  --version                       show the version\n"
                           "\n"
                           "Results (links, listings) go to standard output, messages to standard error.\n"
                           "Exit status: 0 done, 1 failed, 2 not configured or wrong usage,\n"
                           "130 on Ctrl-C, 143 on SIGTERM.\n"
                           "\n"
                           "Settings are kept in %1/config.json and recent uploads in\n"
                           "%1/recents.json; the API key is kept in the desktop's keyring\n"
                           "(Secret Service), or with --insecure-storage in config.json, which only\n"
                           "you can read. SENDOVA_SERVER overrides the configured server address.\n")
                .arg(folder);
    return text;
}

QCommandLineOption verboseOption(const char *what)
{
    return QCommandLineOption(QStringLiteral("verbose"), QString::fromUtf8(what));
}

QCommandLineOption insecureStorageOption()
{
    return QCommandLineOption(
        QStringLiteral("insecure-storage"),
        QStringLiteral("Keep the API key in config.json, readable only by you, instead of the keyring; "
                       "for sessions that have none (SSH, a machine without a desktop)."));
}

// Each command's options; every command takes --help.
void describe(QCommandLineParser &parser, const QString &command)
{
    parser.addOption(
        QCommandLineOption({QStringLiteral("h"), QStringLiteral("help")}, QStringLiteral("Show this help.")));
    if (command == QLatin1String("upload")) {
        parser.setApplicationDescription(
            QStringLiteral("Uploads each file and prints its link on a line of its own, in the order given.\n"
                           "A file that fails does not stop the others; the exit status is then 1."));
        parser.addOption(verboseOption("Print each upload's log on standard error."));
        parser.addOption(QCommandLineOption(
            QStringLiteral("clipboard"),
            QStringLiteral("Upload what the clipboard holds instead: its first copied file, an image "
                           "(as PNG) or text (as .txt). Needs a graphical session (X11 or Wayland).")));
        parser.addPositionalArgument(QStringLiteral("files"),
                                     QStringLiteral("The files to upload; put -- before names that "
                                                    "begin with a dash."),
                                     QStringLiteral("FILE…"));
    } else if (command == QLatin1String("screenshot")) {
        parser.setApplicationDescription(
            QStringLiteral("Asks the desktop for a screenshot through its portal (the desktop's own tool,\n"
                           "where you pick the area), uploads it and prints its link. Cancelling the\n"
                           "desktop's dialog prints nothing and exits 0. Without a screenshot portal\n"
                           "(xdg-desktop-portal and a backend for the desktop) it says so and exits 2.\n"
                           "For a keyboard shortcut of the desktop."));
        parser.addOption(verboseOption("Print the upload's log on standard error."));
    } else if (command == QLatin1String("login")) {
        parser.setApplicationDescription(
            QStringLiteral("Signs in with a user name and password and stores the API key the server "
                           "issues.\nThe password is asked for on the terminal."));
        parser.addOption(QCommandLineOption(QStringLiteral("server"), QStringLiteral("The server's address."),
                                            QStringLiteral("URL")));
        parser.addOption(QCommandLineOption(QStringLiteral("user"), QStringLiteral("The user name."),
                                            QStringLiteral("NAME")));
        parser.addOption(QCommandLineOption(QStringLiteral("password-stdin"),
                                            QStringLiteral("Read the password from standard input.")));
        parser.addOption(QCommandLineOption(
            QStringLiteral("api-key-stdin"),
            QStringLiteral("Connect with an existing API key, read from standard input, instead of "
                           "a user name and password.")));
        parser.addOption(insecureStorageOption());
        parser.addOption(verboseOption("Print the log, with the detail of a failure, on standard error."));
    } else if (command == QLatin1String("setup")) {
        parser.setApplicationDescription(
            QStringLiteral("Exchanges the one-time token of a setup link for an API key and stores it."));
        parser.addPositionalArgument(QStringLiteral("link"),
                                     QStringLiteral("A sendova://setup?token=…&server=… link."),
                                     QStringLiteral("LINK"));
        parser.addOption(insecureStorageOption());
        parser.addOption(verboseOption("Print the log, with the detail of a failure, on standard error."));
    } else if (command == QLatin1String("status")) {
        parser.setApplicationDescription(
            QStringLiteral("Asks the server whether it accepts the stored API key. When it does, prints\n"
                           "\"Connected to URL as USER (TENANT)\" and where the key is kept."));
        parser.addOption(verboseOption("Print the log, with the detail of a failure, on standard error."));
    } else if (command == QLatin1String("recent")) {
        parser.setApplicationDescription(
            QStringLiteral("Lists the recent uploads, newest first: link, file name and upload time (UTC),\n"
                           "separated by tabs."));
    } else if (command == QLatin1String("logout")) {
        parser.setApplicationDescription(
            QStringLiteral("Deletes the settings, the list of recent uploads, the API key and the autostart\n"
                           "entry, and says what could not be deleted (exit status 1 then)."));
    } else if (command == QLatin1String("help")) {
        parser.setApplicationDescription(QStringLiteral("Shows the help of a command, or the overview."));
        parser.addPositionalArgument(QStringLiteral("command"), QStringLiteral("A command's name."),
                                     QStringLiteral("[COMMAND]"));
    }
}

QString commandHelp(const CommandInfo &command)
{
    QCommandLineParser parser;
    describe(parser, QString::fromUtf8(command.name));
    // Qt's first line names the executable; ours names the command.
    const QString generated = parser.helpText();
    return QStringLiteral("Usage: sendova %1 %2")
               .arg(QString::fromUtf8(command.name), QString::fromUtf8(command.syntax))
               .trimmed() +
           generated.mid(generated.indexOf(QLatin1Char('\n')));
}

int usageError(const QString &message, const QString &command = QString())
{
    err(QStringLiteral("sendova: ") + message);
    err(command.isEmpty() ? QStringLiteral("Try 'sendova --help'.")
                          : QStringLiteral("Try 'sendova help %1'.").arg(command));
    return CommandLineClient::usage;
}

bool desktopSession()
{
    return qEnvironmentVariableIsSet("DISPLAY") || qEnvironmentVariableIsSet("WAYLAND_DISPLAY");
}

// "localhost:8080" names a server to a person, but to a URL parser it is
// the scheme "localhost" followed by a path.
bool lacksScheme(const QString &address)
{
    return !address.contains(QLatin1String("://"));
}

QString invalidAddress(const QString &address)
{
    return LoginError::invalidURL(address).description() + QLatin1String(": ") + address +
           (lacksScheme(address) ? QStringLiteral(" (add http:// or https:// in front of it)") : QString());
}

QString stateLine(const UploadProgress &progress)
{
    const UploadState &state = progress.state;
    if (const auto *hashing = state.get<UploadState::Hashing>())
        return QStringLiteral("%1  preparing %2%").arg(progress.fileName).arg(int(hashing->progress * 100));
    if (state.get<UploadState::CheckingDuplicate>())
        return QStringLiteral("%1  checking…").arg(progress.fileName);
    if (state.get<UploadState::Uploading>()) {
        // The multipart framing can carry the count past the file's size.
        return QStringLiteral("%1  %2%  %3  %4")
            .arg(progress.fileName)
            .arg(qMin(progress.percentage(), 100))
            .arg(progress.speedText(), progress.bytesUploaded >= progress.fileSize
                                           ? QStringLiteral("--:--")
                                           : progress.timeRemainingText());
    }
    return QString();
}

} // namespace

// While one lives, an interrupt ends the run at once: what the run waits on
// has nothing to stop or save.
class CommandLineClient::IdleScope
{
public:
    explicit IdleScope(CommandLineClient &client) : m_client(client) { ++m_client.m_idle; }
    ~IdleScope() { --m_client.m_idle; }
    IdleScope(const IdleScope &) = delete;
    IdleScope &operator=(const IdleScope &) = delete;

private:
    CommandLineClient &m_client;
};

CommandLineClient::CommandLineClient(QObject *parent) : QObject(parent)
{
    m_progressTimer.setSingleShot(true);
    connect(&m_progressTimer, &QTimer::timeout, this, &CommandLineClient::drawProgress);
}

CommandLineClient::~CommandLineClient() = default;

void CommandLineClient::start(QStringList arguments)
{
    m_execution = execute(std::move(arguments));
}

QCoro::Task<> CommandLineClient::execute(QStringList arguments)
{
    auto running = run(std::move(arguments));
    int code = co_await std::move(running);
    if (stdoutErrno != 0 && code == success) {
        err(QStringLiteral("sendova: could not write to standard output: ") +
            QString::fromLocal8Bit(std::strerror(stdoutErrno)));
        code = failure;
    }
    finish(m_stopCode.value_or(code));
}

void CommandLineClient::finish(int exitCode)
{
    if (m_finished)
        return;
    m_finished = true;
    clearProgress();
    QMetaObject::invokeMethod(
        this, [this, exitCode] { Q_EMIT finished(exitCode); }, Qt::QueuedConnection);
}

void CommandLineClient::interrupt(int signalNumber)
{
    if (m_stopCode)
        return;
    m_stopCode = TerminationSignals::exitCodeFor(signalNumber);
    if (m_prompt)
        m_prompt->abandon();
    if (m_idle > 0) {
        finish(*m_stopCode);
        return;
    }
    // Each stops at its next step; the run then ends with the stop code. A
    // key that a finished request brought is saved before the run ends.
    LoginService::shared().cancel();
    if (m_paste)
        m_paste->stop();
    if (m_model)
        m_model->cancelUpload();
}

QCoro::Task<int> CommandLineClient::run(QStringList arguments)
{
    const QString name = arguments.value(0);
    if (name == QLatin1String("--help") || name == QLatin1String("-h")) {
        write(stdout, usageText());
        co_return success;
    }
    const CommandInfo *command = commandNamed(name);
    if (!command) {
        co_return usageError(name.startsWith(QLatin1Char('-'))
                                 ? QStringLiteral("unknown option '%1'").arg(name)
                                 : QStringLiteral("unknown command '%1'").arg(name));
    }

    QCommandLineParser parser;
    describe(parser, name);
    // The first item stands for the program's name.
    if (!parser.parse(arguments))
        co_return usageError(name + QLatin1String(": ") + parser.errorText(), name);
    if (parser.isSet(QStringLiteral("help"))) {
        write(stdout, commandHelp(*command));
        co_return success;
    }
    const QStringList positional = parser.positionalArguments();
    // Only the options found: isSet() complains about those a command lacks.
    const QStringList found = parser.optionNames();
    const Options options{found.contains(QStringLiteral("verbose")),
                          found.contains(QStringLiteral("insecure-storage"))};
    if (name == QLatin1String("upload")) {
        const bool clipboard = found.contains(QStringLiteral("clipboard"));
        if (positional.isEmpty() != clipboard)
            co_return usageError(clipboard ? QStringLiteral("upload: --clipboard takes no file")
                                           : QStringLiteral("upload: no file given"),
                                 name);
        auto uploading = upload(positional, clipboard, options);
        co_return co_await std::move(uploading);
    }
    if (name == QLatin1String("help"))
        co_return help(positional);
    if (name == QLatin1String("setup")) {
        if (positional.size() != 1)
            co_return usageError(QStringLiteral("setup takes one link"), name);
        auto configuring = setup(positional.first(), options);
        co_return co_await std::move(configuring);
    }
    if (!positional.isEmpty())
        co_return usageError(QStringLiteral("%1 takes no arguments").arg(name), name);
    if (name == QLatin1String("login")) {
        const QString server = parser.value(QStringLiteral("server"));
        const QString user = parser.value(QStringLiteral("user"));
        const bool keyFromStdin = found.contains(QStringLiteral("api-key-stdin"));
        if (keyFromStdin && (!user.isEmpty() || found.contains(QStringLiteral("password-stdin"))))
            co_return usageError(
                QStringLiteral("login: --api-key-stdin takes neither --user nor --password-stdin"), name);
        if (server.isEmpty() || (user.isEmpty() && !keyFromStdin))
            co_return usageError(
                QStringLiteral("login needs --server and --user, or --server and --api-key-stdin"), name);
        auto signingIn = login(server, keyFromStdin ? std::optional<QString>() : user,
                               parser.isSet(QStringLiteral("password-stdin")), options);
        co_return co_await std::move(signingIn);
    }
    if (name == QLatin1String("screenshot")) {
        auto taking = screenshot(options);
        co_return co_await std::move(taking);
    }
    if (name == QLatin1String("status")) {
        auto testing = status(options);
        co_return co_await std::move(testing);
    }
    if (name == QLatin1String("recent"))
        co_return recent();
    auto removing = logout();
    co_return co_await std::move(removing);
}

int CommandLineClient::help(const QStringList &names)
{
    if (names.isEmpty()) {
        write(stdout, usageText());
        return success;
    }
    const CommandInfo *command = names.size() == 1 ? commandNamed(names.first()) : nullptr;
    if (!command)
        return usageError(QStringLiteral("help: no command '%1'").arg(names.join(QLatin1Char(' '))));
    write(stdout, commandHelp(*command));
    return success;
}

AppViewModel &CommandLineClient::model()
{
    if (m_model)
        return *m_model;
    DesktopActions actions;
    // The clipboard and notifications follow the settings when there is a
    // desktop to show them; on a bare terminal they are skipped quietly.
    if (desktopSession())
        actions.copyToClipboard = [this](const QString &text) {
            // Copied once, when the command ends.
            m_toCopy.append(text);
            return true;
        };
    actions.showUploadComplete = [this](const QString &name, const QString &url) {
        if (m_notify)
            NotificationService::shared().showUploadComplete(name, url);
    };
    actions.showDuplicate = [this](const QString &name, const QString &url) {
        if (m_notify)
            NotificationService::shared().showDuplicate(name, url);
    };
    actions.showError = [this](const QString &name, const QString &message) {
        if (m_notify)
            NotificationService::shared().showError(name, message);
    };
    m_model = std::make_unique<AppViewModel>(ConfigService::shared(), std::move(actions));
    return *m_model;
}

QCoro::Task<int> CommandLineClient::notConfigured(StoredAccount stored)
{
    const QString firstRun = QStringLiteral("Run 'sendova login --server URL --user NAME' or "
                                            "'sendova setup LINK' first.");
    if (!stored.fileProblem.isEmpty()) {
        err(QStringLiteral("sendova: not configured: %1. Correct or remove it; then %2")
                .arg(stored.fileProblem, firstRun.at(0).toLower() + firstRun.mid(1)));
        co_return usage;
    }
    // A file without a key of its own means the key was given to the keyring.
    if (QFileInfo::exists(ConfigService::shared().configURL()) && stored.config.apiKey.isEmpty()) {
        auto probing = KeychainService::lockedAsync();
        const std::optional<bool> locked = co_await std::move(probing);
        if (!locked) {
            err(QStringLiteral(
                "sendova: the API key is kept in the keyring, which this session cannot reach "
                "(no Secret Service on its session bus). Run the command in the desktop session, "
                "or sign in here with 'sendova login … --insecure-storage'."));
            co_return usage;
        }
        if (*locked) {
            err(QStringLiteral("sendova: the API key is kept in the keyring, which is locked. Unlock it "
                               "(log in to the desktop, or open the keyring) and try again, or sign in here "
                               "with 'sendova login … --insecure-storage'."));
            co_return usage;
        }
    }
    err(QStringLiteral("sendova: not configured yet. ") + firstRun);
    co_return usage;
}

QCoro::Task<> CommandLineClient::prepareNotifications()
{
    if (!model().config().showNotifications || !desktopSession())
        co_return;
    // Without a server that owns the name or can be started for it, a post
    // could only fail: skip them quietly.
    auto asking = DesktopNotifications::serverAvailable(QDBusConnection::sessionBus());
    m_notify = co_await std::move(asking);
    if (!m_notify)
        co_return;
    m_notificationsUsed = true;
    NotificationService &notifications = NotificationService::shared();
    notifications.setLinksOpenable(false);
    notifications.setErrorReporter([this](const QString &error) {
        // One line for the first failure (a server that could not be
        // started, say); the rest are not even tried.
        if (!m_notify)
            return;
        m_notify = false;
        clearProgress();
        err(QStringLiteral("sendova: notifications are not shown: ") + error);
    });
}

QCoro::Task<> CommandLineClient::waitForNotifications()
{
    if (!m_notificationsUsed)
        co_return;
    NotificationService &notifications = NotificationService::shared();
    // A notification still on its way to the server would be lost with the
    // process; give it a moment, never long.
    if (notifications.pendingPosts() > 0) {
        const IdleScope waiting(*this);
        auto idle = qCoro(&notifications, &NotificationService::idle, std::chrono::seconds(2));
        co_await std::move(idle);
    }
}

void CommandLineClient::scheduleProgress()
{
    if (m_progressTimer.isActive())
        return;
    const qint64 since = m_sinceProgressDrawn.isValid() ? m_sinceProgressDrawn.elapsed() : progressRedrawMs;
    if (since >= progressRedrawMs)
        drawProgress();
    else
        m_progressTimer.start(int(progressRedrawMs - since));
}

void CommandLineClient::drawProgress()
{
    if (!m_model)
        return;
    const QString line = stateLine(m_model->uploadProgress());
    write(stderr, QStringLiteral("\r\033[K") + line);
    m_progressShown = !line.isEmpty();
    m_sinceProgressDrawn.start();
}

void CommandLineClient::clearProgress()
{
    m_progressTimer.stop();
    if (!m_progressShown)
        return;
    write(stderr, QStringLiteral("\r\033[K"));
    m_progressShown = false;
}

int CommandLineClient::reportFailure(const QString &message, Options options)
{
    err(QStringLiteral("sendova: ") + message);
    if (options.verbose)
        write(stderr, LogService::shared().logText());
    return failure;
}

QCoro::Task<bool> CommandLineClient::keyCanBeKept(Options options)
{
    if (options.insecureStorage)
        co_return true;
    std::optional<KeyringReadiness> readiness;
    {
        // Nothing has been sent: an interrupt while the unlock prompt is up
        // ends the run at once.
        const IdleScope waiting(*this);
        auto unlocking = KeychainService::unlockAsync();
        readiness = co_await std::move(unlocking);
    }
    QString cause;
    switch (*readiness) {
    case KeyringReadiness::ready:
        co_return true;
    case KeyringReadiness::unavailable:
        cause = QStringLiteral("no keyring (Secret Service) runs in this session to keep the API key");
        break;
    case KeyringReadiness::lockedNoPrompter:
        cause = QStringLiteral("the keyring is locked, and no prompt to unlock it can be shown in this "
                               "session; unlock it from the desktop and try again");
        break;
    case KeyringReadiness::lockedDismissed:
        cause = QStringLiteral("the keyring is locked: the prompt to unlock it was dismissed");
        break;
    }
    err(QStringLiteral("sendova: %1. Nothing was sent. Or add --insecure-storage to keep the key in "
                       "%2/config.json, readable only by you.")
            .arg(cause, dataFolder()));
    co_return false;
}

QCoro::Task<int> CommandLineClient::upload(QStringList files, bool clipboard, Options options)
{
    // Every upload sends and most hash first: libcurl and OpenSSL are loaded
    // while the key is read from the keyring, not after it.
    m_preloading = std::async(std::launch::async, [] {
        HttpSession::preload();
        HashService::preload();
    });
    if (!model().config().isConfigured()) {
        auto loading = ConfigService::shared().loadAccountAsync();
        auto explaining = notConfigured(co_await std::move(loading));
        co_return co_await std::move(explaining);
    }
    QList<UploadStart> starts;
    if (clipboard) {
        if (qEnvironmentVariableIsEmpty("DISPLAY") && qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY")) {
            err(QStringLiteral("sendova: upload --clipboard needs a graphical session (X11 or Wayland) to "
                               "read the clipboard from"));
            co_return usage;
        }
        m_paste = std::make_unique<KeeperPaste>();
        auto reading = m_paste->read();
        const std::optional<ClipboardContent> content = co_await std::move(reading);
        if (m_stopCode)
            co_return *m_stopCode;
        if (!content) {
            err(QStringLiteral("sendova: the clipboard could not be read"));
            co_return failure;
        }
        starts << [content = *content](AppViewModel &model) { return model.startPasteUpload(content); };
        files = QStringList{QString()};
    }
    for (const QString &file : std::as_const(files)) {
        if (!clipboard) {
            const QUrl url = QUrl::fromLocalFile(QFileInfo(file).absoluteFilePath());
            starts << [url](AppViewModel &model) { return model.startUpload(url); };
        }
    }
    auto uploading = uploadEach(starts, files, options);
    co_return co_await std::move(uploading);
}

QCoro::Task<int> CommandLineClient::screenshot(Options options)
{
    if (!model().config().isConfigured()) {
        auto loading = ConfigService::shared().loadAccountAsync();
        auto explaining = notConfigured(co_await std::move(loading));
        co_return co_await std::move(explaining);
    }
    const QDBusConnection bus = QDBusConnection::sessionBus();
    auto asking = ScreenshotPortal::available(bus);
    if (!co_await std::move(asking)) {
        err(QStringLiteral("sendova: no screenshot portal on the session bus: this desktop runs no "
                           "xdg-desktop-portal with a screenshot backend"));
        co_return usage;
    }
    auto taking = ScreenshotPortal::take(bus);
    const ScreenshotPortal::Outcome outcome = co_await std::move(taking);
    if (m_stopCode)
        co_return *m_stopCode;
    // The user changed their mind: nothing to report.
    if (outcome.kind == ScreenshotPortal::Outcome::Kind::cancelled)
        co_return success;
    if (outcome.kind == ScreenshotPortal::Outcome::Kind::failed) {
        err(QStringLiteral("sendova: no screenshot: ") + outcome.reason);
        co_return failure;
    }
    const QUrl file = outcome.file;
    auto uploading = uploadEach({[file](AppViewModel &model) { return model.startScreenshotUpload(file); }},
                                {QString()}, options);
    co_return co_await std::move(uploading);
}

QCoro::Task<int> CommandLineClient::uploadEach(QList<UploadStart> starts, QStringList files, Options options)
{
    AppViewModel &model = this->model();
    auto preparing = prepareNotifications();
    co_await std::move(preparing);

    QMetaObject::Connection progressLine;
    // A dumb terminal (an editor's shell buffer) shows the redrawing codes as
    // text, one screenful per redraw.
    if (::isatty(STDERR_FILENO) && qgetenv("TERM") != "dumb")
        progressLine =
            connect(&model, &AppViewModel::uploadProgressChanged, this, &CommandLineClient::scheduleProgress);

    int result = success;
    for (qsizetype i = 0; i < starts.size(); ++i) {
        // Nobody gets the links of the rest once standard output fails.
        if (m_stopCode || stdoutErrno != 0)
            break;
        const QString file = files.value(i);
        auto uploading = starts[i](model);
        co_await std::move(uploading);
        if (m_stopCode)
            break;
        clearProgress();
        const UploadState &state = model.uploadProgress().state;
        if (const auto *completed = state.get<UploadState::Completed>()) {
            out(completed->url);
        } else if (const auto *failed = state.get<UploadState::Failed>()) {
            QString message = failed->message;
            // "Server error (413)" alone leaves the user guessing; the server
            // says what it refused.
            const std::optional<UploadFailure> &cause = model.lastFailure();
            if (cause && cause->serverStatus && !cause->serverMessage.isEmpty() &&
                !message.contains(cause->serverMessage))
                message += QLatin1String(": ") + cause->serverMessage;
            // File-system failures already name the file.
            const bool named = file.isEmpty() || message.startsWith(QFileInfo(file).absoluteFilePath());
            err(QStringLiteral("sendova: ") + (named ? QString() : file + QLatin1String(": ")) + message);
            result = failure;
        }
        if (options.verbose)
            err(LogService::shared().logText());
    }
    disconnect(progressLine);
    // One copy for the whole command: each copy starts a keeper that holds
    // its text until the session ends, and only the last could be pasted.
    // The links are on standard output all the same.
    if (!m_toCopy.isEmpty() && !m_stopCode &&
        !Clipboard::copyPersistently(m_toCopy.join(QLatin1Char('\n'))).confirmed())
        err(QStringLiteral("sendova: the link could not be copied to the clipboard"));
    if (!m_stopCode) {
        auto notifying = waitForNotifications();
        co_await std::move(notifying);
    }
    co_return result;
}

QCoro::Task<int> CommandLineClient::login(QString server, std::optional<QString> user, bool passwordFromStdin,
                                          Options options)
{
    SetupModel setup(model());
    setup.setServerUrl(server);
    setup.setKeyStorage(options.keyStorage());
    // The model sends to SENDOVA_SERVER when it is set.
    const QString address = setup.effectiveServerUrl();
    if (address != AppConfig::trimmedServerUrl(server))
        err(QStringLiteral("sendova: SENDOVA_SERVER is set: signing in to %1").arg(address));
    // Before the password is asked for: either would only fail after it.
    if (lacksScheme(address))
        co_return usageError(QStringLiteral("login: ") + invalidAddress(address), QStringLiteral("login"));
    auto checking = keyCanBeKept(options);
    if (!co_await std::move(checking) || m_stopCode)
        co_return failure;

    m_prompt = std::make_unique<PasswordPrompt>();
    std::optional<QString> secret;
    {
        // Nothing has been sent yet: an interrupt ends the run at once.
        const IdleScope waiting(*this);
        auto reading = m_prompt->read(passwordFromStdin || !user ? QString() : QStringLiteral("Password: "));
        secret = co_await std::move(reading);
    }
    m_prompt.reset();
    if (!secret || secret->trimmed().isEmpty())
        co_return usageError(user ? QStringLiteral("login: no password given; nothing was sent")
                                  : QStringLiteral("login: no API key on standard input; nothing was sent"),
                             QStringLiteral("login"));

    QCoro::Task<bool> signingIn;
    if (user) {
        setup.setUsername(*user);
        setup.setPassword(*secret);
        signingIn = setup.login();
    } else {
        // A key pasted with its line end, or with spaces around it, is still the key.
        setup.setApiKey(secret->trimmed());
        signingIn = setup.connectWithApiKey();
    }
    const bool signedIn = co_await std::move(signingIn);
    if (m_stopCode)
        co_return failure;
    if (!signedIn)
        co_return reportFailure(setup.errorMessage().value_or(QString()), options);
    err(user ? QStringLiteral("Signed in to %1 as %2.").arg(model().config()._serverUrl, *user)
             : QStringLiteral("Connected to %1 with the API key.").arg(model().config()._serverUrl));
    co_return success;
}

QCoro::Task<int> CommandLineClient::setup(QString text, Options options)
{
    const std::optional<SetupLink> link = SetupLink::parse(text);
    if (!link || link->serverRefused)
        co_return usageError(QStringLiteral("not a setup link: %1").arg(text), QStringLiteral("setup"));
    if (lacksScheme(link->serverUrl))
        co_return usageError(QStringLiteral("setup: ") + invalidAddress(link->serverUrl),
                             QStringLiteral("setup"));
    // A one-time token spent on a key that nothing can keep would be lost.
    auto checking = keyCanBeKept(options);
    if (!co_await std::move(checking) || m_stopCode)
        co_return failure;
    // The user typed the command, so the server is theirs to choose; still,
    // say where the key will come from before asking for it.
    err(QStringLiteral("Connecting to %1…").arg(link->serverUrl));
    SetupModel setup(model());
    setup.setKeyStorage(options.keyStorage());
    auto pending = setup.performSetup(link->token, link->serverUrl);
    const SetupOutcome outcome = co_await std::move(pending);
    if (m_stopCode)
        co_return failure;
    // A failure's title is the tray's alert title; the message says it all.
    if (!outcome.configured)
        co_return reportFailure(outcome.message, options);
    err(outcome.title);
    err(outcome.message);
    // The server's reply may name another address than the link did, and
    // that is where every upload will go.
    const QString stored = model().config()._serverUrl;
    err(QStringLiteral("Server: %1").arg(stored));
    const QString linkHost = QUrl(link->serverUrl).host();
    const QString storedHost = QUrl(stored).host();
    if (storedHost.compare(linkHost, Qt::CaseInsensitive) != 0)
        err(QStringLiteral(
                "sendova: warning: the server asked to be reached at %1, not at %2 as the link said")
                .arg(storedHost.isEmpty() ? stored : storedHost, linkHost));
    co_return success;
}

QCoro::Task<int> CommandLineClient::status(Options options)
{
    auto loading = ConfigService::shared().loadAccountAsync();
    const StoredAccount stored = co_await std::move(loading);
    if (m_stopCode)
        co_return failure;
    const AppConfig &config = stored.config;
    if (!config.isConfigured()) {
        auto explaining = notConfigured(stored);
        co_return co_await std::move(explaining);
    }
    const QString server = config.serverUrl();
    QString problem;
    try {
        auto pending = LoginService::shared().status(server, config.apiKey);
        const StatusReply reply = co_await std::move(pending);
        if (m_stopCode)
            co_return failure;
        if (reply.accepted() && !reply.recognized) {
            problem = QStringLiteral("%1 answered, but not like a Sendova server").arg(server);
        } else if (reply.accepted()) {
            QString line = QStringLiteral("Connected to %1").arg(server);
            if (reply.userName)
                line += QStringLiteral(" as %1").arg(*reply.userName);
            if (reply.tenantName)
                line += QStringLiteral(" (%1)").arg(*reply.tenantName);
            out(line);
            out(stored.keySource == KeySource::configFile
                    ? QStringLiteral("API key kept in %1").arg(ConfigService::shared().configURL())
                    : QStringLiteral("API key kept in the keyring"));
            co_return success;
        } else {
            // Only these are about the key; anything else is the server's to explain.
            problem = reply.keyRefused()
                          ? QStringLiteral("%1 did not accept the API key").arg(server)
                          : QStringLiteral("%1 answered with status %2").arg(server).arg(reply.statusCode);
            if (reply.serverMessage)
                problem += QLatin1String(": ") + *reply.serverMessage;
        }
    } catch (...) {
        const LoginFailure shown = LoginFailure::from(std::current_exception());
        problem =
            lacksScheme(server) ? invalidAddress(server) : server + QLatin1String(": ") + shown.description;
    }
    if (m_stopCode)
        co_return failure;
    co_return reportFailure(problem, options);
}

int CommandLineClient::recent()
{
    for (const RecentUpload &entry : model().recentUploads())
        out(entry.url + QLatin1Char('\t') + entry.fileName + QLatin1Char('\t') +
            RecentUpload::formatDate(entry.uploadedAt));
    return success;
}

QCoro::Task<int> CommandLineClient::logout()
{
    auto removing = ConfigService::shared().removeAccountAsync();
    const AccountRemoval removal = co_await std::move(removing);
    const QString removed = removal.removed.join(QLatin1String(", "));
    if (!removal.complete()) {
        err(QStringLiteral("sendova: not everything was removed. Not removed: %1.")
                .arg(removal.remaining.join(QLatin1String("; "))));
        if (!removed.isEmpty())
            err(QStringLiteral("Removed: %1.").arg(removed));
        co_return failure;
    }
    err(removed.isEmpty()
            ? QStringLiteral("Nothing to sign out of: no settings, recent uploads or API key were stored.")
            : QStringLiteral("Signed out. Removed: %1.").arg(removed));
    if (!removal.unchecked.isEmpty())
        err(QStringLiteral("Not checked: %1.").arg(removal.unchecked.join(QLatin1String("; "))));
    co_return success;
}

} // namespace sendova
