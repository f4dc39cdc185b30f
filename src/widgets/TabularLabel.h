#pragma once

#include <QLabel>

namespace sendova {

// A one-line label whose digits all take the width of the widest one, so a
// number that changes many times a second (a percentage, a speed) does not
// make its neighbours jitter. Fonts with proportional digits are common on
// the desktop, and Qt 6.4 cannot ask a font for its tabular figures.
class TabularLabel : public QLabel
{
    Q_OBJECT

public:
    using QLabel::QLabel;

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override { return sizeHint(); }

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    qreal advance(QChar character) const;
    qreal width(const QString &text) const;
};

} // namespace sendova
