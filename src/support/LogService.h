#pragma once

#include <QDateTime>
#include <QString>
#include <QStringList>

#include <mutex>

namespace sendova {

// Bounded diagnostic log of the current run. It lives only in memory: an error
// report attaches it, nothing ever writes it out.
class LogService
{
public:
    static constexpr int maxEntries = 500;

    static LogService &shared();

    LogService() = default;
    LogService(const LogService &) = delete;
    LogService &operator=(const LogService &) = delete;

    void log(const QString &level, const QString &category, const QString &message);
    QString logText() const;
    void clear();

    // The finished line for a given moment; exposed so the layout can be
    // checked against a fixed time.
    static QString formatLine(const QDateTime &time, const QString &level, const QString &category,
                              const QString &message);

private:
    mutable std::mutex m_lock;
    QStringList m_entries;
};

} // namespace sendova
