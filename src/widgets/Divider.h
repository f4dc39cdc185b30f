#pragma once

#include <QWidget>

namespace sendova {

// A one-pixel horizontal hairline in the palette's text colour, faint enough
// to separate without drawing the eye.
class Divider : public QWidget
{
    Q_OBJECT

public:
    explicit Divider(QWidget *parent = nullptr);

protected:
    void paintEvent(QPaintEvent *event) override;
};

} // namespace sendova
