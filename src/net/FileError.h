#pragma once

#include "support/Error.h"

#include <QString>

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

} // namespace sendova
