#include "model/AppViewModel.h"

#include "config/LoginService.h"
#include "net/FileError.h"
#include "net/HttpSession.h"
#include "platform/AutostartEntry.h"
#include "support/LocalizationService.h"
#include "support/LogService.h"
#include "support/ShownText.h"
#include "support/StrictJson.h"
#include "upload/HashService.h"
#include "upload/StagedFile.h"
#include "upload/UploadError.h"

#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
#include <QLocale>
#include <QPointer>
#include <QPromise>
#include <QThreadPool>

#include <QCoroFuture>

#include <sys/stat.h>

#include <cerrno>
#include <chrono>
#include <cstring>

namespace sendova {

namespace {

// The server's own words, shown under the failed state's line: one plain
// paragraph, with nothing in it that could break or disguise the text
// around it (line breaks, escapes, bidirectional overrides).
QString plainServerMessage(const QString &message)
{
    QString plain;
    plain.reserve(message.size());
    for (const QChar c : message) {
        const QChar::Category category = c.category();
        if (category == QChar::Other_Control || category == QChar::Other_Format ||
            category == QChar::Separator_Line || category == QChar::Separator_Paragraph)
            plain += QLatin1Char(' ');
        else
            plain += c;
    }
    return plain.simplified();
}

void log(const char *level, const char *category, const QString &message)
{
    LogService::shared().log(QLatin1String(level), QLatin1String(category), message);
}

// Runs change on the main thread, unless the view model is gone by then.
// Called from the hashing pool and the HTTP worker.
void onMainThread(const QPointer<AppViewModel> &model, std::function<void(AppViewModel &)> change)
{
    QMetaObject::invokeMethod(
        QCoreApplication::instance(),
        [model, change = std::move(change)] {
            if (model)
                change(*model);
        },
        Qt::QueuedConnection);
}

double steadySeconds()
{
    using namespace std::chrono;
    return duration<double>(steady_clock::now().time_since_epoch()).count();
}

// What tells whether a file was changed or replaced, without reading it
// again: an edit moves the modification time, a save by rename brings
// another inode.
struct FileStamp
{
    qint64 size = 0;
    ino_t inode = 0;
    timespec modified{};
    timespec changed{};

