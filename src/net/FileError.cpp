#include "net/FileError.h"

#include "support/LocalizationService.h"

#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <cstring>

namespace sendova {

FileError FileError::fromErrno(QString path, int errorNumber)
{
    Problem problem = Problem::unreadable;
    if (errorNumber == ENOENT || errorNumber == ENOTDIR)
        problem = Problem::notFound;
    else if (errorNumber == EACCES || errorNumber == EPERM)
        problem = Problem::noPermission;
    else if (errorNumber == EISDIR)
        problem = Problem::folder;
    return FileError(std::move(path), QString::fromLocal8Bit(std::strerror(errorNumber)), problem);
}

std::optional<FileError> notRegularFile(const QString &path, mode_t mode)
{
    const char *kind = nullptr;
    if (S_ISDIR(mode))
        kind = "is a folder";
    else if (S_ISFIFO(mode))
        kind = "is a pipe";
    else if (S_ISSOCK(mode))
        kind = "is a socket";
    else if (!S_ISREG(mode))
        kind = "is a device";
    if (!kind)
        return std::nullopt;
    return FileError(path, QLatin1String(kind) + QLatin1String(", not a regular file"),
                     S_ISDIR(mode) ? FileError::Problem::folder : FileError::Problem::notRegular);
}

std::optional<FileError> notRegularFile(const QString &path)
{
    struct stat attributes
    {
    };
    if (::stat(QFile::encodeName(path).constData(), &attributes) != 0)
        return std::nullopt;
    return notRegularFile(path, attributes.st_mode);
}

QString FileError::description() const
{
    // The name is what the user dropped; the folder it lies in is in the log.
    const QString name = QFileInfo(m_path).fileName();
    const QString shown = name.isEmpty() ? m_path : name;
    switch (m_problem) {
    case Problem::notFound:
        return localizedFormat("error.file.not_found", shown);
    case Problem::noPermission:
        return localizedFormat("error.file.no_permission", shown);
    case Problem::folder:
        return localizedFormat("error.file.folder", shown);
    case Problem::notRegular:
        return localizedFormat("error.file.not_regular", shown);
    case Problem::unreadable:
        break;
    }
    return localizedFormat("error.file.unreadable", shown);
}

} // namespace sendova
