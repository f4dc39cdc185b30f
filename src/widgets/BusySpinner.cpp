#include "widgets/BusySpinner.h"

#include <QPainter>

namespace sendova {

BusySpinner::BusySpinner(QWidget *parent) : QWidget(parent)
{
    setFixedSize(22, 22);
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
    const QRectF area = QRectF(rect()).adjusted(2.5, 2.5, -2.5, -2.5);
    QColor track = palette().color(QPalette::WindowText);
    track.setAlphaF(0.15f);
    painter.setPen(QPen(track, 3));
    painter.drawEllipse(area);
    painter.setPen(QPen(palette().color(QPalette::Highlight), 3, Qt::SolidLine, Qt::RoundCap));
    painter.drawArc(area, -m_angle * 16, 100 * 16);
}

} // namespace sendova
