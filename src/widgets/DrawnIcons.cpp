#include "widgets/DrawnIcons.h"

#include <QPainter>
#include <QPainterPath>

namespace sendova::drawnicons {

namespace {

// A transparent pixmap whose painter draws in a 1 × 1 unit square.
template<typename Draw>
QPixmap draw(int size, qreal devicePixelRatio, Draw drawing)
{
    QPixmap pixmap(QSize(size, size) * devicePixelRatio);
    pixmap.setDevicePixelRatio(devicePixelRatio);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.scale(size, size);
    drawing(painter);
    return pixmap;
}

} // namespace

QPixmap paperPlane(int size, const QColor &color, qreal devicePixelRatio)
{
    return draw(size, devicePixelRatio, [&](QPainter &painter) {
        QPainterPath body;
        body.moveTo(0.06, 0.46);
        body.lineTo(0.94, 0.08);
        body.lineTo(0.62, 0.92);
        body.lineTo(0.47, 0.56);
        body.closeSubpath();
        painter.fillPath(body, color);
        // The fold that makes it read as a plane rather than a triangle.
        painter.setPen(QPen(Qt::white, 0.05, Qt::SolidLine, Qt::RoundCap));
        painter.drawLine(QPointF(0.47, 0.56), QPointF(0.90, 0.12));
    });
}

QPixmap checkmarkCircle(int size, const QColor &color, qreal devicePixelRatio)
{
    return draw(size, devicePixelRatio, [&](QPainter &painter) {
        painter.setPen(Qt::NoPen);
        painter.setBrush(color);
        painter.drawEllipse(QRectF(0.03, 0.03, 0.94, 0.94));
        QPainterPath tick;
        tick.moveTo(0.28, 0.52);
        tick.lineTo(0.44, 0.68);
        tick.lineTo(0.73, 0.35);
        painter.setBrush(Qt::NoBrush);
        painter.setPen(QPen(Qt::white, 0.09, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
        painter.drawPath(tick);
    });
}

QPixmap warningTriangle(int size, const QColor &color, qreal devicePixelRatio)
{
    return draw(size, devicePixelRatio, [&](QPainter &painter) {
        QPainterPath triangle;
        triangle.moveTo(0.5, 0.08);
        triangle.lineTo(0.96, 0.90);
        triangle.lineTo(0.04, 0.90);
        triangle.closeSubpath();
        painter.setPen(QPen(color, 0.08, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
        painter.setBrush(color);
        painter.drawPath(triangle);
        painter.setPen(QPen(Qt::white, 0.09, Qt::SolidLine, Qt::RoundCap));
        painter.drawLine(QPointF(0.5, 0.36), QPointF(0.5, 0.62));
        painter.drawPoint(QPointF(0.5, 0.77));
    });
}

QPixmap twoDocuments(int size, const QColor &color, qreal devicePixelRatio)
{
    return draw(size, devicePixelRatio, [&](QPainter &painter) {
        const QRectF front(0.38, 0.28, 0.52, 0.64);
        painter.setPen(QPen(color, 0.08));
        painter.setBrush(Qt::NoBrush);
        painter.drawRoundedRect(front, 0.08, 0.08);
        // The back sheet stops where the front one covers it.
        QPainterPath visible;
        visible.addRect(QRectF(0, 0, 1, 1));
        QPainterPath covered;
        covered.addRoundedRect(front.adjusted(-0.08, -0.08, 0.08, 0.08), 0.12, 0.12);
        painter.setClipPath(visible.subtracted(covered));
        painter.drawRoundedRect(QRectF(0.10, 0.08, 0.52, 0.64), 0.08, 0.08);
    });
}

} // namespace sendova::drawnicons
