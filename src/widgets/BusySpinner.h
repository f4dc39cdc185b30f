#pragma once

#include <QTimer>
#include <QWidget>

namespace sendova {

// A small turning arc: the mark of work whose length nobody knows. It turns
// only while shown.
class BusySpinner : public QWidget
{
    Q_OBJECT

public:
    // scale enlarges it from its usual size, line width and all.
    explicit BusySpinner(QWidget *parent = nullptr, qreal scale = 1.0);

protected:
    void showEvent(QShowEvent *event) override;
    void hideEvent(QHideEvent *event) override;
    void paintEvent(QPaintEvent *event) override;

private:
    QTimer m_timer;
    int m_angle = 0;
    qreal m_scale = 1.0;
};

} // namespace sendova
