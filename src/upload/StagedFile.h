#pragma once

#include "support/Error.h"

#include <QByteArray>
#include <QDateTime>
#include <QString>
#include <QUrl>

#include <memory>

namespace sendova {

// The private copy could not be written (a full disk, a cache folder
// that is not ours).
class StagingError : public Error
{
public:
    StagingError(QString path, const QString &reason)
        : Error(QStringLiteral("%1: %2").arg(path, reason)), m_path(std::move(path))
    {}
    QString description() const override;

private:
    QString m_path;
};

// What the user uploads without having a file of it (a pasted image or
// text, a screenshot) becomes one, in a folder of its own that only the user
// can read, under the cache folder. The hash and the transfer then read a
// file as for any other upload, so a large paste costs no more memory than a
// large file. Removed with the object, however the upload ended.
class StagedFile
{
public:
    enum class Origin { clipboard, screenshot };

    // "Clipboard 2026-12-07 14.23.05.png": what the content was and when, in
    // the current language, in a form every file system and the server take.
    static QString nameFor(Origin origin, const QDateTime &when, const QString &suffix);

    // A new file holding bytes. Throws StagingError.
    static std::unique_ptr<StagedFile> write(const QString &name, const QByteArray &bytes);
    // A private copy of the file at source, so that its name is ours and the
    // desktop may move or delete its own while the upload runs. Throws
    // StagingError, or FileError when source cannot be read.
    static std::unique_ptr<StagedFile> copyOf(const QString &name, const QString &source);

    // Every staged file of this process, for an exit that skips the
    // destructors (the command line's Ctrl+C).
    static void removeAll();
    // $XDG_CACHE_HOME/Sendova.
    static QString cacheFolder();

    ~StagedFile();
    StagedFile(const StagedFile &) = delete;
    StagedFile &operator=(const StagedFile &) = delete;

    QString path() const { return m_path; }
    QUrl url() const { return QUrl::fromLocalFile(m_path); }

private:
    StagedFile(QString folder, QString path);
    static std::unique_ptr<StagedFile> create(const QString &name);

    QString m_folder;
    QString m_path;
};

} // namespace sendova
