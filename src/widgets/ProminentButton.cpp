#include "widgets/ProminentButton.h"

#include "widgets/TextStyle.h"

#include <QPainter>
#include <QPainterPath>

namespace sendova {

ProminentButton::ProminentButton(QWidget *parent) : BorderedButton(parent)
{
    setDefault(true);
    setAttribute(Qt::WA_Hover);
}

void ProminentButton::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    QColor fill = accentColor(palette());
    if (isDown())
        fill = fill.darker(115);
    else if (underMouse())
        fill = fill.lighter(108);
    QColor text = palette().color(QPalette::HighlightedText);
    if (!isEnabled()) {
        fill.setAlphaF(0.4f);
        text.setAlphaF(0.7f);
    }
    const QRectF area = QRectF(rect()).adjusted(1, 1, -1, -1);
    QPainterPath shape;
    shape.addRoundedRect(area, 5, 5);
    painter.fillPath(shape, fill);
    if (hasFocus()) {
        // The focus ring sits outside the fill, in the fill's own colour.
        painter.setPen(QPen(fill.lighter(130), 1));
        painter.drawPath(shape);
    }
    painter.setPen(text);
    painter.drawText(rect(), Qt::AlignCenter, this->text());
}

} // namespace sendova
