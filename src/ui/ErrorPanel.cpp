#include "ui/ErrorPanel.h"

#include "ui/Localized.h"
#include "widgets/ProminentButton.h"
#include "widgets/Symbols.h"
#include "widgets/TextStyle.h"
#include "widgets/WrappedMessage.h"

#include <QEvent>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

namespace sendova {

namespace {

constexpr int margin = 16;
constexpr int symbolSize = 40;
// A server may say a great deal; the panel shows this much and the tooltip
// the rest.
constexpr int messageLines = 6;

} // namespace

ErrorPanel::ErrorPanel(QWidget *parent) : QWidget(parent)
{
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(margin, margin + 8, margin, margin + 8);
    layout->setSpacing(8);
    m_icon = new QLabel(this);
    m_icon->setObjectName(QStringLiteral("errorSymbol"));
    layout->addWidget(m_icon, 0, Qt::AlignHCenter);
    layout->addSpacing(4);
    m_title = makeLabel(this, TextStyle::headline, false);
    m_title->setAlignment(Qt::AlignCenter);
    layout->addWidget(m_title);
    m_message = new WrappedMessage(this);
    m_message->setFont(fontFor(font(), TextStyle::caption));
    m_message->setMaximumLines(messageLines);
    setSecondary(m_message);
    layout->addWidget(m_message);
    layout->addSpacing(8);

    auto *buttons = new QHBoxLayout;
    buttons->setSpacing(8);
    auto *tryAgain = new ProminentButton(this);
    tryAgain->answerReturnIn(this);
    m_tryAgain = tryAgain;
    m_report = new QPushButton(this);
    m_report->setAutoDefault(false);
    buttons->addStretch(1);
    buttons->addWidget(m_tryAgain);
    buttons->addWidget(m_report);
    buttons->addStretch(1);
    layout->addLayout(buttons);
    layout->addStretch(1);
    connect(m_tryAgain, &QPushButton::clicked, this, [this] {
        if (m_onTryAgain)
            m_onTryAgain();
    });
    connect(m_report, &QPushButton::clicked, this, [this] {
        if (m_onReportError)
            m_onReportError();
    });

    connect(&LocalizationService::shared(), &LocalizationService::currentLanguageChanged, this,
            &ErrorPanel::render);
    renderSymbols();
    render();
    // Only the report button carries a symbol; the pair stays one height.
    const int height = std::max(m_tryAgain->sizeHint().height(), m_report->sizeHint().height());
    m_tryAgain->setFixedHeight(height);
    m_report->setFixedHeight(height);
}

void ErrorPanel::setMessage(const QString &message)
{
    m_message->setMessage(message);
}

QString ErrorPanel::message() const
{
    return m_message->message();
}

void ErrorPanel::render()
{
    m_title->setText(ui::text("menu.error"));
    m_tryAgain->setText(ui::text("menu.try_again"));
    m_report->setText(ui::text("menu.report_error"));
}

void ErrorPanel::renderSymbols()
{
    m_icon->setPixmap(symbolPixmap(Symbol::warning, symbolSize, failureRed(palette()), devicePixelRatioF()));
    m_report->setIcon(
        symbolIcon(Symbol::envelope, palette().color(QPalette::ButtonText), 16, devicePixelRatioF()));
}

void ErrorPanel::changeEvent(QEvent *event)
{
    // Built widgets only: a palette can arrive while the constructor runs.
    if (event->type() == QEvent::PaletteChange && m_icon)
        renderSymbols();
    QWidget::changeEvent(event);
}

} // namespace sendova
