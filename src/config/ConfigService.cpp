#include "config/ConfigService.h"

#include "config/KeychainService.h"
#include "platform/AutostartEntry.h"
#include "support/LocalizationService.h"
#include "support/StrictJson.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QStandardPaths>
#include <QThread>

#include <cerrno>
#include <optional>

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

namespace sendova {

FileWriteError::FileWriteError(QString path, QString reason)
    : Error(path + QLatin1String(": ") + reason), m_path(std::move(path)), m_reason(std::move(reason))
{}

QString FileWriteError::description() const
{
    // The system's reason is in English whatever the interface speaks: the log has it.
    return localizedFormat("error.file.write_failed", m_path);
}

ConfigSaveError::ConfigSaveError(const Error &cause)
    : Error(QLatin1String("saving configuration: ") + cause.technicalText()),
      m_causeDescription(cause.description())
{}

QString ConfigSaveError::description() const
{
    return localizedFormat("error.save_failed", m_causeDescription);
}

namespace {

constexpr QFile::Permissions ownerOnlyFolder = QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner;
constexpr QFile::Permissions ownerOnlyFile = QFile::ReadOwner | QFile::WriteOwner;

// Holding it takes a read and a synced write of a few kilobytes, which a busy
// disk can stretch to a good part of a second; eight holders in a row are
// still well within this. A holder that takes longer is hung, and waiting
// for it would freeze the tray's interface.
constexpr int recentsLockWaitMs = 5000;

// recents.json is read, changed and written back by every program that
// uploads (the tray, any number of command lines); without the lock, two
// that finish together each write their own addition over the other's.
//
// An advisory lock on a file that stays in place: the kernel lets go of it
// when its holder ends, however it ends, so there is no stale lock to take
// over, and nothing is written or synced to disk to take it (QLockFile syncs
// its lock file, a whole disk flush on every upload for nothing).
QString lockPath(const QString &recentsPath)
{
    return recentsPath + QLatin1String(".lock");
}

class RecentsLock
{
public:
    explicit RecentsLock(const QString &recentsPath)
        : m_fd(::open(QFile::encodeName(lockPath(recentsPath)).constData(), O_RDWR | O_CREAT | O_CLOEXEC,
                      0600))
    {
        // One that hangs is not waited for further: the change goes ahead
        // unguarded, as it would without any lock, rather than being dropped
        // for sure. Asked often rather than with growing pauses, which would
        // let the other waiters overtake the one that has waited longest
        // until its time is up.
        const QDeadlineTimer deadline(recentsLockWaitMs);
        while (m_fd >= 0 && ::flock(m_fd, LOCK_EX | LOCK_NB) != 0 && errno == EWOULDBLOCK &&
               !deadline.hasExpired())
            QThread::msleep(5);
    }
    ~RecentsLock()
    {
        if (m_fd >= 0)
            ::close(m_fd);
    }
    RecentsLock(const RecentsLock &) = delete;
    RecentsLock &operator=(const RecentsLock &) = delete;

private:
    int m_fd;
};

std::optional<QByteArray> readFile(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return std::nullopt;
    QByteArray bytes = file.readAll();
    if (file.error() != QFileDevice::NoError)
        return std::nullopt;
    return bytes;
}

} // namespace

ConfigService &ConfigService::shared()
{
    static ConfigService *const instance = [] {
        const QString base = QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation);
        if (base.isEmpty())
            qFatal("No data folder for the user: neither XDG_DATA_HOME nor HOME is usable");
        return new ConfigService(base + QLatin1String("/Sendova"));
    }();
    return *instance;
}

ConfigService::ConfigService(const QString &folder, Clock clock)
    : m_folder(QDir::cleanPath(folder)), m_configURL(m_folder + QLatin1String("/config.json")),
      m_recentsURL(m_folder + QLatin1String("/recents.json")),
      m_clock(clock ? std::move(clock) : Clock(&QDateTime::currentDateTimeUtc))
{
    const QFileInfo info(m_folder);
    QDir().mkpath(info.absolutePath());
    // Created private rather than tightened afterwards, so there is no moment
    // in which others could look in; an existing folder is tightened too.
    QDir(info.absolutePath()).mkdir(info.fileName(), ownerOnlyFolder);
    QFile::setPermissions(m_folder, ownerOnlyFolder);
}

void ConfigService::writeFile(const QString &path, const QByteArray &bytes)
{
    QSaveFile file(path);
    // Unbuffered, so a write cut short shows in write()'s count: through the
    // buffer, Qt 6.4 reports a partial write as success and commit() would
    // put a truncated file in place of the good one.
    if (!file.open(QIODevice::WriteOnly | QIODevice::Unbuffered))
        throw FileWriteError(path, file.errorString());
    // Before the first byte, so the data is never readable by others.
    if (!file.setPermissions(ownerOnlyFile)) {
        const QString reason = file.errorString();
        file.cancelWriting();
        throw FileWriteError(path, reason);
    }
    if (file.write(bytes) != bytes.size()) {
        const QString reason = file.error() != QFileDevice::NoError
                                   ? file.errorString()
                                   : QStringLiteral("the file was cut short");
        file.cancelWriting();
        throw FileWriteError(path, reason);
    }
    if (!file.commit())
        throw FileWriteError(path, file.errorString());
}

