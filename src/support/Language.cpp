#include "support/Language.h"

namespace sendova {

QList<Language> allLanguages()
{
    return {Language::english, Language::spanish, Language::portuguese};
}

QString languageCode(Language language)
{
    switch (language) {
    case Language::english:
        return QStringLiteral("en");
    case Language::spanish:
        return QStringLiteral("es");
    case Language::portuguese:
        return QStringLiteral("pt");
    }
    return QStringLiteral("en");
}

QString languageDisplayName(Language language)
{
    switch (language) {
    case Language::english:
        return QStringLiteral("English");
    case Language::spanish:
        return QStringLiteral("Español");
    case Language::portuguese:
        return QStringLiteral("Português");
    }
    return QStringLiteral("English");
}

std::optional<Language> languageFromCode(const QString &code)
{
    for (Language language : allLanguages()) {
        if (languageCode(language) == code)
            return language;
    }
    return std::nullopt;
}

} // namespace sendova
