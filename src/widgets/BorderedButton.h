#pragma once

#include <QPushButton>

namespace sendova {

// A push button whose text keeps some air on both sides: styles leave a long
// label only a few pixels from the border.
class BorderedButton : public QPushButton
{
    Q_OBJECT

public:
    static constexpr int textPadding = 14;

    explicit BorderedButton(QWidget *parent = nullptr);

    QSize sizeHint() const override;
};

} // namespace sendova
