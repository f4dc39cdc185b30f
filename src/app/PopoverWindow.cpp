#include "app/PopoverWindow.h"

#include "ui/MenuBarView.h"

#include <QApplication>
#include <QCloseEvent>
#include <QCursor>
#include <QKeyEvent>
#include <QPainter>
#include <QScreen>
#include <QScrollArea>
#include <QScrollBar>
#include <QTimer>
#include <QVBoxLayout>

#include <malloc.h>

namespace sendova {

PopoverWindow::PopoverWindow(AppViewModel *viewModel, QWidget *parent) : QWidget(parent)
{
    setWindowTitle(QStringLiteral("Sendova"));
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    m_scroll = new QScrollArea(this);
    m_scroll->setFrameShape(QFrame::NoFrame);
    m_scroll->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    m_scroll->setWidgetResizable(true);
    m_view = new MenuBarView(viewModel, m_scroll);
    m_scroll->setWidget(m_view);
    layout->addWidget(m_scroll);
    // The view's size follows its state (recents, progress, result): the
    // window follows the view.
    m_view->installEventFilter(this);
    setMode(Mode::popover);
    fitToContent();
}

void PopoverWindow::setMode(Mode mode)
{
    const bool wasVisible = isVisible();
    m_mode = mode;
    // A tool window has no task-bar entry; the ordinary window has one, and a frame.
    setWindowFlags(mode == Mode::popover ? Qt::Tool | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint
                                         : Qt::Window);
    // Without a frame it would melt into a grey window behind it.
    const int edge = outline();
    layout()->setContentsMargins(edge, edge, edge, edge);
    if (wasVisible)
        present(geometry());
}

void PopoverWindow::present(const QRect &anchor)
{
    fitToContent();
    if (m_mode == Mode::popover)
        place(anchor);
    show();
    raise();
    activateWindow();
}

void PopoverWindow::toggle(const QRect &anchor)
{
    if (isVisible() && m_mode == Mode::popover) {
        hide();
        return;
    }
    if (m_closedForFocus.isValid() && !m_closedForFocus.hasExpired(reopenGuardMs))
        return;
    present(anchor);
}

bool PopoverWindow::hasOpenDialog() const
{
    if (QApplication::activeModalWidget())
        return true;
    const QList<QWidget *> windows = QApplication::topLevelWidgets();
    for (QWidget *window : windows) {
        if (window == this || !window->isVisible())
            continue;
        for (QWidget *owner = window->parentWidget(); owner; owner = owner->parentWidget()) {
            if (owner == this)
                return true;
        }
    }
    return false;
}

bool PopoverWindow::event(QEvent *event)
{
    // Deactivation comes before the next window is active: look once the
    // focus has landed.
    if (event->type() == QEvent::WindowDeactivate && m_mode == Mode::popover)
        QTimer::singleShot(0, this, &PopoverWindow::closeIfInactive);
    return QWidget::event(event);
}

bool PopoverWindow::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == m_view && event->type() == QEvent::LayoutRequest)
        QTimer::singleShot(0, this, &PopoverWindow::fitToContent);
    return QWidget::eventFilter(watched, event);
}

void PopoverWindow::keyPressEvent(QKeyEvent *event)
{
    if (event->key() == Qt::Key_Escape && event->modifiers() == Qt::NoModifier && m_mode == Mode::popover) {
        hide();
        return;
    }
    QWidget::keyPressEvent(event);
}

void PopoverWindow::closeEvent(QCloseEvent *event)
{
    QWidget::closeEvent(event);
    if (m_mode == Mode::window && event->isAccepted())
        Q_EMIT windowClosed();
}

void PopoverWindow::hideEvent(QHideEvent *event)
{
    QWidget::hideEvent(event);
    // After the hide has reached the display, and only for a real close (a
    // mode change hides and shows at once).
    QTimer::singleShot(0, this, &PopoverWindow::releaseWhileHidden);
}

void PopoverWindow::releaseWhileHidden()
{
    if (isVisible() || hasOpenDialog())
        return;
    // The native window and its backing store (an image of the whole
    // popover, shared with the X server) come back with the next show, in
    // a few milliseconds; between uploads they would only sit there.
    destroy();
    // What the views allocated while shown returns to the system rather than
    // staying in the allocator's arenas.
    ::malloc_trim(0);
}

void PopoverWindow::paintEvent(QPaintEvent *event)
{
    QWidget::paintEvent(event);
    if (outline() == 0)
        return;
    QPainter painter(this);
    painter.setPen(palette().color(QPalette::Mid));
    painter.drawRect(rect().adjusted(0, 0, -1, -1));
}

void PopoverWindow::closeIfInactive()
{
    if (!isVisible() || isActiveWindow() || hasOpenDialog())
        return;
    hide();
    m_closedForFocus.start();
}

void PopoverWindow::fitToContent()
{
    const QScreen *screen = this->screen() ? this->screen() : QGuiApplication::primaryScreen();
    // A hidden view's layout waits to be shown before it settles.
    m_view->layout()->activate();
    const int content = m_view->sizeHint().height() + 2 * outline();
    const int room = screen ? screen->availableGeometry().height() - 2 * gap : content;
    const bool scrolls = content > room;
    m_scroll->setVerticalScrollBarPolicy(scrolls ? Qt::ScrollBarAlwaysOn : Qt::ScrollBarAlwaysOff);
    const int width = MenuBarView::viewWidth + 2 * outline() +
                      (scrolls ? m_scroll->verticalScrollBar()->sizeHint().width() : 0);
    setFixedSize(width, scrolls ? room : content);
    // Grown or shrunk by a change of state: still whole on the screen, still
    // beside the item it opened from.
    if (m_mode == Mode::popover && isVisible())
        keepOnScreen();
}

void PopoverWindow::place(const QRect &anchor)
{
    m_anchor = anchor.isEmpty() ? QRect(QCursor::pos(), QSize(1, 1)) : anchor;
    keepOnScreen();
}

void PopoverWindow::keepOnScreen()
{
    QScreen *screen = QGuiApplication::screenAt(m_anchor.center());
    if (!screen)
        screen = QGuiApplication::primaryScreen();
    if (!screen)
        return;
    const QRect room = screen->availableGeometry().adjusted(gap, gap, -gap, -gap);
    const QRect &target = m_anchor;
    // Panels at the top open downwards, panels at the bottom upwards: the
    // edge nearest the item stays put and the popover grows away from it.
    const bool below = target.center().y() < screen->geometry().center().y();
    QPoint topLeft(target.center().x() - width() / 2,
                   below ? target.bottom() + gap : target.top() - gap - height());
    topLeft.setX(qBound(room.left(), topLeft.x(), qMax(room.left(), room.right() - width() + 1)));
    topLeft.setY(qBound(room.top(), topLeft.y(), qMax(room.top(), room.bottom() - height() + 1)));
    if (screen != this->screen())
        setScreen(screen);
    move(topLeft);
}

} // namespace sendova
