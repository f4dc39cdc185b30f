#pragma once

#include "support/Language.h"

#include <QObject>
#include <QString>
#include <QStringList>
#include <QTranslator>

#include <memory>
#include <mutex>

namespace sendova {

// Turns dotted text keys into texts of the chosen language. Lookups may come
// from any thread (error descriptions are built on worker threads); the
// language is changed on the main thread.
class LocalizationService : public QObject
{
    Q_OBJECT

public:
    static LocalizationService &shared();

    // tableDirectory holds sendova_<code>.qm files; the process-wide instance
    // reads the tables compiled into the program. preferredLanguages is the
    // desktop's order of preference ("es-ES", "pt", …): the first one we ship
    // gives the table used until a language is chosen.
    explicit LocalizationService(QString tableDirectory, QStringList preferredLanguages,
                                 QObject *parent = nullptr);

    Language currentLanguage() const;
    void setLanguage(Language language);

    // The text for key in the current table, or the key itself when the table
    // has none.
    QString localized(const QString &key) const;
    QString localized(const char *key) const { return localized(QString::fromUtf8(key)); }

Q_SIGNALS:
    void currentLanguageChanged(sendova::Language language);

private:
    std::shared_ptr<const QTranslator> loadTable(const QString &code) const;

    QString m_tableDirectory;
    Language m_currentLanguage = Language::english;
    // The table of the desktop's preferred language, used until a language is
    // chosen and whenever the chosen one has no table.
    std::shared_ptr<const QTranslator> m_defaultTable;
    mutable std::mutex m_lock;
    std::shared_ptr<const QTranslator> m_table;
};

// localized(key) with %1, %2… filled in one pass, so an argument that itself
// contains "%1" or "%" is never expanded again.
template<typename... Args>
QString localizedFormat(const char *key, const Args &...args)
{
    return LocalizationService::shared().localized(key).arg(args...);
}

} // namespace sendova
