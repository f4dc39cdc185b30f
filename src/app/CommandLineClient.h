#pragma once

#include "config/ConfigService.h"

#include <QElapsedTimer>
#include <QObject>
#include <QStringList>
#include <QTimer>

#include <QCoroTask>

#include <functional>
#include <future>
#include <memory>
#include <optional>

class QCommandLineParser;

namespace sendova {

class AppViewModel;
class KeeperPaste;
class PasswordPrompt;

// `sendova <command> …`: the same configuration, keychain, workflow and
// recent uploads as the tray program, without a display.
//
// Standard output carries results only (links, the listing of `recent`, the
// answer of `status`); everything else goes to standard error. Exit codes:
// 0 done, 1 failed, 2 not configured or wrong usage, 128 + the signal
// (130 for Ctrl-C, 143 for SIGTERM) when interrupted.
//
// Everything it says is English, whatever language the tray program is set
// to: its texts have no translations, and one language throughout beats a
// mix of the two.
class CommandLineClient : public QObject
{
    Q_OBJECT

public:
    enum ExitCode { success = 0, failure = 1, usage = 2 };

    explicit CommandLineClient(QObject *parent = nullptr);
    ~CommandLineClient() override;

    // Runs the command in arguments (without the program name); finished()
    // reports its exit code.
    void start(QStringList arguments);

    // A terminating signal: the request or upload in flight is cancelled,
    // and the command ends as soon as it has stopped, after saving what it
    // had already obtained (a key, a recent upload). While it waits on
    // something with nothing to stop (the password prompt, notifications on
    // their way), it ends at once.
    void interrupt(int signalNumber);
    bool wasInterrupted() const { return m_stopCode.has_value(); }

Q_SIGNALS:
    // Once per run, queued so that a command that needs no waiting still
    // reaches a running event loop.
    void finished(int exitCode);

private:
    QCoro::Task<> execute(QStringList arguments);
    QCoro::Task<int> run(QStringList arguments);
    // The options of the commands that reach the server.
    struct Options
    {
        // The log (and with it the technical detail of a failure) on stderr.
        bool verbose = false;
        // The key in config.json rather than the keyring.
        bool insecureStorage = false;

        KeyStorage keyStorage() const
        {
            return insecureStorage ? KeyStorage::configFile : KeyStorage::keychain;
        }
    };

    // What `upload` sends: the files named, or the clipboard's content.
    QCoro::Task<int> upload(QStringList files, bool clipboard, Options options);
    QCoro::Task<int> screenshot(Options options);
    // The uploads of one command, each started by one call on the model;
    // files names each in failure lines (empty for content without a file).
    using UploadStart = std::function<QCoro::Task<>(AppViewModel &)>;
    QCoro::Task<int> uploadEach(QList<UploadStart> starts, QStringList files, Options options);
    // Without a user, connects with an API key read from standard input.
    QCoro::Task<int> login(QString server, std::optional<QString> user, bool passwordFromStdin,
                           Options options);
    QCoro::Task<int> setup(QString link, Options options);
    QCoro::Task<int> status(Options options);
    int recent();
    QCoro::Task<int> logout();
    int help(const QStringList &commands);
    // Names why there is no usable account: a damaged settings file, a
    // keyring this session cannot reach or that is locked, or no setup yet.
    QCoro::Task<int> notConfigured(StoredAccount stored);
    // False, with the reason on stderr, when nothing could keep a key.
    QCoro::Task<bool> keyCanBeKept(Options options);
    // The failure's line, then the log with --verbose.
    int reportFailure(const QString &message, Options options);

    AppViewModel &model();
    QCoro::Task<> prepareNotifications();
    QCoro::Task<> waitForNotifications();
    void scheduleProgress();
    void drawProgress();
    void clearProgress();
    void finish(int exitCode);

    // Waiting on something with nothing to stop or save: an interrupt ends
    // the run at once.
    class IdleScope;
    int m_idle = 0;

    std::unique_ptr<AppViewModel> m_model;
    std::future<void> m_preloading;
    std::unique_ptr<PasswordPrompt> m_prompt;
    // Reads the clipboard for upload --clipboard.
    std::unique_ptr<KeeperPaste> m_paste;
    QCoro::Task<> m_execution;
    std::optional<int> m_stopCode;
    bool m_finished = false;
    // A notification server answers; cleared after the first failed post,
    // which is reported once.
    bool m_notify = false;
    bool m_notificationsUsed = false;
    // The links to copy, all at once when the command ends.
    QStringList m_toCopy;

    bool m_progressShown = false;
    QElapsedTimer m_sinceProgressDrawn;
    QTimer m_progressTimer;
};

} // namespace sendova
