#include "widgets/SecureField.h"

#include "widgets/Symbols.h"
#include "widgets/TextStyle.h"

#include <QAction>
#include <QEvent>

namespace sendova {

SecureField::SecureField(QWidget *parent) : QLineEdit(parent)
{
    setEchoMode(QLineEdit::Password);
    // The style's default mask is a large circle that crowds the field; the
    // bullet of text fields everywhere else reads better.
    setStyleSheet(QStringLiteral("QLineEdit { lineedit-password-character: 8226; }"));
    m_reveal = addAction(QIcon(), QLineEdit::TrailingPosition);
    connect(m_reveal, &QAction::triggered, this, [this] { setRevealed(!isRevealed()); });
    renderReveal();
}

void SecureField::setRevealed(bool revealed)
{
    if (revealed == isRevealed())
        return;
    setEchoMode(revealed ? QLineEdit::Normal : QLineEdit::Password);
    // The password mode's hints, kept while the text is in clear.
    setInputMethodHints(Qt::ImhSensitiveData | Qt::ImhNoPredictiveText | Qt::ImhNoAutoUppercase |
                        (revealed ? Qt::ImhNone : Qt::ImhHiddenText));
    renderReveal();
    Q_EMIT revealedChanged(revealed);
}

void SecureField::setRevealTexts(const QString &show, const QString &hide)
{
    m_showText = show;
    m_hideText = hide;
    renderReveal();
}

void SecureField::renderReveal()
{
    const bool revealed = isRevealed();
    m_reveal->setIcon(symbolIcon(revealed ? Symbol::eyeSlash : Symbol::eye, secondaryColor(palette()), 16,
                                 devicePixelRatioF()));
    m_reveal->setToolTip(revealed ? m_hideText : m_showText);
    m_reveal->setText(m_reveal->toolTip());
}

void SecureField::changeEvent(QEvent *event)
{
    if (event->type() == QEvent::PaletteChange && m_reveal)
        renderReveal();
    QLineEdit::changeEvent(event);
}

} // namespace sendova
