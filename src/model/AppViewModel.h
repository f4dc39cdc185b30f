#pragma once

#include "config/AppConfig.h"
#include "config/ConfigService.h"
#include "config/RecentUpload.h"
#include "model/DesktopActions.h"
#include "platform/ClipboardContent.h"
#include "upload/UploadProgress.h"
#include "upload/UploadService.h"
#include "upload/UploadTask.h"

#include <QList>
#include <QObject>
#include <QString>
#include <QUrl>

#include <QCoroTask>

#include <functional>
#include <memory>
#include <optional>

namespace sendova {

// What the last failed upload ran into, beyond the text its failed state
// shows: the command-line client prints the server's own words, and the
// technical detail is what the log carries.
struct UploadFailure
{
    // The failed state's text.
    QString description;
    // The technical rendering, as logged after "Failed: ".
    QString detail;
    // For a refusal by the server: its HTTP status (0 for a refusal inside a
    // successful reply) and its own explanation, when it gave one.
    std::optional<int> serverStatus;
    QString serverMessage;
    // The server's explanation as the popover and the notification show it
    // under the description: plain text on one line.
    QString explanation;
};

// The main program's observable state and its upload workflow. Lives on the
// main thread; progress from the hashing pool and the HTTP worker is handed
// over to that thread before it touches anything here.
//
// Setting a property to a value equal to the current one stores it and
// announces nothing.
class AppViewModel : public QObject
{
    Q_OBJECT
    Q_PROPERTY(sendova::AppConfig config READ config WRITE setConfig NOTIFY configChanged)
    Q_PROPERTY(QList<sendova::RecentUpload> recentUploads READ recentUploads WRITE setRecentUploads NOTIFY
                   recentUploadsChanged)
    Q_PROPERTY(sendova::UploadProgress uploadProgress READ uploadProgress WRITE setUploadProgress NOTIFY
                   uploadProgressChanged)
    Q_PROPERTY(bool showSettings READ showSettings WRITE setShowSettings NOTIFY showSettingsChanged)
    Q_PROPERTY(bool showSetup READ showSetup WRITE setShowSetup NOTIFY showSetupChanged)
    Q_PROPERTY(std::optional<QString> errorMessage READ errorMessage WRITE setErrorMessage NOTIFY
                   errorMessageChanged)
    Q_PROPERTY(std::shared_ptr<sendova::UploadTask> currentUploadTask READ currentUploadTask WRITE
                   setCurrentUploadTask NOTIFY currentUploadTaskChanged)

public:
    // Monotonic seconds; the speed meter and the thinning of progress reports
    // read it, so a test can drive them exactly.
    using Clock = std::function<double()>;

    // Transfer reports closer together than this are dropped.
    static constexpr double progressInterval = 0.1;
    // Expiry recorded when the server names none.
    static constexpr qint64 defaultLifetimeSeconds = 604800;

    // Loads the settings and the recent uploads. The key is read from the
    // keyring once per process: a program with an interface awaits
    // ConfigService::loadConfigAsync() first, so that this finds it known.
    explicit AppViewModel(ConfigService &configService = ConfigService::shared(), DesktopActions desktop = {},
                          QObject *parent = nullptr);

    const AppConfig &config() const { return m_config; }
    void setConfig(const AppConfig &config);
    const QList<RecentUpload> &recentUploads() const { return m_recentUploads; }
    void setRecentUploads(const QList<RecentUpload> &recentUploads);
    const UploadProgress &uploadProgress() const { return m_uploadProgress; }
    void setUploadProgress(const UploadProgress &uploadProgress);
    bool showSettings() const { return m_showSettings; }
    void setShowSettings(bool showSettings);
    bool showSetup() const { return m_showSetup; }
    void setShowSetup(bool showSetup);
    const std::optional<QString> &errorMessage() const { return m_errorMessage; }
    void setErrorMessage(const std::optional<QString> &errorMessage);
    const std::shared_ptr<UploadTask> &currentUploadTask() const { return m_currentUploadTask; }
    void setCurrentUploadTask(const std::shared_ptr<UploadTask> &task);

