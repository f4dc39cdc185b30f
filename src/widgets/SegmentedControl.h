#pragma once

#include <QAbstractButton>
#include <QButtonGroup>
#include <QWidget>

class QHBoxLayout;

namespace sendova {

// A few mutually exclusive choices drawn as one control: the chosen one
// raised on a quiet track, all of equal width. Each segment is a button of
// its own, so focus, the arrow keys, clicks and accessibility work as they
// do for radio buttons.
class SegmentedControl : public QWidget
{
    Q_OBJECT

public:
    explicit SegmentedControl(QWidget *parent = nullptr);

    // Adds the segments or renames them; the choice stays where it was.
    void setSegments(const QStringList &titles);
    int count() const;
    QAbstractButton *segment(int index) const;
    int currentIndex() const;
    // Announces nothing: only a choice of the user's is an activation.
    void setCurrentIndex(int index);

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override { return sizeHint(); }

Q_SIGNALS:
    // The user chose the segment at index.
    void activated(int index);

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    QButtonGroup m_group;
    QHBoxLayout *m_row = nullptr;
};

} // namespace sendova
