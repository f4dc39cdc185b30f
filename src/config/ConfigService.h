#pragma once

#include "config/AppConfig.h"
#include "config/RecentUpload.h"
#include "support/Error.h"

#include <QDateTime>
#include <QList>
#include <QString>

#include <QCoroTask>

#include <functional>
#include <optional>

namespace sendova {

// A settings or recents file could not be written. The description names
// the file; the system's reason (in English) is in the technical text.
class FileWriteError : public Error
{
public:
    FileWriteError(QString path, QString reason);

    QString path() const { return m_path; }
    QString reason() const { return m_reason; }
    QString description() const override;

private:
    QString m_path;
    QString m_reason;
};

// saveConfig failed; description() is the whole message the view model
// shows: "Error saving configuration: " and what went wrong.
class ConfigSaveError : public Error
{
public:
    explicit ConfigSaveError(const Error &cause);

    QString causeDescription() const { return m_causeDescription; }
    QString description() const override;

private:
    QString m_causeDescription;
};

// Where saveConfig keeps the API key. configFile is for machines without
// any keyring (an SSH session, a headless box): the key then lies in
// config.json, which only the user can read.
enum class KeyStorage { keychain, configFile };

// config.json and recents.json in the program's data folder, and the key in
// the keychain. Every file is replaced atomically and readable only by the
// user, so the share program never reads half a file and a crash during a
// save keeps the previous settings.
//
// The calls that touch the keychain come twice: awaitable for the tray
// program, whose main thread must never wait on the keyring, and synchronous
// for the command-line client and the share program (see KeychainService).
class ConfigService
{
public:
    static constexpr int maxRecentUploads = 10;
    using Clock = std::function<QDateTime()>;

    // In the user's data folder ($XDG_DATA_HOME/Sendova).
    static ConfigService &shared();

    // Creates folder (private to the user) if it is missing; failures show up
    // later as write failures. clock decides which recents have expired.
    explicit ConfigService(const QString &folder, Clock clock = {});

    QString folder() const { return m_folder; }
    QString configURL() const { return m_configURL; }
    QString recentsURL() const { return m_recentsURL; }

    // Never fails: anything wrong with the file gives the defaults, and the
    // keychain is asked only for a file that was read and understood. A key
    // in the keychain wins over one in the file.
    AppConfig loadConfig() const;
    QCoro::Task<AppConfig> loadConfigAsync() const;
    // With keychain storage: a non-empty key to the keychain, then the file
    // with an empty key. With configFile storage: the file with the key, and
    // a key left in the keychain is deleted so that it cannot hide the new
    // one. A save that fails leaves file and key as they were: a key already
    // stored is put back when the file cannot be written. Throws
    // ConfigSaveError.
    void saveConfig(const AppConfig &config, KeyStorage storage = KeyStorage::keychain) const;
    QCoro::Task<> saveConfigAsync(AppConfig config, KeyStorage storage = KeyStorage::keychain) const;
    // Back to the never-saved state; every failure is ignored.
    void deleteAllData() const;
    QCoro::Task<> deleteAllDataAsync() const;

    // Newest first, expired entries left out, ten at most; empty when the
    // file is missing or holds anything unexpected.
    QList<RecentUpload> loadRecentUploads() const;
    // Prepends entry, drops expired ones, keeps the newest ten. Any number of
    // processes may add at once: a lock file keeps each addition. Failures
    // are ignored.
    void addRecentUpload(const RecentUpload &entry) const;
    void clearRecentUploads() const;

private:
    // Throws FileWriteError.
    static void writeFile(const QString &path, const QByteArray &bytes);
    // The file alone, without the keychain's key; nothing when it is missing
    // or not a settings file.
    std::optional<AppConfig> readConfigFile() const;
    static QCoro::Task<> save(QString configPath, AppConfig config, KeyStorage storage);
    QList<RecentUpload> unexpired(QList<RecentUpload> entries) const;

    QString m_folder;
    QString m_configURL;
    QString m_recentsURL;
    Clock m_clock;
};

} // namespace sendova