    // Starts upload() as a new task and makes it the current one. An upload
    // already running goes on.
    QCoro::Task<> startUpload(QUrl fileURL);
    // The workflow for one file, cancelled through task (one is made when
    // none is given). Never throws: every failure ends in the progress
    // state. Once its task is cancelled, an upload stops at its next step and
    // touches neither the progress nor the log of an upload started after it.
    QCoro::Task<> upload(QUrl fileURL, std::shared_ptr<UploadTask> task = {});
    // A paste (Ctrl+V, the tray's Upload Clipboard, `upload --clipboard`):
    // a file goes as a dropped one does; an image or text is uploaded from a
    // private file named for what it was, removed once the upload ends.
    // Nothing usable ends in the failed state, saying so.
    QCoro::Task<> startPasteUpload(ClipboardContent content);
    // The file a screenshot tool handed over, uploaded from a private copy
    // under our name for it.
    QCoro::Task<> startScreenshotUpload(QUrl file);
    // Set when an upload ends in the failed state, cleared when the next one
    // starts.
    const std::optional<UploadFailure> &lastFailure() const { return m_lastFailure; }

    // The popover's cancel action.
    void cancelUpload();
    // Back to the drop zone after a result or an error.
    void dismissResult();
    // Key to the keychain (or to config.json with KeyStorage::configFile),
    // the rest to config.json, and the login's autostart entry written or
    // taken away to match launchAtLogin. A failure lands in errorMessage and
    // leaves file, key and entry as they were; a success clears an earlier
    // save error.
    // Returns whether it saved. The awaitable forms are the ones for the
    // tray program, whose main thread must never wait on the keyring.
    QCoro::Task<bool> saveConfigAsync(KeyStorage storage = KeyStorage::keychain);
    bool saveConfig(KeyStorage storage = KeyStorage::keychain);
    QCoro::Task<> reloadFromDiskAsync();
    void reloadFromDisk();
    void addRecent(const RecentUpload &entry);
    // The recent-uploads section's clear button: the file goes too.
    void clearRecentUploads();
    // Forgets the account: settings, key, recent uploads and the autostart
    // entry, on disk and here, and asks for the setup again. Says what could
    // not be removed.
    QCoro::Task<AccountRemoval> logoutAsync();
    // Another program changed the stored account: take over what is stored
    // now. With no account left, the running upload stops, nothing more is
    // written and the setup is asked for.
    QCoro::Task<> followStoredAccountAsync();
    // Through the desktop's clipboard, when the program has one. Returns
    // whether the link is known to be on the clipboard.
    bool copyLink(const QString &url);
    // The link of the last upload when copying it was asked for and could
    // not be confirmed (a Wayland desktop that lets only the focused window
    // copy); empty once a copy succeeds.
    const QString &uncopiedLink() const { return m_uncopiedLink; }

    void setClock(Clock clock) { m_clock = std::move(clock); }
    void setUploadLimits(UploadSessionLimits limits) { m_uploadLimits = limits; }

Q_SIGNALS:
    void configChanged();
    void recentUploadsChanged();
    void uploadProgressChanged();
    void showSettingsChanged();
    void showSetupChanged();
    void errorMessageChanged();
    void currentUploadTaskChanged();

private:
    void setUploadState(const UploadState &state);
    // Logs the failure, shows it in the progress state and returns the
    // user-facing text (with the server's explanation, when it gave one).
    QString fail(const std::exception_ptr &failure);
    // fail(), and the notification that goes with it.
    void failAndTell(const QString &fileName, const std::exception_ptr &failure, bool notify);
    // What uploadStaged() stages: bytes, or a copy of the file at source.
    struct Staging
    {
        QByteArray bytes;
        QString source;
        // Set for an image to convert before its size is known.
        std::function<std::optional<QByteArray>(const QByteArray &)> toPng;
        bool unreadableImage = false;
    };
    // Stages the content and uploads it.
    QCoro::Task<> uploadStaged(QString name, Staging staging);
    // The largest upload the server takes; nothing when it does not say or
    // cannot be asked.
    static QCoro::Task<std::optional<qint64>> serverLimit(QString serverUrl, QString apiKey);
    void savedWith(const std::exception_ptr &failure);
    void forgetAccount();
    // The automatic copy at the end of an upload.
    void copyFinishedLink(const QString &url);

    AppConfig m_config;
    QList<RecentUpload> m_recentUploads;
    UploadProgress m_uploadProgress;
    bool m_showSettings = false;
    bool m_showSetup = false;
    std::optional<QString> m_errorMessage;
    ConfigService &m_configService;
    std::shared_ptr<UploadTask> m_currentUploadTask;
    std::optional<UploadFailure> m_lastFailure;
    // Counts the uploads started, so a cancelled one can tell whether a
    // newer one owns the progress and the log by now.
    quint64 m_uploadsStarted = 0;

    DesktopActions m_desktop;
    Clock m_clock;
    UploadSessionLimits m_uploadLimits;
    QString m_uncopiedLink;
};

} // namespace sendova
