#include "support/LocalizationService.h"

#include <QCoreApplication>
#include <QDir>
#include <QLocale>

namespace sendova {

namespace {

std::shared_ptr<const QTranslator> emptyTable()
{
    return std::make_shared<const QTranslator>();
}

// The first preferred language that we ship, English otherwise.
QString preferredCode(const QStringList &preferredLanguages)
{
    for (const QString &name : preferredLanguages) {
        const QString code = name.section(QLatin1Char('-'), 0, 0).section(QLatin1Char('_'), 0, 0).toLower();
        if (languageFromCode(code))
            return code;
    }
    return languageCode(Language::english);
}

} // namespace

LocalizationService &LocalizationService::shared()
{
    // Leaked on purpose: worker threads may still look texts up while static
    // destructors run at exit.
    static LocalizationService *instance = [] {
        auto *service = new LocalizationService(QStringLiteral(":/i18n"), QLocale::system().uiLanguages());
        // The first lookup may come from a worker thread; the language is
        // still changed, and announced, on the main thread.
        if (QCoreApplication *app = QCoreApplication::instance())
            service->moveToThread(app->thread());
        return service;
    }();
    return *instance;
}

LocalizationService::LocalizationService(QString tableDirectory, QStringList preferredLanguages,
                                         QObject *parent)
    : QObject(parent), m_tableDirectory(std::move(tableDirectory))
{
    m_defaultTable = loadTable(preferredCode(preferredLanguages));
    if (!m_defaultTable)
        m_defaultTable = emptyTable();
    m_table = m_defaultTable;
}

std::shared_ptr<const QTranslator> LocalizationService::loadTable(const QString &code) const
{
    auto table = std::make_shared<QTranslator>();
    const QString path =
        QDir(m_tableDirectory).filePath(QLatin1String("sendova_") + code + QLatin1String(".qm"));
    if (!table->load(path))
        return nullptr;
    return table;
}

Language LocalizationService::currentLanguage() const
{
    return m_currentLanguage;
}

void LocalizationService::setLanguage(Language language)
{
    const bool changed = language != m_currentLanguage;
    m_currentLanguage = language;

    std::shared_ptr<const QTranslator> table = loadTable(languageCode(language));
    if (!table)
        table = m_defaultTable;
    {
        std::lock_guard guard(m_lock);
        m_table = std::move(table);
    }
    if (changed)
        Q_EMIT currentLanguageChanged(language);
}

QString LocalizationService::localized(const QString &key) const
{
    const QByteArray id = key.toUtf8();
    std::lock_guard guard(m_lock);
    QString text = m_table->translate(nullptr, id.constData());
    return text.isEmpty() ? key : text;
}

} // namespace sendova
