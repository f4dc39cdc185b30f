#include "support/LogService.h"

#include <QDateTime>

namespace sendova {

LogService &LogService::shared()
{
    // Deliberately leaked: writers on other threads may still log while
    // static destructors run at exit.
    static LogService *instance = new LogService;
    return *instance;
}

QString LogService::formatLine(const QDateTime &time, const QString &level, const QString &category,
                               const QString &message)
{
    const QString stamp = time.toUTC().toString(Qt::ISODate);
    const QString paddedLevel = level.toUpper().leftJustified(7, QLatin1Char(' '), true);
    return QLatin1Char('[') + stamp + QLatin1String("] ") + paddedLevel + QLatin1String(" [") + category +
           QLatin1String("] ") + message;
}

void LogService::log(const QString &level, const QString &category, const QString &message)
{
    // Formatting happens outside the lock so that a long message never holds
    // up another writer.
    QString line = formatLine(QDateTime::currentDateTimeUtc(), level, category, message);
    std::lock_guard guard(m_lock);
    m_entries.append(std::move(line));
    if (m_entries.size() > maxEntries)
        m_entries.remove(0, m_entries.size() - maxEntries);
}

QString LogService::logText() const
{
    std::lock_guard guard(m_lock);
    return m_entries.join(QLatin1Char('\n'));
}

void LogService::clear()
{
    std::lock_guard guard(m_lock);
    m_entries.clear();
}

} // namespace sendova
