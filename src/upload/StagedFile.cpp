#include "upload/StagedFile.h"

#include "net/FileError.h"
#include "support/LocalizationService.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMutex>
#include <QSet>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <cerrno>
#include <csignal>

#include <unistd.h>

namespace sendova {

namespace {

// The folders of this process's staged files. Staging runs on worker
// threads, so that writing a large paste does not stall a window.
QMutex liveFoldersLock;
QSet<QString> &liveFolders()
{
    static QSet<QString> folders;
    return folders;
}

QString folderPrefix()
{
    return QStringLiteral("staged-");
}

// A program that was killed mid-upload left its folder behind; the next
// staging of any of our programs takes it away.
void removeOrphans(const QString &cache)
{
    const QStringList entries = QDir(cache).entryList({folderPrefix() + QLatin1Char('*')}, QDir::Dirs);
    for (const QString &entry : entries) {
        const QStringList parts = entry.split(QLatin1Char('-'));
        bool isNumber = false;
        const qint64 pid = parts.size() >= 3 ? parts[1].toLongLong(&isNumber) : 0;
        if (isNumber && pid > 0 && ::kill(pid_t(pid), 0) != 0 && errno == ESRCH)
            QDir(cache + QLatin1Char('/') + entry).removeRecursively();
    }
}

// Characters some file system or the server takes badly, wherever a
// translation might bring them in.
QString fileSystemSafe(const QString &name)
{
    QString safe;
    safe.reserve(name.size());
    for (const QChar c : name) {
        const bool refused = c.category() == QChar::Other_Control || c.category() == QChar::Other_Format ||
                             QStringView(u"/\\:*?\"<>|").contains(c);
        safe += refused ? QLatin1Char('-') : c;
    }
    return safe.simplified();
}

} // namespace

QString StagingError::description() const
{
    return localizedFormat("error.file.write_failed", m_path);
}

QString StagedFile::nameFor(Origin origin, const QDateTime &when, const QString &suffix)
{
    const char *label = origin == Origin::clipboard ? "staged.name.clipboard" : "staged.name.screenshot";
    return fileSystemSafe(LocalizationService::shared().localized(label) + QLatin1Char(' ') +
                          when.toString(QStringLiteral("yyyy-MM-dd HH.mm.ss")) + QLatin1Char('.') + suffix);
}

QString StagedFile::cacheFolder()
{
    return QStandardPaths::writableLocation(QStandardPaths::GenericCacheLocation) +
           QStringLiteral("/Sendova");
}

StagedFile::StagedFile(QString folder, QString path) : m_folder(std::move(folder)), m_path(std::move(path))
{
    const QMutexLocker locked(&liveFoldersLock);
    liveFolders().insert(m_folder);
}

StagedFile::~StagedFile()
{
    QDir(m_folder).removeRecursively();
    const QMutexLocker locked(&liveFoldersLock);
    liveFolders().remove(m_folder);
}

void StagedFile::removeAll()
{
    const QMutexLocker locked(&liveFoldersLock);
    for (const QString &folder : std::as_const(liveFolders()))
        QDir(folder).removeRecursively();
    liveFolders().clear();
}

std::unique_ptr<StagedFile> StagedFile::create(const QString &name)
{
    const QString cache = cacheFolder();
    if (!QDir().mkpath(cache))
        throw StagingError(cache, QStringLiteral("cannot create the folder"));
    removeOrphans(cache);
    // The folder's name carries our process id, for removeOrphans; a fresh
    // folder per file, so that the name can be the one the user sees.
    QTemporaryDir folder(QStringLiteral("%1/%2%3-XXXXXX").arg(cache, folderPrefix()).arg(::getpid()));
    if (!folder.isValid())
        throw StagingError(cache, folder.errorString());
    folder.setAutoRemove(false);
    return std::unique_ptr<StagedFile>(new StagedFile(folder.path(), folder.filePath(name)));
}

std::unique_ptr<StagedFile> StagedFile::write(const QString &name, const QByteArray &bytes)
{
    std::unique_ptr<StagedFile> staged = create(name);
    QFile file(staged->m_path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::NewOnly,
                   QFileDevice::ReadOwner | QFileDevice::WriteOwner) ||
        file.write(bytes) != bytes.size() || !file.flush())
        throw StagingError(staged->m_path, file.errorString());
    file.close();
    return staged;
}

std::unique_ptr<StagedFile> StagedFile::copyOf(const QString &name, const QString &source)
{
    if (std::optional<FileError> refusal = notRegularFile(source))
        throw *refusal;
    QFile original(source);
    if (!original.open(QIODevice::ReadOnly))
        throw FileError(source, original.errorString(),
                        original.exists() ? FileError::Problem::noPermission : FileError::Problem::notFound);
    std::unique_ptr<StagedFile> staged = create(name);
    QFile copy(staged->m_path);
    if (!copy.open(QIODevice::WriteOnly | QIODevice::NewOnly,
                   QFileDevice::ReadOwner | QFileDevice::WriteOwner))
        throw StagingError(staged->m_path, copy.errorString());
    // A screenshot is a few megabytes at most; read in pieces all the same.
    QByteArray chunk;
    while (!(chunk = original.read(1 << 20)).isEmpty()) {
        if (copy.write(chunk) != chunk.size())
            throw StagingError(staged->m_path, copy.errorString());
    }
    if (original.error() != QFileDevice::NoError)
        throw FileError(source, original.errorString());
    if (!copy.flush())
        throw StagingError(staged->m_path, copy.errorString());
    return staged;
}

} // namespace sendova
