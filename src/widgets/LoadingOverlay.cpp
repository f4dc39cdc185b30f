#include "widgets/LoadingOverlay.h"

#include "widgets/BusySpinner.h"

#include <QEvent>
#include <QPainter>
#include <QVBoxLayout>

namespace sendova {

LoadingOverlay::LoadingOverlay(QWidget *parent) : QWidget(parent)
{
    setFocusPolicy(Qt::StrongFocus);
    setAttribute(Qt::WA_NoMousePropagation);
    m_spinner = new BusySpinner(this, 1.5);
    auto *layout = new QVBoxLayout(this);
    layout->addWidget(m_spinner, 0, Qt::AlignCenter);
    parent->installEventFilter(this);
    setGeometry(parent->rect());
    hide();
}

void LoadingOverlay::setActive(bool active)
{
    if (active == isActive())
        return;
    if (active) {
        m_focusBefore = window()->focusWidget();
        setGeometry(parentWidget()->rect());
        raise();
        show();
        setFocus(Qt::OtherFocusReason);
        return;
    }
    hide();
    if (m_focusBefore)
        m_focusBefore->setFocus(Qt::OtherFocusReason);
}

bool LoadingOverlay::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == parentWidget() && event->type() == QEvent::Resize)
        setGeometry(parentWidget()->rect());
    return QWidget::eventFilter(watched, event);
}

bool LoadingOverlay::event(QEvent *event)
{
    switch (event->type()) {
    // Swallowed here: ignored, they would travel on to the window, whose
    // Return presses the default button and whose Escape closes it.
    case QEvent::KeyPress:
    case QEvent::KeyRelease:
    case QEvent::MouseButtonPress:
    case QEvent::MouseButtonRelease:
    case QEvent::MouseButtonDblClick:
    case QEvent::MouseMove:
    case QEvent::Wheel:
        event->accept();
        return true;
    default:
        return QWidget::event(event);
    }
}

void LoadingOverlay::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.fillRect(rect(), QColor(0, 0, 0, 77));
}

} // namespace sendova
