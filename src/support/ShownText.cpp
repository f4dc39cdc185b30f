#include "support/ShownText.h"

#include <QUrl>

#include <algorithm>

namespace sendova {

namespace {

bool isBidiControl(char32_t c)
{
    // ALM, LRM and RLM, the embeddings and overrides, the isolates.
    return c == 0x061C || c == 0x200E || c == 0x200F || (c >= 0x202A && c <= 0x202E) ||
           (c >= 0x2066 && c <= 0x2069);
}

} // namespace

QString shownText(const QString &text)
{
    QString shown;
    shown.reserve(text.size());
    for (const char32_t c : text.toUcs4()) {
        // A line break or tab keeps the words apart it stood between.
        if (c == U'\t' || c == U'\n' || c == U'\v' || c == U'\f' || c == U'\r' || c == 0x85)
            shown.append(QLatin1Char(' '));
        else if (QChar::category(c) != QChar::Other_Control && !isBidiControl(c))
            shown.append(QString::fromUcs4(&c, 1));
    }
    return shown;
}

bool isWebLink(const QString &text)
{
    const QList<uint> points = text.toUcs4();
    const bool plain = std::ranges::none_of(points, [](uint c) {
        const QChar::Category category = QChar::category(char32_t(c));
        return category == QChar::Other_Control || category == QChar::Other_Format || QChar::isSpace(c);
    });
    const QUrl url(text, QUrl::StrictMode);
    const QString scheme = url.scheme();
    return plain && url.isValid() && !url.host().isEmpty() &&
           (scheme == QLatin1String("http") || scheme == QLatin1String("https"));
}

} // namespace sendova
