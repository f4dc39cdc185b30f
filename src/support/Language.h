#pragma once

#include <QList>
#include <QString>

#include <optional>

namespace sendova {

// In the order the settings view lists them.
enum class Language { english, spanish, portuguese };

QList<Language> allLanguages();
QString languageCode(Language language);
QString languageDisplayName(Language language);
std::optional<Language> languageFromCode(const QString &code);

} // namespace sendova
