#pragma once

#include "support/Error.h"

#include <QFile>
#include <QString>

#include <sys/stat.h>

#include <optional>

namespace sendova {

// A local file that could not be opened, read or closed. The reason is the
// system's own wording (errno text or QFile's error string), passed on as is.
class FileError : public Error
{
public:
    FileError(QString path, QString reason)
        : Error(QStringLiteral("%1: %2").arg(path, reason)), m_path(std::move(path)),
          m_reason(std::move(reason))
    {}

    QString path() const { return m_path; }
    QString reason() const { return m_reason; }

private:
    QString m_path;
    QString m_reason;
};

// Only a regular file has a size that holds while it is read twice (once
// for the hash, once for the transfer): a pipe or a socket would give other
// bytes the second time, or block the first read for good, and a folder or a
// device has none that mean anything. Nothing for a regular file.
inline std::optional<QString> notRegularFileReason(mode_t mode)
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
    return QLatin1String(kind) + QLatin1String(", not a regular file; only files can be uploaded");
}

// The same for the file at path; nothing also when it cannot be looked at,
// which reading it then reports.
inline std::optional<QString> notRegularFileReason(const QString &path)
{
    struct stat attributes
    {
    };
    if (::stat(QFile::encodeName(path).constData(), &attributes) != 0)
        return std::nullopt;
    return notRegularFileReason(attributes.st_mode);
}

} // namespace sendova
