#include "widgets/ProminentButton.h"

#include "widgets/TextStyle.h"

#include <QPainter>
#include <QPainterPath>
#include <QShortcut>

namespace sendova {

ProminentButton::ProminentButton(QWidget *parent) : BorderedButton(parent)
{
    setDefault(true);
    setAttribute(Qt::WA_Hover);
}

void ProminentButton::answerReturnIn(QWidget *view)
{
    for (const auto key : {Qt::Key_Return, Qt::Key_Enter}) {
        auto *shortcut = new QShortcut(QKeySequence(key), view);
        shortcut->setContext(Qt::WindowShortcut);
        connect(shortcut, &QShortcut::activated, this, [this] {
            if (isEnabled())
                animateClick();
        });
    }
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
        // A ring in the label's colour just inside the edge: a shade of the
        // fill hardly shows on it, and keyboard users must see where they are.
        painter.setPen(QPen(text, 1.5));
        painter.drawRoundedRect(area.adjusted(2.5, 2.5, -2.5, -2.5), 3.5, 3.5);
    }
    painter.setPen(text);
    painter.drawText(rect(), Qt::AlignCenter, this->text());
}

} // namespace sendova
