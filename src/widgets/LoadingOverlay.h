#pragma once

#include <QPointer>
#include <QWidget>

namespace sendova {

class BusySpinner;

// Covers its parent while work runs: the parent dimmed under black at 30 %,
// a spinner at one and a half times its size in the middle, and no click or
// key press getting through to what lies beneath. It follows the parent's
// size and hands the keyboard focus back when it goes.
class LoadingOverlay : public QWidget
{
    Q_OBJECT

public:
    explicit LoadingOverlay(QWidget *parent);

    void setActive(bool active);
    bool isActive() const { return isVisible(); }
    BusySpinner *spinner() const { return m_spinner; }

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;
    bool event(QEvent *event) override;
    void paintEvent(QPaintEvent *event) override;
    bool focusNextPrevChild(bool) override { return true; }

private:
    BusySpinner *m_spinner = nullptr;
    QPointer<QWidget> m_focusBefore;
};

} // namespace sendova
