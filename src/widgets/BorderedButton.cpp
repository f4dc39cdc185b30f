#include "widgets/BorderedButton.h"

#include <algorithm>

namespace sendova {

BorderedButton::BorderedButton(QWidget *parent) : QPushButton(parent)
{
    setAutoDefault(false);
}

QSize BorderedButton::sizeHint() const
{
    const QSize styled = QPushButton::sizeHint();
    const int padded = fontMetrics().horizontalAdvance(text()) + 2 * textPadding;
    return {std::max(styled.width(), padded), styled.height()};
}

} // namespace sendova
