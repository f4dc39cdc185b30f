#include "widgets/TabularLabel.h"

#include <QPainter>

#include <algorithm>
#include <cmath>

namespace sendova {

qreal TabularLabel::advance(QChar character) const
{
    const QFontMetricsF metrics(font());
    if (!character.isDigit())
        return metrics.horizontalAdvance(character);
    qreal widest = 0;
    for (char digit = '0'; digit <= '9'; ++digit)
        widest = std::max(widest, metrics.horizontalAdvance(QLatin1Char(digit)));
    return widest;
}

qreal TabularLabel::width(const QString &value) const
{
    qreal total = 0;
    for (const QChar character : value)
        total += advance(character);
    return total;
}

QSize TabularLabel::sizeHint() const
{
    const QMargins margins = contentsMargins();
    return {int(std::ceil(width(text()))) + margins.left() + margins.right(),
            fontMetrics().height() + margins.top() + margins.bottom()};
}

void TabularLabel::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.setPen(palette().color(QPalette::WindowText));
    const QRectF area = contentsRect();
    const QString value = text();
    qreal x = area.left();
    // A QRectF's right edge is already one past its last pixel.
    if (alignment() & Qt::AlignRight)
        x = area.right() - width(value);
    else if (alignment() & Qt::AlignHCenter)
        x = area.left() + (area.width() - width(value)) / 2;
    const QFontMetricsF metrics(font());
    const qreal baseline = area.top() + (area.height() - metrics.height()) / 2 + metrics.ascent();
    for (const QChar character : value) {
        const qreal cell = advance(character);
        // Each digit centred in its cell.
        const qreal inset = (cell - metrics.horizontalAdvance(character)) / 2;
        painter.drawText(QPointF(x + inset, baseline), QString(character));
        x += cell;
    }
}

} // namespace sendova
