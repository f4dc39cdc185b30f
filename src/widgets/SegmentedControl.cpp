#include "widgets/SegmentedControl.h"

#include "widgets/TextStyle.h"

#include <QHBoxLayout>
#include <QPainter>
#include <QPainterPath>

#include <algorithm>

namespace sendova {

namespace {

constexpr int inset = 2;
constexpr qreal radius = 6;

class Segment : public QAbstractButton
{
public:
    explicit Segment(QWidget *parent) : QAbstractButton(parent)
    {
        setCheckable(true);
        setAutoExclusive(true);
        setAttribute(Qt::WA_Hover);
        setFocusPolicy(Qt::StrongFocus);
        setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    }

    QSize sizeHint() const override
    {
        return {fontMetrics().horizontalAdvance(text()) + 24, fontMetrics().height() + 10};
    }

protected:
    void paintEvent(QPaintEvent *) override
    {
        QPainter painter(this);
        painter.setRenderHint(QPainter::Antialiasing);
        const QPalette colours = palette();
        const QRectF area = QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5);
        QPainterPath pill;
        pill.addRoundedRect(area, radius - inset, radius - inset);
        if (isChecked()) {
            // Raised: the field colour of the palette, with a hairline edge
            // that carries it on a light track and a dark one alike.
            const QColor fill = isDark(colours) ? colours.color(QPalette::Button).lighter(125)
                                                : colours.color(QPalette::Base);
            painter.fillPath(pill, fill);
            painter.setPen(QPen(hairlineColor(colours), 1));
            painter.drawPath(pill);
        } else if (underMouse() && isEnabled()) {
            painter.fillPath(pill, hairlineColor(colours));
        }
        if (hasFocus()) {
            QColor ring = accentColor(colours);
            ring.setAlphaF(0.8f);
            painter.setPen(QPen(ring, 1.5));
            painter.drawPath(pill);
        }
        QColor text = colours.color(QPalette::ButtonText);
        if (!isEnabled())
            text = colours.color(QPalette::Disabled, QPalette::ButtonText);
        painter.setPen(text);
        painter.drawText(rect(), Qt::AlignCenter | Qt::TextSingleLine, this->text());
    }
};

} // namespace

SegmentedControl::SegmentedControl(QWidget *parent) : QWidget(parent)
{
    m_row = new QHBoxLayout(this);
    m_row->setContentsMargins(inset, inset, inset, inset);
    m_row->setSpacing(inset);
    m_group.setExclusive(true);
    connect(&m_group, &QButtonGroup::idClicked, this, &SegmentedControl::activated);
    setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Fixed);
}

void SegmentedControl::setSegments(const QStringList &titles)
{
    while (count() < titles.size()) {
        auto *segment = new Segment(this);
        m_group.addButton(segment, count());
        m_row->addWidget(segment, 1);
        if (count() == 1)
            segment->setChecked(true);
    }
    for (int i = 0; i < titles.size(); ++i)
        segment(i)->setText(titles.at(i));
    updateGeometry();
}

int SegmentedControl::count() const
{
    return int(m_group.buttons().size());
}

QAbstractButton *SegmentedControl::segment(int index) const
{
    return m_group.button(index);
}

int SegmentedControl::currentIndex() const
{
    return m_group.checkedId();
}

void SegmentedControl::setCurrentIndex(int index)
{
    if (QAbstractButton *chosen = segment(index))
        chosen->setChecked(true);
}

QSize SegmentedControl::sizeHint() const
{
    // Equal segments, each as wide as the widest needs.
    int widest = 0;
    int height = 0;
    for (QAbstractButton *button : m_group.buttons()) {
        widest = std::max(widest, button->sizeHint().width());
        height = std::max(height, button->sizeHint().height());
    }
    const int segments = count();
    return {segments * widest + std::max(segments - 1, 0) * inset + 2 * inset, height + 2 * inset};
}

void SegmentedControl::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    QPainterPath track;
    track.addRoundedRect(QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5), radius, radius);
    painter.fillPath(track, hairlineColor(palette()));
}

} // namespace sendova
