#pragma once

#include "support/Error.h"

#include <QString>

#include <sys/stat.h>

#include <optional>

namespace sendova {

// A local file that could not be opened, read or closed, or that is not a
// file one can upload. The user reads a sentence in their language naming
// the file; the system's own wording (errno text or QFile's error string)
// is the technical text, for the log.
class FileError : public Error
{
public:
    enum class Problem { unreadable, notFound, noPermission, folder, notRegular };

    FileError(QString path, QString reason, Problem problem = Problem::unreadable)
        : Error(QStringLiteral("%1: %2").arg(path, reason)), m_path(std::move(path)),
          m_reason(std::move(reason)), m_problem(problem)
    {}
    // The problem an errno value stands for, with the system's text as the reason.
    static FileError fromErrno(QString path, int errorNumber);

    QString path() const { return m_path; }
    QString reason() const { return m_reason; }
    Problem problem() const { return m_problem; }

    // Looked up now, in the current language.
    QString description() const override;

private:
    QString m_path;
    QString m_reason;
    Problem m_problem;
};

// Only a regular file has a size that holds while it is read twice (once
// for the hash, once for the transfer): a pipe or a socket would give other
// bytes the second time, or block the first read for good, and a folder or a
// device has none that mean anything. Nothing for a regular file.
std::optional<FileError> notRegularFile(const QString &path, mode_t mode);
// The same for the file at path; nothing also when it cannot be looked at,
// which reading it then reports.
std::optional<FileError> notRegularFile(const QString &path);

} // namespace sendova
