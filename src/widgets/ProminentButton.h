#pragma once

#include "widgets/BorderedButton.h"

namespace sendova {

// The one button that does what a view is there for: filled with the accent
// colour, its text in the colour made for it. Painted here because styles
// disagree on default buttons (Fusion lightens the fill until white text no
// longer reads on it).
class ProminentButton : public BorderedButton
{
    Q_OBJECT

public:
    explicit ProminentButton(QWidget *parent = nullptr);

    // Return and Enter press it while view is shown in the active window,
    // wherever the focus is, as its colour promises.
    void answerReturnIn(QWidget *view);

protected:
    void paintEvent(QPaintEvent *event) override;
};

} // namespace sendova
