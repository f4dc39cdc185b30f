#pragma once

#include <QColor>
#include <QPixmap>

namespace sendova::shareicons {

// The share window's few symbols, drawn rather than taken from the icon
// theme: the window must look the same on every desktop, themed or not, and
// the success and failure marks must be green and red whatever the theme
// says. size is in device-independent pixels.
QPixmap paperPlane(int size, const QColor &color, qreal devicePixelRatio);
QPixmap checkmarkCircle(int size, const QColor &color, qreal devicePixelRatio);
QPixmap warningTriangle(int size, const QColor &color, qreal devicePixelRatio);
QPixmap twoDocuments(int size, const QColor &color, qreal devicePixelRatio);

} // namespace sendova::shareicons
