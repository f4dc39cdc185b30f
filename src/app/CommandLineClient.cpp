#include "app/CommandLineClient.h"

#include "app/NotificationService.h"
#include "app/SetupLink.h"
#include "config/KeychainService.h"
#include "config/LoginService.h"
#include "platform/Clipboard.h"
#include "support/LocalizationService.h"
#include "support/LogService.h"
#include "model/AppViewModel.h"

#include <QCoreApplication>
#include <QDBusConnection>
#include <QFileInfo>
#include <QTimer>

#include <QCoroSignal>

#include <termios.h>
#include <unistd.h>

#include <cstdio>
#include <iostream>
#include <string>

namespace sendova {

namespace {

const char *const usageText =
    "Usage: sendova [COMMAND] [OPTIONS]\n"
    "\n"
    "Commands:\n"
    "  upload [--verbose] FILE...               upload files and print their links\n"
    "  login --server URL --user NAME [--password-stdin]\n"
    "                                           sign in and store the API key\n"
    "  setup LINK                               configure from a sendova://setup link\n"
    "  status                                   test the connection to the server\n"
    "  recent                                   list recent uploads (link, name, date)\n"
    "  logout                                   delete the settings, recent uploads and key\n"
    "  --help, --version\n"
    "\n"
    "Exit status: 0 done, 1 failed, 2 not configured or wrong usage, 130 interrupted.\n"
    "SENDOVA_SERVER overrides the configured server address.\n";

void out(const QString &text)
{
    std::cout << text.toStdString() << '\n' << std::flush;
}

void err(const QString &text)
{
    std::cerr << text.toStdString() << '\n' << std::flush;
}

bool desktopSession()
{
    return qEnvironmentVariableIsSet("DISPLAY") || qEnvironmentVariableIsSet("WAYLAND_DISPLAY");
}

// The clipboard and notifications follow the settings when there is a
// desktop to show them; on a bare terminal they are skipped quietly.
DesktopActions commandLineDesktop()
{
    DesktopActions actions;
    if (desktopSession()) {
        actions.copyToClipboard = [](const QString &text) { Clipboard::copyPersistently(text); };
    }
    if (desktopSession() && QDBusConnection::sessionBus().isConnected()) {
        NotificationService &notifications = NotificationService::shared();
        actions.showUploadComplete = [&notifications](const QString &name, const QString &url) {
            notifications.showUploadComplete(name, url);
        };
        actions.showDuplicate = [&notifications](const QString &name, const QString &url) {
            notifications.showDuplicate(name, url);
        };
        actions.showError = [&notifications](const QString &name, const QString &message) {
            notifications.showError(name, message);
        };
    }
    return actions;
}

// One line from standard input, without echo when it is a terminal.
QString readPassword(bool fromStdin)
{
    const bool terminal = !fromStdin && ::isatty(STDIN_FILENO);
    termios saved{};
    if (terminal) {
        std::cerr << "Password: " << std::flush;
        ::tcgetattr(STDIN_FILENO, &saved);
        termios quiet = saved;
        quiet.c_lflag &= ~tcflag_t(ECHO);
        ::tcsetattr(STDIN_FILENO, TCSAFLUSH, &quiet);
    }
    std::string line;
    std::getline(std::cin, line);
    if (terminal) {
        ::tcsetattr(STDIN_FILENO, TCSAFLUSH, &saved);
        std::cerr << '\n';
    }
    return QString::fromStdString(line);
}

// --name VALUE pairs; nothing when an option is unknown or lacks its value.
std::optional<QHash<QString, QString>> options(const QStringList &arguments, const QStringList &withValue,
                                               const QStringList &flags)
{
    QHash<QString, QString> found;
    for (qsizetype i = 0; i < arguments.size(); ++i) {
        const QString &name = arguments[i];
        if (flags.contains(name)) {
            found.insert(name, QString());
        } else if (withValue.contains(name) && i + 1 < arguments.size()) {
            found.insert(name, arguments[++i]);
        } else {
            return std::nullopt;
        }
    }
    return found;
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

bool CommandLineClient::handles(const QStringList &arguments)
{
    static const QStringList commands = {
        QStringLiteral("upload"), QStringLiteral("login"),  QStringLiteral("setup"),
        QStringLiteral("status"), QStringLiteral("recent"), QStringLiteral("logout"),
        QStringLiteral("--help"), QStringLiteral("-h"),     QStringLiteral("--version")};
    return !arguments.isEmpty() && commands.contains(arguments.first());
}

CommandLineClient::CommandLineClient(QObject *parent) : QObject(parent) {}

CommandLineClient::~CommandLineClient() = default;

void CommandLineClient::interrupt()
{
    m_interrupted = true;
    if (m_model)
        m_model->cancelUpload();
}

QCoro::Task<int> CommandLineClient::run(QStringList arguments)
{
    const QString command = arguments.value(0);
    arguments.removeFirst();
    if (command == QLatin1String("--help") || command == QLatin1String("-h")) {
        std::cout << usageText;
        co_return success;
    }
    if (command == QLatin1String("--version")) {
        out(QStringLiteral("sendova ") + QStringLiteral(SENDOVA_VERSION));
        co_return success;
    }

    m_model = std::make_unique<AppViewModel>(ConfigService::shared(), commandLineDesktop());
    if (command == QLatin1String("upload")) {
        auto pending = upload(arguments);
        co_return co_await std::move(pending);
    }
    if (command == QLatin1String("login")) {
        auto pending = login(arguments);
        co_return co_await std::move(pending);
    }
    if (command == QLatin1String("setup")) {
        auto pending = setup(arguments);
        co_return co_await std::move(pending);
    }
    if (!arguments.isEmpty()) {
        err(QStringLiteral("sendova: %1 takes no arguments").arg(command));
        co_return usage;
    }
    if (command == QLatin1String("status")) {
        auto pending = status();
        co_return co_await std::move(pending);
    }
    if (command == QLatin1String("recent"))
        co_return recent();
    if (command == QLatin1String("logout"))
        co_return logout();
    err(QStringLiteral("sendova: unknown command %1 (see sendova --help)").arg(command));
    co_return usage;
}

int CommandLineClient::notConfigured()
{
    err(QStringLiteral("sendova: not configured yet. Run 'sendova login --server URL --user NAME' "
                       "or 'sendova setup LINK' first."));
    return usage;
}

void CommandLineClient::showProgress()
{
    const QString line = stateLine(m_model->uploadProgress());
    std::cerr << "\r\033[K" << line.toStdString() << std::flush;
    m_progressShown = !line.isEmpty();
}

QCoro::Task<int> CommandLineClient::upload(QStringList arguments)
{
    const bool verbose = arguments.removeAll(QStringLiteral("--verbose")) > 0;
    if (arguments.isEmpty()) {
        err(QStringLiteral("sendova: upload needs at least one file"));
        co_return usage;
    }
    if (!m_model->config().isConfigured())
        co_return notConfigured();

    QMetaObject::Connection progressLine;
    if (::isatty(STDERR_FILENO))
        progressLine = connect(m_model.get(), &AppViewModel::uploadProgressChanged, this,
                               &CommandLineClient::showProgress);

    int result = success;
    for (const QString &file : std::as_const(arguments)) {
        if (m_interrupted)
            break;
        const QUrl url = QUrl::fromLocalFile(QFileInfo(file).absoluteFilePath());
        auto pending = m_model->startUpload(url);
        co_await std::move(pending);
        if (m_progressShown) {
            std::cerr << "\r\033[K" << std::flush;
            m_progressShown = false;
        }
        const UploadState &state = m_model->uploadProgress().state;
        if (const auto *completed = state.get<UploadState::Completed>()) {
            out(completed->url);
        } else if (const auto *failed = state.get<UploadState::Failed>()) {
            // File-system failures already name the file.
            const bool named = failed->message.startsWith(url.toLocalFile());
            err(QStringLiteral("sendova: ") + (named ? QString() : file + QLatin1String(": ")) +
                failed->message);
            result = failure;
        }
        if (verbose)
            err(LogService::shared().logText());
    }
    disconnect(progressLine);
    auto notifying = waitForNotifications();
    co_await std::move(notifying);
    co_return m_interrupted ? int(interrupted) : result;
}

QCoro::Task<> CommandLineClient::waitForNotifications()
{
    if (!desktopSession() || !QDBusConnection::sessionBus().isConnected())
        co_return;
    NotificationService &notifications = NotificationService::shared();
    // A notification still on its way to the server would be lost with the
    // process; give it a moment, never long.
    if (notifications.pendingPosts() > 0) {
        auto idle = qCoro(&notifications, &NotificationService::idle, std::chrono::seconds(2));
        co_await std::move(idle);
    }
}

QCoro::Task<int> CommandLineClient::login(QStringList arguments)
{
    const auto given = options(arguments, {QStringLiteral("--server"), QStringLiteral("--user")},
                               {QStringLiteral("--password-stdin")});
    if (!given || !given->contains(QStringLiteral("--server")) ||
        !given->contains(QStringLiteral("--user"))) {
        err(QStringLiteral("Usage: sendova login --server URL --user NAME [--password-stdin]"));
        co_return usage;
    }
    const QString server = given->value(QStringLiteral("--server"));
    const QString user = given->value(QStringLiteral("--user"));
    const QString password = readPassword(given->contains(QStringLiteral("--password-stdin")));

    LoginResponse reply;
    try {
        auto pending = LoginService::shared().login(server, user, password);
        reply = co_await std::move(pending);
    } catch (const Error &error) {
        err(QStringLiteral("sendova: ") + error.description());
        co_return failure;
    }
    if (!reply.success || !reply.data || !reply.data->apiKey) {
        QString message = LocalizationService::shared().localized("error.connection_failed");
        if (reply.error) {
            if (reply.error->code == QLatin1String("INVALID_CREDENTIALS"))
                message = LocalizationService::shared().localized("error.invalid_credentials");
            else if (reply.error->code == QLatin1String("TENANT_INACTIVE"))
                message = LocalizationService::shared().localized("error.tenant_inactive");
            else
                message = reply.error->message;
        }
        err(QStringLiteral("sendova: ") + message);
        co_return failure;
    }

    AppConfig config = m_model->config();
    config._serverUrl = reply.data->serverUrl.value_or(server);
    config.apiKey = *reply.data->apiKey;
    m_model->setConfig(config);
    m_model->saveConfig();
    if (m_model->errorMessage()) {
        err(QStringLiteral("sendova: ") + *m_model->errorMessage());
        co_return failure;
    }
    out(QStringLiteral("Signed in to %1 as %2.")
            .arg(reply.data->tenantName.value_or(config._serverUrl), reply.data->userName.value_or(user)));
    co_return success;
}

QCoro::Task<int> CommandLineClient::setup(QStringList arguments)
{
    if (arguments.size() != 1) {
        err(QStringLiteral("Usage: sendova setup LINK"));
        co_return usage;
    }
    const std::optional<SetupLink> link = SetupLink::parse(arguments.first());
    if (!link) {
        err(QStringLiteral("sendova: not a setup link: %1").arg(arguments.first()));
        co_return usage;
    }
    // The user typed the command, so the server is theirs to choose; still,
    // say where the key will come from before asking for it.
    err(QStringLiteral("Connecting to %1…").arg(link->serverUrl));
    auto pending = performSetup(*m_model, link->token, link->serverUrl);
    const SetupOutcome outcome = co_await std::move(pending);
    if (!outcome.configured) {
        err(outcome.title + QLatin1String(": ") + outcome.message);
        co_return failure;
    }
    out(outcome.title);
    out(outcome.message);
    co_return success;
}

QCoro::Task<int> CommandLineClient::status()
{
    const AppConfig &config = m_model->config();
    if (!config.isConfigured())
        co_return notConfigured();
    const QString server = config.serverUrl();
    try {
        auto pending = LoginService::shared().testConnection(server, config.apiKey);
        if (co_await std::move(pending)) {
            out(QStringLiteral("Connected to %1").arg(server));
            co_return success;
        }
        err(QStringLiteral("sendova: %1 did not accept the API key").arg(server));
    } catch (const Error &error) {
        err(QStringLiteral("sendova: %1: %2").arg(server, error.description()));
    }
    co_return failure;
}

int CommandLineClient::recent()
{
    for (const RecentUpload &entry : m_model->recentUploads())
        out(entry.url + QLatin1Char('\t') + entry.fileName + QLatin1Char('\t') +
            RecentUpload::formatDate(entry.uploadedAt));
    return success;
}

int CommandLineClient::logout()
{
    ConfigService::shared().deleteAllData();
    out(QStringLiteral("Signed out; settings, recent uploads and the API key were deleted."));
    return success;
}

} // namespace sendova