namespace {

// The decoder's reason, for someone who has never seen the file's insides.
QString plainReason(const DecodingError &error)
{
    if (error.memberPath().isEmpty())
        return error.reason().startsWith(QLatin1String("not valid JSON"))
                   ? QStringLiteral("it is not complete JSON (cut short, or edited by hand)")
                   : error.reason();
    return QStringLiteral("the setting \"%1\": %2").arg(error.memberPath(), error.reason());
}

} // namespace

std::optional<AppConfig> ConfigService::readConfigFile(QString *problem) const
{
    const QFileInfo info(m_configURL);
    if (!info.exists())
        return std::nullopt;
    const auto report = [&](const QString &reason) -> std::optional<AppConfig> {
        if (problem)
            *problem = m_configURL + QLatin1String(" ") + reason;
        return std::nullopt;
    };
    if (info.isDir())
        return report(QStringLiteral("is a folder, not a settings file"));
    QFile file(m_configURL);
    if (!file.open(QIODevice::ReadOnly))
        return report(QLatin1String("cannot be read: ") + file.errorString());
    const QByteArray bytes = file.readAll();
    if (file.error() != QFileDevice::NoError)
        return report(QLatin1String("cannot be read: ") + file.errorString());
    try {
        return AppConfig::decode(bytes);
    } catch (const DecodingError &error) {
        return report(QLatin1String("is damaged: ") + plainReason(error));
    }
}

AppConfig ConfigService::loadConfig() const
{
    std::optional<AppConfig> config = readConfigFile();
    if (!config)
        return AppConfig::defaults();
    if (!config->apiKey.isEmpty())
        return *config;
    if (std::optional<QString> key = KeychainService::shared().loadAPIKey())
        config->apiKey = std::move(*key);
    return *config;
}

QCoro::Task<AppConfig> ConfigService::loadConfigAsync() const
{
    std::optional<AppConfig> config = readConfigFile();
    if (!config)
        co_return AppConfig::defaults();
    if (!config->apiKey.isEmpty())
        co_return *config;
    auto loading = KeychainService::shared().loadAPIKeyAsync();
    if (std::optional<QString> key = co_await std::move(loading))
        config->apiKey = std::move(*key);
    co_return *config;
}

QCoro::Task<StoredAccount> ConfigService::loadAccountAsync() const
{
    StoredAccount account{AppConfig::defaults(), KeySource::none, QString()};
    std::optional<AppConfig> config = readConfigFile(&account.fileProblem);
    if (!config)
        co_return account;
    account.config = *config;
    if (!config->apiKey.isEmpty()) {
        account.keySource = KeySource::configFile;
        co_return account;
    }
    KeychainService &keychain = KeychainService::shared();
    keychain.forgetRemembered();
    auto loading = keychain.loadAPIKeyAsync();
    if (std::optional<QString> key = co_await std::move(loading)) {
        account.config.apiKey = std::move(*key);
        account.keySource = KeySource::keychain;
    }
    co_return account;
}

void ConfigService::saveConfig(const AppConfig &config, KeyStorage storage) const
{
    const QString path = m_configURL;
    try {
        KeychainService::shared().waitFor<void>(
            [path, config, storage] { return save(path, config, storage); });
    } catch (const ConfigSaveError &) {
        throw;
    } catch (const Error &error) {
        // The keychain did not answer in time.
        throw ConfigSaveError(error);
    }
}

QCoro::Task<> ConfigService::saveConfigAsync(AppConfig config, KeyStorage storage) const
{
    // Through a static coroutine, so the save does not depend on this object
    // living until it ends.
    auto saving = save(m_configURL, std::move(config), storage);
    co_await std::move(saving);
}

QCoro::Task<> ConfigService::save(QString configPath, AppConfig config, KeyStorage storage)
{
    KeychainService &keychain = KeychainService::shared();
    AppConfig stored = config;
    // The key the keychain held before this save replaced it.
    std::optional<std::optional<QString>> replaced;
    std::exception_ptr failure;
    try {
        if (storage == KeyStorage::keychain) {
            stored.apiKey.clear();
            if (!config.apiKey.isEmpty()) {
                auto reading = keychain.loadAPIKeyAsync();
                std::optional<QString> previous = co_await std::move(reading);
                auto storing = keychain.saveAPIKeyAsync(config.apiKey);
                co_await std::move(storing);
                replaced = std::move(previous);
            }
        }
        writeFile(configPath, stored.encode());
    } catch (...) {
        failure = std::current_exception();
    }

    if (failure) {
        if (replaced && *replaced != config.apiKey) {
            // A working key is not traded for one whose settings never made
            // it to disk. Best effort: a keyring that just took a key will
            // normally take the old one back.
            try {
                if (*replaced) {
                    auto restoring = keychain.saveAPIKeyAsync(**replaced);
                    co_await std::move(restoring);
                } else {
                    auto removing = keychain.deleteAPIKeyAsync();
                    co_await std::move(removing);
                }
            } catch (const Error &) {
            }
        }
        try {
            std::rethrow_exception(failure);
        } catch (const Error &error) {
            throw ConfigSaveError(error);
        }
    }

    if (storage == KeyStorage::configFile && !config.apiKey.isEmpty()) {
        auto probing = KeychainService::secretServiceExistsAsync();
        if (co_await std::move(probing)) {
            auto removing = keychain.deleteAPIKeyAsync();
            co_await std::move(removing);
        }
    }
}

