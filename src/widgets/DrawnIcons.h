#pragma once

#include <QColor>
#include <QPixmap>

namespace sendova::drawnicons {

// Symbols drawn rather than taken from the icon theme, for a window that must
// look the same on every desktop, themed or not, and whose success and
// failure marks must be green and red whatever the theme says. size is in
// device-independent pixels.
QPixmap paperPlane(int size, const QColor &color, qreal devicePixelRatio);
QPixmap checkmarkCircle(int size, const QColor &color, qreal devicePixelRatio);
QPixmap warningTriangle(int size, const QColor &color, qreal devicePixelRatio);
QPixmap twoDocuments(int size, const QColor &color, qreal devicePixelRatio);

} // namespace sendova::drawnicons
