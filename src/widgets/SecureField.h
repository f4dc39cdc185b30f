#pragma once

#include <QLineEdit>

class QAction;

namespace sendova {

// A masked line edit with an eye in its trailing corner that shows the text
// in clear and masks it again. Nothing typed here is offered to an input
// method's prediction or memory, shown or not.
class SecureField : public QLineEdit
{
    Q_OBJECT

public:
    explicit SecureField(QWidget *parent = nullptr);

    bool isRevealed() const { return echoMode() == QLineEdit::Normal; }
    void setRevealed(bool revealed);
    // The eye; its tooltip says what a click does.
    QAction *revealAction() const { return m_reveal; }
    // The tooltips for the two states, in the language of the moment.
    void setRevealTexts(const QString &show, const QString &hide);

Q_SIGNALS:
    void revealedChanged(bool revealed);

protected:
    void changeEvent(QEvent *event) override;

private:
    void renderReveal();

    QAction *m_reveal = nullptr;
    QString m_showText;
    QString m_hideText;
};

} // namespace sendova