QCoro::Task<AccountRemoval> ConfigService::removeAccountAsync() const
{
    AccountRemoval removal;
    // A settings file without a key of its own sent the key to the keyring.
    const std::optional<AppConfig> stored = readConfigFile();
    const bool keyInKeyringExpected = stored && stored->apiKey.isEmpty();
    const auto removeFile = [&removal](const QString &path, const QString &what) {
        if (!QFileInfo::exists(path))
            return;
        QFile file(path);
        if (file.remove())
            removal.removed << QStringLiteral("%1 (%2)").arg(what, path);
        else
            removal.remaining << QStringLiteral("%1 (%2): %3").arg(what, path, file.errorString());
    };
    removeFile(m_configURL, QStringLiteral("the settings"));
    removeFile(m_recentsURL, QStringLiteral("the recent uploads"));
    // Not the user's data, so not reported: the empty file the recent
    // uploads are locked through.
    QFile::remove(lockPath(m_recentsURL));
    // The program of an account that is gone has no reason to start at login.
    if (AutostartEntry::isEnabled()) {
        if (const std::optional<AutostartEntry::Failure> failure = AutostartEntry::setEnabled(false))
            removal.remaining
                << QStringLiteral("the autostart entry (%1): %2").arg(failure->path, failure->reason);
        else
            removal.removed << QStringLiteral("the autostart entry (%1)").arg(AutostartEntry::path());
    }

    const QString keyInKeyring = QStringLiteral("the API key in the keyring");
    auto unlocking = KeychainService::unlockAsync();
    const KeyringReadiness readiness = co_await std::move(unlocking);
    if (readiness == KeyringReadiness::unavailable) {
        const QString unreachable = QStringLiteral("this session cannot reach the keyring");
        if (keyInKeyringExpected)
            removal.remaining << keyInKeyring + QLatin1String(": ") + unreachable;
        else
            removal.unchecked << keyInKeyring + QLatin1String(", if one is kept there: ") + unreachable;
        co_return removal;
    }
    if (readiness != KeyringReadiness::ready) {
        try {
            KeychainService::requireReady(readiness);
        } catch (const KeychainError &error) {
            removal.remaining << keyInKeyring + QLatin1String(": ") + error.technicalText();
        }
        co_return removal;
    }
    KeychainService &keychain = KeychainService::shared();
    keychain.forgetRemembered();
    auto reading = keychain.loadAPIKeyAsync();
    const bool held = (co_await std::move(reading)).has_value();
    auto removing = keychain.deleteAPIKeyAsync();
    const bool gone = co_await std::move(removing);
    if (!gone)
        removal.remaining << keyInKeyring + QStringLiteral(": the keyring refused to delete it");
    else if (held)
        removal.removed << keyInKeyring;
    co_return removal;
}

QList<RecentUpload> ConfigService::unexpired(QList<RecentUpload> entries) const
{
    entries.removeIf([this](const RecentUpload &entry) { return entry.expiresAt < m_clock(); });
    return entries;
}

QList<RecentUpload> ConfigService::loadRecentUploads() const
{
    const std::optional<QByteArray> bytes = readFile(m_recentsURL);
    if (!bytes)
        return {};
    try {
        // A file edited by hand may hold more; the popover and `sendova
        // recent` show what the next addition would keep.
        return unexpired(RecentUpload::decodeList(*bytes)).mid(0, maxRecentUploads);
    } catch (const DecodingError &) {
        return {};
    }
}

void ConfigService::addRecentUpload(const RecentUpload &entry) const
{
    // A date the file cannot hold would make the whole list unreadable on the
    // next load and so lose every other entry; such an entry is not added.
    for (const QDateTime &time : {entry.uploadedAt, entry.expiresAt}) {
        if (!time.isValid() || !RecentUpload::parseDate(RecentUpload::formatDate(time)))
            return;
    }
    const RecentsLock lock(m_recentsURL);
    QList<RecentUpload> entries = loadRecentUploads();
    entries.prepend(entry);
    if (entries.size() > maxRecentUploads)
        entries.resize(maxRecentUploads);
    try {
        writeFile(m_recentsURL, RecentUpload::encodeList(entries));
    } catch (const FileWriteError &) {
        // The list is a convenience; a failed write leaves the previous file.
    }
}

void ConfigService::clearRecentUploads() const
{
    const RecentsLock lock(m_recentsURL);
    QFile::remove(m_recentsURL);
}

} // namespace sendova