    static FileStamp of(const struct stat &attributes)
    {
        return FileStamp{qint64(attributes.st_size), attributes.st_ino, attributes.st_mtim,
                         attributes.st_ctim};
    }
    bool operator==(const FileStamp &other) const
    {
        return size == other.size && inode == other.inode && modified.tv_sec == other.modified.tv_sec &&
               modified.tv_nsec == other.modified.tv_nsec && changed.tv_sec == other.changed.tv_sec &&
               changed.tv_nsec == other.changed.tv_nsec;
    }
};

FileStamp regularFileStamp(const QString &path)
{
    struct stat attributes
    {
    };
    if (::stat(QFile::encodeName(path).constData(), &attributes) != 0)
        throw FileError::fromErrno(path, errno);
    if (std::optional<FileError> refusal = notRegularFile(path, attributes.st_mode))
        throw *refusal;
    return FileStamp::of(attributes);
}

bool changedSince(const QString &path, const FileStamp &stamp)
{
    struct stat attributes
    {
    };
    return ::stat(QFile::encodeName(path).constData(), &attributes) != 0 ||
           !(FileStamp::of(attributes) == stamp);
}

// The file was written to or replaced between its hash and the end of its
// transfer, so what went out is not what was hashed (the server refuses
// such an upload) or not all of it. Whatever the failure itself said, this
// is what the user can act on.
class FileChangedError : public Error
{
public:
    FileChangedError(const QString &fileName, const QString &failure)
        : Error(QLatin1String("fileChanged: ") + failure), m_fileName(fileName)
    {}
    QString description() const override { return localizedFormat("error.file_changed", m_fileName); }

private:
    QString m_fileName;
};

class NothingToPasteError : public Error
{
public:
    NothingToPasteError() : Error(QStringLiteral("the clipboard holds no file, image or text")) {}
    QString description() const override
    {
        return LocalizationService::shared().localized("error.clipboard.empty");
    }
};

// An image on the clipboard that decodes in no format offered: said so,
// rather than sending the text that came with it.
class UnreadableImageError : public Error
{
public:
    UnreadableImageError() : Error(QStringLiteral("the clipboard's image could not be decoded")) {}
    QString description() const override
    {
        return LocalizationService::shared().localized("error.clipboard.unreadable_image");
    }
};

struct StagingOutcome
{
    std::shared_ptr<StagedFile> file;
    std::exception_ptr failure;
};

// Runs work on the shared pool of threads; the future's result reaches a
// coroutine through the event loop.
template<typename Work>
auto onWorker(Work work) -> QFuture<decltype(work())>
{
    using Result = decltype(work());
    auto promise = std::make_shared<QPromise<Result>>();
    QFuture<Result> future = promise->future();
    promise->start();
    QThreadPool::globalInstance()->start([promise, work = std::move(work)]() mutable {
        promise->addResult(work());
        promise->finish();
    });
    return future;
}

// Refused before anything is hashed or sent: the server would refuse it
// only once all of it had arrived.
class ContentTooLargeError : public Error
{
public:
    ContentTooLargeError(const QString &name, qint64 size, qint64 limit)
        : Error(QStringLiteral("%1: %2 bytes, the server takes at most %3").arg(name).arg(size).arg(limit)),
          m_name(name), m_limit(limit)
    {}
    QString description() const override
    {
        return localizedFormat("error.upload.too_large", m_name, QLocale().formattedDataSize(m_limit));
    }

private:
    QString m_name;
    qint64 m_limit;
};

// Detaches the transfer from the task's cancel action however the step ends.
struct AbortScope
{
    // A cancel that came before the request could be aborted ends the step
    // here, since aborting reaches only requests already sent.
    AbortScope(UploadTask &task, const std::shared_ptr<UploadService> &service) : m_task(task)
    {
        m_task.setAbortHandler([service] { service->cancel(); });
        if (m_task.isCancelled()) {
            m_task.setAbortHandler({});
            throw CancellationError();
        }
    }
    ~AbortScope() { m_task.setAbortHandler({}); }
    AbortScope(const AbortScope &) = delete;
    AbortScope &operator=(const AbortScope &) = delete;

private:
    UploadTask &m_task;
};

// The last accepted transfer report; touched on the main thread only.
struct SpeedMeter
{
    double time = 0;
    qint64 bytes = 0;
};

// The login entry follows the setting. Throws ConfigSaveError.
void applyAutostart(bool enabled)
{
    if (const std::optional<AutostartEntry::Failure> failure = AutostartEntry::setEnabled(enabled))
        throw ConfigSaveError(FileWriteError(failure->path, failure->reason));
}

} // namespace

AppViewModel::AppViewModel(ConfigService &configService, DesktopActions desktop, QObject *parent)
    : QObject(parent), m_configService(configService), m_desktop(std::move(desktop)), m_clock(steadySeconds)
{
    m_config = m_configService.loadConfig();
    m_recentUploads = m_configService.loadRecentUploads();
    if (!m_config.isConfigured())
        m_showSetup = true;
}

void AppViewModel::setConfig(const AppConfig &config)
{
    const bool changed = config != m_config;
    m_config = config;
    if (changed)
        Q_EMIT configChanged();
}

void AppViewModel::setRecentUploads(const QList<RecentUpload> &recentUploads)
{
    const bool changed = recentUploads != m_recentUploads;
    m_recentUploads = recentUploads;
    if (changed)
        Q_EMIT recentUploadsChanged();
}

void AppViewModel::setUploadProgress(const UploadProgress &uploadProgress)
{
    const bool changed = uploadProgress != m_uploadProgress;
    m_uploadProgress = uploadProgress;
    if (changed)
        Q_EMIT uploadProgressChanged();
}

void AppViewModel::setShowSettings(bool showSettings)
{
    const bool changed = showSettings != m_showSettings;
    m_showSettings = showSettings;
    if (changed)
        Q_EMIT showSettingsChanged();
}

void AppViewModel::setShowSetup(bool showSetup)
{
    const bool changed = showSetup != m_showSetup;
    m_showSetup = showSetup;
    if (changed)
        Q_EMIT showSetupChanged();
}

void AppViewModel::setErrorMessage(const std::optional<QString> &errorMessage)
{
    const bool changed = errorMessage != m_errorMessage;
    m_errorMessage = errorMessage;
    if (changed)
        Q_EMIT errorMessageChanged();
}

void AppViewModel::setCurrentUploadTask(const std::shared_ptr<UploadTask> &task)
{
    const bool changed = task != m_currentUploadTask;
    m_currentUploadTask = task;
    if (changed)
        Q_EMIT currentUploadTaskChanged();
}

void AppViewModel::setUploadState(const UploadState &state)
{
    UploadProgress progress = m_uploadProgress;
    progress.state = state;
    setUploadProgress(progress);
}

QCoro::Task<> AppViewModel::startUpload(QUrl fileURL)
{
    auto task = std::make_shared<UploadTask>();
    setCurrentUploadTask(task);
    return upload(std::move(fileURL), std::move(task));
}

void AppViewModel::cancelUpload()
{
    if (m_currentUploadTask)
        m_currentUploadTask->cancel();
    setCurrentUploadTask(nullptr);
    setUploadProgress(UploadProgress{});
}

void AppViewModel::dismissResult()
{
    setUploadProgress(UploadProgress{});
}

void AppViewModel::savedWith(const std::exception_ptr &failure)
{
    if (!failure) {
        setErrorMessage(std::nullopt);
        return;
    }
    try {
        std::rethrow_exception(failure);
    } catch (const Error &error) {
        // The system's reason is English and technical: the log keeps it.
        log("ERROR", "Config", error.technicalText());
        setErrorMessage(error.description());
    }
}

QCoro::Task<bool> AppViewModel::saveConfigAsync(KeyStorage storage)
{
    QPointer<AppViewModel> self(this);
    const bool autostarted = AutostartEntry::isEnabled();
    std::exception_ptr failure;
    try {
        // The entry first: when it cannot be written, nothing else changes.
        applyAutostart(m_config.launchAtLogin);
        auto saving = m_configService.saveConfigAsync(m_config, storage);
        co_await std::move(saving);
    } catch (const Error &) {
        failure = std::current_exception();
    }
    if (failure)
        AutostartEntry::setEnabled(autostarted);
    if (!self)
        co_return !failure;
    savedWith(failure);
    co_return !failure;
}

bool AppViewModel::saveConfig(KeyStorage storage)
{
    const bool autostarted = AutostartEntry::isEnabled();
    std::exception_ptr failure;
    try {
        applyAutostart(m_config.launchAtLogin);
        m_configService.saveConfig(m_config, storage);
    } catch (const Error &) {
        failure = std::current_exception();
        AutostartEntry::setEnabled(autostarted);
    }
    savedWith(failure);
    return !failure;
}

QCoro::Task<> AppViewModel::reloadFromDiskAsync()
{
    QPointer<AppViewModel> self(this);
    auto loading = m_configService.loadConfigAsync();
    const AppConfig config = co_await std::move(loading);
    if (!self)
        co_return;
    setConfig(config);
    setRecentUploads(m_configService.loadRecentUploads());
}

void AppViewModel::reloadFromDisk()
{
    setConfig(m_configService.loadConfig());
    setRecentUploads(m_configService.loadRecentUploads());
}

void AppViewModel::addRecent(const RecentUpload &entry)
{
    m_configService.addRecentUpload(entry);
    setRecentUploads(m_configService.loadRecentUploads());
}

void AppViewModel::clearRecentUploads()
{
    m_configService.clearRecentUploads();
    setRecentUploads({});
}

void AppViewModel::forgetAccount()
{
    // An upload for the account that is gone must not finish into its
    // recent list.
    cancelUpload();
    setConfig(AppConfig::defaults());
    setRecentUploads({});
    setShowSetup(true);
}

QCoro::Task<AccountRemoval> AppViewModel::logoutAsync()
{
    QPointer<AppViewModel> self(this);
    auto removing = m_configService.removeAccountAsync();
    AccountRemoval removal = co_await std::move(removing);
    if (self)
        forgetAccount();
    co_return removal;
}

QCoro::Task<> AppViewModel::followStoredAccountAsync()
{
    QPointer<AppViewModel> self(this);
    auto loading = m_configService.loadAccountAsync();
    const StoredAccount stored = co_await std::move(loading);
    if (!self)
        co_return;
    if (!stored.config.isConfigured()) {
        if (m_config.isConfigured())
            forgetAccount();
        co_return;
    }
    setConfig(stored.config);
    setRecentUploads(m_configService.loadRecentUploads());
    setShowSetup(false);
}

bool AppViewModel::copyLink(const QString &url)
{
    const bool copied = m_desktop.copyToClipboard && m_desktop.copyToClipboard(url);
    if (copied)
        m_uncopiedLink.clear();
    return copied;
}

void AppViewModel::copyFinishedLink(const QString &url)
{
    if (m_desktop.copyToClipboard && !copyLink(url))
        m_uncopiedLink = url;
}

QCoro::Task<> AppViewModel::upload(QUrl fileURL, std::shared_ptr<UploadTask> task)
{
    if (!task)
        task = std::make_shared<UploadTask>();
    if (!m_config.isConfigured()) {
        setShowSetup(true);
        co_return;
    }

    const quint64 serial = ++m_uploadsStarted;
    LogService::shared().clear();
    m_lastFailure.reset();
    const QString fileName = shownText(fileURL.fileName());
    // The settings of the moment the upload started; an edit in the settings
    // view does not redirect an upload halfway.
    const AppConfig config = m_config;
    const QString serverUrl = config.serverUrl();
    QPointer<AppViewModel> self(this);
    // After every wait: a cancelled upload goes no further, so nothing it
    // did after the cancel can land on a newer upload's progress or log.
    const auto stopIfCancelled = [&task] {
        if (task->isCancelled())
            throw CancellationError();
    };
    std::exception_ptr failure;
    std::optional<FileStamp> stamp;

    try {
        stamp = regularFileStamp(fileURL.toLocalFile());
        const qint64 size = stamp->size;
        log("INFO", "Upload",
            QLatin1String("Starting upload: ") + fileName + QLatin1String(" (") +
                QLocale::c().formattedDataSize(size, 1, QLocale::DataSizeSIFormat) + QLatin1Char(')'));
        log("DEBUG", "Upload", QLatin1String("Server: ") + serverUrl);
        log("DEBUG", "Upload",
            QLatin1String("CheckDuplicates: ") + QLatin1String(config.checkForDuplicates ? "true" : "false"));

        setUploadProgress(UploadProgress{UploadState::hashing(0.0), fileName, size, 0, 0.0});
        log("DEBUG", "Hash", QStringLiteral("Calculating SHA-256..."));
        // Tasks are named before they are awaited: GCC 12 destroys some
        // temporaries of a co_await expression twice.
        HashService::ProgressHandler onHashProgress = [self, task](double fraction) {
            // A report can land after the step it belongs to has ended (the
            // hash may finish before the workflow even waits for it); it must
            // not take the state back, nor move a newer upload's bar.
            onMainThread(self, [task, fraction](AppViewModel &model) {
                if (!task->isCancelled() && model.m_uploadProgress.state.get<UploadState::Hashing>())
                    model.setUploadState(UploadState::hashing(fraction));
            });
        };
        HashService::StopCheck stopHashing = [task] { return task->isCancelled(); };
        QCoro::Task<QString> hashing =
            HashService::shared().hashFile(fileURL, std::move(onHashProgress), std::move(stopHashing));
        const QString hash = co_await std::move(hashing);
        if (!self)
            co_return;
        stopIfCancelled();
        log("INFO", "Hash", QLatin1String("Calculated: ") + hash);

        if (config.checkForDuplicates) {
            setUploadState(UploadState::checkingDuplicate());
            auto lookup = std::make_shared<UploadService>([](qint64, qint64) {}, m_uploadLimits);
            CheckResult check;
            {
                AbortScope scope(*task, lookup);
                QCoro::Task<CheckResult> checking = lookup->checkDuplicate(serverUrl, config.apiKey, hash);
                check = co_await std::move(checking);
            }
            if (!self)
                co_return;
            stopIfCancelled();
            if (check.success && check.data && check.data->exists && check.data->url) {
                const QString url = *check.data->url;
                log("INFO", "Upload", QLatin1String("Duplicate found: ") + url);
                if (config.autoCopyToClipboard)
                    copyFinishedLink(url);
                if (config.showNotifications && m_desktop.showDuplicate)
                    m_desktop.showDuplicate(fileName, url);
                setUploadState(UploadState::completed(url, true));
                co_return;
            }
        }

        stopIfCancelled();
        log("INFO", "Upload", QStringLiteral("Starting file transfer..."));
        setUploadState(UploadState::uploading());

        auto meter = std::make_shared<SpeedMeter>(SpeedMeter{m_clock(), 0});
        auto transfer = std::make_shared<UploadService>(
            [self, task, meter](qint64 totalSent, qint64) {
                onMainThread(self, [task, meter, totalSent](AppViewModel &model) {
                    if (task->isCancelled() || !model.m_uploadProgress.state.get<UploadState::Uploading>())
                        return;
                    const double now = model.m_clock();
                    const double elapsed = now - meter->time;
                    if (elapsed < progressInterval)
                        return;
                    UploadProgress progress = model.m_uploadProgress;
                    progress.bytesUploaded = totalSent;
                    progress.speed = double(totalSent - meter->bytes) / elapsed;
                    model.setUploadProgress(progress);
                    meter->time = now;
                    meter->bytes = totalSent;
                });
            },
            m_uploadLimits);
        UploadResult result;
        {
            AbortScope scope(*task, transfer);
            QCoro::Task<UploadResult> sending = transfer->upload(fileURL, serverUrl, config.apiKey, hash);
            result = co_await std::move(sending);
        }
        if (!self)
            co_return;
        stopIfCancelled();

        if (!result.success || !result.data) {
            // The failed state's line is ours; the server's own message
            // goes under it. A refusal without an error object is still a
            // refusal, not a hang.
            if (result.error)
                throw UploadError::serverError(0, result.error->message);
            throw UploadError::invalidResponse();
        }

        const UploadResult::UploadData &data = *result.data;
        log("INFO", "Upload", QLatin1String("Completed: ") + data.url);
        if (config.autoCopyToClipboard)
            copyFinishedLink(data.url);
        if (config.showNotifications && m_desktop.showUploadComplete)
            m_desktop.showUploadComplete(fileName, data.url);
        const QDateTime now = QDateTime::currentDateTimeUtc();
        addRecent(RecentUpload::make(data.fileName.isEmpty() ? fileName : data.fileName,
                                     data.fileSize > 0 ? data.fileSize : size, data.url, now,
                                     data.expiresAt.value_or(now.addSecs(defaultLifetimeSeconds))));
        setUploadState(UploadState::completed(data.url, data.isDuplicate));
        co_return;
    } catch (...) {
        failure = std::current_exception();
    }

    if (!self)
        co_return;
    // Whatever ended a cancelled upload (the check, the aborted transfer,
    // the stopped hash), it ends as the user's choice, not as a failure.
    if (task->isCancelled()) {
        if (serial == m_uploadsStarted) {
            log("INFO", "Upload", QStringLiteral("Cancelled by user"));
            setUploadProgress(UploadProgress{});
        }
        co_return;
    }
    if (stamp && changedSince(fileURL.toLocalFile(), *stamp)) {
        try {
            std::rethrow_exception(failure);
        } catch (const Error &error) {
            failure = std::make_exception_ptr(FileChangedError(fileName, error.technicalText()));
        } catch (...) {
        }
    }
    failAndTell(fileName, failure, config.showNotifications);
}

void AppViewModel::failAndTell(const QString &fileName, const std::exception_ptr &failure, bool notify)
{
    const QString message = fail(failure);
    if (notify && m_desktop.showError)
        m_desktop.showError(fileName, message);
}

QCoro::Task<> AppViewModel::startPasteUpload(ClipboardContent content)
{
    if (content.kind == ClipboardContent::Kind::file)
        return startUpload(content.file);
    const QString name =
        StagedFile::nameFor(StagedFile::Origin::clipboard, QDateTime::currentDateTime(), content.suffix());
    Staging staging;
    staging.unreadableImage = content.kind == ClipboardContent::Kind::unreadableImage;
    if (content.kind == ClipboardContent::Kind::image || content.kind == ClipboardContent::Kind::text)
        staging.bytes = std::move(content.bytes);
    staging.toPng = std::move(content.toPng);
    return uploadStaged(name, std::move(staging));
}

QCoro::Task<> AppViewModel::startScreenshotUpload(QUrl file)
{
    const QString suffix = QFileInfo(file.fileName()).suffix();
    const QString name = StagedFile::nameFor(StagedFile::Origin::screenshot, QDateTime::currentDateTime(),
                                             suffix.isEmpty() ? QStringLiteral("png") : suffix.toLower());
    Staging staging;
    staging.source = file.toLocalFile();
    return uploadStaged(name, std::move(staging));
}

QCoro::Task<std::optional<qint64>> AppViewModel::serverLimit(QString serverUrl, QString apiKey)
{
    try {
        auto asking = LoginService::shared().status(std::move(serverUrl), std::move(apiKey));
        const StatusReply reply = co_await std::move(asking);
        co_return reply.accepted() ? reply.maxUploadSize : std::nullopt;
    } catch (const Error &) {
        // Unreachable now: the upload itself will say so.
        co_return std::nullopt;
    }
}

QCoro::Task<> AppViewModel::uploadStaged(QString name, Staging staging)
{
    auto task = std::make_shared<UploadTask>();
    setCurrentUploadTask(task);
    if (!m_config.isConfigured()) {
        setShowSetup(true);
        co_return;
    }
    QPointer<AppViewModel> self(this);
    const bool nothing = staging.source.isEmpty() && staging.bytes.isEmpty() && !staging.unreadableImage;
    std::shared_ptr<StagedFile> staged;
    try {
        if (nothing)
            throw NothingToPasteError();
        if (staging.unreadableImage)
            throw UnreadableImageError();
        // Decoding and encoding a screen-sized picture takes seconds: on a
        // worker, while the server is asked for its limit, and shown as the
        // upload's first step meanwhile.
        std::optional<QFuture<std::optional<QByteArray>>> converting;
        if (staging.toPng) {
            setUploadProgress(UploadProgress{UploadState::hashing(0.0), name, 0, 0, 0.0});
            converting = onWorker([toPng = std::move(staging.toPng), bytes = std::exchange(staging.bytes, {})] {
                return toPng(bytes);
            });
        }
        auto asking = serverLimit(m_config.serverUrl(), m_config.apiKey);
        const std::optional<qint64> limit = co_await std::move(asking);
        if (!self || task->isCancelled())
            co_return;
        if (converting) {
            const std::optional<QByteArray> png = co_await *converting;
            if (!self || task->isCancelled())
                co_return;
            if (!png)
                throw UnreadableImageError();
            staging.bytes = *png;
        }
        // What is sent is what counts: a converted picture by its PNG.
        const qint64 size = staging.source.isEmpty() ? staging.bytes.size() : QFileInfo(staging.source).size();
        if (limit && size > *limit)
            throw ContentTooLargeError(name, size, *limit);
        auto writing = onWorker([name, bytes = std::exchange(staging.bytes, {}), source = staging.source] {
            StagingOutcome outcome;
            try {
                outcome.file = source.isEmpty() ? StagedFile::write(name, bytes) : StagedFile::copyOf(name, source);
            } catch (...) {
                outcome.failure = std::current_exception();
            }
            return outcome;
        });
        StagingOutcome outcome = co_await writing;
        // A staging that was no longer wanted goes with its outcome.
        if (!self || task->isCancelled())
            co_return;
        if (outcome.failure)
            std::rethrow_exception(outcome.failure);
        staged = std::move(outcome.file);
    } catch (const Error &) {
        // Nothing was sent: no upload of its own to log, and none before it.
        ++m_uploadsStarted;
        LogService::shared().clear();
        m_lastFailure.reset();
        failAndTell(name, std::current_exception(), m_config.showNotifications && !nothing);
        co_return;
    }
    // The file holds it now; the upload reads from there.
    auto uploading = upload(staged->url(), std::move(task));
    co_await std::move(uploading);
}

QString AppViewModel::fail(const std::exception_ptr &failure)
{
    UploadFailure outcome;
    try {
        std::rethrow_exception(failure);
    } catch (const TransportError &error) {
        outcome.detail = error.technicalText();
        outcome.description = UploadError::networkError(error).description();
    } catch (const DecodingError &error) {
        // The decoder's words mean nothing to the user, in any language.
        outcome.detail = error.technicalText();
        outcome.description = UploadError::invalidResponse().description();
    } catch (const UploadError &error) {
        outcome.detail = error.technicalText();
        outcome.description = error.description();
        if (error.errorCase() == UploadError::Case::serverError) {
            outcome.serverStatus = error.statusCode();
            outcome.serverMessage = error.serverMessage();
            // A quota or a refused type is the server's to explain.
            outcome.explanation = plainServerMessage(error.serverMessage());
        }
    } catch (const Error &error) {
        outcome.detail = error.technicalText();
        outcome.description = error.description();
    } catch (const std::exception &error) {
        outcome.detail = outcome.description = QString::fromLocal8Bit(error.what());
    } catch (...) {
        outcome.detail = outcome.description = QStringLiteral("Unknown error");
    }
    log("ERROR", "Upload", QLatin1String("Failed: ") + outcome.detail);
    // Before the state changes, so that whoever shows the failed state finds its explanation.
    m_lastFailure = outcome;
    setUploadState(UploadState::failed(outcome.description));
    return outcome.explanation.isEmpty() ? outcome.description
                                         : outcome.description + QLatin1Char('\n') + outcome.explanation;
}

} // namespace sendova
