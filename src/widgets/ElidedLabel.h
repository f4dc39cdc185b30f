#pragma once

#include <QLabel>

namespace sendova {

// One line of text that is cut with an ellipsis when it does not fit, so a
// long file name or link never pushes a layout around. The whole text stays
// in the tooltip.
class ElidedLabel : public QLabel
{
    Q_OBJECT

public:
    explicit ElidedLabel(QWidget *parent = nullptr, Qt::TextElideMode mode = Qt::ElideRight);

    void setFullText(const QString &text);
    QString fullText() const { return m_fullText; }
    // What the last paint showed.
    QString shownText() const;

    QSize minimumSizeHint() const override;
    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    QString m_fullText;
    Qt::TextElideMode m_mode;
};

} // namespace sendova
