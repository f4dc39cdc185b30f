#pragma once

#include <QElapsedTimer>
#include <QRect>
#include <QWidget>

class QScrollArea;

namespace sendova {

class AppViewModel;
class MenuBarView;

// The window around MenuBarView. As a popover it is frameless, 320 wide and
// as tall as its content (scrolling only when the screen is shorter), opens
// next to the status item or the pointer, and goes away when it loses the
// focus or on Escape. Without a tray it is an ordinary window with a task-bar
// entry instead, and closing it ends the program, so that the program never
// runs where the user cannot see it.
class PopoverWindow : public QWidget
{
    Q_OBJECT

public:
    enum class Mode { popover, window };

    // A click on the status item that arrives this soon after the popover
    // closed for losing the focus is the click that took the focus away.
    static constexpr int reopenGuardMs = 300;
    // Between the popover and the item or pointer, and the screen's edges.
    static constexpr int gap = 6;

    explicit PopoverWindow(AppViewModel *viewModel, QWidget *parent = nullptr);

    MenuBarView *view() const { return m_view; }
    Mode mode() const { return m_mode; }
    void setMode(Mode mode);

    // Shows it next to anchor (the status item's geometry, in global
    // coordinates), or next to the pointer when anchor is empty, and gives it
    // the keyboard focus.
    void present(const QRect &anchor = {});
    void toggle(const QRect &anchor = {});
    // Whether a sheet, the file chooser or an alert belongs to it now: the
    // popover stays open while one has the focus.
    bool hasOpenDialog() const;

Q_SIGNALS:
    // The ordinary window was closed: the program ends.
    void windowClosed();

protected:
    bool event(QEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;
    void closeEvent(QCloseEvent *event) override;
    void paintEvent(QPaintEvent *event) override;

    void hideEvent(QHideEvent *event) override;

private:
    // The popover's 1 px outline; the ordinary window has the frame instead.
    int outline() const { return m_mode == Mode::popover ? 1 : 0; }
    void fitToContent();
    void place(const QRect &anchor);
    void keepOnScreen();
    void closeIfInactive();
    // What a closed popover holds that the next opening rebuilds quickly.
    void releaseWhileHidden();

    MenuBarView *m_view = nullptr;
    QScrollArea *m_scroll = nullptr;
    Mode m_mode = Mode::popover;
    QElapsedTimer m_closedForFocus;
    // What it opened beside: the status item, or the pointer at the time.
    QRect m_anchor;
};

} // namespace sendova
