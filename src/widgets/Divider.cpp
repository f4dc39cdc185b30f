#include "widgets/Divider.h"

#include "widgets/TextStyle.h"

#include <QPainter>

namespace sendova {

Divider::Divider(QWidget *parent) : QWidget(parent)
{
    setFixedHeight(1);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
}

void Divider::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.fillRect(rect(), hairlineColor(palette()));
}

} // namespace sendova
