#pragma once

#include "config/AppConfig.h"
#include "config/RecentUpload.h"
#include "support/Error.h"

#include <QDateTime>
#include <QList>
#include <QString>
#include <QStringList>

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

// Where a loaded key came from.
enum class KeySource { none, keychain, configFile };

// The stored account as loading found it: the settings, where the key came
// from, and in plain words why config.json gave nothing usable (empty when
// the file is simply missing).
struct StoredAccount
{
    AppConfig config;
    KeySource keySource = KeySource::none;
    QString fileProblem;
};

// What removing the account did: texts for a person ("the settings (PATH)"),
// what was removed and what remains with the reason. complete() when nothing
// of the account is left.
struct AccountRemoval
{
    QStringList removed;
    QStringList remaining;
    // What could not be looked at and, as far as is known, held nothing.
    QStringList unchecked;

    bool complete() const { return remaining.isEmpty(); }
};

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
    // keychain is asked only for a file that was read and understood and
    // holds no key of its own. A key in the file wins over the keychain's:
    // every store into the keychain rewrites the file with an empty key, so
    // a key still in the file was written after the keychain's (over SSH,
    // say, where the keyring could not be cleared).
    AppConfig loadConfig() const;
    QCoro::Task<AppConfig> loadConfigAsync() const;
    // The same, saying where the key came from and what is wrong with the
    // file. The keyring is asked again, not answered from memory: another
    // program may have changed the account.
    QCoro::Task<StoredAccount> loadAccountAsync() const;
    // With keychain storage: a non-empty key to the keychain, then the file
    // with an empty key. With configFile storage: the file with the key, and
    // a key left in the keychain is deleted so that it cannot hide the new
    // one. A save that fails leaves file and key as they were: a key already
    // stored is put back when the file cannot be written. Throws
    // ConfigSaveError.
    void saveConfig(const AppConfig &config, KeyStorage storage = KeyStorage::keychain) const;
    QCoro::Task<> saveConfigAsync(AppConfig config, KeyStorage storage = KeyStorage::keychain) const;
    // Back to the never-saved state: settings, recent uploads, the key in
    // the keyring (unlocked first when locked) and the autostart entry, the
    // one path every program's logout takes. Says what was and was not
    // removed.
    QCoro::Task<AccountRemoval> removeAccountAsync() const;

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
    // or not a settings file, with the reason in problem.
    std::optional<AppConfig> readConfigFile(QString *problem = nullptr) const;
    static QCoro::Task<> save(QString configPath, AppConfig config, KeyStorage storage);
    QList<RecentUpload> unexpired(QList<RecentUpload> entries) const;

    QString m_folder;
    QString m_configURL;
    QString m_recentsURL;
    Clock m_clock;
};

} // namespace sendova
