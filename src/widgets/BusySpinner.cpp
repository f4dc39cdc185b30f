#include "widgets/BusySpinner.h"

#include <QPainter>

namespace sendova {

BusySpinner::BusySpinner(QWidget *parent, qreal scale) : QWidget(parent), m_scale(scale)
{
    const int side = qRound(22 * scale);
    setFixedSize(side, side);
    m_timer.setInterval(40);
    connect(&m_timer, &QTimer::timeout, this, [this] {
        m_angle = (m_angle + 12) % 360;
        update();
    });
}

void BusySpinner::showEvent(QShowEvent *)
{
    m_timer.start();
}

void BusySpinner::hideEvent(QHideEvent *)
{
    m_timer.stop();
}

void BusySpinner::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const qreal line = 3 * m_scale;
    const QRectF area = QRectF(rect()).adjusted(line / 2 + 1, line / 2 + 1, -line / 2 - 1, -line / 2 - 1);
    QColor track = palette().color(QPalette::WindowText);
    track.setAlphaF(0.15f);
    painter.setPen(QPen(track, line));
    painter.drawEllipse(area);
    painter.setPen(QPen(palette().color(QPalette::Highlight), line, Qt::SolidLine, Qt::RoundCap));
    painter.drawArc(area, -m_angle * 16, 100 * 16);
}

} // namespace sendova
