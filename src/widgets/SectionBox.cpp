#include "widgets/SectionBox.h"

#include "widgets/TextStyle.h"

#include <QLabel>
#include <QPainter>
#include <QPainterPath>
#include <QVBoxLayout>

namespace sendova {

namespace {

class Panel : public QWidget
{
public:
    using QWidget::QWidget;

protected:
    void paintEvent(QPaintEvent *) override
    {
        QPainter painter(this);
        painter.setRenderHint(QPainter::Antialiasing);
        QPainterPath shape;
        shape.addRoundedRect(QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5), 8, 8);
        QColor fill = palette().color(QPalette::WindowText);
        fill.setAlphaF(isDark(palette()) ? 0.06f : 0.035f);
        painter.fillPath(shape, fill);
        painter.setPen(QPen(hairlineColor(palette()), 1));
        painter.drawPath(shape);
    }
};

} // namespace

SectionBox::SectionBox(QWidget *parent, int spacing) : QWidget(parent)
{
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(6);
    m_title = new QLabel(this);
    m_title->setFont(fontFor(font(), TextStyle::headline));
    // In line with the panel's text, not with its edge.
    m_title->setContentsMargins(4, 0, 0, 0);
    layout->addWidget(m_title);
    auto *panel = new Panel(this);
    m_content = new QVBoxLayout(panel);
    m_content->setContentsMargins(12, 8 + 2, 12, 8 + 2);
    m_content->setSpacing(spacing);
    layout->addWidget(panel);
}

void SectionBox::setTitle(const QString &title)
{
    m_title->setText(title);
}

} // namespace sendova
